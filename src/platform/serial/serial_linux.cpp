// Serial-port services: one line per open COM number, a local device (local_line.h) or a
// remote line (remote_port.h), the receive callback delivered through queued events, and
// ports whose line vanished closed at the next safe point.
#include "serial.h"

#include "local_line.h"
#include "panel/events_internal.h"
#include "port_diagnosis.h"
#include "ports.h"
#include "remote_port.h"
#include "serial_line.h"
#include "trace.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>

namespace {

// Read and write time-out of a port until SetComTime sets one.
constexpr double kDefaultTimeoutSeconds = 5.0;
// The shortest sleep of WaitForInQ, so that a poll whose time-out is due does not spin
// on a remainder of less than a millisecond.
constexpr int kShortestWaitMs        = 1;
constexpr int kMillisecondsPerSecond = 1000;

struct ReceiveCallback {
    ComCallbackPtr function = nullptr;
    void *data              = nullptr;
    int mask                = 0;
    int notifyCount         = 1;
};

struct Port {
    // Tells this port from a later one of the same number that a queued event outlived.
    std::uint64_t id = 0;
    int number       = 0;
    std::string device;
    std::unique_ptr<SerialLine> serial;
    double timeoutSeconds = kDefaultTimeoutSeconds;
    ReceiveCallback callback;
    bool deliveryPending     = false; // a delivery is queued or its callback is running
    bool vanished            = false;
    qint64 lastInQueueLength = -1;
};

struct SerialState {
    std::map<int, std::unique_ptr<Port>> ports;
    std::uint64_t nextId = 1;
    std::string openDiagnosis; // of the last open, empty when it succeeded
    // Ports closed because their line was lost, with why, until opened or closed again.
    std::map<int, std::string> lost;
};

SerialState opened;

void PostToProgramThread(std::function<void()> task) {
    if (QCoreApplication *application = QCoreApplication::instance())
        QMetaObject::invokeMethod(application, std::move(task), Qt::QueuedConnection);
}

// The usable port of that number. A port whose device vanished is discarded here rather
// than in its error signal, because that signal comes from inside the line's own code;
// the services below are never called from there.
Port *UsablePort(int number) {
    auto it = opened.ports.find(number);
    if (it == opened.ports.end())
        return nullptr;
    if (it->second->vanished) {
        opened.lost[number] =
            DiagnoseLostLine(number, it->second->device, it->second->serial->LostCause());
        opened.ports.erase(it);
        return nullptr;
    }
    return it->second.get();
}

void DiscardIfVanished(int number) {
    UsablePort(number);
}

Port *UsablePort(int number, std::uint64_t id) {
    Port *port = UsablePort(number);
    return port && port->id == id ? port : nullptr;
}

// --- Callback delivery ---

bool WantsDelivery(const Port &port) {
    return port.callback.function && (port.callback.mask & kComEventReceive) &&
           port.serial->BytesAvailable() >= port.callback.notifyCount;
}

void Deliver(int number, std::uint64_t id);

void ScheduleDelivery(Port &port) {
    if (port.deliveryPending || !WantsDelivery(port))
        return;
    port.deliveryPending = true;
    PostToProgramThread([number = port.number, id = port.id] { Deliver(number, id); });
}

// Runs from event processing only. The bytes may have been read or flushed and the
// callback detached since the delivery was queued, so everything is checked again.
void Deliver(int number, std::uint64_t id) {
    Port *port = UsablePort(number, id);
    if (!port)
        return;
    if (!WantsDelivery(*port)) {
        port->deliveryPending = false;
        return;
    }
    const ReceiveCallback callback = port->callback;
    platform::NoteCallbackRun();
    callback.function(number, kComEventReceive, callback.data);
    // The callback may have closed or reopened the port.
    if (Port *after = UsablePort(number, id)) {
        after->deliveryPending = false;
        ScheduleDelivery(*after);
    }
}

// --- Device loss ---

void MarkVanished(Port &port) {
    if (port.vanished)
        return;
    port.vanished = true;
    // Close it soon even when no service is called, so the event loop stops polling it.
    PostToProgramThread([number = port.number] { DiscardIfVanished(number); });
}

void ConnectSignals(Port &port) {
    port.serial->Watch([&port] { ScheduleDelivery(port); }, [&port] { MarkVanished(port); });
}

void CloseAllPorts() {
    opened.ports.clear();
}

// --- Opening ---

const OpenFailure kOpened{};

// --- Reading and writing ---

QDeadlineTimer DeadlineOf(const Port &port) {
    const auto ms = static_cast<qint64>(std::lround(port.timeoutSeconds * kMillisecondsPerSecond));
    return QDeadlineTimer(ms, Qt::PreciseTimer);
}

// A wait in whole milliseconds, rounded up, kShortestWaitMs at least (also for NaN).
int WaitMs(double seconds) {
    const double ms = std::ceil(seconds * kMillisecondsPerSecond);
    if (!(ms > kShortestWaitMs))
        return kShortestWaitMs;
    return static_cast<int>(std::min(ms, double{std::numeric_limits<int>::max()}));
}

int RemainingMs(const QDeadlineTimer &deadline) {
    return static_cast<int>(deadline.remainingTime());
}

int ReadBuffered(SerialLine &serial, unsigned char *buffer, int count) {
    const qint64 n = serial.Read(reinterpret_cast<char *>(buffer), count);
    return n > 0 ? static_cast<int>(n) : 0;
}

OpenFailure OpenDevice(int portNo, const std::string &device, const LineSettings &settings) {
    std::unique_ptr<SerialLine> line;
    const OpenFailure failure = IsRemoteAddress(device) ? OpenRemoteLine(device, settings, line)
                                                        : OpenLocalLine(device, settings, line);
    if (failure.code)
        return failure;
    auto port    = std::make_unique<Port>();
    port->id     = opened.nextId++;
    port->number = portNo;
    port->device = device;
    port->serial = std::move(line);
    ConnectSignals(*port);
    opened.ports[portNo] = std::move(port);
    // Ports still open when the engine stops must close while Qt can still tear them down.
    qRemovePostRoutine(CloseAllPorts);
    qAddPostRoutine(CloseAllPorts);
    return kOpened;
}

} // namespace

