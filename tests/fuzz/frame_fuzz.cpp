// Frame decoding on both ends of the line, fed any bytes. The program's decoder takes
// every 36-byte slice and its encoder must give the slice back; the simulated
// controller's assembler cuts the stream into requests and the model answers each one.
#include "com232.h"
#include "model.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr double kRequestSpacing = 0.04; // seconds between requests on the model's clock

std::uint16_t WordAt(const std::uint8_t *bytes, int offset) {
    return static_cast<std::uint16_t>(bytes[offset] << 8 | bytes[offset + 1]);
}

void CheckProgramDecoder(const std::uint8_t *frame) {
    using com232::vars;
    std::memcpy(vars.szReadBuf, frame, com232::kFrameLength);
    com232::GetRxBuf(com232::PNUM);
    if (vars.order != WordAt(frame, 2))
        __builtin_trap();
    for (int i = 0; i < com232::PNUM; ++i)
        if (vars.pp[i] != WordAt(frame, 4 + 2 * i))
            __builtin_trap();
    com232::FillTxBuf(vars.order, vars.pp);
    if (std::memcmp(vars.szWriteBuf + 2, frame + 2, com232::kFrameLength - 2) != 0 ||
        WordAt(vars.szWriteBuf, 0) != vars.sync)
        __builtin_trap();
}

bool PlausibleReplyLength(std::size_t length) {
    return length == 0 || length == sim::kFrameLength || length == sim::kFirmwareLength100 ||
           length == sim::kBlockLength;
}

void CheckSimulator(const std::uint8_t *data, std::size_t size) {
    sim::ControllerModel model(sim::ModelOptions{});
    sim::FrameAssembler assembler;
    // Pieces of varying size, as reads from the line come.
    const std::size_t piece = size > 0 ? data[0] % 40 + 1 : 1;
    double t                = 0;
    for (std::size_t at = 0; at < size; at += piece) {
        assembler.Feed(data + at, std::min(piece, size - at));
        while (auto frame = assembler.NextFrame()) {
            if (frame->size() != sim::kFrameLength || (*frame)[0] != sim::kSyncHigh ||
                (*frame)[1] != sim::kSyncLow)
                __builtin_trap();
            t += kRequestSpacing;
            if (!PlausibleReplyLength(model.Reply(*frame, t).size()))
                __builtin_trap();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    com232::vars = com232::Vars{};
    for (std::size_t at = 0; at + com232::kFrameLength <= size; at += com232::kFrameLength)
        CheckProgramDecoder(data + at);
    CheckSimulator(data, size);
    return 0;
}
