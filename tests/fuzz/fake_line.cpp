// The serial and clock services the device link calls, over an in-memory line.
#include "fake_line.h"

#include "com232.h"
#include "platform/panel/events.h"
#include "platform/panel/panel.h"
#include "platform/serial/ports.h"
#include "platform/serial/serial.h"
#include "platform/trace.h"

#include <algorithm>
#include <deque>
#include <vector>

namespace {

constexpr double kGapUnitSeconds = 0.01;
constexpr double kPollSeconds    = 0.001; // what one idle event pass or queue poll waits

struct Line {
    std::vector<std::pair<double, std::vector<std::uint8_t>>> chunks; // arrival time, bytes
    std::size_t next = 0;
    std::deque<std::uint8_t> input;
    double now = 0, timeoutSeconds = 5.0;
    ComCallbackPtr callback = nullptr;
    void *callbackData      = nullptr;
    int notifyCount         = 1;
} line;

void Advance(double seconds) {
    line.now += seconds;
    for (; line.next < line.chunks.size() && line.chunks[line.next].first <= line.now; ++line.next)
        line.input.insert(line.input.end(), line.chunks[line.next].second.begin(),
                          line.chunks[line.next].second.end());
}

int Take(unsigned char *buffer, int count) {
    const int n = std::min(count, static_cast<int>(line.input.size()));
    std::copy_n(line.input.begin(), n, buffer);
    line.input.erase(line.input.begin(), line.input.begin() + n);
    return n;
}

} // namespace

void fake_line::Load(const std::uint8_t *schedule, std::size_t size) {
    line      = Line{};
    double at = 0;
    for (std::size_t i = 0; i + 2 <= size; i += 2 + schedule[i + 1]) {
        at += schedule[i] * kGapUnitSeconds;
        const std::size_t length = std::min<std::size_t>(schedule[i + 1], size - i - 2);
        line.chunks.push_back({at, {schedule + i + 2, schedule + i + 2 + length}});
    }
    Advance(0);
}

bool fake_line::Drained() {
    return line.next == line.chunks.size() && line.input.empty();
}

int OpenComConfig(int, const char *, long, int, int, int, int, int) {
    return 0;
}
int CloseCom(int) {
    return 0;
}
int SetCTSMode(int, int) {
    return 0;
}
int FlushOutQ(int) {
    return 0;
}
int ComWrt(int, const unsigned char *, int count) {
    return count;
}
const char *GetOpenDiagnosis() {
    return "";
}
const char *GetLostDiagnosis(int) {
    return "";
}
std::string PortDevice(int) {
    return {};
}
void TraceDiagnosis(const char *) {}
double Timer() {
    return line.now;
}
void Delay(double seconds) {
    Advance(std::max(seconds, 0.0));
}

int SetComTime(int, double timeoutSeconds) {
    line.timeoutSeconds = timeoutSeconds;
    return 0;
}

int FlushInQ(int) {
    line.input.clear();
    return 0;
}

// Waits from chunk to chunk instead of in polling steps: the result is the same.
int ComRd(int, unsigned char *buffer, int count) {
    const double deadline = line.now + line.timeoutSeconds;
    int received          = Take(buffer, count);
    while (received < count && line.next < line.chunks.size() &&
           line.chunks[line.next].first <= deadline) {
        Advance(line.chunks[line.next].first - line.now);
        received += Take(buffer + received, count - received);
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
    const double end = line.now + std::max(timeoutSeconds, kPollSeconds);
    const double next =
        line.next < line.chunks.size() ? std::min(line.chunks[line.next].first, end) : end;
    Advance(next - line.now);
    return static_cast<int>(line.input.size());
}

int InstallComCallback(int, int eventMask, int notifyCount, int, ComCallbackPtr callback,
                       void *data) {
    line.callback     = (eventMask & kComEventReceive) ? callback : nullptr;
    line.callbackData = data;
    line.notifyCount  = std::max(1, notifyCount);
    return 0;
}

// One delivery per pass at most, as from the real port's queued event.
int ProcessSystemEvents() {
    Advance(kPollSeconds);
    if (line.callback && static_cast<int>(line.input.size()) >= line.notifyCount)
        line.callback(com232::Port(), kComEventReceive, line.callbackData);
    return 0;
}
