// The panel module: parameter set on the panel and in the parameter file, strip-chart plots
// and LEDs with their histories, the data-curve plot and the status line.
#include "gui.h"

#include "colours.h"
#include "parameters.h"
#include "platform/files/arrayfile.h"
#include "platform/files/textfile.h"
#include "platform/panel/dialogs.h"
#include "platform/panel/panel.h"
#include "platform/trace.h"
#include "ui.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace gui {

namespace {

using com232::PNUM;

constexpr int kFieldWidth                   = 5;
constexpr int kPointsPerScreen              = 101;
constexpr int kNormTraceColour[kNormTraces] = {colour::kDarkGreen, colour::kDarkGreen,
                                               colour::kBlack, colour::kRed};
constexpr double kAxisXMin = 1.0, kAxisXMax = 128.0, kAxisYMin = 0.0, kAxisYMax = 1023.0;
constexpr const char *kParameterFileName = "RMX7para.dat";
constexpr const char *kParameterFilter   = "*.dat";
constexpr const char *kParameterTitle    = "K-VEX-RMX7 Parameter File";
constexpr unsigned int kLargestWord      = 0xFFFF;

// Where the values on the panel came from.
enum class Origin { NotRead, Controller, File };

constexpr const char *kRawYName  = "RAW-values / [ADC-units]";
constexpr const char *kNormYName = "NORM=RAW / [ADC-units]";
constexpr int kLabelSize         = 128;

struct Vars {
    std::string file_name = "RMX7para.cfg";
    std::optional<com232::Words> fileWords; // last saved to or loaded from file_name
    double arrayRAW[kRawValues]   = {};
    double arrayNORM[kNormValues] = {};
    // Samples of a reply in each history since its last fill: the charts draw only these, so
    // that the fill level is kept but not drawn as a drop to it.
    int realRAW = 0, realNORM = 0;
    std::uint16_t valREF = 0;
    Origin origin        = Origin::NotRead;
    std::string loadedFrom; // the file of Origin::File
};

Vars vars;
int pHandle = 0;      // set at load, kept by InitVars
std::string proj_dir; // set at start-up, kept by InitVars

// The x values of every curve: place i holds i.
const std::array<std::uint16_t, com232::kCurveSize> kXArray = [] {
    std::array<std::uint16_t, com232::kCurveSize> x{};
    for (int i = 0; i < com232::kCurveSize; ++i)
        x[i] = static_cast<std::uint16_t>(i);
    return x;
}();

// Panel and parameter set agree after every copy between them: each control now remembers
// its value as the one last exchanged, and marks itself once the operator types another.
// Only the parameter transfers copy, never the live loop, so marking costs the live view
// nothing.
void NoteExchangedValues(const com232::Parameters &params) {
    const com232::Words words = com232::WordsOf(params);
    for (const int word : parameters::kPanelOrder)
        SetCtrlAttribute(pHandle, parameters::kTable[word].control, kAttrSentValue, words[word]);
}

// Each control's tooltip (where its value came from, then what it is) and its default mark
// until a read from the controller.
void ShowParameterTips() {
    std::string origin;
    if (vars.origin == Origin::NotRead)
        origin = std::string(status::kPanelDefaults) + "\n";
    else if (vars.origin == Origin::File)
        origin = status::LoadedNotRead(vars.loadedFrom) + "\n";
    for (const int word : parameters::kPanelOrder) {
        const parameters::Parameter &p = parameters::kTable[word];
        const std::string tip          = origin + status::ParameterTip(p);
        SetCtrlAttribute(pHandle, p.control, kAttrToolTip, tip.c_str());
        SetCtrlAttribute(pHandle, p.control, kAttrDefaultMark, vars.origin == Origin::NotRead);
    }
}

void NoteOrigin(Origin origin, const std::string &file = {}) {
    vars.origin     = origin;
    vars.loadedFrom = file;
    ShowParameterTips();
}

// The status text of a refused parameter file, and the file, line and reason beside it.
Outcome FileRefused(const std::string &file, const ArrayFileFault &fault) {
    switch (fault.code) {
    case kFileErrTooFew:
        return {status::Result::FileFailed, status::kFileTooFew,
                status::FileTooFew(file, fault.values)};
    case kFileErrTooMany:
        return {status::Result::FileFailed, status::kFileTooMany,
                status::FileTooMany(file, fault.line, fault.token)};
    case kFileErrNegative:
        return {status::Result::FileFailed, status::kFileNegative,
                status::FileNegative(file, fault.line, fault.token)};
    case kFileErrNotNumber:
        return {status::Result::FileFailed, status::kFileNotNumber,
                status::FileNotWholeNumber(file, fault.line, fault.token)};
    case kFileErrTooLarge:
        return {status::Result::FileFailed, status::kFileAbove65535,
                status::FileAbove65535(file, fault.line, fault.token)};
    default:
        return {status::Result::FileFailed, status::kFileUnreadable,
                status::FileCannotBeRead(file, std::strerror(fault.systemError))};
    }
}

// Words 11 to 15 of a file that Send would not transmit as they are: what to tell, or "".
std::string ZeroedWordsNote(const com232::Words &words) {
    std::string values;
    bool any = false;
    for (const parameters::Parameter &p : parameters::kTable) {
        if (!p.sentAsZero)
            continue;
        values += (values.empty() ? "" : " ") + std::to_string(words[p.word]);
        any = any || words[p.word] != 0;
    }
    return any ? status::LoadedWordsSentAsZero(values) : std::string();
}

int FileSelect(int button) {
    MakeProjectDir();
    char path[kPathSize] = {};
    const int chosen     = FileSelectPopup(proj_dir.c_str(), kParameterFileName, kParameterFilter,
                                           kParameterTitle, button, 0, 1, 1, 1, path);
    if (chosen > 0)
        vars.file_name = path;
    return chosen;
}

// The reference shown in run mode follows the hwmode control as it reads now, not the
// parameter set's hwmode.
std::uint16_t ChooseReference(const com232::LiveReply &reply) {
    std::uint16_t mode = 0;
    GetCtrlVal(pHandle, ui::hwmode, &mode);
    return (mode == 0 || mode == 2) ? com232::ParameterSet().reference : reply.refval;
}

void ShowLiveIndicators(const com232::LiveReply &reply) {
    SetCtrlVal(pHandle, ui::valNORM, reply.valNORM);
    SetCtrlVal(pHandle, ui::adcCHA, reply.adcCHA);
    SetCtrlVal(pHandle, ui::valREF, vars.valREF);
    SetCtrlVal(pHandle, ui::Amax, reply.Amax);
    SetCtrlVal(pHandle, ui::Amin, reply.Amin);
    SetCtrlVal(pHandle, ui::UPval, reply.UPval);
    SetCtrlVal(pHandle, ui::LOval, reply.LOval);
    SetCtrlVal(pHandle, ui::adcCHB, reply.adcCHB);
    DispLEDState(reply.instate);
}

void SetChartLayout(int chart, int traces) {
    SetCtrlAttribute(pHandle, chart, kAttrPointsPerScreen, kPointsPerScreen);
    SetCtrlAttribute(pHandle, chart, kAttrScrollMode, kScrollContinuous);
    SetCtrlAttribute(pHandle, chart, kAttrNumTraces, traces);
}

// One more reply in a history; once it holds only replies, the chart draws all it has.
void DrawRealSamples(int chart, int &real) {
    real = std::min(real + 1, kSamples);
    SetCtrlAttribute(pHandle, chart, kAttrDrawnPoints, real < kSamples ? real : -1);
}

void PlotCurve(const Curve &y, int plotStyle, int lineStyle, int colour, const char *name) {
    const int plot = PlotXY(pHandle, ui::GraphDATA, kXArray.data(), y.data(), kCurvePoints,
                            kTypeU16, kTypeU16, plotStyle, kPointEmpty, lineStyle, 1, colour);
    SetPlotAttribute(pHandle, ui::GraphDATA, plot, kAttrPlotName, name);
}

} // namespace

