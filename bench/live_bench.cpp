// The program's figures against the controller simulator in its own process: live rate,
// CPU time, turnaround, capture times, start-up time, peak memory and the unpaced rate.
// The program code runs here (offscreen); rmx7sim paces the line at 19200 baud and logs
// every exchange with line-side timestamps.
#include "app.h"
#include "com232.h"
#include "gui.h"
#include "platform/panel/events.h"
#include "platform/panel/panel.h"
#include "platform/serial/ports.h"
#include "platform/serial/serial.h"
#include "record.h"
#include "report.h"
#include "sim_process.h"
#include "ui.h"

#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr double kByteSeconds   = 10.0 / 19200.0;
constexpr double kLiveLimitHz   = 1.0 / (72 * kByteSeconds);
constexpr double kRawCaptureMs  = (4 * (36 + 128) + 72) * kByteSeconds * 1000;
constexpr double kNormCaptureMs = (2 * (36 + 128) + 72) * kByteSeconds * 1000;
constexpr double kStartupLineMs = (72 + 72 + 108) * kByteSeconds * 1000 + 50;
constexpr int kCaptures         = 5;
constexpr int kStartups         = 5;
// The program and the bare peer take turns in slices of this length.
constexpr double kSliceSeconds = 2.0;
// The peer waits for the line to rest this long before its slice, so that a pause this
// long or longer parts two slices in the exchange log; within a slice the line never rests
// for as long as the shorter one.
constexpr double kPeerQuietSeconds = 0.1;
constexpr double kSliceGapSeconds  = 0.05;
constexpr int kReports             = 5;
constexpr double kReportLimitMs    = 1500;

double Median(std::vector<double> values) {
    return Percentile(std::move(values), 0.5);
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec * 1e-6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec * 1e-6;
}

double PeakRssMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

// The program the bench drives, on its offscreen panel.
app::Program *program = nullptr;

// Processes events until the line has no job left.
void Settle() {
    while (!program->Line().Idle())
        ProcessSystemEvents();
}

// A button's click, and the job it queues run to its end.
void Commit(int (*callback)(int, int, int, void *, int, int)) {
    callback(program->PanelHandle(), 0, kEventCommit, program, 0, 0);
    Settle();
}

// A live run of the given length; Stop ends it as the operator would.
void LiveRun(double seconds) {
    QTimer::singleShot(static_cast<int>(seconds * 1000), [] {
        app::CC_BTNStop(program->PanelHandle(), 0, kEventCommit, program, 0, 0);
    });
    Commit(app::CC_BTNRun);
}

void SetUpPort() {
    program->Queue(program->SetUpPort(1));
    Settle();
}

void ConnectTo(const std::string &pty) {
    CloseCom(1);
    PortTableAdd(1, pty);
    SetUpPort();
}

void ChooseSource(com232::GraphSource source) {
    SetCtrlVal(program->PanelHandle(), ui::RNGGraphSource, static_cast<int>(source));
}

double CaptureMs(com232::GraphSource source) {
    ChooseSource(source);
    std::vector<double> times;
    for (int i = 0; i < kCaptures; ++i) {
        const double start = Timer();
        Commit(app::CC_BTNData);
        times.push_back((Timer() - start) * 1000);
    }
    return Median(times);
}

// Report pressed to file written: both reads on the line, the capture there is, the panel's
// values and marks; the first of the process (fonts loaded) and the median of the others.
std::pair<double, double> ReportMs(const std::string &dir) {
    report::Request request;
    request.path      = dir + "report-bench.pdf";
    request.fromPanel = true;
    for (int word = 0; word < com232::PNUM; ++word)
        request.panel.push_back(program->Panel().PanelWordOf(word));
    request.capture     = program->Exports().LastCapture();
    request.captureTime = program->Exports().LastCaptureTime();
    std::vector<double> times;
    for (int i = 0; i < kReports; ++i) {
        const double start = Timer();
        bool ok            = false;
        program->Line().Queue([](report::Request asked, bool &made) -> job::Task<void> {
            made = (co_await report::MakeReport(program->Line(), std::move(asked))).outcome.ok();
        }(request, ok));
        Settle();
        if (!ok)
            return {-1, -1};
        times.push_back((Timer() - start) * 1000);
    }
    std::remove(request.path.c_str());
    const double first = times.front();
    times.erase(times.begin());
    return {first, Median(times)};
}

