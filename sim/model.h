// The simulated sensor controller without any I/O of the line: request bytes in, reply bytes
// out. Frames, the RAM and EEPROM parameter sets, teach, reset, live values and data blocks.
#pragma once

#include "parameters.h"
#include "signal_model.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kFrameLength       = 4 + 2 * kWordCount;
constexpr std::uint8_t kSyncHigh         = 0x00;
constexpr std::uint8_t kSyncLow          = 0x55;
constexpr std::size_t kFirmwareLength100 = 72;
constexpr std::size_t kFirmwareLength0   = 64;
constexpr std::size_t kBlockWords        = 64;
constexpr std::size_t kBlockLength       = 2 * kBlockWords;

enum Command : std::uint16_t {
    kWriteRam    = 1,
    kReadRam     = 2,
    kWriteEeprom = 3,
    kReadEeprom  = 4,
    kEchoCheck   = 5,
    kTeach       = 6,
    kFirmware    = 7,
    kLiveValues  = 8,
    kDataBlock   = 9,
    kReset       = 10,
};

enum BoardVariant : int { kVariant0 = 0, kVariant100 = 100 };

enum GraphSource : std::uint16_t { kSourceRaw = 0, kSourceNorm = 1 };

// A frame of the controller's layout: sync word, command word, sixteen big-endian words.
Bytes MakeFrame(std::uint16_t command, const Words &words);
std::uint16_t FrameCommand(const Bytes &frame);
Words FrameWords(const Bytes &frame);

// Cuts the byte stream of the line into request frames. Bytes that cannot start a frame are
// dropped until the sync word 00 55 stands at the front.
class FrameAssembler {
  public:
    void Feed(const std::uint8_t *data, std::size_t count);
    std::optional<Bytes> NextFrame();
    // Bytes held that start, or may start, the next frame.
    std::size_t Pending() const { return buffer_.size(); }

  private:
    void DropToSync();

    Bytes buffer_;
};

struct ModelOptions {
    int variant    = kVariant100;
    bool ackWrites = false; // answer the writes 1 and 3 with a frame carrying the set
    std::string eepromPath; // empty: the EEPROM lives only as long as the model
    std::uint64_t seed = 1;
};

class ControllerModel {
  public:
    explicit ControllerModel(const ModelOptions &options);

    // The reply to one request frame arriving at t seconds; empty when the controller is silent.
    Bytes Reply(const Bytes &request, double t);

    const Words &Ram() const { return ram_; }
    const Words &Eeprom() const { return eeprom_; }

  private:
    Bytes EchoReply(const Bytes &request) const;
    Bytes FirmwareReply() const;
    Bytes LiveReply(double t);
    Bytes BlockReply(const Words &request, double t);
    Bytes WriteAcknowledgement(std::uint16_t command) const;

    ModelOptions options_;
    Words ram_;
    Words eeprom_;
    SignalModel signal_;
    std::optional<DataRecord> record_;
};

} // namespace sim
