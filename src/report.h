// The commissioning report: which controller got which parameters, as one PDF file. The
// controller's RAM and EEPROM sets are read with Get's requests and described beside the
// unit, its line, the last data curve, who made the report and when. Making one changes
// nothing the operator set up: the panel's values and their not-sent marks, the parameter
// set, the transfer target and the last capture stay as they were.
#pragma once

#include "com232.h"
#include "status.h"

#include <string>

namespace report {

using status::Outcome;

struct Request {
    std::string path;         // the PDF file
    std::string operatorName; // empty: the login name of the user running the program
    std::string unitId;       // the unit's serial number or asset tag; empty: not given
    std::string station;      // where it is commissioned; empty: not given
    std::string note;         // the operator's; empty: none
    bool fromPanel = false;   // the panel's values with their not-sent marks, and the
                              // parameter file of this session, beside RAM and EEPROM
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

// Checks the folder, reads RAM, then EEPROM, as Get does, and writes the report whole or
// not at all. A folder that takes no file ends it before the line with "Report not saved -
// ..." (FileFailed), as a file that cannot be written does; a read without an answer ends
// it with Get's time-out text and no file (NoReply); else "Report saved: ...".
Made MakeReport(const Request &request);

// The fingerprint of a set of sixteen words, as the report prints it: a later report,
// rmx7ctl diff and a parameter file's set compare by it.
std::string Fingerprint(const com232::Words &words);

// The Report button: asks for the operator, the unit id, the station and a note (the last
// entries remembered, the login name the first time) and where (RMX7report-<unit
// id>-<stamp>.pdf in the project folder by default; the dialog asks before it replaces a
// file), then makes the report from the panel. Cancelled when a dialog was.
Outcome ReportFromPanel();

} // namespace report
