// Parameter transfer: send, get, teach, reset and the transfer target.
#include "app.h"

#include "com232.h"
#include "gui.h"
#include "platform/panel/events.h"
#include "platform/panel/panel.h"
#include "platform/serial/serial.h"
#include "status.h"
#include "ui.h"

namespace app {

namespace {

using com232::Command;
using com232::Target;
using com232::WaitOutcome;
using com232::WaitRule;
using status::Result;

constexpr double kTeachTimeout = 1.5;
constexpr double kResetTimeout = 1.5;

// Teach and reset read the clock before they sleep and judge that reading after it, so a
// reply in the last sleep does not save them.
constexpr WaitRule kCommandWait{
    .seconds = kTeachTimeout, .expiresAtBoundary = true, .judgeAfterSleep = true};
static_assert(kTeachTimeout == kResetTimeout);

Program &ProgramOf(void *callbackData) {
    return *static_cast<Program *>(callbackData);
}

// The target buttons are one exclusive choice with RAM as the fallback. Switching a
// button on writes it, the target, then the other two; switching the one that was on
// off falls back to RAM.
void SelectTarget(Program &program, int control, Target target, int firstOther, int secondOther) {
    const int panel = program.PanelHandle();
    int on          = 0;
    GetCtrlVal(panel, control, &on);
    if (on) {
        SetCtrlVal(panel, control, 1);
        program.Line().SetTarget(target);
        SetCtrlVal(panel, firstOther, 0);
        SetCtrlVal(panel, secondOther, 0);
    } else {
        program.Line().SetTarget(Target::RAM);
        SetCtrlVal(panel, ui::RBTRam, 1);
    }
}

} // namespace

Outcome Program::Explained(const Outcome &outcome) {
    // A cancelled dialog did nothing, and says nothing.
    if (outcome.result != Result::Cancelled)
        panel_.Explain(outcome.detail);
    return outcome;
}

// Flushes both queues and writes a request carrying the panel's current values.
static bool SendPanelSet(Program &program, Command command) {
    program.Line().FlushBoth();
    program.Panel().GetPanelValues();
    return program.Line().SendRequest(command);
}

job::Task<Outcome> Program::SendParameters() {
    panel_.ShowStatus(status::kTransmit);
    if (line_.GetTarget() == Target::DATFILE) {
        if (panel_.SelectParameterFileForSave() <= 0)
            co_return Outcome{Result::Cancelled, {}};
        co_return Explained(panel_.SendParaToFile());
    }
    line_.ReopenLostPort();
    panel_.GetPanelValues();
    // No reply is awaited; an answer, if any, is taken in by the receive callback.
    if (!line_.SendRequest(line_.GetTarget() == Target::EEPROM ? Command::WriteEeprom
                                                               : Command::WriteRam))
        co_return Explained({Result::WriteFailed,
                             "the parameter set could not be written to the port",
                             GetLostDiagnosis(line_.Port())});
    // The controller holds the panel's reference now, not the one it taught.
    panel_.MarkTaught(false);
    panel_.ShowStatus(status::kTransmitOk);
    co_return Explained({Result::Ok, status::kTransmitOk,
                         status::ParametersSent(com232::MemoryName(line_.GetTarget()))});
}

job::Task<Outcome> Program::GetParameters() {
    Outcome outcome;
    bool read = false;
    if (line_.GetTarget() == Target::DATFILE) {
        outcome = panel_.ReadParaFromFile();
    } else {
        line_.ReopenLostPort();
        const com232::ParameterRead fetched = co_await line_.ReadParameterWords(line_.GetTarget());
        if (fetched.words) {
            line_.SetParameterSet(com232::ParametersOf(*fetched.words));
            read = true;
        }
        outcome = fetched.outcome;
    }
    // Also after a time-out or a failed load: the panel shows the set as it stands.
    panel_.SetPanelValues();
    if (read)
        panel_.NoteReadFromController();
    co_return Explained(outcome);
}

job::Task<Outcome> Program::TeachReference() {
    line_.ReopenLostPort();
    if (SendPanelSet(*this, Command::Teach))
        panel_.ShowStatus(status::kLineOk);
    const WaitOutcome wait = co_await line_.WaitForReply(kCommandWait, Timer());
    // A time-out judged at exactly its time still counts as taught. Only an answer shows that
    // the controller's reference may now differ from the panel's, also one in the last sleep
    // that came too late for the text.
    const bool answered = wait.reply.has_value();
    teachAnswered_      = answered;
    if (answered)
        panel_.MarkTaught(true);
    if (wait.elapsed <= kTeachTimeout) {
        panel_.ShowStatus(status::kTeachActivated);
        co_return Explained({Result::Ok, status::kTeachActivated, answered ? status::kTaught : ""});
    }
    panel_.ShowStatus(status::kNoCommandReply);
    co_return Explained(
        {Result::NoReply, status::kNoCommandReply, line_.NoAnswerDetail(wait.elapsed)});
}

job::Task<Outcome> Program::ResetController() {
    line_.ReopenLostPort();
    if (SendPanelSet(*this, Command::Reset))
        panel_.ShowStatus(status::kLineOk);
    const WaitOutcome wait = co_await line_.WaitForReply(kCommandWait, Timer());
    // The fetch has a wait of its own: once the reply came, no time-out text of the reset
    // follows, however long the fetch took.
    if (wait.replied()) {
        Outcome fetched = co_await line_.PushGET(Target::RAM);
        if (fetched.ok())
            fetched.detail = status::kRamReloaded;
        co_return Explained(fetched);
    }
    if (wait.elapsed > kResetTimeout) {
        panel_.ShowStatus(status::kNoCommandReply);
        co_return Explained(
            {Result::NoReply, status::kNoCommandReply, line_.NoAnswerDetail(wait.elapsed)});
    }
    co_return Explained({Result::NoReply, {}, line_.NoAnswerDetail(wait.elapsed)});
}

int CC_BTNSend(int, int, int event, void *callbackData, int, int) {
    if (event == kEventLeftClick) {
        Program &program = ProgramOf(callbackData);
        program.Queue(program.SendParameters());
    }
    return 0;
}

int CC_BTNGet(int, int, int event, void *callbackData, int, int) {
    Program &program = ProgramOf(callbackData);
    if (event == kEventLeftClick)
        program.Panel().ShowStatus(status::kReceive);
    else if (event == kEventCommit)
        program.Queue(program.GetParameters());
    return 0;
}

int CC_ButtonTeach(int, int, int event, void *callbackData, int, int) {
    Program &program = ProgramOf(callbackData);
    if (event == kEventLeftClick)
        program.Panel().ShowStatus(status::kTeachPressed);
    else if (event == kEventCommit)
        program.Queue(program.TeachReference());
    return 0;
}

int CC_ButtonReset(int, int, int event, void *callbackData, int, int) {
    if (event == kEventCommit) {
        Program &program = ProgramOf(callbackData);
        program.Queue(program.ResetController());
    }
    return 0;
}

int CC_RBTRam(int, int control, int event, void *callbackData, int, int) {
    if (event == kEventValueChanged)
        SelectTarget(ProgramOf(callbackData), control, Target::RAM, ui::RBTEeprom, ui::RBTFile);
    return 0;
}

int CC_RBTEeprom(int, int control, int event, void *callbackData, int, int) {
    if (event == kEventValueChanged)
        SelectTarget(ProgramOf(callbackData), control, Target::EEPROM, ui::RBTRam, ui::RBTFile);
    return 0;
}

int CC_RBTFile(int, int control, int event, void *callbackData, int, int) {
    if (event == kEventValueChanged)
        SelectTarget(ProgramOf(callbackData), control, Target::DATFILE, ui::RBTEeprom, ui::RBTRam);
    return 0;
}

} // namespace app
