// Run, Stop, the timer tick, chart switching and the data curve capture, against a
// controller stand-in on a pty.
#include "support/fake_controller.h"
#include "support/panel_fixture.h"

#include "app.h"
#include "com232.h"
#include "gui.h"
#include "platform/events.h"
#include "platform/panel.h"
#include "platform/serial.h"
#include "ui.h"

#include <QTimer>

using namespace com232;

namespace {

int Attribute(int panel, int control, int attribute) {
    int value = -1;
    GetCtrlAttribute(panel, control, attribute, &value);
    return value;
}

} // namespace

class LiveView : public PanelTest {
  protected:
    FakeController controller;
    void SetUp() override {
        PanelTest::SetUp();
        peer.SetResponder(controller.Responder());
        InitRS232(1);
    }
    void Commit(int (*callback)(int, int, int, void *, int, int)) {
        callback(panel, 0, kEventCommit, nullptr, 0, 0);
    }
    // Runs until the controller has answered replies live requests, then presses Stop.
    void RunFor(int replies) {
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (controller.liveReplies >= replies && vars.rx_flag == 0 && vars.graphrefresh == 0) {
                poll.stop();
                Commit(app::CC_BTNStop);
            }
        });
        poll.start(1);
        QTimer::singleShot(10000, [this] { Commit(app::CC_BTNStop); });
        Commit(app::CC_BTNRun);
    }
    int Visible(int control) { return Attribute(panel, control, kAttrVisible); }
    int Dimmed(int control) { return Attribute(panel, control, kAttrDimmed); }
};

TEST_F(LiveView, RunKeepsOneRequestOutstandingAndPlotsEveryReplyOnce) {
    SetCtrlVal(panel, ui::RNGGraphSource, gui::kSourceRaw);
    controller.live      = {400, 500, 450, 800, 100, 520, 480, 510, 3};
    controller.liveLimit = 5;
    Commit(app::CC_BTNRun);
    const std::vector<Bytes> requests = peer.Requests();
    const int live                    = static_cast<int>(std::count_if(
                           requests.begin(), requests.end(), [](const Bytes &r) { return r[3] == kCmdLive; }));
    EXPECT_EQ(live, 6) << "one request after each of the five replies";
    EXPECT_EQ(FrameWord(requests.back(), 0), vars.params.power) << "requests carry the set";
    for (int k = 1; k <= 5; ++k)
        EXPECT_EQ(gui::vars.arrayRAW[gui::kRawValues - 2 * k], 500) << k;
    EXPECT_EQ(gui::vars.arrayRAW[gui::kRawValues - 12], 0) << "each reply plotted exactly once";
    EXPECT_EQ(Value(ui::adcCHA), 500);
    EXPECT_EQ(Value(ui::LEDState1), 1);
    EXPECT_EQ(Visible(ui::ChartRAW), 1);
    EXPECT_EQ(Visible(ui::ChartNORM), 0);
    EXPECT_EQ(Visible(ui::GraphDATA), 0);
    EXPECT_EQ(StatusLine(), "Timeout RS232-Line!");
    EXPECT_EQ(Dimmed(ui::Ctrl6), 1) << "after a time-out Run stays dimmed";
    EXPECT_EQ(Dimmed(ui::Ctrl22), 0);
}

TEST_F(LiveView, StopUndimsBothFramesStopsTheTimerAndResetsTheHistories) {
    RunFor(2);
    EXPECT_EQ(app::vars.stop_flag, 1);
    EXPECT_EQ(Dimmed(ui::Ctrl6), 0);
    EXPECT_EQ(Dimmed(ui::Ctrl22), 0);
    EXPECT_EQ(Attribute(panel, ui::Timer50ms, kAttrEnabled), 0);
    EXPECT_EQ(gui::vars.arrayRAW[gui::kRawValues - 1], 0);
    EXPECT_EQ(gui::vars.arrayNORM[gui::kNormValues - 2], vars.params.reference);
    EXPECT_EQ(gui::vars.arrayNORM[gui::kNormValues - 1], 0);
}

TEST_F(LiveView, SwitchingTheSourceDuringARunFeedsTheOtherChartFromTheNextReply) {
    SetCtrlVal(panel, ui::RNGGraphSource, gui::kSourceNorm);
    QTimer poll;
    bool switched = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!switched && controller.liveReplies >= 3) {
            switched = true;
            SetCtrlVal(panel, ui::RNGGraphSource, gui::kSourceRaw);
            Commit(app::CC_RNGGraphSource);
        }
    });
    poll.start(1);
    controller.liveLimit = 10;
    Commit(app::CC_BTNRun);
    EXPECT_EQ(gui::vars.type, gui::kSourceRaw);
    EXPECT_EQ(Visible(ui::ChartRAW), 1);
    EXPECT_EQ(Visible(ui::ChartNORM), 0);
    EXPECT_EQ(gui::vars.arrayRAW[gui::kRawValues - 2], 500) << "RAW fed after the switch";
    EXPECT_EQ(gui::vars.arrayNORM[gui::kNormValues - 1], 400) << "NORM keeps its samples";
    EXPECT_EQ(gui::vars.arrayRAW[0], 0) << "RAW did not get every reply";
}

