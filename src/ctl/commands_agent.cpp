// rmx7ctl --agent mqtt[s]://BROKER/PREFIX/NAME COMMAND: the command run by the agent that
// holds the line, through the plant's broker, printed as it prints on a port. The agent's
// verbs run the same steps and answer with the object rmx7ctl --json prints; this side
// turns that answer back into the command's output and exit code, and writes the files
// the command names here, on the engineer's computer.
#include "commands.h"

#include "gui.h"
#include "parameters.h"
#include "plant/audit.h"
#include "plant/plant_link.h"
#include "plant/verbs.h"
#include "platform/files/textfile.h"
#include "platform/json/json.h"
#include "platform/panel/events.h"
#include "platform/report/fingerprint.h"
#include "platform/text.h"

#include <cstdio>
#include <cstring>
#include <optional>

namespace ctl {

namespace {

// How long the connection has to come up and the broker to send what it retains.
constexpr double kConnectSeconds = 2.0;
// How often the link's time-outs are looked at while the answer is awaited.
constexpr double kTickSeconds = 0.1;

void Member(std::string &members, const std::string &key, const std::string &json) {
    members += (members.empty() ? "" : ",") + JsonString(key) + ":" + json;
}

// The request's members for the command as the command line gives it; the refusal of what
// only a port allows.
Outcome RequestOf(const Options &options, std::string &members) {
    const std::string &command = options.command;
    if (command == "get" || command == "send")
        Member(members, "memory", JsonString(options.operands[0]));
    if (command == "capture")
        Member(members, "source", JsonString(options.operands[0]));
    if (command == "report") {
        Member(
            members, "operator",
            JsonString(options.operatorName.empty() ? audit::LoginName() : options.operatorName));
        if (!options.note.empty())
            Member(members, "note", JsonString(options.note));
        if (!options.capture.empty())
            Member(members, "capture", JsonString(options.capture));
        if (!options.unitId.empty())
            Member(members, "unit_id", JsonString(options.unitId));
        if (!options.station.empty())
            Member(members, "station", JsonString(options.station));
    }
    if (command == "send") {
        std::string set;
        for (const std::string &setting : options.sets) {
            const std::size_t equals = setting.find('=');
            const std::string value = equals == std::string::npos ? "" : setting.substr(equals + 1);
            if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos ||
                value.size() > 5)
                return {status::Result::Refused, "--set wants NAME=VALUE, not '" + setting + "'"};
            Member(set, setting.substr(0, equals), value);
        }
        if (options.operands.size() > 1) {
            const gui::ParameterFileRead read = gui::ReadParameterFile(options.operands[1]);
            if (!read.outcome.ok())
                return {status::Result::FileFailed,
                        read.outcome.detail + " - refused, nothing sent"};
            if (!set.empty())
                return {status::Result::Refused,
                        "through an agent, send takes a FILE or --set, not both"};
            std::vector<std::string> words;
            for (const std::uint16_t word : read.words)
                words.push_back(std::to_string(word));
            Member(members, "words", JsonArray(words));
        } else if (set.empty() && options.from.empty()) {
            return {status::Result::Refused, "send wants a FILE, --set NAME=VALUE or --from"};
        } else {
            if (!options.from.empty())
                Member(members, "from", JsonString(options.from));
            if (!set.empty())
                Member(members, "set", "{" + set + "}");
        }
    }
    if (command == "diff" && !options.operands.empty())
        return {status::Result::Refused,
                "through an agent, diff compares RAM, EEPROM and the approved set; "
                "a FILE is compared on a port only"};
    if (command == "capture" && !options.output.empty() && !HasExtension(options.output, ".csv"))
        return {status::Result::Refused,
                "through an agent, capture -o writes the CSV; a picture of the graph "
                "is drawn on a port only"};
    if (command == "get" && !options.output.empty())
        return {status::Result::Refused,
                "through an agent, get prints the set; save it as a parameter file "
                "on a port, or from the panel"};
    return {};
}

const json::Value *Find(const json::Value &value, const char *key) {
    return value.Find(key);
}

com232::Words WordsOf(const json::Value *object) {
    com232::Words words{};
    if (!object || !object->IsObject())
        return words;
    for (int i = 0; i < com232::PNUM; ++i)
        if (const json::Value *word = object->Find(parameters::kTable[i].name); word)
            words[i] = static_cast<std::uint16_t>(word->number);
    return words;
}

std::string TextOf(const json::Value *value) {
    return value && value->IsString() ? value->text : std::string();
}

// The CSV of a capture's answer: its columns, then its rows.
std::string CsvOf(const json::Value &answer) {
    std::string csv;
    const json::Value *columns = Find(answer, "columns"), *rows = Find(answer, "rows");
    if (!columns || !rows)
        return csv;
    for (std::size_t i = 0; i < columns->items.size(); ++i)
        csv += (i == 0 ? "" : ",") + columns->items[i].text;
    csv += "\n";
    for (const json::Value &row : rows->items) {
        for (std::size_t i = 0; i < row.items.size(); ++i)
            csv += (i == 0 ? "" : ",") + JsonText(row.items[i]);
        csv += "\n";
    }
    return csv;
}

// What the command prints without --json, from the agent's answer.
std::string TextOfAnswer(const Options &options, const json::Value &answer) {
    const std::string &command = options.command;
    if (command == "info")
        return "variant   " + JsonText(*Find(answer, "variant")) + "\nfirmware  " +
               PrintableText(TextOf(Find(answer, "firmware"))) + "\n" +
               WordTable(WordsOf(Find(answer, "parameters")));
    if (command == "get" || command == "reset" ||
        (command == "teach" && Find(answer, "parameters") &&
         Find(answer, "parameters")->IsObject()))
        return WordTable(WordsOf(Find(answer, "parameters")));
    if (command == "send") {
        std::string text = WordTable(WordsOf(Find(answer, "sent")));
        if (const json::Value *differences = Find(answer, "differences"))
            for (const json::Value &d : differences->items)
                text += "differs " + JsonText(*d.Find("word")) + " " + TextOf(d.Find("name")) +
                        " sent " + JsonText(*d.Find("sent")) + " read " +
                        JsonText(*d.Find("read")) + "\n";
        return text;
    }
    if (command == "diff") {
        std::optional<plant::ApprovedSet> approved;
        if (const json::Value *set = Find(answer, "approved"); set && set->IsObject()) {
            approved.emplace();
            approved->words = WordsOf(set->Find("words"));
        }
        return plant::CompareSets(WordsOf(Find(answer, "ram")), WordsOf(Find(answer, "eeprom")), {},
                                  &approved)
            .table;
    }
    if (command == "capture")
        return options.output.empty() ? CsvOf(answer) : std::string();
    if (command == "report")
        return "report       " + options.output + "\nfingerprint  " +
               TextOf(Find(answer, "fingerprint")) + "\n";
    return {};
}

// The files the command writes here: a report's PDF, checked against its SHA-256, and a
// capture's CSV.
Outcome WriteFiles(const Options &options, const json::Value &answer) {
    std::string bytes;
    if (options.command == "report") {
        if (!json::DecodeBase64(TextOf(Find(answer, "pdf")), bytes) ||
            Sha256Hex(bytes) != TextOf(Find(answer, "sha256")))
            return {status::Result::FileFailed,
                    "the report came damaged: its SHA-256 is not the one the agent "
                    "gave; nothing written"};
    } else if (options.command == "capture" && !options.output.empty()) {
        bytes = CsvOf(answer);
    } else {
        return {};
    }
    if (const int written = ReplaceTextFile(options.output.c_str(), bytes); written != 0)
        return {status::Result::FileFailed,
                options.output + " cannot be written: " + std::strerror(-written)};
    return {};
}

// The status text as it reads here: a report is saved in the file written here, not in
// the agent's.
std::string StatusHere(const Options &options, const plant::LineResult &result) {
    return options.command == "report" && result.ok() ? status::ReportSaved(options.output)
                                                      : result.status;
}

// In text, the member key whose value is was, given the value now.
void ReplaceMember(std::string &text, const std::string &key, const std::string &was,
                   const std::string &now) {
    const std::string member = JsonString(key) + ": " + JsonString(was);
    if (const std::size_t at = text.find(member); at != std::string::npos)
        text.replace(at, member.size(), JsonString(key) + ": " + JsonString(now));
}

// The answer as rmx7ctl --json prints it on a port: the agent's own members at its end
// (line, id, a report's PDF) cut off, the file as written here. outcome: how the command
// ended here, when a file could not be written after the agent's step went well.
std::string JsonOfAnswer(const Options &options, const plant::LineResult &result,
                         const Outcome &outcome) {
    std::string text         = result.payload;
    const std::size_t agents = text.rfind(", \"line\": ");
    if (agents == std::string::npos)
        return JsonText(result.response, {"line", "id", "pdf", "sha256"});
    text = text.substr(0, agents) + "}";
    if (const json::Value *file = Find(result.response, "file"); file && file->IsString())
        ReplaceMember(text, "file", file->text, options.output);
    if (outcome.ok())
        ReplaceMember(text, "status", result.status, StatusHere(options, result));
    if (result.ok() && !outcome.ok()) {
        const std::size_t tail = text.rfind(", \"exit_code\": ");
        text = text.substr(0, tail) + ", \"exit_code\": " + std::to_string(outcome.exitCode) +
               ", \"result_code\": \"FileFailed\", \"status\": " + JsonString(result.status) +
               ", \"error\": " + JsonString(outcome.error) + "}";
    }
    return text;
}

// The result an agent's answer names; no answer is the line's silence.
status::Result ResultOf(const plant::LineResult &result) {
    using status::Result;
    for (const Result each : {Result::Ok, Result::PortFailed, Result::NoReply, Result::BadReply,
                              Result::WriteFailed, Result::FileFailed, Result::Differs})
        if (result.resultCode == plant::ResultCodeName(plant::ResultCodeOf(each)))
            return each;
    return result.answered ? Result::Refused : Result::NoReply;
}

// What the broker knows of the agent: none there, or one that is offline, is not asked.
Outcome Reachable(const plant::Link &link, const plant::Model &model, const AgentAddress &agent) {
    if (link.BrokerState() != mqtt::State::Connected)
        return {status::Result::NoReply,
                "no connection to the broker at " + agent.broker + " within 2 s" +
                    (link.LastError().empty() ? "" : ": " + link.LastError())};
    const plant::Row *row = model.Find(agent.name);
    if (link.RetainedComplete() && (!row || !row->hasStatus))
        return {status::Result::NoReply, "no agent of " + agent.name + " under " + agent.prefix +
                                             " on " + agent.broker +
                                             " (rmx7ctl plant status lists the lines)"};
    if (row && row->status == plant::Status::Offline)
        return {status::Result::NoReply,
                "the agent of " + agent.name + " is offline" +
                    (row->statusText.empty() ? "" : " (" + row->statusText + ")")};
    return {};
}

// Processes events until done() or the clock passes until.
template <typename Done> void PumpUntil(double until, Done done) {
    while (!done() && Timer() < until)
        ProcessSystemEvents();
}

} // namespace

