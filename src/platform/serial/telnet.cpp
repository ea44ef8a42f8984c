// The Telnet decoder of remote lines.
#include "telnet.h"

namespace telnet {

namespace {

std::string CommandBytes(std::uint8_t verb, std::uint8_t option) {
    return {static_cast<char>(kIac), static_cast<char>(verb), static_cast<char>(option)};
}

} // namespace

void Decoder::Decode(const std::uint8_t *bytes, std::size_t size, Decoded &out) {
    const auto takeData = [&out](std::uint8_t byte) {
        out.data.push_back(static_cast<char>(byte));
    };
    for (std::size_t i = 0; i < size && !overrun_; ++i) {
        const std::uint8_t byte = bytes[i];
        switch (parse_) {
        case Parse::Data:
            if (byte == kIac)
                parse_ = Parse::Iac;
            else
                takeData(byte);
            break;
        case Parse::Iac:
            parse_ = Parse::Data;
            if (byte == kIac)
                takeData(byte);
            else if (byte == kSb) {
                sub_.clear();
                parse_ = Parse::Sub;
            } else if (byte >= kWill) {
                verb_  = byte;
                parse_ = Parse::Verb;
            }
            // Every other two-byte command (no-op, go-ahead, data mark, ...) means nothing here.
            break;
        case Parse::Verb:
            parse_ = Parse::Data;
            Negotiate(verb_, byte, out.replies);
            break;
        case Parse::Sub:
            if (byte == kIac)
                parse_ = Parse::SubIac;
            else
                HoldSubnegotiation(byte);
            break;
        case Parse::SubIac:
            parse_ = Parse::Sub;
            if (byte == kIac)
                HoldSubnegotiation(byte);
            else if (byte == kSe) {
                parse_ = Parse::Data;
                EndSubnegotiation();
            }
            break;
        }
    }
}

// Agrees to binary transmission (no end-of-line rewriting), suppressed go-ahead and COM
// port control, declines everything else, and answers each request at most once so two
// sides never loop.
void Decoder::Negotiate(std::uint8_t verb, std::uint8_t option, std::string &replies) {
    const bool wanted = option == kBinary || option == kNoGoAhead || option == kComPort;
    if (verb == kDo) {
        if (wanted && willSent_.insert(option).second)
            replies += CommandBytes(kWill, option);
        else if (!wanted && refused_.insert(option).second)
            replies += CommandBytes(kWont, option);
    } else if (verb == kWill) {
        if (wanted && option != kComPort && doSent_.insert(option).second)
            replies += CommandBytes(kDo, option);
        else if ((!wanted || option == kComPort) && refused_.insert(option).second)
            replies += CommandBytes(kDont, option);
    } else if (option == kComPort && verb == kDont) {
        comPortRefused_ = true;
    }
}

// A server that never ends a sub-negotiation would otherwise grow it without end.
void Decoder::HoldSubnegotiation(std::uint8_t byte) {
    if (sub_.size() < kMaxSubnegotiation) {
        sub_.push_back(static_cast<char>(byte));
        return;
    }
    overrun_ = true;
    std::string().swap(sub_);
}

void Decoder::EndSubnegotiation() {
    if (sub_.size() < 2 || static_cast<std::uint8_t>(sub_[0]) != kComPort)
        return;
    const auto command = static_cast<std::uint8_t>(sub_[1]);
    if (command <= kServerAnswer)
        return;
    answers_[static_cast<std::uint8_t>(command - kServerAnswer)] = sub_.substr(2);
}

} // namespace telnet
