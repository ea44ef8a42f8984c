// Live view callbacks: the run loop, Stop, the timer tick, the graph-source switch, the
// data curve capture, and the recording and saving of what they show.
#include "app.h"

#include "com232.h"
#include "exports.h"
#include "gui.h"
#include "platform/panel/events.h"
#include "platform/panel/panel.h"
#include "platform/serial/serial.h"
#include "record.h"
#include "ui.h"

namespace app {

namespace {

using namespace com232;

constexpr double kRunTimeout       = 2.0;
constexpr std::uint16_t kTickLimit = 60000;

void SetVisible(int control, int visible) {
    SetCtrlAttribute(gui::vars.pHandle, control, kAttrVisible, visible);
}

void SetDimmed(int control, int dimmed) {
    SetCtrlAttribute(gui::vars.pHandle, control, kAttrDimmed, dimmed);
}

// Shows the strip chart the graph-source switch names and feeds it from now on.
void ShowChosenChart() {
    if (gui::GraphSource() == gui::kSourceRaw) {
        SetVisible(ui::ChartRAW, 1);
        SetVisible(ui::ChartNORM, 0);
        gui::vars.type = gui::kSourceRaw;
    } else {
        SetVisible(ui::ChartRAW, 0);
        SetVisible(ui::ChartNORM, 1);
        gui::vars.type = gui::kSourceNorm;
    }
}

void BuildLiveRequest() {
    CopyVarsToPP();
    FillTxBuf(kCmdLive, com232::vars.pp);
}

void PlotReply() {
    if (gui::vars.type == gui::kSourceRaw)
        gui::PlotRAWValues();
    else
        gui::PlotNORMValues(gui::vars.arrayNORM);
}

} // namespace

int CC_BTNRun(int, int, int event, void *, int, int) {
    if (event != kEventCommit)
        return 0;
    SetVisible(ui::GraphDATA, 0);
    SetDimmed(ui::Ctrl22, 1);
    SetDimmed(ui::Ctrl6, 1);
    exports::DimSaveButtons(true);
    // Its file dialog is modal too: the line would stall behind it.
    SetDimmed(ui::BTNViewRecording, 1);
    ShowChosenChart();

    CopyVarsToPP();
    FlushBoth(com232::vars.com);
    com232::vars.rx_flag = 0;
    com232::vars.order   = kCmdLive;
    FillTxBuf(kCmdLive, com232::vars.pp);
    if (WriteFrame())
        gui::ShowStatus("Line Ok!");
    com232::vars.tstart = Timer();
    record::RunStarted(com232::vars.tstart);
    vars.stop_flag            = 0;
    com232::vars.graphrefresh = 0;
    gui::FillarrayNORM(com232::vars.params.reference, 0);

    for (;;) {
        // Plot before the next request is built: building it overwrites pp.
        if (com232::vars.graphrefresh == 1) {
            PlotReply();
            record::AppendReply(Timer());
            com232::vars.graphrefresh = 0;
        }
        if (com232::vars.rx_flag == 1) {
            FlushBoth(com232::vars.com);
            BuildLiveRequest();
            com232::vars.rx_flag = 0;
            com232::vars.tstart  = Timer();
            WriteFrame();
            // The disk waits until the request is out: the reply takes 37 ms to come.
            record::WriteDueRows(Timer());
        }
        // The window restarts with every request: it measures the silence since the latest.
        com232::vars.tdiff = Timer() - com232::vars.tstart;
        if (com232::vars.tdiff > kRunTimeout) {
            gui::ShowStatus("Timeout RS232-Line!");
            vars.stop_flag = 1;
            break;
        }
        ProcessSystemEvents();
        if (vars.stop_flag != 0)
            break;
    }

    com232::vars.rx_flag = 0;
    FlushBoth(com232::vars.com);
    com232::vars.graphrefresh = 0;
    SetDimmed(ui::Ctrl22, 0);
    record::StopRecording();
    exports::DimSaveButtons(false);
    SetDimmed(ui::BTNViewRecording, 0);
    return 0;
}

int CC_BTNStop(int, int, int event, void *, int, int) {
    if (event != kEventCommit)
        return 0;
    com232::vars.rx_flag = 0;
    FlushBoth(com232::vars.com);
    vars.stop_flag            = 1;
    com232::vars.graphrefresh = 0;
    SetDimmed(ui::Ctrl22, 0);
    SetDimmed(ui::Ctrl6, 0);
    SetCtrlAttribute(gui::vars.pHandle, ui::Timer50ms, kAttrEnabled, 0);
    gui::FillarrayRAW(0, 0);
    gui::FillarrayNORM(com232::vars.params.reference, 0);
    return 0;
}

int CC_Timer50ms(int, int, int event, void *, int, int) {
    if (event == kEventTimerTick && com232::vars.ttick < kTickLimit)
        ++com232::vars.ttick;
    return 0;
}

int CC_RNGGraphSource(int, int, int event, void *, int, int) {
    if (event == kEventCommit)
        ShowChosenChart();
    return 0;
}

int CC_BTNData(int, int, int event, void *, int, int) {
    if (event != kEventCommit)
        return 0;
    SetVisible(ui::ChartRAW, 0);
    SetVisible(ui::ChartNORM, 0);
    SetVisible(ui::GraphDATA, 1);

    // The blocks are longer than a frame: the block read takes them from the queue itself.
    DetachReceiveCallback();
    FlushBoth(com232::vars.com);
    const int source = gui::GraphSource();
    const int blocks = source == gui::kSourceNorm ? 2 : 4;
    for (int block = 0; block < blocks; ++block) {
        com232::vars.order = kCmdDataBlock;
        ReadData64(block * kBlockWords, source, kCmdDataBlock);
    }
    AttachReceiveCallback();
    FlushBoth(com232::vars.com);

    // One live request brings the reference and the threshold levels the curve is drawn
    // against.
    com232::vars.rx_flag = 0;
    com232::vars.order   = kCmdLive;
    FillTxBuf(kCmdLive, com232::vars.pp);
    WriteFrame();
    WaitRxFull();
    const bool replied = com232::vars.rx_flag == 1;
    gui::PlotRAWValues();
    // The curve is drawn against the controller's own switching levels. Without a reply
    // pp holds no live values, so the levels of the last answered capture stay.
    if (replied) {
        gui::vars.upTHR = gui::vars.UPval;
        gui::vars.loTHR = gui::vars.LOval;
    }

    for (int i = 0; i < gui::kCurvePoints; ++i) {
        gui::vars.upArray[i]  = static_cast<std::uint16_t>(gui::vars.upTHR);
        gui::vars.loArray[i]  = static_cast<std::uint16_t>(gui::vars.loTHR);
        gui::vars.refArray[i] = gui::vars.valREF;
    }
    gui::PlotDATACurve(com232::vars.yArrayA, com232::vars.yArrayB, gui::vars.upArray,
                       gui::vars.loArray, gui::vars.refArray);
    exports::NoteCapture(source);
    SetDimmed(ui::Ctrl6, 0);
    FlushOutQ(com232::vars.com);
    FlushInQ(com232::vars.com);
    return 0;
}

// --- Recording and export ---

int CC_CHKRecord(int panel, int control, int event, void *, int, int) {
    if (event != kEventCommit || vars.stop_flag != 0)
        return 0;
    int on = 0;
    GetCtrlVal(panel, control, &on);
    if (on)
        record::StartRecording();
    else
        record::StopRecording();
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

} // namespace app
