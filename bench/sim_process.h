// rmx7sim in a process of its own for the benchmark programs, and its exchange log; what a
// process costs.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// One line of the simulator's exchange log: line-side seconds, the command, the reply's
// length (0: no reply).
struct Exchange {
    double requestFirst, requestLast, replyFirst, replyLast;
    int code, length;
};

struct Simulator {
    pid_t pid = -1;
    std::string pty;
    std::string log;
};

// Starts binary with the extra options (and --log when log is not empty) and waits for
// the pty path it prints. pid -1 when it could not be started.
Simulator StartSimulator(const std::string &binary, const std::vector<std::string> &extra,
                         const std::string &log);
// SIGTERM and wait: the simulator writes its log as it ends.
void StopProcess(pid_t pid);
std::vector<Exchange> ReadLog(const std::string &path);
// Replies to requests of that command per second, from the first such request to the
// last such reply; 0 when there were none.
double RepliesPerSecond(const std::vector<Exchange> &log, int code);

// Voluntary context switches of one thread so far: each is a sleep that an event ended.
long VoluntarySwitches(pid_t pid, pid_t tid);
// CPU seconds of every thread of a process so far, from the scheduler's account.
double ProcessCpuSeconds(pid_t pid);
