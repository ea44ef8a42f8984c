// The parameter file reader on any text. The first byte is the count asked for, the rest
// the file's text. A read succeeds whole or writes nothing, and what it read formats back
// to a text that reads the same.
#include "platform/files/arrayfile.h"

#include <algorithm>
#include <vector>

namespace {

constexpr unsigned int kUntouched = 0xDEADBEEF;
constexpr int kFieldWidth         = 5;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0)
        return 0;
    const int count = data[0];
    const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    std::vector<unsigned int> values(static_cast<std::size_t>(count), kUntouched);

    const int result = ParseArrayText(text, values.data(), count);
    if (result != count) {
        if (result != kFileErrTooFew && result != kFileErrNotNumber)
            __builtin_trap();
        if (std::any_of(values.begin(), values.end(), [](unsigned v) { return v != kUntouched; }))
            __builtin_trap();
        return 0;
    }
    std::vector<unsigned int> again(values.size());
    if (ParseArrayText(FormatArrayText(values.data(), count, kFieldWidth), again.data(), count) !=
            count ||
        again != values)
        __builtin_trap();
    return 0;
}
