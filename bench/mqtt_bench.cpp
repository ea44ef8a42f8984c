// The plant link's figures: `rmx7ctl publish` on the paced rmx7sim, every reply published to
// a mosquitto on the loopback that the bench starts, and the bench itself the subscriber.
// The simulator's exchange log and the subscriber's receipts share CLOCK_MONOTONIC, so a
// message's latency is its receipt here minus the last byte of its reply on the line.
#include "sim_process.h"

#include <mosquitto.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

using bench::Now;
using bench::Percentile;

constexpr double kByteSeconds   = 10.0 / 19200.0;
constexpr double kLiveLimitHz   = 1.0 / (72 * kByteSeconds);
constexpr int kLiveCommand      = 8;
constexpr double kSettleSeconds = 1.0; // after the first message, before the steady run
constexpr double kOutageSeconds = 5.0;
constexpr double kAfterSeconds  = 3.0; // of the outage window after the broker is back
constexpr double kWaitSeconds   = 30.0;
constexpr const char *kTopic    = "rmx7/bench/live";
constexpr int kFrameLength      = 36;
constexpr double kFloorSeconds  = 10.0;

// The live messages received: sequence number and time of receipt.
struct Receipt {
    long long seq;
    double at;
};

struct Subscriber {
    mosquitto *session = nullptr;
    std::vector<Receipt> live;
    bool connected = false;

    static void OnConnect(mosquitto *m, void *self, int code) {
        static_cast<Subscriber *>(self)->connected = code == 0;
        if (code == 0)
            mosquitto_subscribe(m, nullptr, kTopic, 0);
    }
    static void OnMessage(mosquitto *, void *self, const mosquitto_message *message) {
        const double at = Now();
        // The library ends every payload with a zero byte.
        const char *seq = std::strstr(static_cast<const char *>(message->payload), "\"seq\":");
        if (seq)
            static_cast<Subscriber *>(self)->live.push_back({std::atoll(seq + 6), at});
    }
    // Runs the subscriber's side for seconds, or until done(); a lost connection is tried again
    // at once.
    template <typename Done> bool Pump(double seconds, Done done) {
        for (const double end = Now() + seconds; Now() < end;) {
            if (done())
                return true;
            if (mosquitto_loop(session, 10, 1) != MOSQ_ERR_SUCCESS) {
                connected = false;
                if (mosquitto_reconnect(session) != MOSQ_ERR_SUCCESS)
                    usleep(10000);
            }
        }
        return done();
    }
    void Pump(double seconds) {
        Pump(seconds, [] { return false; });
    }
};

// A bare peer: a live request, its reply, the next request at once, no program at all. Its
// rate over the line's limit just before the publisher's run is what this machine lets a
// line give in that minute.
double PeerRatio(const std::string &pty, double seconds) {
    const int fd = open(pty.c_str(), O_RDWR | O_NOCTTY);
    termios raw{};
    if (fd < 0 || tcgetattr(fd, &raw) != 0)
        return 0;
    cfmakeraw(&raw);
    tcsetattr(fd, TCSANOW, &raw);
    const unsigned char request[kFrameLength] = {0x00, 0x55, 0x00, kLiveCommand};
    int replies                               = 0;
    double first = -1, last = 0;
    for (const double end = Now() + seconds; Now() < end;) {
        const double sent = Now();
        int got           = 0;
        if (write(fd, request, kFrameLength) != kFrameLength)
            break;
        for (pollfd wait{fd, POLLIN, 0}; got < kFrameLength && poll(&wait, 1, 2000) == 1;) {
            unsigned char bytes[kFrameLength];
            const ssize_t n = read(fd, bytes, kFrameLength - got);
            got += n > 0 ? static_cast<int>(n) : 0;
        }
        if (got < kFrameLength)
            break;
        first = first < 0 ? sent : first;
        last  = Now();
        ++replies;
    }
    close(fd);
    return last > first ? replies / (last - first) / kLiveLimitHz : 0;
}

