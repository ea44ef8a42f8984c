// The port table, the live values and the data curve.
#include "commands.h"

#include "app.h"
#include "com232.h"
#include "exports.h"
#include "gui.h"
#include "platform/files/textfile.h"
#include "platform/panel/events.h"
#include "platform/panel/panel.h"
#include "platform/serial/ports.h"
#include "publish.h"
#include "record.h"
#include "ui.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <unistd.h>

namespace ctl {

namespace {

struct LiveState {
    long count     = -1;
    double seconds = -1;
    bool json      = false;
    std::string format;   // csv, jsonl or influx
    std::string lineName; // the tag of influx
    long rows           = 0;
    bool stopped        = false;
    std::string endedBy = "timeout";
};

LiveState live;

// Stop, as its button does: the run loop ends at its next check.
void StopRun(const char *why) {
    if (live.stopped)
        return;
    live.stopped = true;
    live.endedBy = why;
    app::StopRun();
}

void OnInterrupt() {
    StopRun("interrupt");
}

// The comment lines and columns of a recording, the run's start with them: written with
// the first row, when the run has begun.
std::string CsvHead() {
    return record::CommentHeader() + record::RunStartLine() + record::ColumnLine();
}

// Each row goes out at once; a reader that has gone away ends the run.
void OnReply(const com232::LiveReply &reply, double now) {
    if (live.stopped)
        return;
    std::string text;
    if (live.format == "jsonl") {
        text = publish::LiveJson(reply, publish::UnixNow(), live.rows + 1) + "\n";
    } else if (live.format == "influx") {
        text = publish::InfluxLine(live.lineName, reply, publish::UnixNanoseconds()) + "\n";
    } else {
        const std::string row = record::Row(reply, now - record::RunStart());
        text                  = live.json ? (live.rows > 0 ? ", " : "") + JsonRow(row) : row;
        if (!live.json && live.rows == 0)
            text = CsvHead() + text;
    }
    if (std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
        StopRun("pipe");
        return;
    }
    ++live.rows;
    if (live.count > 0 && live.rows >= live.count)
        StopRun("count");
    else if (live.seconds > 0 && Timer() - record::RunStart() >= live.seconds)
        StopRun("seconds");
}

std::string ColumnsJson() {
    std::istringstream names(record::ColumnLine());
    std::vector<std::string> columns;
    for (std::string name; std::getline(names, name, ',');) {
        if (!name.empty() && name.back() == '\n')
            name.pop_back();
        columns.push_back(JsonString(name));
    }
    return JsonArray(columns);
}

// Why the folder of path takes no new file, in the system's words; "" when it would.
std::string FolderProblem(const std::string &path) {
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (access(folder.empty() ? "." : folder.c_str(), W_OK | X_OK) == 0)
        return {};
    return std::strerror(errno);
}

Outcome WriteCurve(const std::string &path, const std::string &csv) {
    std::string why;
    if (HasExtension(path, ".png") || HasExtension(path, ".pdf")) {
        const int format = HasExtension(path, ".png") ? kImagePng : kImagePdf;
        // The picture writer only says that it failed; the folder is almost always why.
        if (SavePlotImage(gui::Panel(), ui::GraphDATA, path.c_str(), format) == 0)
            return {};
        why = FolderProblem(path);
    } else {
        const int result = ReplaceTextFile(path.c_str(), csv);
        if (result == 0)
            return {};
        why = std::strerror(-result);
    }
    return {status::Result::FileFailed,
            path + " cannot be written" + (why.empty() ? "" : ": " + why)};
}

} // namespace

void RunPorts(const Options &, Report &report) {
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

void RunLive(const Options &options, Report &report) {
    report.outcome = PortSetUp(options.com);
    if (!report.outcome.ok())
        return;
    live          = LiveState{};
    live.count    = options.count;
    live.seconds  = options.seconds;
    live.json     = options.json;
    live.format   = options.format.empty() ? "csv" : options.format;
    live.lineName = publish::LineName(options.shared.publisher, options.com);
    if (options.json) {
        JsonObject head = JsonHead(options);
        head.Add("columns", ColumnsJson());
        std::fputs(("{" + head.Members() + ", \"rows\": [").c_str(), stdout);
        report.streamed = true;
    }
    std::fflush(stdout);

    app::AddLiveListener(OnReply);
    CallOnInterrupt(OnInterrupt);
    const status::Outcome ran = app::RunLive();
    CallOnInterrupt(nullptr);
    app::RemoveLiveListener(OnReply);
    if (options.json)
        std::fputs("]", stdout);
    else if (live.format == "csv" && live.rows == 0)
        std::fputs(CsvHead().c_str(), stdout);

    report.json.Add("rows_count", std::to_string(live.rows));
    report.json.Add("ended_by", JsonString(live.endedBy));
    if (!live.stopped)
        report.outcome = OutcomeOf(ran);
}

void RunCapture(const Options &options, Report &report) {
    const bool raw = options.operands[0] == "raw";
    report.json.Add("source", JsonString(options.operands[0]));
    report.outcome = PortSetUp(options.com);
    if (!report.outcome.ok())
        return;
    ChooseSource(raw ? gui::kSourceRaw : gui::kSourceNorm);
    report.outcome = OutcomeOf(app::CaptureCurve());
    if (!report.outcome.ok())
        return;

    const std::string csv = exports::CurveCsv();
    AddCsv(report.json, csv);
    report.json.Add("file", options.output.empty() ? "null" : JsonString(options.output));
    if (options.output.empty())
        report.text = csv;
    else
        report.outcome = WriteCurve(options.output, csv);
}

} // namespace ctl
