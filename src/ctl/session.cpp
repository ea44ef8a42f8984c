// The panel without a window.
#include "session.h"

#include "app.h"
#include "com232.h"
#include "gui.h"
#include "lines.h"
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
#include <utility>

namespace ctl {

namespace {

// The press of a button, whose text says what comes.
void Press(app::Program &program, CtrlCallbackPtr callback) {
    callback(program.PanelHandle(), 0, kEventLeftClick, &program, 0, 0);
}

// A click on a radio button that is on switches it off, so a button that is on is left
// alone, unless the target went to RAM behind it (the port set-up does that).
void ClickRadio(app::Program &program, CtrlCallbackPtr callback, int control,
                com232::Target target) {
    const int panel = program.PanelHandle();
    int on          = 0;
    GetCtrlVal(panel, control, &on);
    if (on && program.Line().GetTarget() == target)
        return;
    if (on) {
        SetCtrlVal(panel, control, 0);
        callback(panel, control, kEventValueChanged, &program, 0, 0);
    }
    SetCtrlVal(panel, control, 1);
    callback(panel, control, kEventValueChanged, &program, 0, 0);
}

} // namespace

Session::Session() = default;

Session::~Session() {
    Stop();
}

void Session::OnStatus(const char *text) {
    // The panel writes some texts twice in a row (a step's own, then the set-up's end): a
    // reader of standard error sees each once.
    const bool repeated = lastStatus_ == text;
    lastStatus_         = text;
    if (!quiet_ && !repeated)
        std::fprintf(stderr, "%s\n", text);
}

std::string Session::Start(const Options &options, bool panel) {
    quiet_ = options.quiet;
    // The panel is never shown: the tool needs no display and opens no window.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Standard error carries the status texts and diagnostics a script reads; Qt's own
    // general warnings (no runtime folder under cron, say) stay out unless asked for.
    setenv("QT_LOGGING_RULES", "default.warning=false", 0);
    char *qtArguments[] = {const_cast<char *>("rmx7ctl"), nullptr};
    if (!StartEngine(1, qtArguments))
        return "cannot start the engine";
    engine_ = true;
    if (!options.shared.trace.empty() && !TraceOpen(options.shared.trace.c_str()))
        std::fprintf(stderr, "rmx7ctl: cannot write the trace to %s\n",
                     options.shared.trace.c_str());
    if (options.shared.simulate) {
        sim::HostOptions host;
        host.variant = options.shared.variant;
        simulator_   = std::make_unique<sim::PtyHost>();
        if (!simulator_->Start(host))
            return "cannot start the simulator";
        PortTableAdd(1, simulator_->SlavePath());
    }
    for (const auto &[number, device] : options.shared.ports)
        PortTableAdd(number, device);
    const auto lines = LinesOf(options);
    for (std::size_t i = 0; i < lines.size(); ++i)
        PortTableAdd(LineCom(i), lines[i].second);
    // Asking the system for its devices takes a good part of the start-up: only the port
    // table and a COM number not given on the command line need it.
    if (options.command == "ports" || (lines.empty() && PortDevice(options.com).empty()))
        PortTableScan();
    // The diagnoses of a port speak of the options, not of the panel's ring.
    SetDiagnosisForProgram(kDiagnosisCommandLine);
    SetFileSelectResponder([this](const char *, int, char *pathName) {
        std::snprintf(pathName, kPathSize, "%s", dialogPath_.c_str());
        return kSelectNew;
    });
    if (!panel) {
        TraceSetStatusListener([this](const char *text) { OnStatus(text); });
        return {};
    }
    panel_ = app::LoadMainPanel();
    if (panel_ < 0)
        return std::string("cannot load the panel file ") + ui::kPanelFile;
    char projectDir[kPathSize] = {};
    GetProjectDir(projectDir);
    program_ = std::make_unique<app::Program>(panel_, projectDir, options.com);
    // Each command records its writes as the command line's, with what it verified.
    program_->RecordPanelWrites(false);
    program_->InitVars();
    TraceSetStatusListener([this](const char *text) { OnStatus(text); });
    return {};
}

void Session::Stop() {
    TraceSetStatusListener(nullptr);
    SetFileSelectResponder(nullptr);
    if (program_)
        CloseCom(program_->Line().Port());
    program_.reset();
    if (panel_ > 0)
        DiscardPanel(panel_);
    panel_ = 0;
    if (simulator_)
        simulator_->Stop();
    simulator_.reset();
    TraceClose();
    if (engine_)
        StopEngine();
    engine_ = false;
}

void Session::Run(job::Task<void> command) {
    bool ended = false;
    Line().Queue([](job::Task<void> queued, bool &done) -> job::Task<void> {
        co_await queued;
        done = true;
        QuitUserInterface(0);
    }(std::move(command), ended));
    if (!ended)
        RunUserInterface();
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

Outcome SetUpOutcome(int com, const status::Outcome &outcome) {
    // The status text is on standard error already; the diagnosis says why in full.
    if (outcome.result != status::Result::PortFailed)
        return OutcomeOf(outcome);
    const std::string device    = PortDevice(com);
    const std::string diagnosis = GetOpenDiagnosis();
    return {status::Result::PortFailed,
            "cannot open COM" + std::to_string(com) + (device.empty() ? "" : " (" + device + ")") +
                (diagnosis.empty() ? ": " + outcome.text : "\n" + diagnosis)};
}

job::Task<Outcome> Session::PortSetUp(int com) {
    const status::Outcome outcome = co_await Program().SetUpPort(com);
    co_return SetUpOutcome(com, outcome);
}

job::Task<status::Outcome> Session::ClickSend() {
    co_return co_await Program().SendParameters();
}

job::Task<status::Outcome> Session::ClickGet() {
    Press(Program(), app::CC_BTNGet);
    co_return co_await Program().GetParameters();
}

job::Task<status::Outcome> Session::ClickTeach() {
    Press(Program(), app::CC_ButtonTeach);
    co_return co_await Program().TeachReference();
}

job::Task<status::Outcome> Session::ClickReset() {
    co_return co_await Program().ResetController();
}

void Session::ChooseTarget(com232::Target target) {
    if (target == com232::Target::EEPROM)
        ClickRadio(Program(), app::CC_RBTEeprom, ui::RBTEeprom, target);
    else if (target == com232::Target::DATFILE)
        ClickRadio(Program(), app::CC_RBTFile, ui::RBTFile, target);
    else
        ClickRadio(Program(), app::CC_RBTRam, ui::RBTRam, target);
}

void Session::ChooseSource(com232::GraphSource source) {
    const int panel = Program().PanelHandle();
    SetCtrlVal(panel, ui::RNGGraphSource, static_cast<int>(source));
    app::CC_RNGGraphSource(panel, ui::RNGGraphSource, kEventValueChanged, &Program(), 0, 0);
    app::CC_RNGGraphSource(panel, ui::RNGGraphSource, kEventCommit, &Program(), 0, 0);
}

job::Task<void> Session::Pause(double seconds) {
    co_await Line().Pause(seconds);
}

void Session::Note(const std::string &text) const {
    if (!quiet_)
        Warn(text);
}

void Session::Warn(const std::string &text) {
    std::fprintf(stderr, "rmx7ctl: %s\n", text.c_str());
}

} // namespace ctl
