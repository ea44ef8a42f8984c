// The status texts that name a file or a reason.
#include "status.h"

namespace status {

std::string CannotRecord(const char *what, const std::string &file, const char *reason) {
    return std::string(what) + " - cannot write " + file + ": " + reason + "!";
}

std::string CurveSaved(const std::string &stem) {
    return "Curve saved: " + stem + ".csv, .png, .pdf";
}

std::string ChartSaved(const std::string &file) {
    return "Chart saved: " + file;
}

std::string CurveNotSaved(const std::string &file) {
    return "Curve not saved - cannot write " + file + "!";
}

std::string ChartNotSaved(const std::string &file) {
    return "Chart not saved - cannot write " + file + "!";
}

std::string RecordingShown(const std::string &file) {
    return "Recording shown: " + file;
}

std::string RecordingNotShown(const std::string &why) {
    return "Recording not shown - " + why;
}

std::string ReportSaved(const std::string &file) {
    return "Report saved: " + file;
}

std::string ReportNotSaved(const std::string &file) {
    return "Report not saved - cannot write " + file + "!";
}

} // namespace status
