// Reading and checking a recording.
#include "recording_file.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace recording {

namespace {

constexpr std::string_view kColumnNames[kColumnCount] = {
    "time_s", "valNORM", "adcCHA", "adcCHB", "Amax", "Amin", "UPval", "LOval", "refval", "instate"};

// Walks the lines of a text, each without its line end ("\n", or "\r\n" from an editor).
class Lines {
  public:
    explicit Lines(std::string_view text) : rest(text) {}
    bool Next(std::string_view &line) {
        if (rest.empty())
            return false;
        const std::size_t end = rest.find('\n');
        line                  = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        ++number;
        return true;
    }
    int Number() const { return number; }

  private:
    std::string_view rest;
    int number = 0;
};

constexpr std::size_t kQuotedLength = 24; // of a wrong field in an error text

std::string Quoted(std::string_view field) {
    return "'" + std::string(field.substr(0, kQuotedLength)) +
           (field.size() > kQuotedLength ? "...'" : "'");
}

std::string AtLine(int line, const std::string &what) {
    return "line " + std::to_string(line) + ": " + what;
}

// One field as a number: the time in seconds, every other column a whole number.
bool ParseField(int column, std::string_view field, double &value) {
    const char *first = field.data();
    const char *last  = first + field.size();
    if (column == kTime) {
        const auto [end, ec] = std::from_chars(first, last, value);
        return ec == std::errc() && end == last && std::isfinite(value);
    }
    long long whole      = 0;
    const auto [end, ec] = std::from_chars(first, last, whole);
    value                = static_cast<double>(whole);
    return ec == std::errc() && end == last && !field.empty();
}

// Splits a row into the columns; an empty string, or what is wrong with the row.
std::string ParseRow(std::string_view row, Recording &recording) {
    std::string_view fields[kColumnCount];
    int count = 0;
    for (std::size_t start = 0;; ++count) {
        const std::size_t comma = row.find(',', start);
        if (count < kColumnCount)
            fields[count] = row.substr(start, comma - start);
        if (comma == std::string_view::npos)
            break;
        start = comma + 1;
    }
    ++count;
    if (count != kColumnCount)
        return std::to_string(count) + (count == 1 ? " field" : " fields") + " where a row has " +
               std::to_string(kColumnCount);
    double values[kColumnCount];
    for (int column = 0; column < kColumnCount; ++column)
        if (!ParseField(column, fields[column], values[column]))
            return std::string(kColumnNames[column]) + " " + Quoted(fields[column]) +
                   (column == kTime ? " is not a number" : " is not a whole number");
    std::vector<double> &time = recording.columns[kTime];
    if (!time.empty() && values[kTime] < time.back())
        return "time_s " + Quoted(fields[kTime]) + " goes back from the row above";
    for (int column = 0; column < kColumnCount; ++column)
        recording.columns[column].push_back(values[column]);
    return {};
}

// The file's bytes; empty with errno set when it cannot be read (a folder included).
std::string ReadWholeFile(const std::string &path) {
    errno      = 0;
    FILE *file = std::fopen(path.c_str(), "rb");
    if (!file)
        return {};
    std::string text;
    std::error_code ignored;
    text.reserve(static_cast<std::size_t>(std::filesystem::file_size(path, ignored) + 1));
    char chunk[1 << 16];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, got);
    const int cause = std::ferror(file) ? (errno != 0 ? errno : EIO) : 0;
    std::fclose(file);
    if (cause != 0)
        text.clear();
    errno = cause;
    return text;
}

bool CheckRecording(std::string_view text, Recording &recording, std::string &error) {
    if (text.empty()) {
        error = "the file is empty";
        return false;
    }
    const std::size_t lineCount =
        static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    Lines lines(text);
    std::string_view line;
    bool header = false;
    while (!header && lines.Next(line)) {
        if (line.starts_with('#')) {
            line.remove_prefix(line.starts_with("# ") ? 2 : 1);
            recording.comments.emplace_back(line);
        } else if (line == kHeader) {
            header = true;
        } else {
            error = AtLine(lines.Number(), "the columns are not those of a recording");
            return false;
        }
    }
    if (!header) {
        error = AtLine(lines.Number(), "the file ends before the column header");
        return false;
    }
    for (std::vector<double> &column : recording.columns)
        column.reserve(lineCount);
    while (lines.Next(line)) {
        const std::string wrong = ParseRow(line, recording);
        if (!wrong.empty()) {
            error = AtLine(lines.Number(), wrong);
            return false;
        }
    }
    if (recording.Rows() == 0) {
        error = AtLine(lines.Number(), "no rows after the column header");
        return false;
    }
    return true;
}

} // namespace

std::string_view ColumnName(int column) {
    return column >= 0 && column < kColumnCount ? kColumnNames[column] : std::string_view();
}

bool ReadRecording(std::string_view text, Recording &recording, std::string &error) {
    recording = Recording{};
    if (CheckRecording(text, recording, error))
        return true;
    recording = Recording{};
    return false;
}

bool LoadRecording(const std::string &path, Recording &recording, std::string &error) {
    recording              = Recording{};
    const std::string name = std::filesystem::path(path).filename().string();
    const std::string text = ReadWholeFile(path);
    if (text.empty() && errno != 0) {
        error = name + ": cannot read it: " + std::strerror(errno);
        return false;
    }
    if (ReadRecording(text, recording, error))
        return true;
    error = name + ": " + error;
    return false;
}

} // namespace recording
