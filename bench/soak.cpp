// Soak: the program's code (offscreen) against rmx7sim in its own process with line faults
// on, for a long run: Run is pressed again after every time-out, and every 30 s the run is
// stopped for a data capture and a parameter get. The program runs in a child process, so
// that a crash is counted and the child started again; the driver watches each callback
// against its time-out and kills a child whose callback overruns it by more than a second.
#include "app.h"
#include "com232.h"
#include "gui.h"
#include "platform/panel/events.h"
#include "platform/panel/panel.h"
#include "platform/serial/ports.h"
#include "sim_process.h"
#include "ui.h"

#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <signal.h>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

const std::vector<std::string> kFaults = {"--drop",     "0.05", "--garbage", "0.02",
                                          "--truncate", "0.02", "--latency", "10:10",
                                          "--seed",     "7"};
constexpr double kCaptureEvery         = 30.0;
constexpr double kBaselineAt           = 60.0; // the RSS every later value is compared with
constexpr double kGrace                = 1.0;  // a callback may overrun its time-out by this much
constexpr double kRunWindow      = 2.0; // the run loop ends this long after the latest request
constexpr int kWatchIntervalMs   = 100;
constexpr double kMaxRssGrowthMb = 1.0;
// A child still there this long after the end, outside any callback, is stuck as well.
constexpr double kEndGrace = 30.0;

// Written by the program's child process, read by the driver; survives a child's crash.
struct Shared {
    std::atomic<long> timeouts{0}, captures{0}, gets{0}, lateReturns{0};
    std::atomic<int> callback{0}; // nonzero while a watched callback runs
    std::atomic<std::int64_t> deadlineNs{0};
};
static_assert(std::atomic<std::int64_t>::is_always_lock_free);

double Now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void SetDeadline(Shared &shared, double at) {
    shared.deadlineNs = static_cast<std::int64_t>(at * 1e9);
}

double Deadline(const Shared &shared) {
    return static_cast<double>(shared.deadlineNs.load()) * 1e-9;
}

// The program of the child, on its offscreen panel.
app::Program *program = nullptr;

// A button's click, and the job it queues run to its end.
void Commit(int (*callback)(int, int, int, void *, int, int)) {
    callback(program->PanelHandle(), 0, kEventCommit, program, 0, 0);
    while (!program->Line().Idle())
        ProcessSystemEvents();
}

// --- The program's side, in the child ---

// Runs body as the watched callback with the given time-out. A callback that returns past
// its deadline counts as hung unless the driver has already claimed it.
template <typename Body> void Watched(Shared &shared, double timeout, Body body) {
    SetDeadline(shared, Now() + timeout + kGrace);
    shared.callback = 1;
    body();
    if (shared.callback.exchange(0) != 0 && Now() > Deadline(shared))
        ++shared.lateReturns;
}

// Timer() when the run began or last showed a reply; its next request follows at once.
double lastShown = 0;

void NoteReplyShown(const com232::LiveReply &, double now) {
    lastShown = now;
}

// The run loop's deadline moves with each request: it ends 2 s after the latest one.
void FollowRunWindow(Shared &shared) {
    const double windowEnd = Now() + (lastShown + kRunWindow - Timer());
    SetDeadline(shared, windowEnd + kGrace);
}

// One run until the next capture is due or the time is up; true when it timed out.
bool RunUntil(Shared &shared, double stopAt) {
    bool stopped = false;
    QTimer stop;
    stop.setSingleShot(true);
    QObject::connect(&stop, &QTimer::timeout, [&stopped] {
        stopped = true;
        app::CC_BTNStop(program->PanelHandle(), 0, kEventCommit, program, 0, 0);
    });
    stop.start(static_cast<int>(std::max(0.0, stopAt - Now()) * 1000));
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&shared] { FollowRunWindow(shared); });
    watch.start(kWatchIntervalMs);
    lastShown = Timer();
    com232::LiveListener shown;
    shown.reply  = NoteReplyShown;
    const int id = program->Line().AddLiveListener(std::move(shown));
    Watched(shared, kRunWindow, [] { Commit(app::CC_BTNRun); });
    program->Line().RemoveLiveListener(id);
    return !stopped;
}

void CaptureAndGet(Shared &shared, com232::GraphSource source) {
    SetCtrlVal(program->PanelHandle(), ui::RNGGraphSource, static_cast<int>(source));
    const int blocks = source == com232::GraphSource::Norm ? 2 : 4;
    Watched(shared, blocks * com232::kBlockTimeout + com232::kReplyTimeout,
            [] { Commit(app::CC_BTNData); });
    ++shared.captures;
    Watched(shared, com232::kReplyTimeout, [] { Commit(app::CC_BTNGet); });
    ++shared.gets;
}

