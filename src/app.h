// The program's main module: entry, start values and every panel callback. A Program is the
// panel of one line: it holds the line, the panel module, the recording, the exports and,
// when it publishes, the plant link, and its callbacks queue the line's jobs.
#pragma once

#include "com232.h"
#include "exports.h"
#include "gui.h"
#include "job.h"
#include "plant/audit_writer.h"
#include "plant/plant_seat.h"
#include "publisher.h"
#include "record.h"
#include "status.h"

#include <map>
#include <memory>
#include <optional>
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
    std::string plant;           // --plant URL: only the plant window, on that broker
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

// `--plant URL`: the plant window on that broker and nothing else, until it is closed; 0,
// 2 when a setting is wrong (the reason on standard error), -1 without a display.
int PlantOnly(const Options &options, int argc, char **argv);

// Registers the callbacks and loads the main panel; the handle, negative when the panel
// file cannot be loaded. A Program then takes it.
int LoadMainPanel();

class Program {
  public:
    // The program on the loaded main panel, for the line on COM port, with its files in
    // projectDir; the panel's callbacks get it as their callback data from now on.
    Program(int panel, std::string projectDir, int port = 1);
    ~Program();
    Program(const Program &)            = delete;
    Program &operator=(const Program &) = delete;

    com232::Line &Line() { return line_; }
    gui::Panel &Panel() { return panel_; }
    record::Recorder &Recorder() { return recorder_; }
    exports::Exports &Exports() { return exports_; }
    int PanelHandle() const { return panel_.Handle(); }
    // Where recordings, exports and the dialogs go from now on.
    void SetProjectDir(const std::string &directory);
    // Send, Teach and Reset append their records to the project folder's audit trail as the
    // panel's (by default); off where the caller records the writes it asks for itself.
    void RecordPanelWrites(bool on) { recordWrites_ = on; }

    // --- Start-up ---
    // Start values of every module, the logo band, the panel's parameter values, the
    // histories.
    void InitVars();
    // Lists the port table in the COM-port ring, COM1 selected.
    void FillPortRing();
    // Lists it again after a rescan, keeping the selected item; says in the status line's
    // tooltip when the device of the port in use has gone.
    void RefreshPortRing();
    // Publishes every reply of a run to the broker of settings, and shows the broker's state
    // beside Record; false with error when a setting is wrong.
    bool StartPublishing(const publish::Settings &settings, std::string &error);
    void StopPublishing();
    // The plant link while it publishes, else nullptr.
    publish::Publisher *Publisher() { return publisher_.get(); }
    // The broker the panel publishes to, for the Plant button: it is operable from now on,
    // its tooltip naming the broker.
    void OfferPlant(const publish::Settings &publisher);
    // Opens the plant window on that broker; the status line's tooltip says why it cannot.
    void OpenPlant();
    bool PlantOpen() const { return plant_.IsOpen(); }
    // Shows the panel and runs its event loop until the panel is closed, by the operator or
    // by the system: SIGTERM, SIGHUP and SIGINT end the run after the reply to its request
    // on the line came (a row of its recording), then close the panel as its close does.
    void RunPanel();

