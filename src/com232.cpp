// Device link: frames, port set-up and line check, firmware query, the receive callback
// and the one wait for a reply, the data block read, and the parameter set.
#include "com232.h"

#include "platform/panel/events.h"
#include "platform/serial/ports.h"
#include "platform/serial/serial.h"
#include "platform/trace.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace com232 {

namespace {

constexpr int kBufferSize               = 1024;
constexpr int kVersionSize              = 64;     // the firmware text of a variant-0 board
constexpr int eventMask                 = 0x8006; // receive, event character, output queue empty
constexpr int kSync                     = 0x55;
constexpr long kBaudRate                = 19200;
constexpr int kParityNone               = 0;
constexpr int kDataBits                 = 8;
constexpr int kStopBits                 = 1;
constexpr int kQueueSize                = 4096;
constexpr int kNoHandshake              = 0;
constexpr std::uint16_t kEchoMarker     = 0x00AA;
constexpr int kFirmwareLength100        = 72;
constexpr int kFirmwareLength0          = 64;
constexpr const char *kBlockWrongLength = "a data block came with the wrong length";

// Word i of a frame is this parameter variable, in both directions.
constexpr std::uint16_t Parameters::*kWordVariable[PNUM] = {
    &Parameters::power,  &Parameters::reference, &Parameters::hysteresis, &Parameters::polarity,
    &Parameters::hold,   &Parameters::hwmode,    &Parameters::average,    &Parameters::evalmode,
    &Parameters::mmtime, &Parameters::mmthd,     &Parameters::sdelay,     &Parameters::para12,
    &Parameters::para13, &Parameters::para14,    &Parameters::para15,     &Parameters::para16,
};

struct Vars {
    int com                               = 1;
    Words pp                              = {};
    unsigned char szWriteBuf[kBufferSize] = {};
    unsigned char szReadBuf[kBufferSize]  = {};
    int pcbtype                           = kBoard0;
    bool rx_flag                          = true; // a reply came since the last request
    std::optional<LiveReply> live;                // the latest reply's live view, not taken
    std::string szStatus = status::kInitVars;
    std::string firmware;
    int target        = RAM;
    Parameters params = kDefaultParameters;
    DataCurves curves;
};

Vars vars;
Sinks sinks;

void SetStatus(const std::string &text) {
    vars.szStatus = text;
}

void ShowStatus(const char *text) {
    if (sinks.showStatus)
        sinks.showStatus(text);
}

void ShowStatus() {
    ShowStatus(vars.szStatus.c_str());
}

// The status line's tooltip, and a DIAG line of the trace when there is something to say.
void Explain(const std::string &detail) {
    if (sinks.explainStatus)
        sinks.explainStatus(detail.c_str());
    if (!detail.empty())
        TraceDiagnosis(detail.c_str());
}

std::uint16_t WordAt(const unsigned char *bytes, int offset) {
    return static_cast<std::uint16_t>(bytes[offset] << 8 | bytes[offset + 1]);
}

void PutWord(unsigned char *bytes, int offset, unsigned value) {
    bytes[offset]     = static_cast<unsigned char>(value >> 8);
    bytes[offset + 1] = static_cast<unsigned char>(value);
}

void FlushPort(int port) {
    FlushInQ(port);
    FlushOutQ(port);
}

bool WriteFrame() {
    return ComWrt(vars.com, vars.szWriteBuf, kFrameLength) == kFrameLength;
}

void CopyPPtoVars() {
    vars.params = ParametersOf(vars.pp);
}

} // namespace

// --- Values ---

std::uint16_t ParameterWord(const Parameters &params, int i) {
    return params.*kWordVariable[i];
}

Words WordsOf(const Parameters &params) {
    Words words{};
    for (int i = 0; i < PNUM; ++i)
        words[i] = ParameterWord(params, i);
    return words;
}

Parameters ParametersOf(const Words &words) {
    Parameters params{};
    for (int i = 0; i < PNUM; ++i)
        params.*kWordVariable[i] = words[i];
    return params;
}

LiveReply DecodeLiveReply(const Words &words) {
    return {words[0], words[1], words[2], words[3], words[4],
            words[5], words[6], words[7], words[8]};
}

void InstallSinks(const Sinks &installed) {
    sinks = installed;
}

// --- State ---

