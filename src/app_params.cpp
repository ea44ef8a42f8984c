// Parameter transfer: send, get, teach, reset and the transfer target.
#include "app.h"

#include "com232.h"
#include "gui.h"
#include "platform/panel/events.h"
#include "platform/panel/panel.h"
#include "platform/serial/ports.h"
#include "platform/serial/serial.h"
#include "status.h"
#include "steps.h"
#include "ui.h"

namespace app {

namespace {

using com232::Command;
using com232::Target;
using status::Result;

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

void Program::ShowLineHint(const Outcome &outcome) {
    const int port           = line_.Port();
    const std::string device = PortDevice(port);
    switch (outcome.result) {
    case Result::Ok:
        panel_.ShowHint({});
        return;
    case Result::NoReply:
    case Result::WriteFailed:
        panel_.ShowHint(*GetLostDiagnosis(port) ? status::LostLineHint(port, device)
                                                : status::SilentLineHint(port, device));
        return;
    case Result::BadReply:
        panel_.ShowHint(status::WrongAnswerHint(port, device));
        return;
    case Result::PortFailed:
        panel_.ShowHint(status::PortFailedHint(port, device));
        return;
    default: // a file or a dialog: the line is as it was
        return;
    }
}

Outcome Program::Explained(const Outcome &outcome, bool onLine) {
    // A cancelled dialog did nothing, and says nothing.
    if (outcome.result != Result::Cancelled)
        panel_.Explain(outcome.detail);
    if (onLine)
        ShowLineHint(outcome);
    return outcome;
}

job::Task<Outcome> Program::SendParameters() {
    panel_.ShowStatus(status::kTransmit);
    if (line_.GetTarget() == Target::DATFILE) {
        if (panel_.SelectParameterFileForSave() <= 0)
            co_return Outcome{Result::Cancelled, {}};
        co_return Explained(panel_.SendParaToFile(), false);
    }
    panel_.GetPanelValues();
    const com232::Target target = line_.GetTarget();
    const Outcome sent          = steps::Send(line_, target, line_.ParameterSet());
    const com232::Words words   = com232::WordsOf(line_.ParameterSet());
    RecordWrite("send", target, words, sent);
    NoteKnown(target, sent.ok() ? std::optional(words) : std::nullopt);
    // The controller holds the panel's reference now, not the one it taught.
    if (sent.ok())
        panel_.MarkTaught(false);
    co_return Explained(sent);
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
            NoteKnown(line_.GetTarget(), fetched.words);
            read = true;
        }
        outcome = fetched.outcome;
    }
    // Also after a time-out or a failed load: the panel shows the set as it stands.
    panel_.SetPanelValues();
    if (read)
        panel_.NoteReadFromController();
    co_return Explained(outcome, line_.GetTarget() != Target::DATFILE);
}

job::Task<Outcome> Program::TeachReference() {
    panel_.GetPanelValues();
    const com232::Words words  = com232::WordsOf(line_.ParameterSet());
    const steps::Taught taught = co_await steps::Teach(line_);
    teachAnswered_             = taught.answered;
    RecordWrite("teach", com232::Target::RAM, words, taught.outcome);
    // The reference the controller taught itself is not known here.
    NoteKnown(com232::Target::RAM, std::nullopt);
    if (taught.answered)
        panel_.MarkTaught(true);
    co_return Explained(taught.outcome);
}

job::Task<Outcome> Program::ResetController() {
    panel_.GetPanelValues();
    const com232::Words words = com232::WordsOf(line_.ParameterSet());
    const Outcome reset       = co_await steps::Reset(line_);
    RecordWrite("reset", com232::Target::RAM, words, reset);
    NoteKnown(com232::Target::RAM,
              reset.ok() ? std::optional(com232::WordsOf(line_.ParameterSet())) : std::nullopt);
    co_return Explained(reset);
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
