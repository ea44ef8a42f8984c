// Live view: the run, Stop, the timer tick, the graph-source switch, the data curve capture,
// and the recording, saving and report of what they show.
#include "app.h"

#include "com232.h"
#include "exports.h"
#include "gui.h"
#include "plant/approved_set.h"
#include "plant/audit.h"
#include "platform/files/remembered.h"
#include "platform/panel/dialogs.h"
#include "platform/panel/events.h"
#include "platform/panel/panel.h"
#include "platform/serial/serial.h"
#include "publish.h"
#include "record.h"
#include "report.h"
#include "steps.h"
#include "ui.h"

#include <algorithm>

namespace app {

namespace {

using com232::Command;
using com232::GraphSource;
using status::Result;

Program &ProgramOf(void *callbackData) {
    return *static_cast<Program *>(callbackData);
}

void SetVisible(int panel, int control, int visible) {
    SetCtrlAttribute(panel, control, kAttrVisible, visible);
}

void SetDimmed(int panel, int control, int dimmed) {
    SetCtrlAttribute(panel, control, kAttrDimmed, dimmed);
}

// The report form: who made the report, of which unit, where, and a note. The last entries
// are remembered for the next report; the operator is the login name the first time.
constexpr const char *kRememberGroup = "report";
constexpr std::size_t kOperatorField = 0;
constexpr std::size_t kUnitField     = 1;
constexpr std::size_t kStationField  = 2;
constexpr std::size_t kNoteField     = 3;
constexpr const char *kFormKeys[]    = {"operator", "unit_id", "station", "note"};

std::vector<FormField> RememberedForm() {
    std::vector<FormField> form = {{"Operator", {}},
                                   {"Unit id (serial number or asset tag)", {}},
                                   {"Station", {}},
                                   {"Note", {}, true}};
    for (std::size_t k = 0; k < form.size(); ++k)
        form[k].value = RememberedValue(kRememberGroup, kFormKeys[k]);
    if (form[kOperatorField].value.empty())
        form[kOperatorField].value = report::LoginName();
    return form;
}

void RememberForm(const std::vector<FormField> &form) {
    for (std::size_t k = 0; k < form.size(); ++k)
        RememberValue(kRememberGroup, kFormKeys[k], form[k].value);
}

} // namespace

void Program::ShowChosenChart() {
    const int panel = panel_.Handle();
    if (panel_.GraphSourceShown() == GraphSource::Raw) {
        SetVisible(panel, ui::ChartRAW, 1);
        SetVisible(panel, ui::ChartNORM, 0);
        type_ = GraphSource::Raw;
    } else {
        SetVisible(panel, ui::ChartRAW, 0);
        SetVisible(panel, ui::ChartNORM, 1);
        type_ = GraphSource::Norm;
    }
}

// A reply of the panel's run on the chart that is fed; one that came with Stop or the
// panel's close is not drawn any more.
void Program::ShowLiveReply(const com232::LiveReply &reply) {
    if (stop_flag_)
        return;
    if (type_ == GraphSource::Raw)
        panel_.PlotRAWValues(reply);
    else
        panel_.PlotNORMValues(reply);
}

// The modal dialogs of the save, view and report buttons would stall the line during a
// run.
void Program::DimForRun(bool running) {
    const int panel = panel_.Handle();
    SetDimmed(panel, ui::BTNSaveChart, running);
    SetDimmed(panel, ui::BTNSaveCurve, running || !exports_.LastCapture());
    SetDimmed(panel, ui::BTNViewRecording, running);
    SetDimmed(panel, ui::BTNReport, running);
}

void Program::EndRunAtNextCheck() {
    stop_flag_ = true;
    line_.RequestStop();
}

job::Task<Outcome> Program::RunLive(int stopsWhenAsked) {
    // Stop pressed while the run waited for the line to be free: it does not start.
    if (stopsWhenAsked >= 0 && stopsWhenAsked != stops_)
        co_return Outcome{};
    const int panel = panel_.Handle();
    SetVisible(panel, ui::GraphDATA, 0);
    SetDimmed(panel, ui::Ctrl22, 1);
    SetDimmed(panel, ui::Ctrl6, 1);
    DimForRun(true);
    ShowChosenChart();
    stop_flag_ = false;
    panel_.FillarrayNORM(line_.ParameterSet().reference, 0);
    int record = 0;
    GetCtrlVal(panel, ui::CHKRecord, &record);
    recorder_.Want(record != 0);

    Outcome outcome = co_await line_.RunLive();
    stop_flag_      = true;
    SetDimmed(panel, ui::Ctrl22, 0);
    DimForRun(false);
    if (recorder_.StoppedWithRun()) {
        const std::string written = status::RecordedTo(recorder_.RecordingPath());
        outcome.detail += (outcome.detail.empty() ? "" : "\n") + written;
    }
    NoteOutcome(outcome);
    co_return Explained(outcome);
}

void Program::StopRun() {
    const int panel = panel_.Handle();
    ++stops_;
    line_.FlushBoth();
    EndRunAtNextCheck();
    SetDimmed(panel, ui::Ctrl22, 0);
    SetDimmed(panel, ui::Ctrl6, 0);
    SetCtrlAttribute(panel, ui::Timer50ms, kAttrEnabled, 0);
    panel_.FillarrayRAW(0, 0);
    panel_.FillarrayNORM(line_.ParameterSet().reference, 0);
}

job::Task<Outcome> Program::CaptureCurve() {
    const int panel = panel_.Handle();
    SetVisible(panel, ui::ChartRAW, 0);
    SetVisible(panel, ui::ChartNORM, 0);
    SetVisible(panel, ui::GraphDATA, 1);

    const GraphSource source       = panel_.GraphSourceShown();
    const steps::Captured captured = co_await steps::Capture(line_, source);
    panel_.PlotRAWValues(captured.closing);
    // Without an answer the levels of the last answered capture stay.
    if (captured.answered) {
        upTHR_ = captured.closing.UPval;
        loTHR_ = captured.closing.LOval;
    }
    const gui::DataCurve curve =
        steps::CurveOf(line_, source, upTHR_, loTHR_, panel_.ReferenceShown());
    panel_.PlotDATACurve(curve);
    exports_.NoteCapture(curve, record::CommentHeader(line_));
    SetDimmed(panel, ui::BTNSaveChart, 0);
    SetDimmed(panel, ui::BTNSaveCurve, 0);
    SetDimmed(panel, ui::Ctrl6, 0);
    co_return Explained(captured.outcome);
}

int CC_BTNRun(int, int, int event, void *callbackData, int, int) {
    if (event == kEventCommit) {
        Program &program = ProgramOf(callbackData);
        program.Queue(program.RunLive(program.Stops()));
    }
    return 0;
}

int CC_BTNStop(int, int, int event, void *callbackData, int, int) {
    if (event == kEventCommit)
        ProgramOf(callbackData).StopRun();
    return 0;
}

// The panel's timer ticks every 50 ms until Stop switches it off; nothing of the program
// depends on its ticks.
int CC_Timer50ms(int, int, int, void *, int, int) {
    return 0;
}

int CC_RNGGraphSource(int, int, int event, void *callbackData, int, int) {
    if (event == kEventCommit)
        ProgramOf(callbackData).ShowChosenChart();
    return 0;
}

int CC_BTNData(int, int, int event, void *callbackData, int, int) {
    if (event == kEventCommit) {
        Program &program = ProgramOf(callbackData);
        program.Queue(program.CaptureCurve());
    }
    return 0;
}

// --- Recording, export and report ---

void Program::SetRecording(bool on) {
    recorder_.Want(on);
    if (!RunGoing())
        return;
    const bool was = recorder_.Recording();
    if (on)
        recorder_.StartRecording();
    else
        recorder_.StopRecording();
    if (on && recorder_.Recording())
        panel_.Explain(status::RecordingTo(recorder_.RecordingPath()));
    else if (!on && was)
        panel_.Explain(status::RecordedTo(recorder_.RecordingPath()));
}

// The path the operator chose, or empty when the dialog was cancelled.
std::string Program::AskForPath(const char *title, GraphSource source, const char *extension) {
    const std::string name   = exports::CurveFileName(source, extension);
    char path[kPathSize]     = {};
    const std::string filter = std::string("*") + extension;
    panel_.MakeProjectDir();
    const int chosen = FileSelectPopup(panel_.ProjectDir().c_str(), name.c_str(), filter.c_str(),
                                       title, kButtonSave, 0, 1, 1, 1, path);
    return chosen > 0 ? std::string(path) : std::string();
}

Outcome Program::SaveCurve() {
    if (!exports_.LastCapture())
        return {Result::Cancelled, {}};
    const std::string chosen = AskForPath("Save curve", exports_.LastCapture()->source, ".csv");
    if (chosen.empty())
        return {Result::Cancelled, {}};
    const int panel       = panel_.Handle();
    const Outcome outcome = exports_.SaveCurve(chosen, [panel](const char *path, int format) {
        return SavePlotImage(panel, ui::GraphDATA, path, format);
    });
    panel_.ShowStatus(outcome.text.c_str());
    return outcome;
}

Outcome Program::SaveChart() {
    const GraphSource source = panel_.GraphSourceShown();
    const std::string path   = AskForPath("Save chart", source, ".png");
    if (path.empty())
        return {Result::Cancelled, {}};
    const int panel       = panel_.Handle();
    const int chart       = source == GraphSource::Raw ? ui::ChartRAW : ui::ChartNORM;
    const Outcome outcome = exports::SaveChart(path, [panel, chart](const char *file, int format) {
        return SavePlotImage(panel, chart, file, format);
    });
    panel_.ShowStatus(outcome.text.c_str());
    return outcome;
}

job::Task<Outcome> Program::MakeReport() {
    std::vector<FormField> form = RememberedForm();
    if (FormPopup(report::kTitle, form) <= 0)
        co_return Outcome{Result::Cancelled, {}};
    RememberForm(form);
    report::Request request;
    request.operatorName = form[kOperatorField].value;
    request.unitId       = form[kUnitField].value;
    request.station      = form[kStationField].value;
    request.note         = form[kNoteField].value;

    char path[kPathSize] = {};
    panel_.MakeProjectDir();
    if (FileSelectPopup(panel_.ProjectDir().c_str(), report::ReportFileName(request.unitId).c_str(),
                        "*.pdf", "Save report", kButtonSave, 0, 1, 1, 1, path) <= 0)
        co_return Outcome{Result::Cancelled, {}};
    request.path      = path;
    request.fromPanel = true;
    for (int word = 0; word < com232::PNUM; ++word)
        request.panel.push_back(panel_.PanelWordOf(word));
    request.parameterFile = panel_.ParameterFile();
    request.fileWords     = panel_.ParameterFileWords();
    request.capture       = exports_.LastCapture();
    request.captureTime   = exports_.LastCaptureTime();
    request.audit = {true, audit::LastRecords(plant::FileIn(panel_.ProjectDir(), plant::kAuditFile),
                                              LineName(), report::kAuditRecords)};
    const report::Made made = co_await report::MakeReport(line_, std::move(request));
    Outcome outcome         = made.outcome;
    if (outcome.result == Result::FileFailed)
        outcome.detail = made.fileProblem;
    co_return Explained(outcome);
}

int CC_CHKRecord(int panel, int control, int event, void *callbackData, int, int) {
    if (event != kEventCommit)
        return 0;
    int on = 0;
    GetCtrlVal(panel, control, &on);
    ProgramOf(callbackData).SetRecording(on != 0);
    return 0;
}

int CC_BTNSaveCurve(int, int, int event, void *callbackData, int, int) {
    if (event == kEventCommit)
        ProgramOf(callbackData).SaveCurve();
    return 0;
}

int CC_BTNSaveChart(int, int, int event, void *callbackData, int, int) {
    if (event == kEventCommit)
        ProgramOf(callbackData).SaveChart();
    return 0;
}

int CC_BTNReport(int, int, int event, void *callbackData, int, int) {
    if (event == kEventCommit) {
        Program &program = ProgramOf(callbackData);
        program.Queue(program.MakeReport());
    }
    return 0;
}

} // namespace app
