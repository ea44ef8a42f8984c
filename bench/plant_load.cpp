// rmx7plantload: a plant of simulated lines on an MQTT broker, for the plant window's bench
// and pictures. Each line publishes what a line's agent publishes: info, status and
// parameters retained, then a live value at the line's rate, its time the moment it is
// handed to the broker. No controller and no command: it stands for the agents' topics only.
//
//   rmx7plantload --broker mqtt://HOST[:PORT] [--topic PREFIX] [--lines N] [--rate HZ]
//                 [--seconds S] [--mix] [--log FILE]
//
// --mix gives the plant some lines that need a look: line003 offline, line005 with no
// controller, line008 whose EEPROM set differs from its approved set, line010 whose agent
// takes read commands only. --log writes every live message sent as "line seq time" when it
// ends. It ends after S seconds (default: on SIGTERM or SIGINT) and clears what it retained.
#include <mosquitto.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr double kPi            = 3.14159265358979;
constexpr int kUpper            = 600;
constexpr int kLower            = 400;
constexpr const char *kFirmware = "RMX7 FW 2.14 (simulated)";
constexpr const char *kRam   = "\"power\":500,\"reference\":512,\"hysteresis\":10,\"polarity\":1,"
                               "\"hold\":100,\"hwmode\":1,\"average\":0,\"evalmode\":0,"
                               "\"mmtime\":20,\"mmthd\":50,\"sdelay\":1,\"para12\":0,"
                               "\"para13\":0,\"para14\":0,\"para15\":0,\"para16\":0";
constexpr const char *kWords = "[500,512,10,1,100,1,0,0,20,50,1,0,0,0,0,0]";
constexpr const char *kOtherWords = "[640,512,10,1,120,1,0,0,20,50,1,0,0,0,0,0]";
constexpr const char *kFingerprint =
    "6b1f0d0b6cc8b0f1a6bb2d0d5e1e0d3b1f3c2a4e5d6c7b8a9f0e1d2c3b4a5968";
constexpr const char *kOtherFingerprint =
    "0a9b8c7d6e5f4a3b2c1d0e9f8a7b6c5d4e3f2a1b0c9d8e7f6a5b4c3d2e1f0a9b";

volatile std::sig_atomic_t ending = 0;
std::atomic<int> acknowledged{0}; // QoS 1 messages the broker took

void OnPublish(mosquitto *, void *, int) {
    ++acknowledged;
}

void End(int) {
    ending = 1;
}

double UnixNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string Number(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

struct Line {
    std::string name;
    bool live     = true; // online: it publishes live values
    long long seq = 0;
    double phase  = 0;
};

struct Sent {
    int line;
    long long seq;
    double time;
};

struct Options {
    std::string host = "127.0.0.1", prefix = "rmx7", log;
    int port = 1883, lines = 200;
    double rate = 27.0, seconds = 0;
    bool mix = false;
};

bool ParseBroker(const std::string &url, Options &options) {
    const std::string scheme = "mqtt://";
    if (url.rfind(scheme, 0) != 0)
        return false;
    const std::string rest  = url.substr(scheme.size());
    const std::size_t colon = rest.rfind(':');
    options.host            = rest.substr(0, colon);
    if (colon != std::string::npos)
        options.port = std::atoi(rest.c_str() + colon + 1);
    return !options.host.empty() && options.port > 0;
}

bool ParseOptions(int argc, char **argv, Options &options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool valued     = i + 1 < argc;
        if (arg == "--broker" && valued) {
            if (!ParseBroker(argv[++i], options))
                return false;
        } else if (arg == "--topic" && valued) {
            options.prefix = argv[++i];
        } else if (arg == "--lines" && valued) {
            options.lines = std::atoi(argv[++i]);
        } else if (arg == "--rate" && valued) {
            options.rate = std::atof(argv[++i]);
        } else if (arg == "--seconds" && valued) {
            options.seconds = std::atof(argv[++i]);
        } else if (arg == "--log" && valued) {
            options.log = argv[++i];
        } else if (arg == "--mix") {
            options.mix = true;
        } else {
            return false;
        }
    }
    return options.lines > 0 && options.rate > 0;
}

std::string LineName(int i) {
    char name[16];
    std::snprintf(name, sizeof name, "line%03d", i + 1);
    return name;
}

std::string Info(const Options &options, const Line &line, int i, double now) {
    const std::string commands = options.mix && line.name == "line010" ? "read" : "write";
    return "{\"program\":\"K-VEX-RMX7-PIRA-Scope\",\"version\":\"V2.0\",\"firmware\":\"" +
           std::string(kFirmware) +
           "\",\"board\":100,\"port\":\"COM1\",\"device\":" + "\"rfc2217://cabinet-" +
           std::to_string(i / 8 + 1) + ":" + std::to_string(4001 + i % 8) + "\",\"ram\":{" + kRam +
           "},\"unit\":\"ADC units\",\"time\":" + Number(now, 3) + ",\"name\":\"" + line.name +
           "\",\"instance\":\"" + "5eed" + Number(1e11 + i, 0) + "\",\"host\":\"gateway-" +
           std::to_string(i / 40 + 1) + "\",\"started\":" + Number(now - 3600, 3) +
           ",\"commands\":\"" + commands + "\",\"parameter_server\":\"restore\"}";
}

std::string Status(const Options &options, const Line &line, int i, double now) {
    std::string status = "online", text;
    if (options.mix && line.name == "line003")
        status = "offline", text = "connection lost";
    if (options.mix && line.name == "line005")
        status = "no-controller", text = "Timeout < 36 Bytes";
    return "{\"status\":\"" + status + "\",\"text\":\"" + text + "\",\"instance\":\"5eed" +
           Number(1e11 + i, 0) + "\",\"time\":" + Number(now - 600 - 7 * i, 3) + "}";
}

