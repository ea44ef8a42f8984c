// The controller's line pulled during a run, a data capture and a parameter get: the
// program ends each with its time-out text and neither crashes nor hangs; the device
// brought back at the same path is picked again in the ring and runs.
#include "support/fake_controller.h"
#include "support/panel_fixture.h"

#include "app.h"
#include "com232.h"
#include "gui.h"
#include "platform/events.h"
#include "platform/panel.h"
#include "platform/ports.h"
#include "platform/serial.h"
#include "ui.h"

#include <QTimer>

#include <unistd.h>

#include <filesystem>
#include <thread>

using namespace com232;

namespace {

using Callback = int (*)(int, int, int, void *, int, int);

constexpr double kPullWithin = 5.0; // bounds the wait for the request the line is pulled on
constexpr int kHangGuardMs   = 10000;

} // namespace

class Unplug : public PanelTest {
  protected:
    FakeController controller;
    std::filesystem::path folder;
    std::string device; // a fixed path, as /dev/serial/by-id gives a real adapter

    void SetUp() override {
        PanelTest::SetUp();
        folder =
            std::filesystem::path(testing::TempDir()) / ("rmx7-unplug-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder);
        device = (folder / "ttyRMX7").string();
        PointDeviceAt(peer.path());
        PortTableAdd(1, device);
        app::FillPortRing();
        peer.SetResponder(controller.Responder());
        InitRS232(1);
        ASSERT_EQ(StatusLine(), controller.firmware);
    }
    void TearDown() override {
        PanelTest::TearDown();
        std::filesystem::remove_all(folder);
    }

    void PointDeviceAt(const std::string &slave) {
        const std::filesystem::path next = device + ".next";
        std::filesystem::create_symlink(slave, next);
        std::filesystem::rename(next, device);
    }
    void Commit(Callback callback) { callback(panel, 0, kEventCommit, nullptr, 0, 0); }

    // The capture polls without processing events, so the line is pulled from a thread
    // of its own once the peer has the request.
    std::thread PullOnRequest(std::size_t count) {
        return std::thread([this, count] {
            peer.WaitForRequests(count, kPullWithin);
            peer.Close();
        });
    }

    // Another controller at the same path, picked again in the ring, runs until it has
    // answered three live requests and the operator presses Stop.
    void PlugBackPickAgainAndRun() {
        EXPECT_LT(GetInQLen(1), 0) << "the vanished port is closed";
        ScriptedPeer back;
        FakeController again;
        again.firmware = "back on the line";
        back.SetResponder(again.Responder());
        PointDeviceAt(back.path());

        SetCtrlVal(panel, ui::DropDCom, 1);
        app::CC_DropDCom(panel, ui::DropDCom, kEventCommit, nullptr, 0, 0);
        EXPECT_EQ(StatusLine(), "back on the line");

        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (again.liveReplies >= 3) {
                poll.stop();
                Commit(app::CC_BTNStop);
            }
        });
        poll.start(1);
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [&] { Commit(app::CC_BTNStop); });
        guard.start(kHangGuardMs);
        Commit(app::CC_BTNRun);
        EXPECT_GE(again.liveReplies, 3);
        EXPECT_EQ(StatusLine(), "Line Ok!");
        CloseCom(1);
    }
};

TEST_F(Unplug, DuringARunTheRunTimesOut) {
    QTimer pull;
    QObject::connect(&pull, &QTimer::timeout, [&] {
        if (controller.liveReplies >= 3) {
            pull.stop();
            peer.Close();
        }
    });
    pull.start(1);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] { Commit(app::CC_BTNStop); });
    guard.start(kHangGuardMs);
    Commit(app::CC_BTNRun);
    EXPECT_EQ(StatusLine(), "Timeout RS232-Line!") << "ended by the guard: the run hung";
    EXPECT_EQ(app::vars.stop_flag, 1);
    PlugBackPickAgainAndRun();
}

TEST_F(Unplug, DuringADataCaptureTheBlockReadTimesOutAndTheCurveIsFlat) {
    controller.silent[kCmdDataBlock] = true;
    std::fill(vars.yArrayA, vars.yArrayA + 128, 9);
    SetCtrlVal(panel, ui::RNGGraphSource, gui::kSourceNorm);
    std::thread pull = PullOnRequest(peer.Requests().size() + 1);
    Commit(app::CC_BTNData);
    pull.join();
    EXPECT_EQ(StatusLine(), "Timeout-RS-232 while reading 64 data-words!");
    EXPECT_EQ(vars.yArrayA[0], 0);
    EXPECT_EQ(vars.yArrayA[127], 0);
    PlugBackPickAgainAndRun();
}

TEST_F(Unplug, DuringAParameterGetTheGetTimesOutAndThePanelKeepsTheSet) {
    controller.silent[kCmdReadRam] = true;
    const int power                = Value(ui::power);
    std::thread pull               = PullOnRequest(peer.Requests().size() + 1);
    Commit(app::CC_BTNGet);
    pull.join();
    EXPECT_EQ(StatusLine(), "Timeout RS232-Line!");
    EXPECT_EQ(Value(ui::power), power);
    PlugBackPickAgainAndRun();
}