void InitVars() {
    vars = Vars{};
}

int Port() {
    return vars.com;
}

void SelectPort(int port) {
    vars.com = port;
}

int Target() {
    return vars.target;
}

void SetTarget(int target) {
    vars.target = target;
}

const Parameters &ParameterSet() {
    return vars.params;
}

void SetParameterSet(const Parameters &params) {
    vars.params = params;
}

int BoardVariant() {
    return vars.pcbtype;
}

const std::string &Firmware() {
    return vars.firmware;
}

const DataCurves &Curves() {
    return vars.curves;
}

// --- Frames ---

void EncodeFrame(int code, const std::uint16_t *words, unsigned char *frame) {
    PutWord(frame, 0, kSync);
    PutWord(frame, 2, static_cast<unsigned>(code) & 0xFFFF);
    for (int i = 0; i < PNUM; ++i)
        PutWord(frame, 4 + 2 * i, words[i]);
}

Words DecodeFrame(const unsigned char *frame) {
    Words words{};
    for (int i = 0; i < PNUM; ++i)
        words[i] = WordAt(frame, 4 + 2 * i);
    return words;
}

void FillTxBuf(int code, const std::uint16_t *words) {
    EncodeFrame(code, words, vars.szWriteBuf);
}

void GetRxBuf(int n) {
    const Words words = DecodeFrame(vars.szReadBuf);
    std::copy_n(words.begin(), std::clamp(n, 0, PNUM), vars.pp.begin());
}

Words CopyVarsToPP() {
    vars.pp = WordsOf(vars.params);
    return vars.pp;
}

Words FrameWords() {
    return vars.pp;
}

void LoadFrameWords(const Words &words) {
    vars.pp = words;
    CopyPPtoVars();
}

void FlushBoth() {
    FlushPort(vars.com);
}

// --- Requests ---

bool SendRequest(int code) {
    CopyVarsToPP();
    return SendFrameWords(code);
}

bool SendFrameWords(int code) {
    FillTxBuf(code, vars.pp.data());
    vars.rx_flag = false;
    return WriteFrame();
}

// --- Port set-up and line check ---

const char *OpenErrorText(int result) {
    switch (result) {
    case kComErrUnknownSystem:
        return status::kOpenUnknownSystem;
    case kComErrInvalidPort:
        return status::kOpenInvalidPort;
    case kComErrPortNotOpen:
        return status::kOpenPortNotOpen;
    case kComErrIO:
        return status::kOpenIO;
    case kComErrNoPortFound:
        return status::kOpenNoPortFound;
    case kComErrCannotOpen:
        return status::kOpenCannotOpen;
    case kComErrInvalidParameter:
        return status::kOpenInvalidParameter;
    case kComErrTimeout:
        return status::kOpenTimeout;
    default:
        return status::kOpenOther;
    }
}

void AttachReceiveCallback() {
    InstallComCallback(vars.com, eventMask, kReplyLength, kSync, RX_Receive_Function, nullptr);
}

void DetachReceiveCallback() {
    InstallComCallback(vars.com, 0, kReplyLength, kSync, nullptr, nullptr);
}

namespace {

int OpenPort(int port) {
    return OpenComConfig(port, "", kBaudRate, kParityNone, kDataBits, kStopBits, kQueueSize,
                         kQueueSize);
}

// Everything of the set-up that an open port needs before the first request.
void SetUpOpenPort(int port) {
    SetComTime(port, kPortTimeout);
    FlushPort(port);
    SetCTSMode(port, kNoHandshake);
    InstallComCallback(port, eventMask, kReplyLength, kSync, RX_Receive_Function, nullptr);
}

} // namespace

std::string NoAnswerDetail(double waited) {
    const std::string lost = GetLostDiagnosis(vars.com);
    return lost.empty() ? status::NoAnswer(vars.com, PortDevice(vars.com), waited) : lost;
}

bool ReopenLostPort() {
    if (*GetLostDiagnosis(vars.com) == '\0' || OpenPort(vars.com) < 0)
        return false;
    SetUpOpenPort(vars.com);
    TraceDiagnosis(status::PortReopened(vars.com, PortDevice(vars.com)).c_str());
    return true;
}

