// The pty host: one thread polls the master, the stop pipe and a deadline timer; requests
// are framed and answered by the model, and the replies leave like bytes from a UART.
#include "pty_host.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <random>
#include <stdlib.h>
#include <sys/timerfd.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace sim {
namespace {

// 19200 baud with a start and a stop bit around each byte.
constexpr double kByteSeconds          = 10.0 / 19200.0;
constexpr std::size_t kFifoDepth       = 16;
constexpr std::size_t kReadChunk       = 4096;
constexpr std::size_t kMaxGarbageBytes = 8;
constexpr double kSecondsPerMs         = 1e-3;
constexpr long kNanosPerSecond         = 1000000000L;
constexpr char kWakeStop               = 's';
// A timer wakes the host this much before a reply's last group is due and the host waits
// out the rest on the clock: the wake-up of a sleeping thread alone is late by a tenth of
// a millisecond, and on a busy virtual machine by several. The last byte sets the line's
// pace; the groups before it leave when their timer fires, which costs no CPU.
constexpr double kEarlyWakeSeconds = 500e-6;

double MonotonicNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / kNanosPerSecond;
}

timespec ToTimespec(double seconds) {
    const double whole = std::floor(seconds);
    return {static_cast<time_t>(whole),
            std::min(static_cast<long>((seconds - whole) * kNanosPerSecond), kNanosPerSecond - 1)};
}

// Absolute deadlines on CLOCK_MONOTONIC, so the pacing does not drift with the wake-ups.
void ArmTimer(int timer, std::optional<double> deadline) {
    itimerspec setting{};
    if (deadline)
        setting.it_value = ToTimespec(*deadline);
    timerfd_settime(timer, TFD_TIMER_ABSTIME, &setting, nullptr);
}

void SetFlag(int fd, int getCommand, int setCommand, int flag) {
    fcntl(fd, setCommand, fcntl(fd, getCommand) | flag);
}

bool MakeRawLine(int slave) {
    termios raw{};
    if (tcgetattr(slave, &raw) != 0)
        return false;
    cfmakeraw(&raw);
    cfsetispeed(&raw, B19200);
    cfsetospeed(&raw, B19200);
    return tcsetattr(slave, TCSANOW, &raw) == 0;
}

struct PendingReply {
    Bytes bytes;
    double start        = 0; // the line starts carrying the reply
    std::size_t written = 0;
    Exchange exchange;
};

// The host thread's state: framing, the model, the faults and the replies on their way out.
class Server {
  public:
    using Recorder = std::function<void(const Exchange &)>;

    Server(const HostOptions &options, int master, Recorder recorder)
        : options_(options), master_(master), recorder_(std::move(recorder)),
          model_({options.variant, options.ackWrites, options.eepromPath, options.seed}),
          random_(options.seed), startTime_(MonotonicNow()) {}

    void ReadRequests();
    void WriteDueBytes();
    std::optional<double> NextDeadline() const;

  private:
    void Accept(const Bytes &frame, double firstByte, double lastByte);
    Bytes WithFaults(Bytes reply);
    void AddGarbage(Bytes &reply);
    bool Chance(double probability);
    double Latency();
    std::size_t GroupEnd(const PendingReply &reply) const;
    double Deadline(const PendingReply &reply, std::size_t end) const;
    double EarlyWake(const PendingReply &reply, std::size_t end) const;

    HostOptions options_;
    int master_;
    Recorder recorder_;
    ControllerModel model_;
    FrameAssembler assembler_;
    std::mt19937_64 random_;
    double startTime_;
    double frameFirstByte_ = 0;
    double lineFreeAt_     = 0;
    std::deque<PendingReply> replies_;
};

void Server::ReadRequests() {
    std::uint8_t chunk[kReadChunk];
    for (;;) {
        const ssize_t count = read(master_, chunk, sizeof chunk);
        if (count <= 0)
            return;
        const double now        = MonotonicNow();
        const bool frameWaiting = assembler_.Pending() > 0;
        assembler_.Feed(chunk, static_cast<std::size_t>(count));
        if (!frameWaiting)
            frameFirstByte_ = now;
        while (std::optional<Bytes> frame = assembler_.NextFrame()) {
            Accept(*frame, frameFirstByte_, now);
            frameFirstByte_ = now;
        }
    }
}

// The request is complete at the controller when its last byte has crossed the line; the
// reply waits for that, for the previous reply and for the latency asked for.
void Server::Accept(const Bytes &frame, double firstByte, double lastByte) {
    const double complete =
        options_.pacing ? std::max(firstByte + kFrameLength * kByteSeconds, lastByte) : lastByte;
    Exchange exchange;
    exchange.requestFirst = firstByte;
    exchange.requestLast  = lastByte;
    exchange.code         = FrameCommand(frame);
    Bytes reply           = WithFaults(model_.Reply(frame, complete - startTime_));
    if (reply.empty()) {
        recorder_(exchange);
        return;
    }
    const double start = std::max(complete, lineFreeAt_) + Latency();
    lineFreeAt_ =
        options_.pacing ? start + static_cast<double>(reply.size()) * kByteSeconds : start;
    replies_.push_back({std::move(reply), start, 0, exchange});
}

// Every request draws all its faults, so one seed gives one sequence whatever is switched on.
Bytes Server::WithFaults(Bytes reply) {
    const bool drop     = Chance(options_.dropProbability);
    const bool truncate = Chance(options_.truncateProbability);
    const bool garbage  = Chance(options_.garbageProbability);
    if (options_.silent || drop || reply.empty())
        return {};
    if (truncate && reply.size() > 1)
        reply.resize(std::uniform_int_distribution<std::size_t>(1, reply.size() - 1)(random_));
    if (garbage)
        AddGarbage(reply);
    return reply;
}