int OpenComConfig(int portNo, const char *deviceName, long baudRate, int parity, int dataBits,
                  int stopBits,
                  // The kernel's queues serve; Linux has no size to set for them.
                  [[maybe_unused]] int inputQueueSize, [[maybe_unused]] int outputQueueSize) {
    // A port whose line was lost stays so until it opens again.
    DiscardIfVanished(portNo);
    const auto lost           = opened.lost.find(portNo);
    const std::string wasLost = lost == opened.lost.end() ? std::string() : lost->second;
    CloseCom(portNo);
    opened.openDiagnosis.clear();
    const std::string device =
        deviceName && *deviceName ? std::string(deviceName) : PortDevice(portNo);
    const OpenFailure failure =
        device.empty() ? OpenFailure{kComErrInvalidPort, 0}
                       : OpenDevice(portNo, device, {baudRate, parity, dataBits, stopBits});
    if (failure.code) {
        opened.openDiagnosis = failure.diagnosis.empty()
                                   ? DiagnoseOpenFailure(failure.errorNumber, device)
                                   : failure.diagnosis;
        TraceDiagnosis(opened.openDiagnosis.c_str());
        if (!wasLost.empty())
            opened.lost[portNo] = wasLost;
    }
    return failure.code;
}

const char *GetOpenDiagnosis() {
    return opened.openDiagnosis.c_str();
}

int CloseCom(int portNo) {
    const bool usable = UsablePort(portNo) != nullptr;
    opened.lost.erase(portNo);
    if (!usable)
        return kComErrPortNotOpen;
    opened.ports.erase(portNo);
    return 0;
}

const char *GetLostDiagnosis(int portNo) {
    DiscardIfVanished(portNo);
    const auto it = opened.lost.find(portNo);
    return it == opened.lost.end() ? "" : it->second.c_str();
}

void SetDiagnosisForProgram(int audience) {
    SetDiagnosisAudience(audience == kDiagnosisService       ? DiagnosisAudience::RetryingService
                         : audience == kDiagnosisCommandLine ? DiagnosisAudience::CommandLine
                                                             : DiagnosisAudience::Panel);
}

int SetComTime(int portNo, double timeoutSeconds) {
    Port *port = UsablePort(portNo);
    if (!port)
        return kComErrPortNotOpen;
    if (std::isnan(timeoutSeconds) || timeoutSeconds < 0)
        return kComErrInvalidParameter;
    port->timeoutSeconds = timeoutSeconds;
    return 0;
}

