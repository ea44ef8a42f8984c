// The Telnet and COM Port Control decoder of remote lines on any bytes a server may send,
// up to 1 MB at once (tests/fuzz/run.sh). The first byte says where TCP cuts the stream:
// decoded whole and in those pieces, the bytes give the same data, answers and replies,
// and the same sub-negotiation runs past the decoder's bound. Every reply is a whole
// negotiation answer, none is given twice, and data with its 255s doubled comes back
// unchanged.
#include "platform/serial/telnet.h"

#include <set>

using namespace telnet;

namespace {

// The decoder as the open of an RFC 2217 line leaves it.
Decoder Opened() {
    Decoder decoder;
    decoder.Offered(kComPort);
    decoder.Offered(kBinary);
    decoder.Asked(kBinary);
    return decoder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::size_t piece   = data[0] % 16 + 1;
    const std::uint8_t *bytes = data + 1;
    const std::size_t count   = size - 1;

    Decoder whole = Opened(), cut = Opened();
    Decoded all, pieces;
    whole.Decode(bytes, count, all);
    for (std::size_t at = 0; at < count; at += piece) {
        Decoded one;
        cut.Decode(bytes + at, std::min(piece, count - at), one);
        pieces.data += one.data;
        pieces.replies += one.replies;
    }
    if (all.data != pieces.data || all.replies != pieces.replies ||
        whole.Answers() != cut.Answers() || whole.ComPortRefused() != cut.ComPortRefused() ||
        whole.Overrun() != cut.Overrun())
        __builtin_trap();

    std::set<std::string> answered;
    if (all.replies.size() % 3 != 0)
        __builtin_trap();
    for (std::size_t at = 0; at < all.replies.size(); at += 3) {
        const std::string reply = all.replies.substr(at, 3);
        const auto verb         = static_cast<std::uint8_t>(reply[1]);
        if (static_cast<std::uint8_t>(reply[0]) != kIac || verb < kWill || verb > kDont ||
            !answered.insert(reply).second)
            __builtin_trap();
    }

    std::string escaped;
    for (std::size_t i = 0; i < count; ++i) {
        escaped += static_cast<char>(bytes[i]);
        if (bytes[i] == kIac)
            escaped += static_cast<char>(kIac);
    }
    Decoder plain;
    Decoded back;
    plain.Decode(reinterpret_cast<const std::uint8_t *>(escaped.data()), escaped.size(), back);
    if (back.data != std::string(reinterpret_cast<const char *>(bytes), count) ||
        !back.replies.empty() || plain.Overrun())
        __builtin_trap();
    return 0;
}
