// What the benchmark programs share: rmx7sim in a process of its own and its exchange log,
// the other programs and servers they start (a broker, an X server), a bare live loop on a
// line, what a process costs, and the figures a benchmark reports.
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
// The same over the exchanges wholly within [from, to] on the simulator's clock
// (CLOCK_MONOTONIC); 0 when fewer than two.
double RepliesPerSecond(const std::vector<Exchange> &log, int code, double from, double to);

// Seconds on CLOCK_MONOTONIC, the clock of the simulator's log.
double MonotonicNow();
// The value at fraction p of the sorted values (the largest at or above 1 - 1/n); -1 when
// there are none.
double Percentile(std::vector<double> values, double p);

// A live request, its reply, the next request at once, for seconds on the pty: no program
// at all, so its replies per second are what the line and this machine allow right now.
// 0 when the line did not answer.
double BareLiveRate(const std::string &pty, double seconds);

// A TCP port on 127.0.0.1 that no one listens on right now.
int FreeLoopbackPort();
// In a child about to exec: the X server display, the xcb platform, and no session bus
// through which an accessibility bus could be found.
void UseDisplay(const std::string &display);
// A program (looked up on PATH) in a child process, its output appended to log; on that X
// server when display is given.
pid_t Spawn(std::vector<std::string> args, const std::string &log, const std::string &display = {});

struct DisplayServer {
    pid_t pid = -1;
    std::string display; // ":N"
};
// Xvfb on the first free display, which it names once it accepts clients; pid -1 when it
// did not start.
DisplayServer StartDisplayServer();

// Debian's mosquitto on 127.0.0.1:port, anonymous, nothing kept: its configuration written
// to config, its output appended to log.
void WriteBrokerConfig(const std::string &config, int port);
pid_t StartBroker(const std::string &config, const std::string &log);

// Voluntary context switches of one thread so far: each is a sleep that an event ended.
long VoluntarySwitches(pid_t pid, pid_t tid);
// CPU seconds of every thread of a process so far, from the scheduler's account.
double ProcessCpuSeconds(pid_t pid);
// Peak resident memory of a process so far (VmHWM), in MiB; -1 when it cannot be read.
double PeakRssMb(pid_t pid);

// One figure of a benchmark: its key in the JSON file, its value, its goal in words.
struct Figure {
    const char *key;
    double value;
    const char *goal;
};
// The figures as a table on stdout and as a JSON object of key and value in output.
void WriteFigures(const std::vector<Figure> &figures, const std::string &output);
