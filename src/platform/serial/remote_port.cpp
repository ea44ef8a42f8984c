// Remote lines over Qt's TCP socket: the raw stream, and the part of Telnet and of its COM
// Port Control option (RFC 854, RFC 2217) that setting and purging one line needs. The
// socket's readyRead wakes the program's event loop when bytes arrive, and its own waits
// block on the socket alone, so the serial services keep their rules on a remote line.
// What the server sends is decoded by telnet.h, which holds no Qt.
#include "remote_port.h"

#include "port_diagnosis.h"
#include "telnet.h"
#include "text.h"

#include <QDeadlineTimer>
#include <QHostInfo>
#include <QTcpSocket>

#include <algorithm>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace {

constexpr std::string_view kRawScheme     = "tcp://";
constexpr std::string_view kRfc2217Scheme = "rfc2217://";
constexpr int kMaxTcpPort                 = 65535;
// A device server on the plant network answers well within this; longer means it is off
// or filtered, and the operator should not wait for the system's own minutes.
constexpr int kConnectMs = 2000;
// How long the server may take to confirm the line settings.
constexpr int kSettingsMs = 2000;
// ser2net passes on what it read from the line only once the line has been quiet for its
// character delay, 20 ms at the most, and a purge drops only what it has not read yet. So
// a reply that waited on the line when the server opened it comes after the open's purge,
// and the open drops input until the line has been quiet this long (the server's longest
// hold and some room for its timer to be late), at most kSettleMs in all.
constexpr int kQuietMs  = 25;
constexpr int kSettleMs = 200;

constexpr std::uint8_t kParityCodeOffset = 1; // the option's NONE, ODD, EVEN follow ours

// What the line holds for the program: as a serial driver's input queue, bytes beyond it are
// dropped. That is over half a minute of the line at 19200 baud, and it bounds what a server
// that floods the connection costs. The socket takes no more from the system at a time.
constexpr qsizetype kInputQueueBytes = 64 * 1024;
// What a diagnosis quotes of the words a server said before it hung up.
constexpr qsizetype kSaidBytes = 200;

using namespace telnet;

struct RemoteAddress {
    bool rfc2217 = false;
    std::string host;
    int port = 0;
};

