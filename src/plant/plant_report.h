// A line's commissioning report as its agent sends it in its answer (the PDF in base64 with
// its SHA-256), written into a folder as NAME-YYYYMMDD-HHMM.pdf.
#pragma once

#include "plant/plant_requests.h"

#include <string>

namespace plant {

// NAME-YYYYMMDD-HHMM.pdf of line at the Unix time, local time; NAME made safe for a file
// name as for a topic.
std::string ReportFileName(const std::string &line, double time);

struct SavedReport {
    int exitCode = 0; // 0, or 6: the answer carries no good PDF, or the file cannot be made
    std::string path;
    std::string error;
};

// Writes the PDF of answer (a "report" answer that went well) into folder, whole and checked
// against its SHA-256. A file of that name is never replaced: a second report of the same
// line in the same minute is NAME-YYYYMMDD-HHMM-2.pdf, and so on.
SavedReport SaveReport(const LineResult &answer, const std::string &folder, double time);

} // namespace plant