// --- The panel ---

void SetPanel(int panel) {
    pHandle = panel;
}

int Panel() {
    return pHandle;
}

void SetProjectDir(const std::string &directory) {
    proj_dir = directory;
}

const std::string &ProjectDir() {
    return proj_dir;
}

int MakeProjectDir() {
    return MakeFolder(proj_dir.c_str());
}

void InitVars() {
    vars = Vars{};
    ShowParameterTips();
    MarkTaught(false);
}

void ShowStatus(const char *text) {
    SetCtrlVal(pHandle, ui::TXTStatus, text);
}

// Shown only with something to say, so that the status text has the line's whole width.
void ShowHint(const std::string &hint) {
    SetCtrlVal(pHandle, ui::TXTHint, hint.c_str());
    SetCtrlAttribute(pHandle, ui::TXTHint, kAttrToolTip, hint.c_str());
    SetCtrlAttribute(pHandle, ui::TXTHint, kAttrVisible, !hint.empty());
}

void ExplainStatus(const char *text) {
    SetCtrlAttribute(pHandle, ui::TXTStatus, kAttrToolTip, text);
}

void Explain(const std::string &detail) {
    ExplainStatus(detail.c_str());
    if (!detail.empty())
        TraceDiagnosis(detail.c_str());
}

int GraphSource() {
    int source = 0;
    GetCtrlVal(pHandle, ui::RNGGraphSource, &source);
    return source;
}

// --- Parameter set on the panel ---

