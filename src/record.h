// Recording of a run: while Record is on, every live reply becomes a row of a CSV file
// "RMX7live-<yyyymmdd-hhmmss>.csv" in the project folder, after comment lines that name the
// unit and the run's start in UTC. Rows wait in memory and are
// written from the run loop at most every kWriteInterval and when the run ends, so the
// disk never delays a request. A write that fails ends the recording, not the run.
#pragma once

#include "com232.h"

#include <string>

namespace record {

constexpr double kWriteInterval = 0.5; // seconds between two writes of waiting rows

// --- Shared by every CSV the program writes ---
// "# program", "# firmware", "# port" and "# parameters" lines, each ending in a newline.
std::string CommentHeader();
// The local time as yyyymmdd-hhmmss, for file names.
std::string FileStamp();
// The column line that comes after the comment lines, ending in a newline.
std::string ColumnLine();
// "# run start 2026-03-04T09:15:02.123Z": when the run whose rows follow began, in UTC to
// the millisecond, the time from which a row's time_s counts; ending in a newline.
std::string RunStartLine();
// One row of a reply, seconds since the run began, ending in a newline.
std::string Row(const com232::LiveReply &reply, double seconds);

// --- The run's recording ---
// No recording, no run begun.
void InitVars();
// Notes the start of a run and, when the Record box is on, begins a recording.
void RunStarted(double now);
// Timer() when the run began.
double RunStart();
// Begins a recording of the run under way; says on the status line when the file cannot
// be made, and clears the Record box then.
void StartRecording();
// Adds a reply as a row, when recording.
void AppendReply(const com232::LiveReply &reply, double now);
// Writes the waiting rows once kWriteInterval has passed since the last write.
void WriteDueRows(double now);
// Writes the waiting rows and ends the recording.
void StopRecording();
bool Recording();
// The file of the recording under way, or of the last one.
const std::string &RecordingPath();

} // namespace record
