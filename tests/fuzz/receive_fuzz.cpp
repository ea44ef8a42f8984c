// The device link's receive path fed any byte stream on a virtual line: the port set-up
// (echo, parameter fetch, firmware query), a RAW capture and live replies, as the program
// drives them, until the stream is used up.
#include "fake_line.h"

#include "com232.h"

namespace {

constexpr int kMaxLiveRounds           = 64;
constexpr std::size_t kLongestFirmware = 72;

void CheckFirmware() {
    if (com232::Firmware().size() > kLongestFirmware)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    com232::InitVars();
    fake_line::Load(data, size);
    com232::InitRS232(com232::Port());
    CheckFirmware();
    com232::DetachReceiveCallback(); // a RAW capture
    for (int block = 0; block < 4; ++block)
        com232::ReadData64(block * com232::kBlockWords, 0, com232::kCmdDataBlock);
    com232::AttachReceiveCallback();
    for (int round = 0; round < kMaxLiveRounds && !fake_line::Drained(); ++round) {
        com232::SendFrameWords(com232::kCmdLive);
        if (com232::WaitRxFull().replied() && !com232::TakeLiveReply())
            __builtin_trap();
    }
    return 0;
}
