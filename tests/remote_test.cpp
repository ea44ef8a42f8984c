// Remote ports: the simulator behind Debian's ser2net on loopback, through a raw and an RFC
// 2217 accepter; a scripted RFC 2217 server for the bytes sent to it; the open failures;
// hostile servers, and what they cost in memory.
#include "support/panel_fixture.h"

#include "app.h"
#include "com232.h"
#include "gui.h"
#include "platform/panel/events.h"
#include "platform/panel/panel.h"
#include "platform/serial/ports.h"
#include "platform/serial/serial.h"
#include "pty_host.h"
#include "ui.h"

#include <QTimer>

#include <chrono>
#include <cstring>
#include <fstream>

#include <arpa/inet.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A listening loopback socket on a port the system picks; port gets its number.
int Listener(int &port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr *>(&address), length);
    listen(fd, 1);
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

int FreePort() {
    int port = 0;
    close(Listener(port));
    return port;
}

bool Contains(const Bytes &haystack, const Bytes &needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
           haystack.end();
}

// A server's answers to the open's settings, as ser2net gives them, with the baud rate
// (high, low byte) as given; and its answer to the open's purge.
Bytes SettingsAnswers(std::uint8_t high = 0x4B, std::uint8_t low = 0) {
    return {255, 250, 44,  101, 0,   0,   high, low, 255, 240, 255, 250, 44,
            102, 8,   255, 240, 255, 250, 44,   103, 1,   255, 240, 255, 250,
            44,  104, 1,   255, 240, 255, 250,  44,  105, 1,   255, 240};
}
const Bytes kPurgeAnswer = {255, 250, 44, 112, 3, 255, 240};

// An RFC 2217 server that keeps what it gets and answers the open's settings and purge as
// ser2net does, the baud rate (high, low byte) as given.
struct ScriptedServer {
    explicit ScriptedServer(std::uint8_t high = 0x4B, std::uint8_t low = 0)
        : answers(SettingsAnswers(high, low)) {}

    Bytes answers, received;
    int port = 0, listener = Listener(port);
    std::mutex mutex;
    std::thread thread{[this] { // serves until the program hangs up
        const int connection = accept(listener, nullptr, nullptr);
        std::uint8_t chunk[256];
        for (ssize_t n; (n = read(connection, chunk, sizeof chunk)) > 0;) {
            std::lock_guard lock(mutex);
            received.insert(received.end(), chunk, chunk + n);
            if (Contains(Bytes(chunk, chunk + n), {44, 5, 1, 255, 240})) // the last setting
                write(connection, answers.data(), answers.size());
            if (Contains(Bytes(chunk, chunk + n), {44, 12, 3, 255, 240}))
                write(connection, kPurgeAnswer.data(), kPurgeAnswer.size());
        }
        close(connection);
    }};

    std::string Address() const { return "rfc2217://127.0.0.1:" + std::to_string(port); }
    bool Has(const Bytes &bytes) {
        std::lock_guard lock(mutex);
        return Contains(received, bytes);
    }
    ~ScriptedServer() {
        shutdown(listener, SHUT_RDWR);
        thread.join();
        close(listener);
    }
};

// --- Hostile servers ---

constexpr std::size_t kMiB = 1024 * 1024;
// Longer than any wait of the program: a hostile server floods until it is hung up on.
constexpr double kFloodSeconds = 20;
using Clock                    = std::chrono::steady_clock;

std::string Text(const Bytes &bytes) {
    return {bytes.begin(), bytes.end()};
}

// Sends chunk again and again, a part sent taken up where it ended, until limit bytes are
// out, the program hung up or seconds passed. A send waits 50 ms at most for a program that
// does not read.
void Flood(int connection, const std::string &chunk, std::size_t limit, double seconds) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    for (std::size_t sent = 0; sent < limit && Clock::now() < end;) {
        const std::size_t at = sent % chunk.size();
        const ssize_t n      = send(connection, chunk.data() + at,
                                    std::min(chunk.size() - at, limit - sent), MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return;
        sent += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
}

void Say(int connection, const std::string &text) {
    Flood(connection, text, text.size(), 2);
}

// Reads what the program sends until done(all of it) or the program hangs up, 5 s at most.
void Read(int connection, const std::function<bool(const Bytes &)> &done) {
    Bytes received;
    std::uint8_t chunk[256];
    for (const auto end = Clock::now() + std::chrono::seconds(5);
         !done(received) && Clock::now() < end;) {
        const ssize_t n = read(connection, chunk, sizeof chunk);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            return;
        received.insert(received.end(), chunk, chunk + std::max<ssize_t>(n, 0));
    }
}

// A server on the loopback that, once the program connects, answers the open's settings
// and purge at once when it answersOpen, runs its script and hangs up. What the program
// sent is read before the close, so that the close is no reset that drops what was said.
struct HostileServer {
    using Script = std::function<void(int connection)>;
    HostileServer(bool answers, Script run) : answersOpen(answers), script(std::move(run)) {}

    bool answersOpen;
    Script script;
    std::atomic<bool> scriptEnded{false};
    int port = 0, listener = Listener(port);
    std::thread thread{[this] {
        const int connection = accept(listener, nullptr, nullptr);
        const timeval wait{0, 50000};
        setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
        setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        if (answersOpen)
            Say(connection, Text(SettingsAnswers()) + Text(kPurgeAnswer));
        script(connection);
        scriptEnded = true;
        shutdown(connection, SHUT_WR);
        Read(connection, [](const Bytes &) { return false; });
        close(connection);
    }};

    std::string Address() const { return "rfc2217://127.0.0.1:" + std::to_string(port); }
    ~HostileServer() {
        shutdown(listener, SHUT_RDWR);
        thread.join();
        close(listener);
    }
};

// This process's memory in KiB from /proc: "VmRSS:" resident now, "VmHWM:" its peak.
long MemoryKiB(const char *field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(std::strlen(field)));
    return -1;
}

