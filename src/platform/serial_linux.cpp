// Serial-port services: one line per open COM number, a local device over Qt SerialPort or
// a remote line (remote_port.h), the receive callback delivered through queued events, and
// ports whose line vanished closed at the next safe point.
#include "serial.h"

#include "panel_internal.h"
#include "port_diagnosis.h"
#include "ports.h"
#include "remote_port.h"
#include "serial_line.h"
#include "trace.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSerialPort>

#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Holds an exclusive flock on the device for as long as the port is open: Qt's lock
// file only keeps out programs that look for it, and TIOCEXCL does not stop root.
class DeviceLock {
  public:
    DeviceLock() = default;
    explicit DeviceLock(int fd) : fd_(fd) {}
    ~DeviceLock() {
        if (fd_ >= 0)
            close(fd_);
    }
    DeviceLock(DeviceLock &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    DeviceLock &operator=(DeviceLock &&other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }

  private:
    int fd_ = -1;
};

// --- Local lines ---

// A pty whose master closed reports ReadError (EIO); an unplugged adapter ResourceError.
bool MeansDeviceLoss(QSerialPort::SerialPortError error) {
    return error == QSerialPort::ResourceError || error == QSerialPort::ReadError ||
           error == QSerialPort::WriteError;
}

class LocalLine final : public SerialLine {
  public:
    DeviceLock lock; // declared before serial: released only after the device is closed
    QSerialPort serial;

    void Watch(std::function<void()> arrived, std::function<void()> lost) override {
        QObject::connect(&serial, &QSerialPort::readyRead, &serial, std::move(arrived));
        QObject::connect(&serial, &QSerialPort::errorOccurred, &serial,
                         [lost = std::move(lost)](QSerialPort::SerialPortError error) {
                             if (MeansDeviceLoss(error))
                                 lost();
                         });
    }
    qint64 BytesAvailable() const override { return serial.bytesAvailable(); }
    qint64 Read(char *data, qint64 maxSize) override { return serial.read(data, maxSize); }
    qint64 Write(const char *data, qint64 size) override { return serial.write(data, size); }
    qint64 BytesToWrite() const override { return serial.bytesToWrite(); }
    bool Flush() override { return serial.flush(); }
    bool WaitForBytesWritten(int ms) override { return serial.waitForBytesWritten(ms); }
    bool WaitForReadyRead(int ms) override { return serial.waitForReadyRead(ms); }
    bool WaitFailed() const override { return serial.error() != QSerialPort::TimeoutError; }
    bool ClearInput() override { return serial.clear(QSerialPort::Input); }
    bool ClearOutput() override { return serial.clear(QSerialPort::Output); }
    bool SetHardwareHandshake(bool on) override {
        return serial.setFlowControl(on ? QSerialPort::HardwareControl
                                        : QSerialPort::NoFlowControl);
    }
};

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
};

SerialState state;

void PostToProgramThread(std::function<void()> task) {
    if (QCoreApplication *application = QCoreApplication::instance())
        QMetaObject::invokeMethod(application, std::move(task), Qt::QueuedConnection);
}

// The usable port of that number. A port whose device vanished is discarded here rather
// than in its error signal, because that signal comes from inside the line's own code;
// the services below are never called from there.
Port *UsablePort(int number) {
    auto it = state.ports.find(number);
    if (it == state.ports.end())
        return nullptr;
    if (it->second->vanished) {
        state.ports.erase(it);
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
    state.ports.clear();
}

// --- Opening ---

const OpenFailure kOpened{};

// Checks the device file itself so the result does not depend on Qt's error guesses.
OpenFailure CheckDeviceFile(const std::string &device) {
    struct stat info {};
    if (stat(device.c_str(), &info) != 0) {
        const int error = errno;
        return {error == ENOENT || error == ENOTDIR ? kComErrNoPortFound : kComErrCannotOpen,
                error};
    }
    if (!S_ISCHR(info.st_mode))
        return {kComErrInvalidParameter, ENOTTY};
    if (access(device.c_str(), R_OK | W_OK) != 0)
        return {kComErrCannotOpen, errno};
    return kOpened;
}

// Opens the device on a descriptor of its own and locks it there before Qt opens it, so
// a device in use elsewhere is refused before its line settings are touched.
OpenFailure LockDevice(const std::string &device, DeviceLock &lock) {
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {kComErrCannotOpen, errno};
    DeviceLock candidate(fd);
    // Before the lock: a device that many programs share, like /dev/null, must be refused
    // for what it is, not for being locked by one of them.
    if (!isatty(fd))
        return {kComErrInvalidParameter, ENOTTY};
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        return {kComErrCannotOpen, EBUSY};
    lock = std::move(candidate);
    return kOpened;
}

// The device file passed every check of our own by now, so a permission error here is
// Qt's lock file or TIOCEXCL held by another program.
OpenFailure QtOpenFailure(QSerialPort::SerialPortError error) {
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return {kComErrNoPortFound, ENOENT};
    case QSerialPort::PermissionError:
        return {kComErrCannotOpen, EBUSY};
    case QSerialPort::UnsupportedOperationError:
        return {kComErrInvalidParameter, EINVAL};
    default:
        return {kComErrCannotOpen, EIO};
    }
}

