// The commissioning report: a plain description of one controller as it was set up (the
// unit, its parameter sets, its data curve, who did it) turned into one archival PDF file,
// A4 portrait, PDF/A-1b, every font embedded, the curve drawn as vectors.
//
// Page 1 holds the title, the header rows, the parameter table and the fingerprint; then,
// when the rows carry them, a page of each word's unit and meaning; then the data curve (or
// the note that there is none), the operator's note and the signature lines; a long note
// runs on to further pages. Every page ends with the
// program's name, the unit and its station where they are given, and "Page x of y".
//
// Thread rule: the program thread, with the engine started (StartEngine): the text is
// laid out with the platform's fonts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ReportHeaderRow {
    std::string label; // "Firmware", "Port", "Operator", ...
    std::string value; // shown in its printable form: a controller's text may hold any byte
};

// One word of the parameter set. The RAM and EEPROM values are marked where they differ.
struct ReportParameterRow {
    int word = 0;           // 0 to 15, its place in a frame
    std::string name;       // "power"
    std::string panelLabel; // the label on the panel; empty for a word without a control
    std::uint16_t ram = 0, eeprom = 0;
    std::uint16_t panel = 0; // read when the table has the panel's column and the word a label
    bool notSent        = false;
    std::uint16_t file  = 0;    // read when the table has a parameter file's column
    std::string unit;           // "ADC units"; empty where it is not known
    std::string meaning;        // one line on what the word is; empty: none
    std::uint16_t approved = 0; // read when the table has the approved set's column
};

struct ReportParameterTable {
    std::vector<ReportParameterRow> rows; // in word order
    bool panelColumn = false;             // the panel's values, each with its not-sent mark
    std::string fileName; // the parameter file whose values make a column; empty: none
    // The line's approved set as a column, marked where EEPROM differs from it; without a
    // set (hasApproved false) the column says none is stored. note: what is known of it.
    bool approvedColumn = false;
    bool hasApproved    = false;
    std::string approvedNote;
};

// A curve of the data graph, styled as the panel draws it.
struct ReportCurve {
    std::string name;             // in the legend: "A", "NORM", "upper threshold", ...
    std::vector<std::uint16_t> y; // sample k at x = k, as the panel's graph: sample 0 is
                                  // left of the axis, which starts at 1
    unsigned color = 0;           // 0xRRGGBB
    bool thick = false, dashed = false;
};

// The captured data curve, over the graph's fixed axes: x from 1 to 128, y from 0 to 1023
// (ADC units); values beyond them are clipped as on the panel.
struct ReportCapture {
    bool present = false;            // false: the report says absentNote instead
    std::string source;              // "RAW" or "NORM"
    std::string taken;               // when it was captured, as the caller writes a time
    std::string xCaption;            // "Sample"
    std::string yCaption;            // "ADC units"
    std::vector<ReportCurve> curves; // drawn in this order, the last on top
    std::string absentNote;          // "No data curve captured since the program started."
};

struct ReportDocument {
    std::string title;   // the PDF's title and the first page's heading
    std::string program; // name and version: the PDF's creator and every page's foot
    std::string author;  // the operator: the PDF's author; empty: none
    std::string unitId;  // the unit and its station, at the foot of every page; empty: none
    std::string station;
    std::vector<ReportHeaderRow> header; // under the heading, in this order
    ReportParameterTable parameters;
    std::string fingerprint; // of the EEPROM set, as ParameterFingerprint gives it
    ReportCapture capture;
    std::string note; // the operator's; line breaks kept; empty: the section says "none"
    // The line's newest audit records, a line each; the section is left out unless shown.
    bool auditShown = false;
    std::vector<std::string> audit;
};

struct ReportWriteResult {
    int error = 0;      // 0 written; else the negated errno of the failing step (-EIO when
                        // the PDF itself could not be made)
    std::string reason; // empty when written; else what failed, in plain words
    explicit operator bool() const { return error == 0; }
};

// Writes the report to path, whole or not at all: the file is made in memory and written
// as ReplaceTextFile writes, never through a link planted beside it. A failure leaves
// neither a new path nor a part of it behind; an older file at path stays as it was.
ReportWriteResult WriteReport(const ReportDocument &document, const char *path);
