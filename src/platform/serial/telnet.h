// Telnet and its COM Port Control option (RFC 854, RFC 2217) as a remote line needs them:
// the codes, and the decoder that splits what a server sends into the line's data, the
// answers to its option negotiation and its answers to COM Port Control commands. Pure
// code over bytes, so network bytes are decoded the same in the program and under a fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace telnet {

// Commands and options.
constexpr std::uint8_t kIac       = 255;
constexpr std::uint8_t kDont      = 254;
constexpr std::uint8_t kDo        = 253;
constexpr std::uint8_t kWont      = 252;
constexpr std::uint8_t kWill      = 251;
constexpr std::uint8_t kSb        = 250;
constexpr std::uint8_t kSe        = 240;
constexpr std::uint8_t kBinary    = 0;
constexpr std::uint8_t kNoGoAhead = 3;
constexpr std::uint8_t kComPort   = 44;

// COM Port Control commands of the client; the server answers each with the command + 100
// and the value it did set.
constexpr std::uint8_t kSetBaudRate     = 1;
constexpr std::uint8_t kSetDataSize     = 2;
constexpr std::uint8_t kSetParity       = 3;
constexpr std::uint8_t kSetStopSize     = 4;
constexpr std::uint8_t kSetControl      = 5;
constexpr std::uint8_t kPurgeData       = 12;
constexpr std::uint8_t kServerAnswer    = 100;
constexpr std::uint8_t kControlNoFlow   = 1;
constexpr std::uint8_t kControlHardware = 3;
constexpr std::uint8_t kPurgeReceive    = 1; // what the server got from the line for us
constexpr std::uint8_t kPurgeTransmit   = 2; // what the server holds for the line

// The longest sub-negotiation the decoder holds. A COM Port Control answer is a few bytes and
// a server's signature a line; a server that sends more is broken or hostile.
constexpr std::size_t kMaxSubnegotiation = 256;

// What one call of Decode found.
struct Decoded {
    std::string data;    // the line's data bytes, in order
    std::string replies; // negotiation answers to send to the server, in order
};

// Keeps its state across calls, so a command cut anywhere by TCP decodes as a whole.
class Decoder {
  public:
    // The client offered to do option (WILL) or asked the server to (DO) on its own.
    void Offered(std::uint8_t option) { willSent_.insert(option); }
    void Asked(std::uint8_t option) { doSent_.insert(option); }

    void Decode(const std::uint8_t *bytes, std::size_t size, Decoded &out);

    // The server declined COM Port Control (DONT COM-PORT-OPTION).
    bool ComPortRefused() const { return comPortRefused_; }
    // The server's latest answer to each client command, by the client's command code.
    const std::map<std::uint8_t, std::string> &Answers() const { return answers_; }
    // A sub-negotiation ran past kMaxSubnegotiation bytes. Nothing from there on is decoded:
    // the stream cannot be trusted, and the connection is to be dropped.
    bool Overrun() const { return overrun_; }

  private:
    enum class Parse { Data, Iac, Verb, Sub, SubIac };

    void Negotiate(std::uint8_t verb, std::uint8_t option, std::string &replies);
    void HoldSubnegotiation(std::uint8_t byte);
    void EndSubnegotiation();

    Parse parse_       = Parse::Data;
    std::uint8_t verb_ = 0;
    std::string sub_;
    std::set<std::uint8_t> willSent_; // options we offered or agreed to do
    std::set<std::uint8_t> doSent_;   // options we asked or agreed the server to do
    std::set<std::uint8_t> refused_;  // options we declined, so each is declined once
    bool comPortRefused_ = false;
    bool overrun_        = false;
    std::map<std::uint8_t, std::string> answers_;
};

} // namespace telnet
