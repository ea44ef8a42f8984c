// The port table, the live values of one line or several, and the data curve.
#include "commands.h"

#include "app.h"
#include "com232.h"
#include "exports.h"
#include "gui.h"
#include "lines.h"
#include "platform/files/textfile.h"
#include "platform/panel/events.h"
#include "platform/panel/panel.h"
#include "platform/serial/ports.h"
#include "platform/serial/serial.h"
#include "publish.h"
#include "record.h"
#include "ui.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace ctl {

namespace {

// One line's part of live.
struct LiveLine {
    ServedLine served;
    long rows       = 0;
    bool stopped    = false;
    bool ended      = false;
    double runStart = 0;
    std::chrono::system_clock::time_point runStartUtc; // the same on the calendar
    std::string endedBy = "timeout";
    status::Outcome outcome;
};

// live: the rows of every line in one stream, until each line's run ended.
class Live {
  public:
    Live(const Options &options, std::vector<ServedLine> lines)
        : options_(options), several_(!options.lines.empty()),
          format_(options.format.empty() ? "csv" : options.format) {
        for (ServedLine &line : lines)
            lines_.push_back(LiveLine{std::move(line), 0, false, false, 0, {}, "timeout", {}});
    }

    // The JSON object's head, or the CSV's column line; one line's CSV head comes with its
    // first row instead (OneLineCsvHead). True when it went out.
    bool Head() {
        if (options_.json) {
            JsonObject head = JsonHead(options_);
            head.Add("columns", ColumnsJson());
            std::fputs(("{" + head.Members() + ", \"rows\": [").c_str(), stdout);
        } else if (format_ == "csv" && several_) {
            std::fputs(ColumnLine().c_str(), stdout);
        }
        std::fflush(stdout);
        return true;
    }

    // Every line's start-up and run, side by side; returns when each has ended.
    void Run(Report &report) {
        start_   = Timer();
        report_  = &report;
        running_ = static_cast<int>(lines_.size());
        if (several_)
            report.streamed = Head();
        for (LiveLine &line : lines_) {
            com232::LiveListener listener;
            listener.runStarted = [&line](double now) {
                line.runStart    = now;
                line.runStartUtc = std::chrono::system_clock::now();
            };
            listener.reply = [this, &line](const com232::LiveReply &reply, double now) {
                OnReply(line, reply, now);
            };
            line.served.line->AddLiveListener(std::move(listener));
            line.served.line->Queue(RunLine(line));
        }
        CallOnInterrupt([this] {
            for (LiveLine &line : lines_)
                Stop(line, "interrupt", true);
        });
        if (running_ > 0)
            RunUserInterface();
        CallOnInterrupt(nullptr);
    }

    void Tail(Report &report) {
        if (!several_ && !lines_.front().outcome.ok() && !report.streamed) {
            report.outcome = setUp_;
            return;
        }
        if (options_.json)
            std::fputs("]", stdout);
        long rows = 0;
        std::vector<std::string> each;
        for (const LiveLine &line : lines_) {
            rows += line.rows;
            const Outcome outcome =
                line.stopped ? Outcome{} : SetUpOutcome(line.served.com, line.outcome);
            if (outcome.exitCode > report.outcome.exitCode)
                report.outcome = outcome;
            JsonObject entry;
            entry.Add("name", JsonString(line.served.name));
            entry.Add("rows_count", std::to_string(line.rows));
            entry.Add("ended_by", JsonString(line.endedBy));
            entry.Add("exit_code", std::to_string(outcome.exitCode));
            each.push_back(entry.Text());
        }
        report.json.Add("rows_count", std::to_string(rows));
        if (several_)
            report.json.Add("lines", JsonArray(each));
        else
            report.json.Add("ended_by", JsonString(lines_.front().endedBy));
    }

  private:
    std::string ColumnLine() const { return (several_ ? "line," : "") + record::ColumnLine(); }

    bool OneLineCsv() const { return !several_ && format_ == "csv" && !options_.json; }

    // The comment lines and columns of a recording, the run's start with them: written with
    // the first row, when the run has begun.
    std::string OneLineCsvHead(const LiveLine &line) const {
        return record::CommentHeader(*line.served.line) + record::RunStartLine(line.runStartUtc) +
               ColumnLine();
    }

    std::string ColumnsJson() const {
        std::istringstream names(ColumnLine());
        std::vector<std::string> columns;
        for (std::string name; std::getline(names, name, ',');) {
            if (!name.empty() && name.back() == '\n')
                name.pop_back();
            columns.push_back(JsonString(name));
        }
        return JsonArray(columns);
    }

    job::Task<void> RunLine(LiveLine &line) {
        com232::Line &served = *line.served.line;
        line.outcome         = co_await served.InitRS232(line.served.com);
        setUp_               = SetUpOutcome(line.served.com, line.outcome);
        if (line.outcome.ok() && !line.stopped) {
            // Several lines share one head; each says which controller it is on, as its
            // start-up read it.
            if (several_ && format_ == "csv" && !options_.json)
                std::fputs(
                    ("# line " + line.served.name + "\n" + record::CommentHeader(served)).c_str(),
                    stdout);
            else if (!several_)
                report_->streamed = Head();
            line.outcome = co_await served.RunLive();
            if (OneLineCsv() && line.rows == 0)
                std::fputs(OneLineCsvHead(line).c_str(), stdout);
        }
        line.ended = true;
        if (--running_ == 0)
            QuitUserInterface(0);
    }