Outcome InitRS232(int port) {
    const int opened = OpenPort(port);
    Outcome outcome;
    if (opened < 0) {
        SetStatus(OpenErrorText(opened));
        outcome = {status::Result::PortFailed, vars.szStatus, GetOpenDiagnosis()};
    } else {
        SetUpOpenPort(port);
        const LineCheck check = CheckComLine(port);
        outcome               = check.outcome;
        if (check.line != kLineFailed) {
            vars.target                  = RAM;
            outcome                      = status::FirstFailure(outcome, PushGET(RAM));
            const FirmwareQuery firmware = GetVERSIONInfo();
            outcome                      = status::FirstFailure(outcome, firmware.outcome);
            if (firmware.queued < kFirmwareLength0)
                SetStatus(status::kFirmwareTooShort);
        }
    }
    ShowStatus();
    if (outcome.ok())
        outcome.text = vars.szStatus;
    // The status text only names a failure; the tip says why and what helps, and a good
    // set-up takes it away. The open's own cause is in the trace already.
    if (outcome.result == status::Result::PortFailed && sinks.explainStatus)
        sinks.explainStatus(outcome.detail.c_str());
    else
        Explain(outcome.detail);
    return outcome;
}

LineCheck CheckComLine(int port) {
    CopyVarsToPP();
    FillTxBuf(kCmdEcho, vars.pp.data());
    FlushPort(port);
    const double start = Timer();
    ComWrt(port, vars.szWriteBuf, kFrameLength);
    // The controller needs the pause to turn the line round; the reply is read directly,
    // since the receive callback only runs from event processing.
    Delay(kEchoPause);
    const int received = ComRd(port, vars.szReadBuf, kReplyLength);

    LineCheck check;
    if (received != kReplyLength) {
        SetStatus(status::kNoEcho);
        check.outcome = {status::Result::NoReply, status::kNoEcho,
                         status::NoAnswer(port, PortDevice(port), Timer() - start)};
    } else {
        const std::uint16_t w0 = WordAt(vars.szReadBuf, 0);
        const std::uint16_t w2 = WordAt(vars.szReadBuf, 4);
        if (w0 != kEchoMarker && w2 != kEchoMarker) {
            SetStatus(status::kBadEcho);
            check.outcome = {status::Result::BadReply, status::kBadEcho,
                             status::NotTheEcho(port, PortDevice(port))};
        } else {
            SetStatus(status::kEchoOk);
            check.outcome = {status::Result::Ok, status::kEchoOk};
            if (w0 == kEchoMarker) {
                check.line   = kLineBoard100;
                vars.pcbtype = kBoard100;
            }
            // A marker in both places means the variant-0 board.
            if (w2 == kEchoMarker) {
                check.line   = kLineBoard0;
                vars.pcbtype = kBoard0;
            }
        }
    }
    ShowStatus();
    return check;
}

void DecodeFirmware100(const unsigned char *reply, char *text, int size) {
    if (size <= 0)
        return;
    int n = 0;
    while (n < kFirmwareLength100 && n < size - 1 && reply[n] != 0) {
        text[n] = static_cast<char>(reply[n]);
        ++n;
    }
    text[n] = '\0';
}

void DecodeFirmware0(const unsigned char *reply, char *text, int size) {
    if (size <= 0)
        return;
    constexpr int kWords = kFirmwareLength0 / 2;
    int n                = 0;
    while (n < kWords && n < size - 1 && reply[2 * n + 1] != 0) {
        text[n] = static_cast<char>(reply[2 * n + 1]);
        ++n;
    }
    text[n] = '\0';
}

