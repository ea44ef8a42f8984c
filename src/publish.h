// The plant link: the settings of a publisher (the config, the folder's defaults.conf, the
// options), and the payloads of PREFIX/NAME/live, PREFIX/NAME/info (retained) and
// PREFIX/NAME/status (retained; "offline" is the broker's last will) as pure functions
// over values, with the identity that tells two publishers of one name apart.
// `rmx7ctl publish` (the line's agent) and the panel both use them; the connection is the
// publisher's (publisher.h).
#pragma once

#include "com232.h"
#include "parameters.h"
#include "platform/files/settings_file.h"
#include "platform/mqtt/mqtt.h"
#include "platform/mqtt/mqtt_text.h"
#include "status.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace publish {

// The unit of the live values (the state, instate, is a number from 0 to 3).
constexpr const char *kUnit = parameters::kAdcUnits;

// --- Settings ---
struct Settings {
    std::string broker; // mqtt://HOST[:PORT] or mqtts://HOST[:PORT]; empty: no publishing
    std::string device; // the config's line, for COM1
    std::string name;   // the line's name in topics; empty: taken from the port
    std::string prefix = "rmx7";
    int every          = 1; // replies 1, 1 + every, 1 + 2 every, ... are published
    int qos            = 0;
    std::string clientId, username, passwordFile, caFile, certFile, keyFile;
    std::string password; // from passwordFile, else the credential mqtt-password, else
                          // RMX7_MQTT_PASSWORD; never shown
    // The line's agent: the commands it takes ("off", "read", "write"), its parameter server
    // ("off", "backup", "restore") and its state directory (empty: the default).
    std::string commands        = "off";
    std::string parameterServer = "off";
    std::string state;
    // The config's lines, "line = NAME=DEVICE" each, in their order: one process serves them
    // side by side.
    std::vector<std::pair<std::string, std::string>> lines;
};

// "NAME=DEVICE" of a line into its two parts; why not, or empty.
std::string ParseLine(const std::string &text, std::pair<std::string, std::string> &line);

// The publisher's options as a command line gave them, in their order (line 0), and the
// config file named with --config.
struct Given {
    std::vector<Setting> settings;
    std::string config;
};

// Takes argv[i] when it is an option of the publisher (--broker, --name, --topic, --every,
// --qos, --client-id, --username, --password-file, --cafile, --cert, --key, --commands,
// --parameter-server, --config, as
// "--option VALUE" or "--option=VALUE"), moving i past its value; a missing value, or a
// password asked for on the command line, goes into error.
bool TakeOption(int argc, char **argv, int &i, Given &given, std::string &error);
// The settings every line shares (defaults.conf beside the config file: broker, TLS, login;
// never a line's device or name), the config file's over them, then the command line's,
// each checked, and the
// password read: from the password file, else the systemd credential "mqtt-password", else
// RMX7_MQTT_PASSWORD, which leaves the environment either way. A password file or client key
// that group or others may read is refused; a process that holds either is no longer
// dumpable. False with error naming the file and line, or the option.
bool ReadSettings(const Given &given, Settings &settings, std::string &error);
// The connection the settings give to the broker at address: TLS files, login, client id
// and QoS; no last will.
mqtt::Settings ConnectionOf(const Settings &settings, const mqtt::BrokerAddress &address);
// Why the password would cross the network readable (no TLS, a host not the loopback), or
// empty.
std::string PasswordWarning(const Settings &settings);
// Why anyone on the network could send the line's agent writes (commands write without TLS
// to a host not the loopback), or empty.
std::string CommandsWarning(const Settings &settings);
// The line's name in topics: the settings' name, else taken from COM port: its stable
// name, device file or remote address, made topic-safe.
std::string LineName(const Settings &settings, int port);

// --- Payloads ---
// Unix time now, in seconds, and in nanoseconds.
double UnixNow();
long long UnixNanoseconds();
// Unix seconds to the millisecond, as every payload gives a time: 1733580000.123
std::string TimeJson(double unixSeconds);
// The live topic's message: {"time":1733580000.123,"seq":1,"valNORM":1000,...,"instate":1},
// the time in Unix seconds to the millisecond, the values by their recording column names;
// with a line's name first ("line":"line7") where several lines share one stream.
std::string LiveJson(const com232::LiveReply &reply, double unixSeconds, long long seq,
                     const std::string &line = {});
// A line of InfluxDB line protocol: measurement rmx7, the line's name as the tag line, the
// nine values as integer fields, the time in Unix nanoseconds.
std::string InfluxLine(const std::string &line, const com232::LiveReply &reply, long long unixNs);

// --- Who publishes ---
// One publisher of a line's name (an agent, a panel): a random instance id of 16 hex digits,
// its host, its process and when it started. Info and every status payload carry it, so
// that two publishers of one name are told apart.
struct Identity {
    std::string instance;
    std::string host;
    long pid       = 0;
    double started = 0; // Unix seconds
};
Identity NewIdentity();
// What the line's agent takes, as info tells the plant: commands "off", "read" or
// "write"; the parameter server "off", "backup" or "restore".
struct Offer {
    std::string commands        = "off";
    std::string parameterServer = "off";
};

// What the info topic tells of the controller, its line and who publishes it.
struct Info {
    int board = 0;
    std::string firmware;
    int com = 0;
    std::string device;
    com232::Parameters ram{};
    double time = 0; // Unix seconds when it was taken
    std::string name;
    Identity identity;
    Offer offer;
    // Everything but the time is the same.
    bool SameAs(const Info &other) const;
};
// The line's controller now: board variant, firmware, port and the parameter set as the
// start-up fetched it from RAM (or as it was sent since).
Info CurrentInfo(const com232::Line &line, double unixSeconds);
std::string InfoJson(const Info &info);

// The status topic's payload: {"status":"online","text":"","instance":"...","host":"...",
// "pid":...,"started":...,"time":...}. text: the failure's status text for no-controller,
// "stopped" for a clean end, "connection lost" in the last will; other: the instance that
// keeps the name, for a conflict.
enum class State { Online, NoController, Offline, Conflict };
struct Status {
    State state = State::Online;
    std::string text;
    std::string other;
};
const char *StateName(State state); // "online", "no-controller", "offline", "conflict"
// time: Unix seconds of the change; below 0 none (the will, whose time the broker gives).
std::string StatusJson(const Status &status, const Identity &identity, double time);
// A status payload heard on the broker; nothing when it is not one.
struct HeardStatus {
    State state = State::Offline;
    Identity identity;
};
std::optional<HeardStatus> ReadStatus(std::string_view payload);

} // namespace publish
