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
#include <utility>

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

constexpr const char *kRawYName  = "RAW-values / [ADC-units]";
constexpr const char *kNormYName = "NORM=RAW / [ADC-units]";
constexpr int kLabelSize         = 128;

// The x values of every curve: place i holds i.
const std::array<std::uint16_t, com232::kCurveSize> kXArray = [] {
    std::array<std::uint16_t, com232::kCurveSize> x{};
    for (int i = 0; i < com232::kCurveSize; ++i)
        x[i] = static_cast<std::uint16_t>(i);
    return x;
}();

// Each control's tooltip: where its value came from, then what it is.
std::string OriginTip(bool notRead, const std::string &loadedFrom) {
    if (notRead)
        return std::string(status::kPanelDefaults) + "\n";
    if (!loadedFrom.empty())
        return status::LoadedNotRead(loadedFrom) + "\n";
    return {};
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

} // namespace

// --- Pure parts ---

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

// --- The panel ---

Panel::Panel(int handle, com232::Line &line, std::string projectDir)
    : pHandle_(handle), line_(line), proj_dir_(std::move(projectDir)) {}

int Panel::MakeProjectDir() const {
    return MakeFolder(proj_dir_.c_str());
}

void Panel::InitVars() {
    file_name_ = "RMX7para.cfg";
    fileWords_.reset();
    std::fill(std::begin(arrayRAW_), std::end(arrayRAW_), 0.0);
    std::fill(std::begin(arrayNORM_), std::end(arrayNORM_), 0.0);
    realRAW_  = 0;
    realNORM_ = 0;
    valREF_   = 0;
    origin_   = Origin::NotRead;
    loadedFrom_.clear();
    ShowParameterTips();
    MarkTaught(false);
}

void Panel::ShowStatus(const char *text) const {
    SetCtrlVal(pHandle_, ui::TXTStatus, text);
}

// Shown only with something to say, so that the status text has the line's whole width.
void Panel::ShowHint(const std::string &hint) const {
    SetCtrlVal(pHandle_, ui::TXTHint, hint.c_str());
    SetCtrlAttribute(pHandle_, ui::TXTHint, kAttrToolTip, hint.c_str());
    SetCtrlAttribute(pHandle_, ui::TXTHint, kAttrVisible, !hint.empty());
}

void Panel::ExplainStatus(const char *text) const {
    SetCtrlAttribute(pHandle_, ui::TXTStatus, kAttrToolTip, text);
}

void Panel::Explain(const std::string &detail) const {
    ExplainStatus(detail.c_str());
    if (!detail.empty())
        TraceDiagnosis(detail.c_str());
}

GraphSource Panel::GraphSourceShown() const {
    int source = 0;
    GetCtrlVal(pHandle_, ui::RNGGraphSource, &source);
    return static_cast<GraphSource>(source);
}

// --- Parameter set on the panel ---

// Panel and parameter set agree after every copy between them: each control now remembers
// its value as the one last exchanged, and marks itself once the operator types another.
// Only the parameter transfers copy, never the live loop, so marking costs the live view
// nothing.
void Panel::NoteExchangedValues(const com232::Parameters &params) {
    const com232::Words words = com232::WordsOf(params);
    for (const int word : parameters::kPanelOrder)
        SetCtrlAttribute(pHandle_, parameters::kTable[word].control, kAttrSentValue, words[word]);
}

// Each control's tooltip (where its value came from, then what it is) and its default mark
// until a read from the controller.
void Panel::ShowParameterTips() {
    const std::string origin = OriginTip(origin_ == Origin::NotRead,
                                         origin_ == Origin::File ? loadedFrom_ : std::string());
    for (const int word : parameters::kPanelOrder) {
        const parameters::Parameter &p = parameters::kTable[word];
        const std::string tip          = origin + status::ParameterTip(p);
        SetCtrlAttribute(pHandle_, p.control, kAttrToolTip, tip.c_str());
        SetCtrlAttribute(pHandle_, p.control, kAttrDefaultMark, origin_ == Origin::NotRead);
    }
}

void Panel::NoteOrigin(Origin origin, const std::string &file) {
    origin_     = origin;
    loadedFrom_ = file;
    ShowParameterTips();
}

void Panel::GetPanelValues() {
    com232::Words words = com232::WordsOf(line_.ParameterSet());
    for (const int word : parameters::kPanelOrder)
        GetCtrlVal(pHandle_, parameters::kTable[word].control, &words[word]);
    for (const parameters::Parameter &p : parameters::kTable)
        if (p.sentAsZero)
            words[p.word] = 0;
    const com232::Parameters params = com232::ParametersOf(words);
    line_.SetParameterSet(params);
    NoteExchangedValues(params);
}

void Panel::SetPanelValues() {
    const com232::Parameters &params = line_.ParameterSet();
    const com232::Words words        = com232::WordsOf(params);
    for (const int word : parameters::kPanelOrder)
        SetCtrlVal(pHandle_, parameters::kTable[word].control, words[word]);
    NoteExchangedValues(params);
}

