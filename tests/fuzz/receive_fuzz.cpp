// The device link's receive path fed any byte stream on a virtual line: the port set-up
// (echo, parameter fetch, firmware query), a RAW capture and live replies, as the program
// drives them, until the stream is used up.
#include "fake_line.h"

#include "com232.h"

#include <cstring>

namespace {

constexpr int kMaxLiveRounds = 64;

// Texts the link keeps must stay terminated inside their buffers whatever came in.
void CheckTexts() {
    using com232::vars;
    if (!std::memchr(vars.szStatus, 0, com232::kStatusSize) ||
        !std::memchr(vars.szVersion, 0, com232::kTextSize) || vars.nBytesR < 0 ||
        vars.nBytesR > com232::kBufferSize)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    com232::vars         = com232::Vars{};
    com232::vars.rx_flag = 1;
    fake_line::Load(data, size);
    com232::InitRS232(com232::vars.com);
    CheckTexts();
    com232::DetachReceiveCallback(); // a RAW capture
    for (int block = 0; block < 4; ++block)
        com232::ReadData64(block * com232::kBlockWords, 0, com232::kCmdDataBlock);
    com232::AttachReceiveCallback();
    CheckTexts();
    for (int round = 0; round < kMaxLiveRounds && !fake_line::Drained(); ++round) {
        com232::vars.rx_flag = 0; // a live request
        com232::FillTxBuf(com232::kCmdLive, com232::vars.pp);
        com232::WriteFrame();
        com232::WaitRxFull();
        CheckTexts();
    }
    return 0;
}
