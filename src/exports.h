// Saving what the operator sees: the last captured curve as CSV, PNG and PDF, and the
// strip chart as PNG, under names "RMX7curve-<RAW|NORM>-<yyyymmdd-hhmmss>.*" in the
// project folder by default. Every file is written whole or not at all.
#pragma once

#include "gui.h"
#include "status.h"

#include <ctime>
#include <optional>
#include <string>

namespace exports {

using status::Outcome;

// Nothing captured yet.
void InitVars();
// Notes the capture just drawn, with the parameter set and firmware it was taken with.
void NoteCapture(const gui::DataCurve &curve);
// The last capture, when there is one, and when it was taken (0 before one).
const std::optional<gui::DataCurve> &LastCapture();
std::time_t LastCaptureTime();
// The last capture as CSV: the comment lines, then x from 1 to 128 and the columns drawn
// for its source (A,B for RAW; NORM,upper,lower,reference for NORM).
std::string CurveCsv();
// Asks where, then writes the CSV and a PNG and a PDF of the graph beside it; the status
// line says what was written or why not. Cancelled when the dialog was.
Outcome SaveCurve();
// Asks where, then writes the strip chart of the graph source as PNG.
Outcome SaveChart();
// The save buttons are dimmed while a run is going (a dialog would stall the line) and
// Save curve until there is a capture.
void DimSaveButtons(bool runGoing);

} // namespace exports
