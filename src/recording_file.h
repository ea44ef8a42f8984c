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

struct Recording {
    std::vector<std::string> comments;                     // "# ..." lines, "# " taken off
    std::array<std::vector<double>, kColumnCount> columns; // one value per row; time ascending
    std::size_t Rows() const { return columns[kTime].size(); }
};

// Checks text as a recording and fills recording; false with error saying what is wrong
// and on which line ("line 7: ...") when it is not one: no header, another header, a row
// whose fields are not ten numbers (time in seconds, then whole numbers), a time before
// the row above, or no rows at all.
bool ReadRecording(std::string_view text, Recording &recording, std::string &error);
// The same for a file; error starts with the file's name and also covers a file that
// cannot be read.
bool LoadRecording(const std::string &path, Recording &recording, std::string &error);

} // namespace recording
