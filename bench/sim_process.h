// rmx7sim in a process of its own for the benchmark programs, and its exchange log; what a
// process costs; the other programs a benchmark starts (a mosquitto on the loopback, the
// program under test) and the clock it reads.
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

// The plant's side of a benchmark; a namespace of its own, as a few benchmarks keep helpers
// of these names.
namespace bench {

// Seconds on CLOCK_MONOTONIC, the clock of the simulator's exchange log.
double Now();
// The value at fraction p of the sorted values (the largest at or above 1 - 1/n); -1 when
// there are none.
double Percentile(std::vector<double> values, double p);

// A TCP port on 127.0.0.1 that nothing listens on right now.
int FreeLoopbackPort();
// A program in a child process, its standard output and error appended to log.
pid_t Spawn(std::vector<std::string> args, const std::string &log);

// Debian's mosquitto on 127.0.0.1 at port, no persistence, anonymous clients; its
// configuration and log in the files named.
struct Broker {
    int port = 0;
    std::string config, log;
    pid_t pid = -1;
    // Writes the configuration, removes an old log and starts the broker; Start again after
    // Stop serves the same port.
    void Configure();
    void Start();
    // SIGTERM and wait.
    void Stop();
};

} // namespace bench
