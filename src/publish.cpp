// The plant link: settings, payloads and the publisher over one MQTT connection.
#include "publish.h"

#include "platform/mqtt/mqtt_text.h"
#include "platform/panel/events.h"
#include "platform/serial/ports.h"
#include "platform/text.h"
#include "program.h"
#include "recording_file.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <utility>

namespace publish {

namespace {

constexpr int kLiveValues                = 9;
constexpr std::string_view kOptionKeys[] = {"broker", "name",      "topic",    "every",
                                            "qos",    "client-id", "username", "password-file",
                                            "cafile", "cert",      "key"};
constexpr const char *kPasswordVariable  = "RMX7_MQTT_PASSWORD";
constexpr const char *kNoController      = "no-controller: ";
constexpr const char *kMeasurement       = "rmx7";
constexpr const char *kLineTag           = "line";
constexpr int kStopTimeoutMs             = 2000;

using Values = std::array<long, kLiveValues>;

Values ValuesOf(const com232::LiveReply &r) {
    return {r.valNORM, r.adcCHA, r.adcCHB, r.Amax, r.Amin, r.UPval, r.LOval, r.refval, r.instate};
}

// The recording's column names but its time, in the order of ValuesOf.
const std::array<std::string, kLiveValues> &ValueNames() {
    static const std::array<std::string, kLiveValues> names = [] {
        std::array<std::string, kLiveValues> read;
        std::string_view header = recording::kHeader;
        header.remove_prefix(header.find(',') + 1);
        for (std::string &name : read) {
            const std::size_t comma = header.find(',');
            name                    = std::string(header.substr(0, comma));
            header.remove_prefix(comma == std::string_view::npos ? header.size() : comma + 1);
        }
        return read;
    }();
    return names;
}

bool ParseWhole(const std::string &text, int &value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc{} && end == text.data() + text.size();
}

bool HasControl(const std::string &text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

std::string CheckName(const std::string &name) {
    if (name.empty() || name.find_first_of("/+#") != std::string::npos || HasControl(name))
        return "name is one level of a topic: no '/', '+', '#' or control characters";
    return {};
}

// One setting into settings; what is wrong with it, or empty.
std::string Apply(const std::string &key, const std::string &value, Settings &settings) {
    std::string error;
    if (key == "broker") {
        mqtt::BrokerAddress address;
        if (!mqtt::ParseBrokerAddress(value, address, error))
            return error;
        settings.broker = value;
    } else if (key == "device") {
        settings.device = value;
    } else if (key == "name") {
        if (const std::string wrong = CheckName(value); !wrong.empty())
            return wrong;
        settings.name = value;
    } else if (key == "line") {
        std::pair<std::string, std::string> line;
        if (const std::string wrong = ParseLine(value, line); !wrong.empty())
            return wrong;
        settings.lines.push_back(std::move(line));
    } else if (key == "topic") {
        if (value.find_first_of("+#") != std::string::npos || HasControl(value) ||
            value.front() == '/' || value.back() == '/' || value.find("//") != std::string::npos)
            return "topic takes levels joined by '/', none empty, without '+' or '#'";
        if (value.front() == '$')
            return "topic must not begin with '$': such topics are the broker's own, and it "
                   "drops what others publish there";
        settings.prefix = value;
    } else if (key == "every") {
        if (!ParseWhole(value, settings.every) || settings.every < 1)
            return "every wants a whole number above 0, not '" + value + "'";
    } else if (key == "qos") {
        if (value != "0" && value != "1")
            return "qos wants 0 or 1, not '" + value + "'";
        settings.qos = value[0] - '0';
    } else if (key == "client-id") {
        if (value.size() > mqtt::kMaxClientIdBytes || HasControl(value))
            return "client-id takes at most " + std::to_string(mqtt::kMaxClientIdBytes) +
                   " bytes, without control characters";
        settings.clientId = value;
    } else if (key == "username") {
        settings.username = value;
    } else if (key == "password-file") {
        settings.passwordFile = value;
    } else if (key == "cafile") {
        settings.caFile = value;
    } else if (key == "cert") {
        settings.certFile = value;
    } else if (key == "key") {
        settings.keyFile = value;
    }
    return {};
}

// The systemd credential of the password, as the service's unit passes it.
constexpr const char *kPasswordCredential = "mqtt-password";

// The password of a login: from its file, else the service's credential, else the
// environment's.
bool ReadPassword(Settings &read, const std::string &environment, std::string &error) {
    if (!read.passwordFile.empty() && read.username.empty()) {
        error = "a password file needs a user name: --username NAME";
        return false;
    }
    if (!read.passwordFile.empty())
        return ReadSecretFile(read.passwordFile, read.password, error);
    if (read.username.empty())
        return true;
    const std::string credential = CredentialFile(kPasswordCredential);
    if (!credential.empty())
        return ReadSecretFile(credential, read.password, error);
    read.password = environment;
    return true;
}

} // namespace

// --- Settings ---

bool TakeOption(int argc, char **argv, int &i, Given &given, std::string &error) {
    const std::string arg = argv[i];
    if (!arg.starts_with("--"))
        return false;
    const std::size_t equals = arg.find('=');
    const std::string option = arg.substr(2, equals == std::string::npos ? equals : equals - 2);
    if (option == "password") {
        error = "no password on the command line, where others see it: give --password-file "
                "FILE or the environment variable " +
                std::string(kPasswordVariable);
        return true;
    }
    const bool config = option == "config";
    if (!config &&
        std::find(std::begin(kOptionKeys), std::end(kOptionKeys), option) == std::end(kOptionKeys))
        return false;
    std::string value;
    if (equals != std::string::npos)
        value = arg.substr(equals + 1);
    else if (i + 1 < argc)
        value = argv[++i];
    else
        error = "--" + option + " needs a value";
    if (config)
        given.config = value;
    else
        given.settings.push_back({option, value, 0});
    return true;
}

bool ReadSettings(const Given &given, Settings &settings, std::string &error) {
    // Taken first, whatever follows, so that no process started later inherits it.
    const std::string environment = TakeFromEnvironment(kPasswordVariable);
    std::vector<Setting> all;
    if (!given.config.empty() &&
        !ReadSettingsFile(given.config, mqtt::kPublishConfigKeys, all, error))
        return false;
    all.insert(all.end(), given.settings.begin(), given.settings.end());
    Settings read;
    bool needsBroker = false;
    for (const Setting &s : all) {
        const std::string wrong =
            s.value.empty() ? s.key + " wants a value" : Apply(s.key, s.value, read);
        if (!wrong.empty()) {
            error = s.line > 0 ? given.config + ", line " + std::to_string(s.line) + ": " + wrong
                               : "--" + wrong;
            return false;
        }
        needsBroker = needsBroker || (s.key != "name" && s.key != "device" && s.key != "line");
    }
    if (needsBroker && read.broker.empty()) {
        error = "the publisher's settings need a broker: --broker mqtt://HOST[:PORT]";
        return false;
    }
    if (!ReadPassword(read, environment, error))
        return false;
    if (!read.keyFile.empty() && !CheckOwnerOnly(read.keyFile, error)) {
        error = "the client key " + error;
        return false;
    }
    if (!read.password.empty() || !read.keyFile.empty())
        KeepSecretsOutOfDumps();
    settings = std::move(read);
    return true;
}

std::string ParseLine(const std::string &text, std::pair<std::string, std::string> &line) {
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos || equals + 1 == text.size())
        return "line wants NAME=DEVICE, not '" + text + "'";
    line = {text.substr(0, equals), text.substr(equals + 1)};
    if (const std::string wrong = CheckName(line.first); !wrong.empty())
        return "line " + wrong.substr(std::string("name ").size());
    return {};
}

std::string PasswordWarning(const Settings &settings) {
    mqtt::BrokerAddress address;
    std::string error;
    if (settings.password.empty() || !mqtt::ParseBrokerAddress(settings.broker, address, error) ||
        address.tls || mqtt::IsLoopbackHost(address.host))
        return {};
    return "the password goes unencrypted to the broker at " + address.host +
           ", readable on the network: use mqtts:// (TLS)";
}

std::string LineName(const Settings &settings, int port) {
    if (!settings.name.empty())
        return settings.name;
    for (const PortEntry &entry : PortTable())
        if (entry.number == port)
            return mqtt::LineNameOfPort(entry.byIdName.empty() ? entry.device : entry.byIdName);
    return mqtt::LineNameOfPort("COM" + std::to_string(port));
}

// --- Payloads ---

double UnixNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

long long UnixNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string LiveJson(const com232::LiveReply &reply, double unixSeconds, long long seq,
                     const std::string &line) {
    char head[64];
    std::snprintf(head, sizeof head, "\"time\":%.3f,\"seq\":%lld", unixSeconds, seq);
    std::string json = line.empty() ? "{" : "{\"line\":" + JsonString(line) + ",";
    json += head;
    const Values values = ValuesOf(reply);
    for (int i = 0; i < kLiveValues; ++i)
        json += ",\"" + ValueNames()[i] + "\":" + std::to_string(values[i]);
    return json + "}";
}

std::string InfluxLine(const std::string &line, const com232::LiveReply &reply, long long unixNs) {
    using enum mqtt::InfluxPart;
    std::string text =
        std::string(kMeasurement) + "," + kLineTag + "=" + mqtt::InfluxEscape(TagValue, line);
    const Values values = ValuesOf(reply);
    for (int i = 0; i < kLiveValues; ++i)
        text += (i == 0 ? " " : ",") + mqtt::InfluxEscape(FieldKey, ValueNames()[i]) + "=" +
                std::to_string(values[i]) + "i";
    return text + " " + std::to_string(unixNs);
}

bool Info::SameAs(const Info &other) const {
    return board == other.board && firmware == other.firmware && com == other.com &&
           device == other.device && com232::WordsOf(ram) == com232::WordsOf(other.ram);
}

Info CurrentInfo(const com232::Line &line, double unixSeconds) {
    Info info;
    info.board    = line.BoardVariant();
    info.firmware = line.Firmware();
    info.com      = line.Port();
    info.device   = PortDevice(info.com);
    info.ram      = line.ParameterSet();
    info.time     = unixSeconds;
    return info;
}

std::string InfoJson(const Info &info) {
    std::string ram;
    const com232::Words words = com232::WordsOf(info.ram);
    for (int i = 0; i < com232::PNUM; ++i)
        ram += std::string(i == 0 ? "" : ",") + "\"" + com232::kParameterNames[i] +
               "\":" + std::to_string(words[i]);
    char time[32];
    std::snprintf(time, sizeof time, "%.3f", info.time);
    return "{\"program\":" + JsonString(program::kName) +
           ",\"version\":" + JsonString(program::kVersion) +
           ",\"firmware\":" + JsonString(info.firmware) +
           ",\"board\":" + std::to_string(info.board) + ",\"port\":\"COM" +
           std::to_string(info.com) + "\",\"device\":" + JsonString(info.device) + ",\"ram\":{" +
           ram + "},\"unit\":" + JsonString(kUnit) + ",\"time\":" + time + "}";
}

std::string NoController(const std::string &text) {
    return kNoController + text;
}

// --- The publisher ---

Publisher::Publisher(com232::Line &line, Sinks sinks) : line_(line), sinks_(std::move(sinks)) {}

Publisher::~Publisher() {
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
    else if (state == mqtt::State::Connecting)
        sinks_.showBrokerState("Broker: connecting", client_->LastError().empty()
                                                         ? "Connecting to " + settings_.broker
                                                         : client_->LastError());
    else
        sinks_.showBrokerState("Broker: connected", "Publishing to " + settings_.broker +
                                                        " under " + settings_.prefix + "/" + name_);
}

void Publisher::PublishRetained(const std::string &topic, const std::string &payload) {
    client_->Publish(topic, payload, settings_.qos, true);
}

void Publisher::SetStatus(const std::string &status) {
    if (status == status_)
        return;
    status_ = status;
    PublishRetained(statusTopic_, status);
}

// The info again when the controller, its port or its RAM set changed since it was
// published; cheap enough for every reply, so the device is looked up only at a change.
void Publisher::RefreshInfo() {
    if (const std::optional<Info> &known = info_;
        known && known->board == line_.BoardVariant() && known->firmware == line_.Firmware() &&
        known->com == line_.Port() &&
        com232::WordsOf(known->ram) == com232::WordsOf(line_.ParameterSet()))
        return;
    info_ = CurrentInfo(line_, UnixNow());
    PublishRetained(infoTopic_, InfoJson(*info_));
}

// The live messages of the replies taken since the last event processing. The run writes
// its next request before it returns to the event loop, so the send, and the broker and
// subscribers it wakes, never stand between a reply and the next request.
void Publisher::SendPending(void *publisher) {
    auto &self      = *static_cast<Publisher *>(publisher);
    self.sendTimer_ = 0;
    for (const std::string &payload : self.pending_)
        if (!self.client_ || self.client_->Publish(self.liveTopic_, payload, self.settings_.qos,
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
    const auto now = std::chrono::steady_clock::now();
    if (state == mqtt::State::Connected) {
        if (info_)
            PublishRetained(infoTopic_, InfoJson(*info_));
        if (!status_.empty())
            PublishRetained(statusTopic_, status_);
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

bool Publisher::Start(const Settings &settings, const std::string &name, std::string &error) {
    Stop();
    mqtt::BrokerAddress address;
    if (!mqtt::ParseBrokerAddress(settings.broker, address, error))
        return false;
    settings_ = settings;
    name_     = name.empty() ? LineName(settings, line_.Port()) : name;
    status_.clear();
    info_.reset();
    pending_.clear();
    replies_                = 0;
    unpublished_            = 0;
    toldUnpublished_        = 0;
    const std::string topic = settings.prefix + "/" + name_ + "/";
    liveTopic_              = topic + "live";
    infoTopic_              = topic + "info";
    statusTopic_            = topic + "status";

    mqtt::Settings connection;
    connection.host        = address.host;
    connection.port        = address.port;
    connection.tls         = address.tls;
    connection.caFile      = settings.caFile;
    connection.certFile    = settings.certFile;
    connection.keyFile     = settings.keyFile;
    connection.username    = settings.username;
    connection.password    = settings.password;
    connection.clientId    = settings.clientId;
    connection.willTopic   = statusTopic_;
    connection.willPayload = kOffline;
    connection.willRetain  = true;
    connection.qos         = settings.qos;
    client_                = std::make_unique<mqtt::Client>();
    client_->OnStateChange(
        [this](mqtt::State state, const std::string &reason) { OnBrokerChange(state, reason); });
    if (client_->Start(connection, error) != mqtt::kMqttOk) {
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
    client_->Stop(statusTopic_, kOffline, true, kStopTimeoutMs);
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
        SetStatus(NoController(outcome.text));
        return;
    }
    RefreshInfo();
    SetStatus(kOnline);
}

void Publisher::PublishReply(const com232::LiveReply &reply) {
    if (!client_)
        return;
    const long long seq = ++replies_;
    RefreshInfo();
    SetStatus(kOnline);
    if ((seq - 1) % settings_.every != 0)
        return;
    pending_.push_back(LiveJson(reply, UnixNow(), seq));
    if (sendTimer_ == 0)
        sendTimer_ = std::max(StartTimer(0, SendPending, this), 0);
}

} // namespace publish
