// An MQTT client for the plant link (MQTT 5 by default, or 3.1.1; over TCP or TLS): one
// connection to one broker, kept up for as long as the client is started.
//
//   --- Settings ---     Settings: the broker, TLS, the login, the client id, the protocol,
//                        the keep-alive, the last will, the QoS
//   --- Connection ---   Start, Stop, StopSilently; GetState, LastError, OnStateChange
//   --- Messages out --- Properties; Publish; Published, Dropped
//   --- Messages in ---  Message; Subscribe, Unsubscribe, OnMessage, OnSubscribed; DroppedIn
//
// Thread rule: every call comes from the program thread, and the client has no thread of
// its own. Its work runs inside event processing (RunUserInterface, ProcessSystemEvents):
// a socket notifier for what the broker sends (each wake-up reads every packet the socket
// holds, so a busy subscription costs one wake-up per burst, not one per message) and, only
// while the socket cannot take everything at once, one for writing; a housekeeping timer
// that wakes once a second while the client is started (keep-alive, connect time-out); the
// reconnect's timer. The state and message callbacks run only there, never inside one of
// the calls below, so they may publish.
//
// Never blocks: the broker's name is looked up in the background (by Qt's lookup thread,
// which hands the answer to event processing), the connect and the TLS handshake go on
// while the program does its work, and a publish writes what the socket takes at once.
// The one wait is Stop's, bounded by its time-out.
//
// Results: kMqttOk, or one of the kMqttErr codes below. The texts (error, LastError, the
// callback's reason) are plain words for the operator and never hold the password.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mqtt {

constexpr int kMqttOk              = 0;
constexpr int kMqttErrSettings     = -1; // Start: a setting is wrong or a file it names unreadable
constexpr int kMqttErrNotConnected = -2; // Publish: no connection now; the message is dropped
constexpr int kMqttErrBacklog      = -3; // Publish: kMaxOutstanding are not out yet; dropped
constexpr int kMqttErrRefused      = -4; // Publish: not a topic, payload or property MQTT
                                         // takes; dropped. Subscribe: not a filter it takes

// Messages handed to the connection and not yet out: a QoS 0 message until the socket took
// it, a QoS 1 message until the broker acknowledged it. A publish beyond this is dropped,
// so a broker that is slow or stalled costs a bounded amount of memory and never a wait.
constexpr int kMaxOutstanding = 100;

// A message that arrives with more than this in payload and properties together is dropped
// and counted (DroppedIn), never handed on: no request or command of the plant comes near
// it. The library reads each packet whole before the client sees it, so a broker's packet
// still costs its own size while it is read (MQTT allows up to 256 MB; a broker's own
// maximum packet size bounds that).
constexpr std::size_t kMaxMessageInBytes = 256 * 1024;

// The longest client id: what a string of MQTT holds.
constexpr std::size_t kMaxClientIdBytes = 65535;

// Back-off between connection attempts: 1 s while the broker has been away for less than
// kSteadyRetryMs (since the start or the loss of a connection), so values flow again within
// a second of a broker restarted or failed over; then doubling from 2 s up to 30 s, so a
// broker away for long is not pressed by every line at once. A connection that the broker
// ends because another client connected with the same client id (MQTT 5 says so) counts as
// away since the first such end, so two clients of one id back off as from an outage.
constexpr int kFirstRetryMs  = 1000;
constexpr int kSteadyRetryMs = 10000;
constexpr int kLastRetryMs   = 30000;

enum class State {
    Off,        // not started, or stopped
    Connecting, // started, no connection yet or lost: attempts go on with back-off
    Connected,  // the broker accepted the connection
};

// --- Settings ---
struct Settings {
    std::string host;          // a name or an address (IPv6 without brackets)
    int port = 0;              // 0: 1883, or 8883 with tls
    bool tls = false;          // mqtts: the broker's certificate and host name are verified
    std::string caFile;        // PEM file of the CA(s) to trust; empty: the system's
    std::string certFile;      // client certificate (PEM), with keyFile; both or neither
    std::string keyFile;       // its private key (PEM, not encrypted)
    std::string username;      // empty: no login
    std::string password;      // with username; held in memory only, never shown
    std::string clientId;      // empty: a fresh random id for each connection; one that
                               // another client uses too has the broker throw one of
                               // them out at each connect of the other
    int protocol         = 5;  // 5: MQTT 5 (default); 4: MQTT 3.1.1
    int keepAliveSeconds = 10; // 5 to 65535: the broker publishes the will 1.5 times this
                               // after the client fell silent, a silent broker is noticed
                               // within twice this, a connect not through in it is given up
    std::string willTopic;     // empty: no last will
    std::string willPayload;   // what the broker publishes when the client vanishes
    bool willRetain = true;
    std::vector<std::pair<std::string, std::string>> willUserProperties; // MQTT 5 only
    int qos = 0; // 0 or 1: the will's QoS, and Stop's final message's
    // Above 0: once the socket has something to read, it rests this long first, so that a
    // steady stream of messages is read in batches, one wake-up each, not one per message.
    int readPauseMs = 0;
};

