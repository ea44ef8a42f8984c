// Lines side by side in one process and one thread, and the queue of jobs on a line: each
// line keeps its own set, texts and time-outs, a silent line holds up no other, and a job
// that comes during a run takes its turn between two exchanges, without a byte of one
// exchange between those of another.
#include "support/panel_fixture.h"

#include "com232.h"
#include "platform/panel/events.h"
#include "platform/serial/ports.h"
#include "platform/serial/serial.h"
#include "ui.h"

#include <algorithm>
#include <fstream>
#include <memory>

using namespace com232;

namespace {

// A line of its own with the status texts it showed.
struct ServedLine {
    std::unique_ptr<Line> line;
    std::vector<std::string> texts;
    std::vector<double> replies; // Timer() of each reply of its run
};

void Serve(ServedLine &served, int port) {
    served.line = std::make_unique<Line>(port);
    served.line->InstallSinks(
        {[&served](const char *text) { served.texts.push_back(text); }, {}, {}});
    LiveListener listener;
    listener.reply = [&served](const LiveReply &, double now) { served.replies.push_back(now); };
    served.line->AddLiveListener(std::move(listener));
}

// The trace's TX and RX lines in their order, "TX 00 55 00 08 ..." each.
std::vector<std::string> Transfers(const std::string &path) {
    std::vector<std::string> both;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);)
        if (line.find(" TX ") != std::string::npos || line.find(" RX ") != std::string::npos)
            both.push_back(line.substr(line.find(' ') + 1));
    return both;
}

} // namespace

TEST_F(PanelTest, TwoLinesRunSideBySideEachWithItsOwnSetTextsAndTimeOuts) {
    FakeController first, second;
    second.variant  = 0;
    second.ram[0]   = 777;
    second.firmware = "second board";
    ScriptedPeer firstPeer, secondPeer;
    firstPeer.SetResponder(first.Responder());
    secondPeer.SetResponder(second.Responder());
    PortTableAdd(2, firstPeer.path());
    PortTableAdd(3, secondPeer.path());
    ServedLine a, b;
    Serve(a, 2);
    Serve(b, 3);
    // Both start-ups at once, then both runs; the second controller falls silent in its run.
    second.liveLimit = 5;
    Outcome runA, runB;
    const auto startAndRun = [](ServedLine &served, int port, Outcome &ran) -> job::Task<void> {
        co_await served.line->InitRS232(port);
        ran = co_await served.line->RunLive();
    };
    a.line->Queue(startAndRun(a, 2, runA));
    b.line->Queue(startAndRun(b, 3, runB));
    ASSERT_TRUE(PumpUntil([&] { return b.line->Idle(); }, 10));
    EXPECT_EQ(runB.text, "Timeout RS232-Line!");
    EXPECT_TRUE(a.line->Running()) << "a silent line ends its own run only";
    EXPECT_EQ(a.line->BoardVariant(), kBoard100);
    EXPECT_EQ(b.line->BoardVariant(), kBoard0);
    EXPECT_EQ(a.line->ParameterSet().power, 640);
    EXPECT_EQ(b.line->ParameterSet().power, 777);
    EXPECT_EQ(a.texts.at(6), first.firmware);
    EXPECT_EQ(b.texts.at(6), second.firmware);
    EXPECT_EQ(b.texts.back(), "Timeout RS232-Line!");
    // While the silent line waited 2 s for its reply, the other went on exchanging: a wait that
    // held the thread would show here as a gap of seconds.
    const double silentSince = b.replies.back();
    double longestGap        = 0;
    for (std::size_t i = 1; i < a.replies.size(); ++i)
        if (a.replies[i] > silentSince)
            longestGap = std::max(longestGap, a.replies[i] - a.replies[i - 1]);
    EXPECT_GT(a.replies.back(), silentSince + 1.9);
    EXPECT_LT(longestGap, 0.5);
    a.line->RequestStop();
    ASSERT_TRUE(PumpUntil([&] { return a.line->Idle(); }, 5));
    EXPECT_TRUE(runA.ok()) << "Stop ends a run well";
    for (const Bytes &request : secondPeer.Requests()) {
        if (request[3] == kCmdLive) {
            EXPECT_EQ(FrameWord(request, 0), 777) << "each line's requests carry its own set";
        }
    }
    CloseCom(2);
    CloseCom(3);
}

class Queue : public ControllerTest {
  protected:
    void SetUp() override {
        ControllerTest::SetUp();
        InitRS232(1);
        controller.delay[kCmdLive] = 0.02; // a window for the job that comes meanwhile
    }
    // No request written while the one before still waited for its reply: the trace's
    // transfers after the start-up go TX, RX, TX, RX, ...
    void ExpectNoInterleaving() {
        const std::vector<std::string> transfers = Transfers(tracePath);
        for (std::size_t i = 3 * 2; i + 1 < transfers.size(); i += 2) {
            EXPECT_EQ(transfers[i].substr(0, 2), "TX") << i;
            EXPECT_EQ(transfers[i + 1].substr(0, 2), "RX") << i;
        }
    }
};

TEST_F(Queue, AJobThatComesDuringARunRunsBetweenTwoExchanges) {
    controller.ram[0] = 321;
    bool asked        = false;
    RunWhile([&] {
        if (!asked && controller.liveReplies >= 3) {
            asked = true;
            Raise(app::CC_BTNGet);
        }
        if (Value(ui::power) == 321 && controller.liveReplies >= 8)
            Stop();
    });
    std::vector<int> codes;
    for (const Bytes &request : peer.Requests())
        codes.push_back(request[3]);
    // After the start-up's echo, fetch and firmware query.
    const auto get = std::find(codes.begin() + 3, codes.end(), kCmdReadRam);
    ASSERT_NE(get, codes.end()) << "the Get came";
    EXPECT_EQ(*std::prev(get), kCmdLive);
    EXPECT_EQ(*std::next(get), kCmdLive) << "and the run went on after it";
    EXPECT_EQ(Value(ui::power), 321);
    ExpectNoInterleaving();
}

TEST_F(Queue, StopWhileAJobWaitsEndsTheRunAfterItsExchangeAndTheJobStillRuns) {
    controller.delay[kCmdLive] = 0.2;
    bool asked                 = false;
    RunWhile([&] {
        if (!asked && controller.liveReplies >= 2) {
            asked = true;
            Raise(app::CC_BTNGet); // waits for the live request on the line
            Stop();
        }
    });
    Settle();
    const std::vector<Bytes> requests = peer.Requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests.back()[3], kCmdReadRam) << "no live request after Stop";
    EXPECT_EQ(requests[requests.size() - 2][3], kCmdLive);
    EXPECT_EQ(StatusLine(), "Data Transfer Ok!");
    ExpectNoInterleaving();
}
