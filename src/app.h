// The program's main module: entry, start values and every panel callback.
#pragma once

#include <map>
#include <string>

struct CallbackEntry;

namespace app {

constexpr int kTextSize = 64;

constexpr const char *kProgramName    = "K-VEX-RMX7-PIRA-Scope";
constexpr const char *kProgramVersion = "V2.0";

struct Vars {
    int stop_flag                 = 1; // 0 while the live loop runs
    char szSoftname[kTextSize]    = {};
    char szSoftversion[kTextSize] = {};
};

extern Vars vars;

// --- Entry ---
struct Options {
    std::map<int, std::string> ports; // --port N=DEVICE
    bool simulate = false;
    int variant   = 100;
    std::string trace; // --trace FILE, "-" for stderr
    std::string view;  // --view FILE: only the viewer, on that recording
    bool help    = false;
    bool version = false;
    std::string error; // not empty: the command line is wrong
};

Options ParseCommandLine(int argc, char **argv);
// Takes argv[i] when it is an option every program of the project shares (--port,
// --simulate, --trace), moving i past a value it takes; false when it is none of them. A
// wrong value goes into options.error.
bool ParseSharedOption(int argc, char **argv, int &i, Options &options);
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
// Registers the callbacks and loads the main panel into gui::vars.pHandle; the handle,
// negative when the panel file cannot be loaded.
int LoadMainPanel();
// Lists the port table in the COM-port ring, COM1 selected.
void FillPortRing();
// Lists it again after a rescan, keeping the selected item.
void RefreshPortRing();
void InitVars();

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
// Asks for a recording and opens it in a viewer window; the status line says why not.
int CC_BTNViewRecording(int panel, int control, int event, void *callbackData, int eventData1,
                        int eventData2);

} // namespace app
