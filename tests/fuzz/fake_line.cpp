// The serial, clock and timer services the device link calls, over an in-memory line, and a
// virtual event loop that drives the line's jobs from chunk to chunk and timer to timer.
#include "fake_line.h"

#include "com232.h"
#include "platform/panel/events.h"
#include "platform/panel/panel.h"
#include "platform/serial/ports.h"
#include "platform/serial/serial.h"
#include "platform/trace.h"

#include <algorithm>
#include <deque>
#include <map>
#include <vector>

namespace {

constexpr double kGapUnitSeconds = 0.01;
constexpr double kPollSeconds    = 0.001; // what one idle event pass or queue poll waits

struct PendingTimer {
    double due;
    void (*callback)(void *);
    void *data;
};

struct Line {
    std::vector<std::pair<double, std::vector<std::uint8_t>>> chunks; // arrival time, bytes
    std::size_t next = 0;
    std::deque<std::uint8_t> input;
    double now = 0, timeoutSeconds = 5.0;
    ComCallbackPtr callback = nullptr;
    void *callbackData      = nullptr;
    int notifyCount         = 1;
    std::map<int, PendingTimer> timers;
    int nextTimer = 1;
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

bool fake_line::RunUntil(const std::function<bool()> &done) {
    while (!done()) {
        if (line.callback && static_cast<int>(line.input.size()) >= line.notifyCount) {
            line.callback(1, kComEventReceive, line.callbackData);
            continue;
        }
        // The next thing that happens: a chunk arrives, or a timer is due.
        double next = line.next < line.chunks.size() ? line.chunks[line.next].first : -1;
        auto first  = line.timers.end();
        for (auto it = line.timers.begin(); it != line.timers.end(); ++it)
            if (first == line.timers.end() || it->second.due < first->second.due)
                first = it;
        if (first != line.timers.end() && (next < 0 || first->second.due <= next)) {
            const PendingTimer due = first->second;
            line.timers.erase(first);
            Advance(std::max(due.due - line.now, 0.0));
            due.callback(due.data);
        } else if (next >= 0) {
            Advance(next - line.now);
        } else {
            return false;
        }
    }
    return true;
}

int StartTimer(double seconds, void (*callback)(void *data), void *data) {
    const int id    = line.nextTimer++;
    line.timers[id] = {line.now + std::max(seconds, kPollSeconds), callback, data};
    return id;
}

void CancelTimer(int id) {
    line.timers.erase(id);
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

int InstallComCallback(int, int eventMask, int notifyCount, int, ComCallbackPtr callback,
                       void *data) {
    line.callback     = (eventMask & kComEventReceive) ? callback : nullptr;
    line.callbackData = data;
    line.notifyCount  = std::max(1, notifyCount);
    return 0;
}