void GetPanelValues() {
    com232::Words words = com232::WordsOf(com232::ParameterSet());
    for (const int word : parameters::kPanelOrder)
        GetCtrlVal(pHandle, parameters::kTable[word].control, &words[word]);
    for (const parameters::Parameter &p : parameters::kTable)
        if (p.sentAsZero)
            words[p.word] = 0;
    const com232::Parameters params = com232::ParametersOf(words);
    com232::SetParameterSet(params);
    NoteExchangedValues(params);
}

void SetPanelValues() {
    const com232::Parameters &params = com232::ParameterSet();
    const com232::Words words        = com232::WordsOf(params);
    for (const int word : parameters::kPanelOrder)
        SetCtrlVal(pHandle, parameters::kTable[word].control, words[word]);
    NoteExchangedValues(params);
}

PanelWord PanelWordOf(int word) {
    PanelWord shown;
    const int control = parameters::kTable[word].control;
    if (control == 0)
        return shown;
    shown.control = true;
    GetCtrlVal(pHandle, control, &shown.value);
    int marked = 0;
    GetCtrlAttribute(pHandle, control, kAttrNotSent, &marked);
    shown.notSent          = marked != 0;
    char label[kLabelSize] = {};
    GetCtrlAttribute(pHandle, control, kAttrLabel, label, sizeof label);
    shown.label = label;
    return shown;
}

void NoteReadFromController() {
    NoteOrigin(Origin::Controller);
    MarkTaught(false);
}

void ShowFetchedParameters() {
    SetPanelValues();
    NoteReadFromController();
}

void MarkTaught(bool taught) {
    SetCtrlAttribute(pHandle, ui::reference, kAttrNote, taught ? status::kTaught : "");
}

// --- Parameter file ---

Outcome SendParaToFile() {
    GetPanelValues();
    const com232::Words words = com232::CopyVarsToPP();
    unsigned int values[PNUM];
    std::copy(words.begin(), words.end(), values);
    ArrayFileFault fault;
    if (ArrayToFile(vars.file_name.c_str(), values, PNUM, kFieldWidth, &fault) != 0) {
        std::error_code error;
        const bool kept  = std::filesystem::exists(vars.file_name, error);
        const char *text = kept ? status::kFileNotWritten : status::kFileNotMade;
        ShowStatus(text);
        return {
            status::Result::FileFailed, text,
            status::FileCannotBeWritten(vars.file_name, std::strerror(fault.systemError), kept)};
    }
    vars.fileWords = words;
    return {status::Result::Ok, {}, status::ParametersSaved(vars.file_name)};
}

ParameterFileRead ReadParameterFile(const std::string &path) {
    unsigned int values[PNUM];
    ArrayFileFault fault;
    ParameterFileRead read;
    if (FileToArray(path.c_str(), values, PNUM, kLargestWord, &fault) != PNUM) {
        read.outcome = FileRefused(path, fault);
        return read;
    }
    for (int i = 0; i < PNUM; ++i)
        read.words[i] = static_cast<std::uint16_t>(values[i]);
    read.zeroedWords = ZeroedWordsNote(read.words);
    read.outcome.detail =
        status::ParametersLoaded(path) + (read.zeroedWords.empty() ? "" : ". " + read.zeroedWords);
    return read;
}

Outcome ReadParaFromFile() {
    if (FileSelect(kButtonLoad) <= 0)
        return {status::Result::Cancelled, {}};
    const ParameterFileRead read = ReadParameterFile(vars.file_name);
    if (!read.outcome.ok()) {
        ShowStatus(read.outcome.text.c_str());
        return read.outcome;
    }
    com232::LoadFrameWords(read.words);
    vars.fileWords = read.words;
    NoteOrigin(Origin::File, vars.file_name);
    return read.outcome;
}

int SelectParameterFileForSave() {
    return FileSelect(kButtonOk);
}

const std::string &ParameterFile() {
    return vars.file_name;
}

const std::optional<com232::Words> &ParameterFileWords() {
    return vars.fileWords;
}

// --- Sample histories ---

void FillarrayRAW(int a, int b) {
    vars.realRAW = 0;
    for (int s = 0; s < kSamples; ++s) {
        vars.arrayRAW[2 * s]     = a;
        vars.arrayRAW[2 * s + 1] = b;
    }
}

void FillarrayNORM(int referenceLevel, int normLevel) {
    vars.realNORM = 0;
    for (int s = 0; s < kSamples; ++s) {
        vars.arrayNORM[4 * s]     = 0.0;
        vars.arrayNORM[4 * s + 1] = 0.0;
        vars.arrayNORM[4 * s + 2] = referenceLevel;
        vars.arrayNORM[4 * s + 3] = normLevel;
    }
}

int Copy1D(const double *input, int count, double *output) {
    if (count < 1)
        return kShiftBadCount;
    for (int i = 0; i < count; ++i)
        output[i] = input[i];
    return 0;
}

