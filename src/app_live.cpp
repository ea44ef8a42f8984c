// Live view: the run loop, Stop, the timer tick, the graph-source switch, the data curve
// capture, and the recording and saving of what they show.
#include "app.h"

#include "com232.h"
#include "exports.h"
#include "gui.h"
#include "platform/panel/events.h"
#include "platform/panel/panel.h"
#include "platform/serial/serial.h"
#include "publish.h"
#include "record.h"
#include "report.h"
#include "ui.h"

#include <algorithm>
#include <vector>

namespace app {

namespace {

using namespace com232;
using status::Result;

constexpr double kRunTimeout = 2.0;
constexpr int kNormBlocks    = 2;
constexpr int kRawBlocks     = 4;

struct LiveVars {
    bool stop_flag = true;             // no run loop runs, or it ends at its next check
    int type       = gui::kSourceNorm; // the chart the run loop feeds
    // The controller's switching levels of the last capture whose live request was answered.
    std::uint16_t upTHR = 0, loTHR = 0;
};

LiveVars live;
std::vector<LiveListener> listeners; // kept by InitVars: they belong to who added them

bool RunStopped() {
    return live.stop_flag;
}

// One request outstanding: the reply is looked at first, then the clock; Stop is seen
// after the events in which it was pressed.
constexpr WaitRule kRunWait{.seconds = kRunTimeout, .stopped = RunStopped};

void SetVisible(int control, int visible) {
    SetCtrlAttribute(gui::Panel(), control, kAttrVisible, visible);
}

void SetDimmed(int control, int dimmed) {
    SetCtrlAttribute(gui::Panel(), control, kAttrDimmed, dimmed);
}

// Shows the strip chart the graph-source switch names and feeds it from now on.
void ShowChosenChart() {
    if (gui::GraphSource() == gui::kSourceRaw) {
        SetVisible(ui::ChartRAW, 1);
        SetVisible(ui::ChartNORM, 0);
        live.type = gui::kSourceRaw;
    } else {
        SetVisible(ui::ChartRAW, 0);
        SetVisible(ui::ChartNORM, 1);
        live.type = gui::kSourceNorm;
    }
}

// A reply into the recording and to every listener.
void PassOnLiveReply(const LiveReply &reply) {
    const double now = Timer();
    record::AppendReply(reply, now);
    for (const LiveListener listener : std::vector(listeners))
        listener(reply, now);
}

// A reply on the chart that is fed, and passed on.
void ShowLiveReply(const LiveReply &reply) {
    if (live.type == gui::kSourceRaw)
        gui::PlotRAWValues(reply);
    else
        gui::PlotNORMValues(reply);
    PassOnLiveReply(reply);
}

// The modal dialogs of the save, view and report buttons would stall the line during a
// run.
void DimForRun(bool running) {
    exports::DimSaveButtons(running);
    SetDimmed(ui::BTNViewRecording, running);
    SetDimmed(ui::BTNReport, running);
}

} // namespace

void InitLiveVars() {
    live = LiveVars{};
}

void EndRunAtNextCheck() {
    live.stop_flag = true;
}

bool RunGoing() {
    return !live.stop_flag;
}

void AddLiveListener(LiveListener listener) {
    listeners.push_back(listener);
}

void RemoveLiveListener(LiveListener listener) {
    listeners.erase(std::remove(listeners.begin(), listeners.end(), listener), listeners.end());
}

Outcome RunLive() {
    SetVisible(ui::GraphDATA, 0);
    SetDimmed(ui::Ctrl22, 1);
    SetDimmed(ui::Ctrl6, 1);
    DimForRun(true);
    ShowChosenChart();

    ReopenLostPort();
    FlushBoth();
    if (SendRequest(kCmdLive))
        gui::ShowStatus(status::kLineOk);
    // The window restarts with every request: it measures the silence since the latest.
    double requested = Timer();
    record::RunStarted(requested);
    gui::Explain(record::Recording() ? status::RecordingTo(record::RecordingPath()) : "");
    live.stop_flag = false;
    ForgetReply();
    gui::FillarrayNORM(ParameterSet().reference, 0);

    Outcome outcome;
    for (;;) {
        const WaitOutcome wait = WaitForReply(kRunWait, requested);
        if (wait.end == WaitEnd::Stopped)
            break;
        if (wait.end == WaitEnd::TimedOut) {
            gui::ShowStatus(status::kNoReply);
            outcome        = {Result::NoReply, status::kNoReply, NoAnswerDetail(wait.elapsed)};
            live.stop_flag = true;
            break;
        }
        // Shown before the next request goes out, so that a listener's Stop sends no more.
        if (auto reply = TakeLiveReply())
            ShowLiveReply(*reply);
        if (!ReplyWaiting())
            continue;
        FlushBoth();
        requested = Timer();
        SendRequest(kCmdLive);
        // The disk waits until the request is out: the reply takes 37 ms to come.
        record::WriteDueRows(Timer());
    }

    // A reply read in the events that closed the panel is not drawn any more, but nothing
    // the controller sent is lost from the recording.
    if (auto reply = TakeLiveReply())
        PassOnLiveReply(*reply);
    ForgetReply();
    FlushBoth();
    SetDimmed(ui::Ctrl22, 0);
    const bool recorded = record::Recording();
    record::StopRecording();
    DimForRun(false);
    if (recorded) {
        const std::string written = status::RecordedTo(record::RecordingPath());
        outcome.detail += (outcome.detail.empty() ? "" : "\n") + written;
    }
    return Explained(outcome);
}

void StopRun() {
    ForgetReply();
    FlushBoth();
    live.stop_flag = true;
    SetDimmed(ui::Ctrl22, 0);
    SetDimmed(ui::Ctrl6, 0);
    SetCtrlAttribute(gui::Panel(), ui::Timer50ms, kAttrEnabled, 0);
    gui::FillarrayRAW(0, 0);
    gui::FillarrayNORM(ParameterSet().reference, 0);
}

Outcome CaptureCurve() {
    SetVisible(ui::ChartRAW, 0);
    SetVisible(ui::ChartNORM, 0);
    SetVisible(ui::GraphDATA, 1);

    ReopenLostPort();
    // The blocks are longer than a frame: the block read takes them from the queue itself.
    DetachReceiveCallback();
    FlushBoth();
    const int source = gui::GraphSource();
    const int blocks = source == gui::kSourceNorm ? kNormBlocks : kRawBlocks;
    Outcome outcome;
    for (int block = 0; block < blocks; ++block)
        outcome = status::FirstFailure(
            outcome, ReadData64(block * kBlockWords, source, kCmdDataBlock).outcome);
    AttachReceiveCallback();
    FlushBoth();

    // One live request brings the reference and the switching levels the curve is drawn
    // against.
    SendFrameWords(kCmdLive);
    const WaitOutcome closing = WaitRxFull();
    if (!closing.replied())
        outcome = status::FirstFailure(
            outcome, {Result::NoReply, status::kNoFetchReply, NoAnswerDetail(closing.elapsed)});
    // A reply that came in the pass that timed out still counts. Whatever the frame words
    // hold is taken in: the reply, or without one the words last sent; the levels of the
    // last answered capture then stay.
    const bool replied    = ReplyWaiting();
    const LiveReply reply = DecodeLiveReply(FrameWords());
    gui::PlotRAWValues(reply);
    if (replied) {
        live.upTHR = reply.UPval;
        live.loTHR = reply.LOval;
    }

    gui::DataCurve curve;
    curve.source = source;
    std::copy_n(Curves().a.begin(), gui::kCurvePoints, curve.a.begin());
    std::copy_n(Curves().b.begin(), gui::kCurvePoints, curve.b.begin());
    curve.upper.fill(live.upTHR);
    curve.lower.fill(live.loTHR);
    curve.reference.fill(gui::ReferenceShown());
    gui::PlotDATACurve(curve);
    exports::NoteCapture(curve);
    SetDimmed(ui::Ctrl6, 0);
    FlushOutQ(Port());
    FlushInQ(Port());
    return Explained(outcome);
}

int CC_BTNRun(int, int, int event, void *, int, int) {
    if (event == kEventCommit)
        publish::NoteOutcome(RunLive());
    return 0;
}

int CC_BTNStop(int, int, int event, void *, int, int) {
    if (event == kEventCommit)
        StopRun();
    return 0;
}

// The panel's timer ticks every 50 ms until Stop switches it off; nothing of the program
// depends on its ticks.
int CC_Timer50ms(int, int, int, void *, int, int) {
    return 0;
}

int CC_RNGGraphSource(int, int, int event, void *, int, int) {
    if (event == kEventCommit)
        ShowChosenChart();
    return 0;
}

int CC_BTNData(int, int, int event, void *, int, int) {
    if (event == kEventCommit)
        CaptureCurve();
    return 0;
}

// --- Recording and export ---

int CC_CHKRecord(int panel, int control, int event, void *, int, int) {
    if (event != kEventCommit || !RunGoing())
        return 0;
    int on = 0;
    GetCtrlVal(panel, control, &on);
    const bool was = record::Recording();
    if (on)
        record::StartRecording();
    else
        record::StopRecording();
    if (on && record::Recording())
        gui::Explain(status::RecordingTo(record::RecordingPath()));
    else if (!on && was)
        gui::Explain(status::RecordedTo(record::RecordingPath()));
    return 0;
}

int CC_BTNSaveCurve(int, int, int event, void *, int, int) {
    if (event == kEventCommit)
        exports::SaveCurve();
    return 0;
}

int CC_BTNSaveChart(int, int, int event, void *, int, int) {
    if (event == kEventCommit)
        exports::SaveChart();
    return 0;
}

int CC_BTNReport(int, int, int event, void *, int, int) {
    if (event == kEventCommit)
        Explained(report::ReportFromPanel());
    return 0;
}

} // namespace app
