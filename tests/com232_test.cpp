// The device link: frames, open errors, the line check, the firmware query, the
// receive callback, the reply wait, the parameter fetch and the data block read.
#include "support/panel_fixture.h"

#include "com232.h"
#include "gui.h"
#include "platform/events.h"
#include "platform/panel.h"
#include "platform/serial.h"
#include "ui.h"

#include <cstring>

using namespace com232;

namespace {

Bytes WrittenFrame() {
    return Bytes(vars.szWriteBuf, vars.szWriteBuf + kFrameLength);
}

void PutReply(const Bytes &bytes) {
    std::memcpy(vars.szReadBuf, bytes.data(), bytes.size());
}

Bytes Echo(std::uint8_t b0, std::uint8_t b1, std::uint8_t b4, std::uint8_t b5) {
    Bytes echo(36, 0);
    echo[0] = b0, echo[1] = b1, echo[3] = 5, echo[4] = b4, echo[5] = b5;
    return echo;
}

Bytes Firmware100(const std::string &text, std::size_t length = 72) {
    Bytes reply(length, 0);
    std::memcpy(reply.data(), text.data(), std::min(text.size(), length));
    return reply;
}

Bytes Firmware0(const std::string &text, std::uint8_t highByte = 0) {
    Bytes reply(64, 0);
    for (std::size_t i = 0; i < text.size() && i < 32; ++i) {
        reply[2 * i]     = highByte;
        reply[2 * i + 1] = static_cast<std::uint8_t>(text[i]);
    }
    return reply;
}

Bytes Block(std::uint16_t first) {
    Bytes block(128);
    for (int i = 0; i < 64; ++i) {
        block[2 * i]     = static_cast<std::uint8_t>((first + i) >> 8);
        block[2 * i + 1] = static_cast<std::uint8_t>(first + i);
    }
    return block;
}

} // namespace

TEST(Frame, EchoRequestFromZeroWordsIsSyncCommandAndZeros) {
    vars                            = Vars{};
    const std::uint16_t zeros[PNUM] = {};
    FillTxBuf(kCmdEcho, zeros);
    Bytes expected(36, 0);
    expected[1] = 0x55, expected[3] = 5;
    EXPECT_EQ(WrittenFrame(), expected);
}

TEST(Frame, WordsGoHighByteFirstAndCodeAbove255KeepsItsHighByte) {
    vars                      = Vars{};
    std::uint16_t words[PNUM] = {0x1234, 0xFFFF};
    FillTxBuf(0x0102, words);
    const Bytes frame = WrittenFrame();
    EXPECT_EQ(frame[2], 0x01);
    EXPECT_EQ(frame[3], 0x02);
    EXPECT_EQ(frame[4], 0x12);
    EXPECT_EQ(frame[5], 0x34);
    EXPECT_EQ(frame[6], 0xFF);
    EXPECT_EQ(frame[7], 0xFF);
}

TEST(Frame, DecoderTakesCommandAndWordsWithoutCheckingTheSync) {
    vars = Vars{};
    PutReply(MakeFrame(8, {0x1234}));
    GetRxBuf(PNUM);
    EXPECT_EQ(vars.order, 8);
    EXPECT_EQ(vars.pp[0], 0x1234);

    Bytes odd = MakeFrame(0x0102, {7});
    odd[0] = 0x00, odd[1] = 0xAA;
    PutReply(odd);
    GetRxBuf(PNUM);
    EXPECT_EQ(vars.order, 0x0102);
    EXPECT_EQ(vars.pp[0], 7);
}

TEST(Frame, ParameterCopiesMapWordsToTheirVariables) {
    vars = Vars{};
    for (int i = 0; i < PNUM; ++i)
        vars.pp[i] = static_cast<std::uint16_t>(100 + i);
    CopyPPtoVars();
    EXPECT_EQ(vars.params.power, 100);
    EXPECT_EQ(vars.params.average, 106);
    EXPECT_EQ(vars.params.sdelay, 110);
    EXPECT_EQ(vars.params.para16, 115);
    std::fill(vars.pp, vars.pp + PNUM, 0);
    CopyVarsToPP();
    for (int i = 0; i < PNUM; ++i)
        EXPECT_EQ(vars.pp[i], 100 + i);
}

