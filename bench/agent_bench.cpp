// The line's agent as the plant meets it: `rmx7ctl publish --commands write
// --parameter-server restore` on the paced rmx7sim, a mosquitto on the loopback that the bench
// starts, and the bench the plant's seat. It asks `get ram` once a second in MQTT 5 form and
// times each answer, compares the live rate of those seconds with the rate of seconds without
// commands, looks at the line after writes whose audit records are appended, then stores the
// approved set and swaps the controller for one with another EEPROM set, timing the restore.
// The simulators' exchange logs and the bench's receipts share CLOCK_MONOTONIC.
#include "sim_process.h"
#include "subscriber.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr double kByteSeconds = 10.0 / 19200.0;
constexpr double kLiveLimitHz = 1.0 / (72 * kByteSeconds);
constexpr int kLiveCommand    = 8;
constexpr int kWriteEeprom    = 3;
constexpr int kReadEeprom     = 4;
constexpr int kReadRam        = 2;
constexpr int kWriteRam       = 1;

constexpr const char *kName        = "bench";
constexpr const char *kReplyTopic  = "rmx7/reply/bench";
constexpr const char *kEventTopic  = "rmx7/bench/event";
constexpr const char *kLiveTopic   = "rmx7/bench/live";
constexpr const char *kCommandRoot = "rmx7/bench/cmd/";

constexpr double kStartSeconds   = 30.0; // for the agent's first live message
constexpr double kSettleSeconds  = 1.0;  // after it, before the first slice
constexpr double kQuietSeconds   = 5.0;  // a slice without commands
constexpr double kAskingSeconds  = 10.0; // a slice with one get a second
constexpr double kAskEvery       = 1.0;
constexpr double kAnswerSeconds  = 5.0; // the longest wait for an answer
constexpr int kSends             = 5;
constexpr double kAfterSend      = 0.5; // of the run after a send's answer
constexpr int kSwaps             = 5;
constexpr double kRestoreSeconds = 20.0; // for a swapped controller's restore
constexpr double kAfterRestore   = 2.0;  // of the new controller's run before the next swap

// The plant's seat on the broker: asks in MQTT 5 form, takes the answers by their
// correlation data and the agent's events.
struct Seat {
    struct Answer {
        double at;
        std::string payload;
    };
    struct Event {
        double at;
        std::string payload;
    };
    mosquitto *session = nullptr;
    std::map<std::string, Answer> answers;
    std::vector<Event> events;
    bool live = false;

    static void OnConnect(mosquitto *m, void *, int code) {
        if (code != 0)
            return;
        mosquitto_subscribe(m, nullptr, kReplyTopic, 1);
        mosquitto_subscribe(m, nullptr, kEventTopic, 0);
        mosquitto_subscribe(m, nullptr, kLiveTopic, 0);
    }
    static void OnMessage(mosquitto *m, void *data, const mosquitto_message *message,
                          const mosquitto_property *properties) {
        const double at = MonotonicNow();
        Seat &self      = *static_cast<Seat *>(data);
        const std::string payload(static_cast<const char *>(message->payload),
                                  static_cast<std::size_t>(message->payloadlen));
        if (std::strcmp(message->topic, kLiveTopic) == 0) {
            // Only the first tells that the run is on; the rest would only cost wake-ups.
            if (!self.live)
                mosquitto_unsubscribe(m, nullptr, kLiveTopic);
            self.live = true;
        } else if (std::strcmp(message->topic, kEventTopic) == 0) {
            self.events.push_back({at, payload});
        } else {
            void *correlation    = nullptr;
            std::uint16_t length = 0;
            const bool correlated =
                mosquitto_property_read_binary(properties, MQTT_PROP_CORRELATION_DATA, &correlation,
                                               &length, false) != nullptr;
            if (correlated)
                self.answers[std::string(static_cast<const char *>(correlation), length)] = {
                    at, payload};
            std::free(correlation);
        }
    }
    // Sends verb with payload, correlation as its data; the time just before it went out.
    double Ask(const std::string &verb, const std::string &payload,
               const std::string &correlation) {
        mosquitto_property *properties = nullptr;
        mosquitto_property_add_string(&properties, MQTT_PROP_RESPONSE_TOPIC, kReplyTopic);
        mosquitto_property_add_binary(&properties, MQTT_PROP_CORRELATION_DATA, correlation.data(),
                                      static_cast<std::uint16_t>(correlation.size()));
        const double at = MonotonicNow();
        mosquitto_publish_v5(session, nullptr, (kCommandRoot + verb).c_str(),
                             static_cast<int>(payload.size()), payload.data(), 1, false,
                             properties);
        mosquitto_property_free_all(&properties);
        return at;
    }
    bool Pump(double seconds, const std::function<bool()> &done) {
        return PumpSession(session, seconds, done);
    }
    void PumpUntil(double at) {
        Pump(at - MonotonicNow(), [] { return false; });
    }
};

