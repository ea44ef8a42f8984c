// The recording reader on any text. A refusal names the line and leaves nothing read; an
// accepted recording has rows, ten columns of equal length, time that never goes back and
// whole numbers beside it.
#include "recording_file.h"

#include <cmath>

using namespace recording;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    Recording read;
    std::string error;
    if (!ReadRecording(std::string_view(reinterpret_cast<const char *>(data), size), read, error)) {
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
            if (!std::isfinite(value) ||
                (column == kTime && row > 0 && value < read.columns[kTime][row - 1]) ||
                (column != kTime && value != std::trunc(value)))
                __builtin_trap();
        }
    return 0;
}
