// rmx7sim in a process of its own for the benchmark programs, and its exchange log; what a
// process costs.
#include "sim_process.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>

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

namespace bench {

double Now() {
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

int FreeLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr *>(&address), length);
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

pid_t Spawn(std::vector<std::string> args, const std::string &log) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

void Broker::Configure() {
    std::ofstream(config) << "listener " << port << " 127.0.0.1\nuser "
                          << getpwuid(getuid())->pw_name
                          << "\nallow_anonymous true\npersistence false\n";
    std::remove(log.c_str());
}

void Broker::Start() {
    pid = Spawn({"/usr/sbin/mosquitto", "-c", config}, log);
}

void Broker::Stop() {
    if (pid > 0 && kill(pid, SIGTERM) == 0)
        waitpid(pid, nullptr, 0);
    pid = -1;
}

} // namespace bench
