// The panel without a window: the program's own main panel, loaded on Qt's offscreen
// platform and never shown, worked through the callbacks that the operator's clicks raise.
// What the panel writes to its status line goes to standard error and is kept, so that a
// command can tell how each of its steps ended, as the operator reads it off the panel.
#pragma once

#include "options.h"
#include "platform/panel/panel.h"

#include <cstddef>
#include <string>
#include <vector>

namespace ctl {

// How a step ended: exit code and, for a failure, what to tell.
struct Outcome {
    int exitCode = kExitOk;
    std::string error;
    bool ok() const { return exitCode == kExitOk; }
};

// Starts the engine offscreen, the simulator when asked, the port table, the panel and
// its start values. The failure, or empty.
std::string StartPanel(const Options &options);
void StopPanel();

// The port set-up of start-up on COM com: open, echo check, parameter fetch, firmware.
Outcome PortSetUp(int com);

// --- Operator steps ---
// A button click: left-click on press, commit on release.
void Click(CtrlCallbackPtr callback);
// Switches the target radio button of RAM, EEPROM or DATFILE on, as its click does.
void ChooseTarget(int target);
// Selects RAW or NORM in the graph-source ring.
void ChooseSource(int source);
// The path every file dialog answers with from now on.
void AnswerDialogsWith(const std::string &path);
// Processes events for a while, as the panel does while the operator moves on.
void Pause(double seconds);

// --- Status line ---
std::size_t StatusMark(); // where the texts of the next step begin
// The first failure text the panel showed since mark, as an outcome of kExitLine.
Outcome LineOutcomeSince(std::size_t mark);
// Texts shown since mark equal to text.
int CountStatusSince(std::size_t mark, const std::string &text);
std::string LastStatus();

} // namespace ctl
