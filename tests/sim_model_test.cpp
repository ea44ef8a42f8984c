// The controller simulator: the model's replies for both board variants, its parameter sets
// and EEPROM file, the framing of the line, and the pty host's pacing and faults.
#include "model.h"
#include "pty_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace sim;
using Clock = std::chrono::steady_clock;

// Before the first passage of the target: the beam is clear.
constexpr double kBeamClear   = 0.2;
constexpr double kLineSeconds = 2.0;

Words Numbered(std::uint16_t first) {
    Words words;
    std::iota(words.begin(), words.end(), first);
    return words;
}

ModelOptions Board(int variant) {
    ModelOptions options;
    options.variant = variant;
    return options;
}

Words WithParameter(Words words, std::size_t index, std::uint16_t value) {
    words[index] = value;
    return words;
}

Bytes BlockRequest(std::uint16_t start, std::uint16_t source) {
    return MakeFrame(kDataBlock, WithParameter(WithParameter({}, 0, start), 1, source));
}

std::vector<std::uint16_t> BlockWords(const Bytes &block) {
    std::vector<std::uint16_t> words;
    for (std::size_t i = 0; i + 1 < block.size(); i += 2)
        words.push_back(static_cast<std::uint16_t>(block[i] << 8 | block[i + 1]));
    return words;
}

std::vector<std::uint16_t> ReadBlocks(ControllerModel &model, std::uint16_t source,
                                      std::initializer_list<std::uint16_t> starts, double t) {
    std::vector<std::uint16_t> words;
    for (std::uint16_t start : starts) {
        const std::vector<std::uint16_t> block =
            BlockWords(model.Reply(BlockRequest(start, source), t));
        words.insert(words.end(), block.begin(), block.end());
    }
    return words;
}

TEST(Commands, EveryCommandAnswersInItsOwnShapeOnBothBoardVariants) {
    struct Case {
        std::uint16_t command;
        std::size_t length100, length0;
        bool frame;
    };
    const Case cases[] = {{kWriteRam, 0, 0, false},
                          {kReadRam, 36, 36, true},
                          {kWriteEeprom, 0, 0, false},
                          {kReadEeprom, 36, 36, true},
                          {kEchoCheck, 36, 36, false},
                          {kTeach, 36, 36, true},
                          {kFirmware, 72, 64, false},
                          {kLiveValues, 36, 36, true},
                          {kDataBlock, 128, 128, false},
                          {kReset, 36, 36, true},
                          {0, 0, 0, false},
                          {11, 0, 0, false},
                          {0x0108, 0, 0, false}};
    for (int variant : {kVariant100, kVariant0}) {
        for (const Case &c : cases) {
            SCOPED_TRACE("variant " + std::to_string(variant) + ", code " +
                         std::to_string(c.command));
            ControllerModel model(Board(variant));
            const Bytes reply = model.Reply(MakeFrame(c.command, Numbered(1)), kBeamClear);
            ASSERT_EQ(reply.size(), variant == kVariant100 ? c.length100 : c.length0);
            if (c.frame) {
                EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 4),
                          (Bytes{0x00, 0x55, 0x00, static_cast<std::uint8_t>(c.command)}));
            }
        }
    }
}

TEST(EchoCheck, MarkerStandsAtOffsetZeroOnVariant100AndAtOffsetFourOnVariant0) {
    struct Case {
        int variant;
        Bytes head;
        std::size_t echoedFrom; // the request's bytes from here on follow the head
    };
    const Case cases[] = {{kVariant100, {0x00, 0xAA, 0x00, 0x05}, 4},
                          {kVariant0, {0x00, 0x55, 0x00, 0x05, 0x00, 0xAA}, 6}};
    for (const Case &c : cases) {
        ControllerModel model(Board(c.variant));
        const Bytes request = MakeFrame(kEchoCheck, Numbered(0x1201));
        Bytes expected      = c.head;
        expected.insert(expected.end(), request.begin() + static_cast<long>(c.echoedFrom),
                        request.end());
        EXPECT_EQ(model.Reply(request, kBeamClear), expected) << "variant " << c.variant;
    }
}

