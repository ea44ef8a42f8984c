// The plant link: settings, payloads and the publisher over one MQTT connection.
#include "publish.h"

#include "parameters.h"
#include "platform/json/json.h"
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
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <unistd.h>
#include <utility>

namespace publish {

namespace {

constexpr int kLiveValues                = 9;
constexpr std::string_view kOptionKeys[] = {
    "broker",        "name",   "topic", "every", "qos",      "client-id",       "username",
    "password-file", "cafile", "cert",  "key",   "commands", "parameter-server"};
constexpr const char *kPasswordVariable = "RMX7_MQTT_PASSWORD";
constexpr const char *kMeasurement      = "rmx7";
constexpr const char *kLineTag          = "line";
constexpr int kHostNameSize             = 256;
constexpr const char *kDefaultsFile     = "defaults.conf";

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
    if (name.empty() || name.find_first_of("/+# ") != std::string::npos || HasControl(name) ||
        name.front() == '$')
        return "name is one level of a topic: no blanks, '/', '+', '#', control characters or "
               "leading '$', not '" +
               name + "'";
    return {};
}

std::string HostName() {
    char host[kHostNameSize] = {};
    gethostname(host, sizeof host - 1);
    return host;
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
    } else if (key == "commands") {
        if (value != "off" && value != "read" && value != "write")
            return "commands wants off, read or write, not '" + value + "'";
        settings.commands = value;
    } else if (key == "parameter-server") {
        if (value != "off" && value != "backup" && value != "restore")
            return "parameter-server wants off, backup or restore, not '" + value + "'";
        settings.parameterServer = value;
    } else if (key == "state") {
        settings.state = value;
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

// The settings every line of a folder shares: its defaults.conf, beside a line's config.
std::string DefaultsBeside(const std::string &config) {
    if (config.empty())
        return {};
    const std::filesystem::path path(config);
    const std::filesystem::path defaults = path.parent_path() / kDefaultsFile;
    std::error_code failed;
    if (path.filename() == kDefaultsFile || !std::filesystem::exists(defaults, failed))
        return {};
    return defaults.string();
}

// The shared settings: those of a line (its device, name, lines) belong to its own file.
bool ReadDefaults(const std::string &path, std::vector<Setting> &all, std::string &error) {
    std::vector<Setting> read;
    if (!ReadSettingsFile(path, mqtt::kPublishConfigKeys, read, error))
        return false;
    Settings checked;
    for (const Setting &s : read) {
        std::string wrong =
            s.value.empty() ? s.key + " wants a value" : Apply(s.key, s.value, checked);
        if (s.key == "device" || s.key == "name" || s.key == "line")
            wrong =
                s.key + " belongs to a line's own config, not to the defaults every line shares";
        if (!wrong.empty()) {
            error = path + ", line " + std::to_string(s.line) + ": " + wrong;
            return false;
        }
    }
    all.insert(all.end(), read.begin(), read.end());
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
    const std::string defaults = DefaultsBeside(given.config);
    if (!defaults.empty() && !ReadDefaults(defaults, all, error))
        return false;
    std::vector<Setting> own;
    if (!given.config.empty() &&
        !ReadSettingsFile(given.config, mqtt::kPublishConfigKeys, own, error))
        return false;
    all.insert(all.end(), own.begin(), own.end());
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
        needsBroker = needsBroker ||
                      (s.key != "name" && s.key != "device" && s.key != "line" && s.key != "state");
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

mqtt::Settings ConnectionOf(const Settings &settings, const mqtt::BrokerAddress &address) {
    mqtt::Settings connection;
    connection.host     = address.host;
    connection.port     = address.port;
    connection.tls      = address.tls;
    connection.caFile   = settings.caFile;
    connection.certFile = settings.certFile;
    connection.keyFile  = settings.keyFile;
    connection.username = settings.username;
    connection.password = settings.password;
    connection.clientId = settings.clientId;
    connection.qos      = settings.qos;
    return connection;
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

std::string CommandsWarning(const Settings &settings) {
    mqtt::BrokerAddress address;
    std::string error;
    if (settings.commands != "write" ||
        !mqtt::ParseBrokerAddress(settings.broker, address, error) || address.tls ||
        mqtt::IsLoopbackHost(address.host))
        return {};
    return "--commands write without TLS to the broker at " + address.host +
           ": writes to the controller come over the network unencrypted, from whoever the "
           "broker lets publish; use mqtts:// and the broker's ACL";
}

std::string LineName(const Settings &settings, int port) {
    if (!settings.name.empty())
        return settings.name;
    // Port names repeat from one computer to the next; the host's name keeps them apart.
    const std::string host = mqtt::TopicSafe(HostName()) + "-";
    for (const PortEntry &entry : PortTable())
        if (entry.number == port)
            return host +
                   mqtt::LineNameOfPort(entry.byIdName.empty() ? entry.device : entry.byIdName);
    return host + mqtt::LineNameOfPort("COM" + std::to_string(port));
}

// --- Payloads ---

std::string TimeJson(double unixSeconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", unixSeconds);
    return text;
}

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

Identity NewIdentity() {
    std::random_device random;
    const unsigned long long id = (static_cast<unsigned long long>(random()) << 32) ^
                                  static_cast<unsigned long long>(random());
    char instance[17];
    std::snprintf(instance, sizeof instance, "%016llx", id);
    return {instance, HostName(), static_cast<long>(getpid()), UnixNow()};
}

bool Info::SameAs(const Info &other) const {
    return board == other.board && firmware == other.firmware && com == other.com &&
           device == other.device && com232::WordsOf(ram) == com232::WordsOf(other.ram) &&
           name == other.name && identity.instance == other.identity.instance &&
           offer.commands == other.offer.commands &&
           offer.parameterServer == other.offer.parameterServer;
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

namespace {

// ,"instance":...,"host":...,"pid":...,"started":...
std::string IdentityMembers(const Identity &identity) {
    return ",\"instance\":" + JsonString(identity.instance) +
           ",\"host\":" + JsonString(identity.host) + ",\"pid\":" + std::to_string(identity.pid) +
           ",\"started\":" + TimeJson(identity.started);
}

} // namespace

std::string InfoJson(const Info &info) {
    std::string ram;
    const com232::Words words = com232::WordsOf(info.ram);
    for (int i = 0; i < com232::PNUM; ++i)
        ram += std::string(i == 0 ? "" : ",") + "\"" + parameters::kTable[i].name +
               "\":" + std::to_string(words[i]);
    return "{\"program\":" + JsonString(program::kName) +
           ",\"version\":" + JsonString(program::kVersion) +
           ",\"firmware\":" + JsonString(info.firmware) +
           ",\"board\":" + std::to_string(info.board) + ",\"port\":\"COM" +
           std::to_string(info.com) + "\",\"device\":" + JsonString(info.device) + ",\"ram\":{" +
           ram + "},\"unit\":" + JsonString(kUnit) + ",\"time\":" + TimeJson(info.time) +
           ",\"name\":" + JsonString(info.name) + IdentityMembers(info.identity) +
           ",\"commands\":" + JsonString(info.offer.commands) +
           ",\"parameter_server\":" + JsonString(info.offer.parameterServer) + "}";
}

const char *StateName(State state) {
    switch (state) {
    case State::Online:
        return "online";
    case State::NoController:
        return "no-controller";
    case State::Offline:
        return "offline";
    case State::Conflict:
        return "conflict";
    }
    return "offline";
}

std::string StatusJson(const Status &status, const Identity &identity, double time) {
    return "{\"status\":" + JsonString(StateName(status.state)) +
           ",\"text\":" + JsonString(status.text) + IdentityMembers(identity) +
           (status.other.empty() ? "" : ",\"other\":" + JsonString(status.other)) +
           ",\"time\":" + (time < 0 ? std::string("null") : TimeJson(time)) + "}";
}

std::optional<HeardStatus> ReadStatus(std::string_view payload) {
    json::Value value;
    std::string error;
    if (!json::Parse(payload, value, error) || !value.IsObject())
        return std::nullopt;
    const json::Value *state = value.Find("status"), *instance = value.Find("instance");
    if (!state || !state->IsString() || !instance || !instance->IsString())
        return std::nullopt;
    HeardStatus heard;
    bool known = false;
    for (State each : {State::Online, State::NoController, State::Offline, State::Conflict})
        if (state->text == StateName(each)) {
            heard.state = each;
            known       = true;
        }
    if (!known)
        return std::nullopt;
    heard.identity.instance = instance->text;
    if (const json::Value *host = value.Find("host"); host && host->IsString())
        heard.identity.host = host->text;
    long long whole = 0;
    if (const json::Value *pid = value.Find("pid"); pid && pid->WholeNumber(1, 1LL << 31, whole))
        heard.identity.pid = static_cast<long>(whole);
    if (const json::Value *started = value.Find("started"); started && started->IsNumber())
        heard.identity.started = started->number;
    return heard;
}

} // namespace publish