void Server::AddGarbage(Bytes &reply) {
    const std::size_t count =
        std::uniform_int_distribution<std::size_t>(1, kMaxGarbageBytes)(random_);
    std::uniform_int_distribution<int> byte(0, UCHAR_MAX);
    Bytes garbage(count);
    for (std::uint8_t &b : garbage)
        b = static_cast<std::uint8_t>(byte(random_));
    const bool before = std::bernoulli_distribution(0.5)(random_);
    reply.insert(before ? reply.begin() : reply.end(), garbage.begin(), garbage.end());
}

bool Server::Chance(double probability) {
    return std::uniform_real_distribution<double>(0.0, 1.0)(random_) < probability;
}

double Server::Latency() {
    double latencyMs = options_.latencyMs;
    if (options_.jitterMs > 0)
        latencyMs +=
            std::uniform_real_distribution<double>(-options_.jitterMs, options_.jitterMs)(random_);
    return std::max(latencyMs, 0.0) * kSecondsPerMs;
}

// Paced, the bytes leave in FIFO loads of up to 16, each when its last byte is due.
std::size_t Server::GroupEnd(const PendingReply &reply) const {
    if (!options_.pacing)
        return reply.bytes.size();
    return std::min(reply.written + kFifoDepth, reply.bytes.size());
}

double Server::Deadline(const PendingReply &reply, std::size_t end) const {
    if (!options_.pacing)
        return reply.start;
    return reply.start + static_cast<double>(end) * kByteSeconds;
}

// A reader that does not keep up loses bytes, as behind a real UART; the host never blocks.
void Server::WriteDueBytes() {
    while (!replies_.empty()) {
        PendingReply &reply   = replies_.front();
        const std::size_t end = GroupEnd(reply);
        const double due      = Deadline(reply, end);
        if (MonotonicNow() < due - EarlyWake(reply, end))
            return;
        while (MonotonicNow() < due) {
        }
        (void)!write(master_, reply.bytes.data() + reply.written, end - reply.written);
        const double writtenAt = MonotonicNow();
        if (reply.written == 0)
            reply.exchange.replyFirst = writtenAt;
        reply.written = end;
        if (end < reply.bytes.size())
            continue;
        reply.exchange.replyLast   = writtenAt;
        reply.exchange.replyLength = static_cast<int>(reply.bytes.size());
        recorder_(reply.exchange);
        replies_.pop_front();
    }
}

double Server::EarlyWake(const PendingReply &reply, std::size_t end) const {
    return options_.pacing && end == reply.bytes.size() ? kEarlyWakeSeconds : 0;
}

std::optional<double> Server::NextDeadline() const {
    if (replies_.empty())
        return std::nullopt;
    const PendingReply &reply = replies_.front();
    const std::size_t end     = GroupEnd(reply);
    return Deadline(reply, end) - EarlyWake(reply, end);
}

} // namespace

PtyHost::~PtyHost() {
    Stop();
}

bool PtyHost::Start(const HostOptions &options) {
    if (thread_.joinable())
        return false;
    char path[PATH_MAX] = {};
    int wake[2]         = {-1, -1};
    const bool opened   = openpty(&master_, &slave_, nullptr, nullptr, nullptr) == 0 &&
                        ptsname_r(master_, path, sizeof path) == 0 && MakeRawLine(slave_) &&
                        pipe2(wake, O_CLOEXEC | O_NONBLOCK) == 0;
    wakeRead_  = wake[0];
    wakeWrite_ = wake[1];
    if (opened)
        timer_ = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (!opened || timer_ < 0) {
        CloseAll();
        return false;
    }
    SetFlag(master_, F_GETFL, F_SETFL, O_NONBLOCK);
    SetFlag(master_, F_GETFD, F_SETFD, FD_CLOEXEC);
    SetFlag(slave_, F_GETFD, F_SETFD, FD_CLOEXEC);
    slavePath_ = path;
    {
        std::lock_guard lock(logMutex_);
        logging_ = options.logExchanges;
        log_.clear();
    }
    thread_ = std::thread(&PtyHost::Serve, this, options);
    return true;
}

void PtyHost::Stop() {
    if (thread_.joinable()) {
        (void)!write(wakeWrite_, &kWakeStop, 1);
        thread_.join();
    }
    CloseAll();
}

void PtyHost::Disconnect() {
    Stop();
}

std::vector<Exchange> PtyHost::Log() const {
    std::lock_guard lock(logMutex_);
    return log_;
}

void PtyHost::Serve(const HostOptions &options) {
    Server server(options, master_, [this](const Exchange &exchange) { Record(exchange); });
    for (;;) {
        ArmTimer(timer_, server.NextDeadline());
        pollfd fds[] = {{wakeRead_, POLLIN, 0}, {master_, POLLIN, 0}, {timer_, POLLIN, 0}};
        if (poll(fds, std::size(fds), -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents != 0)
            return;
        if (fds[1].revents & POLLIN)
            server.ReadRequests();
        else if (fds[1].revents != 0)
            return;
        if (fds[2].revents & POLLIN) {
            std::uint64_t expirations = 0;
            (void)!read(timer_, &expirations, sizeof expirations);
        }
        server.WriteDueBytes();
    }
}

void PtyHost::Record(const Exchange &exchange) {
    std::lock_guard lock(logMutex_);
    if (logging_)
        log_.push_back(exchange);
}

void PtyHost::CloseAll() {
    for (int *fd : {&master_, &slave_, &wakeRead_, &wakeWrite_, &timer_}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
}

} // namespace sim
