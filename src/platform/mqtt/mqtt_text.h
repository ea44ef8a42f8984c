// Texts of the plant link: broker addresses, names made safe for topics, and the escaping
// of InfluxDB line protocol. Pure code over text, so the command line, the config file and
// the panel read them the same and tests need no broker.
#pragma once

#include <string>
#include <string_view>

namespace mqtt {

constexpr int kDefaultPort    = 1883;
constexpr int kDefaultTlsPort = 8883;

// The keys of a publisher's config file: the long option names of `rmx7ctl publish`, and
// rmx7ctl's own --device, since a service names its line nowhere else.
inline constexpr std::string_view kPublishConfigKeys[] = {
    "device",        "broker", "name", "topic", "every", "qos",      "client-id",        "username",
    "password-file", "cafile", "cert", "key",   "line",  "commands", "parameter-server", "state"};

struct BrokerAddress {
    std::string host; // a name or an address, IPv6 without its brackets
    int port = kDefaultPort;
    bool tls = false;
};

// Reads mqtt://HOST[:PORT] or mqtts://HOST[:PORT] (HOST a name, an IPv4 address or an IPv6
// address in brackets; PORT 1883 or 8883 when left out). False, with error saying what is
// wrong, for anything else; credentials in the address are refused, so that a password
// never stands on a command line.
bool ParseBrokerAddress(std::string_view text, BrokerAddress &address, std::string &error);
// True for "localhost" and the loopback addresses (127.0.0.0/8, ::1): what never leaves
// the machine.
bool IsLoopbackHost(std::string_view host);

// text as one level of a topic: letters, digits, '.', '-' and '_' stay, every run of
// other bytes (the separators and wildcards of topics among them) becomes one '_', and
// '_' at either end goes. The same text always gives the same name; "line" when nothing
// is left.
std::string TopicSafe(std::string_view text);
// The line's name in topics taken from its port: a stable name or a device file without
// its folder, a remote address without its scheme; topic-safe.
std::string LineNameOfPort(std::string_view port);

// The parts of a line of InfluxDB line protocol that take an escaped name.
enum class InfluxPart { Measurement, TagKey, TagValue, FieldKey };
// text escaped for part: a backslash before ',' and ' ' (and '=' but in a measurement)
// and before a backslash, so that the reader gets text back unchanged. A line end or
// another control character, which line protocol cannot carry, becomes an escaped space.
std::string InfluxEscape(InfluxPart part, std::string_view text);

} // namespace mqtt
