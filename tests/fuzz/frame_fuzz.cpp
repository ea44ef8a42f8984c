// Frame decoding on both ends of the line, fed any bytes. The program's decoder takes
// every 36-byte slice and its encoder must give the slice back; the simulated
// controller's assembler cuts the stream into requests and the model answers each one.
#include "com232.h"
#include "model.h"

#include <algorithm>

namespace {

constexpr double kRequestSpacing = 0.04; // seconds between requests on the model's clock

// The program decodes a slice as the simulator does and encodes it back as the simulator
// builds it.
void CheckProgramDecoder(const std::uint8_t *frame) {
    const sim::Bytes slice(frame, frame + com232::kFrameLength);
    const com232::Reply decoded = com232::DecodeReply(frame);
    const sim::Words words      = sim::FrameWords(slice);
    if (!std::equal(words.begin(), words.end(), decoded.words.begin()) ||
        decoded.command != sim::FrameCommand(slice))
        __builtin_trap();
    const com232::Frame built =
        com232::EncodeRequest(static_cast<com232::Command>(decoded.command), decoded.words);
    if (sim::Bytes(built.begin(), built.end()) != sim::MakeFrame(sim::FrameCommand(slice), words))
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
    for (std::size_t at = 0; at + com232::kFrameLength <= size; at += com232::kFrameLength)
        CheckProgramDecoder(data + at);
    CheckSimulator(data, size);
    return 0;
}
