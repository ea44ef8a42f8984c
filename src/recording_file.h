// Reading a recording back: the CSV that Record writes ("RMX7live-*.csv"), checked line by
// line and split into its comment lines and one column of numbers per field. Pure code over
// text and files, so the viewer shows only what passed every check.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace recording {

// The fields of a row, in the order of the header line.
enum Column {
    kTime,
    kNorm,
    kChannelA,
    kChannelB,
    kAmax,
    kAmin,
    kUpper,
    kLower,
    kReference,
    kState,
    kColumnCount
};

// The header line that follows the comment lines, without its newline.
constexpr std::string_view kHeader =
    "time_s,valNORM,adcCHA,adcCHB,Amax,Amin,UPval,LOval,refval,instate";

// The name of each column as the header gives it.
std::string_view ColumnName(int column);

// What a recording keeps of its comment lines: a recording writes four, a file of millions
// must not cost memory and time to show.
constexpr std::size_t kKeptComments      = 200; // the first ones; the rest are counted
constexpr std::size_t kKeptCommentLength = 400; // bytes of each, cut at a character
// The largest file read as a recording: some two and a half days of rows at the line's rate.
constexpr std::size_t kMaxRecordingBytes = 256u << 20;

struct Recording {
    std::vector<std::string> comments; // "# ..." lines, "# " taken off, at most kKeptComments
    std::size_t moreComments = 0;      // comment lines beyond those kept
    std::array<std::vector<double>, kColumnCount> columns; // one value per row; time ascending
    std::size_t Rows() const { return columns[kTime].size(); }
};

// Checks text as a recording and fills recording; false with error saying what is wrong
// and on which line ("line 7: ...") when it is not one: no header, another header, a row
// whose fields are not ten numbers (time in seconds, then whole numbers), a time before
// the row above, or no rows at all. Every row is checked before any memory is taken for
// the columns.
bool ReadRecording(std::string_view text, Recording &recording, std::string &error);
// The same for a file; error starts with the file's name and also covers a file that
// cannot be read, one that is not a plain file (a device, a pipe) and one larger than
// kMaxRecordingBytes, neither of which is read.
bool LoadRecording(const std::string &path, Recording &recording, std::string &error);

} // namespace recording
