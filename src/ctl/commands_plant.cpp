// rmx7ctl plant: the plant from its broker alone, for scripts. status reads the lines'
// retained topics; diff, restore, store and report are commands to the lines' agents;
// forget clears an offline line's retained topics. Each line has its own result and exit
// code; the tool exits with the highest.
#include "commands.h"

#include "plant/audit.h"
#include "plant/plant_link.h"
#include "plant/plant_report.h"
#include "plant/plant_view.h"
#include "platform/files/project_dir.h"
#include "platform/panel/events.h"
#include "platform/panel/panel.h"

#include <algorithm>
#include <cstdio>
#include <fnmatch.h>
#include <map>

namespace ctl {

namespace {

using plant::Action;
using plant::Row;

// The broker has this long to send what it retains; status waits for nothing else.
constexpr double kRetainedSeconds = 2.0;
// Every command ends within its 5 s; this is only the bound of the loop that waits.
constexpr double kCommandsSeconds = plant::kAnswerSeconds + 1.0;

// One line's part of the output.
struct LineOut {
    std::string line;
    int exitCode = kExitOk;
    std::vector<std::string> columns; // the table's, after the line's name
    JsonObject json;
};

const std::map<std::string, Action> kActions = {{"diff", Action::Read},
                                                {"restore", Action::Restore},
                                                {"store", Action::Store},
                                                {"report", Action::Report},
                                                {"forget", Action::Forget}};

std::vector<std::string> Patterns(const std::string &lines) {
    std::vector<std::string> patterns;
    std::size_t start = 0;
    for (std::size_t comma; start <= lines.size(); start = comma + 1) {
        comma = lines.find(',', start);
        if (comma == std::string::npos)
            comma = lines.size();
        if (comma > start)
            patterns.push_back(lines.substr(start, comma - start));
    }
    return patterns;
}

// The lines --lines names, in name order; a pattern that names none is a line of its own
// in the output, refused.
std::vector<const Row *> Select(const plant::Model &model, const std::string &lines,
                                const std::string &verb, std::vector<LineOut> &unknown) {
    std::vector<const Row *> rows;
    for (const auto &[name, row] : model.Rows())
        rows.push_back(&row);
    std::sort(rows.begin(), rows.end(),
              [](const Row *a, const Row *b) { return plant::NaturalLess(a->name, b->name); });
    if (lines.empty())
        return rows;
    const std::vector<std::string> patterns = Patterns(lines);
    std::vector<const Row *> chosen;
    for (const Row *row : rows)
        if (std::any_of(patterns.begin(), patterns.end(), [&](const std::string &pattern) {
                return fnmatch(pattern.c_str(), row->name.c_str(), 0) == 0;
            }))
            chosen.push_back(row);
    for (const std::string &pattern : patterns)
        if (std::none_of(rows.begin(), rows.end(), [&](const Row *row) {
                return fnmatch(pattern.c_str(), row->name.c_str(), 0) == 0;
            })) {
            const std::string why = "no line of that name under " + model.Prefix() + "/";
            LineOut out;
            out.line     = pattern;
            out.exitCode = kExitUsage;
            out.columns  = verb == "status" ? std::vector<std::string>{why}
                                            : std::vector<std::string>{verb, why};
            out.json.Add("line", JsonString(pattern));
            out.json.Add("error", JsonString(why));
            unknown.push_back(std::move(out));
        }
    return chosen;
}

const char *StatusWord(plant::Status status) {
    switch (status) {
    case plant::Status::Online:
        return "online";
    case plant::Status::NoController:
        return "no-controller";
    case plant::Status::Offline:
        return "offline";
    case plant::Status::Unknown:
        break;
    }
    return "unknown";
}

const char *MatchWord(const Row &row) {
    if (!row.hasParameters)
        return nullptr;
    switch (row.parameters.match) {
    case plant::Match::Equal:
        return "equal";
    case plant::Match::Differs:
        return "differs";
    case plant::Match::NoApproved:
        return "none";
    case plant::Match::Unknown:
        break;
    }
    return "unknown";
}

std::string Time(double time) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", time);
    return text;
}

std::string Text(const std::string &text) {
    return text.empty() ? "null" : JsonString(text);
}

// A line well and equal to its approved set is 0; one that differs 5; one that cannot be
// reached 4, as the commands would end on it.
int StatusExit(const Row &row) {
    if (row.status != plant::Status::Online)
        return kExitLine;
    return row.hasParameters && row.parameters.match == plant::Match::Differs ? kExitDiffers
                                                                              : kExitOk;
}

LineOut StatusOf(const Row &row, double now) {
    LineOut out;
    out.line                     = row.name;
    out.exitCode                 = StatusExit(row);
    const plant::AgentInfo &info = row.info;
    out.columns      = {plant::StatusText(row, now), info.firmware.empty() ? "-" : info.firmware,
                   info.port.empty() ? "-" : info.port + " " + info.device,
                        plant::ApprovedText(row), plant::EventText(row, now)};
    JsonObject &json = out.json;
    json.Add("line", JsonString(row.name));
    json.Add("status", JsonString(StatusWord(row.status)));
    json.Add("status_text", JsonString(row.statusText));
    json.Add("since", row.hasStatus ? Time(row.since) : "null");
    json.Add("since_exact", row.sinceExact ? "true" : "false");
    json.Add("firmware", Text(info.firmware));
    json.Add("port", Text(info.port));
    json.Add("device", Text(info.device));
    json.Add("host", Text(info.host));
    json.Add("instance", Text(row.instance));
    const char *commands[] = {"off", "read", "write"};
    json.Add("commands",
             info.commands ? JsonString(commands[static_cast<int>(*info.commands)]) : "null");
    json.Add("parameter_server", Text(info.parameterServer));
    const char *match = MatchWord(row);
    json.Add("approved", match ? JsonString(match) : "null");
    std::vector<std::string> differs;
    for (const std::string &word : row.parameters.differs)
        differs.push_back(JsonString(word));
    json.Add("differs", JsonArray(differs));
    json.Add("approved_fingerprint", Text(row.parameters.approvedFingerprint));
    json.Add("eeprom_fingerprint", Text(row.parameters.eepromFingerprint));
    if (row.event.empty()) {
        json.Add("last_event", "null");
    } else {
        JsonObject event;
        event.Add("time", Time(row.eventTime));
        event.Add("event", JsonString(row.event));
        event.Add("text", JsonString(row.eventText));
        json.Add("last_event", event.Text());
    }
    return out;
}

// Why a line was not sent a command it does not take: no reach is a line's failure (4),
// anything else the agent would refuse (2).
int RefusalExit(const Row &row) {
    return row.status == plant::Status::Offline || row.status == plant::Status::NoController
               ? kExitLine
               : kExitUsage;
}

LineOut Refused(const Row &row, const std::string &verb, const std::string &why) {
    LineOut out;
    out.line     = row.name;
    out.exitCode = RefusalExit(row);
    out.columns  = {verb, why};
    out.json.Add("line", JsonString(row.name));
    out.json.Add("command", JsonString(verb));
    out.json.Add("answered", "false");
    out.json.Add("error", JsonString(why));
    return out;
}

LineOut Answered(const plant::LineResult &result, const std::string &file) {
    LineOut out;
    out.line         = result.line;
    out.exitCode     = result.exitCode;
    out.columns      = {result.verb, file.empty() ? result.Text() : "saved as " + file};
    JsonObject &json = out.json;
    json.Add("line", JsonString(result.line));
    json.Add("command", JsonString(result.verb));
    json.Add("answered", result.answered ? "true" : "false");
    json.Add("result_code", Text(result.resultCode));
    json.Add("status", Text(result.status));
    json.Add("error", result.ok() ? "null" : JsonString(result.Text()));
    if (result.verb == "report")
        json.Add("file", Text(file));
    json.Add("response", result.answered && result.response.IsObject()
                             ? JsonText(result.response, {"pdf"})
                             : "null");
    return out;
}

std::string Table(const std::vector<std::string> &headers, const std::vector<LineOut> &lines) {
    std::vector<std::size_t> widths;
    for (const std::string &header : headers)
        widths.push_back(header.size());
    const auto widen = [&](std::size_t column, const std::string &text) {
        widths[column] = std::max(widths[column], text.size());
    };
    for (const LineOut &line : lines) {
        widen(0, line.line);
        for (std::size_t i = 0; i < line.columns.size() && i + 1 < widths.size(); ++i)
            widen(i + 1, line.columns[i]);
    }
    const auto row = [&](const std::vector<std::string> &cells) {
        std::string text;
        for (std::size_t i = 0; i < cells.size(); ++i)
            text += i + 1 == cells.size()
                        ? cells[i]
                        : cells[i] + std::string(widths[i] - cells[i].size() + 2, ' ');
        return text + "\n";
    };
    std::string text = row(headers);
    for (const LineOut &line : lines) {
        std::vector<std::string> cells = {line.line};
        cells.insert(cells.end(), line.columns.begin(), line.columns.end());
        cells.resize(headers.size() - 1);
        cells.push_back(std::to_string(line.exitCode));
        text += row(cells);
    }
    return text;
}

// Processes events until done() or the clock passes until.
template <typename Done> void PumpUntil(double until, Done done) {
    while (!done() && Timer() < until)
        ProcessSystemEvents();
}

class PlantRun {
  public:
    PlantRun(const Session &session, const Options &options)
        : session_(session), options_(options), verb_(options.operands[0]),
          model_(options.shared.publisher.prefix), link_(model_) {}

