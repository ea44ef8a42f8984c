// The port table, the live values and the data curve.
#include "commands.h"

#include "app.h"
#include "com232.h"
#include "exports.h"
#include "gui.h"
#include "platform/files/textfile.h"
#include "platform/panel/events.h"
#include "platform/serial/ports.h"
#include "record.h"
#include "ui.h"

#include <cstdio>
#include <sstream>

namespace ctl {

namespace {

constexpr const char *kBlockReceived = "Data[64] block received!";

struct LiveState {
    long count          = -1;
    double seconds      = -1;
    bool json           = false;
    long rows           = 0;
    bool stopped        = false;
    std::string endedBy = "timeout";
};

LiveState live;

// Stop, as its button does: the run loop ends at its next check of the stop flag.
void StopRun(const char *why) {
    if (live.stopped)
        return;
    live.stopped = true;
    live.endedBy = why;
    app::CC_BTNStop(gui::vars.pHandle, 0, kEventCommit, nullptr, 0, 0);
}

void OnInterrupt() {
    StopRun("interrupt");
}

// Each row goes out at once; a reader that has gone away ends the run.
void OnRow(const char *row) {
    if (live.stopped)
        return;
    const std::string text =
        live.json ? (live.rows > 0 ? ", " : "") + JsonRow(row) : std::string(row);
    if (std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
        StopRun("pipe");
        return;
    }
    ++live.rows;
    if (live.count > 0 && live.rows >= live.count)
        StopRun("count");
    else if (live.seconds > 0 && Timer() - record::vars.runStart >= live.seconds)
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

bool EndsWith(const std::string &text, const char *end) {
    const std::string tail = end;
    return text.size() > tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

Outcome WriteCurve(const std::string &path, const std::string &csv) {
    int result = 0;
    if (EndsWith(path, ".png"))
        result = SavePlotImage(gui::vars.pHandle, ui::GraphDATA, path.c_str(), kImagePng);
    else if (EndsWith(path, ".pdf"))
        result = SavePlotImage(gui::vars.pHandle, ui::GraphDATA, path.c_str(), kImagePdf);
    else
        result = ReplaceTextFile(path.c_str(), csv);
    if (result != 0)
        return {kExitFile, path + " cannot be written"};
    return {};
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
    live         = LiveState{};
    live.count   = options.count;
    live.seconds = options.seconds;
    live.json    = options.json;
    if (options.json) {
        JsonObject head = JsonHead(options);
        head.Add("columns", ColumnsJson());
        std::fputs(("{" + head.Members() + ", \"rows\": [").c_str(), stdout);
        report.streamed = true;
    } else {
        std::fputs((record::CommentHeader() + record::ColumnLine()).c_str(), stdout);
    }
    std::fflush(stdout);

    const std::size_t mark = StatusMark();
    record::vars.listener  = OnRow;
    CallOnInterrupt(OnInterrupt);
    Click(app::CC_BTNRun);
    CallOnInterrupt(nullptr);
    record::vars.listener = nullptr;
    if (options.json)
        std::fputs("]", stdout);

    report.json.Add("rows_count", std::to_string(live.rows));
    report.json.Add("ended_by", JsonString(live.endedBy));
    if (!live.stopped)
        report.outcome = LineOutcomeSince(mark);
}

void RunCapture(const Options &options, Report &report) {
    const bool raw = options.operands[0] == "raw";
    report.json.Add("source", JsonString(options.operands[0]));
    report.outcome = PortSetUp(options.com);
    if (!report.outcome.ok())
        return;
    const std::size_t mark = StatusMark();
    ChooseSource(raw ? gui::kSourceRaw : gui::kSourceNorm);
    Click(app::CC_BTNData);
    report.outcome = LineOutcomeSince(mark);
    if (report.outcome.ok() && CountStatusSince(mark, kBlockReceived) < (raw ? 4 : 2))
        report.outcome = {kExitLine, "a data block came with the wrong length"};
    // The live request that closes the capture reports its time-out on no status line.
    if (report.outcome.ok() && com232::vars.ret == 0)
        report.outcome = {kExitLine, com232::vars.szStatus};
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
