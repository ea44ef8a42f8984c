// The plant link's figures: `rmx7ctl publish` on the paced rmx7sim, every reply published to
// a mosquitto on the loopback that the bench starts, and the bench itself the subscriber.
// The simulator's exchange log and the subscriber's receipts share CLOCK_MONOTONIC, so a
// message's latency is its receipt here minus the last byte of its reply on the line.
#include "sim_process.h"
#include "subscriber.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr double kByteSeconds   = 10.0 / 19200.0;
constexpr double kLiveLimitHz   = 1.0 / (72 * kByteSeconds);
constexpr int kLiveCommand      = 8;
constexpr double kSettleSeconds = 1.0; // after the first message, before the steady run
constexpr double kOutageSeconds = 5.0;
constexpr double kAfterSeconds  = 3.0; // of the outage window after the broker is back
constexpr double kWaitSeconds   = 30.0;
constexpr const char *kTopic    = "rmx7/bench/live";
constexpr double kFloorSeconds  = 10.0;

struct Broker {
    pid_t pid = -1;
    std::string config, log;
    void Start() { pid = StartBroker(config, log); }
    void Stop() {
        StopProcess(pid);
        pid = -1;
    }
};

} // namespace

int main(int argc, char **argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: rmx7mqttbench RMX7SIM RMX7CTL OUTPUT.json [SECONDS]\n");
        return 2;
    }
    const std::string simBinary = argv[1], ctl = argv[2], output = argv[3];
    const double seconds  = argc > 4 ? std::atof(argv[4]) : 20.0;
    const std::string dir = output.substr(0, output.find_last_of('/') + 1);
    signal(SIGPIPE, SIG_IGN);

    const int port = FreeLoopbackPort();
    Broker broker{-1, dir + "mqtt-broker.conf", dir + "mqtt-broker.log"};
    WriteBrokerConfig(broker.config, port);
    std::remove(broker.log.c_str());
    broker.Start();

    Subscriber sub(kTopic);
    sub.Connect(port, 5);

    const std::string simLog = dir + "mqtt-exchanges.txt";
    Simulator sim            = StartSimulator(simBinary, {}, simLog);
    // The bare peer runs alone, on the same line, before the publisher opens it: beside the
    // publisher it would take the cores the figures are about.
    const double floorRatio      = BareLiveRate(sim.pty, kFloorSeconds) / kLiveLimitHz;
    const double publisherStart  = MonotonicNow();
    const std::string publishLog = dir + "mqtt-publish.log";
    std::remove(publishLog.c_str());
    const pid_t publisher = Spawn({ctl, "--quiet", "--port", "1=" + sim.pty, "publish", "--broker",
                                   "mqtt://127.0.0.1:" + std::to_string(port), "--name", "bench"},
                                  publishLog);

    const std::vector<Receipt> &live = sub.Receipts();
    bool ran                         = sub.Pump(kWaitSeconds, [&] { return !live.empty(); });
    sub.Pump(kSettleSeconds);

    // The steady run: rate, latency, the publisher's CPU and wake-ups.
    const std::size_t steadyFrom = live.size();
    const double cpuBefore       = ProcessCpuSeconds(publisher);
    const long switchesBefore    = VoluntarySwitches(publisher, publisher);
    const double steadyStart     = MonotonicNow();
    sub.Pump(seconds);
    const double steadySeconds = MonotonicNow() - steadyStart;
    const double cpuFraction   = (ProcessCpuSeconds(publisher) - cpuBefore) / steadySeconds;
    const double wakeups =
        (VoluntarySwitches(publisher, publisher) - switchesBefore) / steadySeconds;
    const std::vector<Receipt> steady(live.begin() + steadyFrom, live.end());

    // The outage: the broker stopped for 5 s and started again on the same port.
    const double outageStart = MonotonicNow();
    broker.Stop();
    sub.Pump(kOutageSeconds);
    broker.Start();
    double back = 0;
    for (const double end = MonotonicNow() + 5; MonotonicNow() < end && back == 0; usleep(2000))
        if (sub.Reconnect())
            back = MonotonicNow();
    const std::size_t beforeBack = live.size();
    ran = ran && back > 0 && sub.Pump(kWaitSeconds, [&] { return live.size() > beforeBack; });
    const double reconnectMs = ran ? (live[beforeBack].at - back) * 1000 : -1;
    sub.Pump(kAfterSeconds);
    const double outageEnd = back + kAfterSeconds;

    StopProcess(publisher);
    StopProcess(sim.pid);
    broker.Stop();

    // Message n carries the n-th live reply of the publisher's run.
    const std::vector<Exchange> log = ReadLog(simLog);
    std::vector<double> replyAt, latencies;
    for (const Exchange &e : log)
        if (e.code == kLiveCommand && e.length > 0 && e.requestFirst > publisherStart)
            replyAt.push_back(e.replyLast);
    std::ofstream receipts(dir + "mqtt-latencies.txt");
    for (const Receipt &r : steady)
        if (r.seq >= 1 && r.seq <= static_cast<long long>(replyAt.size())) {
            latencies.push_back((r.at - replyAt[r.seq - 1]) * 1000);
            receipts << r.seq << " " << replyAt[r.seq - 1] << " " << latencies.back() << "\n";
        }
    const double rate =
        steady.size() > 1
            ? (steady.size() - 1) / (steady.back().at - steady.front().at) / kLiveLimitHz
            : 0;
    const double outageRatio =
        RepliesPerSecond(log, kLiveCommand, outageStart, outageEnd) / kLiveLimitHz;
    const double delivered =
        steady.size() > 1 ? steady.size() / double(steady.back().seq - steady.front().seq + 1) : 0;

    WriteFigures(
        {
            {"mqtt_rate_ratio", rate, ">= 0.99 of 26.67 /s"},
            {"mqtt_line_floor_ratio", floorRatio, "report: a bare peer just before"},
            {"mqtt_delivered_fraction", delivered, "report: messages of the replies made"},
            {"mqtt_latency_p50_ms", Percentile(latencies, 0.5), "report"},
            {"mqtt_latency_p99_ms", Percentile(latencies, 0.99), "<= 2 ms"},
            {"publish_cpu_fraction", cpuFraction, "<= 0.03 of one core"},
            {"publish_wakeups_per_s", wakeups, "report (<= 150)"},
            {"mqtt_outage_rate_ratio", outageRatio, ">= 0.98 of 26.67 /s"},
            {"mqtt_reconnect_ms", reconnectMs, "<= 2000 ms"},
        },
        output);
    return ran && !latencies.empty() ? 0 : 1;
}
