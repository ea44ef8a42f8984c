// Parameter transfer: send, get, teach, reset and the transfer target.
#include "app.h"

#include "com232.h"
#include "gui.h"
#include "platform/panel/events.h"
#include "platform/panel/panel.h"
#include "platform/serial/ports.h"
#include "platform/serial/serial.h"
#include "status.h"
#include "ui.h"

namespace app {

namespace {

using namespace com232;
using status::Result;

constexpr double kTeachTimeout = 1.5;
constexpr double kResetTimeout = 1.5;

// Teach and reset read the clock before they sleep and judge that reading after it, so a
// reply in the last sleep does not save them.
constexpr WaitRule kCommandWait{
    .seconds = kTeachTimeout, .expiresAtBoundary = true, .judgeAfterSleep = true};
static_assert(kTeachTimeout == kResetTimeout);

// Flushes both queues and writes a request carrying the panel's current values.
bool SendPanelSet(int code) {
    FlushBoth();
    gui::GetPanelValues();
    return SendRequest(code);
}

// The target buttons are one exclusive choice with RAM as the fallback. Switching a
// button on writes it, the target, then the other two; switching the one that was on
// off falls back to RAM.
void SelectTarget(int panel, int control, int target, int firstOther, int secondOther) {
    int on = 0;
    GetCtrlVal(panel, control, &on);
    if (on) {
        SetCtrlVal(panel, control, 1);
        SetTarget(target);
        SetCtrlVal(panel, firstOther, 0);
        SetCtrlVal(panel, secondOther, 0);
    } else {
        SetTarget(RAM);
        SetCtrlVal(panel, ui::RBTRam, 1);
    }
}

Outcome Shown(Result result, const char *text, const std::string &detail = {}) {
    gui::ShowStatus(text);
    return {result, text, detail};
}

const char *MemoryName(int target) {
    return target == EEPROM ? "EEPROM" : "RAM";
}

} // namespace

void ShowLineHint(const Outcome &outcome) {
    const int port           = Port();
    const std::string device = PortDevice(port);
    switch (outcome.result) {
    case Result::Ok:
        gui::ShowHint({});
        return;
    case Result::NoReply:
    case Result::WriteFailed:
        gui::ShowHint(*GetLostDiagnosis(port) ? status::LostLineHint(port, device)
                                              : status::SilentLineHint(port, device));
        return;
    case Result::BadReply:
        gui::ShowHint(status::WrongAnswerHint(port, device));
        return;
    case Result::PortFailed:
        gui::ShowHint(status::PortFailedHint(port, device));
        return;
    default: // a file or a dialog: the line is as it was
        return;
    }
}

Outcome Explained(const Outcome &outcome, bool onLine) {
    // A cancelled dialog did nothing, and says nothing.
    if (outcome.result != Result::Cancelled)
        gui::Explain(outcome.detail);
    if (onLine)
        ShowLineHint(outcome);
    return outcome;
}

Outcome SendParameters() {
    gui::ShowStatus(status::kTransmit);
    if (Target() == DATFILE) {
        if (gui::SelectParameterFileForSave() <= 0)
            return {Result::Cancelled, {}};
        return Explained(gui::SendParaToFile(), false);
    }
    ReopenLostPort();
    gui::GetPanelValues();
    // No reply is awaited; an answer, if any, is taken in by the receive callback.
    if (!SendRequest(Target() == EEPROM ? kCmdWriteEeprom : kCmdWriteRam))
        return Explained({Result::WriteFailed, "the parameter set could not be written to the port",
                          GetLostDiagnosis(Port())});
    // The controller holds the panel's reference now, not the one it taught.
    gui::MarkTaught(false);
    return Explained(
        Shown(Result::Ok, status::kTransmitOk, status::ParametersSent(MemoryName(Target()))));
}

Outcome GetParameters() {
    Outcome outcome;
    bool read = false;
    if (Target() == DATFILE) {
        outcome = gui::ReadParaFromFile();
    } else {
        ReopenLostPort();
        const ParameterRead fetched = ReadParameterWords(Target());
        if (fetched.words) {
            SetParameterSet(ParametersOf(*fetched.words));
            read = true;
        }
        outcome = fetched.outcome;
    }
    // Also after a time-out or a failed load: the panel shows the set as it stands.
    gui::SetPanelValues();
    if (read)
        gui::NoteReadFromController();
    return Explained(outcome, Target() != DATFILE);
}

Outcome TeachReference() {
    ReopenLostPort();
    if (SendPanelSet(kCmdTeach))
        gui::ShowStatus(status::kLineOk);
    const WaitOutcome wait = WaitForReply(kCommandWait, Timer());
    // A time-out judged at exactly its time still counts as taught. Only an answer shows that
    // the controller's reference may now differ from the panel's, also one in the last sleep
    // that came too late for the text.
    const bool answered = ReplyWaiting();
    if (answered)
        gui::MarkTaught(true);
    if (wait.elapsed <= kTeachTimeout)
        return Explained(
            Shown(Result::Ok, status::kTeachActivated, answered ? status::kTaught : ""));
    return Explained(Shown(Result::NoReply, status::kNoCommandReply, NoAnswerDetail(wait.elapsed)));
}

Outcome ResetController() {
    ReopenLostPort();
    if (SendPanelSet(kCmdReset))
        gui::ShowStatus(status::kLineOk);
    const WaitOutcome wait = WaitForReply(kCommandWait, Timer());
    // The fetch has a wait of its own: once the reply came, no time-out text of the reset
    // follows, however long the fetch took.
    if (wait.replied()) {
        Outcome fetched = PushGET(RAM);
        if (fetched.ok())
            fetched.detail = status::kRamReloaded;
        return Explained(fetched);
    }
    if (wait.elapsed > kResetTimeout)
        return Explained(
            Shown(Result::NoReply, status::kNoCommandReply, NoAnswerDetail(wait.elapsed)));
    return Explained({Result::NoReply, {}, NoAnswerDetail(wait.elapsed)});
}

int CC_BTNSend(int, int, int event, void *, int, int) {
    if (event == kEventLeftClick)
        SendParameters();
    return 0;
}

int CC_BTNGet(int, int, int event, void *, int, int) {
    if (event == kEventLeftClick)
        gui::ShowStatus(status::kReceive);
    else if (event == kEventCommit)
        GetParameters();
    return 0;
}

int CC_ButtonTeach(int, int, int event, void *, int, int) {
    if (event == kEventLeftClick)
        gui::ShowStatus(status::kTeachPressed);
    else if (event == kEventCommit)
        TeachReference();
    return 0;
}

int CC_ButtonReset(int, int, int event, void *, int, int) {
    if (event == kEventCommit)
        ResetController();
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
