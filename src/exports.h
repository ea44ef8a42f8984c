// Saving what the operator sees: the last captured curve as CSV, PNG and PDF, and the
// strip chart as PNG, under names "RMX7curve-<RAW|NORM>-<yyyymmdd-hhmmss>.*" in the
// project folder by default. Every file is written whole or not at all.
#pragma once

#include <string>

namespace exports {

struct Vars {
    bool captured = false; // a curve has been captured since the start
    int source    = 0;     // the graph source of that capture
    std::string header;    // the comment lines as they were at the capture
};

extern Vars vars;

// Notes the capture just drawn, with the parameter set and firmware it was taken with.
void NoteCapture(int source);
// The last capture as CSV: the comment lines, then x from 1 to 128 and the columns drawn
// for its source (A,B for RAW; NORM,upper,lower,reference for NORM).
std::string CurveCsv();
// Asks where, then writes the CSV and a PNG and a PDF of the graph beside it; the status
// line says what was written or why not.
void SaveCurve();
// Asks where, then writes the strip chart of the graph source as PNG.
void SaveChart();
// The save buttons are dimmed while a run is going (a dialog would stall the line) and
// Save curve until there is a capture.
void DimSaveButtons(bool runGoing);

} // namespace exports
