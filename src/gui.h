// Panel values of the parameter set, the parameter file, the parameter fetch, the
// strip-chart plots and LEDs, the sample histories and the data-curve plot.
#pragma once

#include <cstdint>

namespace gui {

constexpr int kSamples       = 100; // samples in a strip-chart history
constexpr int kRawTraces     = 2;
constexpr int kNormTraces    = 4;
constexpr int kRawValues     = kSamples * kRawTraces;
constexpr int kNormValues    = kSamples * kNormTraces;
constexpr int kCurvePoints   = 128;
constexpr int kPathSize      = 260;
constexpr int kShiftBadCount = -20003;
constexpr int kShiftTooFar   = -20102;

// Graph sources, the values of the graph-source switch.
constexpr int kSourceRaw  = 0;
constexpr int kSourceNorm = 1;

struct Vars {
    int pHandle                   = 0;
    char proj_dir[kPathSize]      = {};
    char file_name[kPathSize]     = {};
    int type                      = kSourceNorm; // the chart the live loop feeds
    double arrayRAW[kRawValues]   = {};
    double arrayNORM[kNormValues] = {};
    // The live reply's words.
    std::int32_t valNORM = 0;
    std::uint16_t adcCHA = 0, adcCHB = 0, Amax = 0, Amin = 0, UPval = 0, LOval = 0, refval = 0,
                  instate = 0;
    std::uint16_t valREF  = 0;
    // Curves of the data graph; the captured curves themselves are the block read's.
    std::uint16_t xArray[256]   = {};
    std::uint16_t yArrayN[256]  = {};
    std::uint16_t upArray[256]  = {};
    std::uint16_t loArray[256]  = {};
    std::uint16_t refArray[256] = {};
    std::int32_t upTHR          = 0;
    std::int32_t loTHR          = 0;
    // The last parameter file read or write: 0 done, a kFileErr code, or 1 while none ran.
    int fileResult = 1;
};

extern Vars vars;

// The project folder (proj_dir), made first when it does not stand yet: an installed
// program's folder under the user's documents appears only once something goes there.
// 0, else the negated errno of making it.
int MakeProjectDir();
// Writes a text to the status line.
void ShowStatus(const char *text);
// The value of the graph-source switch: kSourceRaw or kSourceNorm.
int GraphSource();

// --- Parameter set on the panel ---
// Both leave panel and variables agreeing, so every control's not-sent mark is cleared;
// it comes back when the operator types a value other than the variable's.
void GetPanelValues();
void SetPanelValues();
void PushGET(int target);

// --- Parameter file ---
// A file that cannot be written or read leaves the file and the parameter set as they
// were and says why on the status line.
// The save dialog; > 0 when a file was chosen into file_name.
int SelectParameterFileForSave();
void SendParaToFile();
void ReadParaFromFile();

// --- Sample histories ---
void FillarrayRAW(int a, int b);
void FillarrayNORM(int referenceLevel, int normLevel);
int Copy1D(const double *input, int count, double *output);
int Shift(const double *input, int count, int shift, double *output);

// --- Strip charts and LEDs ---
void PlotRAWValues();
void PlotNORMValues(double *history);
void DispLEDState(int state);

// --- Data curve ---
void PlotDATACurve(const std::uint16_t *curveA, const std::uint16_t *curveB,
                   const std::uint16_t *upper, const std::uint16_t *lower,
                   const std::uint16_t *referenceLine);

} // namespace gui
