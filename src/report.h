// The commissioning report: which controller got which parameters, as one PDF file. The
// controller's RAM and EEPROM sets are read with Get's requests and described beside the
// unit, its line, the last data curve, who made the report and when. Making one changes
// nothing the operator set up: the panel's values and their not-sent marks, the parameter
// set, the transfer target and the last capture stay as they were.
#pragma once

#include "com232.h"
#include "gui.h"
#include "job.h"
#include "status.h"

#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace report {

using status::Outcome;

// The title of every report, and of the Report button's form.
constexpr const char *kTitle = "Commissioning report";

// The newest audit records of its line that a report lists.
constexpr std::size_t kAuditRecords = 10;

struct Request {
    std::string path;         // the PDF file
    std::string operatorName; // empty: the login name of the user running the program
    std::string unitId;       // the unit's serial number or asset tag; empty: not given
    std::string station;      // where it is commissioned; empty: not given
    std::string note;         // the operator's; empty: none
    // Each word as the panel shows it, with its label and its not-sent mark.
    std::vector<gui::PanelWord> panel;
    // The panel's values with their marks, and the parameter file of this session, beside
    // RAM and EEPROM (the Report button); else only the labels are taken.
    bool fromPanel = false;
    std::string parameterFile;
    std::optional<com232::Words> fileWords;
    // The last capture and when it was taken, when there is one.
    std::optional<gui::DataCurve> capture;
    std::time_t captureTime = 0;
    // The line's approved set, as its parameter server keeps it, beside RAM and EEPROM, with
    // what is known of it (fingerprint, firmware, stored when and by whom); shown is false
    // where no parameter server is asked, and words empty where it keeps none.
    struct Approved {
        bool shown = false;
        std::optional<com232::Words> words;
        std::string note;
    } approved;
    // The line's newest audit records, one line each, oldest first; shown is false where
    // no trail is asked.
    struct Audit {
        bool shown = false;
        std::vector<std::string> records;
    } audit;
};

struct Made {
    Outcome outcome;
    com232::Words ram{}, eeprom{}; // as read; zero when the read failed
    std::string fingerprint;       // of the EEPROM set; empty when it was not read
    std::string fileProblem;       // why the file could not be written, in plain words
};

// Why no report can be made at path before anything is read ("the folder /x does not
// exist"), or "" when its folder takes a new file.
std::string FolderProblem(const std::string &path);

// Checks the folder, reads RAM, then EEPROM, of line as Get does, and writes the report
// whole or not at all. A folder that takes no file ends it before the line with "Report
// not saved - ..." (FileFailed), as a file that cannot be written does; a read without an
// answer ends it with Get's time-out text and no file (NoReply); else "Report saved: ...".
// The texts go to the line's status sink.
job::Task<Made> MakeReport(com232::Line &line, Request request);

// The default name of a report, "RMX7report-20261208-101502.pdf", with a unit id
// "RMX7report-U-4711-20261208-101502.pdf" (only letters, digits, '.', '-' and '_' of it
// kept, the others made '_').
std::string ReportFileName(const std::string &unitId = {});

// The login name of the user running the program: a report's operator when none is given.
std::string LoginName();

// The fingerprint of a set of sixteen words, as the report prints it: a later report,
// rmx7ctl diff and a parameter file's set compare by it.
std::string Fingerprint(const com232::Words &words);

} // namespace report
