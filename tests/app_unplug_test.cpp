// The controller's line pulled during a run, a data capture and a parameter get: the
// program ends each with its time-out text and neither crashes nor hangs; the device
// brought back at the same path is picked again in the ring and runs.
#include "support/panel_fixture.h"

#include "app.h"
#include "com232.h"
#include "gui.h"
#include "platform/panel/panel.h"
#include "platform/serial/ports.h"
#include "platform/serial/serial.h"
#include "ui.h"

#include <filesystem>
#include <memory>
#include <thread>
#include <unistd.h>

using namespace com232;

TEST_F(ControllerTest, APulledLineEndsEachWaitWithItsTimeoutAndTheDeviceBackAtItsPathRuns) {
    // A fixed path to the device, as /dev/serial/by-id gives a real adapter.
    const std::string device = ::testing::TempDir() + "rmx7-unplug-" + std::to_string(getpid());
    const auto pointAt       = [&](const ScriptedPeer &line) {
        std::filesystem::create_symlink(line.path(), device + ".next");
        std::filesystem::rename(device + ".next", device);
    };
    PortTableAdd(1, device);
    program().FillPortRing();
    const struct {
        Callback command;
        int silent; // the command the line is pulled on
        const char *status;
    } cases[] = {{app::CC_BTNRun, kCmdLive, "Timeout RS232-Line!"},
                 {app::CC_BTNData, kCmdDataBlock, "Timeout-RS-232 while reading 64 data-words!"},
                 {app::CC_BTNGet, kCmdReadRam, "Timeout RS232-Line!"},
                 {nullptr, 0, "Line Ok!"}};
    std::unique_ptr<ScriptedPeer> line;
    for (const auto &c : cases) {
        line = std::make_unique<ScriptedPeer>();
        line->SetResponder(controller.Responder());
        pointAt(*line);
        controller.silent.clear();
        SetCtrlVal(panel, ui::DropDCom, 1);
        Raise(app::CC_DropDCom, kEventCommit, ui::DropDCom);
        ASSERT_EQ(StatusLine(), controller.firmware) << "picked again in the ring";
        if (!c.command) {
            RunFor(controller.liveReplies + 3);
            EXPECT_EQ(StatusLine(), c.status) << "the device back at the same path runs";
            break;
        }
        controller.silent[c.silent] = c.silent != kCmdLive;
        PanelTest::line().FillCurves(9, 9);
        // The capture and the get poll without events: the line is pulled from a thread.
        std::thread pull([&, count = line->Requests().size() + 1] {
            line->WaitForRequests(count + (c.silent == kCmdLive ? 3 : 0), 5.0);
            line->Close();
        });
        EventHook guard(nullptr, 10, [this] { Stop(); }); // a hung run fails, not hangs
        Raise(c.command);
        pull.join();
        EXPECT_EQ(StatusLine(), c.status);
        EXPECT_LT(GetInQLen(1), 0) << "the vanished port is closed";
        EXPECT_EQ(Curves().a[127], c.silent == kCmdDataBlock ? 0 : 9) << "flat after a capture";
    }
    std::filesystem::remove(device);
}

TEST_F(ControllerTest, ALineLostInARunSaysSoAndTheNextRunReopensItOnceItIsBack) {
    const std::string device = ::testing::TempDir() + "rmx7-back-" + std::to_string(getpid());
    const auto pointAt       = [&](const ScriptedPeer &line) {
        std::filesystem::create_symlink(line.path(), device + ".next");
        std::filesystem::rename(device + ".next", device);
    };
    auto line = std::make_unique<ScriptedPeer>();
    line->SetResponder(controller.Responder());
    pointAt(*line);
    PortTableAdd(1, device);
    InitRS232(1);
    std::thread pull([&] {
        line->WaitForRequests(line->Requests().size() + 3, 5.0);
        line->Close();
    });
    {
        EventHook guard(nullptr, 10, [this] { Stop(); });
        Raise(app::CC_BTNRun);
    }
    pull.join();
    EXPECT_EQ(StatusLine(), "Timeout RS232-Line!");
    EXPECT_EQ(ToolTip(), "COM1 (" + device +
                             ") is gone: its device was unplugged or switched off, or its "
                             "connection closed. Once it is back, the next command opens it "
                             "again; it can also be picked again in the ring.");
    program().RefreshPortRing();
    EXPECT_EQ(Trace("DIAG").back(), ToolTip()) << "also while the program waits";

    ScriptedPeer back;
    back.SetResponder(controller.Responder());
    pointAt(back);
    RunFor(controller.liveReplies + 3);
    EXPECT_EQ(StatusLine(), "Line Ok!") << "Run again, without a pick in the ring";
    ASSERT_FALSE(back.Requests().empty());
    EXPECT_EQ(back.Requests().front()[3], kCmdLive) << "the reopen adds no request of its own";
    EXPECT_NE(Trace("DIAG").back().find("is back: opened again"), std::string::npos);
    std::filesystem::remove(device);
}
