// Remote ports: the simulator's pty behind Debian's ser2net on loopback, reached through a
// raw and an RFC 2217 accepter; a scripted RFC 2217 server for the bytes the program asks
// of the server; the open failures; ser2net killed during a run and started again.
#include "support/panel_fixture.h"

#include "app.h"
#include "com232.h"
#include "gui.h"
#include "platform/events.h"
#include "platform/panel.h"
#include "platform/ports.h"
#include "platform/serial.h"
#include "pty_host.h"
#include "ui.h"

#include <QTimer>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

namespace {

using Callback = int (*)(int, int, int, void *, int, int);

constexpr const char *kFirmware = "RMX7 sensor controller FW 3.14 board 100 (simulated)";

// A loopback socket, listening or bound to a port the system picked; its port number.
int LoopbackSocket(bool listening, int &port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr *>(&address), length);
    if (listening)
        listen(fd, 1);
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

int FreePort() {
    int port = 0;
    close(LoopbackSocket(false, port));
    return port;
}

// A socket listens on the loopback port: asked of the system, since a probe connection
// would keep ser2net's line busy while it closes.
bool Listening(int port) {
    char local[32];
    std::snprintf(local, sizeof local, "0100007F:%04X 00000000:0000 0A", port);
    std::ifstream table("/proc/net/tcp");
    for (std::string line; std::getline(table, line);)
        if (line.find(local) != std::string::npos)
            return true;
    return false;
}

// Processes events until done() or the deadline; false on the deadline.
bool WaitFor(const std::function<bool()> &done, double seconds) {
    const double deadline = Timer() + seconds;
    while (!done() && Timer() < deadline)
        ProcessSystemEvents();
    return done();
}

bool Contains(const Bytes &haystack, const Bytes &needle) {
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
           haystack.end();
}

// Debian's ser2net with a raw and an RFC 2217 accepter in front of one pty; the pty starts
// at 9600 baud with two stop bits for the RFC 2217 client, so its settings show.
struct Ser2net {
    std::string pty, config = testing::TempDir() + "ser2net-" + std::to_string(getpid());
    int rawPort = FreePort(), telnetPort = FreePort();
    pid_t pid = -1;

    std::string Raw() const { return "tcp://127.0.0.1:" + std::to_string(rawPort); }
    std::string Rfc2217() const { return "rfc2217://127.0.0.1:" + std::to_string(telnetPort); }
    void Start() {
        std::ofstream(config + ".yaml")
            << "connection: &raw\n  accepter: tcp,127.0.0.1," << rawPort
            << "\n  connector: serialdev," << pty << ",19200n81,local\n"
            << "connection: &rfc2217\n  accepter: telnet(rfc2217),tcp,127.0.0.1," << telnetPort
            << "\n  connector: serialdev," << pty << ",9600n82,local\n";
        pid = fork();
        if (pid == 0) {
            dup2(open("/dev/null", O_WRONLY), STDERR_FILENO);
            execlp("ser2net", "ser2net", "-n", "-u", "-P", (config + ".pid").c_str(), "-c",
                   (config + ".yaml").c_str(), nullptr);
            _exit(127);
        }
        ASSERT_TRUE(WaitFor([&] { return Listening(rawPort) && Listening(telnetPort); }, 10))
            << "ser2net (Debian package ser2net) did not start";
    }
    void Kill() {
        if (pid > 0 && kill(pid, SIGKILL) == 0)
            waitpid(pid, nullptr, 0);
        pid = -1;
    }
    ~Ser2net() { Kill(); }
};

// An RFC 2217 server that answers the line settings and the purge with answerBaud for the
// baud rate, then sends the data bytes 255 and 'A', and keeps every byte it gets.
struct ScriptedServer {
    int port = 0, listener = LoopbackSocket(true, port);
    std::uint8_t answerBaud[4] = {0x00, 0x00, 0x4B, 0x00};
    std::mutex mutex;
    Bytes received;
    std::atomic<bool> done{false};
    std::thread thread{[this] { Serve(); }};

