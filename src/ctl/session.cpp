// The panel without a window.
#include "session.h"

#include "app.h"
#include "com232.h"
#include "gui.h"
#include "platform/files/project_dir.h"
#include "platform/panel/dialogs.h"
#include "platform/panel/events.h"
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

// The texts with which the panel reports a silent or wrong controller, a time-out, or a
// lost line; everything else it shows is progress or success.
constexpr const char *kLineFailures[] = {
    "Timeout < 36 Bytes",
    "read error - not sync byte 0xAA!",
    "Timeout-RS-232...",
    "Timeout - reading firmware info!",
    "Error reading firmware-info!",
    "Timeout RS232-Line!",
    "Timeout RS-232!!",
    "Timeout-RS-232 while reading 64 data-words!",
};

struct SessionState {
    std::vector<std::string> status;
    bool quiet = false;
    std::string dialogPath;
    std::unique_ptr<sim::PtyHost> simulator;
    bool engine = false;
};

SessionState session;

void OnStatus(const char *text) {
    session.status.emplace_back(text);
    if (!session.quiet)
        std::fprintf(stderr, "%s\n", text);
}

int AnswerDialog(const char *, int, char *pathName) {
    std::snprintf(pathName, kPathSize, "%s", session.dialogPath.c_str());
    return kSelectNew;
}

int Panel() {
    return gui::vars.pHandle;
}

// A click on a radio button that is on switches it off, so a button that is on is left
// alone, unless the target went to RAM behind it (the port set-up does that).
void ClickRadio(CtrlCallbackPtr callback, int control, int target) {
    int on = 0;
    GetCtrlVal(Panel(), control, &on);
    if (on && com232::vars.target == target)
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
    GetProjectDir(gui::vars.proj_dir);
    app::InitVars();
    TraceSetStatusListener(OnStatus);
    SetFileSelectResponder(AnswerDialog);
    return {};
}

void StopPanel() {
    TraceSetStatusListener(nullptr);
    SetFileSelectResponder(nullptr);
    CloseCom(com232::vars.com);
    if (Panel() > 0)
        DiscardPanel(Panel());
    if (session.simulator)
        session.simulator->Stop();
    TraceClose();
    if (session.engine)
        StopEngine();
}

Outcome PortSetUp(int com) {
    const std::size_t mark = StatusMark();
    com232::vars.com       = com;
    com232::InitRS232(com);
    const std::string diagnosis = GetOpenDiagnosis();
    if (!diagnosis.empty()) {
        const std::string device = PortDevice(com);
        return {kExitPort, "cannot open COM" + std::to_string(com) +
                               (device.empty() ? "" : " (" + device + ")") + ": " + LastStatus() +
                               "\n" + diagnosis};
    }
    return LineOutcomeSince(mark);
}

void Click(CtrlCallbackPtr callback) {
    callback(Panel(), 0, kEventLeftClick, nullptr, 0, 0);
    callback(Panel(), 0, kEventCommit, nullptr, 0, 0);
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

std::size_t StatusMark() {
    return session.status.size();
}

Outcome LineOutcomeSince(std::size_t mark) {
    for (std::size_t i = mark; i < session.status.size(); ++i)
        for (const char *failure : kLineFailures)
            if (session.status[i] == failure)
                return {kExitLine, session.status[i]};
    return {};
}

int CountStatusSince(std::size_t mark, const std::string &text) {
    int count = 0;
    for (std::size_t i = mark; i < session.status.size(); ++i)
        count += session.status[i] == text;
    return count;
}

std::string LastStatus() {
    return session.status.empty() ? std::string() : session.status.back();
}

} // namespace ctl