TEST(Firmware, Variant100SendsItsTextPaddedWithZeroBytes) {
    ControllerModel model(Board(kVariant100));
    const Bytes reply = model.Reply(MakeFrame(kFirmware, {}), kBeamClear);
    const auto end    = std::find(reply.begin(), reply.end(), 0);
    EXPECT_NE(std::string(reply.begin(), end).find("FW"), std::string::npos);
    EXPECT_TRUE(std::all_of(end, reply.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST(Firmware, Variant0SendsOneCharacterInTheLowByteOfEachWordEndingWithinThem) {
    ControllerModel model(Board(kVariant0));
    std::string text;
    bool terminated = false;
    for (std::uint16_t word : BlockWords(model.Reply(MakeFrame(kFirmware, {}), kBeamClear))) {
        EXPECT_EQ(word >> 8, 0);
        terminated = terminated || word == 0;
        if (!terminated)
            text += static_cast<char>(word);
    }
    EXPECT_TRUE(terminated);
    EXPECT_NE(text.find("FW"), std::string::npos);
}

TEST(ParameterSets, RamAndEepromStartWithTheFactorySetAndAreKeptApart) {
    ControllerModel model({});
    EXPECT_EQ(FrameWords(model.Reply(MakeFrame(kReadRam, {}), 0)), kDefaultParameters);
    model.Reply(MakeFrame(kWriteRam, Numbered(100)), 0);
    EXPECT_EQ(FrameWords(model.Reply(MakeFrame(kReadEeprom, {}), 0)), kDefaultParameters);
    model.Reply(MakeFrame(kWriteEeprom, Numbered(200)), 0);
    EXPECT_EQ(FrameWords(model.Reply(MakeFrame(kReadRam, {}), 0)), Numbered(100));
    EXPECT_EQ(FrameWords(model.Reply(MakeFrame(kReadEeprom, {}), 0)), Numbered(200));
}

TEST(ParameterSets, ResetReloadsRamFromEeprom) {
    ControllerModel model({});
    model.Reply(MakeFrame(kWriteEeprom, Numbered(200)), 0);
    model.Reply(MakeFrame(kWriteRam, Numbered(100)), 0);
    EXPECT_EQ(model.Reply(MakeFrame(kReset, {}), 0), MakeFrame(kReset, Numbered(200)));
    EXPECT_EQ(model.Ram(), Numbered(200));
}

TEST(ParameterSets, TeachMakesTheCurrentNormTheReference) {
    constexpr double kInThePassage = 1.45;
    ControllerModel model({});
    const std::uint16_t norm =
        FrameWords(model.Reply(MakeFrame(kLiveValues, {}), kInThePassage))[0];
    const Words taught = FrameWords(model.Reply(MakeFrame(kTeach, {}), kInThePassage));
    EXPECT_EQ(taught, WithParameter(kDefaultParameters, kReference, norm));
    EXPECT_EQ(FrameWords(model.Reply(MakeFrame(kLiveValues, {}), kInThePassage))[7], norm);
}

TEST(ParameterSets, WritesAreAnsweredOnlyWhenAcknowledgementsAreAsked) {
    for (std::uint16_t command : {kWriteRam, kWriteEeprom}) {
        ControllerModel quiet({});
        ModelOptions ack;
        ack.ackWrites = true;
        ControllerModel acknowledging(ack);
        EXPECT_TRUE(quiet.Reply(MakeFrame(command, Numbered(7)), 0).empty());
        EXPECT_EQ(acknowledging.Reply(MakeFrame(command, Numbered(7)), 0),
                  MakeFrame(command, Numbered(7)));
    }
}

class EepromFile : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = std::filesystem::path(::testing::TempDir()) /
                ("rmx7sim-eeprom-" + std::to_string(getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove(path_);
    }
    void TearDown() override { std::filesystem::remove(path_); }
    ModelOptions Options() const {
        ModelOptions options;
        options.eepromPath = path_.string();
        return options;
    }

    std::filesystem::path path_;
};

TEST_F(EepromFile, AWrittenSetComesBackInTheNextModelsEepromAndRam) {
    ControllerModel(Options()).Reply(MakeFrame(kWriteEeprom, Numbered(300)), 0);
    EXPECT_FALSE(std::filesystem::exists(path_.string() + ".tmp"));
    ControllerModel restarted(Options());
    EXPECT_EQ(FrameWords(restarted.Reply(MakeFrame(kReadEeprom, {}), 0)), Numbered(300));
    EXPECT_EQ(restarted.Ram(), Numbered(300));
}

TEST_F(EepromFile, AFileWithoutSixteenWordsGivesTheFactorySet) {
    std::ofstream(path_) << "1\n2\n70000\n";
    EXPECT_EQ(ControllerModel(Options()).Eeprom(), kDefaultParameters);
}

TEST(LiveValues, ThresholdsLieAroundTheRamReferenceAndTheTailIsZero) {
    ControllerModel model({});
    model.Reply(
        MakeFrame(kWriteRam, WithParameter(WithParameter(kDefaultParameters, kReference, 400),
                                           kHysteresis, 25)),
        0);
    const Words live = FrameWords(model.Reply(MakeFrame(kLiveValues, {}), kBeamClear));
    EXPECT_EQ(live[5], 425);
    EXPECT_EQ(live[6], 375);
    EXPECT_EQ(live[7], 400);
    EXPECT_LE(live[4], live[0]);
    EXPECT_GE(live[3], live[0]);
    EXPECT_LE(std::max(live[1], live[2]), kAdcMax);
    EXPECT_TRUE(std::all_of(live.begin() + 9, live.end(), [](std::uint16_t w) { return w == 0; }));
}

TEST(LiveValues, StateBitZeroSwitchesAtTheUpperValueAndBackAtTheLowerValue) {
    constexpr double kStep = 0.005, kTwoPassages = 7.0;
    ControllerModel model({});
    int on = 0, off = 0;
    for (double t = 0; t < kTwoPassages; t += kStep) {
        const Words live = FrameWords(model.Reply(MakeFrame(kLiveValues, {}), t));
        const bool above = live[8] & kStateAbove;
        if (live[0] > live[5]) {
            EXPECT_TRUE(above) << "t " << t;
        }
        if (live[0] < live[6]) {
            EXPECT_FALSE(above) << "t " << t;
        }
        (above ? on : off)++;
    }
    EXPECT_GT(on, 0);
    EXPECT_GT(off, on);
}

TEST(LiveValues, PolarityZeroInvertsTheOutputBit) {
    for (std::uint16_t polarity : {0, 1}) {
        ControllerModel model({});
        model.Reply(MakeFrame(kWriteRam, WithParameter(kDefaultParameters, kPolarity, polarity)),
                    0);
        const Words live = FrameWords(model.Reply(MakeFrame(kLiveValues, {}), kBeamClear));
        EXPECT_EQ((live[8] & kStateOutput) != 0, polarity == 0) << "polarity " << polarity;
    }
}

TEST(DataBlocks, RawBlocksCarryChannelAThenChannelBOfAPassage) {
    constexpr double kNow = 5.0;
    ControllerModel model({});
    const DataRecord record = SignalModel(ModelOptions{}.seed).Record(kNow, kDefaultParameters);
    std::vector<std::uint16_t> expected(record.channelA.begin(), record.channelA.end());
    expected.insert(expected.end(), record.channelB.begin(), record.channelB.end());
    EXPECT_EQ(ReadBlocks(model, kSourceRaw, {0, 64, 128, 192}, kNow), expected);
    const auto [lowest, highest] =
        std::minmax_element(record.channelA.begin(), record.channelA.end());
    EXPECT_GT(*highest - *lowest, 300) << "the target passes the beam within the record";
}

TEST(DataBlocks, NormBlocksCarryTheNormRecord) {
    constexpr double kNow = 5.0;
    ControllerModel model({});
    const RecordSamples norm =
        SignalModel(ModelOptions{}.seed).Record(kNow, kDefaultParameters).norm;
    EXPECT_EQ(ReadBlocks(model, kSourceNorm, {0, 64}, kNow),
              std::vector<std::uint16_t>(norm.begin(), norm.end()));
}

TEST(DataBlocks, TheRecordIsTakenWhenBlockZeroIsAskedAndReadOnFromThere) {
    constexpr double kFirstCapture = 5.0, kLater = 9.0;
    ControllerModel model({});
    const SignalModel signal(ModelOptions{}.seed);
    const RecordSamples first = signal.Record(kFirstCapture, kDefaultParameters).norm;
    const RecordSamples later = signal.Record(kLater, kDefaultParameters).norm;
    ASSERT_NE(first, later);
    ReadBlocks(model, kSourceNorm, {0}, kFirstCapture);
    const std::vector<std::uint16_t> wrapped = ReadBlocks(model, kSourceNorm, {100}, kLater);
    for (std::size_t i = 0; i < wrapped.size(); ++i)
        EXPECT_EQ(wrapped[i], first[(100 + i) % kRecordLength]) << "word " << i;
    EXPECT_EQ(ReadBlocks(model, kSourceNorm, {0}, kLater)[0], later[0]);
}

TEST(Framing, BytesThatCannotStartAFrameAreDroppedUpToTheSyncWord) {
    const Bytes frame = MakeFrame(kReadRam, Numbered(1));
    for (const Bytes &garbage :
         {Bytes{0xFF}, Bytes{0x00, 0x00}, Bytes{0x55, 0x00, 0xAA}, Bytes{0x00, 0xFF, 0x00}}) {
        FrameAssembler assembler;
        assembler.Feed(garbage.data(), garbage.size());
        assembler.Feed(frame.data(), frame.size());
        EXPECT_EQ(assembler.NextFrame(), frame);
        EXPECT_EQ(assembler.Pending(), 0u);
    }
}

TEST(Framing, AFrameSplitAfterItsFirstByteIsJoined) {
    const Bytes frame = MakeFrame(kLiveValues, {});
    FrameAssembler assembler;
    assembler.Feed(frame.data(), 1);
    EXPECT_EQ(assembler.NextFrame(), std::nullopt);
    assembler.Feed(frame.data() + 1, frame.size() - 1);
    EXPECT_EQ(assembler.NextFrame(), frame);
}

// The program's end of the pty: a raw, non-blocking descriptor on the slave.
class Line {
  public:
    explicit Line(const std::string &path)
        : fd_(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~Line() {
        if (fd_ >= 0)
            close(fd_);
    }
    bool IsOpen() const { return fd_ >= 0; }
    void Write(const Bytes &bytes) {
        ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Reads until count bytes are in or the deadline passes.
    Bytes Read(std::size_t count, double seconds = kLineSeconds) {
        Bytes bytes;
        const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        while (bytes.size() < count && Clock::now() < deadline) {
            pollfd fd = {fd_, POLLIN, 0};
            if (poll(&fd, 1, 10) > 0 && (fd.revents & POLLIN))
                ReadAvailable(bytes);
        }
        return bytes;
    }
    Bytes Available() {
        Bytes bytes;
        ReadAvailable(bytes);
        return bytes;
    }
    bool WaitForHangUp(double seconds) {
        pollfd fd = {fd_, POLLIN, 0};
        return poll(&fd, 1, static_cast<int>(seconds * 1000)) > 0 &&
               (fd.revents & (POLLHUP | POLLERR));
    }

  private:
    void ReadAvailable(Bytes &bytes) {
        std::uint8_t chunk[256];
        for (ssize_t n; (n = read(fd_, chunk, sizeof chunk)) > 0;)
            bytes.insert(bytes.end(), chunk, chunk + n);
    }
    int fd_;
};

HostOptions Unpaced(HostOptions options = {}) {
    options.pacing       = false;
    options.logExchanges = true;
    return options;
}

bool WaitForLog(const PtyHost &host, std::size_t count) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(kLineSeconds);
    while (host.Log().size() < count) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TEST(PtyHost, APacedExchangeTakesTheLineTimeOfRequestAndReply) {
    constexpr double kByte = 10.0 / 19200, kFifo = 16;
    PtyHost host;
    HostOptions options;
    options.logExchanges = true;
    ASSERT_TRUE(host.Start(options));
    Line line(host.SlavePath());
    const auto start = Clock::now();
    line.Write(MakeFrame(kLiveValues, {}));
    const Bytes reply    = line.Read(kFrameLength);
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    ASSERT_EQ(reply.size(), kFrameLength);
    EXPECT_EQ(FrameCommand(reply), kLiveValues);
    EXPECT_GE(elapsed, 0.037);
    ASSERT_TRUE(WaitForLog(host, 1));
    const Exchange exchange = host.Log()[0];
    EXPECT_GE(exchange.replyFirst - exchange.requestFirst, (kFrameLength + kFifo) * kByte);
    EXPECT_GE(exchange.replyLast - exchange.requestFirst, 2 * kFrameLength * kByte);
}

TEST(PtyHost, ARequestAfterGarbageIsAnswered) {
    PtyHost host;
    ASSERT_TRUE(host.Start(Unpaced()));
    Line line(host.SlavePath());
    Bytes bytes         = {0x13, 0x00, 0x37};
    const Bytes request = MakeFrame(kEchoCheck, {});
    bytes.insert(bytes.end(), request.begin(), request.end());
    line.Write(bytes);
    const Bytes reply = line.Read(kFrameLength);
    ASSERT_EQ(reply.size(), kFrameLength);
    EXPECT_EQ(reply[1], 0xAA);
}

TEST(PtyHost, DisconnectHangsUpTheProgramsPort) {
    PtyHost host;
    ASSERT_TRUE(host.Start(Unpaced()));
    Line line(host.SlavePath());
    ASSERT_TRUE(line.IsOpen());
    host.Disconnect();
    EXPECT_TRUE(line.WaitForHangUp(kLineSeconds));
}

TEST(HostFaults, EachFaultShapesTheReplyAsAsked) {
    struct Case {
        const char *name;
        HostOptions options;
        int shortest, longest;
    };
    HostOptions drop, silent, truncate, garbage;
    drop.dropProbability         = 1;
    silent.silent                = true;
    truncate.truncateProbability = 1;
    garbage.garbageProbability   = 1;
    const Case cases[]           = {{"drop", drop, 0, 0},
                                    {"silent", silent, 0, 0},
                                    {"truncate", truncate, 1, kFrameLength - 1},
                                    {"garbage", garbage, kFrameLength + 1, kFrameLength + 8}};
    const Bytes request          = MakeFrame(kReadRam, {});
    const Bytes answer           = MakeFrame(kReadRam, kDefaultParameters);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PtyHost host;
        ASSERT_TRUE(host.Start(Unpaced(c.options)));
        Line line(host.SlavePath());
        line.Write(request);
        ASSERT_TRUE(WaitForLog(host, 1));
        const int length = host.Log()[0].replyLength;
        EXPECT_GE(length, c.shortest);
        EXPECT_LE(length, c.longest);
        Bytes reply      = line.Read(static_cast<std::size_t>(length));
        const Bytes rest = line.Available();
        reply.insert(reply.end(), rest.begin(), rest.end());
        ASSERT_EQ(reply.size(), static_cast<std::size_t>(length));
        if (c.longest < static_cast<int>(kFrameLength))
            EXPECT_TRUE(std::equal(reply.begin(), reply.end(), answer.begin()));
        else
            EXPECT_NE(std::search(reply.begin(), reply.end(), answer.begin(), answer.end()),
                      reply.end());
    }
}

TEST(HostFaults, OneSeedGivesOneSequenceOfDroppedReplies) {
    constexpr std::size_t kRequests = 20;
    auto pattern                    = [] {
        HostOptions options;
        options.dropProbability = 0.5;
        options.seed            = 7;
        PtyHost host;
        std::vector<bool> answered;
        if (!host.Start(Unpaced(options)))
            return answered;
        Line line(host.SlavePath());
        Bytes requests;
        for (std::size_t i = 0; i < kRequests; ++i) {
            const Bytes request = MakeFrame(kLiveValues, {});
            requests.insert(requests.end(), request.begin(), request.end());
        }
        line.Write(requests);
        if (WaitForLog(host, kRequests))
            for (const Exchange &exchange : host.Log())
                answered.push_back(exchange.replyLength > 0);
        return answered;
    };
    const std::vector<bool> first = pattern();
    ASSERT_EQ(first.size(), kRequests);
    EXPECT_EQ(pattern(), first);
    EXPECT_NE(std::count(first.begin(), first.end(), true), 0);
    EXPECT_NE(std::count(first.begin(), first.end(), false), 0);
}

} // namespace
