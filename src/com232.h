// Device link: frames, port set-up and line check, firmware query, the receive callback
// and the one wait for a reply, the data block read, and the parameter set with its copies
// into and out of the frame words.
//
// The link owns the line's state; callers send requests, wait, and take what came back as
// values. It never reaches the panel itself: texts for the status line, and the parameter
// set after a fetch, go to the sinks the program installs.
#pragma once

#include "status.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace com232 {

using status::Outcome;

constexpr int PNUM         = 16;           // data words in a frame
constexpr int kFrameLength = 2 * PNUM + 4; // 36 bytes: sync, command, 16 words
constexpr int kReplyLength = 36;           // what the receive side counts, fixed
constexpr int kCurveSize   = 256;
constexpr int kCurvePoints = 128; // the places of a curve that a capture fills
constexpr int kBlockWords  = 64;
constexpr int kBlockBytes  = 2 * kBlockWords;

// Transfer targets of the parameter set.
constexpr int RAM     = 1;
constexpr int EEPROM  = 2;
constexpr int DATFILE = 3;

// Command codes.
constexpr int kCmdWriteRam    = 1;
constexpr int kCmdReadRam     = 2;
constexpr int kCmdWriteEeprom = 3;
constexpr int kCmdReadEeprom  = 4;
constexpr int kCmdEcho        = 5;
constexpr int kCmdTeach       = 6;
constexpr int kCmdFirmware    = 7;
constexpr int kCmdLive        = 8;
constexpr int kCmdDataBlock   = 9;
constexpr int kCmdReset       = 10;

// Board variants learnt from the echo.
constexpr int kBoard100 = 100;
constexpr int kBoard0   = 0;

// Line-check results.
constexpr int kLineFailed   = 0;
constexpr int kLineBoard100 = 1;
constexpr int kLineBoard0   = 3;

// Time-outs, in seconds.
constexpr double kPortTimeout  = 2.0;
constexpr double kReplyTimeout = 2.0;
constexpr double kBlockTimeout = 1.5;
constexpr double kEchoPause    = 0.05;

using Words = std::array<std::uint16_t, PNUM>;

// The sixteen parameter words, in frame order.
struct Parameters {
    std::uint16_t power, reference, hysteresis, polarity, hold, hwmode, average, evalmode, mmtime,
        mmthd, sdelay, para12, para13, para14, para15, para16;
};

// The start-up defaults of the parameter set; the panel file's values replace those of the
// ten parameters with a control.
constexpr Parameters kDefaultParameters = {500, 512, 10, 1, 100, 1, 0, 0, 20, 50, 1, 0, 0, 0, 0, 0};

// A live reply (command 8), words 0 to 8; the other seven words mean nothing.
struct LiveReply {
    std::int32_t valNORM = 0; // the word taken zero-extended: 0xFFFF is 65535
    std::uint16_t adcCHA = 0, adcCHB = 0, Amax = 0, Amin = 0, UPval = 0, LOval = 0, refval = 0,
                  instate = 0; // the state, 0 to 3
};

// The two curves that data blocks fill: A takes the blocks from index 0 and 64, B those
// from 128 and 192.
struct DataCurves {
    std::array<std::uint16_t, kCurveSize> a{}, b{};
};

// --- Values ---
// Word i (0 to PNUM - 1) of a parameter set, in frame order, and the set of sixteen words.
std::uint16_t ParameterWord(const Parameters &params, int i);
Words WordsOf(const Parameters &params);
Parameters ParametersOf(const Words &words);
LiveReply DecodeLiveReply(const Words &words);

// --- Where the link reaches the screen ---
struct Sinks {
    void (*showStatus)(const char *text)    = nullptr; // a text on the status line
    void (*explainStatus)(const char *text) = nullptr; // why, in plain words ("" none)
    void (*showParameters)()                = nullptr; // the set after a good fetch
};
void InstallSinks(const Sinks &sinks);

// --- State ---
// Start values: the default parameter set, COM1, the target RAM, no board variant learnt,
// no firmware text, the curves zero, a reply flagged as come, "InitVars" as status text.
void InitVars();
int Port(); // the COM port of the link
void SelectPort(int port);
int Target();
void SetTarget(int target);
const Parameters &ParameterSet();
void SetParameterSet(const Parameters &params);
int BoardVariant();            // learnt from the last good line check; 0 before one
const std::string &Firmware(); // the last firmware text read, of either variant
const DataCurves &Curves();

// --- Frames ---
// The 36 bytes of a request of code carrying words; the words of a frame's bytes.
void EncodeFrame(int code, const std::uint16_t *words, unsigned char *frame);
Words DecodeFrame(const unsigned char *frame);
// The same on the link's own transmit and receive buffers.
void FillTxBuf(int code, const std::uint16_t *words);
void GetRxBuf(int n);
// The parameter set into the frame words (pp), which it returns: the words of a request
// that carries the set, or of a parameter file.
Words CopyVarsToPP();
// The frame words as they stand: the last set copied in or the last reply decoded.
Words FrameWords();
// Words into the frame words and from there into the parameter set (a parameter file).
void LoadFrameWords(const Words &words);
// Drops what waits in the input queue, then in the output queue, of the link's port.
void FlushBoth();

