// One open line under the serial services: a serial device of this machine, or a remote
// line reached over TCP. The services see every line only through this interface, so a
// remote line behaves to its callers exactly as a local one.
//
// Thread rule as for the services: every call from the program thread. No call processes
// the program's events; the two callbacks of Watch run from Qt's handling of the line's
// signals, either in event processing or inside one of the waits below.
#pragma once

#include "line_results.h"

#include <QtGlobal>

#include <functional>
#include <memory>
#include <string>

class SerialLine {
  public:
    virtual ~SerialLine() = default;

    // arrived: new bytes are waiting. lost: the line is gone for good (device pulled,
    // connection closed); later calls fail as on a closed port.
    virtual void Watch(std::function<void()> arrived, std::function<void()> lost) = 0;

    // Bytes received and not yet read; nothing is read.
    virtual qint64 BytesAvailable() const = 0;
    // Takes up to maxSize received bytes; the count taken.
    virtual qint64 Read(char *data, qint64 maxSize) = 0;
    // Queues size bytes for the peer; size, or -1 when the line is closed.
    virtual qint64 Write(const char *data, qint64 size) = 0;
    // Queued bytes not yet handed to the system.
    virtual qint64 BytesToWrite() const = 0;
    // Hands queued bytes to the system now, as far as it takes them without waiting.
    virtual bool Flush()                     = 0;
    virtual bool WaitForBytesWritten(int ms) = 0;
    // Waits until new bytes arrived or ms passed; true when bytes came.
    virtual bool WaitForReadyRead(int ms) = 0;
    // True when the last wait ended for another reason than its time-out: the line broke.
    virtual bool WaitFailed() const = 0;

    // Drops what waits for input, or what is queued for output.
    virtual bool ClearInput()                  = 0;
    virtual bool ClearOutput()                 = 0;
    virtual bool SetHardwareHandshake(bool on) = 0;

    // Why the line was lost, when the line knows more than that it is gone; empty else.
    virtual std::string LostCause() const { return {}; }
};

// The settings an open asks of the line: parity 0 none, 1 odd, 2 even.
struct LineSettings {
    long baudRate = 0;
    int parity    = 0;
    int dataBits  = 0;
    int stopBits  = 0;
};
