// The plant link: settings, payloads and the publisher over one MQTT connection.
#include "publish.h"

#include "gui.h"
#include "parameters.h"
#include "platform/mqtt/mqtt_text.h"
#include "platform/panel/events.h"
#include "platform/panel/panel.h"
#include "platform/serial/ports.h"
#include "platform/text.h"
#include "program.h"
#include "recording_file.h"
#include "ui.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

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
        if (value.find_first_of("/+#") != std::string::npos || HasControl(value))
            return "name is one level of a topic: no '/', '+', '#' or control characters";
        settings.name = value;
    } else if (key == "topic") {
        if (value.find_first_of("+#") != std::string::npos || HasControl(value) ||
            value.front() == '/' || value.back() == '/' || value.find("//") != std::string::npos)
            return "topic takes levels joined by '/', none empty, without '+' or '#'";
        settings.prefix = value;
    } else if (key == "every") {
        if (!ParseWhole(value, settings.every) || settings.every < 1)
            return "every wants a whole number above 0, not '" + value + "'";
    } else if (key == "qos") {
        if (value != "0" && value != "1")
            return "qos wants 0 or 1, not '" + value + "'";
        settings.qos = value[0] - '0';
    } else if (key == "client-id") {
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

// --- The publisher's state ---

struct Vars {
    std::unique_ptr<mqtt::Client> client;
    Settings settings;
    std::string broker; // the address as given, for the texts
    std::string name, liveTopic, infoTopic, statusTopic;
    std::string status;               // what the status topic should hold; empty: nothing known yet
    std::optional<Info> info;         // the info published last
    std::vector<std::string> pending; // live messages for the next event processing
    bool posted               = false;
    long long replies         = 0; // since Start
    long long unpublished     = 0; // replies due that were dropped
    long long toldUnpublished = 0;
};

Vars vars;
void (*tellSink)(const char *) = nullptr;

void Tell(const std::string &text) {
    if (tellSink)
        tellSink(("MQTT: " + text).c_str());
}

void ShowBrokerState() {
    const int panel = gui::Panel();
    if (panel <= 0)
        return;
    const mqtt::State state = BrokerState();
    std::string tip;
    if (state == mqtt::State::Off) {
        SetCtrlVal(panel, ui::TXTBroker, "Broker: off");
    } else if (state == mqtt::State::Connecting) {
        SetCtrlVal(panel, ui::TXTBroker, "Broker: connecting");
        tip = vars.client->LastError().empty() ? "Connecting to " + vars.broker
                                               : vars.client->LastError();
    } else {
        SetCtrlVal(panel, ui::TXTBroker, "Broker: connected");
        tip = "Publishing to " + vars.broker + " under " + vars.settings.prefix + "/" + vars.name;
    }
    SetCtrlAttribute(panel, ui::TXTBroker, kAttrToolTip, tip.c_str());
}

void PublishRetained(const std::string &topic, const std::string &payload) {
    vars.client->Publish(topic, payload, vars.settings.qos, true);
}

void SetStatus(const std::string &status) {
    if (status == vars.status)
        return;
    vars.status = status;
    PublishRetained(vars.statusTopic, status);
}

// The info again when the controller, its port or its RAM set changed since it was
// published; cheap enough for every reply, so the device is looked up only at a change.
void RefreshInfo() {
    if (const std::optional<Info> &known = vars.info;
        known && known->board == com232::BoardVariant() && known->firmware == com232::Firmware() &&
        known->com == com232::Port() &&
        com232::WordsOf(known->ram) == com232::WordsOf(com232::ParameterSet()))
        return;
    vars.info = CurrentInfo(UnixNow());
    PublishRetained(vars.infoTopic, InfoJson(*vars.info));
}

// The live messages of the replies taken since the last event processing. The run loop
// writes its next request before it processes events again, so the send, and the broker
// and subscribers it wakes, never stand between a reply and the next request.
void SendPending(void *) {
    vars.posted = false;
    for (const std::string &payload : vars.pending)
        if (!vars.client || vars.client->Publish(vars.liveTopic, payload, vars.settings.qos,
                                                 false) != mqtt::kMqttOk)
            ++vars.unpublished;
    vars.pending.clear();
}

// On every connection the retained topics go out again: the broker may have lost them.
void OnBrokerChange(mqtt::State state, const std::string &reason) {
    ShowBrokerState();
    if (state == mqtt::State::Connected) {
        if (vars.info)
            PublishRetained(vars.infoTopic, InfoJson(*vars.info));
        if (!vars.status.empty())
            PublishRetained(vars.statusTopic, vars.status);
        const long long missed = vars.unpublished - vars.toldUnpublished;
        vars.toldUnpublished   = vars.unpublished;
        Tell("connected to " + vars.broker + ", publishing under " + vars.settings.prefix + "/" +
             vars.name +
             (missed > 0 ? "; " + std::to_string(missed) + " replies were not published" : ""));
    } else if (state == mqtt::State::Connecting) {
        Tell(reason + "; trying again");
    }
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
        needsBroker = needsBroker || (s.key != "name" && s.key != "device");
    }
    if (needsBroker && read.broker.empty()) {
        error = "the publisher's settings need a broker: --broker mqtt://HOST[:PORT]";
        return false;
    }
    if (!read.passwordFile.empty() && !ReadSecretFile(read.passwordFile, read.password, error))
        return false;
    const char *environment = std::getenv(kPasswordVariable);
    if (read.passwordFile.empty() && environment && *environment && !read.username.empty())
        read.password = environment;
    if (!read.password.empty() && read.username.empty()) {
        error = "a password file needs a user name: --username NAME";
        return false;
    }
    settings = std::move(read);
    return true;
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

std::string LiveJson(const com232::LiveReply &reply, double unixSeconds, long long seq) {
    char head[64];
    std::snprintf(head, sizeof head, "{\"time\":%.3f,\"seq\":%lld", unixSeconds, seq);
    std::string json    = head;
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

Info CurrentInfo(double unixSeconds) {
    Info info;
    info.board    = com232::BoardVariant();
    info.firmware = com232::Firmware();
    info.com      = com232::Port();
    info.device   = PortDevice(info.com);
    info.ram      = com232::ParameterSet();
    info.time     = unixSeconds;
    return info;
}

std::string InfoJson(const Info &info) {
    std::string ram;
    const com232::Words words = com232::WordsOf(info.ram);
    for (int i = 0; i < com232::PNUM; ++i)
        ram += std::string(i == 0 ? "" : ",") + "\"" + parameters::kTable[i].name +
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

bool Start(const Settings &settings, int port, std::string &error) {
    Stop();
    mqtt::BrokerAddress address;
    if (!mqtt::ParseBrokerAddress(settings.broker, address, error))
        return false;
    vars                    = Vars{};
    vars.settings           = settings;
    vars.broker             = settings.broker;
    vars.name               = LineName(settings, port);
    const std::string topic = settings.prefix + "/" + vars.name + "/";
    vars.liveTopic          = topic + "live";
    vars.infoTopic          = topic + "info";
    vars.statusTopic        = topic + "status";

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
    connection.willTopic   = vars.statusTopic;
    connection.willPayload = kOffline;
    connection.willRetain  = true;
    connection.qos         = settings.qos;
    vars.client            = std::make_unique<mqtt::Client>();
    vars.client->OnStateChange(OnBrokerChange);
    if (vars.client->Start(connection, error) != mqtt::kMqttOk) {
        vars.client.reset();
        return false;
    }
    ShowBrokerState();
    Tell("connecting to " + vars.broker + " for " + topic + "live, info and status");
    return true;
}

void Stop() {
    if (!vars.client)
        return;
    SendPending(nullptr);
    vars.client->Stop(vars.statusTopic, kOffline, true, kStopTimeoutMs);
    vars.client.reset();
    ShowBrokerState();
}

bool Started() {
    return vars.client != nullptr;
}

mqtt::State BrokerState() {
    return vars.client ? vars.client->GetState() : mqtt::State::Off;
}

bool BrokerTried() {
    return BrokerState() == mqtt::State::Connected ||
           (vars.client && !vars.client->LastError().empty());
}

void TellBrokerChanges(void (*tell)(const char *text)) {
    tellSink = tell;
}

void NoteOutcome(const status::Outcome &outcome) {
    if (!vars.client)
        return;
    if (!outcome.ok()) {
        SetStatus(NoController(outcome.text));
        return;
    }
    RefreshInfo();
    SetStatus(kOnline);
}

void PublishReply(const com232::LiveReply &reply, double) {
    if (!vars.client)
        return;
    const long long seq = ++vars.replies;
    RefreshInfo();
    SetStatus(kOnline);
    if ((seq - 1) % vars.settings.every != 0)
        return;
    vars.pending.push_back(LiveJson(reply, UnixNow(), seq));
    if (!vars.posted)
        vars.posted = PostDeferredCall(SendPending, nullptr) == 0;
}

long long Replies() {
    return vars.replies;
}

long long Unpublished() {
    return vars.unpublished;
}

} // namespace publish