// --- Requests ---
// A request of code carrying the parameter set, written to the port: true when all 36
// bytes went out. A reply that came before it is forgotten.
bool SendRequest(int code);
// The same, carrying the frame words as they stand (the firmware query, the live request
// that closes a capture).
bool SendFrameWords(int code);

// --- Port set-up and line check ---
const char *OpenErrorText(int result);
// Opens and checks the port, fetches the parameter set from RAM and reads the firmware;
// the first step that failed, or Ok with the last text shown. The status line's tooltip
// (and the trace, as a DIAG line) gets the failure's detail, or nothing after a good set-up.
Outcome InitRS232(int port);
// A port whose line was lost (device unplugged, connection closed) and whose device is
// back: opens it again as the set-up does, without the set-up's exchanges, so that the
// command about to run sends exactly its own requests on a line that is there again. Says
// so in the trace; true when it reopened. A port not lost, or not back, is left alone.
bool ReopenLostPort();
// Why no answer came after waited seconds: the port's line was lost, or nothing answered
// on it; the port and its device and what to check, for an outcome's detail.
std::string NoAnswerDetail(double waited);
struct LineCheck {
    int line = kLineFailed; // kLineFailed, kLineBoard100 or kLineBoard0
    Outcome outcome;
};
LineCheck CheckComLine(int port);
struct FirmwareQuery {
    int queued = 0; // bytes waiting when the wait ended
    Outcome outcome;
};
FirmwareQuery GetVERSIONInfo();
// The firmware text of a variant-100 reply (72 bytes of text) or a variant-0 reply
// (32 words, one character in each low byte), up to the first zero; nothing is written
// into a buffer of no size.
void DecodeFirmware100(const unsigned char *reply, char *text, int size);
void DecodeFirmware0(const unsigned char *reply, char *text, int size);
// The parameter fetch: Get's exchange from target onto the panel (RAM at the set-up and
// after a reset); nothing on the line for DATFILE.
Outcome PushGET(int target);

// Get's exchange with RAM or EEPROM (target): a request carrying the parameter set,
// "Transmit Ok!" once it is out, Get's wait of 2 s, then "Data Transfer Ok!" and the words
// that came, or "Timeout RS232-Line!" and none. The parameter set stays as it is.
struct ParameterRead {
    std::optional<Words> words;
    Outcome outcome;
};
ParameterRead ReadParameterWords(int target);

// --- Receive callback and the reply wait ---
void RX_Receive_Function(int port, int eventBits, void *callbackData);
// Installs the receive callback as the port set-up does, or detaches it.
void AttachReceiveCallback();
void DetachReceiveCallback();

// Every wait for the controller is this one wait, told what differs between the steps.
// A pass looks for the reply, reads the clock, tests the time-out and sleeps (processing
// events, or on the port for a poll); the steps differ in the order of these, and that
// order decides a reply that comes just as the time runs out.
struct WaitRule {
    double seconds         = kReplyTimeout;
    bool expiresAtBoundary = false;   // the time-out at elapsed >= seconds, else > seconds
    bool replyBeatsClock   = true;    // the reply is looked at before the clock is read
    bool sleepFirst        = false;   // the first pass sleeps before it looks
    bool judgeAfterSleep   = false;   // the clock reading is judged after the sleep
    int bytes              = 0;       // a poll: bytes in the input queue; 0 a reply frame
    bool (*stopped)()      = nullptr; // asked after each sleep: Stop was pressed
};
enum class WaitEnd { Replied, TimedOut, Stopped };
struct WaitOutcome {
    WaitEnd end    = WaitEnd::TimedOut;
    double elapsed = 0; // the clock reading the wait last judged
    int queued     = 0; // a poll: the bytes in the queue at the end
    bool replied() const { return end == WaitEnd::Replied; }
};
// Waits from since (a Timer() reading) under rule.
WaitOutcome WaitForReply(const WaitRule &rule, double since);
// The parameter fetch's wait, which also leaves "Timeout-RS-232..." as its text.
WaitOutcome WaitRxFull();
// True while a reply that came since the last request was not forgotten.
bool ReplyWaiting();
// The reply's words, decoded again from the bytes the receive callback read.
Words TakeReply();
// The same into the parameter set: the end of a Get and of the parameter fetch.
void TakeParameterReply();
// The live view of the latest reply, once: nothing when it was taken already.
std::optional<LiveReply> TakeLiveReply();
// Forgets a reply not taken yet (Stop, the end of a run).
void ForgetReply();

// --- Data block read ---
// Reads block start of source; 64 when 128 bytes came, else 0 with the reason beside.
struct BlockRead {
    int words = 0;
    Outcome outcome;
};
BlockRead ReadData64(int start, int source, int code);

// --- Seams for tests ---
namespace seam {
void SetStatusText(const char *text);
void FillCurves(std::uint16_t a, std::uint16_t b);
void SetBoardVariant(int variant);
} // namespace seam

} // namespace com232
