// The parameter file reader on any text. The first byte is the count asked for, the rest
// the file's text. A read succeeds whole or writes nothing, and what it read formats back
// to a text that reads the same; no value is above the largest asked for.
#include "platform/files/arrayfile.h"

#include <algorithm>
#include <vector>

namespace {

constexpr unsigned int kUntouched = 0xDEADBEEF;
constexpr int kFieldWidth         = 5;
constexpr unsigned int kLargest   = 0xFFFF;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0)
        return 0;
    const int count = data[0];
    const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    std::vector<unsigned int> values(static_cast<std::size_t>(count), kUntouched);

    ArrayFileFault fault;
    const int result = ParseArrayText(text, values.data(), count, kLargest, &fault);
    if (result != count) {
        if (result != kFileErrTooFew && result != kFileErrNotNumber && result != kFileErrTooMany &&
            result != kFileErrTooLarge && result != kFileErrNegative)
            __builtin_trap();
        if (fault.code != result || fault.values > count)
            __builtin_trap();
        if (std::any_of(values.begin(), values.end(), [](unsigned v) { return v != kUntouched; }))
            __builtin_trap();
        return 0;
    }
    if (std::any_of(values.begin(), values.end(), [](unsigned v) { return v > kLargest; }))
        __builtin_trap();
    std::vector<unsigned int> again(values.size());
    if (ParseArrayText(FormatArrayText(values.data(), count, kFieldWidth), again.data(), count,
                       kLargest) != count ||
        again != values)
        __builtin_trap();
    return 0;
}
