// The plant's broker connection: the lines' topics into the model, commands out and their
// answers back.
#include "plant/plant_link.h"

#include "plant/audit.h"
#include "platform/mqtt/mqtt_text.h"
#include "platform/panel/events.h"
#include "status.h"

#include <algorithm>
#include <random>

namespace plant {

namespace {

constexpr int kExitUsage          = 2;
constexpr int kExitLine           = 4;
constexpr int kRetainedQos        = 1; // what a line is and how it stands is never dropped
constexpr int kLiveQos            = 0; // the next value follows in 37 ms
constexpr const char *kClientStem = "rmx7plant-";
constexpr std::string_view kRetainedLeaves[] = {kInfo, kStatus, kParameters};

// The lines' live values come steadily, 27 a second a line: read in batches they cost a
// wake-up a batch, not one each, and a row repaints at most ten times a second anyway.
constexpr int kReadPauseMs = 20;

std::string RandomClientId() {
    std::random_device random;
    char id[17];
    std::snprintf(id, sizeof id, "%08x%08x", random(), random());
    return kClientStem + std::string(id);
}

CommandResult Shown(const LineResult &result) {
    CommandResult shown;
    shown.verb     = result.verb;
    shown.exitCode = result.exitCode;
    shown.text     = result.Text();
    shown.time     = publish::UnixNow();
    return shown;
}

} // namespace

publish::Settings ReaderSettings(publish::Settings settings, const publish::Given &given) {
    if (std::none_of(given.settings.begin(), given.settings.end(),
                     [](const Setting &s) { return s.key == "client-id"; }))
        settings.clientId.clear();
    return settings;
}

Link::Link(Model &model) : model_(model), operator_(audit::LoginName()) {}

Link::~Link() {
    Stop();
}

bool Link::Start(const publish::Settings &settings, std::string &error, bool live) {
    Stop();
    mqtt::BrokerAddress address;
    if (!mqtt::ParseBrokerAddress(settings.broker, address, error))
        return false;
    mqtt::Settings connection = publish::ConnectionOf(settings, address);
    if (connection.clientId.empty())
        connection.clientId = RandomClientId();
    connection.qos            = kRetainedQos;
    connection.readPauseMs    = kReadPauseMs;
    const std::string &prefix = model_.Prefix();
    responseTopic_ = prefix + "/" + kReplyLevel + "/" + mqtt::TopicSafe(connection.clientId);
    requests_      = std::make_unique<Requests>(prefix, responseTopic_);
    client_        = std::make_unique<mqtt::Client>();
    client_->OnStateChange(
        [this](mqtt::State state, const std::string &reason) { OnBroker(state, reason); });
    client_->OnMessage([this](const mqtt::Message &message) { OnMessage(message); });
    if (client_->Start(connection, error) != mqtt::kMqttOk) {
        client_.reset();
        return false;
    }
    broker_ = settings.broker;
    // Retained topics first: a line's live values are taken only once it is known.
    for (const std::string_view leaf : {kInfo, kStatus, kParameters, kEvent})
        client_->Subscribe(prefix + "/+/" + std::string(leaf), kRetainedQos);
    if (live)
        client_->Subscribe(prefix + "/+/" + std::string(kLive), kLiveQos);
    client_->Subscribe(responseTopic_, kRetainedQos);
    return true;
}

void Link::Stop() {
    if (client_)
        client_->StopSilently();
    client_.reset();
    forgetting_.clear();
    retainedComplete_ = false;
}

mqtt::State Link::BrokerState() const {
    return client_ ? client_->GetState() : mqtt::State::Off;
}

const std::string &Link::LastError() const {
    static const std::string none;
    return client_ ? client_->LastError() : none;
}

std::size_t Link::Waiting() const {
    return (requests_ ? requests_->Waiting() : 0) + forgetting_.size();
}

std::string Link::Marker(const std::string &what) {
    const std::string marker = "marker-" + what + "-" + std::to_string(++markers_);
    mqtt::Properties properties;
    properties.correlationData = marker;
    client_->Publish(responseTopic_, "{}", kRetainedQos, false, properties);
    return marker;
}

// On every connection the broker sends what it retains again; the marker published after
// the subscriptions comes back behind all of it.
void Link::OnBroker(mqtt::State state, const std::string &reason) {
    if (state == mqtt::State::Connected) {
        retainedComplete_ = false;
        retainedMarker_   = Marker("retained");
        if (events_.note)
            events_.note("connected to " + broker_ + ", reading the plant under " +
                         model_.Prefix() + "/");
    } else if (state == mqtt::State::Connecting && events_.note) {
        events_.note(reason + "; trying again");
    }
}

void Link::OnMessage(const mqtt::Message &message) {
    if (message.topic == responseTopic_) {
        OnReply(message);
        return;
    }
    if (message.retained && !message.payload.empty())
        for (Forgetting &forgetting : forgetting_)
            for (const std::string_view leaf : kRetainedLeaves)
                if (message.topic ==
                    model_.Prefix() + "/" + forgetting.line + "/" + std::string(leaf))
                    forgetting.kept = true;
    const Applied applied = model_.Apply(message.topic, message.payload, publish::UnixNow());
    if (applied.statusChanged)
        if (const Row *row = model_.Find(applied.line); row && row->status == Status::Offline)
            for (LineResult &ended : requests_->LineWentOffline(applied.line))
                Finish(std::move(ended));
    if (events_.applied && (applied.taken || !applied.note.empty()))
        events_.applied(applied);
}

void Link::OnReply(const mqtt::Message &message) {
    const std::string &correlation = message.correlationData;
    if (correlation == retainedMarker_) {
        retainedComplete_ = true;
        return;
    }
    for (auto it = forgetting_.begin(); it != forgetting_.end(); ++it)
        if (it->marker == correlation) {
            const Forgetting done = *it;
            forgetting_.erase(it);
            FinishForget(done, true);
            return;
        }
    if (correlation.starts_with("marker-"))
        return;
    if (std::optional<LineResult> result = requests_->TakeResponse(correlation, message.payload)) {
        Finish(std::move(*result));
        return;
    }
    // An answer after its time ran out: what the line did after all.
    const LineResult late = ReadAnswer(message.payload);
    if (late.line.empty() || !model_.Find(late.line))
        return;
    CommandResult shown = Shown(late);
    shown.text          = "answered late: " + shown.text;
    model_.SetResult(late.line, shown);
    if (events_.note)
        events_.note(late.line + ": " + late.verb + " " + shown.text);
}

bool Link::Send(const std::string &line, const std::string &verb, const std::string &members) {
    LineResult refused;
    const std::optional<OutgoingRequest> request =
        requests_ ? requests_->Prepare(line, verb, members, Timer(), refused) : std::nullopt;
    if (!request) {
        if (!requests_)
            refused = Unanswered(line, verb, kExitLine, status::kNoBrokerConnection);
        Finish(std::move(refused));
        return false;
    }
    mqtt::Properties properties;
    properties.responseTopic   = responseTopic_;
    properties.correlationData = request->correlation;
    properties.userProperties.emplace_back("operator", operator_);
    const int sent =
        client_->Publish(request->topic, request->payload, kRetainedQos, false, properties);
    if (sent != mqtt::kMqttOk) {
        Finish(requests_->Unsent(*request, sent == mqtt::kMqttErrNotConnected
                                               ? status::kNoBrokerConnection
                                               : "the broker connection takes no more now"));
        return false;
    }
    CommandResult waiting;
    waiting.verb    = verb;
    waiting.pending = true;
    waiting.text    = "sent, waiting for the answer";
    waiting.time    = publish::UnixNow();
    model_.SetResult(line, waiting);
    return true;
}

// The clears, the subscriptions that ask for the line's retained topics again and the
// marker go out in this order on one connection, and the broker takes them in order: what
// comes back retained before the marker was not cleared.
void Link::Forget(const std::string &line) {
    if (BrokerState() != mqtt::State::Connected) {
        Finish(Unanswered(line, "forget", kExitLine, status::kNoBrokerConnection));
        return;
    }
    const std::string base = model_.Prefix() + "/" + line + "/";
    for (const std::string_view leaf : kRetainedLeaves)
        client_->Publish(base + std::string(leaf), "", kRetainedQos, true);
    for (const std::string_view leaf : kRetainedLeaves)
        client_->Subscribe(base + std::string(leaf), kRetainedQos);
    forgetting_.push_back({line, Marker("forget"), Timer() + kForgetSeconds});
}

void Link::FinishForget(const Forgetting &forgetting, bool confirmed) {
    const std::string base = model_.Prefix() + "/" + forgetting.line + "/";
    if (client_)
        for (const std::string_view leaf : kRetainedLeaves)
            client_->Unsubscribe(base + std::string(leaf));
    LineResult result;
    result.line     = forgetting.line;
    result.verb     = "forget";
    result.answered = confirmed;
    if (!confirmed) {
        result.error = "the broker did not confirm within 5 s that " + base + "info, status " +
                       "and parameters are cleared";
    } else if (forgetting.kept) {
        result.exitCode = kExitUsage;
        result.error    = "the broker kept " + base + "info, status and parameters: this login " +
                       "may not publish there (the broker's ACL)";
    } else {
        result.exitCode = 0;
        result.status   = "its retained topics are cleared";
        model_.Remove(forgetting.line);
    }
    Finish(std::move(result));
}

void Link::Tick() {
    if (requests_)
        for (LineResult &expired : requests_->Expire(Timer()))
            Finish(std::move(expired));
    const double now = Timer();
    for (auto it = forgetting_.begin(); it != forgetting_.end();) {
        if (it->deadline > now) {
            ++it;
            continue;
        }
        const Forgetting done = *it;
        it                    = forgetting_.erase(it);
        FinishForget(done, false);
    }
}

void Link::Finish(LineResult result) {
    model_.SetResult(result.line, Shown(result));
    if (events_.result)
        events_.result(result);
}

} // namespace plant
