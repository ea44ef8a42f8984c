// Eight lines in one `rmx7ctl publish` process: eight bare controller peers on ptys of the
// bench's own, a mosquitto on the loopback that the bench starts, and the bench itself the
// subscriber of every line's live topic. A ninth peer line, driven at the same time by a bare
// request-and-reply loop of the bench, gives the rate a line allows in the same minute.
// What the one process costs for the eight: CPU of all its threads, main-thread wake-ups,
// peak memory.
#include "model.h"
#include "sim_process.h"
#include "subscriber.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr int kLines              = 8;
constexpr double kByteSeconds     = 10.0 / 19200.0;
constexpr double kLiveLimitHz     = 1.0 / (72 * kByteSeconds);
constexpr std::size_t kFifoDepth  = 16;   // a UART hands on its reply in groups this long
constexpr double kWaitSeconds     = 30.0; // for every line's first message
constexpr double kSettleSeconds   = 1.0;  // after that, before the steady run
constexpr double kEndSeconds      = 5.0;  // the peers outlive the run by this much at most
constexpr const char *kLiveFilter = "rmx7/+/live";

std::string LineName(int i) {
    return "line" + std::to_string(i + 1);
}

std::string LiveTopic(int i) {
    return "rmx7/" + LineName(i) + "/live";
}

// Controller peers on pseudo-terminals of the bench's own, served by one thread at the
// line's pace: a request's 36 bytes take their time at 19200 baud before the controller
// answers, and its reply goes out in groups of a UART's FIFO, each when its last byte would
// have crossed the line. A live request is answered with a frame of the peer's own; the
// start-up's echo, reads and firmware query as the controller model answers them. No
// exchange log and no faults: nothing the program would not meet on a quiet line.
class PeerLines {
  public:
    PeerLines() = default;
    ~PeerLines() { Stop(); }
    PeerLines(const PeerLines &)            = delete;
    PeerLines &operator=(const PeerLines &) = delete;

    bool Open(int count);
    const std::string &Path(int i) const { return lines_[i]->path; }
    // Serves until Stop, or for seconds at most.
    void Start(double seconds);
    void Stop();

  private:
    struct Pending {
        sim::Bytes bytes;
        double start        = 0; // the line starts carrying it
        std::size_t written = 0;
    };
    struct Line {
        int master = -1, slave = -1; // the slave held, so the master never sees a hang-up
        std::string path;
        sim::FrameAssembler assembler;
        sim::ControllerModel model{sim::ModelOptions{}};
        double frameFirst = 0, lineFreeAt = 0;
        std::deque<Pending> replies;
        std::uint16_t lives = 0;
    };

    void Serve(double until);
    void Read(Line &line);
    static void Accept(Line &line, const sim::Bytes &frame, double lastByte);
    static double GroupDue(const Pending &reply);
    static void WriteDue(Line &line, double now);

    std::vector<std::unique_ptr<Line>> lines_;
    int wake_[2] = {-1, -1};
    std::thread thread_;
};

bool PeerLines::Open(int count) {
    if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    for (int i = 0; i < count; ++i) {
        Line &line          = *lines_.emplace_back(std::make_unique<Line>());
        char path[PATH_MAX] = {};
        termios raw{};
        if (openpty(&line.master, &line.slave, nullptr, nullptr, nullptr) != 0 ||
            ptsname_r(line.master, path, sizeof path) != 0 || tcgetattr(line.slave, &raw) != 0)
            return false;
        cfmakeraw(&raw);
        cfsetspeed(&raw, B19200);
        tcsetattr(line.slave, TCSANOW, &raw);
        fcntl(line.master, F_SETFL, fcntl(line.master, F_GETFL) | O_NONBLOCK);
        fcntl(line.master, F_SETFD, FD_CLOEXEC);
        fcntl(line.slave, F_SETFD, FD_CLOEXEC);
        line.path = path;
    }
    return true;
}

void PeerLines::Start(double seconds) {
    thread_ = std::thread(&PeerLines::Serve, this, MonotonicNow() + seconds);
}

void PeerLines::Stop() {
    if (thread_.joinable()) {
        (void)!write(wake_[1], "s", 1);
        thread_.join();
    }
    for (auto &line : lines_)
        for (int fd : {line->master, line->slave})
            if (fd >= 0)
                close(fd);
    lines_.clear();
    for (int &fd : wake_)
        if (fd >= 0)
            close(std::exchange(fd, -1));
}