int Shift(const double *input, int count, int shift, double *output) {
    if (count < 1)
        return kShiftBadCount;
    if (std::abs(shift) >= count)
        return kShiftTooFar;
    if (shift == 0)
        return Copy1D(input, count, output);
    // The copy runs away from the places it writes, so input and output may be one array.
    if (shift > 0) {
        for (int i = count - 1; i >= shift; --i)
            output[i] = input[i - shift];
        for (int i = 0; i < shift; ++i)
            output[i] = 0.0;
    } else {
        const int s = -shift;
        for (int i = 0; i < count - s; ++i)
            output[i] = input[i + s];
        for (int i = count - 1; i >= count - s; --i)
            output[i] = 0.0;
    }
    return 0;
}

const double *RawHistory() {
    return vars.arrayRAW;
}

const double *NormHistory() {
    return vars.arrayNORM;
}

// --- Strip charts, indicators and LEDs ---

void PlotRAWValues(const com232::LiveReply &reply) {
    Shift(vars.arrayRAW, kRawValues, -kRawTraces, vars.arrayRAW);
    vars.valREF                   = ChooseReference(reply);
    vars.arrayRAW[kRawValues - 2] = reply.adcCHA;
    vars.arrayRAW[kRawValues - 1] = reply.adcCHB;
    SetChartLayout(ui::ChartRAW, kRawTraces);
    DrawRealSamples(ui::ChartRAW, vars.realRAW);
    PlotStripChart(pHandle, ui::ChartRAW, vars.arrayRAW, kRawValues, 0, 0, kTypeDouble);
    ShowLiveIndicators(reply);
}

void PlotNORMValues(const com232::LiveReply &reply) {
    double *history = vars.arrayNORM;
    Shift(history, kNormValues, -kNormTraces, history);
    vars.valREF              = ChooseReference(reply);
    history[kNormValues - 4] = 0.0;
    history[kNormValues - 3] = 0.0;
    history[kNormValues - 2] = vars.valREF;
    history[kNormValues - 1] = reply.valNORM;
    SetChartLayout(ui::ChartNORM, kNormTraces);
    for (int trace = 0; trace < kNormTraces; ++trace)
        SetTraceAttribute(pHandle, ui::ChartNORM, trace + 1, kAttrTraceColor,
                          kNormTraceColour[trace]);
    DrawRealSamples(ui::ChartNORM, vars.realNORM);
    PlotStripChart(pHandle, ui::ChartNORM, history, kNormValues, 0, 0, kTypeDouble);
    ShowLiveIndicators(reply);
}

std::uint16_t ReferenceShown() {
    return vars.valREF;
}

void DispLEDState(int state) {
    if (state < 0 || state > 3)
        return;
    SetCtrlVal(pHandle, ui::LEDState1, state & 1);
    SetCtrlVal(pHandle, ui::LEDState2, (state >> 1) & 1);
}

// --- Data curve ---

void PlotDATACurve(const DataCurve &curve) {
    SetCtrlAttribute(pHandle, ui::ChartRAW, kAttrVisible, 0);
    SetCtrlAttribute(pHandle, ui::ChartNORM, kAttrVisible, 0);
    SetAxisScalingMode(pHandle, ui::GraphDATA, kAxisX, kScaleManual, kAxisXMin, kAxisXMax);
    DeleteGraphPlot(pHandle, ui::GraphDATA, kAllPlots, kRefreshImmediate);
    const int source = GraphSource();
    if (source == kSourceRaw) {
        SetCtrlAttribute(pHandle, ui::GraphDATA, kAttrYName, kRawYName);
        SetAxisScalingMode(pHandle, ui::GraphDATA, kAxisLeftY, kScaleManual, kAxisYMin, kAxisYMax);
        PlotCurve(curve.a, kPlotThickLine, kLineSolid, colour::kBlue, kCurveA);
        PlotCurve(curve.b, kPlotThickLine, kLineSolid, colour::kBrightGreen, kCurveB);
    } else if (source == kSourceNorm) {
        SetCtrlAttribute(pHandle, ui::GraphDATA, kAttrYName, kNormYName);
        SetAxisScalingMode(pHandle, ui::GraphDATA, kAxisLeftY, kScaleManual, kAxisYMin, kAxisYMax);
        PlotCurve(curve.a, kPlotThickLine, kLineSolid, colour::kRed, kCurveNorm);
        PlotCurve(curve.upper, kPlotThickLine, kLineSolid, colour::kDarkGreen, kCurveUpper);
        PlotCurve(curve.lower, kPlotThickLine, kLineSolid, colour::kDarkGreen, kCurveLower);
        PlotCurve(curve.reference, kPlotThinLine, kLineDashed, colour::kBlack, kCurveReference);
    }
}

} // namespace gui
