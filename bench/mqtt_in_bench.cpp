// The MQTT client taking what a plant of 200 lines publishes: 5,400 live messages a second
// (200 lines at 27 a second) from a publisher in a process of its own, through a mosquitto
// on the loopback that the bench starts, into one mqtt::Client subscribed to them all and
// driven by the program's event processing. What it costs the taking process: CPU,
// wake-ups, peak memory; and whether every message came.
#include "platform/mqtt/mqtt.h"
#include "platform/panel/events.h"
#include "platform/panel/panel.h"
#include "sim_process.h"

#include <mosquitto.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr int kLines          = 200;
constexpr int kRatePerLine    = 27;
constexpr int kTickMs         = 10;
constexpr double kWaitSeconds = 10.0;
constexpr const char *kEnd    = "rmx7/bench/end";

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// The publishing side, run as `rmx7mqttinbench --publish PORT SECONDS`: every line's live
// message in each 10 ms tick at the lines' rate, then the count sent on the end topic.
int Publish(int port, double seconds) {
    mosquitto_lib_init();
    mosquitto *m = mosquitto_new(nullptr, true, nullptr);
    if (!m || mosquitto_connect(m, "127.0.0.1", port, 60) != MOSQ_ERR_SUCCESS ||
        mosquitto_loop_start(m) != MOSQ_ERR_SUCCESS)
        return 1;
    char payload[256];
    long long sent    = 0;
    const int perTick = kLines * kRatePerLine * kTickMs / 1000;
    timespec tick{};
    clock_gettime(CLOCK_MONOTONIC, &tick);
    for (const double end = MonotonicNow() + seconds; MonotonicNow() < end;) {
        for (int i = 0; i < perTick; ++i, ++sent) {
            const int line          = static_cast<int>(sent % kLines);
            const std::string topic = "rmx7/line" + std::to_string(line) + "/live";
            const int length        = std::snprintf(
                       payload, sizeof payload,
                       "{\"time\":%.3f,\"seq\":%lld,\"valNORM\":152,\"adcCHA\":148,\"adcCHB\":851,"
                              "\"Amax\":746,\"Amin\":150,\"UPval\":522,\"LOval\":502,\"refval\":512,"
                              "\"instate\":0}",
                       MonotonicNow(), sent / kLines + 1);
            mosquitto_publish(m, nullptr, topic.c_str(), length, payload, 0, false);
        }
        tick.tv_nsec += kTickMs * 1000000L;
        if (tick.tv_nsec >= 1000000000L) {
            tick.tv_nsec -= 1000000000L;
            ++tick.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &tick, nullptr);
    }
    const std::string count = std::to_string(sent);
    mosquitto_publish(m, nullptr, kEnd, static_cast<int>(count.size()), count.data(), 1, false);
    usleep(500000);
    mosquitto_disconnect(m);
    mosquitto_loop_stop(m, false);
    mosquitto_destroy(m);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc == 4 && std::strcmp(argv[1], "--publish") == 0)
        return Publish(std::atoi(argv[2]), std::atof(argv[3]));
    if (argc < 2) {
        std::fprintf(stderr, "usage: rmx7mqttinbench OUTPUT.json [SECONDS]\n");
        return 2;
    }
    const std::string output = argv[1];
    const double seconds     = argc > 2 ? std::atof(argv[2]) : 20.0;
    const std::string dir    = output.substr(0, output.find_last_of('/') + 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    signal(SIGPIPE, SIG_IGN);
    if (!StartEngine(argc, argv))
        return 1;

    const int port           = FreeLoopbackPort();
    const std::string config = dir + "mqtt-in-broker.conf";
    WriteBrokerConfig(config, port);
    const pid_t broker = StartBroker(config, dir + "mqtt-in-broker.log");

    mqtt::Client client;
    long long received = 0, sent = -1;
    double first = 0, cpuAtFirst = 0;
    long switchesAtFirst = 0;
    client.OnMessage([&](const mqtt::Message &message) {
        if (message.topic == kEnd) {
            sent = std::atoll(message.payload.c_str());
            return;
        }
        if (received++ == 0) {
            first           = MonotonicNow();
            cpuAtFirst      = CpuSeconds();
            switchesAtFirst = VoluntarySwitches(getpid(), getpid());
        }
    });
    client.Subscribe("rmx7/+/live", 0);
    client.Subscribe(kEnd, 1);
    mqtt::Settings settings;
    settings.host = "127.0.0.1";
    settings.port = port;
    std::string error;
    if (client.Start(settings, error) != mqtt::kMqttOk) {
        std::fprintf(stderr, "rmx7mqttinbench: %s\n", error.c_str());
        return 1;
    }
    // Until subscribed: the broker's answer is not seen here, so a moment after connecting.
    for (const double end = MonotonicNow() + kWaitSeconds;
         MonotonicNow() < end && client.GetState() != mqtt::State::Connected;)
        ProcessSystemEvents();
    for (const double end = MonotonicNow() + 0.5; MonotonicNow() < end;)
        ProcessSystemEvents();

    const pid_t publisher =
        Spawn({"/proc/self/exe", "--publish", std::to_string(port), std::to_string(seconds)},
              dir + "mqtt-in-publisher.log");
    double last = 0, cpuAtLast = 0;
    long switchesAtLast = 0;
    for (const double end = MonotonicNow() + seconds + kWaitSeconds;
         MonotonicNow() < end && sent < 0;) {
        ProcessSystemEvents();
        if (received > 0 && sent < 0) {
            last           = MonotonicNow();
            cpuAtLast      = CpuSeconds();
            switchesAtLast = VoluntarySwitches(getpid(), getpid());
        }
    }
    waitpid(publisher, nullptr, 0);
    client.StopSilently();
    StopProcess(broker);

    const double span = last - first;
    WriteFigures(
        {
            {"mqtt_in_rate_per_s", span > 0 ? received / span : 0, "report: 5,400 sent a second"},
            {"mqtt_in_delivered_fraction", sent > 0 ? double(received) / sent : 0, ">= 0.999"},
            {"mqtt_in_cpu_fraction", span > 0 ? (cpuAtLast - cpuAtFirst) / span : -1,
             "<= 0.10 of one core"},
            {"mqtt_in_wakeups_per_s", span > 0 ? (switchesAtLast - switchesAtFirst) / span : -1,
             "report"},
            {"mqtt_in_peak_mib", PeakRssMb(getpid()), "report"},
        },
        output);
    return sent > 0 && received > 0 ? 0 : 1;
}
