// The texts of the status line, each defined here once, and the results of the operations
// that can fail. Operators, service notes and scripts know the texts word for word, so they
// never change; the program decides what happened by the result, never by a text.
#pragma once

#include <string>

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
constexpr const char *kFileUnreadable = "Parameter file not readable - nothing loaded!";
constexpr const char *kFileNotWritten = "Parameter file could not be written - old file kept!";

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

// --- Results ---
enum class Result {
    Ok,
    Cancelled,   // the operator cancelled a file dialog: nothing happened
    PortFailed,  // the port cannot be opened
    NoReply,     // the controller did not answer within the wait
    BadReply,    // an answer of the wrong shape: no echo marker, a block of the wrong length
    WriteFailed, // the request did not go out whole
    FileFailed,  // a file cannot be read or written; the set and the file are as they were
};

// How an operation ended, beside the text it showed for it (or, for a failure the status
// line has no text for, the words that say what went wrong).
struct Outcome {
    Result result = Result::Ok;
    std::string text;
    bool ok() const { return result == Result::Ok; }
};

// The first failure of a sequence of steps is what the sequence reports.
inline Outcome FirstFailure(const Outcome &earlier, const Outcome &later) {
    return earlier.ok() ? later : earlier;
}

} // namespace status