    std::string Address() const { return "rfc2217://127.0.0.1:" + std::to_string(port); }
    void Serve() {
        pollfd wait{listener, POLLIN, 0};
        while (!done && poll(&wait, 1, 20) == 0) {
        }
        const int fd  = accept(listener, nullptr, nullptr);
        bool answered = false;
        for (wait.fd = fd; !done && fd >= 0;) {
            std::uint8_t chunk[256];
            if (poll(&wait, 1, 20) == 0)
                continue;
            const ssize_t n = read(fd, chunk, sizeof chunk);
            if (n <= 0)
                break;
            std::lock_guard lock(mutex);
            received.insert(received.end(), chunk, chunk + n);
            if (!answered && Contains(received, {255, 250, 44, 12, 3, 255, 240})) {
                Bytes answers;
                for (const Bytes &answer : std::vector<Bytes>{
                         {101, answerBaud[0], answerBaud[1], answerBaud[2], answerBaud[3]},
                         {102, 8},
                         {103, 1},
                         {104, 1},
                         {105, 1},
                         {112, 3}}) {
                    answers.insert(answers.end(), {255, 250, 44});
                    answers.insert(answers.end(), answer.begin(), answer.end());
                    answers.insert(answers.end(), {255, 240});
                }
                answers.insert(answers.end(), {255, 255, 'A'});
                answered = write(fd, answers.data(), answers.size()) > 0;
            }
        }
        close(fd);
    }
    bool Got(const Bytes &bytes) {
        return WaitFor(
            [&] {
                std::lock_guard lock(mutex);
                return Contains(received, bytes);
            },
            5);
    }
    ~ScriptedServer() {
        done = true;
        thread.join();
        close(listener);
    }
};

} // namespace

class Remote : public PanelTest {
  protected:
    sim::PtyHost controller;
    Ser2net server;

    void SetUp() override {
        PanelTest::SetUp();
        sim::HostOptions options;
        options.logExchanges = true;
        ASSERT_TRUE(controller.Start(options));
        server.pty = controller.SlavePath();
        server.Start();
    }
    void Commit(Callback callback) { callback(panel, 0, kEventCommit, nullptr, 0, 0); }
    void Pick(const std::string &address) {
        PortTableAdd(2, address);
        app::FillPortRing();
        SetCtrlVal(panel, ui::DropDCom, 2);
        app::CC_DropDCom(panel, ui::DropDCom, kEventCommit, nullptr, 0, 0);
    }
    int LiveReplies() const {
        const auto log = controller.Log();
        return static_cast<int>(std::count_if(log.begin(), log.end(), [](const sim::Exchange &e) {
            return e.code == com232::kCmdLive && e.replyLength > 0;
        }));
    }
    // Runs until the controller answered three more live requests, then calls then.
    void RunForThreeReplies(const std::function<void()> &then) {
        const int until = LiveReplies() + 3;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (LiveReplies() >= until) {
                poll.stop();
                then();
            }
        });
        poll.start(5);
        QTimer::singleShot(10000, [&] { Commit(app::CC_BTNStop); }); // a hung run ends here
        Commit(app::CC_BTNRun);
        EXPECT_GE(LiveReplies(), until);
    }
};

TEST_F(Remote, EachKindStartsGetsSendsRunsAndCapturesThroughSer2net) {
    for (const std::string &address : {server.Raw(), server.Rfc2217()}) {
        SCOPED_TRACE(address);
        Pick(address);
        EXPECT_EQ(StatusLine(), kFirmware);
        EXPECT_NE(PortTable()[1].label.find("COM2  " + address), std::string::npos);
        SetCtrlVal(panel, ui::power, 65535); // bytes 255, Telnet's escape, in both directions
        app::CC_BTNSend(panel, 0, kEventLeftClick, nullptr, 0, 0);
        SetCtrlVal(panel, ui::power, 1);
        Commit(app::CC_BTNGet);
        EXPECT_EQ(StatusLine(), "Data Transfer Ok!");
        EXPECT_EQ(Value(ui::power), 65535);
        RunForThreeReplies([&] { Commit(app::CC_BTNStop); });
        EXPECT_EQ(StatusLine(), "Line Ok!");
        SetCtrlVal(panel, ui::RNGGraphSource, gui::kSourceRaw);
        std::fill_n(com232::vars.yArrayA, 128, 0);
        Commit(app::CC_BTNData);
        EXPECT_GT(*std::max_element(com232::vars.yArrayA, com232::vars.yArrayA + 128), 0);
    }
    termios line{};
    const int fd = open(server.pty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    tcgetattr(fd, &line);
    close(fd);
    EXPECT_EQ(cfgetospeed(&line), B19200) << "ser2net set the line as the program asked";
    EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t{CS8});
}

