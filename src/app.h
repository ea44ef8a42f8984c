// The program's main module: entry, start values and every panel callback.
#pragma once

#include "com232.h"
#include "publish.h"
#include "status.h"

#include <map>
#include <string>

namespace app {

using status::Outcome;

// --- Entry ---
struct Options {
    std::map<int, std::string> ports; // --port N=DEVICE
    bool simulate = false;
    int variant   = 100;
    std::string trace;           // --trace FILE, "-" for stderr
    std::string view;            // --view FILE: only the viewer, on that recording
    publish::Given publishing;   // the publisher's options and --config, as given
    publish::Settings publisher; // what they come to (FinishSharedOptions)
    bool help    = false;
    bool version = false;
    std::string error; // not empty: the command line is wrong
};

Options ParseCommandLine(int argc, char **argv);
// Takes argv[i] when it is an option every program of the project shares (--port,
// --simulate, --trace, the publisher's), moving i past a value it takes; false when it is
// none of them. A wrong value goes into options.error.
bool ParseSharedOption(int argc, char **argv, int &i, Options &options);
// What the shared options may not say together (--simulate and a device for COM1); the
// error, or empty.
std::string CheckSharedOptions(const Options &options);
// Reads the publisher's config and options into options.publisher; the config's device
// becomes COM1's unless the command line gave COM1 one. A wrong setting goes into
// options.error.
void FinishSharedOptions(Options &options);
const char *UsageText();
// The whole program: 0 after a normal end, -1 when the display cannot be opened or the
// panel file cannot be loaded, 2 for a wrong command line; with --view as ViewOnly.
int Main(int argc, char **argv);

// `--view FILE`: the recording in a viewer window and nothing else, until it is closed; 0,
// 1 when the file is not a recording (the reason on standard error), -1 without a display.
int ViewOnly(const std::string &path, int argc, char **argv);
// Opens a recording in a viewer window; empty, or why it is not shown ("bad.csv: line 7:
// ..."). closed is called when the operator closes the window.
std::string ViewRecordingFile(const std::string &path, void (*closed)() = nullptr);

// --- Start-up (also used by the tests) ---
// Registers the callbacks, loads the main panel and makes it the panel of every module;
// the handle, negative when the panel file cannot be loaded.
int LoadMainPanel();
// Lists the port table in the COM-port ring, COM1 selected.
void FillPortRing();
// Lists it again after a rescan, keeping the selected item; says in the status line's
// tooltip when the device of the port in use has gone.
void RefreshPortRing();
// Start values of every module, the logo band, the panel's parameter values, the
// histories.
void InitVars();
// Shows the panel and runs its event loop until the panel is closed, by the operator or
// by the system: SIGTERM, SIGHUP and SIGINT close it as the window's close does, so the run
// stops, its recording is written to the last row and the port is closed.
void RunPanel();

// --- What the buttons do ---
// Each returns how it ended beside the text it showed; the callbacks below call them on
// their events, and the command-line tool calls them as the operator's clicks would.
Outcome SendParameters(); // Send: the panel's set to the target
Outcome GetParameters();  // Get: the set from the target onto the panel
Outcome TeachReference();
Outcome ResetController();
// Run: live requests until Stop, the panel's close or the time-out; Ok when stopped.
Outcome RunLive();
void StopRun();
bool RunGoing();
// Data: the curve of the graph source, drawn with its threshold and reference lines.
Outcome CaptureCurve();
// Each of the above puts its outcome's detail (which file, which port and what to check)
// into the status line's tooltip and the trace as it ends, and for a step on the line
// (onLine) the short line beside the status text; a lost port whose device is back is
// opened again first (com232::ReopenLostPort). This is that last step.
Outcome Explained(const Outcome &outcome, bool onLine = true);
// The short line beside the status text after a step on the line: the port and what to
// check when it failed (no answer, the device gone, another answer, no open), none once it
// went well.
void ShowLineHint(const Outcome &outcome);

// The run loop ends at its next check; nothing else of Stop is done (the panel's close).
void EndRunAtNextCheck();
// The live view's start values: no run going, the NORM chart fed, no capture levels yet.
void InitLiveVars();

// --- Consumers of the live replies of a run ---
// Each is called with every reply the run shows, after the panel and the recording took it
// and before the next request is built; Stop pressed there sends nothing more.
using LiveListener = void (*)(const com232::LiveReply &reply, double now);
void AddLiveListener(LiveListener listener);
void RemoveLiveListener(LiveListener listener);

// --- Panel callbacks ---
int CC_PANEL(int panel, int event, void *callbackData, int eventData1, int eventData2);
int CC_DropDCom(int panel, int control, int event, void *callbackData, int eventData1,
                int eventData2);
// Parameter transfer.
int CC_BTNSend(int panel, int control, int event, void *callbackData, int eventData1,
               int eventData2);
int CC_BTNGet(int panel, int control, int event, void *callbackData, int eventData1,
              int eventData2);
int CC_ButtonTeach(int panel, int control, int event, void *callbackData, int eventData1,
                   int eventData2);
int CC_ButtonReset(int panel, int control, int event, void *callbackData, int eventData1,
                   int eventData2);
int CC_RBTRam(int panel, int control, int event, void *callbackData, int eventData1,
              int eventData2);
int CC_RBTEeprom(int panel, int control, int event, void *callbackData, int eventData1,
                 int eventData2);
int CC_RBTFile(int panel, int control, int event, void *callbackData, int eventData1,
               int eventData2);
// Live view and data capture.
int CC_BTNRun(int panel, int control, int event, void *callbackData, int eventData1,
              int eventData2);
int CC_BTNStop(int panel, int control, int event, void *callbackData, int eventData1,
               int eventData2);
int CC_Timer50ms(int panel, int control, int event, void *callbackData, int eventData1,
                 int eventData2);
int CC_RNGGraphSource(int panel, int control, int event, void *callbackData, int eventData1,
                      int eventData2);
int CC_BTNData(int panel, int control, int event, void *callbackData, int eventData1,
               int eventData2);
// Recording of a run and saving of the curve and the chart.
int CC_CHKRecord(int panel, int control, int event, void *callbackData, int eventData1,
                 int eventData2);
int CC_BTNSaveCurve(int panel, int control, int event, void *callbackData, int eventData1,
                    int eventData2);
int CC_BTNSaveChart(int panel, int control, int event, void *callbackData, int eventData1,
                    int eventData2);
// Asks where, reads RAM and EEPROM as Get does and writes the commissioning report.
int CC_BTNReport(int panel, int control, int event, void *callbackData, int eventData1,
                 int eventData2);
// Asks for a recording and opens it in a viewer window; the status line says why not.
int CC_BTNViewRecording(int panel, int control, int event, void *callbackData, int eventData1,
                        int eventData2);

} // namespace app
