// What the benchmark programs share: rmx7sim in a process of its own and its exchange log,
// the other programs and servers they start, a bare live loop, what a process costs, and
// the figures a benchmark reports.
#include "sim_process.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kFrameLength    = 36;
constexpr int kLiveCommand    = 8;
constexpr int kReplyWaitMs    = 2000;
constexpr const char *kBroker = "/usr/sbin/mosquitto";
constexpr const char *kScreen = "1280x1024x24";

} // namespace

Simulator StartSimulator(const std::string &binary, const std::vector<std::string> &extra,
                         const std::string &log) {
    int out[2];
    if (pipe(out) != 0)
        return {};
    Simulator sim;
    sim.log = log;
    sim.pid = fork();
    if (sim.pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        std::vector<std::string> args = {binary};
        args.insert(args.end(), extra.begin(), extra.end());
        if (!log.empty()) {
            args.push_back("--log");
            args.push_back(log);
        }
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(binary.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n')
        sim.pty += c;
    close(out[0]);
    return sim;
}

void StopProcess(pid_t pid) {
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

std::vector<Exchange> ReadLog(const std::string &path) {
    std::vector<Exchange> log;
    std::ifstream in(path);
    Exchange e{};
    while (in >> e.requestFirst >> e.requestLast >> e.replyFirst >> e.replyLast >> e.code >>
           e.length)
        log.push_back(e);
    return log;
}

double RepliesPerSecond(const std::vector<Exchange> &log, int code) {
    int replies  = 0;
    double first = -1, last = -1;
    for (const Exchange &e : log) {
        if (e.code != code || e.length == 0)
            continue;
        ++replies;
        if (first < 0)
            first = e.requestFirst;
        last = e.replyLast;
    }
    return last > first ? replies / (last - first) : 0;
}

double RepliesPerSecond(const std::vector<Exchange> &log, int code, double from, double to) {
    int replies  = 0;
    double first = -1, last = -1;
    for (const Exchange &e : log) {
        if (e.code != code || e.length == 0 || e.requestFirst < from || e.replyLast > to)
            continue;
        ++replies;
        if (first < 0)
            first = e.requestFirst;
        last = e.replyLast;
    }
    return replies > 1 && last > first ? replies / (last - first) : 0;
}

double MonotonicNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec + now.tv_nsec * 1e-9;
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()))];
}

double BareLiveRate(const std::string &pty, double seconds) {
    const int fd = open(pty.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    if (fd < 0 || tcgetattr(fd, &raw) != 0) {
        if (fd >= 0)
            close(fd);
        return 0;
    }
    cfmakeraw(&raw);
    tcsetattr(fd, TCSANOW, &raw);
    const unsigned char request[kFrameLength] = {0x00, 0x55, 0x00, kLiveCommand};
    int replies                               = 0;
    double first = -1, last = 0;
    for (const double end = MonotonicNow() + seconds; MonotonicNow() < end;) {
        const double sent = MonotonicNow();
        int got           = 0;
        if (write(fd, request, kFrameLength) != kFrameLength)
            break;
        for (pollfd wait{fd, POLLIN, 0}; got < kFrameLength && poll(&wait, 1, kReplyWaitMs) == 1;) {
            unsigned char bytes[kFrameLength];
            const ssize_t n = read(fd, bytes, kFrameLength - got);
            got += n > 0 ? static_cast<int>(n) : 0;
        }
        if (got < kFrameLength)
            break;
        first = first < 0 ? sent : first;
        last  = MonotonicNow();
        ++replies;
    }
    close(fd);
    return last > first ? replies / (last - first) : 0;
}

int FreeLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr *>(&address), length);
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

void UseDisplay(const std::string &display) {
    setenv("DISPLAY", display.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/rmx7bench", 1);
    unsetenv("AT_SPI_BUS_ADDRESS");
    unsetenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON");
}

pid_t Spawn(std::vector<std::string> args, const std::string &log, const std::string &display) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        if (!display.empty())
            UseDisplay(display);
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

DisplayServer StartDisplayServer() {
    int ready[2];
    if (pipe(ready) != 0)
        return {};
    DisplayServer server;
    server.pid = fork();
    if (server.pid == 0) {
        close(ready[0]);
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, STDERR_FILENO);
        const std::string fd = std::to_string(ready[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", kScreen, "-nolisten",
               "tcp", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(ready[1]);
    std::string number;
    char c;
    while (read(ready[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(ready[0]);
    if (number.empty()) {
        StopProcess(server.pid);
        return {};
    }
    server.display = ":" + number;
    return server;
}

void WriteBrokerConfig(const std::string &config, int port) {
    std::ofstream(config) << "listener " << port << " 127.0.0.1\nuser "
                          << getpwuid(getuid())->pw_name
                          << "\nallow_anonymous true\npersistence false\n";
}

pid_t StartBroker(const std::string &config, const std::string &log) {
    return Spawn({kBroker, "-c", config}, log);
}

long VoluntarySwitches(pid_t pid, pid_t tid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(tid) + "/status");
    const std::string key = "voluntary_ctxt_switches:";
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, key.size(), key) == 0)
            return std::atol(line.c_str() + key.size());
    return 0;
}

double ProcessCpuSeconds(pid_t pid) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR *dir                = opendir(tasks.c_str());
    if (!dir)
        return 0;
    double nanoseconds = 0;
    while (const dirent *entry = readdir(dir)) {
        std::ifstream in(tasks + "/" + entry->d_name + "/schedstat");
        double onCpu = 0;
        if (entry->d_name[0] != '.' && in >> onCpu)
            nanoseconds += onCpu;
    }
    closedir(dir);
    return nanoseconds * 1e-9;
}

double PeakRssMb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    const std::string key = "VmHWM:";
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, key.size(), key) == 0)
            return std::atol(line.c_str() + key.size()) / 1024.0;
    return -1;
}

void WriteFigures(const std::vector<Figure> &figures, const std::string &output) {
    int width = 24;
    for (const Figure &f : figures)
        width = std::max(width, static_cast<int>(std::strlen(f.key)));
    width += 2;
    std::printf("%-*s %12s  %s\n", width, "figure", "value", "goal");
    std::ofstream json(output);
    json << "{\n";
    for (std::size_t i = 0; i < figures.size(); ++i) {
        const Figure &f = figures[i];
        std::printf("%-*s %12.3f  %s\n", width, f.key, f.value, f.goal);
        json << "  \"" << f.key << "\": " << f.value << (i + 1 < figures.size() ? ",\n" : "\n");
    }
    json << "}\n";
}