PanelWord Panel::PanelWordOf(int word) const {
    PanelWord shown;
    const int control = parameters::kTable[word].control;
    if (control == 0)
        return shown;
    shown.control = true;
    GetCtrlVal(pHandle_, control, &shown.value);
    int marked = 0;
    GetCtrlAttribute(pHandle_, control, kAttrNotSent, &marked);
    shown.notSent          = marked != 0;
    char label[kLabelSize] = {};
    GetCtrlAttribute(pHandle_, control, kAttrLabel, label, sizeof label);
    shown.label = label;
    return shown;
}

void Panel::NoteReadFromController() {
    NoteOrigin(Origin::Controller);
    MarkTaught(false);
}

void Panel::ShowFetchedParameters() {
    SetPanelValues();
    NoteReadFromController();
}

void Panel::MarkTaught(bool taught) {
    SetCtrlAttribute(pHandle_, ui::reference, kAttrNote, taught ? status::kTaught : "");
}

// --- Parameter file ---

int Panel::FileSelect(int button) {
    MakeProjectDir();
    char path[kPathSize] = {};
    const int chosen     = FileSelectPopup(proj_dir_.c_str(), kParameterFileName, kParameterFilter,
                                           kParameterTitle, button, 0, 1, 1, 1, path);
    if (chosen > 0)
        file_name_ = path;
    return chosen;
}

Outcome Panel::SendParaToFile() {
    GetPanelValues();
    const com232::Words words = line_.CopyVarsToPP();
    unsigned int values[PNUM];
    std::copy(words.begin(), words.end(), values);
    ArrayFileFault fault;
    if (ArrayToFile(file_name_.c_str(), values, PNUM, kFieldWidth, &fault) != 0) {
        std::error_code error;
        const bool kept  = std::filesystem::exists(file_name_, error);
        const char *text = kept ? status::kFileNotWritten : status::kFileNotMade;
        ShowStatus(text);
        return {status::Result::FileFailed, text,
                status::FileCannotBeWritten(file_name_, std::strerror(fault.systemError), kept)};
    }
    fileWords_ = words;
    return {status::Result::Ok, {}, status::ParametersSaved(file_name_)};
}

Outcome Panel::ReadParaFromFile() {
    if (FileSelect(kButtonLoad) <= 0)
        return {status::Result::Cancelled, {}};
    const ParameterFileRead read = ReadParameterFile(file_name_);
    if (!read.outcome.ok()) {
        ShowStatus(read.outcome.text.c_str());
        return read.outcome;
    }
    line_.LoadFrameWords(read.words);
    fileWords_ = read.words;
    NoteOrigin(Origin::File, file_name_);
    return read.outcome;
}

int Panel::SelectParameterFileForSave() {
    return FileSelect(kButtonOk);
}

// --- Sample histories ---

void Panel::FillarrayRAW(int a, int b) {
    realRAW_ = 0;
    for (int s = 0; s < kSamples; ++s) {
        arrayRAW_[2 * s]     = a;
        arrayRAW_[2 * s + 1] = b;
    }
}

void Panel::FillarrayNORM(int referenceLevel, int normLevel) {
    realNORM_ = 0;
    for (int s = 0; s < kSamples; ++s) {
        arrayNORM_[4 * s]     = 0.0;
        arrayNORM_[4 * s + 1] = 0.0;
        arrayNORM_[4 * s + 2] = referenceLevel;
        arrayNORM_[4 * s + 3] = normLevel;
    }
}

// --- Strip charts, indicators and LEDs ---

// The reference shown in run mode follows the hwmode control as it reads now, not the
// parameter set's hwmode.
std::uint16_t Panel::ChooseReference(const com232::LiveReply &reply) const {
    std::uint16_t mode = 0;
    GetCtrlVal(pHandle_, ui::hwmode, &mode);
    return (mode == 0 || mode == 2) ? line_.ParameterSet().reference : reply.refval;
}

void Panel::ShowLiveIndicators(const com232::LiveReply &reply) {
    SetCtrlVal(pHandle_, ui::valNORM, reply.valNORM);
    SetCtrlVal(pHandle_, ui::adcCHA, reply.adcCHA);
    SetCtrlVal(pHandle_, ui::valREF, valREF_);
    SetCtrlVal(pHandle_, ui::Amax, reply.Amax);
    SetCtrlVal(pHandle_, ui::Amin, reply.Amin);
    SetCtrlVal(pHandle_, ui::UPval, reply.UPval);
    SetCtrlVal(pHandle_, ui::LOval, reply.LOval);
    SetCtrlVal(pHandle_, ui::adcCHB, reply.adcCHB);
    DispLEDState(reply.instate);
}

