// The device link's receive path fed any byte stream on a virtual line: the port set-up
// (echo, parameter fetch, firmware query), a RAW capture and live replies, as the program
// drives them, until the stream is used up.
#include "fake_line.h"

#include "com232.h"

namespace {

constexpr int kMaxLiveRounds           = 64;
constexpr std::size_t kLongestFirmware = 72;

job::Task<void> Drive(com232::Line &line, bool &ended) {
    co_await line.InitRS232(line.Port());
    if (line.Firmware().size() > kLongestFirmware)
        __builtin_trap();
    line.DetachReceiveCallback(); // a RAW capture
    for (int block = 0; block < 4; ++block)
        co_await line.ReadData64(block * com232::kBlockWords, com232::GraphSource::Raw);
    line.AttachReceiveCallback();
    for (int round = 0; round < kMaxLiveRounds && !fake_line::Drained(); ++round) {
        line.SendFrameWords(com232::Command::Live);
        const com232::WaitOutcome wait = co_await line.WaitRxFull();
        if (wait.replied() && !wait.reply)
            __builtin_trap();
    }
    ended = true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fake_line::Load(data, size);
    com232::Line line(1);
    bool ended = false;
    line.Queue(Drive(line, ended));
    // Every wait ends at its time-out at the latest: the jobs cannot stall.
    if (!fake_line::RunUntil([&] { return ended; }))
        __builtin_trap();
    return 0;
}