    // --- What the buttons do ---
    // Each is a job of the line: a callback queues it, the command-line tool awaits it as the
    // operator's click would. Each returns how it ended beside the text it showed.
    job::Task<Outcome> SetUpPort(int port); // the port set-up, as at start-up
    job::Task<Outcome> SendParameters();    // Send: the panel's set to the target
    job::Task<Outcome> GetParameters();     // Get: the set from the target onto the panel
    job::Task<Outcome> TeachReference();
    // The last teach got an answer, in time for its text or not.
    bool TeachAnswered() const { return teachAnswered_; }
    job::Task<Outcome> ResetController();
    // Run: live requests until Stop, the panel's close or the time-out; Ok when stopped. A
    // run asked for when Stops() counted stopsWhenAsked does not start once Stop came since.
    job::Task<Outcome> RunLive(int stopsWhenAsked = -1);
    void StopRun();
    int Stops() const { return stops_; }
    bool RunGoing() const { return !stop_flag_; }
    // Data: the curve of the graph source, drawn with its threshold and reference lines.
    job::Task<Outcome> CaptureCurve();
    // Asks for the operator's details and the file, then reads RAM and EEPROM as Get does
    // and writes the commissioning report.
    job::Task<Outcome> MakeReport();
    // Each of the above puts its outcome's detail (which file, which port and what to check)
    // into the status line's tooltip and the trace as it ends, and for a step on the line
    // (onLine) the short line beside the status text; a lost port whose device is back is
    // opened again first (Line::ReopenLostPort). This is that last step.
    Outcome Explained(const Outcome &outcome, bool onLine = true);
    // The short line beside the status text after a step on the line: the port and what to
    // check when it failed (no answer, the device gone, another answer, no open), none once
    // it went well.
    void ShowLineHint(const Outcome &outcome);
    // The run loop ends at its next check; nothing else of Stop is done (the panel's close).
    void EndRunAtNextCheck();
    // The ends of the panel: the operator's close now; the system's after the exchange.
    void Close();
    void CloseAfterExchange();
    // Queues one of the jobs above for a callback: its outcome is on the panel already.
    void Queue(job::Task<Outcome> step);

    // What the recording and save buttons do.
    void SetRecording(bool on);
    Outcome SaveCurve();
    Outcome SaveChart();
    // The save, view and report buttons are dimmed while a run goes (their dialogs would
    // stall the line), Save curve also until there is a capture.
    void DimForRun(bool running);
    // Shows the strip chart the graph-source switch names and feeds it from the next reply.
    void ShowChosenChart();

  private:
    // --- The audit trail of the panel's writes (app_audit.cpp) ---
    // Appends the record of a write to the project folder's trail, once the exchange is
    // over: the words the request carried and, where this program knows them, those they
    // replaced.
    void RecordWrite(const char *verb, com232::Target target, const com232::Words &words,
                     const Outcome &outcome);
    // What a memory of the controller holds, as this program last read or wrote it.
    void NoteKnown(com232::Target target, std::optional<com232::Words> words);
    // The line's name in the trail: the publisher's, else the host's and the port's.
    std::string LineName() const;

    static com232::LiveListener ChartListener(Program &program);
    void ShowLiveReply(const com232::LiveReply &reply);
    void NoteOutcome(const Outcome &outcome);
    void NoteRecordingFile(const std::string &line);
    std::string AskForPath(const char *title, com232::GraphSource source, const char *extension);

    com232::Line line_;
    gui::Panel panel_;
    int chartListener_; // the first listener: a reply is drawn before it is recorded
    record::Recorder recorder_;
    exports::Exports exports_;
    std::unique_ptr<publish::Publisher> publisher_;
    std::string recordTip_; // the Record box's own tooltip, from the panel file
    std::optional<publish::Settings> plantBroker_; // the Plant button's; none: it is dimmed
    plant::PlantSeat plant_;
    std::unique_ptr<plant::AuditWriter> trail_; // made at the first write
    bool recordWrites_ = true;                  // Send, Teach and Reset append their records
    std::optional<com232::Words> knownRam_, knownEeprom_; // none: not known

    bool stop_flag_           = true; // no run goes, or it ends at its next check
    com232::GraphSource type_ = com232::GraphSource::Norm; // the chart the run feeds
    // The controller's switching levels of the last capture whose live request was answered.
    std::uint16_t upTHR_ = 0, loTHR_ = 0;
    bool closing_       = false;
    bool teachAnswered_ = false;
    int stops_          = 0; // Stop pressed so often since the start
};

// --- Panel callbacks: their callback data is the Program ---
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
// Opens the plant window on the broker the panel publishes to; dimmed while it publishes
// nowhere.
int CC_BTNPlant(int panel, int control, int event, void *callbackData, int eventData1,
                int eventData2);

} // namespace app
