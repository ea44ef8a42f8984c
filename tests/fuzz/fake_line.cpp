// The serial, clock, status and tooltip services the device link calls, over an in-memory line.
#include "fake_line.h"

#include "gui.h"
#include "platform/events.h"
#include "platform/panel.h"
#include "platform/serial.h"

#include "com232.h"

#include <algorithm>
#include <deque>
#include <vector>

namespace fake_line {
namespace {

constexpr double kGapUnitSeconds = 0.01;
constexpr double kPollSeconds    = 0.001; // what one idle event pass or queue poll waits
constexpr double kDefaultTimeout = 5.0;   // a port's read time-out until SetComTime

struct Chunk {
    double at = 0;
    std::vector<std::uint8_t> bytes;
};

struct Line {
    std::vector<Chunk> chunks;
    std::size_t next = 0;
    std::deque<std::uint8_t> input;
    double now              = 0;
    double timeoutSeconds   = kDefaultTimeout;
    ComCallbackPtr callback = nullptr;
    void *callbackData      = nullptr;
    int mask                = 0;
    int notifyCount         = 1;
    std::string status;
};

Line line;

void Advance(double seconds) {
    line.now += seconds;
    for (; line.next < line.chunks.size() && line.chunks[line.next].at <= line.now; ++line.next)
        line.input.insert(line.input.end(), line.chunks[line.next].bytes.begin(),
                          line.chunks[line.next].bytes.end());
}

int Take(unsigned char *buffer, int count) {
    const int n = std::min(count, static_cast<int>(line.input.size()));
    std::copy_n(line.input.begin(), n, buffer);
    line.input.erase(line.input.begin(), line.input.begin() + n);
    return n;
}

} // namespace

void Load(const std::uint8_t *schedule, std::size_t size) {
    line          = Line{};
    double at     = 0;
    std::size_t i = 0;
    while (i + 2 <= size) {
        at += schedule[i] * kGapUnitSeconds;
        const std::size_t length = std::min<std::size_t>(schedule[i + 1], size - i - 2);
        line.chunks.push_back({at, {schedule + i + 2, schedule + i + 2 + length}});
        i += 2 + length;
    }
    Advance(0);
}

bool Drained() {
    return line.next == line.chunks.size() && line.input.empty();
}

const std::string &LastStatus() {
    return line.status;
}

} // namespace fake_line

using fake_line::line;

int OpenComConfig(int, const char *, long, int, int, int, int, int) {
    return 0;
}

int CloseCom(int) {
    line.callback = nullptr;
    return 0;
}

int SetComTime(int, double timeoutSeconds) {
    line.timeoutSeconds = timeoutSeconds;
    return 0;
}

int SetCTSMode(int, int) {
    return 0;
}

int FlushInQ(int) {
    line.input.clear();
    return 0;
}

int FlushOutQ(int) {
    return 0;
}

int ComWrt(int, const unsigned char *, int count) {
    return count;
}

// Waits from chunk to chunk instead of in polling steps: the result is the same.
int ComRd(int, unsigned char *buffer, int count) {
    const double deadline = line.now + line.timeoutSeconds;
    int received          = fake_line::Take(buffer, count);
    while (received < count && line.next < line.chunks.size() &&
           line.chunks[line.next].at <= deadline) {
        fake_line::Advance(line.chunks[line.next].at - line.now);
        received += fake_line::Take(buffer + received, count - received);
    }
    if (received < count)
        line.now = std::max(line.now, deadline);
    return received;
}

int GetInQLen(int) {
    return static_cast<int>(line.input.size());
}

// Sleeps to the next chunk or the end of the wait, whichever comes first.
int WaitForInQ(int, double timeoutSeconds) {
    const double end = line.now + std::max(timeoutSeconds, fake_line::kPollSeconds);
    const double next =
        line.next < line.chunks.size() ? std::min(line.chunks[line.next].at, end) : end;
    fake_line::Advance(next - line.now);
    return static_cast<int>(line.input.size());
}

int InstallComCallback(int, int eventMask, int notifyCount, int, ComCallbackPtr callback,
                       void *callbackData) {
    const bool detach = eventMask == 0 || !callback;
    line.callback     = detach ? nullptr : callback;
    line.callbackData = callbackData;
    line.mask         = eventMask;
    line.notifyCount  = std::max(1, notifyCount);
    return 0;
}

double Timer() {
    return line.now;
}

void Delay(double seconds) {
    fake_line::Advance(std::max(seconds, 0.0));
}

// One delivery per pass at most, as from the real port's queued event.
int ProcessSystemEvents() {
    fake_line::Advance(fake_line::kPollSeconds);
    if (line.callback && (line.mask & kComEventReceive) &&
        static_cast<int>(line.input.size()) >= line.notifyCount)
        line.callback(com232::vars.com, kComEventReceive, line.callbackData);
    return 0;
}

const char *GetOpenDiagnosis() {
    return "";
}

int SetCtrlAttribute(int, int, int, const char *) {
    return 0;
}

namespace gui {

Vars vars;

void ShowStatus(const char *text) {
    line.status = text;
}

// The parameter fetch as the panel code runs it, less the panel.
void PushGET(int target) {
    using namespace com232;
    com232::Vars &link = com232::vars;
    if (target == DATFILE)
        return;
    CopyVarsToPP();
    FlushBoth(link.com);
    FillTxBuf(target == RAM ? kCmdReadRam : kCmdReadEeprom, link.pp);
    link.rx_flag = 0;
    WriteFrame();
    WaitRxFull();
    if (link.rx_flag == 1) {
        GetRxBuf(PNUM);
        CopyPPtoVars();
    }
}

} // namespace gui
