// Each wait for the controller ends at its stated time, though it sleeps between clock
// tests, and takes a reply that comes during a sleep at once; times from the trace.
#include "support/fake_controller.h"
#include "support/panel_fixture.h"

#include "app.h"
#include "com232.h"
#include "gui.h"
#include "platform/panel/panel.h"

#include <algorithm>
#include <fstream>
#include <functional>

using namespace com232;

namespace {

// Time-out texts come within 20 ms; the rest is for a loaded machine.
constexpr double kLateness   = 0.020 + 0.030;
constexpr double kReplyDelay = 0.005; // the controller's answer comes while the loop sleeps

struct TraceLine {
    double at = 0;
    std::string kind, text;
};

std::vector<TraceLine> Lines(const std::string &path) {
    std::ifstream file(path);
    std::vector<TraceLine> lines;
    for (TraceLine l; file >> l.at >> l.kind >> std::ws && std::getline(file, l.text);)
        lines.push_back(l);
    return lines;
}

} // namespace

class Timeouts : public PanelTest {
  protected:
    FakeController controller;
    void SetUp() override {
        PanelTest::SetUp();
        peer.SetResponder(controller.Responder());
        OpenLink();
    }
};

TEST_F(Timeouts, EachWaitEndsAtItsStatedTimeAfterItsStart) {
    const struct {
        const char *wait;
        int silentCommand;
        std::function<void()> start;
        const char *text;
        double seconds; // from the wait's start to its time-out
    } boundaries[] = {
        {"run", kCmdLive, [this] { Raise(app::CC_BTNRun); }, "Timeout RS232-Line!", 2.0},
        {"get", kCmdReadRam, [this] { Raise(app::CC_BTNGet); }, "Timeout RS232-Line!", 2.0},
        {"teach", kCmdTeach, [this] { Raise(app::CC_ButtonTeach); }, "Timeout RS-232!!", 1.5},
        {"reset", kCmdReset, [this] { Raise(app::CC_ButtonReset); }, "Timeout RS-232!!", 1.5},
        {"echo", kCmdEcho, [this] { CheckComLine(1); }, "Timeout < 36 Bytes", kEchoPause + 2.0},
        {"firmware", kCmdFirmware, [this] { GetVERSIONInfo(); }, "Timeout - reading firmware info!",
         kReplyTimeout},
        {"block", kCmdDataBlock, [this] { ReadData64(0, 0, kCmdDataBlock); },
         "Timeout-RS-232 while reading 64 data-words!", kBlockTimeout},
    };
    controller.liveLimit = 3; // the run is answered three times, then meets silence
    for (const auto &b : boundaries) {
        controller.silent[b.silentCommand] = b.silentCommand != kCmdLive;
        const std::size_t before           = Lines(tracePath).size();
        b.start();
        const std::vector<TraceLine> lines = Lines(tracePath);
        const auto end = std::find_if(lines.begin() + before, lines.end(), [&](const TraceLine &l) {
            return l.kind == "STATUS" && l.text == b.text;
        });
        ASSERT_NE(end, lines.end()) << b.wait;
        // The last line before the text is the request, or the status shown right after it.
        const double waited = end->at - (end - 1)->at;
        EXPECT_GE(waited, b.seconds - 0.001) << b.wait << ": ended too soon";
        EXPECT_LE(waited, b.seconds + kLateness) << b.wait << ": ended too late";
    }
}

TEST_F(Timeouts, AReplyThatComesWhileTheLoopSleepsIsTakenAtOnce) {
    controller.delay[kCmdLive] = kReplyDelay;
    controller.liveLimit       = 9;
    Raise(app::CC_BTNRun);
    std::vector<double> late;
    double requested = 0;
    for (const TraceLine &line : Lines(tracePath)) {
        if (line.kind == "TX")
            requested = line.at;
        else if (line.kind == "RX")
            late.push_back(line.at - requested - kReplyDelay);
    }
    ASSERT_EQ(late.size(), 9u);
    std::sort(late.begin(), late.end());
    // Not woken by the bytes, the loop would take them only when its sleep runs out.
    EXPECT_LT(late[late.size() / 2], 0.005) << "median lateness of a reply";
}