std::optional<QSerialPort::Parity> ParityOf(int parity) {
    switch (parity) {
    case 0:
        return QSerialPort::NoParity;
    case 1:
        return QSerialPort::OddParity;
    case 2:
        return QSerialPort::EvenParity;
    default:
        return std::nullopt;
    }
}

std::optional<QSerialPort::DataBits> DataBitsOf(int dataBits) {
    if (dataBits < QSerialPort::Data5 || dataBits > QSerialPort::Data8)
        return std::nullopt;
    return static_cast<QSerialPort::DataBits>(dataBits);
}

std::optional<QSerialPort::StopBits> StopBitsOf(int stopBits) {
    if (stopBits == 1)
        return QSerialPort::OneStop;
    if (stopBits == 2)
        return QSerialPort::TwoStop;
    return std::nullopt;
}

bool ApplyLineSettings(QSerialPort &serial, const LineSettings &settings) {
    const auto parityValue   = ParityOf(settings.parity);
    const auto dataBitsValue = DataBitsOf(settings.dataBits);
    const auto stopBitsValue = StopBitsOf(settings.stopBits);
    if (!parityValue || !dataBitsValue || !stopBitsValue || settings.baudRate <= 0 ||
        settings.baudRate > std::numeric_limits<qint32>::max())
        return false;
    return serial.setBaudRate(static_cast<qint32>(settings.baudRate)) &&
           serial.setDataBits(*dataBitsValue) && serial.setParity(*parityValue) &&
           serial.setStopBits(*stopBitsValue) && serial.setFlowControl(QSerialPort::NoFlowControl);
}

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

OpenFailure OpenLocalLine(const std::string &device, const LineSettings &settings,
                          std::unique_ptr<SerialLine> &line) {
    if (const OpenFailure failure = CheckDeviceFile(device); failure.code)
        return failure;
    auto local = std::make_unique<LocalLine>();
    if (const OpenFailure failure = LockDevice(device, local->lock); failure.code)
        return failure;
    local->serial.setPortName(QString::fromStdString(device));
    if (!local->serial.open(QIODevice::ReadWrite))
        return QtOpenFailure(local->serial.error());
    if (!ApplyLineSettings(local->serial, settings))
        return {kComErrInvalidParameter, EINVAL};
    line = std::move(local);
    return kOpened;
}

OpenFailure OpenDevice(int portNo, const std::string &device, const LineSettings &settings) {
    std::unique_ptr<SerialLine> line;
    const OpenFailure failure = IsRemoteAddress(device) ? OpenRemoteLine(device, settings, line)
                                                        : OpenLocalLine(device, settings, line);
    if (failure.code)
        return failure;
    auto port    = std::make_unique<Port>();
    port->id     = state.nextId++;
    port->number = portNo;
    port->serial = std::move(line);
    ConnectSignals(*port);
    state.ports[portNo] = std::move(port);
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
    CloseCom(portNo);
    state.openDiagnosis.clear();
    const std::string device =
        deviceName && *deviceName ? std::string(deviceName) : PortDevice(portNo);
    const OpenFailure failure =
        device.empty() ? OpenFailure{kComErrInvalidPort, 0}
                       : OpenDevice(portNo, device, {baudRate, parity, dataBits, stopBits});
    if (failure.code) {
        state.openDiagnosis = failure.diagnosis.empty()
                                  ? DiagnoseOpenFailure(failure.errorNumber, device)
                                  : failure.diagnosis;
        TraceDiagnosis(state.openDiagnosis.c_str());
    }
    return failure.code;
}

const char *GetOpenDiagnosis() {
    return state.openDiagnosis.c_str();
}

int CloseCom(int portNo) {
    if (!UsablePort(portNo))
        return kComErrPortNotOpen;
    state.ports.erase(portNo);
    return 0;
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