TEST(OpenError, EveryResultHasItsText) {
    const struct {
        int result;
        const char *text;
    } cases[] = {
        {-1, "Unknown system error"}, {-2, "Invalid port number"},
        {-3, "Port is not open"},     {-4, "Unknown I/0 error"},
        {-6, "No serial port found"}, {-7, "Cannot open port"},
        {-13, "Invalid parameter"},   {-99, "Timeout"},
        {-5, "RS-232 error!"},        {-8, "RS-232 error!"},
        {-12, "RS-232 error!"},       {-100, "RS-232 error!"},
    };
    for (const auto &c : cases)
        EXPECT_STREQ(OpenErrorText(c.result), c.text) << c.result;
}

TEST(FirmwareText, VariantZeroTakesTheLowBytesUpToTheFirstZero) {
    char text[kTextSize];
    Bytes reply = Firmware0("V1.0");
    reply[0]    = 0x41; // a high byte is not part of the text
    DecodeFirmware0(reply.data(), text, kTextSize);
    EXPECT_STREQ(text, "V1.0");

    DecodeFirmware0(Firmware0(std::string(32, 'x'), 0x12).data(), text, kTextSize);
    EXPECT_EQ(std::string(text), std::string(32, 'x'));
}

TEST(FirmwareText, VariantHundredIsTheTextUpToItsZeroAtMost72) {
    char text[kStatusSize];
    DecodeFirmware100(Firmware100("RMX7 FW 3.1").data(), text, kStatusSize);
    EXPECT_STREQ(text, "RMX7 FW 3.1");
    DecodeFirmware100(Firmware100(std::string(80, 'y')).data(), text, kStatusSize);
    EXPECT_EQ(std::string(text), std::string(72, 'y'));
}

TEST(FirmwareText, ABufferOfNoSizeIsLeftAsItWas) {
    char text[1] = {'x'};
    DecodeFirmware100(Firmware100("RMX7").data(), text, 0);
    DecodeFirmware0(Firmware0("RMX7").data(), text, -1);
    EXPECT_EQ(text[0], 'x');
}

class LinkTest : public PanelTest {};

TEST_F(LinkTest, LineCheckReadsTheBoardVariantFromTheEchoShape) {
    const struct {
        Bytes echo;
        int result;
        int pcbtype;
        const char *status;
    } cases[] = {
        {Echo(0x00, 0xAA, 0x00, 0x05), kLineBoard100, kBoard100, "Echo Check - Line Ok!"},
        {Echo(0x00, 0x55, 0x00, 0xAA), kLineBoard0, kBoard0, "Echo Check - Line Ok!"},
        {Echo(0x00, 0xAA, 0x00, 0xAA), kLineBoard0, kBoard0, "Echo Check - Line Ok!"},
        {Echo(0xAA, 0x00, 0xAA, 0x00), kLineFailed, 42, "read error - not sync byte 0xAA!"},
    };
    OpenLink();
    for (const auto &c : cases) {
        peer.SetResponder([&](const Bytes &) { return PeerReply{c.echo}; });
        vars.pcbtype = 42;
        EXPECT_EQ(CheckComLine(1), c.result);
        EXPECT_EQ(vars.pcbtype, c.pcbtype);
        EXPECT_EQ(StatusLine(), c.status);
    }
    const std::vector<Bytes> requests = peer.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0][3], kCmdEcho);
    EXPECT_EQ(FrameWord(requests[0], 0), 500) << "the echo carries the parameter set";
}