FirmwareQuery GetVERSIONInfo() {
    const int expected = vars.pcbtype == kBoard0 ? kFirmwareLength0 : kFirmwareLength100;
    // The reply is longer than a frame: take it from the queue without the callback.
    DetachReceiveCallback();
    FlushBoth();
    SendFrameWords(kCmdFirmware);
    ShowStatus(status::kFirmwareWaiting);

    const WaitRule poll{.seconds = kReplyTimeout, .replyBeatsClock = false, .bytes = expected};
    const WaitOutcome wait = WaitForReply(poll, Timer());
    FirmwareQuery query{wait.queued, {}};
    if (!wait.replied()) {
        SetStatus(status::kNoFirmware);
        query.outcome = {status::Result::NoReply, status::kNoFirmware,
                         NoAnswerDetail(wait.elapsed)};
    }

    vars.firmware.clear();
    const int n        = wait.queued;
    const int received = n > 0 ? ComRd(vars.com, vars.szReadBuf, std::min(n, kBufferSize)) : 0;
    if (received == expected) {
        char text[kFirmwareLength100 + 1];
        if (expected == kFirmwareLength0)
            DecodeFirmware0(vars.szReadBuf, text, kVersionSize);
        else
            DecodeFirmware100(vars.szReadBuf, text, sizeof text);
        vars.firmware = text;
        SetStatus(vars.firmware);
    }

    AttachReceiveCallback();
    FlushBoth();
    vars.rx_flag = false;
    ShowStatus();
    if (query.outcome.ok())
        query.outcome.text = vars.szStatus;
    return query;
}

Outcome PushGET(int target) {
    Outcome outcome;
    if (target != DATFILE) {
        FlushBoth();
        if (SendRequest(target == RAM ? kCmdReadRam : kCmdReadEeprom))
            ShowStatus(status::kFetchWaiting);
        const WaitOutcome wait = WaitRxFull();
        // A reply that came in the pass that timed out is still taken.
        if (vars.rx_flag) {
            TakeParameterReply();
            ShowStatus(status::kFetchReceived);
            if (sinks.showParameters)
                sinks.showParameters();
        }
        if (!wait.replied())
            outcome = {status::Result::NoReply, status::kNoFetchReply,
                       NoAnswerDetail(wait.elapsed)};
    }
    ShowStatus();
    if (outcome.ok())
        outcome.text = vars.szStatus;
    return outcome;
}

ParameterRead ReadParameterWords(int target) {
    // The reply is looked at first in every pass, then the clock.
    constexpr WaitRule kGetWait{.seconds = kReplyTimeout};
    FlushBoth();
    if (SendRequest(target == RAM ? kCmdReadRam : kCmdReadEeprom))
        ShowStatus(status::kTransmitOk);
    const WaitOutcome wait = WaitForReply(kGetWait, Timer());
    if (!wait.replied()) {
        ShowStatus(status::kNoReply);
        return {std::nullopt,
                {status::Result::NoReply, status::kNoReply, NoAnswerDetail(wait.elapsed)}};
    }
    const Words words = TakeReply();
    ShowStatus(status::kDataTransferOk);
    return {words,
            {status::Result::Ok, status::kDataTransferOk,
             status::ParametersRead(target == EEPROM ? "EEPROM" : "RAM")}};
}

// --- Receive callback and the reply wait ---

void RX_Receive_Function(int, int eventBits, void *) {
    if (!(eventBits & kComEventReceive))
        return;
    ComRd(vars.com, vars.szReadBuf, kReplyLength);
    GetRxBuf(PNUM);
    vars.live    = DecodeLiveReply(vars.pp);
    vars.rx_flag = true;
    // Bytes beyond the frame belong to nothing the program asked for.
    FlushInQ(vars.com);
}

namespace {

// What has come so far; a poll notes the bytes it saw.
bool Arrived(const WaitRule &rule, WaitOutcome &outcome) {
    if (rule.bytes == 0)
        return vars.rx_flag;
    outcome.queued = std::max(GetInQLen(vars.com), 0);
    return outcome.queued >= rule.bytes;
}

// A poll sleeps on the port, processing no events; every other wait processes them.
void Sleep(const WaitRule &rule, double remaining) {
    if (rule.bytes == 0)
        ProcessSystemEvents();
    else
        WaitForInQ(vars.com, remaining);
}

} // namespace

WaitOutcome WaitForReply(const WaitRule &rule, double since) {
    WaitOutcome outcome;
    if (rule.sleepFirst)
        Sleep(rule, rule.seconds);
    for (;;) {
        const bool arrived = Arrived(rule, outcome);
        if (arrived && rule.replyBeatsClock) {
            outcome.end = WaitEnd::Replied;
            return outcome;
        }
        outcome.elapsed    = Timer() - since;
        const bool expired = rule.expiresAtBoundary ? outcome.elapsed >= rule.seconds
                                                    : outcome.elapsed > rule.seconds;
        if (expired && !rule.judgeAfterSleep) {
            outcome.end = WaitEnd::TimedOut;
            return outcome;
        }
        if (arrived) {
            outcome.end = WaitEnd::Replied;
            return outcome;
        }
        Sleep(rule, rule.seconds - outcome.elapsed);
        if (expired) {
            outcome.end = WaitEnd::TimedOut;
            return outcome;
        }
        if (rule.stopped && rule.stopped()) {
            outcome.end = WaitEnd::Stopped;
            return outcome;
        }
    }
}