// The sanitizer keeps freed memory in quarantine: the peak says nothing there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPeakMeansSomething = false;
#else
constexpr bool kPeakMeansSomething = true;
#endif

} // namespace

// Debian's ser2net with a raw and an RFC 2217 accepter in front of the simulator's pty.
class Remote : public PanelTest {
  protected:
    const std::string kFirmware = "RMX7 sensor controller FW 3.14 board 100 (simulated)";
    const std::string pidFile   = testing::TempDir() + "ser2net-" + std::to_string(getpid());
    const int rawPort = FreePort(), telnetPort = FreePort();
    const std::string raw     = "tcp://127.0.0.1:" + std::to_string(rawPort);
    const std::string rfc2217 = "rfc2217://127.0.0.1:" + std::to_string(telnetPort);
    sim::PtyHost rawController, telnetController; // a line each: ser2net frees one slowly
    pid_t ser2net = -1;

    void SetUp() override {
        PanelTest::SetUp();
        ASSERT_TRUE(rawController.Start({}) && telnetController.Start({}));
        StartSer2net();
    }
    ~Remote() override {
        KillSer2net();
        std::remove(pidFile.c_str()); // a killed ser2net leaves it
    }
    // ser2net creates its pid file once its accepters listen.
    void StartSer2net() {
        const std::string config =
            "connection: &raw#  accepter: tcp,127.0.0.1," + std::to_string(rawPort) +
            "#  connector: serialdev," + rawController.SlavePath() +
            ",local#connection: &rfc2217#  accepter: telnet(rfc2217),tcp,127.0.0.1," +
            std::to_string(telnetPort) + "#  connector: serialdev," + telnetController.SlavePath() +
            ",local";
        std::remove(pidFile.c_str());
        if ((ser2net = fork()) == 0) {
            dup2(open("/dev/null", O_WRONLY), STDERR_FILENO);
            execlp("ser2net", "ser2net", "-n", "-u", "-P", pidFile.c_str(), "-Y", config.c_str(),
                   nullptr);
            _exit(127);
        }
        ASSERT_TRUE(PumpUntil([&] { return access(pidFile.c_str(), F_OK) == 0; }, 10));
    }
    void KillSer2net() {
        if (ser2net > 0 && kill(ser2net, SIGKILL) == 0)
            waitpid(ser2net, nullptr, 0);
        ser2net = -1;
    }
    // Bytes the controller sent that nobody has read from its line.
    static std::size_t WaitingOnLine(const sim::PtyHost &line) {
        const int fd = open(line.SlavePath().c_str(), O_RDWR | O_NOCTTY);
        int waiting  = 0;
        ioctl(fd, FIONREAD, &waiting);
        close(fd);
        return static_cast<std::size_t>(waiting);
    }
    void Commit(Callback callback, int event = kEventCommit) {
        Raise(callback, event, ui::DropDCom);
    }
    void Pick(const std::string &address) {
        PortTableAdd(2, address);
        program().FillPortRing();
        SetCtrlVal(panel, ui::DropDCom, 2);
        Commit(app::CC_DropDCom);
        EXPECT_EQ(StatusLine(), kFirmware) << GetOpenDiagnosis();
    }
    // A run until three more replies were read and the next request is out, then then().
    void RunForThreeReplies(const std::function<void()> &then, const char *status) {
        const std::size_t requests = Trace("TX").size(), replies = Trace("RX").size();
        const std::size_t until = replies + 3;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            const std::size_t read = Trace("RX").size();
            if (read >= until && Trace("TX").size() - requests > read - replies) {
                poll.stop();
                then();
            }
        });
        poll.start(5);
        QTimer::singleShot(10000, [&] { Commit(app::CC_BTNStop); }); // a hung run ends here
        Commit(app::CC_BTNRun);
        EXPECT_GE(Trace("RX").size(), until);
        EXPECT_EQ(StatusLine(), status);
    }
};

