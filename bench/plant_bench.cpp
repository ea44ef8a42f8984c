// The plant window's figures: 200 simulated lines at 27 live values a second each
// (rmx7plantload) on a mosquitto on the loopback, rmx7scope --plant on an Xvfb server, and
// rmx7ctl plant status over the same plant.
//
// The window traces each row it draws (SHOWN: the line, the number and time of the live
// message the row shows, and the time it was drawn); the load generator logs every message
// it sent with its time. A message's update time is from its publish to the first drawing
// of its row that shows it or a newer one, over the rows on screen.
#include "sim_process.h"

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kLines            = 200;
constexpr double kRate          = 27.0;
constexpr double kSettleSeconds = 4.0;  // the window reads the plant and draws it first
constexpr double kTailSeconds   = 15.0; // the status runs, over the same plant
constexpr int kStatusRuns       = 5;

double Now() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void Sleep(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

struct Shown {
    long long seq;
    double at;
};

// The rows drawn, by line, in the order drawn: "<t> SHOWN line seq time at".
std::map<std::string, std::vector<Shown>> ReadShown(const std::string &trace) {
    std::map<std::string, std::vector<Shown>> shown;
    std::ifstream in(trace);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string clock, kind, name;
        long long seq = 0;
        double time = 0, at = 0;
        if (words >> clock >> kind >> name >> seq >> time >> at && kind == "SHOWN")
            shown[name].push_back({seq, at});
    }
    return shown;
}

// Each message sent in [from, to] of a line on screen: publish to the first drawing of
// its row with it or a newer one.
std::vector<double> UpdateTimes(const std::string &sentLog,
                                const std::map<std::string, std::vector<Shown>> &shown, double from,
                                double to) {
    std::vector<double> times;
    std::ifstream in(sentLog);
    std::string name;
    long long seq;
    double sent;
    while (in >> name >> seq >> sent) {
        const auto drawn = shown.find(name);
        if (sent < from || sent > to || drawn == shown.end())
            continue;
        for (const Shown &s : drawn->second)
            if (s.seq >= seq && s.at >= sent) {
                times.push_back((s.at - sent) * 1000);
                break;
            }
    }
    return times;
}

double StatusMs(const std::string &ctl, const std::string &broker, const std::string &log) {
    std::vector<double> runs;
    for (int i = 0; i < kStatusRuns; ++i) {
        const double start = Now();
        const pid_t pid    = Spawn({ctl, "--json", "plant", "status", "--broker", broker}, log);
        int status         = 0;
        waitpid(pid, &status, 0);
        if (WIFEXITED(status) && WEXITSTATUS(status) <= 5)
            runs.push_back((Now() - start) * 1000);
    }
    return runs.size() == kStatusRuns ? Percentile(runs, 0.5) : -1;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 5) {
        std::fprintf(
            stderr,
            "usage: rmx7plantbench RMX7SCOPE RMX7CTL RMX7PLANTLOAD OUTPUT.json [SECONDS]\n");
        return 2;
    }
    const std::string scope = argv[1], ctl = argv[2], load = argv[3], output = argv[4];
    const double seconds  = argc > 5 ? std::atof(argv[5]) : 20.0;
    const std::string dir = output.substr(0, output.find_last_of('/') + 1);
    signal(SIGPIPE, SIG_IGN);

    const int port           = FreeLoopbackPort();
    const std::string broker = "mqtt://127.0.0.1:" + std::to_string(port);
    const std::string conf   = dir + "plant-broker.conf";
    WriteBrokerConfig(conf, port);
    const std::string brokerLog = dir + "plant-broker.log", sentLog = dir + "plant-sent.txt",
                      trace = dir + "plant-trace.txt", scopeLog = dir + "plant-window.log",
                      loadLog = dir + "plant-load.log", ctlLog = dir + "plant-status.log";
    for (const std::string &file : {brokerLog, trace, scopeLog, loadLog, ctlLog, sentLog})
        std::remove(file.c_str());
    const pid_t mosquitto = StartBroker(conf, brokerLog);
    Sleep(0.5);
    const DisplayServer xvfb = StartDisplayServer();
    const double loadSeconds = kSettleSeconds + seconds + kTailSeconds;
    const pid_t generator =
        Spawn({load, "--broker", broker, "--lines", std::to_string(kLines), "--rate",
               std::to_string(kRate), "--seconds", std::to_string(loadSeconds), "--log", sentLog},
              loadLog);
    Sleep(0.5);
    const pid_t window =
        Spawn({scope, "--plant", broker, "--trace", trace}, scopeLog, xvfb.display);
    Sleep(kSettleSeconds);

    const double from      = Now();
    const double cpuBefore = ProcessCpuSeconds(window);
    const long wakeBefore  = VoluntarySwitches(window, window);
    Sleep(seconds);
    const double measured    = Now() - from;
    const double cpuFraction = (ProcessCpuSeconds(window) - cpuBefore) / measured;
    const double wakeups     = (VoluntarySwitches(window, window) - wakeBefore) / measured;
    const double to          = Now();
    const double statusMs    = StatusMs(ctl, broker, ctlLog);

    StopProcess(generator); // it clears the plant and writes its log
    StopProcess(window);
    StopProcess(xvfb.pid);
    StopProcess(mosquitto);

    const std::vector<double> updates = UpdateTimes(sentLog, ReadShown(trace), from, to);
    WriteFigures(
        {
            {"plant200_update_p99_ms", Percentile(updates, 0.99), "<= 250 ms"},
            {"plant200_update_p50_ms", Percentile(updates, 0.5), "report"},
            {"plant200_cpu_fraction", cpuFraction, "<= 0.15 of one core"},
            {"plant200_wakeups_per_s", wakeups, "report"},
            {"plant_status_200_ms", statusMs, "<= 2500 ms"},
        },
        output);
    return !updates.empty() && statusMs > 0 ? 0 : 1;
}