std::optional<RemoteAddress> ParseAddress(std::string_view address) {
    RemoteAddress parsed;
    if (address.starts_with(kRfc2217Scheme)) {
        parsed.rfc2217 = true;
        address.remove_prefix(kRfc2217Scheme.size());
    } else if (address.starts_with(kRawScheme)) {
        address.remove_prefix(kRawScheme.size());
    } else {
        return std::nullopt;
    }
    const std::size_t colon = address.rfind(':');
    if (colon == std::string_view::npos || colon == 0)
        return std::nullopt;
    std::string_view host = address.substr(0, colon);
    if (host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const std::string_view port = address.substr(colon + 1);
    if (host.empty() || port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    parsed.host = std::string(host);
    parsed.port = std::stoi(std::string(port));
    if (parsed.port < 1 || parsed.port > kMaxTcpPort)
        return std::nullopt;
    return parsed;
}

QByteArray Command(std::uint8_t verb, std::uint8_t option) {
    QByteArray command;
    for (std::uint8_t byte : {kIac, verb, option})
        command.append(static_cast<char>(byte));
    return command;
}

// Data bytes as Telnet carries them: a byte 255 is sent twice.
QByteArray Escaped(const char *data, qint64 size) {
    QByteArray escaped;
    escaped.reserve(static_cast<qsizetype>(size));
    for (qint64 i = 0; i < size; ++i) {
        escaped.append(data[i]);
        if (static_cast<std::uint8_t>(data[i]) == kIac)
            escaped.append(data[i]);
    }
    return escaped;
}

QByteArray BigEndian(std::uint32_t value, int bytes) {
    QByteArray out;
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
        out.append(static_cast<char>((value >> shift) & 0xFF));
    return out;
}

std::uint32_t ValueOf(const std::string &bytes) {
    std::uint32_t value = 0;
    for (char byte : bytes)
        value = value << 8 | static_cast<std::uint8_t>(byte);
    return value;
}

// The first line of what a server said, at most kSaidBytes of it, in printable form.
std::string FirstLineSaid(const QByteArray &said) {
    QByteArray line = said.trimmed();
    if (const qsizetype end = line.indexOf('\n'); end >= 0)
        line.truncate(end);
    line           = line.trimmed();
    const bool cut = line.size() > kSaidBytes;
    line.truncate(kSaidBytes);
    return PrintableText(
               std::string_view(line.constData(), static_cast<std::size_t>(line.size()))) +
           (cut ? "..." : "");
}

std::string SettingName(std::uint8_t command) {
    switch (command) {
    case kSetBaudRate:
        return "baud rate";
    case kSetDataSize:
        return "data bits";
    case kSetParity:
        return "parity";
    case kSetStopSize:
        return "stop bits";
    default:
        return "flow control";
    }
}

// Splits what the server sends into the line's data and Telnet's commands, across any
// cut TCP makes, and answers the option negotiation.
class RemoteLine final : public SerialLine {
  public:
    explicit RemoteLine(const RemoteAddress &address) : address_(address) {
        socket_.setReadBufferSize(kInputQueueBytes);
        QObject::connect(&socket_, &QTcpSocket::readyRead, &socket_, [this] { TakeArrived(); });
        QObject::connect(&socket_, &QTcpSocket::disconnected, &socket_, [this] { ReportLost(); });
        QObject::connect(&socket_, &QTcpSocket::errorOccurred, &socket_,
                         [this](QAbstractSocket::SocketError error) {
                             // A wait that runs out sets this error too; the line is fine.
                             if (error != QAbstractSocket::SocketTimeoutError)
                                 ReportLost();
                         });
    }
    ~RemoteLine() override {
        // Closing raises the socket's signals; nobody is left to hear them.
        arrived_ = nullptr;
        lost_    = nullptr;
        socket_.abort();
    }

    OpenFailure Connect(const QList<QHostAddress> &addresses);
    OpenFailure Configure(const LineSettings &settings);
    // Drops what the line sent before this client, however late the server passes it on.
    void DropStaleInput();

    void Watch(std::function<void()> arrived, std::function<void()> lost) override {
        arrived_ = std::move(arrived);
        lost_    = std::move(lost);
        if (lostSeen_ && lost_)
            lost_();
    }
    qint64 BytesAvailable() const override { return received_.size(); }
    qint64 Read(char *data, qint64 maxSize) override {
        const qsizetype n = static_cast<qsizetype>(std::min<qint64>(maxSize, received_.size()));
        std::copy_n(received_.constData(), n, data);
        received_.remove(0, n);
        return n;
    }
    qint64 Write(const char *data, qint64 size) override {
        if (socket_.state() != QAbstractSocket::ConnectedState)
            return -1;
        const QByteArray bytes = address_.rfc2217 ? Escaped(data, size) : QByteArray(data, size);
        wroteSincePurge_       = true;
        return socket_.write(bytes) < 0 ? -1 : size;
    }
    qint64 BytesToWrite() const override { return socket_.bytesToWrite(); }
    bool Flush() override { return socket_.flush(); }
    bool WaitForBytesWritten(int ms) override { return socket_.waitForBytesWritten(ms); }
    bool WaitForReadyRead(int ms) override;
    bool WaitFailed() const override { return waitFailed_; }
    bool ClearInput() override {
        // What the system holds is input waiting as well.
        socket_.waitForReadyRead(0);
        TakeArrived();
        received_.clear();
        return Purge(kPurgeReceive);
    }
    // The server's transmit buffer holds only what was written here: with nothing written
    // since the last purge there is nothing to drop, and the line's turnaround is spared.
    bool ClearOutput() override {
        if (!std::exchange(wroteSincePurge_, false))
            return socket_.state() == QAbstractSocket::ConnectedState;
        return Purge(kPurgeTransmit);
    }
    bool SetHardwareHandshake(bool on) override {
        if (address_.rfc2217)
            SendComPort(kSetControl, BigEndian(on ? kControlHardware : kControlNoFlow, 1));
        return true;
    }
    std::string LostCause() const override { return lostCause_; }

  private:
    std::string Where() const { return address_.host + ":" + std::to_string(address_.port); }
    void TakeArrived();
    void Queue(const char *data, qsizetype size);
    // Hangs up on a server whose stream cannot be decoded further.
    void DropOverrun();
    // Waits until the server answered each command, refused the option or hung up.
    bool AwaitAnswers(const std::vector<std::uint8_t> &commands, const QDeadlineTimer &deadline);
    void Send(const QByteArray &bytes) {
        socket_.write(bytes);
        socket_.flush();
    }
    void SendComPort(std::uint8_t command, const QByteArray &value) {
        QByteArray bytes = Command(kSb, kComPort);
        bytes.append(static_cast<char>(command));
        bytes.append(Escaped(value.constData(), value.size()));
        bytes.append(static_cast<char>(kIac));
        bytes.append(static_cast<char>(kSe));
        Send(bytes);
    }
    bool Purge(std::uint8_t what) {
        if (address_.rfc2217)
            SendComPort(kPurgeData, BigEndian(what, 1));
        return socket_.state() == QAbstractSocket::ConnectedState;
    }
    bool WaitForSocket(const QDeadlineTimer &deadline) {
        return socket_.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
    }
    // ser2net sends with Nagle's algorithm on, so the rest of a reply waits for the
    // acknowledgement of its first part, which Linux delays by up to 40 ms unless asked not
    // to. The request then trails its reply by that much. The system clears the wish after
    // a while, so it is renewed on every receive.
    void AcknowledgeAtOnce() {
        const int on = 1;
        setsockopt(static_cast<int>(socket_.socketDescriptor()), IPPROTO_TCP, TCP_QUICKACK, &on,
                   sizeof on);
    }
    void ReportLost() {
        if (lostSeen_)
            return;
        lostSeen_ = true;
        if (lost_)
            lost_();
    }

    RemoteAddress address_;
    QTcpSocket socket_;
    QByteArray received_;
    std::uint64_t dataBytes_ = 0; // every data byte that ever was queued, read or cleared
    std::function<void()> arrived_;
    std::function<void()> lost_;
    bool lostSeen_        = false;
    bool waitFailed_      = false;
    bool wroteSincePurge_ = true;
    std::string lostCause_; // why this end hung up, when it did

    Decoder decoder_;
};

OpenFailure RemoteLine::Connect(const QList<QHostAddress> &addresses) {
    const QDeadlineTimer deadline(kConnectMs);
    QAbstractSocket::SocketError error = QAbstractSocket::SocketTimeoutError;
    QString reason;
    for (const QHostAddress &host : addresses) {
        socket_.connectToHost(host, static_cast<quint16>(address_.port));
        if (socket_.waitForConnected(static_cast<int>(deadline.remainingTime()))) {
            // Requests are small and each waits for its reply: Nagle's delay would be all
            // latency.
            socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
            lostSeen_ = false; // an earlier address's failure was no loss of this line
            return {};
        }
        error  = socket_.error();
        reason = socket_.errorString();
        socket_.abort();
        if (deadline.hasExpired())
            break;
    }
    RemoteFault fault = RemoteFault::Unreachable;
    if (error == QAbstractSocket::ConnectionRefusedError)
        fault = RemoteFault::Refused;
    else if (error == QAbstractSocket::SocketTimeoutError)
        fault = RemoteFault::NoAnswer;
    return {
        kComErrCannotOpen, 0,
        DiagnoseRemoteOpenFailure(fault, "", address_.host, address_.port, reason.toStdString())};
}

bool RemoteLine::AwaitAnswers(const std::vector<std::uint8_t> &commands,
                              const QDeadlineTimer &deadline) {
    const auto answered = [this, &commands] {
        return std::all_of(commands.begin(), commands.end(), [this](std::uint8_t command) {
            return decoder_.Answers().contains(command);
        });
    };
    TakeArrived();
    while (!decoder_.ComPortRefused() && !answered() && !lostSeen_ && !deadline.hasExpired())
        WaitForSocket(deadline);
    return answered();
}

// Asks for every setting at once and waits for the server's answer to each: the option is
// refused, an answer differs from the value asked, or all agree.
OpenFailure RemoteLine::Configure(const LineSettings &settings) {
    const std::map<std::uint8_t, QByteArray> asked = {
        {kSetBaudRate, BigEndian(static_cast<std::uint32_t>(settings.baudRate), 4)},
        {kSetDataSize, BigEndian(static_cast<std::uint32_t>(settings.dataBits), 1)},
        {kSetParity, BigEndian(static_cast<std::uint32_t>(settings.parity + kParityCodeOffset), 1)},
        {kSetStopSize, BigEndian(static_cast<std::uint32_t>(settings.stopBits), 1)},
        {kSetControl, BigEndian(kControlNoFlow, 1)},
    };
    QByteArray offer = Command(kWill, kComPort) + Command(kWill, kBinary) + Command(kDo, kBinary);
    decoder_.Offered(kComPort);
    decoder_.Offered(kBinary);
    decoder_.Asked(kBinary);
    Send(offer);
    std::vector<std::uint8_t> commands;
    for (const auto &[command, value] : asked) {
        SendComPort(command, value);
        commands.push_back(command);
    }
    const QDeadlineTimer deadline(kSettingsMs);
    AwaitAnswers(commands, deadline);

    const auto fail = [this](int code, RemoteFault fault, const std::string &detail) {
        return OpenFailure{
            code, 0, DiagnoseRemoteOpenFailure(fault, "", address_.host, address_.port, detail)};
    };
    if (decoder_.ComPortRefused())
        return fail(kComErrInvalidParameter, RemoteFault::NoComPortControl,
                    "it refused the COM port option");
    if (decoder_.Overrun())
        return {kComErrCannotOpen, 0, lostCause_};
    if (lostSeen_) {
        // What a server says before it hangs up ("port in use") is the best reason there is.
        const std::string said = FirstLineSaid(received_);
        return fail(kComErrCannotOpen, RemoteFault::Closed,
                    said.empty() ? std::string() : "it said \"" + said + "\"");
    }
    std::string differences;
    for (const auto &[command, value] : asked) {
        const auto answer = decoder_.Answers().find(command);
        if (answer == decoder_.Answers().end())
            return fail(kComErrInvalidParameter, RemoteFault::NoComPortControl,
                        "it did not confirm the settings within 2 s");
        if (answer->second == value.toStdString())
            continue;
        differences += (differences.empty() ? "" : ", ") + SettingName(command) + " " +
                       std::to_string(ValueOf(value.toStdString())) + " asked, " +
                       std::to_string(ValueOf(answer->second)) + " answered";
    }
    if (!differences.empty())
        return fail(kComErrInvalidParameter, RemoteFault::SettingsRefused, differences);
    // The server answers the settings once it has the line open, so a purge now reaches the
    // line: it drops what the controller sent to a client before us and what we sent before
    // this client. A server that does not answer purges is still usable.
    SendComPort(kPurgeData, BigEndian(kPurgeReceive | kPurgeTransmit, 1));
    AwaitAnswers({kPurgeData}, deadline);
    wroteSincePurge_ = false;
    return {};
}

void RemoteLine::DropStaleInput() {
    const QDeadlineTimer settle(kSettleMs);
    TakeArrived();
    do {
        received_.clear();
    } while (!settle.hasExpired() && WaitForReadyRead(static_cast<int>(
                                         std::min<qint64>(kQuietMs, settle.remainingTime()))));
}

bool RemoteLine::WaitForReadyRead(int ms) {
    waitFailed_                = false;
    const std::uint64_t before = dataBytes_;
    const QDeadlineTimer wait  = QDeadlineTimer(ms, Qt::PreciseTimer);
    TakeArrived();
    while (dataBytes_ == before) {
        if (socket_.state() != QAbstractSocket::ConnectedState) {
            waitFailed_ = true;
            return false;
        }
        // Telnet's own bytes wake the wait too, and so do bytes a full queue drops: it goes
        // on until data came or its time is up, however much else the server sends.
        if (!WaitForSocket(wait)) {
            waitFailed_ = socket_.error() != QAbstractSocket::SocketTimeoutError;
            return false;
        }
        if (wait.hasExpired())
            return dataBytes_ != before;
    }
    return true;
}

// Also runs from readyRead, which the socket raises in event processing and inside its
// own waits: bytes are decoded as soon as anyone sees them.
void RemoteLine::TakeArrived() {
    const std::uint64_t before = dataBytes_;
    const QByteArray bytes     = socket_.readAll();
    if (!bytes.isEmpty())
        AcknowledgeAtOnce();
    if (!address_.rfc2217) {
        Queue(bytes.constData(), bytes.size());
    } else {
        Decoded decoded;
        decoder_.Decode(reinterpret_cast<const std::uint8_t *>(bytes.constData()),
                        static_cast<std::size_t>(bytes.size()), decoded);
        Queue(decoded.data.data(), static_cast<qsizetype>(decoded.data.size()));
        if (!decoded.replies.empty())
            Send(QByteArray::fromStdString(decoded.replies));
        if (decoder_.Overrun())
            DropOverrun();
    }
    if (dataBytes_ > before && arrived_)
        arrived_();
}

void RemoteLine::Queue(const char *data, qsizetype size) {
    const qsizetype taken = std::min(size, kInputQueueBytes - received_.size());
    if (taken <= 0)
        return;
    received_.append(data, taken);
    dataBytes_ += static_cast<std::uint64_t>(taken);
}

void RemoteLine::DropOverrun() {
    if (!lostCause_.empty())
        return;
    lostCause_ = DiagnoseRemoteOpenFailure(RemoteFault::Overrun, "", address_.host, address_.port,
                                           "a Telnet sub-negotiation of more than " +
                                               std::to_string(kMaxSubnegotiation) + " bytes");
    socket_.abort();
    ReportLost();
}

} // namespace

bool IsRemoteAddress(const std::string &device) {
    return device.starts_with(kRawScheme) || device.starts_with(kRfc2217Scheme);
}

std::string RemoteLineKind(const std::string &device) {
    if (device.starts_with(kRfc2217Scheme))
        return "RFC 2217";
    return device.starts_with(kRawScheme) ? "raw TCP" : "";
}

OpenFailure OpenRemoteLine(const std::string &address, const LineSettings &settings,
                           std::unique_ptr<SerialLine> &line) {
    const std::optional<RemoteAddress> parsed = ParseAddress(address);
    if (!parsed)
        return {kComErrNoPortFound, 0,
                DiagnoseRemoteOpenFailure(RemoteFault::BadAddress, address, "", 0, "")};
    if (settings.baudRate <= 0 || settings.baudRate > std::numeric_limits<qint32>::max() ||
        settings.parity < 0 || settings.parity > 2 || settings.dataBits < 5 ||
        settings.dataBits > 8 || settings.stopBits < 1 || settings.stopBits > 2)
        return {kComErrInvalidParameter, EINVAL, {}};
    // The lookup blocks like the connect after it: the open processes no events.
    const QHostInfo host = QHostInfo::fromName(QString::fromStdString(parsed->host));
    if (host.error() != QHostInfo::NoError || host.addresses().isEmpty())
        return {kComErrNoPortFound, 0,
                DiagnoseRemoteOpenFailure(RemoteFault::HostNotFound, address, parsed->host,
                                          parsed->port, host.errorString().toStdString())};
    auto remote = std::make_unique<RemoteLine>(*parsed);
    if (OpenFailure failure = remote->Connect(host.addresses()); failure.code)
        return failure;
    if (parsed->rfc2217)
        if (OpenFailure failure = remote->Configure(settings); failure.code)
            return failure;
    remote->DropStaleInput();
    line = std::move(remote);
    return {};
}
