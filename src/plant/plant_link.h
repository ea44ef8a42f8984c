// The plant's broker: one MQTT 5 connection that reads every line's topics into a Model and
// carries commands to the lines' agents, driven by the event loop. The plant window and
// rmx7ctl plant both read the plant through it, and neither ever opens a serial port.
//
//   --- Connection ---  Start, Stop; BrokerState, LastError; RetainedComplete
//   --- Commands ---    Send, Forget; Tick ends what waited too long
//   --- Events ---      Events: each message taken, each result, each thing worth a log line
//
// Subscribed: PREFIX/+/info, status, parameters, event (and live), and the connection's own
// response topic PREFIX/reply/CLIENTID, where the agents answer (MQTT 5 response topic and
// correlation data) and where the link checks that the broker has sent everything retained.
#pragma once

#include "plant/plant_model.h"
#include "plant/plant_requests.h"
#include "platform/mqtt/mqtt.h"
#include "publish.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace plant {

// The level under PREFIX of the response topics.
constexpr const char *kReplyLevel = "reply";
// How long the broker has to confirm that a line's retained topics are gone.
constexpr double kForgetSeconds = 5.0;

struct Events {
    std::function<void(const Applied &)> applied;   // a message of a line was read
    std::function<void(const LineResult &)> result; // a command (or a forget) ended
    std::function<void(const std::string &)> note;  // the broker's changes, late answers
};

class Link {
  public:
    explicit Link(Model &model);
    ~Link();
    Link(const Link &)            = delete;
    Link &operator=(const Link &) = delete;

    // --- Connection ---
    // Connects in the background to the broker of settings (its address, TLS files, login
    // and client id; the topics under settings.prefix); live values only when asked for,
    // since they are most of the traffic. False with error when a setting is wrong: nothing
    // is started then.
    bool Start(const publish::Settings &settings, std::string &error, bool live = true);
    void Stop();
    mqtt::State BrokerState() const;
    const std::string &LastError() const;
    std::string Broker() const { return broker_; }
    // The broker has sent every retained message it held when the link subscribed: a
    // marker published after the subscriptions has come back.
    bool RetainedComplete() const { return retainedComplete_; }
    // The name every request carries as its operator (default: the login name).
    void SetOperator(const std::string &name) { operator_ = name; }
    void SetEvents(Events events) { events_ = std::move(events); }

    // --- Commands ---
    // Sends verb with members (JSON members without braces, "" none) to line's agent and
    // marks the row as waiting. False when it could not go out: the result then comes at
    // once through Events.
    bool Send(const std::string &line, const std::string &verb, const std::string &members);
    // Clears the line's retained topics (info, status, parameters) and asks the broker
    // again for them: the result ("forget") says whether they are gone.
    void Forget(const std::string &line);
    // Ends the commands and forgets whose time ran out; call it now and then (a tenth of a
    // second is enough).
    void Tick();
    std::size_t Waiting() const;

  private:
    struct Forgetting {
        std::string line, marker;
        double deadline;
        bool kept = false; // a retained topic of the line came back
    };

    void OnMessage(const mqtt::Message &message);
    void OnReply(const mqtt::Message &message);
    void OnBroker(mqtt::State state, const std::string &reason);
    void Finish(LineResult result);
    void FinishForget(const Forgetting &forgetting, bool confirmed);
    std::string Marker(const std::string &what);

    Model &model_;
    Events events_;
    std::unique_ptr<mqtt::Client> client_;
    std::unique_ptr<Requests> requests_;
    std::string broker_, responseTopic_, operator_;
    std::string retainedMarker_;
    bool retainedComplete_ = false;
    long long markers_     = 0;
    std::vector<Forgetting> forgetting_;
};

// The settings a reader of the plant connects with, from the publisher's options as given:
// the broker, TLS files and login, but a client id only when the command line names one,
// since a config's is its publisher's and the broker would throw the publisher off.
publish::Settings ReaderSettings(publish::Settings settings, const publish::Given &given);

} // namespace plant