int SetCTSMode(int portNo, int mode) {
    Port *port = UsablePort(portNo);
    if (!port)
        return kComErrPortNotOpen;
    return port->serial->SetHardwareHandshake(mode != 0) ? 0 : kComErrIO;
}

int FlushInQ(int portNo) {
    Port *port = UsablePort(portNo);
    if (!port)
        return kComErrPortNotOpen;
    return port->serial->ClearInput() ? 0 : kComErrIO;
}

int FlushOutQ(int portNo) {
    Port *port = UsablePort(portNo);
    if (!port)
        return kComErrPortNotOpen;
    return port->serial->ClearOutput() ? 0 : kComErrIO;
}

int ComWrt(int portNo, const unsigned char *buffer, int count) {
    Port *port = UsablePort(portNo);
    if (!port)
        return kComErrPortNotOpen;
    if (!buffer || count <= 0)
        return 0;
    const qint64 queued = port->serial->Write(reinterpret_cast<const char *>(buffer), count);
    if (queued < 0)
        return kComErrIO;
    // Hands the bytes to the device at once; the wait below is for a device that is full.
    port->serial->Flush();
    const QDeadlineTimer deadline = DeadlineOf(*port);
    while (port->serial->BytesToWrite() > 0 &&
           port->serial->WaitForBytesWritten(RemainingMs(deadline))) {
    }
    // Bytes left over from an earlier write that timed out are not this call's.
    const int written =
        static_cast<int>(std::clamp<qint64>(queued - port->serial->BytesToWrite(), 0, queued));
    TraceBytes("TX", buffer, written);
    platform::NotePortWrite();
    // On a pty the bytes reach the peer through a kernel worker that the scheduler may
    // hold back behind whatever this thread does next (the replot after a request);
    // stepping aside once lets the peer see the request at once.
    sched_yield();
    if (!UsablePort(portNo))
        return written > 0 ? written : kComErrIO;
    return written;
}

int ComRd(int portNo, unsigned char *buffer, int count) {
    Port *port = UsablePort(portNo);
    if (!port || !buffer || count <= 0)
        return 0;
    const QDeadlineTimer deadline = DeadlineOf(*port);
    int received                  = ReadBuffered(*port->serial, buffer, count);
    while (received < count && !deadline.hasExpired()) {
        // The wait polls the line alone: no event is processed in here.
        if (!port->serial->WaitForReadyRead(RemainingMs(deadline)) && port->serial->WaitFailed())
            break;
        received += ReadBuffered(*port->serial, buffer + received, count - received);
    }
    TraceBytes("RX", buffer, received);
    DiscardIfVanished(portNo);
    return received;
}

int GetInQLen(int portNo) {
    Port *port = UsablePort(portNo);
    if (!port)
        return kComErrPortNotOpen;
    // Qt's buffer only grows when Qt reads the device; make it take what the kernel holds.
    port->serial->WaitForReadyRead(0);
    if (!UsablePort(portNo))
        return kComErrPortNotOpen;
    port->lastInQueueLength = port->serial->BytesAvailable();
    return static_cast<int>(port->lastInQueueLength);
}

int WaitForInQ(int portNo, double timeoutSeconds) {
    const int ms = WaitMs(timeoutSeconds);
    Port *port   = UsablePort(portNo);
    if (!port) {
        // A poll on a port whose device vanished runs to its time-out asleep, as on a
        // silent one.
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return kComErrPortNotOpen;
    }
    port->serial->WaitForReadyRead(0);
    // waitForReadyRead sleeps in poll(2) on the device alone: no event is processed here.
    if (port->serial->BytesAvailable() == port->lastInQueueLength)
        port->serial->WaitForReadyRead(ms);
    if (!UsablePort(portNo))
        return kComErrPortNotOpen;
    return static_cast<int>(port->serial->BytesAvailable());
}

int InstallComCallback(int portNo, int eventMask, int notifyCount,
                       [[maybe_unused]] int eventCharacter, ComCallbackPtr callback,
                       void *callbackData) {
    Port *port = UsablePort(portNo);
    if (!port)
        return kComErrPortNotOpen;
    if (eventMask == 0 || !callback)
        port->callback = {};
    else
        port->callback = {callback, callbackData, eventMask, std::max(1, notifyCount)};
    // Bytes that are already waiting count as well.
    ScheduleDelivery(*port);
    return 0;
}
