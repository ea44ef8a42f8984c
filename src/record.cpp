// Recording of a run to CSV, and the comment lines every CSV of the program begins with.
#include "record.h"

#include "platform/files/textfile.h"
#include "platform/serial/ports.h"
#include "platform/text.h"
#include "program.h"
#include "recording_file.h"
#include "status.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <utility>

namespace record {

namespace {

constexpr int kMaxSameSecond = 100; // names tried when runs start within one second

} // namespace

// The firmware in its printable form: a newline of the controller's would start a row.
std::string CommentHeader(const com232::Line &line) {
    const int port   = line.Port();
    std::string text = std::string("# program ") + program::kName + " " + program::kVersion +
                       "\n# firmware " + PrintableText(line.Firmware()) + "\n# port COM" +
                       std::to_string(port) + " " + PortDevice(port) + "\n# parameters";
    for (const std::uint16_t word : com232::WordsOf(line.ParameterSet()))
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

std::string ColumnLine() {
    return std::string(recording::kHeader) + "\n";
}

std::string RunStartLine(std::chrono::system_clock::time_point start) {
    using namespace std::chrono;
    const auto since        = start.time_since_epoch();
    const std::time_t whole = duration_cast<seconds>(since).count();
    const auto millis       = duration_cast<milliseconds>(since).count() % 1000;
    std::tm utc{};
    gmtime_r(&whole, &utc);
    char stamp[48];
    const std::size_t n = std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(stamp + n, sizeof stamp - n, ".%03dZ", static_cast<int>(millis));
    return std::string("# run start ") + stamp + "\n";
}

std::string Row(const com232::LiveReply &reply, double seconds) {
    char row[128];
    std::snprintf(row, sizeof row, "%.3f,%d,%u,%u,%u,%u,%u,%u,%u,%u\n", seconds,
                  static_cast<int>(reply.valNORM), reply.adcCHA, reply.adcCHB, reply.Amax,
                  reply.Amin, reply.UPval, reply.LOval, reply.refval, reply.instate);
    return row;
}

Recorder::Recorder(com232::Line &line, std::string folder, Sinks sinks)
    : line_(line), folder_(std::move(folder)), sinks_(std::move(sinks)) {
    com232::LiveListener listener;
    listener.runStarted = [this](double now) { RunStarted(now); };
    listener.reply      = [this](const com232::LiveReply &reply, double now) {
        AppendReply(reply, now);
    };
    // The disk waits until the request is out: the reply takes 37 ms to come.
    listener.requested = [this](double now) { WriteDueRows(now); };
    listener.runEnded  = [this](const status::Outcome &) {
        stoppedWithRun_ = active_;
        StopRecording();
    };
    listener_ = line_.AddLiveListener(std::move(listener));
}

Recorder::~Recorder() {
    line_.RemoveLiveListener(listener_);
}

void Recorder::InitVars() {
    wanted_         = false;
    active_         = false;
    stoppedWithRun_ = false;
    path_.clear();
    pending_.clear();
    runStart_    = 0;
    runStartUtc_ = {};
    lastWrite_   = 0;
}

void Recorder::Note(const std::string &line) const {
    if (sinks_.noteFile)
        sinks_.noteFile(line);
}

// Ends the recording after a failed write, saying why.
void Recorder::Abandon(const char *what, int error) {
    const std::string text = status::CannotRecord(
        what, std::filesystem::path(path_).filename().string(), std::strerror(-error));
    active_ = false;
    pending_.clear();
    if (sinks_.ended)
        sinks_.ended();
    Note({});
    if (sinks_.showStatus)
        sinks_.showStatus(text.c_str());
}

// Makes the file with its header under the first free name of this second.
int Recorder::CreateRecordingFile(const std::string &header) {
    const std::string stem = folder_ + "/RMX7live-" + FileStamp();
    path_                  = stem + ".csv";
    int result             = MakeFolder(folder_.c_str());
    if (result != 0)
        return result;
    for (int n = 1; n <= kMaxSameSecond; ++n) {
        path_  = n == 1 ? stem + ".csv" : stem + "-" + std::to_string(n) + ".csv";
        result = CreateTextFile(path_.c_str(), header);
        if (result != -EEXIST)
            break;
    }
    return result;
}

void Recorder::WritePending() {
    if (pending_.empty())
        return;
    const int result = AppendTextFile(path_.c_str(), pending_);
    pending_.clear();
    if (result != 0)
        Abandon(status::kRecordingStopped, result);
}

void Recorder::RunStarted(double now) {
    runStart_    = now;
    runStartUtc_ = std::chrono::system_clock::now();
    lastWrite_   = now;
    if (wanted_)
        StartRecording();
}

void Recorder::StartRecording() {
    if (active_)
        return;
    pending_.clear();
    const int result =
        CreateRecordingFile(CommentHeader(line_) + RunStartLine(runStartUtc_) + ColumnLine());
    if (result != 0) {
        Abandon(status::kRecordingNotStarted, result);
        return;
    }
    active_ = true;
    Note(status::RecordingTo(path_));
}

void Recorder::AppendReply(const com232::LiveReply &reply, double now) {
    if (active_)
        pending_ += Row(reply, now - runStart_);
}

void Recorder::WriteDueRows(double now) {
    if (!active_ || now - lastWrite_ < kWriteInterval)
        return;
    lastWrite_ = now;
    WritePending();
}

void Recorder::StopRecording() {
    if (!active_)
        return;
    WritePending();
    // A write that failed has ended the recording and said so.
    if (active_)
        Note(status::RecordedTo(path_));
    active_ = false;
}

} // namespace record
