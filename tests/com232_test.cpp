// The device link: frames, open error texts, the firmware decoders, the line check, the
// receive callback, the parameter fetch's time-out and bad data blocks.
#include "support/panel_fixture.h"

#include "com232.h"
#include "gui.h"
#include "platform/panel/events.h"
#include "platform/panel/panel.h"
#include "platform/serial/serial.h"
#include "ui.h"

using namespace com232;

namespace {
constexpr int kTextBuffer = 128; // a 72-character firmware text and the longest message
} // namespace

TEST(OpenError, EachRefusedOpenHasItsText) {
    for (const auto &[result, text] : {std::pair{-7, "Cannot open port"},
                                       {-13, "Invalid parameter"},
                                       {-3, "Port is not open"},
                                       {-5, "RS-232 error!"}})
        EXPECT_STREQ(OpenErrorText(result), text) << result;
}

TEST(FirmwareText, EachVariantGivesItsTextUpToTheFirstZeroWithinTheBuffer) {
    Bytes text(72, 'y'), words(64, 'x'); // words: a character in each low byte
    text[40] = 0;
    const struct {
        bool variant0;
        int size;
        std::string text; // "?": the buffer is left as it was
    } cases[] = {{false, kTextBuffer, std::string(40, 'y')}, {false, 3, "yy"},  {false, 0, "?"},
                 {true, kTextBuffer, std::string(32, 'x')},  {true, 5, "xxxx"}, {true, -1, "?"}};
    for (const auto &c : cases) {
        char buffer[kTextBuffer] = "?";
        c.variant0 ? DecodeFirmware0(words.data(), buffer, c.size)
                   : DecodeFirmware100(text.data(), buffer, c.size);
        EXPECT_EQ(buffer, c.text) << c.variant0 << " " << c.size;
    }
    text[40] = 'y';
    char whole[kTextBuffer];
    DecodeFirmware100(text.data(), whole, kTextBuffer);
    EXPECT_EQ(whole, std::string(72, 'y')) << "at most 72 characters";
}

class LinkTest : public PanelTest {};

TEST_F(LinkTest, LineCheckReadsTheBoardVariantFromTheEchoShape) {
    const auto echo = [](std::uint8_t b0, std::uint8_t b1, std::uint8_t b4, std::uint8_t b5) {
        Bytes bytes = MakeFrame(kCmdEcho, {});
        bytes[0] = b0, bytes[1] = b1, bytes[4] = b4, bytes[5] = b5;
        return bytes;
    };
    const struct {
        Bytes echo;
        int result, pcbtype;
        const char *status;
    } cases[] = {
        {echo(0x00, 0xAA, 0x00, 0x05), kLineBoard100, kBoard100, "Echo Check - Line Ok!"},
        {echo(0x00, 0x55, 0x00, 0xAA), kLineBoard0, kBoard0, "Echo Check - Line Ok!"},
        {echo(0x00, 0xAA, 0x00, 0xAA), kLineBoard0, kBoard0, "Echo Check - Line Ok!"},
        {echo(0xAA, 0x00, 0xAA, 0x00), kLineFailed, 42, "read error - not sync byte 0xAA!"},
    };
    OpenLink();
    for (const auto &c : cases) {
        peer.SetResponder([&](const Bytes &) { return PeerReply{c.echo}; });
        line().SetBoardVariant(42);
        EXPECT_EQ(static_cast<int>(CheckComLine(1).line), c.result);
        EXPECT_EQ(BoardVariant(), c.pcbtype);
        EXPECT_EQ(StatusLine(), c.status);
    }
    EXPECT_EQ(peer.Requests().at(0),
              MakeFrame(kCmdEcho, {500, 512, 10, 1, 100, 1, 0, 0, 20, 50, 1}))
        << "the echo carries the parameter set";
}

TEST_F(LinkTest, AFirmwareReplyOf66BytesAndAnUnansweredFetchEachTimeOutWithTheirText) {
    OpenLink();
    peer.SetResponder([](const Bytes &) { return PeerReply{Bytes(66, 'v')}; });
    line().SetBoardVariant(kBoard100);
    EXPECT_EQ(GetVERSIONInfo().queued, 66);
    EXPECT_EQ(StatusLine(), "Timeout - reading firmware info!");
    EXPECT_EQ(Firmware(), "") << "nothing decoded";
    peer.SetResponder(nullptr);
    SetCtrlVal(panel, ui::power, 1234);
    PushGET(RAM);
    EXPECT_EQ(StatusLine(), "Timeout-RS-232...");
    EXPECT_EQ(Value(ui::power), 1234) << "the panel keeps its values";
}

TEST_F(LinkTest, ReceiveCallbackDecodesTheFirst36Of40BytesAndDropsTheRest) {
    OpenLink();
    std::optional<WaitOutcome> wait;
    line().Queue([](Line &on, std::optional<WaitOutcome> &into) -> job::Task<void> {
        into = co_await on.WaitForReply({}, Timer());
    }(line(), wait));
    Bytes forty = MakeFrame(kCmdLive, {0x0102, 0x0304});
    forty.insert(forty.end(), {1, 2, 3, 4});
    peer.Send(forty);
    ASSERT_TRUE(PumpUntil([&] { return wait.has_value(); }, 3.0));
    EXPECT_EQ(FrameWords()[0], 0x0102);
    EXPECT_EQ(FrameWords()[1], 0x0304);
    ASSERT_TRUE(wait->reply) << "decoded once and handed to the wait";
    EXPECT_EQ(wait->reply->command, kCmdLive);
    const LiveReply live = DecodeLiveReply(wait->reply->words);
    EXPECT_EQ(live.valNORM, 0x0102);
    EXPECT_EQ(live.adcCHA, 0x0304);
    EXPECT_EQ(GetInQLen(1), 0);
}

TEST_F(LinkTest, BadBlocksStoreNothingAndAShortOneTimesOutAndClearsBothCurves) {
    OpenLink();
    line().DetachReceiveCallback();
    Bytes block(128, 1);
    const struct {
        int start;
        Bytes reply;
        int result, a0, b127;
        const char *status;
    } cases[] = {
        {100, block, 64, 5, 6, "Data[64] block received!"}, // a start without a place
        {0, Bytes(129, 1), 0, 5, 6, "before"},              // too long: dropped
        {64, Bytes(127, 1), 0, 0, 0, "Timeout-RS-232 while reading 64 data-words!"},
    };
    for (const auto &c : cases) {
        line().FillCurves(5, 6);
        line().SetStatus("before");
        peer.SetResponder([&](const Bytes &) { return PeerReply{c.reply}; });
        EXPECT_EQ(ReadData64(c.start, 0, kCmdDataBlock).words, c.result);
        EXPECT_EQ(Curves().a[0], c.a0) << c.start;
        EXPECT_EQ(Curves().b[127], c.b127) << c.start;
        EXPECT_EQ(StatusLine(), c.status);
    }
}
