// The panel without a window.
#include "session.h"

#include "app.h"
#include "com232.h"
#include "gui.h"
#include "platform/files/project_dir.h"
#include "platform/panel/dialogs.h"
#include "platform/panel/events.h"
#include "platform/panel/panel.h"
#include "platform/serial/ports.h"
#include "platform/serial/serial.h"
#include "platform/trace.h"
#include "pty_host.h"
#include "ui.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace ctl {

namespace {

struct SessionState {
    std::string lastStatus;
    bool quiet = false;
    std::string dialogPath;
    std::unique_ptr<sim::PtyHost> simulator;
    bool engine = false;
};

SessionState session;

// The panel writes some texts twice in a row (a step's own, then the set-up's end): a reader
// of standard error sees each once.
void OnStatus(const char *text) {
    const bool repeated = session.lastStatus == text;
    session.lastStatus  = text;
    if (!session.quiet && !repeated)
        std::fprintf(stderr, "%s\n", text);
}

int AnswerDialog(const char *, int, char *pathName) {
    std::snprintf(pathName, kPathSize, "%s", session.dialogPath.c_str());
    return kSelectNew;
}

int Panel() {
    return gui::Panel();
}

// The press of a button, whose text says what comes.
void Press(CtrlCallbackPtr callback) {
    callback(Panel(), 0, kEventLeftClick, nullptr, 0, 0);
}

// A click on a radio button that is on switches it off, so a button that is on is left
// alone, unless the target went to RAM behind it (the port set-up does that).
void ClickRadio(CtrlCallbackPtr callback, int control, int target) {
    int on = 0;
    GetCtrlVal(Panel(), control, &on);
    if (on && com232::Target() == target)
        return;
    if (on) {
        SetCtrlVal(Panel(), control, 0);
        callback(Panel(), control, kEventValueChanged, nullptr, 0, 0);
    }
    SetCtrlVal(Panel(), control, 1);
    callback(Panel(), control, kEventValueChanged, nullptr, 0, 0);
}

} // namespace

std::string StartPanel(const Options &options) {
    session.quiet = options.quiet;
    // The panel is never shown: the tool needs no display and opens no window.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Standard error carries the status texts and diagnostics a script reads; Qt's own
    // general warnings (no runtime folder under cron, say) stay out unless asked for.
    setenv("QT_LOGGING_RULES", "default.warning=false", 0);
    char *qtArguments[] = {const_cast<char *>("rmx7ctl"), nullptr};
    if (!StartEngine(1, qtArguments))
        return "cannot start the engine";
    session.engine = true;
    if (!options.shared.trace.empty() && !TraceOpen(options.shared.trace.c_str()))
        std::fprintf(stderr, "rmx7ctl: cannot write the trace to %s\n",
                     options.shared.trace.c_str());
    if (options.shared.simulate) {
        sim::HostOptions host;
        host.variant      = options.shared.variant;
        session.simulator = std::make_unique<sim::PtyHost>();
        if (!session.simulator->Start(host))
            return "cannot start the simulator";
        PortTableAdd(1, session.simulator->SlavePath());
    }
    for (const auto &[number, device] : options.shared.ports)
        PortTableAdd(number, device);
    // Asking the system for its devices takes a good part of the start-up: only the port
    // table and a COM number not given on the command line need it.
    if (options.command == "ports" || PortDevice(options.com).empty())
        PortTableScan();
    if (app::LoadMainPanel() < 0)
        return std::string("cannot load the panel file ") + ui::kPanelFile;
    char projectDir[kPathSize] = {};
    GetProjectDir(projectDir);
    gui::SetProjectDir(projectDir);
    app::InitVars();
    // The diagnoses of a port speak of the options, not of the panel's ring.
    SetDiagnosisForProgram(kDiagnosisCommandLine);
    TraceSetStatusListener(OnStatus);
    SetFileSelectResponder(AnswerDialog);
    return {};
}

void StopPanel() {
    TraceSetStatusListener(nullptr);
    SetFileSelectResponder(nullptr);
    CloseCom(com232::Port());
    if (Panel() > 0)
        DiscardPanel(Panel());
    if (session.simulator)
        session.simulator->Stop();
    TraceClose();
    if (session.engine)
        StopEngine();
}

int ExitCodeOf(status::Result result) {
    switch (result) {
    case status::Result::Ok:
        return kExitOk;
    case status::Result::PortFailed:
        return kExitPort;
    case status::Result::NoReply:
    case status::Result::BadReply:
    case status::Result::WriteFailed:
        return kExitLine;
    case status::Result::FileFailed:
    case status::Result::Cancelled:
        return kExitFile;
    case status::Result::Differs:
        return kExitDiffers;
    case status::Result::Refused:
        return kExitUsage;
    }
    return kExitFailure;
}

Outcome::Outcome(status::Result how, std::string why)
    : result(how), exitCode(ExitCodeOf(how)), error(std::move(why)) {}

Outcome OutcomeOf(const status::Outcome &outcome) {
    if (outcome.ok())
        return {};
    return {outcome.result, outcome.detail.empty() ? outcome.text : outcome.detail};
}

Outcome PortSetUp(int com) {
    com232::SelectPort(com);
    const status::Outcome outcome = com232::InitRS232(com);
    // The status text is on standard error already; the diagnosis says why in full.
    if (outcome.result == status::Result::PortFailed) {
        const std::string device    = PortDevice(com);
        const std::string diagnosis = GetOpenDiagnosis();
        return {status::Result::PortFailed,
                "cannot open COM" + std::to_string(com) +
                    (device.empty() ? "" : " (" + device + ")") +
                    (diagnosis.empty() ? ": " + outcome.text : "\n" + diagnosis)};
    }
    return OutcomeOf(outcome);
}

status::Outcome ClickSend() {
    return app::SendParameters();
}

status::Outcome ClickGet() {
    Press(app::CC_BTNGet);
    return app::GetParameters();
}

status::Outcome ClickTeach() {
    Press(app::CC_ButtonTeach);
    return app::TeachReference();
}

status::Outcome ClickReset() {
    return app::ResetController();
}

void ChooseTarget(int target) {
    if (target == com232::EEPROM)
        ClickRadio(app::CC_RBTEeprom, ui::RBTEeprom, target);
    else if (target == com232::DATFILE)
        ClickRadio(app::CC_RBTFile, ui::RBTFile, target);
    else
        ClickRadio(app::CC_RBTRam, ui::RBTRam, target);
}

void ChooseSource(int source) {
    SetCtrlVal(Panel(), ui::RNGGraphSource, source);
    app::CC_RNGGraphSource(Panel(), ui::RNGGraphSource, kEventValueChanged, nullptr, 0, 0);
    app::CC_RNGGraphSource(Panel(), ui::RNGGraphSource, kEventCommit, nullptr, 0, 0);
}

void AnswerDialogsWith(const std::string &path) {
    session.dialogPath = path;
}

void Pause(double seconds) {
    const double end = Timer() + seconds;
    while (Timer() < end)
        ProcessSystemEvents();
}

std::string LastStatus() {
    return session.lastStatus;
}

void Note(const std::string &text) {
    if (!session.quiet)
        Warn(text);
}

void Warn(const std::string &text) {
    std::fprintf(stderr, "rmx7ctl: %s\n", text.c_str());
}

void SetQuiet(bool quiet) {
    session.quiet = quiet;
}

} // namespace ctl
