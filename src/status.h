// The texts of the status line, each defined here once, and the results of the operations
// that can fail. Operators, service notes and scripts know the texts word for word, so they
// never change; the program decides what happened by the result, never by a text.
#pragma once

#include "parameters.h"

#include <cstddef>
#include <string>
#include <utility>

namespace status {

// --- Start-up and port set-up ---
constexpr const char *kInitVars         = "InitVars";
constexpr const char *kInitComPort      = "Init COM-Port ...";
constexpr const char *kEchoOk           = "Echo Check - Line Ok!";
constexpr const char *kNoEcho           = "Timeout < 36 Bytes";
constexpr const char *kBadEcho          = "read error - not sync byte 0xAA!";
constexpr const char *kFetchWaiting     = "Waiting for parameter-frame ...";
constexpr const char *kFetchReceived    = "Parameter-frame received! - Line Ok!";
constexpr const char *kNoFetchReply     = "Timeout-RS-232...";
constexpr const char *kFirmwareWaiting  = "Waiting for firmware info ...";
constexpr const char *kNoFirmware       = "Timeout - reading firmware info!";
constexpr const char *kFirmwareTooShort = "Error reading firmware-info!";

// Texts of a refused open, by the serial services' result code.
constexpr const char *kOpenUnknownSystem    = "Unknown system error";
constexpr const char *kOpenInvalidPort      = "Invalid port number";
constexpr const char *kOpenPortNotOpen      = "Port is not open";
constexpr const char *kOpenIO               = "Unknown I/0 error";
constexpr const char *kOpenNoPortFound      = "No serial port found";
constexpr const char *kOpenCannotOpen       = "Cannot open port";
constexpr const char *kOpenInvalidParameter = "Invalid parameter";
constexpr const char *kOpenTimeout          = "Timeout";
constexpr const char *kOpenOther            = "RS-232 error!";

// --- Parameter transfer ---
constexpr const char *kTransmit       = "Transmit...";
constexpr const char *kTransmitOk     = "Transmit Ok!";
constexpr const char *kReceive        = "Receive...";
constexpr const char *kDataTransferOk = "Data Transfer Ok!";
constexpr const char *kTeachPressed   = "Teach new Reference-Value ...";
constexpr const char *kLineOk         = "Line Ok!";
constexpr const char *kTeachActivated = "Teach-procedure activated!";
// Get and the live run share one time-out text, teach and reset another.
constexpr const char *kNoReply        = "Timeout RS232-Line!";
constexpr const char *kNoCommandReply = "Timeout RS-232!!";

// --- Parameter file ---
constexpr const char *kFileTooFew = "Parameter file holds fewer than 16 values - nothing loaded!";
constexpr const char *kFileNotNumber =
    "Parameter file holds a value that is not a number - nothing loaded!";
constexpr const char *kFileTooMany  = "Parameter file holds more than 16 values - nothing loaded!";
constexpr const char *kFileNegative = "Parameter file holds a negative value - nothing loaded!";
constexpr const char *kFileAbove65535 =
    "Parameter file holds a value above 65535 - nothing loaded!";
constexpr const char *kFileUnreadable = "Parameter file not readable - nothing loaded!";
// Whether an older file of that name stands, and stays as it was.
constexpr const char *kFileNotWritten = "Parameter file could not be written - old file kept!";
constexpr const char *kFileNotMade    = "Parameter file could not be written - no file saved!";

// --- Data curve ---
constexpr const char *kBlockWaiting  = "Waiting for Data[64] ...";
constexpr const char *kBlockReceived = "Data[64] block received!";
constexpr const char *kNoBlock       = "Timeout-RS-232 while reading 64 data-words!";

// --- Recording, saving and viewing: a fixed part and what it names ---
constexpr const char *kRecordingStopped    = "Recording stopped";
constexpr const char *kRecordingNotStarted = "Recording not started";
// "<what> - cannot write <file>: <reason>!"
std::string CannotRecord(const char *what, const std::string &file, const char *reason);
// "Curve saved: <stem>.csv, .png, .pdf", "Chart saved: <file>"
std::string CurveSaved(const std::string &stem);
std::string ChartSaved(const std::string &file);
// "Curve not saved - cannot write <file>!", "Chart not saved - ..."
std::string CurveNotSaved(const std::string &file);
std::string ChartNotSaved(const std::string &file);
// "Recording shown: <file>", "Recording not shown - <why>"
std::string RecordingShown(const std::string &file);
std::string RecordingNotShown(const std::string &why);

// --- Commissioning report ---
// "Report saved: <file>", "Report not saved - cannot write <file>!"
std::string ReportSaved(const std::string &file);
std::string ReportNotSaved(const std::string &file);
// --- Beside the status line ---
// What its text does not say: which file, which line, which port, what to check. These go
// to the status line's tooltip and the trace's DIAG lines, to rmx7ctl's standard error and
// its --json results, never onto the status line itself.

// A parameter file refused: "<file>: line 7: '-5' is not a whole number from 0 to 65535".
std::string FileCannotBeRead(const std::string &file, const char *reason);
std::string FileTooFew(const std::string &file, int values);
std::string FileTooMany(const std::string &file, int line, const std::string &token);
std::string FileNotWholeNumber(const std::string &file, int line, const std::string &token);
std::string FileNegative(const std::string &file, int line, const std::string &token);
std::string FileAbove65535(const std::string &file, int line, const std::string &token);
// kept: an older file of that name stands and stays as it was.
std::string FileCannotBeWritten(const std::string &file, const char *reason, bool kept);
// "Parameters saved to <file>", "Parameters loaded from <file>"
std::string ParametersSaved(const std::string &file);
std::string ParametersLoaded(const std::string &file);
// Words 11 to 15 of a loaded file that are not all 0: "Words 11 to 15 (para12 to para16) of
// the file hold 7 0 0 0 0; Send transmits them as 0."
std::string LoadedWordsSentAsZero(const std::string &values);
// "Parameters read from the controller's RAM", "... sent to the controller's EEPROM".
std::string ParametersRead(const char *memory);
std::string ParametersSent(const char *memory);
constexpr const char *kTaught = "The reference was taught on the controller; Get reads it.";
constexpr const char *kTaughtCommandLine =
    "The reference was taught on the controller; rmx7ctl get ram (or teach --get) reads it.";
constexpr const char *kRamReloaded = "RAM reloaded from EEPROM";
// "Recording to <file>", "Recorded to <file>"
std::string RecordingTo(const std::string &file);
std::string RecordedTo(const std::string &file);
// No answer within the wait: the port and its device, the time waited, what to check.
std::string NoAnswer(int port, const std::string &device, double seconds);
// The short line beside the status text when the line failed: the port and what to check,
// short enough to stand beside it on a small screen. No answer: "No answer on COM1
// (/dev/ttyUSB0): check power, cable and port". The others for a line lost, an answer not
// the controller's, and a port that would not open.
std::string SilentLineHint(int port, const std::string &device);
std::string LostLineHint(int port, const std::string &device);
std::string WrongAnswerHint(int port, const std::string &device);
std::string PortFailedHint(int port, const std::string &device);
// A port whose line was lost, opened again once its device was back.
std::string PortReopened(int port, const std::string &device);
// An answer that is not the controller's echo.
std::string NotTheEcho(int port, const std::string &device);
// The parameter controls' tooltips: where the values came from, and what each control is.
constexpr const char *kPanelDefaults = "Not read from a controller yet: the panel file's default "
                                       "or a value typed here. Get reads the controller's.";
std::string LoadedNotRead(const std::string &file);
std::string ParameterTip(const parameters::Parameter &parameter);
// The audit trail that cannot be written, said once: "Audit trail not written - <why>; ..."
std::string AuditNotWritten(const std::string &why);
// ... and that can be again: "Audit trail written again: <file>, 3 records that waited".
std::string AuditWrittenAgain(const std::string &file, std::size_t records);

// --- The plant: lines seen through their agents on the broker ---
// A line's status in words, beside its colour.
constexpr const char *kLineOnline       = "online";
constexpr const char *kLineNoController = "no controller";
constexpr const char *kLineOffline      = "offline";
constexpr const char *kLineUnknown      = "not known yet";
// A command whose answer did not come within the wait, or that could not go out.
constexpr const char *kNoAnswerWithin5s   = "no answer within 5 s";
constexpr const char *kNoBrokerConnection = "no connection to the broker";
// A command whose line went offline before it answered: the agent may have done it or not.
std::string WentOfflineWaiting(const std::string &verb);
// Why an action is not offered for a line: its agent's permission, the line's state.
constexpr const char *kTakesNoCommands      = "its agent takes no commands (commands off)";
constexpr const char *kTakesReadOnly        = "its agent takes read commands only";
constexpr const char *kCommandsUnknown      = "its agent has not said which commands it takes";
constexpr const char *kStatusUnknown        = "its status is not known yet";
constexpr const char *kNoApprovedSet        = "it has no approved set to restore";
constexpr const char *kApprovedUnknown      = "nothing is known of its approved set";
constexpr const char *kOnlyOfflineForgotten = "only an offline line is forgotten";
std::string LineOfflineSince(const std::string &since);
std::string NoControllerOnLine(const std::string &text);
std::string WaitingForAnswer(const std::string &verb);
// What rmx7ctl's exit code means, in a few words: "no controller, or a time-out".
const char *ExitCodeMeaning(int code);

// --- Results ---
enum class Result {
    Ok,
    Cancelled,   // the operator cancelled a file dialog: nothing happened
    PortFailed,  // the port cannot be opened
    NoReply,     // the controller did not answer within the wait
    BadReply,    // an answer of the wrong shape: no echo marker, a block of the wrong length
    WriteFailed, // the request did not go out whole
    FileFailed,  // a file cannot be read or written; the set and the file are as they were
    Differs,     // sets compared differ: a set read back is not the one sent, or two memories
    Refused,     // what was asked for is refused as given: a wrong command line, say
};

// How an operation ended, beside the text it showed for it (or, for a failure the status
// line has no text for, the words that say what went wrong).
struct Outcome {
    Outcome() = default;
    Outcome(Result how, std::string shown, std::string why = {})
        : result(how), text(std::move(shown)), detail(std::move(why)) {}

    Result result = Result::Ok;
    std::string text;
    std::string detail; // what the text does not say (above); "" none
    bool ok() const { return result == Result::Ok; }
};

// The first failure of a sequence of steps is what the sequence reports.
inline Outcome FirstFailure(const Outcome &earlier, const Outcome &later) {
    return earlier.ok() ? later : earlier;
}

} // namespace status