// One span of the run, on CLOCK_MONOTONIC.
struct Span {
    double from, to;
};

// Live replies per second over the line's limit, the mean of the spans that had replies:
// each span's replies from its first request to its last reply. The spans of one kind are
// equally long, so the mean is their replies over their time.
double LiveRatio(const std::vector<Exchange> &log, const std::vector<Span> &spans) {
    double sum  = 0;
    int counted = 0;
    for (const Span &span : spans)
        if (const double hz = RepliesPerSecond(log, kLiveCommand, span.from, span.to); hz > 0) {
            sum += hz;
            ++counted;
        }
    return counted > 0 ? sum / counted / kLiveLimitHz : 0;
}

// Each live reply's last byte to the next live request's first byte, in milliseconds, where
// both lie within a span.
std::vector<double> Turnarounds(const std::vector<Exchange> &log, const std::vector<Span> &spans) {
    std::vector<double> turnarounds;
    for (std::size_t i = 1; i < log.size(); ++i) {
        const Exchange &reply = log[i - 1], &next = log[i];
        for (const Span &span : spans)
            if (reply.code == kLiveCommand && next.code == kLiveCommand && reply.length > 0 &&
                reply.requestFirst >= span.from && next.requestFirst <= span.to)
                turnarounds.push_back((next.requestFirst - reply.replyLast) * 1000);
    }
    return turnarounds;
}

// After each write to RAM from since on: the turnaround of the first live exchange after
// the write's read-back, the one in flight while the write's audit record is appended.
std::vector<double> TurnaroundsAfterWrites(const std::vector<Exchange> &log, double since) {
    std::vector<double> turnarounds;
    for (std::size_t i = 0; i + 3 < log.size(); ++i)
        if (log[i].code == kWriteRam && log[i].requestFirst >= since &&
            log[i + 1].code == kReadRam && log[i + 2].code == kLiveCommand &&
            log[i + 3].code == kLiveCommand && log[i + 2].length > 0)
            turnarounds.push_back((log[i + 3].requestFirst - log[i + 2].replyLast) * 1000);
    return turnarounds;
}

// A get asked: when it went out, and when its answer came (0: none came).
struct Asked {
    double sent = 0, answered = 0;
    bool ok = false;
};

// The controller swapped in at each swap: its EEPROM file, its log, and when the old one was
// made to vanish.
struct Swap {
    Simulator sim;
    std::string eeprom;
    double swapped = 0, restored = 0;
};

// An EEPROM set other than the approved one: the factory set with power and hold moved.
void WriteEepromFile(const std::string &path, int n) {
    const int words[16] = {600 + n, 512, 10, 1, 120 + n, 1, 2, 0, 20, 50, 1, 0, 0, 0, 0, 0};
    std::ofstream out(path);
    for (const int word : words)
        out << word << "\n";
}

// Points link at target by a rename over it, so the agent never finds the link missing.
void PointLink(const std::string &link, const std::string &target) {
    const std::string fresh = link + ".new";
    std::remove(fresh.c_str());
    if (symlink(target.c_str(), fresh.c_str()) != 0 || std::rename(fresh.c_str(), link.c_str()))
        std::perror(link.c_str());
}

