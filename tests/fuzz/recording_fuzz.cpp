// The recording reader on any text. A refusal names the line and leaves nothing read; an
// accepted recording has rows, ten columns of equal length, time that never goes back and
// whole numbers beside it, and written out again it reads back the same.
#include "recording_file.h"

#include <charconv>
#include <cmath>

using namespace recording;

namespace {

constexpr double kExactWhole = 9007199254740992.0; // 2^53: whole numbers beyond lose digits

std::string Number(int column, double value) {
    char text[32];
    const auto end =
        column == kTime
            ? std::to_chars(text, text + sizeof text, value).ptr
            : std::to_chars(text, text + sizeof text, static_cast<long long>(value)).ptr;
    return std::string(text, end);
}

// The recording as its writer would give it; false when a number is too large to come back.
bool Written(const Recording &read, std::string &text) {
    for (const std::string &comment : read.comments)
        text += "# " + comment + "\n";
    text += std::string(kHeader) + "\n";
    for (std::size_t row = 0; row < read.Rows(); ++row)
        for (int column = 0; column < kColumnCount; ++column) {
            const double value = read.columns[column][row];
            if (column != kTime && std::fabs(value) > kExactWhole)
                return false;
            text += Number(column, value) + (column + 1 < kColumnCount ? "," : "\n");
        }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    Recording read;
    std::string error;
    if (!ReadRecording(text, read, error)) {
        if (!(error.starts_with("line ") || error == "the file is empty") || read.Rows() != 0 ||
            !read.comments.empty())
            __builtin_trap();
        return 0;
    }
    if (read.Rows() == 0 || !error.empty())
        __builtin_trap();
    for (int column = 0; column < kColumnCount; ++column)
        for (std::size_t row = 0; row < read.Rows(); ++row) {
            const double value = read.columns[column].at(row);
            if ((column == kTime && row > 0 && value < read.columns[kTime][row - 1]) ||
                (column != kTime && value != std::trunc(value)))
                __builtin_trap();
        }
    Recording again;
    std::string written;
    if (Written(read, written) &&
        (!ReadRecording(written, again, error) || again.columns != read.columns ||
         again.comments != read.comments))
        __builtin_trap();
    return 0;
}
