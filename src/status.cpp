// The status texts that name a file or a reason.
#include "status.h"

#include <cstdio>

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

namespace {

std::string AtLine(const std::string &file, int line) {
    return file + ": line " + std::to_string(line) + ": ";
}

std::string Quoted(const std::string &token) {
    return "'" + token + "'";
}

} // namespace

std::string FileCannotBeRead(const std::string &file, const char *reason) {
    return file + " cannot be read: " + reason;
}

std::string FileTooFew(const std::string &file, int values) {
    return file + ": fewer than 16 values, the file ends after " + std::to_string(values);
}

std::string FileTooMany(const std::string &file, int line, const std::string &token) {
    return AtLine(file, line) + "a 17th value " + Quoted(token) + ", more than the 16 of a set";
}

std::string FileNotWholeNumber(const std::string &file, int line, const std::string &token) {
    return AtLine(file, line) + Quoted(token) + " is not a whole number from 0 to 65535";
}

std::string FileNegative(const std::string &file, int line, const std::string &token) {
    return AtLine(file, line) + Quoted(token) + " is negative; a word holds 0 to 65535";
}

std::string FileAbove65535(const std::string &file, int line, const std::string &token) {
    return AtLine(file, line) + Quoted(token) + " is above 65535, the largest value of a word";
}

std::string FileCannotBeWritten(const std::string &file, const char *reason, bool kept) {
    return file + " cannot be written: " + reason +
           (kept ? "; the older file of that name is kept" : "");
}

std::string ParametersSaved(const std::string &file) {
    return "Parameters saved to " + file;
}

std::string ParametersLoaded(const std::string &file) {
    return "Parameters loaded from " + file;
}

std::string LoadedWordsSentAsZero(const std::string &values) {
    return "Words 11 to 15 (para12 to para16) of the file hold " + values +
           "; Send transmits them as 0.";
}

std::string ParametersRead(const char *memory) {
    return std::string("Parameters read from the controller's ") + memory;
}

std::string ParametersSent(const char *memory) {
    return std::string("Parameters sent to the controller's ") + memory;
}

std::string RecordingTo(const std::string &file) {
    return "Recording to " + file;
}

std::string RecordedTo(const std::string &file) {
    return "Recorded to " + file;
}

namespace {

std::string PortName(int port, const std::string &device) {
    return "COM" + std::to_string(port) + (device.empty() ? "" : " (" + device + ")");
}

} // namespace

std::string NoAnswer(int port, const std::string &device, double seconds) {
    char waited[32];
    std::snprintf(waited, sizeof waited, "%.1f s", seconds);
    const std::string com = "COM" + std::to_string(port);
    return "No answer on " + PortName(port, device) + " within " + waited +
           ". Check that the controller is switched on, that its cable is plugged in at both "
           "ends, and that " +
           com + " is the port it is on; --simulate tries the program without hardware.";
}

std::string SilentLineHint(int port, const std::string &device) {
    return "No answer on " + PortName(port, device) + ": check power, cable and port";
}

std::string LostLineHint(int port, const std::string &device) {
    return PortName(port, device) + " is gone: plug it in; the next command opens it";
}

std::string WrongAnswerHint(int port, const std::string &device) {
    return PortName(port, device) + " answers, but not as the controller: check the port";
}

std::string PortFailedHint(int port, const std::string &device) {
    return PortName(port, device) + " cannot be opened: the status tooltip says why";
}

std::string PortReopened(int port, const std::string &device) {
    return PortName(port, device) +
           " is back: opened again for the next command, without the start-up's exchanges.";
}

std::string NotTheEcho(int port, const std::string &device) {
    return "An answer came on " + PortName(port, device) +
           ", but not the controller's echo: another device may be on this port, or a "
           "controller of another kind.";
}

std::string LoadedNotRead(const std::string &file) {
    return "Loaded from " + file + ", not read from a controller.";
}

std::string ParameterTip(const parameters::Parameter &parameter) {
    const std::string unit = *parameter.unit ? std::string(" ") + parameter.unit : "";
    return "Word " + std::to_string(parameter.word) + " of the parameter set, rmx7ctl name " +
           parameter.name + ", " + std::to_string(parameter.minimum) + " to " +
           std::to_string(parameter.maximum) + unit + ". " + parameter.meaning +
           " Send, Teach and Reset carry the value shown here.";
}

std::string AuditNotWritten(const std::string &why) {
    return "Audit trail not written - " + why +
           "; its records wait in memory and are written as soon as it can be.";
}

std::string AuditWrittenAgain(const std::string &file, std::size_t records) {
    return "Audit trail written again: " + file + ", " + std::to_string(records) +
           (records == 1 ? " record that waited" : " records that waited");
}

// --- The plant ---

std::string WentOfflineWaiting(const std::string &verb) {
    return "the line went offline before it answered " + verb +
           "; whether it was done is not "
           "known";
}

std::string LineOfflineSince(const std::string &since) {
    return "the line is offline " + since;
}

std::string NoControllerOnLine(const std::string &text) {
    return "no controller answers on the line" + (text.empty() ? "" : " (" + text + ")");
}

std::string WaitingForAnswer(const std::string &verb) {
    return "waiting for the answer to " + verb;
}

const char *ExitCodeMeaning(int code) {
    switch (code) {
    case 0:
        return "ok";
    case 1:
        return "the tool could not start";
    case 2:
        return "refused, or a wrong request";
    case 3:
        return "the port cannot be opened";
    case 4:
        return "no controller, or a time-out";
    case 5:
        return "differences found";
    case 6:
        return "a file cannot be read or written";
    default:
        return "an exit code of no known meaning";
    }
}

} // namespace status
