// The panel module: the parameter set on the panel and in the parameter file, the strip-chart
// plots and LEDs with the sample histories behind them, the data-curve plot, and the status
// line. A Panel is one loaded main panel driving one line; its state is its own, other
// modules call its members.
#pragma once

#include "com232.h"
#include "status.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace gui {

using com232::GraphSource;
using status::Outcome;

constexpr int kSamples       = 100; // samples in a strip-chart history
constexpr int kRawTraces     = 2;
constexpr int kNormTraces    = 4;
constexpr int kRawValues     = kSamples * kRawTraces;
constexpr int kNormValues    = kSamples * kNormTraces;
constexpr int kCurvePoints   = com232::kCurvePoints;
constexpr int kShiftBadCount = -20003;
constexpr int kShiftTooFar   = -20102;

using Curve = std::array<std::uint16_t, kCurvePoints>;

// The names of a capture's curves, in the graph's legend and in the report.
constexpr const char *kCurveA         = "Channel A";
constexpr const char *kCurveB         = "Channel B";
constexpr const char *kCurveNorm      = "NORM";
constexpr const char *kCurveUpper     = "Upper threshold";
constexpr const char *kCurveLower     = "Lower threshold";
constexpr const char *kCurveReference = "Reference";

// A captured data curve as it is drawn and saved: the curves of its source with the
// threshold and reference lines beside them.
struct DataCurve {
    GraphSource source = GraphSource::Raw; // the graph source the blocks were fetched for
    Curve a{}, b{}, upper{}, lower{}, reference{};
};

// The panel's side of word `word` of the set: whether a control shows it, the value the
// control shows, whether it is marked as not sent, and its label.
struct PanelWord {
    bool control        = false; // average and words 11 to 15 have none
    std::uint16_t value = 0;
    bool notSent        = false;
    std::string label;
};

// Reads and checks a parameter file without touching a set: the load's rules and texts. A
// file is taken only when it holds exactly sixteen whole numbers from 0 to 65535.
struct ParameterFileRead {
    Outcome outcome;
    com232::Words words{};
    std::string zeroedWords; // words 11 to 15 not 0, which Send transmits as 0: what to tell
};
ParameterFileRead ReadParameterFile(const std::string &path);

// The sample histories' array operations.
int Copy1D(const double *input, int count, double *output);
int Shift(const double *input, int count, int shift, double *output);

class Panel {
  public:
    // The loaded main panel (handle), the line it drives and the project folder.
    Panel(int handle, com232::Line &line, std::string projectDir);

    int Handle() const { return pHandle_; }
    com232::Line &Line() const { return line_; }
    const std::string &ProjectDir() const { return proj_dir_; }
    void SetProjectDir(const std::string &directory) { proj_dir_ = directory; }
    // The project folder, made first when it does not stand yet: an installed program's
    // folder under the user's documents appears only once something goes there. 0, else the
    // negated errno of making it.
    int MakeProjectDir() const;
    // Start values: the parameter file's name "RMX7para.cfg", both histories zero.
    void InitVars();

    // --- Status line ---
    // Writes a text to the status line; its tooltip says why, "" none.
    void ShowStatus(const char *text) const;
    void ExplainStatus(const char *text) const;
    // The same tooltip, also written to the trace as a DIAG line when there is one: what the
    // last action did or why it failed, beside its status text.
    void Explain(const std::string &detail) const;
    // The short line beside the status text, in plain words: what to check on the line; ""
    // none. The status text itself stays as it is.
    void ShowHint(const std::string &hint) const;
    // The value of the graph-source switch.
    GraphSource GraphSourceShown() const;

    // --- Parameter set on the panel ---
    // Both leave panel and parameter set agreeing, so every control's not-sent mark is
    // cleared; it comes back when the operator types a value other than the set's.
    void GetPanelValues();
    void SetPanelValues();
    // Where the values on the panel came from, in the parameter controls' tooltips beside
    // what each control is: not read from a controller (InitVars), loaded from a file (the
    // load), or read from the controller (this, after a Get that was answered).
    void NoteReadFromController();
    // The set after a good parameter fetch, on the panel and noted as read (the line's sink).
    void ShowFetchedParameters();
    // The Reference control's mark of a teach that the controller answered: the reference
    // there may differ from the panel's until the next Get, fetch or Send clears it.
    void MarkTaught(bool taught);
    PanelWord PanelWordOf(int word) const;

    // --- Parameter file ---
    // One that cannot be written or read, or is refused, leaves the file and the parameter
    // set as they were and says why on the status line, with the file, line and reason as
    // the outcome's detail (FileFailed); a cancelled dialog does nothing. Ok says which
    // file, as its detail. The save dialog; > 0 when a file was chosen.
    int SelectParameterFileForSave();
    Outcome SendParaToFile();
    Outcome ReadParaFromFile();
    // The parameter file chosen last, and the words last saved to or loaded from it in this
    // session; none before.
    const std::string &ParameterFile() const { return file_name_; }
    const std::optional<com232::Words> &ParameterFileWords() const { return fileWords_; }

    // --- Sample histories ---
    // A history filled holds the level until replies push it out; its chart draws only the
    // replies' samples, from the next plot on.
    void FillarrayRAW(int a, int b);
    void FillarrayNORM(int referenceLevel, int normLevel);
    // What the charts were given last, oldest sample first (kRawValues, kNormValues).
    const double *RawHistory() const { return arrayRAW_; }
    const double *NormHistory() const { return arrayNORM_; }

    // --- Strip charts, indicators and LEDs ---
    // One live reply as a new sample of its chart, on the indicators and on the LEDs.
    void PlotRAWValues(const com232::LiveReply &reply);
    void PlotNORMValues(const com232::LiveReply &reply);
    // The reference the last plot showed: the parameter set's when the hwmode control reads
    // 0 or 2, else the controller's.
    std::uint16_t ReferenceShown() const { return valREF_; }
    void DispLEDState(int state);

    // --- Data curve ---
    // Draws a capture under the rules of the source the switch shows now, which may differ
    // from the one it was fetched for.
    void PlotDATACurve(const DataCurve &curve);

  private:
    enum class Origin { NotRead, Controller, File }; // where the panel's values came from

    void NoteExchangedValues(const com232::Parameters &params);
    void ShowParameterTips();
    void NoteOrigin(Origin origin, const std::string &file = {});
    int FileSelect(int button);
    std::uint16_t ChooseReference(const com232::LiveReply &reply) const;
    void ShowLiveIndicators(const com232::LiveReply &reply);
    void SetChartLayout(int chart, int traces);
    void DrawRealSamples(int chart, int &real) const;
    void PlotCurve(const Curve &y, int plotStyle, int lineStyle, int colour,
                   const char *name) const;

    int pHandle_;
    com232::Line &line_;
    std::string proj_dir_;
    std::string file_name_ = "RMX7para.cfg";
    std::optional<com232::Words> fileWords_; // last saved to or loaded from file_name_
    double arrayRAW_[kRawValues]   = {};
    double arrayNORM_[kNormValues] = {};
    // Samples of a reply in each history since its last fill: the charts draw only these, so
    // that the fill level is kept but not drawn as a drop to it.
    int realRAW_ = 0, realNORM_ = 0;
    std::uint16_t valREF_ = 0;
    Origin origin_        = Origin::NotRead;
    std::string loadedFrom_; // the file of Origin::File
};

} // namespace gui