// Live replies per second over the line's limit, from the first reply's request to the last
// reply within [from, to] on the simulator's clock.
double LiveRatio(const std::vector<Exchange> &log, double from, double to) {
    std::vector<Exchange> window;
    for (const Exchange &e : log)
        if (e.code == kLiveCommand && e.length > 0 && e.requestFirst >= from && e.replyLast <= to)
            window.push_back(e);
    if (window.size() < 2)
        return 0;
    return window.size() / (window.back().replyLast - window.front().requestFirst) / kLiveLimitHz;
}

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

    const int port = bench::FreeLoopbackPort();
    bench::Broker broker{port, dir + "mqtt-broker.conf", dir + "mqtt-broker.log"};
    broker.Configure();
    broker.Start();

    mosquitto_lib_init();
    Subscriber sub;
    sub.session = mosquitto_new(nullptr, true, &sub);
    mosquitto_connect_callback_set(sub.session, Subscriber::OnConnect);
    mosquitto_message_callback_set(sub.session, Subscriber::OnMessage);
    for (const double end = Now() + 5; Now() < end; usleep(10000))
        if (mosquitto_connect(sub.session, "127.0.0.1", port, 10) == MOSQ_ERR_SUCCESS)
            break;

    const std::string simLog = dir + "mqtt-exchanges.txt";
    Simulator sim            = StartSimulator(simBinary, {}, simLog);
    // The bare peer runs alone, on the same line, before the publisher opens it: beside the
    // publisher it would take the cores the figures are about.
    const double floorRatio      = PeerRatio(sim.pty, kFloorSeconds);
    const double publisherStart  = Now();
    const std::string publishLog = dir + "mqtt-publish.log";
    std::remove(publishLog.c_str());
    const pid_t publisher =
        bench::Spawn({ctl, "--quiet", "--port", "1=" + sim.pty, "publish", "--broker",
                      "mqtt://127.0.0.1:" + std::to_string(port), "--name", "bench"},
                     publishLog);

    bool ran = sub.Pump(kWaitSeconds, [&] { return !sub.live.empty(); });
    sub.Pump(kSettleSeconds);

    // The steady run: rate, latency, the publisher's CPU and wake-ups.
    const std::size_t steadyFrom = sub.live.size();
    const double cpuBefore       = ProcessCpuSeconds(publisher);
    const long switchesBefore    = VoluntarySwitches(publisher, publisher);
    const double steadyStart     = Now();
    sub.Pump(seconds);
    const double steadySeconds = Now() - steadyStart;
    const double cpuFraction   = (ProcessCpuSeconds(publisher) - cpuBefore) / steadySeconds;
    const double wakeups =
        (VoluntarySwitches(publisher, publisher) - switchesBefore) / steadySeconds;
    const std::vector<Receipt> steady(sub.live.begin() + steadyFrom, sub.live.end());

    // The outage: the broker stopped for 5 s and started again on the same port.
    const double outageStart = Now();
    broker.Stop();
    sub.Pump(kOutageSeconds);
    broker.Start();
    double back = 0;
    for (const double end = Now() + 5; Now() < end && back == 0; usleep(2000))
        if (mosquitto_reconnect(sub.session) == MOSQ_ERR_SUCCESS)
            back = Now();
    const std::size_t beforeBack = sub.live.size();
    ran = ran && back > 0 && sub.Pump(kWaitSeconds, [&] { return sub.live.size() > beforeBack; });
    const double reconnectMs = ran ? (sub.live[beforeBack].at - back) * 1000 : -1;
    sub.Pump(kAfterSeconds);
    const double outageEnd = back + kAfterSeconds;

    if (publisher > 0 && kill(publisher, SIGTERM) == 0)
        waitpid(publisher, nullptr, 0);
    StopProcess(sim.pid);
    broker.Stop();
    mosquitto_destroy(sub.session);
    mosquitto_lib_cleanup();

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
    const double outageRatio = LiveRatio(log, outageStart, outageEnd);
    const double delivered =
        steady.size() > 1 ? steady.size() / double(steady.back().seq - steady.front().seq + 1) : 0;

    struct Figure {
        const char *key;
        double value;
        const char *goal;
    } figures[] = {
        {"mqtt_rate_ratio", rate, ">= 0.99 of 26.67 /s"},
        {"mqtt_line_floor_ratio", floorRatio, "report: a bare peer just before"},
        {"mqtt_delivered_fraction", delivered, "report: messages of the replies made"},
        {"mqtt_latency_p50_ms", Percentile(latencies, 0.5), "report"},
        {"mqtt_latency_p99_ms", Percentile(latencies, 0.99), "<= 2 ms"},
        {"publish_cpu_fraction", cpuFraction, "<= 0.03 of one core"},
        {"publish_wakeups_per_s", wakeups, "report (<= 150)"},
        {"mqtt_outage_rate_ratio", outageRatio, ">= 0.98 of 26.67 /s"},
        {"mqtt_reconnect_ms", reconnectMs, "<= 2000 ms"},
    };
    std::printf("%-26s %12s  %s\n", "figure", "value", "goal");
    std::ofstream json(output);
    json << "{\n";
    for (const Figure &f : figures) {
        std::printf("%-26s %12.3f  %s\n", f.key, f.value, f.goal);
        json << "  \"" << f.key << "\": " << f.value
             << (&f != std::end(figures) - 1 ? ",\n" : "\n");
    }
    json << "}\n";
    return ran && !latencies.empty() ? 0 : 1;
}