TEST_F(LiveView, TimerTicksCountUpAndSaturate) {
    vars.ttick = 59999;
    for (int i = 0; i < 3; ++i)
        app::CC_Timer50ms(panel, ui::Timer50ms, kEventTimerTick, nullptr, 0, 0);
    EXPECT_EQ(vars.ttick, 60000);
    app::CC_Timer50ms(panel, ui::Timer50ms, kEventCommit, nullptr, 0, 0);
    EXPECT_EQ(vars.ttick, 60000);
}

TEST_F(LiveView, RawCaptureReadsFourBlocksThenOneLiveRequest) {
    SetCtrlVal(panel, ui::RNGGraphSource, gui::kSourceRaw);
    const std::size_t before = peer.Requests().size();
    const double raw         = gui::vars.arrayRAW[gui::kRawValues - 2];
    Commit(app::CC_BTNData);
    const std::vector<Bytes> requests = peer.Requests();
    ASSERT_EQ(requests.size(), before + 5);
    for (int block = 0; block < 4; ++block) {
        const Bytes &r = requests[before + block];
        EXPECT_EQ(r[3], kCmdDataBlock);
        EXPECT_EQ(FrameWord(r, 0), 64 * block);
        EXPECT_EQ(FrameWord(r, 1), 0);
    }
    EXPECT_EQ(requests.back()[3], kCmdLive);
    EXPECT_EQ(vars.yArrayA[1], 1);
    EXPECT_EQ(vars.yArrayA[127], 127);
    EXPECT_EQ(vars.yArrayB[0], 128);
    EXPECT_EQ(Visible(ui::GraphDATA), 1);
    EXPECT_EQ(Visible(ui::ChartRAW), 0);
    EXPECT_EQ(Visible(ui::ChartNORM), 0);
    EXPECT_EQ(Dimmed(ui::Ctrl6), 0);
    EXPECT_NE(gui::vars.arrayRAW[gui::kRawValues - 2], raw) << "the live reply moved RAW on";
    EXPECT_EQ(gui::vars.refArray[0], 510) << "reference line at the controller's value";
}

TEST_F(LiveView, NormCaptureReadsTwoBlocksAndKeepsCurveB) {
    SetCtrlVal(panel, ui::RNGGraphSource, gui::kSourceNorm);
    vars.yArrayB[5]          = 77;
    const std::size_t before = peer.Requests().size();
    Commit(app::CC_BTNData);
    const std::vector<Bytes> requests = peer.Requests();
    ASSERT_EQ(requests.size(), before + 3);
    EXPECT_EQ(FrameWord(requests[before + 1], 0), 64);
    EXPECT_EQ(FrameWord(requests[before + 1], 1), 1);
    EXPECT_EQ(vars.yArrayA[64], 1064);
    EXPECT_EQ(vars.yArrayB[5], 77);
}

TEST_F(LiveView, CaptureWhoseBlocksAllTimeOutDrawsFlatCurvesAndStaysUsable) {
    controller.silent[9] = true;
    std::fill(vars.yArrayA, vars.yArrayA + 128, 9);
    SetCtrlVal(panel, ui::RNGGraphSource, gui::kSourceNorm);
    Commit(app::CC_BTNData);
    EXPECT_EQ(vars.yArrayA[0], 0);
    EXPECT_EQ(vars.yArrayA[127], 0);
    EXPECT_EQ(StatusLine(), "Timeout-RS-232 while reading 64 data-words!");
    controller.silent[9] = false;
    RunFor(2);
    EXPECT_GE(controller.liveReplies, 2);
}

TEST_F(LiveView, SourceChangeAfterACaptureLeavesTheGraphBesideTheChart) {
    Commit(app::CC_BTNData);
    SetCtrlVal(panel, ui::RNGGraphSource, gui::kSourceRaw);
    Commit(app::CC_RNGGraphSource);
    EXPECT_EQ(Visible(ui::GraphDATA), 1);
    EXPECT_EQ(Visible(ui::ChartRAW), 1);
    RunFor(1);
    EXPECT_EQ(Visible(ui::GraphDATA), 0);
}
