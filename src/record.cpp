// Recording of a run to CSV, and the comment lines every CSV of the program begins with.
#include "record.h"

#include "app.h"
#include "com232.h"
#include "gui.h"
#include "platform/files/textfile.h"
#include "platform/panel/panel.h"
#include "platform/serial/ports.h"
#include "recording_file.h"
#include "ui.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace record {

Vars vars;

namespace {

constexpr int kMaxSameSecond = 100; // names tried when runs start within one second

// Ends the recording after a failed write, saying why.
void Abandon(const char *what, int error) {
    char text[com232::kStatusSize];
    std::snprintf(text, sizeof text, "%s - cannot write %s: %s!", what,
                  std::filesystem::path(vars.path).filename().c_str(), std::strerror(-error));
    vars.active = false;
    vars.pending.clear();
    SetCtrlVal(gui::vars.pHandle, ui::CHKRecord, 0);
    gui::ShowStatus(text);
}

// Makes the file with its header under the first free name of this second.
int CreateRecordingFile(const std::string &header) {
    const std::string stem = std::string(gui::vars.proj_dir) + "/RMX7live-" + FileStamp();
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
        Abandon("Recording stopped", result);
}

} // namespace

std::string CommentHeader() {
    const app::Vars &program = app::vars;
    std::string text         = std::string("# program ") + program.szSoftname + " " +
                       program.szSoftversion + "\n# firmware " + com232::vars.firmware +
                       "\n# port COM" + std::to_string(com232::vars.com) + " " +
                       PortDevice(com232::vars.com) + "\n# parameters";
    for (int i = 0; i < com232::PNUM; ++i)
        text += " " + std::to_string(com232::ParameterWord(com232::vars.params, i));
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

void RunStarted(double now) {
    vars.runStart  = now;
    vars.lastWrite = now;
    int on         = 0;
    GetCtrlVal(gui::vars.pHandle, ui::CHKRecord, &on);
    if (on)
        StartRecording();
}

void StartRecording() {
    if (vars.active)
        return;
    vars.pending.clear();
    const int result = CreateRecordingFile(CommentHeader() + ColumnLine());
    if (result != 0) {
        Abandon("Recording not started", result);
        return;
    }
    vars.active = true;
}

std::string ColumnLine() {
    return std::string(recording::kHeader) + "\n";
}

void AppendReply(double now) {
    if (!vars.active && !vars.listener)
        return;
    const gui::Vars &live = gui::vars;
    char row[128];
    std::snprintf(row, sizeof row, "%.3f,%d,%u,%u,%u,%u,%u,%u,%u,%u\n", now - vars.runStart,
                  static_cast<int>(live.valNORM), live.adcCHA, live.adcCHB, live.Amax, live.Amin,
                  live.UPval, live.LOval, live.refval, live.instate);
    if (vars.active)
        vars.pending += row;
    if (vars.listener)
        vars.listener(row);
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
    vars.active = false;
}

} // namespace record