    // Prints the result; the exit code and what failed of the run as a whole.
    Outcome Run();

  private:
    bool Connect();
    void Status();
    void Command(Action action);
    void Took(const plant::LineResult &result);
    int Print() const;

    const Session &session_;
    const Options &options_;
    std::string verb_;
    plant::Model model_;
    plant::Link link_;
    std::vector<LineOut> lines_;
    std::map<std::string, std::size_t> awaited_; // line: its place in lines_
    std::string error_;                          // the run as a whole failed
    int exitCode_ = kExitOk;
};

bool PlantRun::Connect() {
    std::string error;
    const publish::Settings settings =
        plant::ReaderSettings(options_.shared.publisher, options_.shared.publishing);
    link_.SetOperator(options_.operatorName.empty() ? audit::LoginName() : options_.operatorName);
    link_.SetEvents({{}, [this](const plant::LineResult &result) { Took(result); }, {}});
    if (!link_.Start(settings, error, false)) {
        error_    = error;
        exitCode_ = kExitUsage;
        return false;
    }
    PumpUntil(Timer() + kRetainedSeconds, [&] { return link_.RetainedComplete(); });
    if (link_.BrokerState() != mqtt::State::Connected) {
        error_ = "no connection to the broker at " + settings.broker + " within 2 s" +
                 (link_.LastError().empty() ? "" : ": " + link_.LastError());
        exitCode_ = kExitLine;
        return false;
    }
    if (!link_.RetainedComplete())
        session_.Note("the broker did not say within 2 s that it sent all it retains: lines may be "
                      "missing");
    return true;
}

void PlantRun::Status() {
    const double now = publish::UnixNow();
    for (const Row *row : Select(model_, options_.linePatterns, verb_, lines_))
        lines_.push_back(StatusOf(*row, now));
}

void PlantRun::Command(Action action) {
    const double now = publish::UnixNow();
    std::string members;
    if (action == Action::Report) {
        const std::string name =
            options_.operatorName.empty() ? audit::LoginName() : options_.operatorName;
        members = "\"operator\":" + JsonString(name);
        if (!options_.note.empty())
            members += ",\"note\":" + JsonString(options_.note);
        if (!options_.capture.empty())
            members += ",\"capture\":" + JsonString(options_.capture);
    }
    for (const Row *row : Select(model_, options_.linePatterns, verb_, lines_)) {
        if (const plant::Allowed allowed = plant::Allows(*row, action, now); !allowed.ok) {
            lines_.push_back(Refused(*row, verb_, allowed.why));
            continue;
        }
        awaited_[row->name] = lines_.size();
        LineOut waiting;
        waiting.line = row->name;
        lines_.push_back(std::move(waiting));
        if (action == Action::Forget) {
            Session::Warn("forgetting " + row->name + ": " + plant::StatusText(*row, now) +
                          (row->info.host.empty() ? "" : ", host " + row->info.host));
            link_.Forget(row->name);
        } else {
            link_.Send(row->name, plant::VerbOf(action), members);
        }
    }
    PumpUntil(Timer() + kCommandsSeconds, [&] {
        link_.Tick();
        return link_.Waiting() == 0;
    });
}

void PlantRun::Took(const plant::LineResult &result) {
    const auto awaited = awaited_.find(result.line);
    if (awaited == awaited_.end())
        return;
    std::string file;
    plant::LineResult taken = result;
    if (result.verb == "report" && result.ok()) {
        const plant::SavedReport saved =
            plant::SaveReport(result, options_.output, publish::UnixNow());
        file = saved.path;
        if (saved.exitCode != kExitOk) {
            taken.exitCode = saved.exitCode;
            taken.error    = saved.error;
            taken.status.clear();
            taken.answered = false;
        }
    }
    lines_[awaited->second] = Answered(taken, file);
    awaited_.erase(awaited);
}

int PlantRun::Print() const {
    int exitCode = exitCode_;
    for (const LineOut &line : lines_)
        exitCode = std::max(exitCode, line.exitCode);
    const bool status = verb_ == "status";
    if (options_.json) {
        JsonObject json;
        json.Add("command", JsonString("plant"));
        json.Add("verb", JsonString(verb_));
        json.Add("broker", JsonString(options_.shared.publisher.broker));
        json.Add("topic", JsonString(model_.Prefix()));
        std::vector<std::string> lines;
        for (const LineOut &line : lines_) {
            JsonObject one = line.json;
            one.Add("exit_code", std::to_string(line.exitCode));
            one.Add("meaning", JsonString(status::ExitCodeMeaning(line.exitCode)));
            lines.push_back(one.Text());
        }
        json.Add("lines", JsonArray(lines));
        if (status)
            json.Add("summary", JsonString(plant::Summary(model_.Rows())));
        json.Add("exit_code", std::to_string(exitCode));
        json.Add("status", "null");
        json.Add("error", error_.empty() ? "null" : JsonString(error_));
        std::printf("%s\n", json.Text().c_str());
    } else if (error_.empty()) {
        const std::vector<std::string> headers =
            status ? std::vector<std::string>{"LINE",         "STATUS",     "FIRMWARE", "PORT",
                                              "APPROVED SET", "LAST EVENT", "EXIT"}
                   : std::vector<std::string>{"LINE", "COMMAND", "RESULT", "EXIT"};
        std::fputs(Table(headers, lines_).c_str(), stdout);
        if (status)
            std::printf("%s\n", plant::Summary(model_.Rows()).c_str());
    }
    std::fflush(stdout);
    if (!error_.empty())
        std::fprintf(stderr, "rmx7ctl: %s\n", error_.c_str());
    return exitCode;
}

Outcome PlantRun::Run() {
    // The folder first: no agent makes a report that could not be kept.
    if (verb_ == "report" && !DirectoryWritable(options_.output.c_str())) {
        error_    = "-o " + options_.output + ": not a folder the reports can be written into";
        exitCode_ = kExitFile;
    } else if (Connect()) {
        if (verb_ == "status")
            Status();
        else
            Command(kActions.at(verb_));
    }
    Outcome outcome;
    // The lines' results are printed already, each with its own; the run exits with the
    // highest of their exit codes.
    outcome.exitCode = Print();
    outcome.error    = error_;
    link_.Stop();
    return outcome;
}

} // namespace

void RunPlant(Session &session, const Options &options, Report &report) {
    PlantRun run(session, options);
    report.outcome = run.Run();
    report.printed = true;
}

} // namespace ctl