TEST_F(LinkTest, LineCheckWithAShortEchoTimesOutAndKeepsTheVariant) {
    OpenLink();
    peer.SetResponder([](const Bytes &) { return PeerReply{Bytes(20, 0xAA)}; });
    vars.pcbtype       = kBoard100;
    const double start = Timer();
    EXPECT_EQ(CheckComLine(1), kLineFailed);
    EXPECT_GE(Timer() - start, 2.0);
    EXPECT_EQ(vars.pcbtype, kBoard100);
    EXPECT_EQ(StatusLine(), "Timeout < 36 Bytes");
}

TEST_F(LinkTest, FirmwareQueryOfBothVariantsShowsTheTextAndReattachesTheCallback) {
    OpenLink();
    peer.SetResponder([](const Bytes &) { return PeerReply{Firmware100("RMX7 firmware 3.1")}; });
    vars.pcbtype = kBoard100;
    EXPECT_EQ(GetVERSIONInfo(), 72);
    EXPECT_EQ(StatusLine(), "RMX7 firmware 3.1");

    peer.SetResponder([](const Bytes &) { return PeerReply{Firmware0("V1.0")}; });
    vars.pcbtype = kBoard0;
    EXPECT_EQ(GetVERSIONInfo(), 64);
    EXPECT_STREQ(vars.szVersion, "V1.0");
    EXPECT_EQ(StatusLine(), "V1.0");
    EXPECT_EQ(vars.rx_flag, 0);

    peer.Send(MakeFrame(8, {77}));
    EXPECT_TRUE(PumpUntil([] { return vars.rx_flag == 1; }, 2.0)) << "callback re-installed";
    EXPECT_EQ(vars.pp[0], 77);
}

TEST_F(LinkTest, FirmwareReplyOf66BytesTimesOutWithNothingDecoded) {
    OpenLink();
    peer.SetResponder([](const Bytes &) { return PeerReply{Firmware100("short", 66)}; });
    vars.pcbtype = kBoard100;
    EXPECT_EQ(GetVERSIONInfo(), 66);
    EXPECT_EQ(StatusLine(), "Timeout - reading firmware info!");
    EXPECT_STREQ(vars.szVersion, "");
}

TEST_F(LinkTest, ReceiveCallbackDecodesTheFirst36Of40BytesAndDropsTheRest) {
    OpenLink();
    vars.rx_flag = 0;
    Bytes forty  = MakeFrame(8, {0x0102, 0x0304});
    forty.insert(forty.end(), {1, 2, 3, 4});
    peer.Send(forty);
    ASSERT_TRUE(PumpUntil([] { return vars.rx_flag == 1; }, 2.0));
    EXPECT_EQ(vars.order, 8);
    EXPECT_EQ(vars.pp[0], 0x0102);
    EXPECT_EQ(vars.pp[1], 0x0304);
    EXPECT_EQ(vars.graphrefresh, 1);
    EXPECT_EQ(vars.ttick, 0);
    EXPECT_EQ(GetInQLen(1), 0);
}

TEST_F(LinkTest, ReplyWaitEnteredWithTheFlagSetReturnsAtOnce) {
    OpenLink();
    vars.rx_flag       = 1;
    const double start = Timer();
    EXPECT_EQ(WaitRxFull(), 1);
    EXPECT_LT(Timer() - start, 1.0);
}

TEST_F(LinkTest, ParameterFetchAnsweredFillsVariablesAndPanel) {
    OpenLink();
    std::vector<std::uint16_t> ram = {600, 300, 12, 0, 90, 2, 3, 1, 25, 55, 4, 7};
    peer.SetResponder([&](const Bytes &) { return PeerReply{MakeFrame(2, ram)}; });
    std::strcpy(vars.szStatus, "Echo Check - Line Ok!");
    gui::PushGET(RAM);
    EXPECT_EQ(vars.params.power, 600);
    EXPECT_EQ(vars.params.average, 3);
    EXPECT_EQ(vars.params.para12, 7);
    EXPECT_EQ(Value(ui::power), 600);
    EXPECT_EQ(Value(ui::sdelay), 4);
    const std::vector<std::string> texts = StatusTexts();
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ(texts[texts.size() - 3], "Waiting for parameter-frame ...");
    EXPECT_EQ(texts[texts.size() - 2], "Parameter-frame received! - Line Ok!");
    EXPECT_EQ(texts.back(), "Echo Check - Line Ok!") << "the fetch ends with szStatus";
    EXPECT_EQ(peer.Requests().at(0)[3], kCmdReadRam);
}

