// Device link: frames, port set-up and line check, firmware query, the receive
// callback and the reply wait, the data block read, and the parameter copies.
#include "com232.h"

#include "gui.h"
#include "platform/panel/events.h"
#include "platform/panel/panel.h"
#include "platform/serial/serial.h"
#include "platform/text.h"
#include "ui.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace com232 {

Vars vars;

namespace {

constexpr long kBaudRate            = 19200;
constexpr int kParityNone           = 0;
constexpr int kDataBits             = 8;
constexpr int kStopBits             = 1;
constexpr int kQueueSize            = 4096;
constexpr int kNoHandshake          = 0;
constexpr std::uint16_t kEchoMarker = 0x00AA;
constexpr int kFirmwareLength100    = 72;
constexpr int kFirmwareLength0      = 64;

// Word i of a frame is this parameter variable, in both directions.
constexpr std::uint16_t Parameters::*kWordVariable[PNUM] = {
    &Parameters::power,  &Parameters::reference, &Parameters::hysteresis, &Parameters::polarity,
    &Parameters::hold,   &Parameters::hwmode,    &Parameters::average,    &Parameters::evalmode,
    &Parameters::mmtime, &Parameters::mmthd,     &Parameters::sdelay,     &Parameters::para12,
    &Parameters::para13, &Parameters::para14,    &Parameters::para15,     &Parameters::para16,
};

void SetStatus(const char *text) {
    CopyText(vars.szStatus, kStatusSize, text);
}

std::uint16_t WordAt(const unsigned char *bytes, int offset) {
    return static_cast<std::uint16_t>(bytes[offset] << 8 | bytes[offset + 1]);
}

void PutWord(unsigned char *bytes, int offset, unsigned value) {
    bytes[offset]     = static_cast<unsigned char>(value >> 8);
    bytes[offset + 1] = static_cast<unsigned char>(value);
}

} // namespace

void FlushBoth(int port) {
    FlushInQ(port);
    FlushOutQ(port);
}

// --- Frames ---

void FillTxBuf(int code, const std::uint16_t *words) {
    PutWord(vars.szWriteBuf, 0, static_cast<unsigned>(vars.sync) & 0xFFFF);
    PutWord(vars.szWriteBuf, 2, static_cast<unsigned>(code) & 0xFFFF);
    for (int i = 0; i < PNUM; ++i)
        PutWord(vars.szWriteBuf, 4 + 2 * i, words[i]);
}

void GetRxBuf(int n) {
    vars.order = WordAt(vars.szReadBuf, 2);
    for (int i = 0; i < n && i < PNUM; ++i)
        vars.pp[i] = WordAt(vars.szReadBuf, 4 + 2 * i);
}

bool WriteFrame() {
    vars.nBytesW = ComWrt(vars.com, vars.szWriteBuf, kFrameLength);
    return vars.nBytesW == kFrameLength;
}

// --- Port set-up and line check ---

const char *OpenErrorText(int result) {
    switch (result) {
    case kComErrUnknownSystem:
        return "Unknown system error";
    case kComErrInvalidPort:
        return "Invalid port number";
    case kComErrPortNotOpen:
        return "Port is not open";
    case kComErrIO:
        return "Unknown I/0 error";
    case kComErrNoPortFound:
        return "No serial port found";
    case kComErrCannotOpen:
        return "Cannot open port";
    case kComErrInvalidParameter:
        return "Invalid parameter";
    case kComErrTimeout:
        return "Timeout";
    default:
        return "RS-232 error!";
    }
}

void AttachReceiveCallback() {
    InstallComCallback(vars.com, eventMask, kReplyLength, vars.sync, RX_Receive_Function, nullptr);
}

void DetachReceiveCallback() {
    InstallComCallback(vars.com, 0, kReplyLength, vars.sync, nullptr, nullptr);
}

