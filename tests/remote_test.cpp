// Remote ports: the simulator behind Debian's ser2net on loopback, through a raw and an RFC
// 2217 accepter; a scripted RFC 2217 server for the bytes sent to it; the open failures.
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

// An RFC 2217 server that keeps what it gets and answers the open's settings and purge as
// ser2net does, the baud rate (high, low byte) as given.
struct ScriptedServer {
    explicit ScriptedServer(std::uint8_t high = 0x4B, std::uint8_t low = 0)
        : answers{255, 250, 44,  101, 0,   0,   high, low, 255, 240, 255, 250, 44,
                  102, 8,   255, 240, 255, 250, 44,   103, 1,   255, 240, 255, 250,
                  44,  104, 1,   255, 240, 255, 250,  44,  105, 1,   255, 240} {}

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
                write(connection, "\xff\xfa\x2c\x70\x03\xff\xf0", 7);
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