WaitOutcome WaitRxFull() {
    // Events first, then the clock before the flag: a reply that comes with the time-out
    // still loses.
    const WaitRule rule{.seconds = kReplyTimeout, .replyBeatsClock = false, .sleepFirst = true};
    const WaitOutcome outcome = WaitForReply(rule, Timer());
    if (!outcome.replied())
        SetStatus(status::kNoFetchReply);
    return outcome;
}

bool ReplyWaiting() {
    return vars.rx_flag;
}

Words TakeReply() {
    GetRxBuf(PNUM);
    return vars.pp;
}

void TakeParameterReply() {
    GetRxBuf(PNUM);
    CopyPPtoVars();
}

std::optional<LiveReply> TakeLiveReply() {
    return std::exchange(vars.live, std::nullopt);
}

void ForgetReply() {
    vars.rx_flag = false;
    vars.live.reset();
}

// --- Data block read ---

namespace {

// Where the 64 words of a block go, by its start index; null for an unknown block.
std::uint16_t *BlockDestination(int start) {
    switch (start) {
    case 0:
        return vars.curves.a.data();
    case 64:
        return vars.curves.a.data() + 64;
    case 128:
        return vars.curves.b.data();
    case 192:
        return vars.curves.b.data() + 64;
    default:
        return nullptr;
    }
}

void ClearCurves() {
    std::fill_n(vars.curves.a.begin(), kCurvePoints, 0);
    std::fill_n(vars.curves.b.begin(), kCurvePoints, 0);
}

} // namespace

BlockRead ReadData64(int start, int source, int code) {
    std::memset(vars.szWriteBuf, 0, kFrameLength);
    PutWord(vars.szWriteBuf, 0, kSync);
    PutWord(vars.szWriteBuf, 2, static_cast<unsigned>(code) & 0xFFFF);
    PutWord(vars.szWriteBuf, 4, static_cast<unsigned>(start) & 0xFFFF);
    PutWord(vars.szWriteBuf, 6, static_cast<unsigned>(source) & 0xFFFF);

    FlushBoth();
    vars.rx_flag = false;
    WriteFrame();
    ShowStatus(status::kBlockWaiting);

    // The queue's length is sampled before the clock and judged after it: a block complete
    // in the pass that times out is still stored, over the curves the time-out cleared.
    const WaitRule poll{.seconds = kBlockTimeout, .replyBeatsClock = false, .bytes = kBlockBytes};
    const WaitOutcome wait = WaitForReply(poll, Timer());
    if (!wait.replied()) {
        SetStatus(status::kNoBlock);
        ClearCurves();
    }

    const int n        = wait.queued;
    const int received = n > 0 ? ComRd(vars.com, vars.szReadBuf, std::min(n, kBufferSize)) : 0;
    BlockRead read;
    if (received == kBlockBytes) {
        SetStatus(status::kBlockReceived);
        read.words = kBlockWords;
        if (std::uint16_t *destination = BlockDestination(start))
            for (int i = 0; i < kBlockWords; ++i)
                destination[i] = WordAt(vars.szReadBuf, 2 * i);
        read.outcome.text = status::kBlockReceived;
    } else if (!wait.replied()) {
        read.outcome = {status::Result::NoReply, status::kNoBlock, NoAnswerDetail(wait.elapsed)};
    } else {
        read.outcome = {status::Result::BadReply, kBlockWrongLength};
    }
    ShowStatus();
    return read;
}

// --- Seams for tests ---

void seam::SetStatusText(const char *text) {
    SetStatus(text);
}

void seam::FillCurves(std::uint16_t a, std::uint16_t b) {
    std::fill_n(vars.curves.a.begin(), kCurvePoints, a);
    std::fill_n(vars.curves.b.begin(), kCurvePoints, b);
}

void seam::SetBoardVariant(int variant) {
    vars.pcbtype = variant;
}

} // namespace com232
