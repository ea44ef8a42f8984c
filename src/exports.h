// Saving what the operator sees: the last captured curve as CSV, PNG and PDF, and the
// strip chart as PNG, under names "RMX7curve-<RAW|NORM>-<yyyymmdd-hhmmss>.*" in the
// project folder by default. Every file is written whole or not at all. The exports reach no
// panel: the pictures come from a function the program passes, and each save returns what
// happened for the program to show.
#pragma once

#include "gui.h"
#include "status.h"

#include <ctime>
#include <functional>
#include <optional>
#include <string>

namespace exports {

using status::Outcome;

// Writes the picture of what a graph or chart shows to path as format (kImagePng,
// kImagePdf); 0 when it was written.
using Picture = std::function<int(const char *path, int format)>;

// The default name of a save of source, "RMX7curve-NORM-20261208-101502.csv".
std::string CurveFileName(com232::GraphSource source, const char *extension);

class Exports {
  public:
    // Nothing captured yet.
    void InitVars();
    // Notes the capture just drawn, with the comment lines of the unit it was taken from.
    void NoteCapture(const gui::DataCurve &curve, std::string header);
    // The last capture, when there is one, and when it was taken (0 before one).
    const std::optional<gui::DataCurve> &LastCapture() const { return capture_; }
    std::time_t LastCaptureTime() const { return taken_; }
    // The last capture as CSV: the comment lines, then x from 1 to 128 and the columns drawn
    // for its source (A,B for RAW; NORM,upper,lower,reference for NORM).
    std::string CurveCsv() const;
    // The CSV to chosen (".csv" added when missing), a PNG and a PDF of the graph beside it;
    // the first file that cannot be written ends the save.
    Outcome SaveCurve(const std::string &chosen, const Picture &graph) const;

  private:
    std::optional<gui::DataCurve> capture_; // the last one since the start
    std::string header_;                    // the comment lines as they were at the capture
    std::time_t taken_ = 0;
};

// The strip chart's picture to path as PNG.
Outcome SaveChart(const std::string &path, const Picture &chart);

} // namespace exports
