// The simulated controller's answers to the ten commands, its parameter sets and the EEPROM
// file that keeps one of them across runs.
#include "model.h"

#include "files/textfile.h"

#include <fstream>
#include <limits>
#include <string_view>

namespace sim {
namespace {

constexpr std::size_t kCommandOffset   = 2;
constexpr std::size_t kDataOffset      = 4;
constexpr std::uint8_t kEchoMarkerHigh = 0x00;
constexpr std::uint8_t kEchoMarkerLow  = 0xAA;
// Variant 0 puts the marker where the first data word stands and echoes from data byte 2 on.
constexpr std::size_t kVariant0EchoSkip = 2;

constexpr std::string_view kFirmwareText100 =
    "RMX7 sensor controller FW 3.14 board 100 (simulated)";
constexpr std::string_view kFirmwareText0 = "RMX7-FW 3.14 b0 (simulated)";
static_assert(kFirmwareText100.size() < kFirmwareLength100);
static_assert(kFirmwareText0.size() < kFirmwareLength0 / 2);

constexpr std::size_t kBlockStartWord  = 0;
constexpr std::size_t kBlockSourceWord = 1;

void AppendWord(Bytes &bytes, std::uint16_t word) {
    bytes.push_back(static_cast<std::uint8_t>(word >> 8));
    bytes.push_back(static_cast<std::uint8_t>(word & 0xFF));
}

std::uint16_t WordAt(const Bytes &bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] << 8 | bytes[offset + 1]);
}

std::optional<Words> ReadParameterFile(const std::string &path) {
    std::ifstream in(path);
    Words words{};
    for (std::uint16_t &word : words) {
        unsigned long value = 0;
        if (!(in >> value) || value > std::numeric_limits<std::uint16_t>::max())
            return std::nullopt;
        word = static_cast<std::uint16_t>(value);
    }
    return words;
}

// Written whole or not at all, never through a link planted beside it: a kill leaves the
// old file or the new one.
void WriteParameterFile(const std::string &path, const Words &words) {
    std::string text;
    for (std::uint16_t word : words)
        text += std::to_string(word) + "\n";
    ReplaceTextFile(path.c_str(), text);
}

} // namespace

Bytes MakeFrame(std::uint16_t command, const Words &words) {
    Bytes frame = {kSyncHigh, kSyncLow};
    frame.reserve(kFrameLength);
    AppendWord(frame, command);
    for (std::uint16_t word : words)
        AppendWord(frame, word);
    return frame;
}

std::uint16_t FrameCommand(const Bytes &frame) {
    return WordAt(frame, kCommandOffset);
}

Words FrameWords(const Bytes &frame) {
    Words words{};
    for (std::size_t i = 0; i < kWordCount; ++i)
        words[i] = WordAt(frame, kDataOffset + 2 * i);
    return words;
}

void FrameAssembler::Feed(const std::uint8_t *data, std::size_t count) {
    buffer_.insert(buffer_.end(), data, data + count);
    DropToSync();
}

std::optional<Bytes> FrameAssembler::NextFrame() {
    if (buffer_.size() < kFrameLength)
        return std::nullopt;
    Bytes frame(buffer_.begin(), buffer_.begin() + kFrameLength);
    buffer_.erase(buffer_.begin(), buffer_.begin() + kFrameLength);
    DropToSync();
    return frame;
}

// A lone 00 at the end is kept: the 55 that completes the sync word may still come.
void FrameAssembler::DropToSync() {
    std::size_t start = 0;
    while (start < buffer_.size()) {
        const bool syncHighHere = buffer_[start] == kSyncHigh;
        const bool syncLowNext  = start + 1 == buffer_.size() || buffer_[start + 1] == kSyncLow;
        if (syncHighHere && syncLowNext)
            break;
        ++start;
    }
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start));
}

