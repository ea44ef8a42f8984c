// Recording of a run: while recording, every live reply becomes a row of a CSV file
// "RMX7live-<yyyymmdd-hhmmss>.csv" in the project folder, after comment lines that name the
// unit and the run's start in UTC. A Recorder is a live listener of
// its line: rows wait in memory and are written after a request went out, at most every
// kWriteInterval, and when the run ends, so the disk never delays a request. A write that
// fails ends the recording, not the run. It reaches no panel: whether to record comes as
// an argument, and what happened goes to the sinks its owner installs.
#pragma once

#include "com232.h"

#include <chrono>
#include <functional>
#include <string>

namespace record {

constexpr double kWriteInterval = 0.5; // seconds between two writes of waiting rows

// --- Shared by every CSV the program writes ---
// "# program", "# firmware", "# port" and "# parameters" lines of line's unit, each ending
// in a newline.
std::string CommentHeader(const com232::Line &line);
// The local time as yyyymmdd-hhmmss, for file names.
std::string FileStamp();
// The column line that comes after the comment lines, ending in a newline.
std::string ColumnLine();
// "# run start 2026-03-04T09:15:02.123Z": when the run whose rows follow began (start), in
// UTC to the millisecond, the time from which a row's time_s counts; ending in a newline.
std::string RunStartLine(std::chrono::system_clock::time_point start);
// One row of a reply, seconds since the run began, ending in a newline.
std::string Row(const com232::LiveReply &reply, double seconds);

// --- The run's recording ---
struct Sinks {
    std::function<void(const char *text)> showStatus; // a recording that could not go on
    // Beside the Record control: "Recording to <file>", "Recorded to <file>", or "".
    std::function<void(const std::string &line)> noteFile;
    std::function<void()> ended; // the recording ended by itself: recording is off now
};

class Recorder {
  public:
    // Records line's runs into folder (made when missing).
    Recorder(com232::Line &line, std::string folder, Sinks sinks);
    ~Recorder();
    Recorder(const Recorder &)            = delete;
    Recorder &operator=(const Recorder &) = delete;

    // Where the next recording goes.
    void SetFolder(const std::string &folder) { folder_ = folder; }
    // No recording, no run begun; recording not wanted.
    void InitVars();
    // Whether the next run is recorded from its start (the Record box).
    void Want(bool wanted) { wanted_ = wanted; }
    // Begins a recording of the run under way; says on the status line when the file
    // cannot be made, and ends then (sinks.ended).
    void StartRecording();
    // Writes the waiting rows and ends the recording.
    void StopRecording();
    bool Recording() const { return active_; }
    // The end of the last run ended a recording (Recording was on until then).
    bool StoppedWithRun() const { return stoppedWithRun_; }
    // The file of the recording under way, or of the last one.
    const std::string &RecordingPath() const { return path_; }
    // Timer() when the run began.
    double RunStart() const { return runStart_; }

    // The listener's parts, also called directly (tests, rmx7ctl).
    void RunStarted(double now);
    void AppendReply(const com232::LiveReply &reply, double now);
    void WriteDueRows(double now);

  private:
    void Abandon(const char *what, int error);
    int CreateRecordingFile(const std::string &header);
    void WritePending();
    void Note(const std::string &line) const;

    com232::Line &line_;
    std::string folder_;
    Sinks sinks_;
    int listener_        = 0;
    bool wanted_         = false;
    bool active_         = false;
    bool stoppedWithRun_ = false;
    std::string path_;                                  // the file being recorded to
    std::string pending_;                               // rows not written yet
    double runStart_ = 0;                               // Timer() when the run began
    std::chrono::system_clock::time_point runStartUtc_; // and on the calendar
    double lastWrite_ = 0;
};

} // namespace record