void PeerLines::Serve(double until) {
    std::vector<pollfd> fds(lines_.size() + 1);
    fds[0] = {wake_[0], POLLIN, 0};
    for (std::size_t i = 0; i < lines_.size(); ++i)
        fds[i + 1] = {lines_[i]->master, POLLIN, 0};
    for (double now = MonotonicNow(); now < until; now = MonotonicNow()) {
        double next = until;
        for (const auto &line : lines_)
            if (!line->replies.empty())
                next = std::min(next, GroupDue(line->replies.front()));
        const double wait = std::max(0.0, next - now);
        const timespec timeout{static_cast<time_t>(wait),
                               static_cast<long>((wait - static_cast<time_t>(wait)) * 1e9)};
        if (ppoll(fds.data(), fds.size(), &timeout, nullptr) < 0 && errno != EINTR)
            return;
        if (fds[0].revents != 0)
            return;
        for (std::size_t i = 0; i < lines_.size(); ++i)
            if (fds[i + 1].revents & POLLIN)
                Read(*lines_[i]);
        now = MonotonicNow();
        for (const auto &line : lines_)
            WriteDue(*line, now);
    }
}

void PeerLines::Read(Line &line) {
    std::uint8_t chunk[512];
    for (ssize_t count; (count = read(line.master, chunk, sizeof chunk)) > 0;) {
        const double now = MonotonicNow();
        if (line.assembler.Pending() == 0)
            line.frameFirst = now;
        line.assembler.Feed(chunk, static_cast<std::size_t>(count));
        while (std::optional<sim::Bytes> frame = line.assembler.NextFrame()) {
            Accept(line, *frame, now);
            line.frameFirst = now;
        }
    }
}

void PeerLines::Accept(Line &line, const sim::Bytes &frame, double lastByte) {
    const double complete = std::max(line.frameFirst + sim::kFrameLength * kByteSeconds, lastByte);
    sim::Bytes reply;
    if (sim::FrameCommand(frame) == sim::kLiveValues) {
        const std::uint16_t moving = 400 + line.lives++ % 64;
        reply = sim::MakeFrame(sim::kLiveValues, {moving, 500, 450, 800, 100, 520, 480, 510, 1});
    } else {
        reply = line.model.Reply(frame, complete);
    }
    if (reply.empty())
        return;
    const double start = std::max(complete, line.lineFreeAt);
    line.lineFreeAt    = start + static_cast<double>(reply.size()) * kByteSeconds;
    line.replies.push_back({std::move(reply), start, 0});
}

double PeerLines::GroupDue(const Pending &reply) {
    const std::size_t end = std::min(reply.written + kFifoDepth, reply.bytes.size());
    return reply.start + static_cast<double>(end) * kByteSeconds;
}

void PeerLines::WriteDue(Line &line, double now) {
    while (!line.replies.empty() && GroupDue(line.replies.front()) <= now) {
        Pending &reply        = line.replies.front();
        const std::size_t end = std::min(reply.written + kFifoDepth, reply.bytes.size());
        (void)!write(line.master, reply.bytes.data() + reply.written, end - reply.written);
        reply.written = end;
        if (end == reply.bytes.size())
            line.replies.pop_front();
    }
}

struct LineRate {
    std::string topic;
    double hz = 0; // 0 when fewer than two messages came
};

