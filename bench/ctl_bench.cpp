// The command-line tool's figures against rmx7sim in its own process, paced at 19200 baud:
// the wall time of `rmx7ctl info` from process start to exit, and the rate at which
// `rmx7ctl live` streams, taken from the simulator's exchange log.
#include "sim_process.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr double kByteSeconds = 10.0 / 19200.0;
constexpr double kLiveLimitHz = 1.0 / (72 * kByteSeconds);
constexpr int kInfoRuns       = 5;
constexpr int kLiveCommand    = 8;

struct RunTimes {
    double wallMs = -1; // negative when the tool failed
    double cpuMs  = 0;  // user and system time of the tool's process
};

// Runs the tool with its output thrown away.
RunTimes Run(const std::string &ctl, const std::string &pty, std::vector<std::string> args) {
    args.insert(args.begin(), {ctl, "--quiet", "--port", "1=" + pty});
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid  = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execv(ctl.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const double cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-3;
    return {WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1, cpuMs};
}

double Median(std::vector<double> values) {
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: rmx7ctlbench RMX7SIM RMX7CTL OUTPUT.json [SECONDS]\n");
        return 2;
    }
    const std::string simBinary = argv[1], ctl = argv[2], output = argv[3];
    const std::string seconds = argc > 4 ? argv[4] : "20";
    const std::string dir     = output.substr(0, output.find_last_of('/') + 1);

    Simulator infoSim = StartSimulator(simBinary, {}, "");
    std::vector<double> times, cpu;
    for (int i = 0; i < kInfoRuns; ++i) {
        const RunTimes run = Run(ctl, infoSim.pty, {"info"});
        if (run.wallMs >= 0) {
            times.push_back(run.wallMs);
            cpu.push_back(run.cpuMs);
        }
    }
    StopProcess(infoSim.pid);
    const double infoMs    = Median(times);
    const double infoCpuMs = Median(cpu);

    const std::string logPath = dir + "ctl-live-exchanges.txt";
    Simulator liveSim         = StartSimulator(simBinary, {}, logPath);
    const bool liveRan        = Run(ctl, liveSim.pty, {"live", "--seconds", seconds}).wallMs >= 0;
    StopProcess(liveSim.pid);
    const double ratio =
        liveRan ? RepliesPerSecond(ReadLog(logPath), kLiveCommand) / kLiveLimitHz : 0;

    std::printf("%-26s %12s %16s %8s  %s\n", "figure", "value", "limit", "ratio", "goal");
    std::printf("%-26s %12.3f %16s %8.3f  %s\n", "ctl_info_ms", infoMs, "350 ms", infoMs / 350,
                "<= 350 ms");
    std::printf("%-26s %12.3f %16s %8s  %s\n", "ctl_info_cpu_ms", infoCpuMs, "", "", "report");
    std::printf("%-26s %12.3f %16s %8s  %s\n", "ctl_live_rate_ratio", ratio, "1", "", ">= 0.99");
    std::ofstream json(output);
    json << "{\n  \"ctl_info_ms\": " << infoMs << ",\n  \"ctl_info_cpu_ms\": " << infoCpuMs
         << ",\n  \"ctl_live_rate_ratio\": " << ratio << "\n}\n";
    return infoMs >= 0 && liveRan ? 0 : 1;
}
