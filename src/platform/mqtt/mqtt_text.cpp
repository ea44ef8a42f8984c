// Broker addresses, topic-safe names and line-protocol escaping.
#include "mqtt_text.h"

#include <cstdint>

namespace mqtt {

namespace {

constexpr std::string_view kPlainScheme = "mqtt://";
constexpr std::string_view kTlsScheme   = "mqtts://";
constexpr int kMaxPort                  = 65535;
constexpr std::string_view kNoName      = "line";

bool TopicCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '-' || c == '_';
}

} // namespace

bool ParseBrokerAddress(std::string_view text, BrokerAddress &address, std::string &error) {
    // A user and password in the address stay out of the error, which goes to a journal: the
    // address is quoted from its last '@' on, with what went before it hidden.
    if (const std::size_t at = text.rfind('@'); at != std::string_view::npos) {
        const std::size_t scheme = text.substr(0, at).find("://");
        const std::string_view kept =
            scheme == std::string_view::npos ? std::string_view() : text.substr(0, scheme + 3);
        error = "broker address \"" + std::string(kept) + "...@" +
                std::string(text.substr(at + 1)) +
                "\": no user or password in the address; give them by their options";
        return false;
    }
    const std::string quoted = "broker address \"" + std::string(text) + "\": ";
    BrokerAddress parsed;
    std::string_view rest = text;
    if (rest.starts_with(kTlsScheme)) {
        parsed.tls  = true;
        parsed.port = kDefaultTlsPort;
        rest.remove_prefix(kTlsScheme.size());
    } else if (rest.starts_with(kPlainScheme)) {
        rest.remove_prefix(kPlainScheme.size());
    } else {
        error = quoted + "expected mqtt://HOST[:PORT] or mqtts://HOST[:PORT]";
        return false;
    }
    std::string_view port;
    if (rest.starts_with('[')) {
        const std::size_t close = rest.find(']');
        if (close == std::string_view::npos) {
            error = quoted + "an IPv6 address needs its closing ']'";
            return false;
        }
        parsed.host = std::string(rest.substr(1, close - 1));
        rest.remove_prefix(close + 1);
        if (!rest.empty() && !rest.starts_with(':')) {
            error = quoted + "expected ':PORT' or nothing after the address";
            return false;
        }
        port = rest.empty() ? rest : rest.substr(1);
    } else {
        const std::size_t colon = rest.find(':');
        parsed.host             = std::string(rest.substr(0, colon));
        if (colon != std::string_view::npos)
            port = rest.substr(colon + 1);
        if (colon != std::string_view::npos && port.empty()) {
            error = quoted + "no port after ':'";
            return false;
        }
    }
    if (parsed.host.empty()) {
        error = quoted + "no host";
        return false;
    }
    if (parsed.host.find_first_of("/?# ") != std::string::npos) {
        error = quoted + "a host name takes no '/', '?', '#' or space";
        return false;
    }
    if (!port.empty()) {
        int value = 0;
        for (char c : port) {
            if (c < '0' || c > '9' || value > kMaxPort) {
                value = -1;
                break;
            }
            value = value * 10 + (c - '0');
        }
        if (value < 1 || value > kMaxPort) {
            error = quoted + "the port must be a number from 1 to 65535";
            return false;
        }
        parsed.port = value;
    }
    address = parsed;
    return true;
}

bool IsLoopbackHost(std::string_view host) {
    if (host == "localhost" || host == "::1" || host == "[::1]")
        return true;
    if (!host.starts_with("127."))
        return false;
    int dots = 0;
    for (char c : host) {
        if (c == '.')
            ++dots;
        else if (c < '0' || c > '9')
            return false;
    }
    return dots == 3;
}

std::string TopicSafe(std::string_view text) {
    std::string safe;
    bool replaced = false;
    for (char c : text) {
        if (TopicCharacter(c)) {
            if (replaced && !safe.empty())
                safe += '_';
            replaced = false;
            safe += c;
        } else {
            replaced = true;
        }
    }
    const std::size_t first = safe.find_first_not_of('_');
    if (first == std::string::npos)
        return std::string(kNoName);
    return safe.substr(first, safe.find_last_not_of('_') - first + 1);
}

std::string LineNameOfPort(std::string_view port) {
    const std::size_t scheme = port.find("://");
    if (scheme != std::string_view::npos)
        port.remove_prefix(scheme + 3);
    else if (const std::size_t slash = port.rfind('/'); slash != std::string_view::npos)
        port.remove_prefix(slash + 1);
    return TopicSafe(port);
}

std::string InfluxEscape(InfluxPart part, std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<std::uint8_t>(c);
        if (byte < 0x20 || byte == 0x7F)
            c = ' ';
        if (c == ',' || c == ' ' || c == '\\' || (c == '=' && part != InfluxPart::Measurement))
            escaped += '\\';
        escaped += c;
    }
    return escaped;
}

} // namespace mqtt