TEST_F(Remote, Ser2netKilledDuringARunTimesOutAndThePortIsPickedAgain) {
    Pick(server.Rfc2217());
    RunForThreeReplies([&] { server.Kill(); });
    EXPECT_EQ(StatusLine(), "Timeout RS232-Line!");
    EXPECT_LT(GetInQLen(2), 0) << "the lost line is closed";
    server.Start();
    Pick(server.Rfc2217());
    EXPECT_EQ(StatusLine(), kFirmware) << GetOpenDiagnosis();
    RunForThreeReplies([&] { Commit(app::CC_BTNStop); });
    EXPECT_EQ(StatusLine(), "Line Ok!");
}

TEST_F(PanelTest, Rfc2217AsksForTheLineSettingsAndPurgesAndEscapesByte255) {
    ScriptedServer server;
    ASSERT_GE(OpenComConfig(1, server.Address().c_str(), 19200, 0, 8, 1, 4096, 4096), 0)
        << GetOpenDiagnosis();
    const std::vector<Bytes> settings = {{255, 250, 44, 1, 0, 0, 0x4B, 0, 255, 240},
                                         {255, 250, 44, 2, 8, 255, 240},
                                         {255, 250, 44, 3, 1, 255, 240},
                                         {255, 250, 44, 4, 1, 255, 240}};
    for (const Bytes &asked : settings)
        EXPECT_TRUE(server.Got(asked)) << int(asked[3]);
    unsigned char in[2] = {};
    EXPECT_EQ(ComRd(1, in, 2), 2);
    EXPECT_EQ(Bytes(in, in + 2), (Bytes{255, 'A'}));
    const unsigned char out[] = {0x55, 255, 0x0D};
    EXPECT_EQ(ComWrt(1, out, 3), 3);
    FlushInQ(1);
    FlushOutQ(1);
    EXPECT_TRUE(server.Got({0x55, 255, 255, 0x0D}));
    EXPECT_TRUE(server.Got({255, 250, 44, 12, 1, 255, 240, 255, 250, 44, 12, 2, 255, 240}));
}

TEST_F(PanelTest, RemoteOpenFailuresGiveTheTableTextAndSayWhy) {
    ScriptedServer refusing;
    refusing.answerBaud[2]   = 0x25; // 9600
    refusing.answerBaud[3]   = 0x80;
    const std::string closed = "tcp://127.0.0.1:" + std::to_string(FreePort());
    const struct {
        std::string address, status, why;
    } cases[] = {
        {"tcp://no-such-host.invalid:4001", "No serial port found", "does not resolve"},
        {"tcp://127.0.0.1", "No serial port found", "not a remote port address"},
        {closed, "Cannot open port", "refused the connection"},
        {refusing.Address(), "Invalid parameter", "baud rate 19200 asked, 9600 answered"},
    };
    for (const auto &c : cases) {
        PortTableAdd(1, c.address);
        com232::InitRS232(1);
        EXPECT_EQ(StatusLine(), c.status) << c.address;
        char tip[512] = {};
        GetCtrlAttribute(panel, ui::TXTStatus, kAttrToolTip, tip, sizeof tip);
        EXPECT_NE(std::string(tip).find(c.why), std::string::npos) << tip;
        EXPECT_EQ(Trace("DIAG").back(), tip);
    }
}
