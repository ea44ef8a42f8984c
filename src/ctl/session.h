// The panel without a window: the program's own main panel, loaded on Qt's offscreen
// platform and never shown, worked as the operator's clicks work it. What the panel writes
// to its status line goes to standard error, as the operator reads it off the panel; how
// each step ended comes back as its result.
#pragma once

#include "options.h"
#include "status.h"

#include <string>

namespace ctl {

// How a step ended: its result, the exit code that result gives and, for a failure, what
// to tell.
struct Outcome {
    Outcome() = default;
    Outcome(status::Result how, std::string why);
    status::Result result = status::Result::Ok;
    int exitCode          = kExitOk;
    std::string error;
    bool ok() const { return exitCode == kExitOk; }
};

// The exit code of a result, and a step's result as the command line reports it: its
// detail (the port, the file and line, what to check), else its text.
int ExitCodeOf(status::Result result);
Outcome OutcomeOf(const status::Outcome &outcome);

// Starts the engine offscreen, the simulator when asked, the port table, the panel and
// its start values. The failure, or empty.
std::string StartPanel(const Options &options);
void StopPanel();

// The port set-up of start-up on COM com: open, echo check, parameter fetch, firmware.
Outcome PortSetUp(int com);

// --- Operator steps ---
// The clicks on the buttons: a press's text where the button has one, then what it does.
status::Outcome ClickSend();
status::Outcome ClickGet();
status::Outcome ClickTeach();
status::Outcome ClickReset();
// Switches the target radio button of RAM, EEPROM or DATFILE on, as its click does.
void ChooseTarget(int target);
// Selects RAW or NORM in the graph-source ring.
void ChooseSource(int source);
// The path every file dialog answers with from now on.
void AnswerDialogsWith(const std::string &path);
// Processes events for a while, as the panel does while the operator moves on.
void Pause(double seconds);

// The text the status line shows last.
std::string LastStatus();
// What a step did beside its status texts, "rmx7ctl: <text>" on standard error, left out
// with --quiet as they are; a warning (what is sent differs from what was asked) also then.
void Note(const std::string &text);
void Warn(const std::string &text);
// Leaves the status texts out of standard error, or lets them in again.
void SetQuiet(bool quiet);

} // namespace ctl