// What an outgoing message carries besides topic and payload (MQTT 5; on a 3.1.1
// connection they are left out).
struct Properties {
    std::string responseTopic;   // where the receiver should send its answer; empty: none
    std::string correlationData; // bytes (at most 65535) the answer copies; empty: none
    std::vector<std::pair<std::string, std::string>> userProperties;
};

// A message that arrived on a subscription.
struct Message {
    std::string topic;
    std::string payload;
    int qos       = 0;
    bool retained = false;       // the broker's retained copy, sent on subscribing
    std::string responseTopic;   // MQTT 5: where the sender wants its answer; empty: none
    std::string correlationData; // MQTT 5: bytes to copy into the answer; empty: none
    std::vector<std::pair<std::string, std::string>> userProperties; // MQTT 5
};

class Client {
  public:
    Client();
    // Ends a started client as StopSilently does.
    ~Client();
    Client(const Client &)            = delete;
    Client &operator=(const Client &) = delete;

    // --- Connection ---
    // Checks the settings and starts connecting in the background; a broker that is down
    // or a name that does not resolve is no error (attempts go on with back-off).
    // kMqttOk, or kMqttErrSettings with error saying which setting is wrong or which file
    // cannot be read (then nothing is started). Ignores SIGPIPE for the whole program, so a
    // broker that hangs up cannot end it. A started client is ended without a word first;
    // its subscriptions, and those made before Start, are kept.
    int Start(const Settings &settings, std::string &error);
    // While connected, publishes the final message (the status that replaces the last
    // will, e.g. "offline") and disconnects cleanly, so the broker drops the will; waits at
    // most timeoutMs for the socket to take both. Then, or when not connected, ends the
    // client: State::Off, no callback. kMqttOk when the final message went out, else the
    // code its Publish gave or kMqttErrNotConnected when time ran out.
    int Stop(std::string_view topic, std::string_view payload, bool retain, int timeoutMs = 2000);
    // Ends the client at once without a word to the broker, which then publishes the will.
    // Stop and StopSilently end the subscriptions too.
    void StopSilently();

    State GetState() const;
    // Why the latest attempt failed or the connection ended ("the broker at host:1883
    // refused the connection"); empty while connected and before the first attempt.
    const std::string &LastError() const;
    // Called from event processing on each change of state but those of Start and Stop,
    // and again when an attempt fails for another reason than the one before, with
    // LastError as reason when the state is Connecting. On every change to Connected the
    // caller publishes its retained messages again, since the broker may have lost them.
    // The callback may publish; it must not start, stop or destroy the client.
    void OnStateChange(std::function<void(State state, const std::string &reason)> callback);

    // --- Messages out ---
    // Hands one message to the connection, never waiting. kMqttOk, or kMqttErrNotConnected,
    // kMqttErrBacklog or kMqttErrRefused: the message is dropped and counted, not queued.
    int Publish(std::string_view topic, std::string_view payload, int qos, bool retain,
                const Properties &properties = {});
    // Messages out since Start (QoS 0 taken by the socket, QoS 1 acknowledged), and messages
    // dropped: refused by Publish or in the broker's acknowledgement, or not yet out when
    // their connection ended.
    long long Published() const;
    long long Dropped() const;

    // --- Messages in ---
    // Subscribes to filter (wildcards + and # allowed) at qos 0 or 1, now when connected
    // (or started later) and again on every (re)connection, until Unsubscribe or Stop. kMqttOk, or
    // kMqttErrRefused for a filter MQTT does not take. Subscribing again to the same filter
    // changes its QoS.
    int Subscribe(std::string_view filter, int qos);
    // Ends the subscription to filter, given as it was to Subscribe. kMqttOk.
    int Unsubscribe(std::string_view filter);
    // Called from event processing for every message that arrives on a subscription, in
    // the order they arrive; the callback may publish, subscribe and unsubscribe, but must
    // not start, stop or destroy the client. A callback that processes events is not entered
    // again: what arrives meanwhile is handed on once it returns.
    void OnMessage(std::function<void(const Message &message)> callback);
    // Called from event processing when the broker acknowledged a subscription of filter,
    // on every connection, after the messages read with the acknowledgement (a topic's
    // retained message comes with it). The same rules as OnMessage's callback.
    void OnSubscribed(std::function<void(const std::string &filter)> callback);
    // Messages that arrived since Start larger than kMaxMessageInBytes, dropped.
    long long DroppedIn() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace mqtt