std::string Parameters(const Options &options, const Line &line, int i, double now) {
    const bool differs = options.mix && line.name == "line008";
    return "{\"mode\":\"restore\",\"approved\":{\"words\":" + std::string(kWords) +
           ",\"fingerprint\":\"" + kFingerprint + "\",\"firmware\":\"" + kFirmware +
           "\",\"stored\":" + Number(now - 86400, 3) + ",\"by\":\"commissioning\"},\"eeprom\":{" +
           "\"words\":" + (differs ? kOtherWords : kWords) + ",\"fingerprint\":\"" +
           (differs ? kOtherFingerprint : kFingerprint) + "\",\"time\":" + Number(now - 60, 3) +
           "},\"match\":" + (differs ? "false" : "true") +
           ",\"differs\":" + (differs ? "[\"power\",\"hold\"]" : "[]") +
           ",\"last_restore\":null,\"instance\":" + "\"5eed" + Number(1e11 + i, 0) + "\"}";
}

// A target passing through the beam now and then: NORM rises over the upper level and
// falls back, each line at its own phase.
std::string Live(Line &line, double now) {
    const double wave = std::sin(2 * kPi * now / 6.0 + line.phase);
    const int norm    = static_cast<int>(500 + 260 * wave + 8 * std::sin(now * 37 + line.phase));
    const int state   = (norm > kUpper ? 1 : 0) | (norm < kLower ? 2 : 0);
    return "{\"time\":" + Number(now, 3) + ",\"seq\":" + std::to_string(++line.seq) +
           ",\"valNORM\":" + std::to_string(norm) +
           ",\"adcCHA\":" + std::to_string(300 + norm / 2) +
           ",\"adcCHB\":" + std::to_string(700 - norm / 3) + ",\"Amax\":860,\"Amin\":140," +
           "\"UPval\":" + std::to_string(kUpper) + ",\"LOval\":" + std::to_string(kLower) +
           ",\"refval\":512,\"instate\":" + std::to_string(state) + "}";
}

void Publish(mosquitto *m, const std::string &topic, const std::string &payload, bool retain) {
    mosquitto_publish(m, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(),
                      retain ? 1 : 0, retain);
}

} // namespace

int main(int argc, char **argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: rmx7plantload --broker mqtt://HOST[:PORT] [--topic PREFIX] "
                             "[--lines N] [--rate HZ] [--seconds S] [--mix] [--log FILE]\n");
        return 2;
    }
    std::signal(SIGTERM, End);
    std::signal(SIGINT, End);
    mosquitto_lib_init();
    mosquitto *m = mosquitto_new(nullptr, true, nullptr);
    if (m)
        mosquitto_publish_callback_set(m, OnPublish);
    if (!m || mosquitto_connect(m, options.host.c_str(), options.port, 10) != MOSQ_ERR_SUCCESS ||
        mosquitto_loop_start(m) != MOSQ_ERR_SUCCESS) {
        std::fprintf(stderr, "rmx7plantload: cannot connect to %s:%d\n", options.host.c_str(),
                     options.port);
        return 1;
    }
    std::vector<Line> lines(static_cast<std::size_t>(options.lines));
    const double start = UnixNow();
    for (int i = 0; i < options.lines; ++i) {
        Line &line = lines[i];
        line.name  = LineName(i);
        line.phase = 2 * kPi * i / options.lines;
        line.live  = !(options.mix && (line.name == "line003" || line.name == "line005"));
        const std::string topic = options.prefix + "/" + line.name + "/";
        Publish(m, topic + "info", Info(options, line, i, start), true);
        Publish(m, topic + "status", Status(options, line, i, start), true);
        Publish(m, topic + "parameters", Parameters(options, line, i, start), true);
    }
    std::vector<Sent> sent;
    // Each line at the rate, the lines spread evenly over one period.
    const double period = 1.0 / options.rate;
    const auto begin    = std::chrono::steady_clock::now();
    for (long long round = 0; !ending; ++round) {
        for (int i = 0; i < options.lines && !ending; ++i) {
            const double due = round * period + period * i / options.lines;
            if (options.seconds > 0 && due >= options.seconds) {
                ending = 1;
                break;
            }
            std::this_thread::sleep_until(begin + std::chrono::duration<double>(due));
            Line &line = lines[i];
            if (!line.live)
                continue;
            const double now = UnixNow();
            Publish(m, options.prefix + "/" + line.name + "/live", Live(line, now), false);
            if (!options.log.empty())
                sent.push_back({i, line.seq, now});
        }
    }
    // The clears are QoS 1: the broker has taken them all before the connection ends.
    const int before = acknowledged;
    for (const Line &line : lines)
        for (const char *leaf : {"info", "status", "parameters"})
            Publish(m, options.prefix + "/" + line.name + "/" + leaf, "", true);
    const int clears = 3 * options.lines;
    for (int wait = 0; acknowledged - before < clears && wait < 200; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    mosquitto_disconnect(m);
    mosquitto_loop_stop(m, false);
    mosquitto_destroy(m);
    mosquitto_lib_cleanup();
    if (!options.log.empty()) {
        std::ofstream log(options.log);
        for (const Sent &s : sent)
            log << lines[s.line].name << ' ' << s.seq << ' ' << Number(s.time, 6) << '\n';
    }
    return 0;
}
