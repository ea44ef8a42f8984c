// The publisher of one line over its own MQTT connection.
#include "publisher.h"

#include "platform/mqtt/mqtt_text.h"
#include "platform/panel/events.h"
#include "platform/text.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <utility>

namespace publish {

namespace {

constexpr int kStopTimeoutMs      = 2000;
constexpr const char *kStopped    = "stopped";
constexpr const char *kConnection = "connection lost";
// Live messages that wait for the name's claim at most; more are dropped as while away.
constexpr std::size_t kMaxWaitingLive = 256;

// A process of this host that is gone: what it left on the broker speaks for nobody.
bool GoneFromThisHost(const Identity &other, const Identity &me) {
    return other.host == me.host && other.pid > 0 && kill(other.pid, 0) != 0 && errno == ESRCH;
}

// Of two publishers of one name, the one that started first keeps it.
bool StartedFirst(const Identity &one, const Identity &other) {
    return one.started < other.started ||
           (one.started == other.started && one.instance < other.instance);
}

} // namespace

Publisher::Publisher(com232::Line &line, Sinks sinks) : line_(line), sinks_(std::move(sinks)) {}

Publisher::~Publisher() {
    CancelTimer(laterTimer_);
    Stop();
}

void Publisher::Tell(const std::string &text) const {
    if (sinks_.tell)
        sinks_.tell(("MQTT: " + text).c_str());
}

void Publisher::ShowBrokerState() const {
    if (!sinks_.showBrokerState)
        return;
    const mqtt::State state = BrokerState();
    if (state == mqtt::State::Off)
        sinks_.showBrokerState("Broker: off", {});
    else if (yielded_)
        sinks_.showBrokerState("Broker: name in use", "Another publisher uses the name " + name_ +
                                                          " on " + settings_.broker);
    else if (state == mqtt::State::Connecting)
        sinks_.showBrokerState("Broker: connecting", client_->LastError().empty()
                                                         ? "Connecting to " + settings_.broker
                                                         : client_->LastError());
    else
        sinks_.showBrokerState("Broker: connected", "Publishing to " + settings_.broker +
                                                        " under " + settings_.prefix + "/" + name_);
}

bool Publisher::Claims() const {
    return client_ && heard_ && !yielded_ && !yieldDue_;
}

void Publisher::PublishRetained(const std::string &topic, const std::string &payload) {
    if (Claims())
        client_->Publish(topic, payload, settings_.qos, true);
}

void Publisher::SetStatus(const Status &status) {
    if (status_ && status_->state == status.state && status_->text == status.text)
        return;
    status_     = status;
    statusTime_ = UnixNow();
    PublishRetained(statusTopic_, StatusJson(status, identity_, statusTime_));
}

// The info again when the controller, its port or its RAM set changed since it was
// published; cheap enough for every reply, so the device is looked up only at a change.
void Publisher::RefreshInfo() {
    if (const std::optional<Info> &known = info_;
        known && known->board == line_.BoardVariant() && known->firmware == line_.Firmware() &&
        known->com == line_.Port() &&
        com232::WordsOf(known->ram) == com232::WordsOf(line_.ParameterSet()))
        return;
    info_           = CurrentInfo(line_, UnixNow());
    info_->name     = name_;
    info_->identity = identity_;
    info_->offer    = offer_;
    PublishRetained(infoTopic_, InfoJson(*info_));
}

// The live messages of the replies taken since the last event processing. The run writes
// its next request before it returns to the event loop, so the send, and the broker and
// subscribers it wakes, never stand between a reply and the next request.
void Publisher::SendPending(void *publisher) {
    auto &self      = *static_cast<Publisher *>(publisher);
    self.sendTimer_ = 0;
    // Connected, but the status topic not heard yet: they wait for the claim (a round trip).
    if (self.BrokerState() == mqtt::State::Connected && !self.heard_ && !self.yielded_ &&
        !self.yieldDue_ && self.pending_.size() < kMaxWaitingLive)
        return;
    for (const std::string &payload : self.pending_)
        if (!self.Claims() || self.client_->Publish(self.liveTopic_, payload, self.settings_.qos,
                                                    false) != mqtt::kMqttOk)
            ++self.unpublished_;
    self.pending_.clear();
}

// On every connection the retained topics go out again: the broker may have lost them.
// A broker that ends each connection soon for the same reason (another client with the
// same client id, thrown out by this one in turn) is told of once, not at every turn: a
// loss that repeats the one before within twice the longest back-off after connecting is
// not told, nor the connection that follows it.
void Publisher::OnBrokerChange(mqtt::State state, const std::string &reason) {
    ShowBrokerState();
    if (yielded_)
        return;
    const auto now = std::chrono::steady_clock::now();
    heard_         = false;
    if (state == mqtt::State::Connected) {
        connectedAt_ = now;
        if (quiet_)
            return;
        const long long missed = unpublished_ - toldUnpublished_;
        toldUnpublished_       = unpublished_;
        Tell("connected to " + settings_.broker + ", publishing under " + settings_.prefix + "/" +
             name_ +
             (missed > 0 ? "; " + std::to_string(missed) + " replies were not published" : ""));
    } else if (state == mqtt::State::Connecting) {
        quiet_ = reason == lastLoss_ &&
                 now - connectedAt_ < std::chrono::milliseconds(2 * mqtt::kLastRetryMs);
        lastLoss_ = reason;
        if (!quiet_)
            Tell(reason + "; trying again");
    }
}

// The status topic is heard on this connection: its retained status came with the
// acknowledgement, and a publisher that keeps the name would have been found. So the name is
// claimed only now: the retained topics again (the broker may have lost them), then the live
// messages that waited.
void Publisher::Claim() {
    if (yielded_ || yieldDue_)
        return;
    heard_ = true;
    if (info_)
        PublishRetained(infoTopic_, InfoJson(*info_));
    if (status_)
        PublishRetained(statusTopic_, StatusJson(*status_, identity_, statusTime_));
    if (!parameters_.empty())
        PublishRetained(parametersTopic_, parameters_);
    SendPending(this);
}

void Publisher::OnMessage(const mqtt::Message &message) {
    if (message.topic == statusTopic_) {
        if (const std::optional<HeardStatus> heard = ReadStatus(message.payload))
            HearStatus(*heard, message.retained);
        return;
    }
    if (!yielded_ && sinks_.command && message.topic.starts_with(commandTopic_))
        sinks_.command(message);
}

// The status topic holds this publisher's status, or another's: a newer publisher of the
// name yields to the older, and the older one puts its status back. A status delivered as
// retained is the one stored when this client subscribed, which its own status on the
// connection replaces: only one published since needs putting back.
void Publisher::HearStatus(const HeardStatus &heard, bool retained) {
    if (heard.identity.instance == identity_.instance)
        return;
    // The client is stopped and started outside its own callback.
    const auto later = [this](void (*step)(void *)) {
        CancelTimer(laterTimer_);
        laterTimer_ = StartTimer(0, step, this);
    };
    if (yielded_) {
        if (heard.state == State::Offline)
            later([](void *self) {
                auto &publisher       = *static_cast<Publisher *>(self);
                publisher.laterTimer_ = 0;
                publisher.Resume();
            });
        return;
    }
    const bool claims = heard.state == State::Online || heard.state == State::NoController;
    if (claims && !GoneFromThisHost(heard.identity, identity_) &&
        StartedFirst(heard.identity, identity_)) {
        other_    = heard.identity;
        yieldDue_ = true;
        later([](void *self) {
            auto &publisher       = *static_cast<Publisher *>(self);
            publisher.laterTimer_ = 0;
            publisher.Yield(publisher.other_);
        });
        return;
    }
    if (retained)
        return;
    if (status_ && heard.state != State::Conflict)
        PublishRetained(statusTopic_, StatusJson(*status_, identity_, statusTime_));
    if (info_ && claims)
        PublishRetained(infoTopic_, InfoJson(*info_));
}

// Another publisher keeps the name: a word on the status topic that is not retained, an
// event, a line on the tell sink; then the name is dropped with a clean end, so that this
// one's last will is dropped with it, and the topic only watched from now on.
void Publisher::Yield(const Identity &other) {
    yieldDue_ = false;
    if (yielded_ || !client_)
        return;
    const Status conflict{State::Conflict,
                          "another publisher (" + other.instance + " on " + other.host +
                              ", process " + std::to_string(other.pid) + ") uses the name " +
                              name_ + "; this one publishes nothing until it is free",
                          other.instance};
    const double now = UnixNow();
    client_->Publish(eventTopic_,
                     "{\"time\":" + TimeJson(now) +
                         ",\"event\":\"conflict\",\"text\":" + JsonString(conflict.text) +
                         ",\"instance\":" + JsonString(identity_.instance) +
                         ",\"other\":" + JsonString(other.instance) + "}",
                     settings_.qos, false);
    client_->Stop(statusTopic_, StatusJson(conflict, identity_, now), false, kStopTimeoutMs);
    yielded_ = true;
    Tell("conflict: " + conflict.text);
    std::string error;
    MakeClient(false);
    client_->Start(Connection(false), error);
    ShowBrokerState();
    if (sinks_.conflict)
        sinks_.conflict(true);
}

// The name is free again: publishing as at the start, the last will with it.
void Publisher::Resume() {
    if (!yielded_)
        return;
    yielded_ = false;
    std::string error;
    MakeClient(offer_.commands != "off");
    client_->Start(Connection(true), error);
    Tell("the name " + name_ + " is free again: publishing under " + settings_.prefix + "/" +
         name_);
    ShowBrokerState();
    if (sinks_.conflict)
        sinks_.conflict(false);
}

// A client that watches the status topic, and takes the commands when asked to.
void Publisher::MakeClient(bool takesCommands) {
    client_ = std::make_unique<mqtt::Client>();
    client_->OnStateChange(
        [this](mqtt::State state, const std::string &reason) { OnBrokerChange(state, reason); });
    client_->OnMessage([this](const mqtt::Message &message) { OnMessage(message); });
    client_->OnSubscribed([this](const std::string &filter) {
        if (filter == statusTopic_)
            Claim();
    });
    client_->Subscribe(statusTopic_, 1);
    if (takesCommands)
        client_->Subscribe(commandTopic_ + "+", 1);
}

mqtt::Settings Publisher::Connection(bool withWill) const {
    mqtt::Settings connection = ConnectionOf(settings_, address_);
    if (withWill) {
        connection.willTopic   = statusTopic_;
        connection.willPayload = StatusJson({State::Offline, kConnection, {}}, identity_, -1);
        connection.willRetain  = true;
    }
    return connection;
}

bool Publisher::Start(const Settings &settings, const std::string &name, std::string &error,
                      const Offer &offer) {
    Stop();
    if (!mqtt::ParseBrokerAddress(settings.broker, address_, error))
        return false;
    settings_ = settings;
    offer_    = offer;
    name_     = name.empty() ? LineName(settings, line_.Port()) : name;
    status_.reset();
    remark_.clear();
    info_.reset();
    parameters_.clear();
    pending_.clear();
    replies_                = 0;
    unpublished_            = 0;
    toldUnpublished_        = 0;
    yielded_                = false;
    const std::string topic = settings.prefix + "/" + name_ + "/";
    liveTopic_              = topic + "live";
    infoTopic_              = topic + "info";
    statusTopic_            = topic + "status";
    parametersTopic_        = topic + "parameters";
    eventTopic_             = topic + "event";
    auditTopic_             = topic + "audit";
    commandTopic_           = topic + "cmd/";

    MakeClient(offer.commands != "off");
    if (client_->Start(Connection(true), error) != mqtt::kMqttOk) {
        client_.reset();
        return false;
    }
    com232::LiveListener listener;
    listener.reply = [this](const com232::LiveReply &reply, double) { PublishReply(reply); };
    listener_      = line_.AddLiveListener(std::move(listener));
    ShowBrokerState();
    Tell("connecting to " + settings_.broker + " for " + topic + "live, info and status");
    return true;
}

void Publisher::Stop() {
    if (!client_)
        return;
    line_.RemoveLiveListener(listener_);
    CancelTimer(sendTimer_);
    SendPending(this);
    // A publisher that yielded has no word to leave on a name another keeps.
    if (yielded_)
        client_->StopSilently();
    else
        client_->Stop(statusTopic_,
                      StatusJson({State::Offline, kStopped, {}}, identity_, UnixNow()), true,
                      kStopTimeoutMs);
    client_.reset();
    ShowBrokerState();
}

mqtt::State Publisher::BrokerState() const {
    return client_ ? client_->GetState() : mqtt::State::Off;
}

bool Publisher::BrokerTried() const {
    return BrokerState() == mqtt::State::Connected || (client_ && !client_->LastError().empty());
}

void Publisher::NoteOutcome(const status::Outcome &outcome) {
    if (!client_)
        return;
    if (!outcome.ok()) {
        SetStatus({State::NoController, outcome.text, {}});
        return;
    }
    RefreshInfo();
    SetStatus({State::Online, remark_, {}});
}

void Publisher::Remark(const std::string &text) {
    remark_ = text;
    if (status_ && status_->state == State::Online)
        SetStatus({State::Online, remark_, {}});
}

void Publisher::PublishReply(const com232::LiveReply &reply) {
    if (!client_)
        return;
    const long long seq = ++replies_;
    RefreshInfo();
    SetStatus({State::Online, remark_, {}});
    if ((seq - 1) % settings_.every != 0)
        return;
    pending_.push_back(LiveJson(reply, UnixNow(), seq));
    if (sendTimer_ == 0)
        sendTimer_ = std::max(StartTimer(0, SendPending, this), 0);
}

void Publisher::PublishParameters(const std::string &json) {
    parameters_ = json;
    PublishRetained(parametersTopic_, json);
}

void Publisher::PublishEvent(const std::string &json) {
    if (client_ && !yielded_)
        client_->Publish(eventTopic_, json, settings_.qos, false);
}

void Publisher::PublishAudit(const std::string &json) {
    if (client_ && !yielded_)
        client_->Publish(auditTopic_, json, 1, false);
}

void Publisher::Respond(const std::string &topic, const std::string &payload,
                        const std::string &correlationData, int qos) {
    if (!client_ || yielded_ || topic.empty())
        return;
    mqtt::Properties properties;
    properties.correlationData = correlationData;
    client_->Publish(topic, payload, qos, false, properties);
}

} // namespace publish
