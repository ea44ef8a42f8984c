// The controller simulator: the model's replies for both board variants, its parameter sets
// and EEPROM file, the framing of the line, and the pty host's pacing and faults.
#include "model.h"
#include "pty_host.h"

#include "platform/events.h"
#include "platform/serial.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <unistd.h>

namespace {

using namespace sim;

constexpr double kBeamClear = 0.2; // before the first passage of the target

Words Numbered(std::uint16_t first) {
    Words words;
    std::iota(words.begin(), words.end(), first);
    return words;
}

Words With(Words words, std::size_t index, std::uint16_t value) {
    words[index] = value;
    return words;
}

ModelOptions Board(int variant) {
    ModelOptions options;
    options.variant = variant;
    return options;
}

std::vector<std::uint16_t> Read(ControllerModel &model, std::uint16_t source,
                                std::initializer_list<std::uint16_t> starts, double t) {
    std::vector<std::uint16_t> words;
    for (std::uint16_t start : starts) {
        const Bytes block = model.Reply(MakeFrame(kDataBlock, {start, source}), t);
        for (std::size_t i = 0; i + 1 < block.size(); i += 2)
            words.push_back(static_cast<std::uint16_t>(block[i] << 8 | block[i + 1]));
    }
    return words;
}

TEST(Commands, EveryCommandAnswersInItsOwnShapeOnBothBoardVariants) {
    const struct {
        std::uint16_t command;
        std::size_t length100, length0;
    } cases[] = {{kWriteRam, 0, 0},
                 {kReadRam, 36, 36},
                 {kWriteEeprom, 0, 0},
                 {kReadEeprom, 36, 36},
                 {kTeach, 36, 36},
                 {kFirmware, 72, 64},
                 {kLiveValues, 36, 36},
                 {kDataBlock, 128, 128},
                 {kReset, 36, 36},
                 {0, 0, 0},
                 {11, 0, 0},
                 {0x0108, 0, 0}};
    for (int variant : {kVariant100, kVariant0}) {
        for (const auto &c : cases) {
            ControllerModel model(Board(variant));
            const Bytes reply = model.Reply(MakeFrame(c.command, Numbered(1)), kBeamClear);
            ASSERT_EQ(reply.size(), variant == kVariant100 ? c.length100 : c.length0) << c.command;
            EXPECT_TRUE(reply.size() != kFrameLength ||
                        Bytes(reply.begin(), reply.begin() + 4) ==
                            (Bytes{0x00, 0x55, 0x00, std::uint8_t(c.command)}));
        }
    }
}

TEST(Commands, TheEchoMarkerAndTheFirmwareTextFollowTheBoardVariant) {
    const Bytes request = MakeFrame(kEchoCheck, Numbered(0x1201));
    Bytes echo100 = {0x00, 0xAA, 0x00, 0x05}, echo0 = {0x00, 0x55, 0x00, 0x05, 0x00, 0xAA};
    echo100.insert(echo100.end(), request.begin() + 4, request.end());
    echo0.insert(echo0.end(), request.begin() + 6, request.end());
    EXPECT_EQ(ControllerModel(Board(kVariant100)).Reply(request, 0), echo100);
    EXPECT_EQ(ControllerModel(Board(kVariant0)).Reply(request, 0), echo0);

    const Bytes text100 = ControllerModel(Board(kVariant100)).Reply(MakeFrame(kFirmware, {}), 0);
    const Bytes words0  = ControllerModel(Board(kVariant0)).Reply(MakeFrame(kFirmware, {}), 0);
    std::string text0;
    for (std::size_t i = 0; i < words0.size(); i += 2) {
        EXPECT_EQ(words0[i], 0) << "a character in the low byte of each word";
        text0 += static_cast<char>(words0[i + 1]);
    }
    for (const std::string &text : {std::string(text100.begin(), text100.end()), text0}) {
        const std::size_t end = text.find('\0');
        EXPECT_NE(text.substr(0, end).find("FW"), std::string::npos) << text;
        EXPECT_EQ(text.find_first_not_of('\0', end), std::string::npos) << "zero padded";
    }
}

TEST(ParameterSets, RamAndEepromAreKeptApartResetReloadsRamAndTeachTakesTheNorm) {
    ModelOptions options;
    options.eepromPath = testing::TempDir() + "rmx7sim-eeprom-" + std::to_string(getpid());
    std::ofstream(options.eepromPath) << "1\n2\n70000\n";
    ControllerModel model(options);
    EXPECT_EQ(model.Eeprom(), kDefaultParameters) << "a file without sixteen words";
    EXPECT_EQ(FrameWords(model.Reply(MakeFrame(kReadRam, {}), 0)), kDefaultParameters);
    model.Reply(MakeFrame(kWriteRam, Numbered(100)), 0);
    EXPECT_EQ(FrameWords(model.Reply(MakeFrame(kReadEeprom, {}), 0)), kDefaultParameters);
    model.Reply(MakeFrame(kWriteEeprom, Numbered(200)), 0);
    EXPECT_EQ(FrameWords(model.Reply(MakeFrame(kReadRam, {}), 0)), Numbered(100));
    EXPECT_EQ(model.Reply(MakeFrame(kReset, {}), 0), MakeFrame(kReset, Numbered(200)));
    EXPECT_EQ(ControllerModel(options).Ram(), Numbered(200)) << "the EEPROM file kept the set";
    std::filesystem::remove(options.eepromPath);

    constexpr double kInThePassage = 1.45;
    ControllerModel teach({});
    const auto norm = FrameWords(teach.Reply(MakeFrame(kLiveValues, {}), kInThePassage))[0];
    EXPECT_EQ(FrameWords(teach.Reply(MakeFrame(kTeach, {}), kInThePassage)),
              With(kDefaultParameters, kReference, norm));
}

TEST(LiveValues, ThresholdsLieAroundTheReferenceAndTheTailIsZero) {
    ControllerModel model({});
    model.Reply(
        MakeFrame(kWriteRam, With(With(kDefaultParameters, kReference, 400), kHysteresis, 25)), 0);
    const Words live = FrameWords(model.Reply(MakeFrame(kLiveValues, {}), kBeamClear));
    EXPECT_EQ(std::vector<std::uint16_t>(live.begin() + 5, live.begin() + 8),
              (std::vector<std::uint16_t>{425, 375, 400}));
    EXPECT_LE(live[4], live[0]);
    EXPECT_GE(live[3], live[0]);
    EXPECT_TRUE(std::all_of(live.begin() + 9, live.end(), [](std::uint16_t w) { return w == 0; }));
    EXPECT_EQ(live[8] & kStateOutput, 0) << "polarity 1, beam clear";
}

TEST(DataBlocks, RawReadsChannelAThenBAndNormTheNormRecordTakenAtBlockZero) {
    const SignalModel signal(ModelOptions{}.seed);
    const DataRecord record = signal.Record(5.0, kDefaultParameters);
    std::vector<std::uint16_t> raw(record.channelA.begin(), record.channelA.end());
    raw.insert(raw.end(), record.channelB.begin(), record.channelB.end());
    ControllerModel model({});
    EXPECT_EQ(Read(model, kSourceRaw, {0, 64, 128, 192}, 5.0), raw);
    EXPECT_EQ(Read(model, kSourceNorm, {0, 64}, 5.0),
              std::vector<std::uint16_t>(record.norm.begin(), record.norm.end()));
    const std::vector<std::uint16_t> wrapped = Read(model, kSourceNorm, {100}, 9.0);
    for (std::size_t i = 0; i < wrapped.size(); ++i)
        EXPECT_EQ(wrapped[i], record.norm[(100 + i) % kRecordLength]) << "read on, word " << i;
    EXPECT_EQ(Read(model, kSourceNorm, {0}, 9.0)[0],
              signal.Record(9.0, kDefaultParameters).norm[0]);
}

TEST(Framing, BytesBeforeTheSyncWordAreDroppedAndASplitFrameIsJoined) {
    const Bytes frame = MakeFrame(kReadRam, Numbered(1));
    for (const Bytes &garbage : {Bytes{0xFF}, Bytes{0x00, 0x00}, Bytes{0x55, 0x00, 0xAA},
                                 Bytes{0x00, 0xFF, 0x00}, Bytes{0x00}}) {
        FrameAssembler assembler;
        assembler.Feed(garbage.data(), garbage.size());
        assembler.Feed(frame.data(), 1);
        EXPECT_EQ(assembler.NextFrame(), std::nullopt);
        assembler.Feed(frame.data() + 1, frame.size() - 1);
        EXPECT_EQ(assembler.NextFrame(), frame);
        EXPECT_EQ(assembler.Pending(), 0u);
    }
}

// The host through the program's own serial services on COM 9.
class Host : public ::testing::Test {
  protected:
    void Open(const HostOptions &options) {
        ASSERT_TRUE(host.Start(options));
        ASSERT_EQ(OpenComConfig(9, host.SlavePath().c_str(), 19200, 0, 8, 1, 512, 512), 0);
        SetComTime(9, 0.5);
    }
    void TearDown() override { CloseCom(9); }
    Bytes Exchange(const Bytes &request, int count = 256) {
        ComWrt(9, request.data(), static_cast<int>(request.size()));
        Bytes reply(static_cast<std::size_t>(count));
        reply.resize(static_cast<std::size_t>(std::max(ComRd(9, reply.data(), count), 0)));
        return reply;
    }
    PtyHost host;
};

TEST_F(Host, APacedExchangeTakesTheLineTimeOfRequestAndReplyAndGarbageIsSkipped) {
    HostOptions options;
    options.logExchanges = true;
    Open(options);
    Bytes request    = {0x13, 0x00, 0x37};
    const Bytes live = MakeFrame(kLiveValues, {});
    request.insert(request.end(), live.begin(), live.end());
    const double start = Timer();
    EXPECT_EQ(FrameCommand(Exchange(request, kFrameLength)), kLiveValues);
    EXPECT_GE(Timer() - start, 2 * kFrameLength * 10.0 / 19200);
    const auto exchange = host.Log().at(0);
    EXPECT_GE(exchange.replyLast - exchange.requestFirst, 2 * kFrameLength * 10.0 / 19200);
    host.Disconnect();
    EXPECT_TRUE(Exchange(live).empty());
    EXPECT_LT(GetInQLen(9), 0) << "the disconnect hangs up the program's port";
}

} // namespace
