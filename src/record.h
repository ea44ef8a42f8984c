// Recording of a run: while Record is on, every live reply becomes a row of a CSV file
// "RMX7live-<yyyymmdd-hhmmss>.csv" in the project folder. Rows wait in memory and are
// written from the run loop at most every kWriteInterval and when the run ends, so the
// disk never delays a request. A write that fails ends the recording, not the run.
#pragma once

#include <string>

namespace record {

constexpr double kWriteInterval = 0.5; // seconds between two writes of waiting rows

// Takes each row as it is made, recording or not, before the next request is built: the
// command-line tool streams the rows, and a Stop it decides on a row sends nothing more.
using RowListener = void (*)(const char *row);

struct Vars {
    bool active          = false;
    RowListener listener = nullptr;
    std::string path;     // the file being recorded to
    std::string pending;  // rows not written yet
    double runStart  = 0; // Timer() when the run began
    double lastWrite = 0;
};

extern Vars vars;

// --- Shared by every CSV the program writes ---
// "# program", "# firmware", "# port" and "# parameters" lines, each ending in a newline.
std::string CommentHeader();
// The local time as yyyymmdd-hhmmss, for file names.
std::string FileStamp();

// The column line that comes after the comment lines, ending in a newline.
std::string ColumnLine();

// --- The run's recording ---
// Notes the start of a run and, when the Record box is on, begins a recording.
void RunStarted(double now);
// Begins a recording of the run under way; says on the status line when the file cannot
// be made, and clears the Record box then.
void StartRecording();
// Adds the live reply that gui has just taken as a row, and hands it to the listener.
void AppendReply(double now);
// Writes the waiting rows once kWriteInterval has passed since the last write.
void WriteDueRows(double now);
// Writes the waiting rows and ends the recording.
void StopRecording();

} // namespace record
