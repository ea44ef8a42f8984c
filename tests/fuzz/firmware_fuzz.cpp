// The firmware decoders of both board variants on any reply and any text buffer size.
// The first byte is the buffer size (signed); the rest, cut or zero-padded, the reply.
#include "com232.h"

#include <algorithm>
#include <vector>

namespace {

constexpr std::size_t kReply100 = 72;
constexpr std::size_t kReply0   = 64;

// The text is the reply's characters in order, stopping at the first zero, the reply's end
// or the buffer's last place.
template <typename CharAt>
void Check(const std::vector<char> &text, int size, int characters, CharAt charAt) {
    if (size <= 0)
        return;
    int n = 0;
    while (text[n] != 0) {
        if (n >= characters || text[n] != static_cast<char>(charAt(n)))
            __builtin_trap();
        ++n;
    }
    if (n < size - 1 && n < characters && charAt(n) != 0)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0)
        return 0;
    const int textSize = static_cast<signed char>(data[0]);
    std::vector<unsigned char> reply100(data + 1, data + size), reply0;
    reply100.resize(kReply100, 0);
    reply0.assign(reply100.begin(), reply100.begin() + kReply0);
    // Exactly the given size, so that a write past it is seen.
    std::vector<char> text(static_cast<std::size_t>(std::max(textSize, 0)), 'x');

    com232::DecodeFirmware100(reply100.data(), text.data(), textSize);
    Check(text, textSize, static_cast<int>(kReply100), [&](int i) { return reply100[i]; });
    std::fill(text.begin(), text.end(), 'x');
    com232::DecodeFirmware0(reply0.data(), text.data(), textSize);
    Check(text, textSize, static_cast<int>(kReply0 / 2), [&](int i) { return reply0[2 * i + 1]; });
    return 0;
}
