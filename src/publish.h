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
#include "platform/files/settings_file.h"
#include "platform/mqtt/mqtt.h"
#include "status.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace publish {

constexpr const char *kOnline  = "online";
constexpr const char *kOffline = "offline";
// The unit of the live values (the state, instate, is a number from 0 to 3).
constexpr const char *kUnit = "ADC units";

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
// --qos, --client-id, --username, --password-file, --cafile, --cert, --key, --config, as
// "--option VALUE" or "--option=VALUE"), moving i past its value; a missing value, or a
// password asked for on the command line, goes into error.
bool TakeOption(int argc, char **argv, int &i, Given &given, std::string &error);
// The config file's settings, then the command line's over them, each checked, and the
// password read: from the password file, else the systemd credential "mqtt-password", else
// RMX7_MQTT_PASSWORD, which leaves the environment either way. A password file or client key
// that group or others may read is refused; a process that holds either is no longer
// dumpable. False with error naming the file and line, or the option.
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
// the time in Unix seconds to the millisecond, the values by their recording column names;
// with a line's name first ("line":"line7") where several lines share one stream.
std::string LiveJson(const com232::LiveReply &reply, double unixSeconds, long long seq,
                     const std::string &line = {});
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
// The line's controller now: board variant, firmware, port and the parameter set as the
// start-up fetched it from RAM (or as it was sent since).
Info CurrentInfo(const com232::Line &line, double unixSeconds);
std::string InfoJson(const Info &info);
// The status while the controller does not answer: "no-controller: <status text>".
std::string NoController(const std::string &text);

// --- The publisher ---
// What a publisher tells besides its topics: the broker's state for a label ("Broker:
// connected", with a tooltip), and each change of the connection in a line of text.
struct Sinks {
    std::function<void(const char *label, const std::string &tip)> showBrokerState;
    std::function<void(const char *text)> tell;
};

// The plant link of one line: its own connection to the broker, so that its last will is
// its own. A live listener of the line while started.
class Publisher {
  public:
    Publisher(com232::Line &line, Sinks sinks);
    // Publishes "offline" and disconnects when started.
    ~Publisher();
    Publisher(const Publisher &)            = delete;
    Publisher &operator=(const Publisher &) = delete;

    // Connects in the background to the broker of settings, with "offline" as its last
    // will, for the line under name (empty: LineName of the line's port). False with error
    // when a setting is wrong or a file it names cannot be read: nothing is started then.
    bool Start(const Settings &settings, const std::string &name, std::string &error);
    // Publishes "offline" and disconnects (waiting 2 s at most); nothing when not started.
    void Stop();
    bool Started() const { return client_ != nullptr; }
    const std::string &Name() const { return name_; }
    mqtt::State BrokerState() const;
    // Connected, or an attempt has failed: the first connection attempt is over.
    bool BrokerTried() const;
    // How a start-up or a run ended: online (with the info, when it changed) once the
    // controller answered, no-controller with the status text of a failure.
    void NoteOutcome(const status::Outcome &outcome);
    // The listener's part: the reply counted and, when it is one of every Nth, published at
    // the next event processing: in the run, right after the next request went out.
    void PublishReply(const com232::LiveReply &reply);
    long long Replies() const { return replies_; }         // since Start
    long long Unpublished() const { return unpublished_; } // replies due that were dropped

  private:
    static void SendPending(void *publisher);
    void ShowBrokerState() const;
    void Tell(const std::string &text) const;
    void PublishRetained(const std::string &topic, const std::string &payload);
    void SetStatus(const std::string &status);
    void RefreshInfo();
    void OnBrokerChange(mqtt::State state, const std::string &reason);

    com232::Line &line_;
    Sinks sinks_;
    int listener_ = 0;
    std::unique_ptr<mqtt::Client> client_;
    Settings settings_;
    std::string name_, liveTopic_, infoTopic_, statusTopic_;
    std::string status_;               // what the status topic should hold; empty: nothing known
    std::optional<Info> info_;         // the info published last
    std::vector<std::string> pending_; // live messages for the next event processing
    int sendTimer_             = 0;    // the send of pending_ is due
    long long replies_         = 0;    // since Start
    long long unpublished_     = 0;    // replies due that were dropped
    long long toldUnpublished_ = 0;
    std::string lastLoss_;                              // why the broker was last lost
    std::chrono::steady_clock::time_point connectedAt_; // the last connection
    bool quiet_ = false; // the last loss repeated the one before: its reconnection is not told
};

} // namespace publish