ControllerModel::ControllerModel(const ModelOptions &options)
    : options_(options), ram_(kDefaultParameters), eeprom_(kDefaultParameters),
      signal_(options.seed) {
    if (options_.eepromPath.empty())
        return;
    if (const std::optional<Words> saved = ReadParameterFile(options_.eepromPath))
        eeprom_ = *saved;
    ram_ = eeprom_;
}

Bytes ControllerModel::Reply(const Bytes &request, double t) {
    const Words words = FrameWords(request);
    switch (FrameCommand(request)) {
    case kWriteRam:
        ram_ = words;
        return WriteAcknowledgement(kWriteRam);
    case kReadRam:
        return MakeFrame(kReadRam, ram_);
    case kWriteEeprom:
        eeprom_ = words;
        if (!options_.eepromPath.empty())
            WriteParameterFile(options_.eepromPath, eeprom_);
        return WriteAcknowledgement(kWriteEeprom);
    case kReadEeprom:
        return MakeFrame(kReadEeprom, eeprom_);
    case kEchoCheck:
        return EchoReply(request);
    case kTeach:
        ram_[kReference] = signal_.NormAt(t, ram_);
        return MakeFrame(kTeach, ram_);
    case kFirmware:
        return FirmwareReply();
    case kLiveValues:
        return LiveReply(t);
    case kDataBlock:
        return BlockReply(words, t);
    case kReset:
        ram_ = eeprom_;
        return MakeFrame(kReset, ram_);
    default:
        return {};
    }
}

Bytes ControllerModel::EchoReply(const Bytes &request) const {
    const auto data = request.begin() + kDataOffset;
    if (options_.variant == kVariant0) {
        Bytes reply = {kSyncHigh, kSyncLow};
        AppendWord(reply, kEchoCheck);
        reply.insert(reply.end(), {kEchoMarkerHigh, kEchoMarkerLow});
        reply.insert(reply.end(), data + kVariant0EchoSkip, request.end());
        return reply;
    }
    Bytes reply = {kEchoMarkerHigh, kEchoMarkerLow};
    AppendWord(reply, kEchoCheck);
    reply.insert(reply.end(), data, request.end());
    return reply;
}

Bytes ControllerModel::FirmwareReply() const {
    if (options_.variant == kVariant0) {
        Bytes reply;
        reply.reserve(kFirmwareLength0);
        for (char c : kFirmwareText0)
            AppendWord(reply, static_cast<std::uint8_t>(c));
        reply.resize(kFirmwareLength0, 0);
        return reply;
    }
    Bytes reply(kFirmwareText100.begin(), kFirmwareText100.end());
    reply.resize(kFirmwareLength100, 0);
    return reply;
}

Bytes ControllerModel::LiveReply(double t) {
    const LiveValues live = signal_.Live(t, ram_);
    const Words words     = {live.norm,  live.channelA, live.channelB,  live.maximum, live.minimum,
                             live.upper, live.lower,    live.reference, live.state};
    return MakeFrame(kLiveValues, words);
}

// A RAW record reads as channel A then channel B (starts 0, 64 | 128, 192), a NORM record as
// the NORM samples alone; other starts read on from that offset, wrapping round.
Bytes ControllerModel::BlockReply(const Words &request, double t) {
    const std::uint16_t start = request[kBlockStartWord];
    if (start == 0 || !record_)
        record_ = signal_.Record(t, ram_);
    std::vector<std::uint16_t> samples(record_->norm.begin(), record_->norm.end());
    if (request[kBlockSourceWord] == kSourceRaw) {
        samples.assign(record_->channelA.begin(), record_->channelA.end());
        samples.insert(samples.end(), record_->channelB.begin(), record_->channelB.end());
    }
    Bytes reply;
    reply.reserve(kBlockLength);
    for (std::size_t i = 0; i < kBlockWords; ++i)
        AppendWord(reply, samples[(start + i) % samples.size()]);
    return reply;
}

Bytes ControllerModel::WriteAcknowledgement(std::uint16_t command) const {
    if (!options_.ackWrites)
        return {};
    return MakeFrame(command, command == kWriteEeprom ? eeprom_ : ram_);
}

} // namespace sim
