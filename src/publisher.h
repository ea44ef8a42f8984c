// The publisher of one line: its own connection to the broker, so that its last will is its
// own, under PREFIX/NAME/. It publishes the line's live replies (live), its controller
// (info, retained) and its own state (status, retained; "offline" is the last will), and
// for the line's agent the parameter server's state (parameters, retained), events
// (event) and audit records (audit). With commands on, it hands on what comes on
// PREFIX/NAME/cmd/VERB and sends the answers.
//
//   --- Connection ---   Start, Stop; BrokerState, BrokerTried; the sinks it reports to
//   --- The line ---     NoteOutcome (online or no-controller), the live listener
//   --- The agent ---    PublishParameters, PublishEvent, PublishAudit, Respond
//   --- One name ---     a second publisher of the same name is refused, not mixed in
//
// A publish hands the message to the socket and returns, so a broker that is slow or away
// costs messages, dropped and counted, never a wait on the line; a reply's message goes out
// after the request that follows the reply.
//
// One name, one publisher: every status payload names its publisher (publish::Identity).
// On each connection the name is claimed (retained topics, then live messages) only once
// the status topic is heard, its retained status read with the subscription's
// acknowledgement, so a publisher that finds the name taken has published nothing on it.
// When two hear each other on the status topic, the one that started later yields: it
// says "conflict" (a status not retained, an event, its tell sink), drops the name with a
// clean end so that its last will never covers the other, and watches the status topic
// until the name is free (the other one's status goes offline), to take it up again. A
// status of a process of this host that is gone (an agent restarted after a crash, before
// its will came) is no conflict.
#pragma once

#include "com232.h"
#include "platform/mqtt/mqtt.h"
#include "platform/mqtt/mqtt_text.h"
#include "publish.h"
#include "status.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace publish {

// What a publisher tells besides its topics: the broker's state for a label ("Broker:
// connected", with a tooltip), each change of the connection in a line of text, a
// command that came, and a conflict over the name (true: it yielded; false: it has the
// name again).
struct Sinks {
    std::function<void(const char *label, const std::string &tip)> showBrokerState;
    std::function<void(const char *text)> tell;
    std::function<void(const mqtt::Message &message)> command;
    std::function<void(bool yielded)> conflict;
};

class Publisher {
  public:
    Publisher(com232::Line &line, Sinks sinks);
    // Publishes "offline" and disconnects when started.
    ~Publisher();
    Publisher(const Publisher &)            = delete;
    Publisher &operator=(const Publisher &) = delete;

    // --- Connection ---
    // Connects in the background to the broker of settings, with "offline" as its last
    // will, for the line under name (empty: LineName of the line's port); offer says what
    // the line's agent takes, and with commands on it subscribes to them. False with error
    // when a setting is wrong or a file it names cannot be read: nothing is started then.
    bool Start(const Settings &settings, const std::string &name, std::string &error,
               const Offer &offer = {});
    // Publishes "offline" and disconnects (waiting 2 s at most); nothing when not started.
    void Stop();
    bool Started() const { return client_ != nullptr; }
    const std::string &Name() const { return name_; }
    const Identity &Me() const { return identity_; }
    mqtt::State BrokerState() const;
    // Connected, or an attempt has failed: the first connection attempt is over.
    bool BrokerTried() const;
    // Another publisher has the name: this one publishes nothing until it is free.
    bool Yielded() const { return yielded_; }

    // --- The line ---
    // How a start-up or a run ended: online (with the info, when it changed) once the
    // controller answered, no-controller with the status text of a failure.
    void NoteOutcome(const status::Outcome &outcome);
    // What an online status says beside (a controller the parameter server refused to
    // write); empty: nothing.
    void Remark(const std::string &text);
    // The listener's part: the reply counted and, when it is one of every Nth, published at
    // the next event processing: in the run, right after the next request went out.
    void PublishReply(const com232::LiveReply &reply);
    long long Replies() const { return replies_; }         // since Start
    long long Unpublished() const { return unpublished_; } // replies due that were dropped

    // --- The agent ---
    // The parameter server's state (kept, and published again on every connection), an
    // event, an audit record.
    void PublishParameters(const std::string &json);
    void PublishEvent(const std::string &json);
    void PublishAudit(const std::string &json);
    // An answer to a command: to topic, with the request's correlation data, at qos.
    void Respond(const std::string &topic, const std::string &payload,
                 const std::string &correlationData, int qos);
    // The topic of commands, PREFIX/NAME/cmd/; what follows it is the verb.
    const std::string &CommandTopic() const { return commandTopic_; }

  private:
    static void SendPending(void *publisher);
    void MakeClient(bool takesCommands);
    mqtt::Settings Connection(bool withWill) const;
    bool Claims() const;
    void Claim();
    void ShowBrokerState() const;
    void Tell(const std::string &text) const;
    void PublishRetained(const std::string &topic, const std::string &payload);
    void SetStatus(const Status &status);
    void RefreshInfo();
    void OnBrokerChange(mqtt::State state, const std::string &reason);
    void OnMessage(const mqtt::Message &message);
    void HearStatus(const HeardStatus &heard, bool retained);
    void Yield(const Identity &other);
    void Resume();

    com232::Line &line_;
    Sinks sinks_;
    Identity identity_ = NewIdentity();
    Offer offer_;
    int listener_ = 0;
    std::unique_ptr<mqtt::Client> client_;
    Settings settings_;
    mqtt::BrokerAddress address_;
    std::string name_, liveTopic_, infoTopic_, statusTopic_, parametersTopic_, eventTopic_,
        auditTopic_, commandTopic_;
    std::optional<Status> status_;     // what the status topic should hold; nothing known yet
    double statusTime_ = 0;            // when it last changed
    std::string remark_;               // the text of an online status
    std::optional<Info> info_;         // the info published last
    std::string parameters_;           // the parameter server's state published last
    std::vector<std::string> pending_; // live messages for the next event processing
    int sendTimer_             = 0;    // the send of pending_ is due
    long long replies_         = 0;    // since Start
    long long unpublished_     = 0;    // replies due that were dropped
    long long toldUnpublished_ = 0;
    std::string lastLoss_;                              // why the broker was last lost
    std::chrono::steady_clock::time_point connectedAt_; // the last connection
    bool quiet_    = false; // the last loss repeated the one before: its reconnection is not told
    bool yielded_  = false; // another publisher has the name; the client only watches
    bool yieldDue_ = false; // it was found to have it; the yield follows the callback
    bool heard_    = false; // the status topic was heard on this connection: it is claimed
    Identity other_;        // the publisher this one yields to
    int laterTimer_ = 0;    // a yield or resume due once the client's callback has returned
};

} // namespace publish
