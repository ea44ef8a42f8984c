// The panel without a window: the program's own main panel, loaded on Qt's offscreen
// platform and never shown, worked as the operator's clicks work it. What the panel writes
// to its status line goes to standard error, as the operator reads it off the panel; how
// each step ended comes back as its result. A command is one job of the panel's line,
// run by the event loop until it ends.
#pragma once

#include "app.h"
#include "job.h"
#include "options.h"
#include "status.h"

#include <memory>
#include <string>

namespace sim {
class PtyHost;
}

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
// The port set-up's outcome on COM com: a port that will not open named with the diagnosis.
Outcome SetUpOutcome(int com, const status::Outcome &outcome);

class Session {
  public:
    Session();
    ~Session();
    Session(const Session &)            = delete;
    Session &operator=(const Session &) = delete;

    // Starts the engine offscreen, the simulator when asked, the port table and, unless
    // panel is false, the panel and its start values. The failure, or empty.
    std::string Start(const Options &options, bool panel = true);
    void Stop();
    app::Program &Program() { return *program_; }
    com232::Line &Line() { return program_->Line(); }
    // Runs command as the job of the panel's line, with the event loop, until it ends.
    void Run(job::Task<void> command);

    // The port set-up of start-up on COM com: open, echo check, parameter fetch, firmware.
    job::Task<Outcome> PortSetUp(int com);

    // --- Operator steps ---
    // The clicks on the buttons: a press's text where the button has one, then what it does.
    job::Task<status::Outcome> ClickSend();
    job::Task<status::Outcome> ClickGet();
    job::Task<status::Outcome> ClickTeach();
    job::Task<status::Outcome> ClickReset();
    // Switches the target radio button of RAM, EEPROM or DATFILE on, as its click does.
    void ChooseTarget(com232::Target target);
    // Selects RAW or NORM in the graph-source ring.
    void ChooseSource(com232::GraphSource source);
    // The path every file dialog answers with from now on.
    void AnswerDialogsWith(const std::string &path) { dialogPath_ = path; }
    // Waits a while, as the operator does before the next click.
    job::Task<void> Pause(double seconds);

    // The text the status line shows last.
    const std::string &LastStatus() const { return lastStatus_; }
    // What a step did beside its status texts, "rmx7ctl: <text>" on standard error, left
    // out with --quiet as they are; a warning (what is sent differs from what was asked) also
    // then.
    void Note(const std::string &text) const;
    static void Warn(const std::string &text);
    // Leaves the status texts out of standard error, or lets them in again.
    void SetQuiet(bool quiet) { quiet_ = quiet; }
    // A status text as the panel's status line would show it: standard error and LastStatus.
    void OnStatus(const char *text);

  private:
    std::string lastStatus_;
    bool quiet_ = false;
    std::string dialogPath_;
    std::unique_ptr<sim::PtyHost> simulator_;
    bool engine_ = false;
    int panel_   = 0;
    std::unique_ptr<app::Program> program_;
};

} // namespace ctl