// Whether a JSON object gives member the text value, whatever the spacing of its writer.
bool Says(std::string json, const std::string &member, const std::string &value) {
    std::erase(json, ' ');
    return json.find("\"" + member + "\":\"" + value + "\"") != std::string::npos;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: rmx7agentbench RMX7SIM RMX7CTL OUTPUT.json [SECONDS]\n");
        return 2;
    }
    const std::string simBinary = argv[1], ctl = argv[2], output = argv[3];
    // Seconds of gets, in slices of kAskingSeconds, each after a slice without commands.
    const double asking     = argc > 4 ? std::atof(argv[4]) : 60.0;
    const int slices        = std::max(1, static_cast<int>(asking / kAskingSeconds + 0.5));
    const std::string dir   = output.substr(0, output.find_last_of('/') + 1);
    const std::string state = dir + "agent-state";
    // Absolute: a port name without a leading slash is taken as one under /dev.
    const std::string link = std::filesystem::absolute(dir + "agent-line").string();
    signal(SIGPIPE, SIG_IGN);
    std::filesystem::remove_all(state);

    const int port                 = FreeLoopbackPort();
    const std::string brokerConfig = dir + "agent-broker.conf",
                      brokerLog    = dir + "agent-broker.log";
    WriteBrokerConfig(brokerConfig, port);
    std::remove(brokerLog.c_str());
    const pid_t broker = StartBroker(brokerConfig, brokerLog);

    mosquitto_lib_init();
    Seat seat;
    seat.session = mosquitto_new(nullptr, true, &seat);
    mosquitto_int_option(seat.session, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_connect_callback_set(seat.session, Seat::OnConnect);
    mosquitto_message_v5_callback_set(seat.session, Seat::OnMessage);
    ConnectSession(seat.session, port, 5);

    std::vector<Swap> controllers(1);
    controllers[0].sim = StartSimulator(simBinary, {}, dir + "agent-exchanges-0.txt");
    PointLink(link, controllers[0].sim.pty);
    const std::string agentLog = dir + "agent-publish.log";
    std::remove(agentLog.c_str());
    const pid_t agent =
        Spawn({ctl, "--quiet", "publish", "--device", link, "--broker",
               "mqtt://127.0.0.1:" + std::to_string(port), "--name", kName, "--commands", "write",
               "--parameter-server", "restore", "--state", state},
              agentLog);
    bool ran = seat.Pump(kStartSeconds, [&] { return seat.live; });
    seat.Pump(kSettleSeconds, [] { return false; });

    // Slices without commands and with one get a second in turn, so that both meet the
    // machine of the same minutes.
    std::vector<Span> quiet, busy;
    std::vector<Asked> gets;
    for (int slice = 0; ran && slice < slices; ++slice) {
        const double start = MonotonicNow();
        seat.PumpUntil(start + kQuietSeconds);
        quiet.push_back({start, MonotonicNow()});
        const double from = MonotonicNow();
        for (int n = 0; n < kAskingSeconds / kAskEvery; ++n) {
            seat.PumpUntil(from + n * kAskEvery);
            Asked get;
            get.sent = seat.Ask("get", R"({"memory":"ram"})", "g" + std::to_string(gets.size()));
            gets.push_back(get);
        }
        seat.PumpUntil(from + kAskingSeconds);
        busy.push_back({from, MonotonicNow()});
        // Answers still out are waited for before the next slice, within the bound.
        seat.Pump(kAnswerSeconds, [&] { return seat.answers.size() >= gets.size(); });
    }
    for (std::size_t n = 0; n < gets.size(); ++n)
        if (const auto found = seat.answers.find("g" + std::to_string(n));
            found != seat.answers.end()) {
            gets[n].answered = found->second.at;
            gets[n].ok       = Says(found->second.payload, "result_code", "Ok");
        }

    // Writes, each with its audit record: the simulator's factory power sent into RAM again.
    // The first of the agent's appends makes the trail's file.
    const double sendsFrom = MonotonicNow();
    for (int n = 0; ran && n < kSends; ++n) {
        const std::string id = "s" + std::to_string(n);
        seat.Ask("send", R"({"memory":"ram","set":{"power":500}})", id);
        ran = seat.Pump(kAnswerSeconds, [&] { return seat.answers.count(id) > 0; }) &&
              Says(seat.answers[id].payload, "result_code", "Ok");
        seat.Pump(kAfterSend, [] { return false; });
    }

    // The line's set, as the controller holds it now, becomes the approved set.
    seat.Ask("store", "{}", "store");
    ran = ran && seat.Pump(kAnswerSeconds, [&] { return seat.answers.count("store") > 0; }) &&
          Says(seat.answers["store"].payload, "result_code", "Ok");

    // Each swap: a controller with another EEPROM set on a new pty, the agent's device link
    // moved to it, and the old controller gone, so that the line is lost and comes back on
    // the new one.
    for (int n = 1; ran && n <= kSwaps; ++n) {
        Swap swap;
        swap.eeprom = dir + "agent-eeprom-" + std::to_string(n) + ".txt";
        WriteEepromFile(swap.eeprom, n);
        swap.sim = StartSimulator(simBinary, {"--eeprom", swap.eeprom},
                                  dir + "agent-exchanges-" + std::to_string(n) + ".txt");
        PointLink(link, swap.sim.pty);
        swap.swapped = MonotonicNow();
        StopProcess(controllers.back().sim.pid);
        const std::size_t seen = seat.events.size();
        std::string restore;
        ran = seat.Pump(kRestoreSeconds, [&] {
            for (std::size_t e = seen; e < seat.events.size() && restore.empty(); ++e)
                if (Says(seat.events[e].payload, "event", "restore")) {
                    swap.restored = seat.events[e].at;
                    restore       = seat.events[e].payload;
                }
            return !restore.empty();
        });
        ran = ran && Says(restore, "result", "Ok");
        controllers.push_back(swap);
        seat.Pump(kAfterRestore, [] { return false; });
    }

    StopProcess(agent);
    StopProcess(controllers.back().sim.pid);
    mosquitto_destroy(seat.session);
    mosquitto_lib_cleanup();
    StopProcess(broker);

    // The gets: each from its publish to its answer's receipt, and from its reply's last byte
    // on the line to that receipt (the agent's own part, with the broker's).
    const std::vector<Exchange> log = ReadLog(controllers[0].sim.log);
    std::vector<double> getMs, afterReplyMs;
    int unanswered = 0;
    for (const Asked &get : gets) {
        if (!get.ok) {
            ++unanswered;
            getMs.push_back(kAnswerSeconds * 1000);
            continue;
        }
        getMs.push_back((get.answered - get.sent) * 1000);
        for (const Exchange &e : log)
            if (e.code == kReadRam && e.requestFirst > get.sent) {
                afterReplyMs.push_back((get.answered - e.replyLast) * 1000);
                break;
            }
    }
    const double quietRatio = LiveRatio(log, quiet), busyRatio = LiveRatio(log, busy);
    const std::vector<double> turnarounds = Turnarounds(log, quiet);
    const std::vector<double> afterWrite  = TurnaroundsAfterWrites(log, sendsFrom);

    // The restores: from the new controller's first request (its echo at the line's start-up)
    // to the restore event's receipt; and on the line alone, to the last byte of the EEPROM
    // read after the write.
    std::vector<double> restoreMs, restoreLineMs, swapMs;
    for (std::size_t n = 1; n < controllers.size(); ++n) {
        const std::vector<Exchange> swapped = ReadLog(controllers[n].sim.log);
        std::remove(controllers[n].eeprom.c_str());
        if (swapped.empty() || controllers[n].restored == 0)
            continue;
        const double first = swapped.front().requestFirst;
        restoreMs.push_back((controllers[n].restored - first) * 1000);
        swapMs.push_back((controllers[n].restored - controllers[n].swapped) * 1000);
        bool written = false;
        for (const Exchange &e : swapped) {
            written = written || e.code == kWriteEeprom;
            if (written && e.code == kReadEeprom && e.length > 0) {
                restoreLineMs.push_back((e.replyLast - first) * 1000);
                break;
            }
        }
    }
    std::remove(link.c_str());
    std::filesystem::remove_all(state);

    WriteFigures(
        {
            {"cmd_get_p99_ms", Percentile(getMs, 0.99), "<= 150 ms"},
            {"cmd_get_p50_ms", Percentile(getMs, 0.5), "report"},
            {"cmd_get_after_reply_p99_ms", Percentile(afterReplyMs, 0.99), "report"},
            {"cmd_get_count", static_cast<double>(gets.size()), "report"},
            {"cmd_get_unanswered", static_cast<double>(unanswered), "0"},
            {"live_rate_during_commands", quietRatio > 0 ? busyRatio / quietRatio : 0,
             ">= 0.95 of the rate without"},
            {"live_rate_ratio_quiet", quietRatio, "report: of 26.67 /s"},
            {"live_rate_ratio_commands", busyRatio, "report: of 26.67 /s"},
            {"live_turnaround_p99_ms", Percentile(turnarounds, 0.99), "report: without commands"},
            {"audit_turnaround_max_ms", Percentile(afterWrite, 1.0), "report: the longest"},
            {"restore_ms", Percentile(restoreMs, 1.0), "<= 1500 ms, the longest"},
            {"restore_p50_ms", Percentile(restoreMs, 0.5), "report"},
            {"restore_line_ms", Percentile(restoreLineMs, 1.0), "report: the longest"},
            {"swap_to_restore_ms", Percentile(swapMs, 1.0), "report: the longest"},
            {"restore_count", static_cast<double>(restoreMs.size()), "report"},
        },
        output);
    return ran && unanswered == 0 && afterWrite.size() == kSends && restoreMs.size() == kSwaps ? 0
                                                                                               : 1;
}