void InitRS232(int port) {
    const int opened = OpenComConfig(port, "", kBaudRate, kParityNone, kDataBits, kStopBits,
                                     kQueueSize, kQueueSize);
    // The status text only names the failure; the tip says why and what helps, and a good
    // open takes it away.
    SetCtrlAttribute(gui::vars.pHandle, ui::TXTStatus, kAttrToolTip, GetOpenDiagnosis());
    if (opened < 0) {
        SetStatus(OpenErrorText(opened));
    } else {
        SetComTime(port, kPortTimeout);
        FlushBoth(port);
        SetCTSMode(port, kNoHandshake);
        InstallComCallback(port, eventMask, kReplyLength, vars.sync, RX_Receive_Function, nullptr);
        if (CheckComLine(port) != kLineFailed) {
            vars.target = RAM;
            gui::PushGET(RAM);
            if (GetVERSIONInfo() < kFirmwareLength0)
                SetStatus("Error reading firmware-info!");
        }
    }
    gui::ShowStatus(vars.szStatus);
}

int CheckComLine(int port) {
    CopyVarsToPP();
    FillTxBuf(kCmdEcho, vars.pp);
    FlushBoth(port);
    vars.nBytesW = ComWrt(port, vars.szWriteBuf, kFrameLength);
    // The controller needs the pause to turn the line round; the reply is read directly,
    // since the receive callback only runs from event processing.
    Delay(kEchoPause);
    vars.nBytesR = ComRd(port, vars.szReadBuf, kReplyLength);

    int result = kLineFailed;
    if (vars.nBytesR != kReplyLength) {
        SetStatus("Timeout < 36 Bytes");
    } else {
        const std::uint16_t w0 = WordAt(vars.szReadBuf, 0);
        const std::uint16_t w2 = WordAt(vars.szReadBuf, 4);
        if (w0 != kEchoMarker && w2 != kEchoMarker) {
            SetStatus("read error - not sync byte 0xAA!");
        } else {
            SetStatus("Echo Check - Line Ok!");
            if (w0 == kEchoMarker) {
                result       = kLineBoard100;
                vars.pcbtype = kBoard100;
            }
            // A marker in both places means the variant-0 board.
            if (w2 == kEchoMarker) {
                result       = kLineBoard0;
                vars.pcbtype = kBoard0;
            }
        }
    }
    gui::ShowStatus(vars.szStatus);
    return result;
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

int GetVERSIONInfo() {
    const int expected = vars.pcbtype == kBoard0 ? kFirmwareLength0 : kFirmwareLength100;
    // The reply is longer than a frame: take it from the queue without the callback.
    DetachReceiveCallback();
    FlushBoth(vars.com);
    FillTxBuf(kCmdFirmware, vars.pp);
    vars.nBytesW = ComWrt(vars.com, vars.szWriteBuf, kFrameLength);
    gui::ShowStatus("Waiting for firmware info ...");

    int n       = 0;
    vars.tstart = Timer();
    for (;;) {
        n          = std::max(GetInQLen(vars.com), 0);
        vars.tdiff = Timer() - vars.tstart;
        if (vars.tdiff > kReplyTimeout) {
            SetStatus("Timeout - reading firmware info!");
            break;
        }
        if (n >= expected)
            break;
        WaitForInQ(vars.com, kReplyTimeout - vars.tdiff);
    }

    vars.szVersion[0] = '\0';
    vars.firmware[0]  = '\0';
    vars.nBytesR      = n > 0 ? ComRd(vars.com, vars.szReadBuf, std::min(n, kBufferSize)) : 0;
    if (vars.nBytesR == expected) {
        if (expected == kFirmwareLength0) {
            DecodeFirmware0(vars.szReadBuf, vars.szVersion, kTextSize);
            SetStatus(vars.szVersion);
        } else {
            DecodeFirmware100(vars.szReadBuf, vars.szStatus, kStatusSize);
        }
        CopyText(vars.firmware, kStatusSize,
                 expected == kFirmwareLength0 ? vars.szVersion : vars.szStatus);
    }

    AttachReceiveCallback();
    FlushBoth(vars.com);
    vars.rx_flag = 0;
    gui::ShowStatus(vars.szStatus);
    return n;
}

// --- Receive callback and waits ---

void RX_Receive_Function(int, int eventBits, void *) {
    if (!(eventBits & kComEventReceive))
        return;
    vars.nBytesR = ComRd(vars.com, vars.szReadBuf, kReplyLength);
    GetRxBuf(PNUM);
    vars.ttick        = 0;
    vars.rx_flag      = 1;
    vars.graphrefresh = 1;
    // Bytes beyond the frame belong to nothing the program asked for.
    FlushInQ(vars.com);
}

int WaitRxFull() {
    vars.ret    = 1;
    vars.tstart = Timer();
    for (;;) {
        ProcessSystemEvents();
        vars.tdiff = Timer() - vars.tstart;
        // The clock is tested first: a reply that comes with the time-out still loses.
        if (vars.tdiff > kReplyTimeout) {
            SetStatus("Timeout-RS-232...");
            vars.ret = 0;
            break;
        }
        if (vars.rx_flag != 0)
            break;
    }
    return vars.ret;
}

// --- Data block read ---

namespace {

// Where the 64 words of a block go, by its start index; null for an unknown block.
std::uint16_t *BlockDestination(int start) {
    switch (start) {
    case 0:
        return vars.yArrayA;
    case 64:
        return vars.yArrayA + 64;
    case 128:
        return vars.yArrayB;
    case 192:
        return vars.yArrayB + 64;
    default:
        return nullptr;
    }
}

void ClearCurves() {
    constexpr int kCaptured = 128;
    std::fill(vars.yArrayA, vars.yArrayA + kCaptured, 0);
    std::fill(vars.yArrayB, vars.yArrayB + kCaptured, 0);
}

} // namespace

int ReadData64(int start, int source, int code) {
    std::memset(vars.szWriteBuf, 0, kFrameLength);
    PutWord(vars.szWriteBuf, 0, static_cast<unsigned>(vars.sync) & 0xFFFF);
    PutWord(vars.szWriteBuf, 2, static_cast<unsigned>(code) & 0xFFFF);
    PutWord(vars.szWriteBuf, 4, static_cast<unsigned>(start) & 0xFFFF);
    PutWord(vars.szWriteBuf, 6, static_cast<unsigned>(source) & 0xFFFF);

    FlushBoth(vars.com);
    vars.rx_flag = 0;
    vars.nBytesW = ComWrt(vars.com, vars.szWriteBuf, kFrameLength);
    gui::ShowStatus("Waiting for Data[64] ...");

    int n       = 0;
    vars.tstart = Timer();
    for (;;) {
        n          = std::max(GetInQLen(vars.com), 0);
        vars.tdiff = Timer() - vars.tstart;
        if (vars.tdiff > kBlockTimeout) {
            SetStatus("Timeout-RS-232 while reading 64 data-words!");
            ClearCurves();
            vars.ttick = 0;
            break;
        }
        if (n >= kBlockBytes)
            break;
        WaitForInQ(vars.com, kBlockTimeout - vars.tdiff);
    }

    vars.nBytesR = n > 0 ? ComRd(vars.com, vars.szReadBuf, std::min(n, kBufferSize)) : 0;
    int result   = 0;
    if (vars.nBytesR == kBlockBytes) {
        SetStatus("Data[64] block received!");
        result = kBlockWords;
        if (std::uint16_t *destination = BlockDestination(start))
            for (int i = 0; i < kBlockWords; ++i)
                destination[i] = WordAt(vars.szReadBuf, 2 * i);
    }
    gui::ShowStatus(vars.szStatus);
    return result;
}

// --- Parameter copies ---

std::uint16_t ParameterWord(const Parameters &params, int i) {
    return params.*kWordVariable[i];
}

void CopyVarsToPP() {
    for (int i = 0; i < PNUM; ++i)
        vars.pp[i] = ParameterWord(vars.params, i);
}

void CopyPPtoVars() {
    for (int i = 0; i < PNUM; ++i)
        vars.params.*kWordVariable[i] = vars.pp[i];
}

} // namespace com232