void Panel::SetChartLayout(int chart, int traces) {
    SetCtrlAttribute(pHandle_, chart, kAttrPointsPerScreen, kPointsPerScreen);
    SetCtrlAttribute(pHandle_, chart, kAttrScrollMode, kScrollContinuous);
    SetCtrlAttribute(pHandle_, chart, kAttrNumTraces, traces);
}

// One more reply in a history; once it holds only replies, the chart draws all it has.
void Panel::DrawRealSamples(int chart, int &real) const {
    real = std::min(real + 1, kSamples);
    SetCtrlAttribute(pHandle_, chart, kAttrDrawnPoints, real < kSamples ? real : -1);
}

void Panel::PlotRAWValues(const com232::LiveReply &reply) {
    Shift(arrayRAW_, kRawValues, -kRawTraces, arrayRAW_);
    valREF_                   = ChooseReference(reply);
    arrayRAW_[kRawValues - 2] = reply.adcCHA;
    arrayRAW_[kRawValues - 1] = reply.adcCHB;
    SetChartLayout(ui::ChartRAW, kRawTraces);
    DrawRealSamples(ui::ChartRAW, realRAW_);
    PlotStripChart(pHandle_, ui::ChartRAW, arrayRAW_, kRawValues, 0, 0, kTypeDouble);
    ShowLiveIndicators(reply);
}

void Panel::PlotNORMValues(const com232::LiveReply &reply) {
    double *history = arrayNORM_;
    Shift(history, kNormValues, -kNormTraces, history);
    valREF_                  = ChooseReference(reply);
    history[kNormValues - 4] = 0.0;
    history[kNormValues - 3] = 0.0;
    history[kNormValues - 2] = valREF_;
    history[kNormValues - 1] = reply.valNORM;
    SetChartLayout(ui::ChartNORM, kNormTraces);
    for (int trace = 0; trace < kNormTraces; ++trace)
        SetTraceAttribute(pHandle_, ui::ChartNORM, trace + 1, kAttrTraceColor,
                          kNormTraceColour[trace]);
    DrawRealSamples(ui::ChartNORM, realNORM_);
    PlotStripChart(pHandle_, ui::ChartNORM, history, kNormValues, 0, 0, kTypeDouble);
    ShowLiveIndicators(reply);
}

void Panel::DispLEDState(int state) {
    if (state < 0 || state > 3)
        return;
    SetCtrlVal(pHandle_, ui::LEDState1, state & 1);
    SetCtrlVal(pHandle_, ui::LEDState2, (state >> 1) & 1);
}

// --- Data curve ---

void Panel::PlotCurve(const Curve &y, int plotStyle, int lineStyle, int colour,
                      const char *name) const {
    const int plot = PlotXY(pHandle_, ui::GraphDATA, kXArray.data(), y.data(), kCurvePoints,
                            kTypeU16, kTypeU16, plotStyle, kPointEmpty, lineStyle, 1, colour);
    SetPlotAttribute(pHandle_, ui::GraphDATA, plot, kAttrPlotName, name);
}

void Panel::PlotDATACurve(const DataCurve &curve) {
    SetCtrlAttribute(pHandle_, ui::ChartRAW, kAttrVisible, 0);
    SetCtrlAttribute(pHandle_, ui::ChartNORM, kAttrVisible, 0);
    SetAxisScalingMode(pHandle_, ui::GraphDATA, kAxisX, kScaleManual, kAxisXMin, kAxisXMax);
    DeleteGraphPlot(pHandle_, ui::GraphDATA, kAllPlots, kRefreshImmediate);
    const GraphSource source = GraphSourceShown();
    if (source == GraphSource::Raw) {
        SetCtrlAttribute(pHandle_, ui::GraphDATA, kAttrYName, kRawYName);
        SetAxisScalingMode(pHandle_, ui::GraphDATA, kAxisLeftY, kScaleManual, kAxisYMin, kAxisYMax);
        PlotCurve(curve.a, kPlotThickLine, kLineSolid, colour::kBlue, kCurveA);
        PlotCurve(curve.b, kPlotThickLine, kLineSolid, colour::kBrightGreen, kCurveB);
    } else if (source == GraphSource::Norm) {
        SetCtrlAttribute(pHandle_, ui::GraphDATA, kAttrYName, kNormYName);
        SetAxisScalingMode(pHandle_, ui::GraphDATA, kAxisLeftY, kScaleManual, kAxisYMin, kAxisYMax);
        PlotCurve(curve.a, kPlotThickLine, kLineSolid, colour::kRed, kCurveNorm);
        PlotCurve(curve.upper, kPlotThickLine, kLineSolid, colour::kDarkGreen, kCurveUpper);
        PlotCurve(curve.lower, kPlotThickLine, kLineSolid, colour::kDarkGreen, kCurveLower);
        PlotCurve(curve.reference, kPlotThinLine, kLineDashed, colour::kBlack, kCurveReference);
    }
}

} // namespace gui
