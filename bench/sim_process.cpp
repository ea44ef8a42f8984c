// rmx7sim in a process of its own for the benchmark programs, and its exchange log; what a
// process costs.
#include "sim_process.h"

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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
