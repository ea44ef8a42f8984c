// The plant link: every live reply, the controller's description and the publisher's state
// published to an MQTT broker, under PREFIX/NAME/live, PREFIX/NAME/info (retained) and
// PREFIX/NAME/status (retained; "offline" is the broker's last will). `rmx7ctl publish`
// and the panel both use it.
//
// The payloads are pure functions over values. The connection is one mqtt::Client, driven
// by the event loop: a publish hands the message to the socket and returns, so a broker
// that is slow or away costs messages, dropped and counted, never a wait on the line; a
// reply's message goes out after the request that follows the reply.
// Nothing is subscribed to: nothing that comes over the network reaches the controller.
#pragma once

#include "com232.h"
#include "parameters.h"
#include "platform/files/settings_file.h"
#include "platform/mqtt/mqtt.h"
#include "status.h"

#include <string>
#include <vector>

namespace publish {

constexpr const char *kOnline  = "online";
constexpr const char *kOffline = "offline";
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
    std::string password; // from passwordFile, else RMX7_MQTT_PASSWORD; never shown
};

// The publisher's options as a command line gave them, in their order (line 0), and the
// config file named with --config.
struct Given {
    std::vector<Setting> settings;
    std::string config;
};

// Takes argv[i] when it is an option of the publisher (--broker, --name, --topic, --every,
// --qos, --client-id, --username, --password-file, --cafile, --cert, --key, --config, as
// "--option VALUE" or "--option=VALUE"), moving i past its value; a missing value, or a
// password asked for on the command line, goes into error.
bool TakeOption(int argc, char **argv, int &i, Given &given, std::string &error);
// The config file's settings, then the command line's over them, each checked, and the
// password read; false with error naming the file and line, or the option.
bool ReadSettings(const Given &given, Settings &settings, std::string &error);
// Why the password would cross the network readable (no TLS, a host not the loopback), or
// empty.
std::string PasswordWarning(const Settings &settings);
// The line's name in topics: the settings' name, else taken from COM port: its stable
// name, device file or remote address, made topic-safe.
std::string LineName(const Settings &settings, int port);

// --- Payloads ---
// Unix time now, in seconds, and in nanoseconds.
double UnixNow();
long long UnixNanoseconds();
// The live topic's message: {"time":1733580000.123,"seq":1,"valNORM":1000,...,"instate":1},
// the time in Unix seconds to the millisecond, the values by their recording column names.
std::string LiveJson(const com232::LiveReply &reply, double unixSeconds, long long seq);
// A line of InfluxDB line protocol: measurement rmx7, the line's name as the tag line, the
// nine values as integer fields, the time in Unix nanoseconds.
std::string InfluxLine(const std::string &line, const com232::LiveReply &reply, long long unixNs);

// What the info topic tells of the controller and its line.
struct Info {
    int board = 0;
    std::string firmware;
    int com = 0;
    std::string device;
    com232::Parameters ram{};
    double time = 0; // Unix seconds when it was taken
    // Everything but the time is the same.
    bool SameAs(const Info &other) const;
};
// The link's controller now: board variant, firmware, port and the parameter set as the
// start-up fetched it from RAM (or as it was sent since).
Info CurrentInfo(double unixSeconds);
std::string InfoJson(const Info &info);
// The status while the controller does not answer: "no-controller: <status text>".
std::string NoController(const std::string &text);

// --- The publisher ---
// Connects in the background to the broker of settings, for the line on COM port, with
// "offline" as its last will; shows the broker's state beside Record. False with error
// when a setting is wrong or a file it names cannot be read: nothing is started then.
bool Start(const Settings &settings, int port, std::string &error);
// Publishes "offline" and disconnects (waiting 2 s at most); nothing when not started.
void Stop();
bool Started();
mqtt::State BrokerState();
// Connected, or an attempt has failed: the first connection attempt is over.
bool BrokerTried();
// Where the broker's changes are told besides the panel's label, one line each (nullptr:
// nowhere).
void TellBrokerChanges(void (*tell)(const char *text));
// How a start-up or a run ended: online (with the info, when it changed) once the
// controller answered, no-controller with the status text of a failure.
void NoteOutcome(const status::Outcome &outcome);
// The live listener: the reply counted and, when it is one of every Nth, published at the
// next event processing: in the run, right after the next request went out.
void PublishReply(const com232::LiveReply &reply, double now);
long long Replies();     // since Start
long long Unpublished(); // replies due that were dropped: no broker, or too many not out

} // namespace publish