    // Stop, as its button does: the run ends at its next check; after an interrupt, once
    // the reply to the request on the line came, so that every reply is a row.
    void Stop(LiveLine &line, const char *why, bool afterExchange = false) {
        if (line.stopped || line.ended)
            return;
        line.stopped = true;
        line.endedBy = why;
        if (afterExchange)
            line.served.line->RequestStopAfterExchange();
        else
            line.served.line->RequestStop();
    }

    // Each row goes out at once; a reader that has gone away ends every run.
    void OnReply(LiveLine &line, const com232::LiveReply &reply, double now) {
        if (line.stopped && line.endedBy != "interrupt")
            return;
        const std::string &name = line.served.name;
        std::string text;
        if (format_ == "jsonl") {
            text =
                publish::LiveJson(reply, publish::UnixNow(), line.rows + 1, several_ ? name : "") +
                "\n";
        } else if (format_ == "influx") {
            text = publish::InfluxLine(name, reply, publish::UnixNanoseconds()) + "\n";
        } else {
            // Several lines share the time since live began, one line its run's.
            const std::string row = record::Row(reply, now - (several_ ? start_ : line.runStart));
            if (options_.json)
                text = (anyRow_ ? ", " : "") +
                       (several_ ? "[" + JsonString(name) + ", " + JsonRow(row).substr(1)
                                 : JsonRow(row));
            else
                text = (several_ ? name + "," : "") + row;
            if (OneLineCsv() && line.rows == 0)
                text = OneLineCsvHead(line) + text;
        }
        if (std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
            for (LiveLine &each : lines_)
                Stop(each, "pipe");
            return;
        }
        anyRow_ = true;
        ++line.rows;
        if (options_.count > 0 && line.rows >= options_.count)
            Stop(line, "count");
        else if (options_.seconds > 0 &&
                 Timer() - (several_ ? start_ : line.runStart) >= options_.seconds)
            Stop(line, "seconds");
    }

    const Options &options_;
    bool several_;
    std::string format_;
    std::vector<LiveLine> lines_;
    Report *report_ = nullptr;
    Outcome setUp_; // the set-up of one line, as the port set-up reports it
    int running_  = 0;
    bool anyRow_  = false;
    double start_ = 0;
};

Outcome WriteCurve(int panel, const std::string &path, const std::string &csv) {
    int result = 0;
    if (HasExtension(path, ".png") || HasExtension(path, ".pdf")) {
        const int format = HasExtension(path, ".png") ? kImagePng : kImagePdf;
        result = SavePlotImage(panel, ui::GraphDATA, path.c_str(), format) == 0 ? 0 : -errno;
    } else {
        result = ReplaceTextFile(path.c_str(), csv);
    }
    if (result == 0)
        return {};
    return {status::Result::FileFailed, path + " cannot be written: " + std::strerror(-result)};
}

} // namespace

void RunPorts(Session &, const Options &, Report &report) {
    std::vector<std::string> ports;
    report.text = "COM  device                    description                   stable name\n";
    for (const PortEntry &entry : PortTable()) {
        JsonObject port;
        port.Add("number", std::to_string(entry.number));
        port.Add("device", JsonString(entry.device));
        port.Add("description", JsonString(entry.description));
        port.Add("stable_name", JsonString(entry.byIdName));
        port.Add("absent", entry.present ? "false" : "true");
        ports.push_back(port.Text());
        char line[512];
        std::snprintf(line, sizeof line, "%-4d %-25s %-29s %s%s\n", entry.number,
                      entry.device.c_str(), entry.description.c_str(), entry.byIdName.c_str(),
                      entry.present ? "" : "  (absent)");
        report.text += line;
    }
    report.json.Add("ports", JsonArray(ports));
}

void RunLive(Session &, const Options &options, Report &report) {
    Live live(options, ServeLines(options));
    live.Run(report);
    live.Tail(report);
}

job::Task<void> RunCapture(Session &session, const Options &options, Report &report) {
    const bool raw = options.operands[0] == "raw";
    report.json.Add("source", JsonString(options.operands[0]));
    report.outcome = co_await session.PortSetUp(options.com);
    if (!report.outcome.ok())
        co_return;
    session.ChooseSource(raw ? com232::GraphSource::Raw : com232::GraphSource::Norm);
    report.outcome = OutcomeOf(co_await session.Program().CaptureCurve());
    if (!report.outcome.ok())
        co_return;

    const std::string csv = session.Program().Exports().CurveCsv();
    AddCsv(report.json, csv);
    report.json.Add("file", options.output.empty() ? "null" : JsonString(options.output));
    if (options.output.empty())
        report.text = csv;
    else
        report.outcome = WriteCurve(session.Program().PanelHandle(), options.output, csv);
}

} // namespace ctl
