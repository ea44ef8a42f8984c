// Parameter transfer callbacks: send, get, teach, reset and the transfer target.
#include "app.h"

#include "com232.h"
#include "gui.h"
#include "platform/panel/events.h"
#include "platform/panel/panel.h"
#include "platform/serial/serial.h"
#include "ui.h"

namespace app {

namespace {

using namespace com232;

constexpr double kGetTimeout   = 2.0;
constexpr double kTeachTimeout = 1.5;
constexpr double kResetTimeout = 1.5;

// Builds a request from the panel's current values and writes it.
bool SendPanelSet(int code) {
    com232::vars.order = code;
    gui::GetPanelValues();
    CopyVarsToPP();
    FillTxBuf(code, com232::vars.pp);
    com232::vars.rx_flag = 0;
    return WriteFrame();
}

// The target buttons are one exclusive choice with RAM as the fallback. Switching a
// button on writes it, the target, then the other two; switching the one that was on
// off falls back to RAM.
void SelectTarget(int panel, int control, int target, int firstOther, int secondOther) {
    int on = 0;
    GetCtrlVal(panel, control, &on);
    if (on) {
        SetCtrlVal(panel, control, 1);
        com232::vars.target = target;
        SetCtrlVal(panel, firstOther, 0);
        SetCtrlVal(panel, secondOther, 0);
    } else {
        com232::vars.target = RAM;
        SetCtrlVal(panel, ui::RBTRam, 1);
    }
}

} // namespace

int CC_BTNSend(int, int, int event, void *, int, int) {
    if (event != kEventLeftClick)
        return 0;
    gui::ShowStatus("Transmit...");
    if (com232::vars.target == DATFILE) {
        if (gui::SelectParameterFileForSave() > 0)
            gui::SendParaToFile();
        return 0;
    }
    com232::vars.sync  = 0x55;
    com232::vars.order = com232::vars.target == EEPROM ? kCmdWriteEeprom : kCmdWriteRam;
    gui::GetPanelValues();
    CopyVarsToPP();
    FillTxBuf(com232::vars.order, com232::vars.pp);
    // No reply is awaited; an answer, if any, is taken in by the receive callback.
    if (WriteFrame())
        gui::ShowStatus("Transmit Ok!");
    return 0;
}

int CC_BTNGet(int, int, int event, void *, int, int) {
    if (event == kEventLeftClick) {
        gui::ShowStatus("Receive...");
        return 0;
    }
    if (event != kEventCommit)
        return 0;
    if (com232::vars.target == DATFILE) {
        gui::ReadParaFromFile();
    } else {
        if (com232::vars.target == RAM)
            com232::vars.order = kCmdReadRam;
        else if (com232::vars.target == EEPROM)
            com232::vars.order = kCmdReadEeprom;
        CopyVarsToPP();
        FlushBoth(com232::vars.com);
        com232::vars.rx_flag = 0;
        FillTxBuf(com232::vars.order, com232::vars.pp);
        if (WriteFrame())
            gui::ShowStatus("Transmit Ok!");
        com232::vars.tstart = Timer();
        for (;;) {
            if (com232::vars.rx_flag == 1) {
                GetRxBuf(PNUM);
                CopyPPtoVars();
                gui::ShowStatus("Data Transfer Ok!");
                break;
            }
            com232::vars.tdiff = Timer() - com232::vars.tstart;
            if (com232::vars.tdiff > kGetTimeout) {
                gui::ShowStatus("Timeout RS232-Line!");
                break;
            }
            ProcessSystemEvents();
        }
    }
    // Also after a time-out or a failed load: the panel shows the variables as they stand.
    gui::SetPanelValues();
    return 0;
}

int CC_ButtonTeach(int, int, int event, void *, int, int) {
    if (event == kEventLeftClick) {
        gui::ShowStatus("Teach new Reference-Value ...");
        return 0;
    }
    if (event != kEventCommit)
        return 0;
    FlushBoth(com232::vars.com);
    if (SendPanelSet(kCmdTeach))
        gui::ShowStatus("Line Ok!");
    com232::vars.tstart = Timer();
    while (com232::vars.rx_flag != 1) {
        com232::vars.tdiff = Timer() - com232::vars.tstart;
        ProcessSystemEvents();
        if (com232::vars.tdiff >= kTeachTimeout)
            break;
    }
    gui::ShowStatus(com232::vars.tdiff <= kTeachTimeout ? "Teach-procedure activated!"
                                                        : "Timeout RS-232!!");
    return 0;
}

int CC_ButtonReset(int, int, int event, void *, int, int) {
    if (event != kEventCommit)
        return 0;
    FlushBoth(com232::vars.com);
    if (SendPanelSet(kCmdReset))
        gui::ShowStatus("Line Ok!");
    // The fetch after the reply runs a wait of its own on the shared clock variables, so
    // the reset keeps its elapsed time apart.
    const double start  = Timer();
    double elapsed      = 0;
    com232::vars.tstart = start;
    bool replied        = false;
    do {
        if (com232::vars.rx_flag == 1) {
            replied = true;
            gui::PushGET(RAM);
            break;
        }
        elapsed            = Timer() - start;
        com232::vars.tdiff = elapsed;
        ProcessSystemEvents();
    } while (elapsed < kResetTimeout);
    if (!replied && elapsed > kResetTimeout)
        gui::ShowStatus("Timeout RS-232!!");
    return 0;
}

int CC_RBTRam(int panel, int control, int event, void *, int, int) {
    if (event == kEventValueChanged)
        SelectTarget(panel, control, RAM, ui::RBTEeprom, ui::RBTFile);
    return 0;
}

int CC_RBTEeprom(int panel, int control, int event, void *, int, int) {
    if (event == kEventValueChanged)
        SelectTarget(panel, control, EEPROM, ui::RBTRam, ui::RBTFile);
    return 0;
}

int CC_RBTFile(int panel, int control, int event, void *, int, int) {
    if (event == kEventValueChanged)
        SelectTarget(panel, control, DATFILE, ui::RBTEeprom, ui::RBTRam);
    return 0;
}

} // namespace app
