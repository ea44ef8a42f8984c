// Local lines: a serial device of this machine over Qt SerialPort, checked and locked
// before Qt opens it, so that a refused open says why in the system's own terms.
#include "local_line.h"

#include "port_diagnosis.h"
#include "trace.h"

#include <QSerialPort>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <optional>
#include <utility>

namespace {

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

// Qt's serial port takes over a lock file whose program has ended, at the open; the trace
// names each one it removed, as the diagnosis names one it could not remove.
void TraceRemovedLocks(const std::string &device, const std::vector<std::string> &staleBefore) {
    const std::vector<std::string> staleNow = StaleLockFiles(device);
    for (const std::string &lock : staleBefore)
        if (std::find(staleNow.begin(), staleNow.end(), lock) == staleNow.end())
            TraceDiagnosis((device + " was locked by " + lock + "; the lock was removed").c_str());
}

} // namespace

OpenFailure OpenLocalLine(const std::string &device, const LineSettings &settings,
                          std::unique_ptr<SerialLine> &line) {
    if (const OpenFailure failure = CheckDeviceFile(device); failure.code)
        return failure;
    auto local = std::make_unique<LocalLine>();
    if (const OpenFailure failure = LockDevice(device, local->lock); failure.code)
        return failure;
    const std::vector<std::string> stale = StaleLockFiles(device);
    local->serial.setPortName(QString::fromStdString(device));
    const bool opened = local->serial.open(QIODevice::ReadWrite);
    TraceRemovedLocks(device, stale);
    if (!opened)
        return QtOpenFailure(local->serial.error());
    if (!ApplyLineSettings(local->serial, settings))
        return {kComErrInvalidParameter, EINVAL};
    line = std::move(local);
    return kOpened;
}