TEST_F(LinkTest, ParameterFetchUnansweredLeavesThePanelAndShowsTheTimeout) {
    OpenLink();
    SetCtrlVal(panel, ui::power, 1234);
    gui::PushGET(RAM);
    EXPECT_EQ(StatusLine(), "Timeout-RS-232...");
    EXPECT_EQ(Value(ui::power), 1234);
}

TEST_F(LinkTest, BlockReadRequestsAndStoresByTheBlockMap) {
    OpenLink();
    DetachReceiveCallback();
    peer.SetResponder([](const Bytes &request) {
        return PeerReply{Block(static_cast<std::uint16_t>(FrameWord(request, 0) * 2))};
    });
    for (int start : {0, 64, 128, 192})
        EXPECT_EQ(ReadData64(start, start == 192 ? 1 : 0, kCmdDataBlock), 64);
    EXPECT_EQ(vars.yArrayA[0], 0);
    EXPECT_EQ(vars.yArrayA[64], 128);
    EXPECT_EQ(vars.yArrayB[0], 256);
    EXPECT_EQ(vars.yArrayB[127], 384 + 63);
    EXPECT_EQ(StatusLine(), "Data[64] block received!");

    const std::vector<Bytes> requests = peer.Requests();
    Bytes second(36, 0);
    second[1] = 0x55, second[3] = 9, second[4] = 0x00, second[5] = 0x40;
    EXPECT_EQ(requests.at(1), second);
    EXPECT_EQ(Bytes(requests.at(3).begin() + 4, requests.at(3).begin() + 8),
              (Bytes{0x00, 0xC0, 0x00, 0x01}));
}

TEST_F(LinkTest, BlockOfUnknownStartIsAcceptedAndStoresNothing) {
    OpenLink();
    DetachReceiveCallback();
    peer.SetResponder([](const Bytes &) { return PeerReply{Block(9)}; });
    EXPECT_EQ(ReadData64(100, 0, kCmdDataBlock), 64);
    EXPECT_EQ(vars.yArrayA[0], 0);
    EXPECT_EQ(vars.yArrayB[0], 0);
}

TEST_F(LinkTest, BlockOf129BytesIsDroppedAndOf127TimesOutAndClearsBothCurves) {
    OpenLink();
    DetachReceiveCallback();
    std::fill(vars.yArrayA, vars.yArrayA + 128, 5);
    std::fill(vars.yArrayB, vars.yArrayB + 128, 6);
    Bytes long129 = Block(1);
    long129.push_back(0);
    peer.SetResponder([&](const Bytes &) { return PeerReply{long129}; });
    std::strcpy(vars.szStatus, "before");
    EXPECT_EQ(ReadData64(0, 0, kCmdDataBlock), 0);
    EXPECT_EQ(vars.yArrayA[0], 5) << "a long block stores nothing and clears nothing";
    EXPECT_EQ(StatusLine(), "before");

    peer.SetResponder([](const Bytes &) { return PeerReply{Bytes(127, 1)}; });
    vars.ttick = 9;
    EXPECT_EQ(ReadData64(64, 0, kCmdDataBlock), 0);
    EXPECT_EQ(vars.yArrayA[0], 0);
    EXPECT_EQ(vars.yArrayB[127], 0);
    EXPECT_EQ(vars.ttick, 0);
    EXPECT_EQ(StatusLine(), "Timeout-RS-232 while reading 64 data-words!");
}
