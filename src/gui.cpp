// Panel values of the parameter set, the parameter file, the parameter fetch, the
// strip-chart plots and LEDs, the sample histories and the data-curve plot.
#include "gui.h"

#include "com232.h"
#include "platform/files/arrayfile.h"
#include "platform/files/textfile.h"
#include "platform/panel/dialogs.h"
#include "platform/panel/panel.h"
#include "platform/serial/serial.h"
#include "ui.h"

#include <algorithm>
#include <cstdlib>

namespace gui {

Vars vars;

namespace {

using com232::PNUM;

constexpr int kFieldWidth      = 5;
constexpr int kPointsPerScreen = 101;
constexpr int kGreen = 0x008000, kBlack = 0x000000, kRed = 0xFF0000, kBlue = 0x0000FF,
              kBrightGreen                  = 0x00FF00;
constexpr int kNormTraceColour[kNormTraces] = {kGreen, kGreen, kBlack, kRed};
constexpr double kAxisXMin = 1.0, kAxisXMax = 128.0, kAxisYMin = 0.0, kAxisYMax = 1023.0;
constexpr const char *kParameterFileName = "RMX7para.dat";
constexpr const char *kParameterFilter   = "*.dat";
constexpr const char *kParameterTitle    = "K-VEX-RMX7 Parameter File";

com232::Parameters &Params() {
    return com232::vars.params;
}

// The ten parameters with a control, in the order they are read and written.
struct PanelParameter {
    int control;
    std::uint16_t com232::Parameters::*variable;
};
constexpr PanelParameter kPanelParameters[] = {
    {ui::power, &com232::Parameters::power},
    {ui::reference, &com232::Parameters::reference},
    {ui::hysteresis, &com232::Parameters::hysteresis},
    {ui::polarity, &com232::Parameters::polarity},
    {ui::sdelay, &com232::Parameters::sdelay},
    {ui::hwmode, &com232::Parameters::hwmode},
    {ui::evalmode, &com232::Parameters::evalmode},
    {ui::mmtime, &com232::Parameters::mmtime},
    {ui::mmthd, &com232::Parameters::mmthd},
    {ui::hold, &com232::Parameters::hold},
};

// Panel and variables agree after every copy between them: each control now remembers
// its variable as the value last exchanged, and marks itself once the operator types
// another. Only the parameter transfers copy, never the live loop, so marking costs the
// live view nothing.
void NoteExchangedValues() {
    for (const PanelParameter &p : kPanelParameters)
        SetCtrlAttribute(vars.pHandle, p.control, kAttrSentValue, Params().*p.variable);
}

const char *FileErrorText(int result) {
    switch (result) {
    case kFileErrTooFew:
        return "Parameter file holds fewer than 16 values - nothing loaded!";
    case kFileErrNotNumber:
        return "Parameter file holds a value that is not a number - nothing loaded!";
    default:
        return "Parameter file not readable - nothing loaded!";
    }
}

int FileSelect(int button) {
    MakeProjectDir();
    return FileSelectPopup(vars.proj_dir, kParameterFileName, kParameterFilter, kParameterTitle,
                           button, 0, 1, 1, 1, vars.file_name);
}

// Takes the live reply in pp into the live variables and chooses the reference shown.
void TakeLiveReply() {
    const std::uint16_t *pp = com232::vars.pp;
    vars.valNORM            = pp[0];
    vars.adcCHA             = pp[1];
    vars.adcCHB             = pp[2];
    vars.Amax               = pp[3];
    vars.Amin               = pp[4];
    vars.UPval              = pp[5];
    vars.LOval              = pp[6];
    vars.refval             = pp[7];
    vars.instate            = pp[8];
    std::uint16_t mode      = 0;
    GetCtrlVal(vars.pHandle, ui::hwmode, &mode);
    vars.valREF = (mode == 0 || mode == 2) ? Params().reference : vars.refval;
}

void ShowLiveIndicators() {
    SetCtrlVal(vars.pHandle, ui::valNORM, vars.valNORM);
    SetCtrlVal(vars.pHandle, ui::adcCHA, vars.adcCHA);
    SetCtrlVal(vars.pHandle, ui::valREF, vars.valREF);
    SetCtrlVal(vars.pHandle, ui::Amax, vars.Amax);
    SetCtrlVal(vars.pHandle, ui::Amin, vars.Amin);
    SetCtrlVal(vars.pHandle, ui::UPval, vars.UPval);
    SetCtrlVal(vars.pHandle, ui::LOval, vars.LOval);
    DispLEDState(vars.instate);
}

void SetChartLayout(int chart, int traces) {
    SetCtrlAttribute(vars.pHandle, chart, kAttrPointsPerScreen, kPointsPerScreen);
    SetCtrlAttribute(vars.pHandle, chart, kAttrScrollMode, kScrollContinuous);
    SetCtrlAttribute(vars.pHandle, chart, kAttrNumTraces, traces);
}

void PlotCurve(const std::uint16_t *y, int plotStyle, int lineStyle, int colour) {
    PlotXY(vars.pHandle, ui::GraphDATA, vars.xArray, y, kCurvePoints, kTypeU16, kTypeU16, plotStyle,
           kPointEmpty, lineStyle, 1, colour);
}

} // namespace

int MakeProjectDir() {
    return MakeFolder(vars.proj_dir);
}

void ShowStatus(const char *text) {
    SetCtrlVal(vars.pHandle, ui::TXTStatus, text);
}

int GraphSource() {
    int source = 0;
    GetCtrlVal(vars.pHandle, ui::RNGGraphSource, &source);
    return source;
}

// --- Parameter set on the panel ---

void GetPanelValues() {
    for (const PanelParameter &p : kPanelParameters)
        GetCtrlVal(vars.pHandle, p.control, &(Params().*p.variable));
    Params().para12 = 0;
    Params().para13 = 0;
    Params().para14 = 0;
    Params().para15 = 0;
    Params().para16 = 0;
    NoteExchangedValues();
}

void SetPanelValues() {
    for (const PanelParameter &p : kPanelParameters)
        SetCtrlVal(vars.pHandle, p.control, Params().*p.variable);
    NoteExchangedValues();
}

void PushGET(int target) {
    using namespace com232;
    if (target != DATFILE) {
        com232::vars.order = target == RAM ? kCmdReadRam : kCmdReadEeprom;
        CopyVarsToPP();
        FlushBoth(com232::vars.com);
        FillTxBuf(com232::vars.order, com232::vars.pp);
        com232::vars.rx_flag = 0;
        if (WriteFrame())
            ShowStatus("Waiting for parameter-frame ...");
        WaitRxFull();
        if (com232::vars.rx_flag == 1) {
            GetRxBuf(PNUM);
            CopyPPtoVars();
            ShowStatus("Parameter-frame received! - Line Ok!");
            SetPanelValues();
        }
    }
    ShowStatus(com232::vars.szStatus);
}

// --- Parameter file ---

void SendParaToFile() {
    GetPanelValues();
    com232::CopyVarsToPP();
    unsigned int words[PNUM];
    std::copy(com232::vars.pp, com232::vars.pp + PNUM, words);
    vars.fileResult = ArrayToFile(vars.file_name, words, PNUM, kFieldWidth);
    if (vars.fileResult != 0)
        ShowStatus("Parameter file could not be written - old file kept!");
}

void ReadParaFromFile() {
    if (FileSelect(kButtonLoad) <= 0)
        return;
    unsigned int words[PNUM];
    const int result = FileToArray(vars.file_name, words, PNUM);
    vars.fileResult  = result == PNUM ? 0 : result;
    if (result != PNUM) {
        ShowStatus(FileErrorText(result));
        return;
    }
    for (int i = 0; i < PNUM; ++i)
        com232::vars.pp[i] = static_cast<std::uint16_t>(words[i]);
    com232::CopyPPtoVars();
}

int SelectParameterFileForSave() {
    return FileSelect(kButtonOk);
}

// --- Sample histories ---

void FillarrayRAW(int a, int b) {
    for (int s = 0; s < kSamples; ++s) {
        vars.arrayRAW[2 * s]     = a;
        vars.arrayRAW[2 * s + 1] = b;
    }
}

void FillarrayNORM(int referenceLevel, int normLevel) {
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

// --- Strip charts and LEDs ---

void PlotRAWValues() {
    Shift(vars.arrayRAW, kRawValues, -kRawTraces, vars.arrayRAW);
    TakeLiveReply();
    vars.arrayRAW[kRawValues - 2] = vars.adcCHA;
    vars.arrayRAW[kRawValues - 1] = vars.adcCHB;
    SetChartLayout(ui::ChartRAW, kRawTraces);
    PlotStripChart(vars.pHandle, ui::ChartRAW, vars.arrayRAW, kRawValues, 0, 0, kTypeDouble);
    ShowLiveIndicators();
}

void PlotNORMValues(double *history) {
    Shift(history, kNormValues, -kNormTraces, history);
    TakeLiveReply();
    history[kNormValues - 4] = 0.0;
    history[kNormValues - 3] = 0.0;
    history[kNormValues - 2] = vars.valREF;
    history[kNormValues - 1] = vars.valNORM;
    SetChartLayout(ui::ChartNORM, kNormTraces);
    for (int trace = 0; trace < kNormTraces; ++trace)
        SetTraceAttribute(vars.pHandle, ui::ChartNORM, trace + 1, kAttrTraceColor,
                          kNormTraceColour[trace]);
    PlotStripChart(vars.pHandle, ui::ChartNORM, history, kNormValues, 0, 0, kTypeDouble);
    ShowLiveIndicators();
}

void DispLEDState(int state) {
    if (state < 0 || state > 3)
        return;
    SetCtrlVal(vars.pHandle, ui::LEDState1, state & 1);
    SetCtrlVal(vars.pHandle, ui::LEDState2, (state >> 1) & 1);
}

// --- Data curve ---

void PlotDATACurve(const std::uint16_t *curveA, const std::uint16_t *curveB,
                   const std::uint16_t *upper, const std::uint16_t *lower,
                   const std::uint16_t *referenceLine) {
    SetCtrlAttribute(vars.pHandle, ui::ChartRAW, kAttrVisible, 0);
    SetCtrlAttribute(vars.pHandle, ui::ChartNORM, kAttrVisible, 0);
    SetAxisScalingMode(vars.pHandle, ui::GraphDATA, kAxisX, kScaleManual, kAxisXMin, kAxisXMax);
    DeleteGraphPlot(vars.pHandle, ui::GraphDATA, kAllPlots, kRefreshImmediate);
    const int source = GraphSource();
    if (source == kSourceRaw) {
        SetCtrlAttribute(vars.pHandle, ui::GraphDATA, kAttrYName, "RAW-values / [ADC-units]");
        SetAxisScalingMode(vars.pHandle, ui::GraphDATA, kAxisLeftY, kScaleManual, kAxisYMin,
                           kAxisYMax);
        PlotCurve(curveA, kPlotThickLine, kLineSolid, kBlue);
        PlotCurve(curveB, kPlotThickLine, kLineSolid, kBrightGreen);
    } else if (source == kSourceNorm) {
        SetCtrlAttribute(vars.pHandle, ui::GraphDATA, kAttrYName, "NORM=RAW / [ADC-units]");
        SetAxisScalingMode(vars.pHandle, ui::GraphDATA, kAxisLeftY, kScaleManual, kAxisYMin,
                           kAxisYMax);
        PlotCurve(curveA, kPlotThickLine, kLineSolid, kRed);
        PlotCurve(upper, kPlotThickLine, kLineSolid, kGreen);
        PlotCurve(lower, kPlotThickLine, kLineSolid, kGreen);
        PlotCurve(referenceLine, kPlotThinLine, kLineDashed, kBlack);
    }
}

} // namespace gui