void RunThroughAgent(Session &session, const Options &options, Report &report) {
    report.printed = true;
    std::string error, members;
    const std::optional<AgentAddress> agent = ParseAgent(options.agent, error);
    report.outcome = agent ? RequestOf(options, members) : Outcome{status::Result::Refused, error};
    std::optional<plant::LineResult> result;
    if (report.outcome.ok()) {
        publish::Settings settings =
            plant::ReaderSettings(options.shared.publisher, options.shared.publishing);
        settings.broker = agent->broker;
        settings.prefix = agent->prefix;
        plant::Model model(agent->prefix);
        plant::Link link(model);
        link.SetOperator(options.operatorName.empty() ? audit::LoginName() : options.operatorName);
        link.SetEvents({{}, [&](const plant::LineResult &took) { result = took; }, {}});
        if (!link.Start(settings, error, false)) {
            report.outcome = {status::Result::Refused, error};
        } else {
            PumpUntil(Timer() + kConnectSeconds, [&] { return link.RetainedComplete(); });
            report.outcome = Reachable(link, model, *agent);
        }
        if (report.outcome.ok()) {
            link.Send(agent->name, options.command, members);
            while (!result) {
                PumpUntil(Timer() + kTickSeconds, [&] { return result.has_value(); });
                link.Tick();
            }
        }
    }
    if (result && result->answered && result->ok())
        report.outcome = WriteFiles(options, result->response);
    if (result && report.outcome.ok() && !result->ok())
        report.outcome = {ResultOf(*result), result->error};
    if (result && !result->status.empty())
        session.OnStatus(
            (report.outcome.ok() ? StatusHere(options, *result) : result->status).c_str());
    if (options.json) {
        std::printf(
            "%s\n",
            result && result->answered
                ? JsonOfAnswer(options, *result, report.outcome).c_str()
                : ("{\"command\": " + JsonString(options.command) + ", \"exit_code\": " +
                   std::to_string(report.outcome.exitCode) + ", \"result_code\": " +
                   JsonString(plant::ResultCodeName(plant::ResultCodeOf(report.outcome.result))) +
                   ", \"status\": null, \"error\": " + JsonString(report.outcome.error) + "}")
                      .c_str());
    } else if (result && result->answered) {
        std::fputs(TextOfAnswer(options, result->response).c_str(), stdout);
    }
    std::fflush(stdout);
    if (!report.outcome.ok())
        std::fprintf(stderr, "rmx7ctl: %s\n", report.outcome.error.c_str());
}

} // namespace ctl