// Milliseconds from start to the program's last start-up status text in its trace,
// negative when it did not come within 10 s. InitVars, the echo, the fetch (three texts),
// the firmware query (two) and the closing text make eight status lines.
double WaitForStartup(const std::string &trace, std::chrono::steady_clock::time_point start) {
    for (;;) {
        std::ifstream in(trace);
        int statusLines = 0;
        for (std::string line; std::getline(in, line);)
            statusLines += line.find(" STATUS ") != std::string::npos;
        const auto now = std::chrono::steady_clock::now();
        if (statusLines >= 8)
            return std::chrono::duration<double, std::milli>(now - start).count();
        if (now - start > std::chrono::seconds(10))
            return -1;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

// Process start to the last start-up status text, which stands just before the panel
// is shown; the program itself, with its own trace.
double StartupMs(const std::string &scope, const std::string &pty, const std::string &trace) {
    std::vector<double> times;
    for (int i = 0; i < kStartups; ++i) {
        std::remove(trace.c_str());
        const auto start = std::chrono::steady_clock::now();
        const pid_t pid  = fork();
        if (pid == 0) {
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            const std::string port = "1=" + pty;
            execl(scope.c_str(), scope.c_str(), "--port", port.c_str(), "--trace", trace.c_str(),
                  static_cast<char *>(nullptr));
            _exit(127);
        }
        const double elapsed = WaitForStartup(trace, start);
        StopProcess(pid);
        if (elapsed >= 0)
            times.push_back(elapsed);
    }
    std::remove(trace.c_str());
    return Median(times);
}

struct LiveSeries {
    double rate = 0;                 // replies per second
    std::vector<double> turnarounds; // ms from a reply's last byte to the next request
};

// The run is the first unbroken series of live exchanges; the captures follow it.
LiveSeries FirstLiveSeries(const std::vector<Exchange> &log) {
    LiveSeries series;
    int replies  = 0;
    double first = -1, last = -1;
    std::size_t i = 0;
    while (i < log.size() && log[i].code != static_cast<int>(com232::Command::Live))
        ++i;
    for (; i < log.size() && log[i].code == static_cast<int>(com232::Command::Live); ++i) {
        if (log[i].length == 0)
            continue;
        ++replies;
        if (first < 0)
            first = log[i].requestFirst;
        last = log[i].replyLast;
        if (i + 1 < log.size() && log[i + 1].code == static_cast<int>(com232::Command::Live))
            series.turnarounds.push_back((log[i + 1].requestFirst - log[i].replyLast) * 1000);
    }
    series.rate = last > first ? replies / (last - first) : 0;
    return series;
}

// --- The program against the machine ---
// A bare peer answers every reply with the next live request at once, nothing of the
// program in between: the rate and turnaround this machine's ptys and scheduler allow. A
// virtual machine on a busy host stalls the pty's kernel worker for milliseconds at a
// time, and what the line loses to that no program wins back. So the program's live loop
// and the peer take turns on one simulator, a slice each (A B A B ...): both meet the same
// host, and the program is judged against the peer.

struct Request {
    unsigned char bytes[com232::kFrameLength];
};

// The live request the program sends, as the peer sends it too.
Request LiveRequest() {
    program->InitVars();
    const com232::Frame frame =
        com232::EncodeRequest(com232::Command::Live, program->Line().CopyVarsToPP());
    Request request;
    std::copy(frame.begin(), frame.end(), request.bytes);
    return request;
}

// The peer's slice on the pty the program has let go of: it first waits for the line to
// rest (a reply of the program's last request may still come), then exchanges live
// frames for seconds and stops after a whole reply.
void PeerSlice(const std::string &pty, const Request &request, double seconds) {
    const int fd = open(pty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios raw{};
    if (fd < 0 || tcgetattr(fd, &raw) != 0) {
        if (fd >= 0)
            close(fd);
        return;
    }
    cfmakeraw(&raw);
    cfsetspeed(&raw, B19200);
    tcsetattr(fd, TCSANOW, &raw);
    unsigned char reply[256];
    for (pollfd line{fd, POLLIN, 0};
         poll(&line, 1, static_cast<int>(kPeerQuietSeconds * 1000)) > 0;)
        (void)!read(fd, reply, sizeof reply);
    const double end = Timer() + seconds;
    int received     = 0;
    (void)!write(fd, request.bytes, com232::kFrameLength);
    for (;;) {
        pollfd line{fd, POLLIN, 0};
        poll(&line, 1, 100);
        const ssize_t count = read(fd, reply, sizeof reply);
        received += count > 0 ? static_cast<int>(count) : 0;
        if (received < com232::kReplyLength)
            continue;
        received = 0;
        if (Timer() >= end)
            break;
        (void)!write(fd, request.bytes, com232::kFrameLength);
    }
    close(fd);
}

struct Slice {
    int replies    = 0;
    double seconds = 0;              // the first request's first byte to the last reply's last
    std::vector<double> turnarounds; // ms
};

// The live exchanges of a sliced run, slice by slice: a slice ends at an exchange of
// another command (the program's port set-up) or where the line rested.
std::vector<Slice> Slices(const std::vector<Exchange> &log) {
    std::vector<Slice> slices;
    Slice slice;
    double first = -1, last = -1;
    const auto end = [&] {
        if (slice.replies > 0 && last > first) {
            slice.seconds = last - first;
            slices.push_back(slice);
        }
        slice = {};
        first = last = -1;
    };
    for (const Exchange &exchange : log) {
        const bool live = exchange.code == static_cast<int>(com232::Command::Live);
        if (!live || (last >= 0 && exchange.requestFirst - last > kSliceGapSeconds))
            end();
        if (!live || exchange.length == 0)
            continue;
        if (first < 0)
            first = exchange.requestFirst;
        else
            slice.turnarounds.push_back((exchange.requestFirst - last) * 1000);
        last = exchange.replyLast;
        ++slice.replies;
    }
    end();
    return slices;
}

// Every other slice, from the first (0: the program's) or the second (1: the peer's), as
// one series whose rate is over the time those slices took together.
LiveSeries EveryOther(const std::vector<Slice> &slices, std::size_t from) {
    LiveSeries joined;
    double replies = 0, seconds = 0;
    for (std::size_t i = from; i < slices.size(); i += 2) {
        replies += slices[i].replies;
        seconds += slices[i].seconds;
        joined.turnarounds.insert(joined.turnarounds.end(), slices[i].turnarounds.begin(),
                                  slices[i].turnarounds.end());
    }
    joined.rate = seconds > 0 ? replies / seconds : 0;
    return joined;
}

// --- Wake-ups, and the program on a display of its own ---
// The program pays for a real X server what it does not pay offscreen: the xcb
// platform, its painting into shared memory, the server's round trips. These figures
// put it on an Xvfb server that the bench starts, with no accessibility bus, the
// simulator in a process of its own.

constexpr double kIdleSeconds       = 10.0;
constexpr double kSettleSeconds     = 1.0; // after start-up, before the idle figure is taken
constexpr double kDisplayRunSeconds = 10.0;
constexpr double kShowSeconds       = 10.0; // for the window to show, or a key to be typed
constexpr double kPressedSeconds    = 0.5;  // Run pressed to the first second measured

// rmx7scope itself with its panel shown and nothing running: CPU fraction and
// main-thread wake-ups per second over kIdleSeconds, negative when it did not start.
std::pair<double, double> IdleOnDisplay(const std::string &scope, const std::string &pty,
                                        const std::string &display, const std::string &trace) {
    std::remove(trace.c_str());
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid  = fork();
    if (pid == 0) {
        UseDisplay(display);
        const std::string port = "1=" + pty;
        execl(scope.c_str(), scope.c_str(), "--port", port.c_str(), "--trace", trace.c_str(),
              static_cast<char *>(nullptr));
        _exit(127);
    }
    std::pair<double, double> idle{-1, -1};
    if (WaitForStartup(trace, start) >= 0) {
        std::this_thread::sleep_for(std::chrono::duration<double>(kSettleSeconds));
        const double cpu    = ProcessCpuSeconds(pid);
        const long switches = VoluntarySwitches(pid, pid);
        std::this_thread::sleep_for(std::chrono::duration<double>(kIdleSeconds));
        idle = {(ProcessCpuSeconds(pid) - cpu) / kIdleSeconds,
                (VoluntarySwitches(pid, pid) - switches) / kIdleSeconds};
    }
    StopProcess(pid);
    std::remove(trace.c_str());
    return idle;
}

// Runs a program to its end, or kills it after seconds: its exit status, -1 when it did
// not end by itself.
int RunBounded(std::vector<std::string> args, const std::string &log, const std::string &display,
               double seconds) {
    const pid_t pid = Spawn(std::move(args), log, display);
    int status      = 0;
    for (const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
         waitpid(pid, &status, WNOHANG) == 0;
         std::this_thread::sleep_for(std::chrono::milliseconds(10)))
        if (std::chrono::steady_clock::now() > end) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            return -1;
        }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct RunFigures {
    double cpuFraction = -1, wakeups = -1, rateRatio = 0;
};

// rmx7scope started as an operator starts it, its panel on the display and NORM its graph
// as it comes up, and Run pressed through the X server as a keyboard presses it: its
// mnemonic Alt+U, typed by xdotool into the window once the start-up's exchanges are over.
// Over kDisplayRunSeconds of the run, from half a second after the press: CPU of all its
// threads and its main thread's voluntary switches from /proc, as anyone watching the
// process sees them, and the live rate from the simulator's log over the same seconds.
RunFigures RunOnDisplay(const std::string &simBinary, const std::string &scope,
                        const std::string &display, const std::string &dir) {
    const std::string log = dir + "display-exchanges.txt", output = dir + "display-window.log";
    std::remove(output.c_str());
    Simulator sim   = StartSimulator(simBinary, {}, log);
    const pid_t pid = Spawn({scope, "--port", "1=" + sim.pty}, output, display);
    const auto wait = [](double seconds) {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    };
    const std::string found = dir + "display-window.txt";
    double from = 0, to = 0, cpu = 0;
    long switches = 0;
    std::string window;
    if (RunBounded({"xdotool", "search", "--sync", "--onlyvisible", "--pid", std::to_string(pid)},
                   found, display, kShowSeconds) == 0 &&
        std::getline(std::ifstream(found), window)) {
        wait(kSettleSeconds);
        if (RunBounded({"xdotool", "windowfocus", "--sync", window, "key", "alt+u"}, output,
                       display, kShowSeconds) == 0) {
            wait(kPressedSeconds);
            cpu      = ProcessCpuSeconds(pid);
            switches = VoluntarySwitches(pid, pid);
            from     = MonotonicNow();
            wait(kDisplayRunSeconds);
            to       = MonotonicNow();
            cpu      = ProcessCpuSeconds(pid) - cpu;
            switches = VoluntarySwitches(pid, pid) - switches;
        }
    }
    std::remove(found.c_str());
    StopProcess(pid);
    StopProcess(sim.pid);
    RunFigures figures;
    const double rate =
        RepliesPerSecond(ReadLog(log), static_cast<int>(com232::Command::Live), from, to);
    if (rate <= 0) {
        std::fprintf(stderr, "rmx7bench: no run on the display (see %s)\n", output.c_str());
        return figures;
    }
    figures.cpuFraction = cpu / (to - from);
    figures.wakeups     = switches / (to - from);
    figures.rateRatio   = rate / kLiveLimitHz;
    return figures;
}

struct DisplayFigures {
    RunFigures run;
    double idleCpu = -1, idleWakeups = -1;
};

DisplayFigures MeasureOnDisplay(const std::string &simBinary, const std::string &scope,
                                const std::string &dir) {
    DisplayFigures figures;
    const DisplayServer server = StartDisplayServer();
    if (server.pid < 0) {
        std::fprintf(stderr, "rmx7bench: cannot start Xvfb\n");
        return figures;
    }
    Simulator idleSim = StartSimulator(simBinary, {}, "");
    std::tie(figures.idleCpu, figures.idleWakeups) =
        IdleOnDisplay(scope, idleSim.pty, server.display, dir + "idle-trace.txt");
    StopProcess(idleSim.pid);
    figures.run = RunOnDisplay(simBinary, scope, server.display, dir);
    StopProcess(server.pid);
    return figures;
}

// A figure beside its limit; the table shows the ratio of the two where there is one.
struct LimitedFigure {
    std::string key;
    double value;
    std::string limit;
    double ratio; // value against the limit, negative when there is none
    std::string goal;
};

// --- Remote line: the same live run and start-up through ser2net's RFC 2217 accepter ---

// Debian's ser2net on loopback in front of the simulator's pty, at a port the system picked;
// its pid, or -1. It writes its pid file once it listens. Its character delay is off, as the
// README advises for a request-and-reply line: by default it holds every reply back for two
// character times (at least 1 ms) in case more follows.
pid_t StartSer2net(const std::string &pty, int &port, const std::string &pidFile) {
    port                     = FreeLoopbackPort();
    const std::string config = "connection: &line#  accepter: telnet(rfc2217),tcp,127.0.0.1," +
                               std::to_string(port) + "#  connector: serialdev," + pty +
                               ",local#  options:#    chardelay: false";
    std::remove(pidFile.c_str());
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(open("/dev/null", O_WRONLY), STDERR_FILENO);
        execlp("ser2net", "ser2net", "-n", "-u", "-P", pidFile.c_str(), "-Y", config.c_str(),
               static_cast<char *>(nullptr));
        _exit(127);
    }
    for (int waited = 0; access(pidFile.c_str(), F_OK) != 0; ++waited) {
        if (waited > 10000)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return pid;
}

std::vector<LimitedFigure> Ser2netFigures(const std::string &simBinary,
                                          const std::string &scopeBinary, const std::string &dir,
                                          double seconds) {
    const std::string log = dir + "ser2net-exchanges.txt";
    Simulator sim         = StartSimulator(simBinary, {}, log);
    int port              = 0;
    const pid_t ser2net   = StartSer2net(sim.pty, port, dir + "ser2net.pid");
    if (ser2net < 0) {
        std::fprintf(stderr, "rmx7bench: ser2net did not start (Debian package ser2net)\n");
        StopProcess(sim.pid);
        return {};
    }
    const std::string address = "rfc2217://127.0.0.1:" + std::to_string(port);
    const double startupMs    = StartupMs(scopeBinary, address, dir + "ser2net-trace.txt");
    ConnectTo(address);
    ChooseSource(com232::GraphSource::Norm);
    LiveRun(seconds);
    CloseCom(1);
    StopProcess(ser2net);
    StopProcess(sim.pid);
    std::remove((dir + "ser2net.pid").c_str());
    const double rate = FirstLiveSeries(ReadLog(log)).rate;
    return {
        {"live_rate_ratio_ser2net", rate / kLiveLimitHz, "1", -1, ">= 0.98"},
        {"startup_ms_ser2net", startupMs, "144 ms of line", startupMs / kStartupLineMs,
         "<= 500 ms"},
    };
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: rmx7bench RMX7SIM RMX7SCOPE OUTPUT.json [SECONDS]\n");
        return 2;
    }
    const std::string simBinary = argv[1], scopeBinary = argv[2], output = argv[3];
    const double seconds  = argc > 4 ? std::atof(argv[4]) : 20.0;
    const std::string dir = output.substr(0, output.find_last_of('/') + 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const int panel = StartEngine(argc, argv) ? app::LoadMainPanel() : -1;
    if (panel < 0) {
        std::fprintf(stderr, "rmx7bench: cannot load the panel\n");
        return 1;
    }
    auto driven = std::make_unique<app::Program>(panel, dir);
    program     = driven.get();

    // Start-up of the program itself.
    Simulator startupSim   = StartSimulator(simBinary, {}, "");
    const double startupMs = StartupMs(scopeBinary, startupSim.pty, dir + "startup-trace.txt");
    StopProcess(startupSim.pid);

    // The paced live run in slices, each followed by one of the bare peer; then the
    // captures. CPU time and wake-ups are the program's slices' alone.
    const std::string pacedLog = dir + "paced-exchanges.txt";
    Simulator pacedSim         = StartSimulator(simBinary, {}, pacedLog);
    const Request request      = LiveRequest();
    PortTableAdd(1, pacedSim.pty);
    program->InitVars();
    SetUpPort();
    ChooseSource(com232::GraphSource::Norm);
    const int sliceCount      = std::max(1, static_cast<int>(seconds / kSliceSeconds + 0.5));
    const double sliceSeconds = seconds / sliceCount;
    double runSeconds = 0, cpuSeconds = 0, switches = 0;
    for (int slice = 0; slice < sliceCount; ++slice) {
        const double cpuBefore    = CpuSeconds();
        const long switchesBefore = VoluntarySwitches(getpid(), getpid());
        const double runStart     = Timer();
        LiveRun(sliceSeconds);
        runSeconds += Timer() - runStart;
        cpuSeconds += CpuSeconds() - cpuBefore;
        switches += VoluntarySwitches(getpid(), getpid()) - switchesBefore;
        CloseCom(1);
        PeerSlice(pacedSim.pty, request, sliceSeconds);
        ConnectTo(pacedSim.pty);
    }
    const double cpuFraction = cpuSeconds / runSeconds;
    const double wakeups     = switches / runSeconds;
    const double captureRaw  = CaptureMs(com232::GraphSource::Raw);
    const double captureNorm = CaptureMs(com232::GraphSource::Norm);
    // Both reads on the paced line beside the capture just taken.
    const auto [reportFirstMs, reportMs] = ReportMs(dir);
    StopProcess(pacedSim.pid);

    // The captures' own live requests follow the slices.
    std::vector<Slice> slices = Slices(ReadLog(pacedLog));
    if (slices.size() < 2 * static_cast<std::size_t>(sliceCount))
        std::fprintf(stderr, "rmx7bench: %zu slices in the exchange log, %d expected\n",
                     slices.size(), 2 * sliceCount);
    slices.resize(std::min(slices.size(), 2 * static_cast<std::size_t>(sliceCount)));
    const LiveSeries paced  = EveryOther(slices, 0);
    const LiveSeries floor  = EveryOther(slices, 1);
    const double programP99 = Percentile(paced.turnarounds, 0.99);
    const double floorP99   = Percentile(floor.turnarounds, 0.99);

    // The same run again with every reply recorded to CSV.
    const std::string recordedLog = dir + "recorded-exchanges.txt";
    Simulator recorded            = StartSimulator(simBinary, {}, recordedLog);
    ConnectTo(recorded.pty);
    SetCtrlVal(panel, ui::CHKRecord, 1);
    LiveRun(seconds);
    SetCtrlVal(panel, ui::CHKRecord, 0);
    std::remove(program->Recorder().RecordingPath().c_str());
    StopProcess(recorded.pid);
    const double recordedRate = FirstLiveSeries(ReadLog(recordedLog)).rate;

    // The program's own cost: the same loop without pacing.
    const std::string unpacedLog = dir + "unpaced-exchanges.txt";
    Simulator unpaced            = StartSimulator(simBinary, {"--no-pacing"}, unpacedLog);
    ConnectTo(unpaced.pty);
    LiveRun(5.0);
    StopProcess(unpaced.pid);
    const double unpacedRate =
        RepliesPerSecond(ReadLog(unpacedLog), static_cast<int>(com232::Command::Live));

    const DisplayFigures display = MeasureOnDisplay(simBinary, scopeBinary, dir);

    std::vector<LimitedFigure> figures = {
        {"live_rate_vs_floor", floor.rate > 0 ? paced.rate / floor.rate : 0, "1", -1,
         ">= 0.995 of the peer's"},
        {"turnaround_excess_p99_ms", programP99 - floorP99, "0", -1, "<= 0.3 ms over the peer's"},
        {"live_rate_hz", paced.rate, "26.67 /s", paced.rate / kLiveLimitHz, "report"},
        {"live_rate_ratio", paced.rate / kLiveLimitHz, "1", -1, "report"},
        {"line_floor_ratio", floor.rate / kLiveLimitHz, "1", -1, "report: the bare peer"},
        {"line_floor_turnaround_p99_ms", floorP99, "0", -1, "report: the bare peer"},
        {"live_rate_ratio_recording", recordedRate / kLiveLimitHz, "1", -1, ">= 0.99"},
        {"cpu_fraction", cpuFraction, "0", -1, "<= 0.02 of one core"},
        {"wakeups_per_s", wakeups, "0", -1, "<= 150"},
        {"cpu_fraction_display", display.run.cpuFraction, "0", -1, "<= 0.035 of one core"},
        {"wakeups_per_s_display", display.run.wakeups, "0", -1, "<= 150"},
        {"live_rate_ratio_display", display.run.rateRatio, "1", -1, ">= 0.99"},
        {"idle_cpu_fraction", display.idleCpu, "0", -1, "<= 0.005 of one core"},
        {"idle_wakeups_per_s", display.idleWakeups, "0", -1, "report"},
        {"turnaround_p50_ms", Percentile(paced.turnarounds, 0.5), "0", -1, "report"},
        {"turnaround_p99_ms", programP99, "0", -1, "report"},
        {"capture_raw_ms", captureRaw, "379 ms", captureRaw / kRawCaptureMs, "<= 1.05 x limit"},
        {"capture_norm_ms", captureNorm, "208 ms", captureNorm / kNormCaptureMs, "<= 1.05 x limit"},
        {"report_first_ms", reportFirstMs, "1500 ms", reportFirstMs / kReportLimitMs, "report"},
        {"report_ms", reportMs, "1500 ms", reportMs / kReportLimitMs, "<= 1500 ms"},
        {"startup_ms", startupMs, "144 ms of line", startupMs / kStartupLineMs, "<= 500 ms"},
        {"peak_rss_mb", PeakRssMb(), "", -1, "<= 100 MB"},
        {"unpaced_rate_hz", unpacedRate, "none", -1, "report"},
    };
    const std::vector<LimitedFigure> remote = Ser2netFigures(simBinary, scopeBinary, dir, seconds);
    figures.insert(figures.end(), remote.begin(), remote.end());

    std::printf("%-26s %12s %16s %8s  %s\n", "figure", "value", "limit", "ratio", "goal");
    for (const LimitedFigure &f : figures) {
        char ratio[16] = "";
        if (f.ratio >= 0)
            std::snprintf(ratio, sizeof ratio, "%.3f", f.ratio);
        std::printf("%-26s %12.3f %16s %8s  %s\n", f.key.c_str(), f.value, f.limit.c_str(), ratio,
                    f.goal.c_str());
    }
    std::ofstream json(output);
    json << "{\n";
    for (std::size_t i = 0; i < figures.size(); ++i)
        json << "  \"" << figures[i].key << "\": " << figures[i].value
             << (i + 1 < figures.size() ? ",\n" : "\n");
    json << "}\n";

    program = nullptr;
    driven.reset();
    DiscardPanel(panel);
    StopEngine();
    return 0;
}