// Each line's live messages per second at the subscriber, from the first to the last
// taken within [from, to].
std::vector<LineRate> RatesOf(const std::vector<Receipt> &receipts, double from, double to) {
    struct Span {
        int count    = 0;
        double first = 0, last = 0;
    };
    std::map<std::string, Span> spans;
    for (int i = 0; i < kLines; ++i)
        spans[LiveTopic(i)];
    for (const Receipt &r : receipts) {
        const auto span = spans.find(r.topic);
        if (r.at < from || r.at > to || span == spans.end())
            continue;
        if (span->second.count++ == 0)
            span->second.first = r.at;
        span->second.last = r.at;
    }
    std::vector<LineRate> rates;
    for (const auto &[topic, span] : spans)
        rates.push_back({topic, span.count > 1 && span.last > span.first
                                    ? (span.count - 1) / (span.last - span.first)
                                    : 0});
    return rates;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: rmx7linesbench RMX7CTL OUTPUT.json [SECONDS]\n");
        return 2;
    }
    const std::string ctl = argv[1], output = argv[2];
    const double seconds  = argc > 3 ? std::atof(argv[3]) : 20.0;
    const std::string dir = output.substr(0, output.find_last_of('/') + 1);
    signal(SIGPIPE, SIG_IGN);

    const int port                 = FreeLoopbackPort();
    const std::string brokerConfig = dir + "lines-broker.conf",
                      brokerLog = dir + "lines-broker.log", publishLog = dir + "lines-publish.log",
                      stateDir = dir + "lines-state";
    for (const std::string &log : {brokerLog, publishLog})
        std::remove(log.c_str());
    std::filesystem::remove_all(stateDir);
    WriteBrokerConfig(brokerConfig, port);
    const pid_t broker = StartBroker(brokerConfig, brokerLog);

    Subscriber sub(kLiveFilter);
    PeerLines peers;
    bool ran = sub.Connect(port, 5) && peers.Open(kLines + 1);
    if (!ran) {
        std::fprintf(stderr, "rmx7linesbench: no broker on port %d, or no pty\n", port);
        StopProcess(broker);
        return 1;
    }
    peers.Start(kWaitSeconds + kSettleSeconds + seconds + kEndSeconds);
    std::vector<std::string> args = {
        ctl,       "--quiet", "publish", "--broker", "mqtt://127.0.0.1:" + std::to_string(port),
        "--state", stateDir};
    for (int i = 0; i < kLines; ++i) {
        args.push_back("--line");
        args.push_back(LineName(i) + "=" + peers.Path(i));
    }
    const pid_t publisher = Spawn(args, publishLog);

    // Every line heard from, then a moment for the steady run.
    const std::vector<Receipt> &got = sub.Receipts();
    ran                             = sub.Pump(kWaitSeconds, [&] {
        const double now = MonotonicNow();
        for (const LineRate &line : RatesOf(got, 0, now))
            if (line.hz == 0)
                return false;
        return true;
    });
    sub.Pump(kSettleSeconds);

    // The steady run, the bare loop on the ninth line beside it.
    const double cpuBefore    = ProcessCpuSeconds(publisher);
    const long switchesBefore = VoluntarySwitches(publisher, publisher);
    const double from         = MonotonicNow();
    double bareHz             = 0;
    std::thread bare([&] { bareHz = BareLiveRate(peers.Path(kLines), seconds); });
    sub.Pump(seconds);
    const double to          = MonotonicNow();
    const double cpuFraction = (ProcessCpuSeconds(publisher) - cpuBefore) / (to - from);
    const double wakeups = (VoluntarySwitches(publisher, publisher) - switchesBefore) / (to - from);
    const double peakMb  = PeakRssMb(publisher);
    bare.join();

    StopProcess(publisher);
    peers.Stop();
    StopProcess(broker);
    std::filesystem::remove_all(stateDir);

    const std::vector<LineRate> rates = RatesOf(got, from, to);
    const LineRate slowest =
        *std::min_element(rates.begin(), rates.end(),
                          [](const LineRate &a, const LineRate &b) { return a.hz < b.hz; });
    for (const LineRate &line : rates)
        std::printf("%-26s %12.3f /s\n", line.topic.c_str(), line.hz);
    WriteFigures(
        {
            {"lines8_rate_ratio", bareHz > 0 ? slowest.hz / bareHz : 0,
             ">= 0.99 of the bare loop's"},
            {"lines8_slowest_rate_hz", slowest.hz, "report"},
            {"lines8_bare_rate_hz", bareHz, "report: the line's limit now"},
            {"lines8_bare_ratio", bareHz / kLiveLimitHz, "report: of 26.67 /s"},
            {"lines8_cpu_fraction", cpuFraction, "<= 0.06 of one core"},
            {"lines8_wakeups_per_s", wakeups, "report"},
            {"lines8_peak_rss_mb", peakMb, "<= 60 MB"},
        },
        output);
    return ran && slowest.hz > 0 ? 0 : 1;
}
