// Reading and checking a recording.
#include "recording_file.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

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

// Reads a row into values: an empty string, or what is wrong with the row. after is the
// time of the row above.
std::string ParseRow(std::string_view row, double after, double (&values)[kColumnCount]) {
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
    for (int column = 0; column < kColumnCount; ++column)
        if (!ParseField(column, fields[column], values[column]))
            return std::string(kColumnNames[column]) + " " + Quoted(fields[column]) +
                   (column == kTime ? " is not a number" : " is not a whole number");
    if (values[kTime] < after)
        return "time_s " + Quoted(fields[kTime]) + " goes back from the row above";
    return {};
}

// At most kKeptCommentLength bytes of a comment, never half a character.
std::string KeptComment(std::string_view comment) {
    if (comment.size() <= kKeptCommentLength)
        return std::string(comment);
    std::size_t end = kKeptCommentLength;
    while (end > 0 && (static_cast<unsigned char>(comment[end]) & 0xC0) == 0x80)
        --end;
    return std::string(comment.substr(0, end)) + "...";
}

void AddComment(std::string_view line, Recording &recording) {
    if (recording.comments.size() == kKeptComments) {
        ++recording.moreComments;
        return;
    }
    line.remove_prefix(line.starts_with("# ") ? 2 : 1);
    recording.comments.push_back(KeptComment(line));
}

// Takes the file's bytes into text; false with error when it is not a plain file that can
// be read, or larger than a recording may be, neither of which is read.
bool ReadFileBytes(const std::string &path, std::string &text, std::string &error) {
    // O_NONBLOCK: a pipe is refused below instead of waiting for a writer.
    const int fd = open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0) {
        error = std::string("cannot read it: ") + std::strerror(errno);
        if (fd >= 0)
            close(fd);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        error = S_ISDIR(info.st_mode) ? std::string("cannot read it: ") + std::strerror(EISDIR)
                                      : "not a file but a device or a pipe";
    } else if (static_cast<std::size_t>(info.st_size) > kMaxRecordingBytes) {
        error = std::to_string(info.st_size >> 20) + " MB, more than the " +
                std::to_string(kMaxRecordingBytes >> 20) + " MB a recording may have";
    } else {
        text.resize(static_cast<std::size_t>(info.st_size));
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t got = read(fd, text.data() + done, text.size() - done);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                error = std::string("cannot read it: ") + std::strerror(errno);
            if (got <= 0) // an error, or a file that shrank meanwhile
                break;
            done += static_cast<std::size_t>(got);
        }
        text.resize(done);
    }
    close(fd);
    return error.empty();
}

bool CheckRecording(std::string_view text, Recording &recording, std::string &error) {
    if (text.empty()) {
        error = "the file is empty";
        return false;
    }
    Lines lines(text);
    std::string_view line;
    bool header = false;
    while (!header && lines.Next(line)) {
        if (line.starts_with('#')) {
            AddComment(line, recording);
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
    // Every row is checked and counted before the columns take any memory: a file of a
    // hundred million empty lines must cost nothing but its refusal.
    const Lines rows = lines;
    double values[kColumnCount];
    std::size_t count = 0;
    for (double after = -std::numeric_limits<double>::infinity(); lines.Next(line); ++count) {
        const std::string wrong = ParseRow(line, after, values);
        if (!wrong.empty()) {
            error = AtLine(lines.Number(), wrong);
            return false;
        }
        after = values[kTime];
    }
    if (count == 0) {
        error = AtLine(lines.Number(), "no rows after the column header");
        return false;
    }
    for (std::vector<double> &column : recording.columns)
        column.reserve(count);
    for (Lines again = rows; again.Next(line);) {
        ParseRow(line, -std::numeric_limits<double>::infinity(), values);
        for (int column = 0; column < kColumnCount; ++column)
            recording.columns[column].push_back(values[column]);
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
    std::string text;
    if (ReadFileBytes(path, text, error) && ReadRecording(text, recording, error))
        return true;
    error = name + ": " + error;
    return false;
}

} // namespace recording