// Bytes 255, Telnet's escape, go both ways in the echo; the program checks the server's
// answers to the line settings, so a good open through ser2net also proves them.
TEST_F(Remote, EachKindStartsGetsSendsRunsAndCapturesThroughSer2net) {
    for (const std::string &address : {raw, rfc2217}) {
        SetParameter(&com232::Parameters::power, 65535); // the echo carries it there and back
        Pick(address);
        EXPECT_NE(PortTable()[1].label.find("COM2  " + address), std::string::npos);
        Commit(app::CC_BTNGet);
        EXPECT_EQ(StatusLine(), "Data Transfer Ok!");
        RunForThreeReplies([&] { Commit(app::CC_BTNStop); }, "Line Ok!");
        SetCtrlVal(panel, ui::RNGGraphSource, kSourceRaw);
        line().FillCurves(0, 0);
        Commit(app::CC_BTNData);
        const com232::DataCurves &curves = Curves();
        EXPECT_GT(*std::max_element(curves.a.begin(), curves.a.begin() + 128), 0);
        Commit(app::CC_BTNSend, kEventLeftClick); // last: a flush soon after would purge it
        EXPECT_EQ(StatusLine(), "Transmit Ok!");
    }
}

// The reply to the request ser2net took along when it died waits on the line; the new
// ser2net reads it as it opens the line and passes it on a character delay later, after
// the open's purge. The echo check meets only its own reply all the same.
TEST_F(Remote, Ser2netKilledDuringARunTimesOutAndThePortComesBackClean) {
    for (const auto &[address, line] :
         {std::pair{raw, &rawController}, std::pair{rfc2217, &telnetController}}) {
        Pick(address);
        RunForThreeReplies([&] { KillSer2net(); }, "Timeout RS232-Line!");
        EXPECT_LT(GetInQLen(2), 0) << "the lost line is closed";
        EXPECT_TRUE(PumpUntil([&] { return WaitingOnLine(*line) >= sim::kFrameLength; }, 5))
            << "a reply waits on the line";
        StartSer2net();
        Pick(address); // the firmware text: the echo check and the fetch went well
        RunForThreeReplies([&] { Commit(app::CC_BTNStop); }, "Line Ok!");
    }
}

TEST_F(PanelTest, Rfc2217OpenSetsTheLineAndQueueFlushesPurgeTheServer) {
    ScriptedServer server;
    ASSERT_GE(OpenComConfig(1, server.Address().c_str(), 19200, 0, 8, 1, 4096, 4096), 0);
    // WILL COM-PORT-OPTION; 19200 baud, 8 data bits, no parity, 1 stop bit, no flow control.
    EXPECT_TRUE(server.Has({255, 251, 44}));
    EXPECT_TRUE(server.Has({255, 250, 44,  1,   0,   0,   0x4B, 0,  255, 240, 255, 250, 44,
                            2,   8,   255, 240, 255, 250, 44,   3,  1,   255, 240, 255, 250,
                            44,  4,   1,   255, 240, 255, 250,  44, 5,   1,   255, 240}));
    const unsigned char request[] = {0x55, 255};
    EXPECT_EQ(ComWrt(1, request, 2), 2);
    FlushInQ(1);
    FlushOutQ(1);
    const Bytes purges = {0x55, 255, 255, 255, 250, 44, 12, 1, 255, 240, 255, 250, 44, 12, 2};
    EXPECT_TRUE(PumpUntil([&] { return server.Has(purges); }, 5));
    CloseCom(1);
}

TEST_F(PanelTest, RemoteOpenFailuresGiveTheTableTextAndSayWhy) {
    ScriptedServer refusing(0x25, 0x80); // 9600 baud
    const struct {
        std::string address, status, why;
    } cases[] = {
        {"tcp://no-such-host.invalid:4001", "No serial port found", "does not resolve"},
        {"tcp://127.0.0.1", "No serial port found", "not a remote port address"},
        {"tcp://127.0.0.1:" + std::to_string(FreePort()), "Cannot open port", "refused"},
        {refusing.Address(), "Invalid parameter", "baud rate 19200 asked, 9600 answered"},
    };
    for (const auto &c : cases) {
        PortTableAdd(1, c.address);
        InitRS232(1);
        EXPECT_EQ(StatusLine(), c.status) << c.address;
        char tip[512] = {};
        GetCtrlAttribute(panel, ui::TXTStatus, kAttrToolTip, tip, sizeof tip);
        EXPECT_NE(std::string(tip).find(c.why), std::string::npos) << tip;
        EXPECT_EQ(Trace("DIAG").back(), tip);
    }
}

