// Device link: frames, port set-up and line check, firmware query, the receive
// callback and the reply wait, the data block read, and the parameter copies.
#pragma once

#include <cstdint>

namespace com232 {

constexpr int PNUM         = 16;           // data words in a frame
constexpr int kFrameLength = 2 * PNUM + 4; // 36 bytes: sync, command, 16 words
constexpr int kReplyLength = 36;           // what the receive side counts, fixed
constexpr int kBufferSize  = 1024;
constexpr int kStatusSize  = 128; // a 72-character firmware text and the longest message
constexpr int kTextSize    = 64;
constexpr int kCurveSize   = 256;
constexpr int kBlockWords  = 64;
constexpr int kBlockBytes  = 2 * kBlockWords;

constexpr int eventMask = 0x8006; // receive, event character, output queue empty

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

// The sixteen parameter words, in frame order.
struct Parameters {
    std::uint16_t power, reference, hysteresis, polarity, hold, hwmode, average, evalmode, mmtime,
        mmthd, sdelay, para12, para13, para14, para15, para16;
};

struct Vars {
    int com                               = 1;
    int sync                              = 0x55;
    int order                             = 1;
    std::uint16_t pp[PNUM]                = {};
    unsigned char szWriteBuf[kBufferSize] = {};
    unsigned char szReadBuf[kBufferSize]  = {};
    int nBytesW                           = 0;
    int nBytesR                           = 0;
    int pcbtype                           = 0;
    int rx_flag                           = 1;
    int graphrefresh                      = 0;
    std::uint16_t ttick                   = 0;
    int ret                               = 0;
    double tstart                         = 0;
    double tdiff                          = 0;
    char szStatus[kStatusSize]            = {};
    char szVersion[kTextSize]             = {};
    char firmware[kStatusSize]            = {}; // the last firmware text, of either variant
    int target                            = RAM;
    Parameters params                     = {};
    std::uint16_t yArrayA[kCurveSize]     = {};
    std::uint16_t yArrayB[kCurveSize]     = {};
};

extern Vars vars;

// --- Frames ---
void FillTxBuf(int code, const std::uint16_t *words);
void GetRxBuf(int n);
// Writes the frame in szWriteBuf to com; true when all of it went out.
bool WriteFrame();
// Drops what waits in the input queue, then in the output queue, of a port.
void FlushBoth(int port);

// --- Port set-up and line check ---
// The status text of a negative open result.
const char *OpenErrorText(int result);
void InitRS232(int port);
int CheckComLine(int port);
int GetVERSIONInfo();
// The firmware text of a variant-100 reply (72 bytes of text) or a variant-0 reply
// (32 words, one character in each low byte), up to the first zero; nothing is written
// into a buffer of no size.
void DecodeFirmware100(const unsigned char *reply, char *text, int size);
void DecodeFirmware0(const unsigned char *reply, char *text, int size);

// --- Receive callback and waits ---
void RX_Receive_Function(int port, int eventBits, void *callbackData);
int WaitRxFull();
// Installs the receive callback as the port set-up does, or detaches it.
void AttachReceiveCallback();
void DetachReceiveCallback();

// --- Data block read ---
int ReadData64(int start, int source, int code);

// --- Parameter copies ---
// Word i (0 to PNUM - 1) of a parameter set, in frame order.
std::uint16_t ParameterWord(const Parameters &params, int i);
void CopyVarsToPP();
void CopyPPtoVars();

} // namespace com232