[[noreturn]] void Program(int argc, char **argv, const std::string &pty, double end,
                          Shared &shared) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const int panel = StartEngine(argc, argv) ? app::LoadMainPanel() : -1;
    if (panel < 0)
        _exit(3);
    auto driven = std::make_unique<app::Program>(panel, "/tmp");
    program     = driven.get();
    PortTableAdd(1, pty);
    program->InitVars();
    Watched(shared, com232::kPortTimeout + com232::kEchoPause + 2 * com232::kReplyTimeout, [] {
        program->Queue(program->SetUpPort(1));
        while (!program->Line().Idle())
            ProcessSystemEvents();
    });
    double nextCapture         = Now() + kCaptureEvery;
    com232::GraphSource source = com232::GraphSource::Raw;
    while (Now() < end) {
        if (RunUntil(shared, std::min(nextCapture, end)))
            ++shared.timeouts;
        if (Now() >= nextCapture && Now() < end) {
            CaptureAndGet(shared, source);
            source      = source == com232::GraphSource::Raw ? com232::GraphSource::Norm
                                                             : com232::GraphSource::Raw;
            nextCapture = Now() + kCaptureEvery;
        }
    }
    program = nullptr;
    driven.reset();
    DiscardPanel(panel);
    StopEngine();
    _exit(0);
}

// --- The driver ---

double RssMb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;
    return 0;
}

struct Result {
    long crashes = 0, hangs = 0;
    double baselineMb = -1, peakMb = 0;
};

// Samples the child's memory: the baseline once, the peak from the baseline on.
void SampleRss(pid_t child, double elapsed, double baselineAt, Result &result) {
    const double rss = RssMb(child);
    if (rss <= 0 || elapsed < baselineAt)
        return;
    if (result.baselineMb < 0)
        result.baselineMb = rss;
    result.peakMb = std::max(result.peakMb, rss);
}

bool Overran(Shared &shared, double end) {
    const bool callbackLate = shared.callback != 0 && Now() > Deadline(shared);
    return (callbackLate && shared.callback.exchange(0) != 0) || Now() > end + kEndGrace;
}

// Watches one child to its end; true when it ended on its own at the end of the soak.
bool Supervise(pid_t child, Shared &shared, double start, double end, double baselineAt,
               Result &result) {
    for (;;) {
        int status     = 0;
        const pid_t at = waitpid(child, &status, WNOHANG);
        if (at == child) {
            const bool clean = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            if (!clean) {
                ++result.crashes;
                std::fprintf(stderr, "soak: the program ended with status %d\n", status);
            }
            return clean;
        }
        if (Overran(shared, end)) {
            ++result.hangs;
            std::fprintf(stderr, "soak: a callback overran its time-out; restarting\n");
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
            return false;
        }
        SampleRss(child, Now() - start, baselineAt, result);
        usleep(kWatchIntervalMs * 1000);
    }
}

void WriteJson(const std::string &path, const std::vector<std::pair<std::string, double>> &keys) {
    std::ofstream json(path);
    json << "{\n";
    for (std::size_t i = 0; i < keys.size(); ++i)
        json << "  \"" << keys[i].first << "\": " << keys[i].second
             << (i + 1 < keys.size() ? ",\n" : "\n");
    json << "}\n";
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: rmx7soak RMX7SIM OUTPUT.json [SECONDS]\n");
        return 2;
    }
    const std::string simBinary = argv[1], output = argv[2];
    const double seconds    = argc > 3 ? std::atof(argv[3]) : 600.0;
    const double baselineAt = std::min(kBaselineAt, seconds / 2);
    const std::string dir   = output.substr(0, output.find_last_of('/') + 1);

    auto *shared        = new (mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE,
                                    MAP_SHARED | MAP_ANONYMOUS, -1, 0)) Shared;
    const Simulator sim = StartSimulator(simBinary, kFaults, dir + "soak-exchanges.txt");
    if (sim.pid <= 0 || sim.pty.empty()) {
        std::fprintf(stderr, "rmx7soak: cannot start the simulator\n");
        return 1;
    }
    const double start = Now(), end = start + seconds;
    Result result;
    while (Now() < end) {
        const pid_t child = fork();
        if (child == 0)
            Program(argc, argv, sim.pty, end, *shared);
        if (Supervise(child, *shared, start, end, baselineAt, result))
            break;
    }
    StopProcess(sim.pid);

    long exchanges = 0;
    for (const Exchange &e : ReadLog(sim.log))
        exchanges += e.length > 0;
    const long hangs         = result.hangs + shared->lateReturns;
    const double rssGrowthMb = result.baselineMb < 0 ? 0 : result.peakMb - result.baselineMb;
    const std::vector<std::pair<std::string, double>> keys = {
        {"seconds", seconds},
        {"exchanges", static_cast<double>(exchanges)},
        {"timeouts", static_cast<double>(shared->timeouts)},
        {"captures", static_cast<double>(shared->captures)},
        {"gets", static_cast<double>(shared->gets)},
        {"crashes", static_cast<double>(result.crashes)},
        {"hangs", static_cast<double>(hangs)},
        {"rss_baseline_mb", result.baselineMb},
        {"rss_peak_mb", result.peakMb},
        {"rss_growth_mb", rssGrowthMb},
    };
    for (const auto &[key, value] : keys)
        std::printf("%-16s %12.3f\n", key.c_str(), value);
    WriteJson(output, keys);

    const bool met = result.crashes == 0 && hangs == 0 && rssGrowthMb <= kMaxRssGrowthMb;
    if (!met)
        std::fprintf(stderr, "soak: goals missed (crashes 0, hangs 0, rss_growth_mb <= %.0f)\n",
                     kMaxRssGrowthMb);
    return met ? 0 : 1;
}