// Each server is hung up on, or the program's wait ends at its time while the server
// still floods; the peak memory of this process grows by less than 10 MB, a line that
// opened holds 64 KiB of a flood at most, and the message names the server.
TEST_F(PanelTest, AHostileServerCostsUnder10MBAndTheMessageNamesIt) {
    const std::string endless = "\xff\xfa\x2c\x65"; // an answer to the baud rate, never ended
    const std::string data(64 * 1024, 'A');
    std::string commands; // no-operations, and options asked for that the program declines
    for (int i = 0; i < 4096; ++i)
        commands += "\xff\xf1\xff\xfd\x18\xff\xfb\x01";
    const Bytes request = {0x55, 0xAA, 0x55};
    const auto flood    = [](const std::string &chunk, std::size_t limit = SIZE_MAX) {
        return [&chunk, limit](int c) { Flood(c, chunk, limit, kFloodSeconds); };
    };
    const auto afterRequest = [&](const HostileServer::Script &script) {
        return [&, script](int c) {
            Read(c, [&](const Bytes &got) { return Contains(got, request); });
            script(c);
        };
    };
    const auto endlessThen = [&](int c) {
        Say(c, endless), Flood(c, data, SIZE_MAX, kFloodSeconds);
    };
    const struct {
        const char *what;
        bool answersOpen;
        HostileServer::Script script;
        int code;         // of the open
        int reads;        // of a request's 36 reply bytes, on a line that opened
        std::string says; // after "HOST port N" in the diagnosis of the open or the lost line
    } cases[] = {
        {"endless sub-negotiation", false, endlessThen, kComErrCannotOpen, 0,
         " sent a Telnet sub-negotiation of more than 256 bytes, which no RFC 2217 server does"},
        {"IAC flood", false, flood(commands), kComErrInvalidParameter, 0,
         " does not set the line by RFC 2217 (it did not confirm the settings within 2 s)"},
        {"close mid-frame", false, [&](int c) { Say(c, endless + std::string(2, '\0')); },
         kComErrCannotOpen, 0, " closed the connection while it was set up. Another client"},
        {"50 MB reason", false,
         [&](int c) {
             Say(c, "\x1b]0;owned\x07port in use "), Flood(c, data, 50 * kMiB, kFloodSeconds);
         },
         kComErrCannotOpen, 0,
         " closed the connection while it was set up (it said \"\\x1b]0;owned\\x07port in use " +
             std::string(178, 'A') + "...\")"},
        {"raw flood", true, flood(data), 0, 36, ""},
        {"IAC flood after the open", true, afterRequest(flood(commands)), 0, 0, ""},
        {"endless sub-negotiation after the open", true, afterRequest(endlessThen), 0, 0,
         " sent a Telnet sub-negotiation of more than 256 bytes"},
    };
    for (const auto &c : cases) {
        std::ofstream("/proc/self/clear_refs") << "5"; // the peak is what is resident now
        const long before = MemoryKiB("VmRSS:");
        HostileServer server(c.answersOpen, c.script);
        const int opened    = OpenComConfig(1, server.Address().c_str(), 19200, 0, 8, 1, 0, 0);
        std::string message = GetOpenDiagnosis();
        if (opened == 0) {
            int queued = 0;
            for (int i = 0; i < 100; ++i)
                queued = std::max(queued, GetInQLen(1));
            EXPECT_LE(queued, 64 * 1024) << c.what;
            SetComTime(1, 1.0);
            ComWrt(1, request.data(), static_cast<int>(request.size()));
            unsigned char reply[36];
            EXPECT_EQ(ComRd(1, reply, sizeof reply), c.reads) << c.what;
            message = GetLostDiagnosis(1);
            EXPECT_TRUE(!message.empty() || !server.scriptEnded) << c.what << ": ended in time";
            CloseCom(1);
        }
        const long peak = MemoryKiB("VmHWM:");
        EXPECT_EQ(opened, c.code) << c.what << ": " << message;
        if (c.says.empty())
            EXPECT_EQ(message, "") << c.what;
        else
            EXPECT_NE(message.find("127.0.0.1 port " + std::to_string(server.port) + c.says),
                      std::string::npos)
                << c.what << ": " << message;
        EXPECT_TRUE(std::none_of(message.begin(), message.end(), [](unsigned char b) {
            return b < 0x20 || b == 0x7F;
        })) << message;
        if (kPeakMeansSomething) {
            EXPECT_LT(peak - before, 10 * 1024) << c.what;
        }
    }
}
