// Recording of a run to CSV, and the comment lines every CSV of the program begins with.
#include "record.h"

#include "gui.h"
#include "platform/files/textfile.h"
#include "platform/panel/panel.h"
#include "platform/serial/ports.h"
#include "program.h"
#include "recording_file.h"
#include "status.h"
#include "ui.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace record {

namespace {

struct Vars {
    bool active = false;
    std::string path;                                  // the file being recorded to
    std::string pending;                               // rows not written yet
    double runStart = 0;                               // Timer() when the run began
    std::chrono::system_clock::time_point runStartUtc; // and on the calendar
    double lastWrite = 0;
};

Vars vars;

constexpr int kMaxSameSecond = 100; // names tried when runs start within one second
constexpr int kTipSize       = 512;

// The Record box's tooltip from the panel file, and the panel it was read from: the file
// of the recording is added below it.
struct RecordTip {
    int panel = 0;
    std::string own;
};
RecordTip recordTip;

void ShowRecordTip(const std::string &line) {
    const int panel = gui::Panel();
    if (recordTip.panel != panel) {
        char own[kTipSize] = {};
        GetCtrlAttribute(panel, ui::CHKRecord, kAttrToolTip, own, sizeof own);
        recordTip = {panel, own};
    }
    const std::string tip = recordTip.own + (line.empty() ? "" : "\n" + line);
    SetCtrlAttribute(panel, ui::CHKRecord, kAttrToolTip, tip.c_str());
}

// Ends the recording after a failed write, saying why.
void Abandon(const char *what, int error) {
    const std::string text = status::CannotRecord(
        what, std::filesystem::path(vars.path).filename().string(), std::strerror(-error));
    vars.active = false;
    vars.pending.clear();
    SetCtrlVal(gui::Panel(), ui::CHKRecord, 0);
    ShowRecordTip({});
    gui::ShowStatus(text.c_str());
}

// Makes the file with its header under the first free name of this second.
int CreateRecordingFile(const std::string &header) {
    const std::string stem = gui::ProjectDir() + "/RMX7live-" + FileStamp();
    vars.path              = stem + ".csv";
    int result             = gui::MakeProjectDir();
    if (result != 0)
        return result;
    for (int n = 1; n <= kMaxSameSecond; ++n) {
        vars.path = n == 1 ? stem + ".csv" : stem + "-" + std::to_string(n) + ".csv";
        result    = CreateTextFile(vars.path.c_str(), header);
        if (result != -EEXIST)
            break;
    }
    return result;
}

void WritePending() {
    if (vars.pending.empty())
        return;
    const int result = AppendTextFile(vars.path.c_str(), vars.pending);
    vars.pending.clear();
    if (result != 0)
        Abandon(status::kRecordingStopped, result);
}

} // namespace

std::string CommentHeader() {
    const int port   = com232::Port();
    std::string text = std::string("# program ") + program::kName + " " + program::kVersion +
                       "\n# firmware " + com232::Firmware() + "\n# port COM" +
                       std::to_string(port) + " " + PortDevice(port) + "\n# parameters";
    for (const std::uint16_t word : com232::WordsOf(com232::ParameterSet()))
        text += " " + std::to_string(word);
    return text + "\n";
}

std::string FileStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return stamp;
}

std::string Row(const com232::LiveReply &reply, double seconds) {
    char row[128];
    std::snprintf(row, sizeof row, "%.3f,%d,%u,%u,%u,%u,%u,%u,%u,%u\n", seconds,
                  static_cast<int>(reply.valNORM), reply.adcCHA, reply.adcCHB, reply.Amax,
                  reply.Amin, reply.UPval, reply.LOval, reply.refval, reply.instate);
    return row;
}

void InitVars() {
    vars = Vars{};
}

void RunStarted(double now) {
    vars.runStart    = now;
    vars.runStartUtc = std::chrono::system_clock::now();
    vars.lastWrite   = now;
    int on           = 0;
    GetCtrlVal(gui::Panel(), ui::CHKRecord, &on);
    if (on)
        StartRecording();
}

void StartRecording() {
    if (vars.active)
        return;
    vars.pending.clear();
    const int result = CreateRecordingFile(CommentHeader() + RunStartLine() + ColumnLine());
    if (result != 0) {
        Abandon(status::kRecordingNotStarted, result);
        return;
    }
    vars.active = true;
    ShowRecordTip(status::RecordingTo(vars.path));
}

std::string ColumnLine() {
    return std::string(recording::kHeader) + "\n";
}

std::string RunStartLine() {
    using namespace std::chrono;
    const auto since        = vars.runStartUtc.time_since_epoch();
    const std::time_t whole = duration_cast<seconds>(since).count();
    const auto millis       = duration_cast<milliseconds>(since).count() % 1000;
    std::tm utc{};
    gmtime_r(&whole, &utc);
    char stamp[48];
    const std::size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(stamp + n, sizeof stamp - n, ".%03dZ", static_cast<int>(millis));
    return std::string("# run start ") + stamp + "\n";
}

double RunStart() {
    return vars.runStart;
}

void AppendReply(const com232::LiveReply &reply, double now) {
    if (vars.active)
        vars.pending += Row(reply, now - vars.runStart);
}

void WriteDueRows(double now) {
    if (!vars.active || now - vars.lastWrite < kWriteInterval)
        return;
    vars.lastWrite = now;
    WritePending();
}

void StopRecording() {
    if (!vars.active)
        return;
    WritePending();
    // A write that failed has ended the recording and said so.
    if (vars.active)
        ShowRecordTip(status::RecordedTo(vars.path));
    vars.active = false;
}

bool Recording() {
    return vars.active;
}

const std::string &RecordingPath() {
    return vars.path;
}

} // namespace record
