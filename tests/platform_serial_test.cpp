// The serial services against scripted peers on real ptys, why a port would not open,
// the port table's numbering as devices come and go, and the trace's line format.
#include "support/scripted_peer.h"

#include "platform/panel/events.h"
#include "platform/serial/port_diagnosis.h"
#include "platform/serial/ports.h"
#include "platform/serial/serial.h"
#include "platform/trace.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <sstream>

namespace {

constexpr int kCom = 1, kOtherCom = 2, kFrame = 36;

Bytes Pattern(int length) {
    Bytes bytes(static_cast<std::size_t>(length));
    std::iota(bytes.begin(), bytes.end(), 1);
    return bytes;
}

int Open(int com, const std::string &device, long baud = 19200, int parity = 0, int bits = 8,
         int stop = 1) {
    const int result = OpenComConfig(com, device.c_str(), baud, parity, bits, stop, 4096, 4096);
    SetComTime(com, 2.0);
    return result;
}

Bytes Read(int count, int com = kCom) {
    Bytes bytes(static_cast<std::size_t>(count));
    bytes.resize(static_cast<std::size_t>(std::max(0, ComRd(com, bytes.data(), count))));
    return bytes;
}

bool EventsUntil(const std::function<bool()> &done, double seconds = 2.0) {
    for (const double end = Timer() + seconds; !done(); ProcessSystemEvents())
        if (Timer() > end)
            return false;
    return true;
}

// Polls the input queue without processing events, as the firmware query does.
bool QueueReaches(int length) {
    for (const double end = Timer() + 2.0; GetInQLen(kCom) < length;)
        if (Timer() > end)
            return false;
    return true;
}

struct Deliveries {
    int readLength = 0; // what the callback reads on each delivery
    bool flush     = false;
    int count = 0, events = 0;
    Bytes read{};
};

void Deliver(int port, int eventMask, void *data) {
    auto &d = *static_cast<Deliveries *>(data);
    ++d.count;
    d.events          = eventMask;
    const Bytes bytes = Read(d.readLength, port);
    d.read.insert(d.read.end(), bytes.begin(), bytes.end());
    if (d.flush)
        FlushInQ(port);
}

int Attach(Deliveries &d, int notifyCount = kFrame) {
    return InstallComCallback(kCom, 0x8006, notifyCount, 0x55, Deliver, &d);
}

std::string TempPath(const std::string &name) {
    return testing::TempDir() + "rmx7-serial-" + std::to_string(getpid()) + "-" + name;
}

// The cause of the last refused open says this.
bool DiagnosisSays(const std::string &part) {
    return std::string(GetOpenDiagnosis()).find(part) != std::string::npos;
}

class Serial : public ::testing::Test {
  protected:
    void SetUp() override { PortTableClear(); }
    void TearDown() override {
        CloseCom(kCom);
        CloseCom(kOtherCom);
        PortTableClear();
    }
    ScriptedPeer peer;
};

TEST_F(Serial, EachOpenFailureGivesItsOwnCode) {
    const struct {
        std::string device;
        long baud;
        int parity, bits, stop, expected;
    } cases[] = {
        {"", 19200, 0, 8, 1, kComErrInvalidPort},
        {TempPath("missing"), 19200, 0, 8, 1, kComErrNoPortFound},
        {"/dev/null", 19200, 0, 8, 1, kComErrInvalidParameter},
        {testing::TempDir(), 19200, 0, 8, 1, kComErrInvalidParameter}, // not a device
        {peer.path(), 0, 0, 8, 1, kComErrInvalidParameter},
        {peer.path(), 19200, 7, 8, 1, kComErrInvalidParameter},
        {peer.path(), 19200, 0, 9, 1, kComErrInvalidParameter},
        {peer.path(), 19200, 0, 8, 3, kComErrInvalidParameter},
    };
    // Another program holding /dev/null must not turn "not a tty" into "cannot open".
    const int devNull = open("/dev/null", O_RDONLY);
    flock(devNull, LOCK_EX | LOCK_NB);
    for (const auto &c : cases)
        EXPECT_EQ(Open(kCom, c.device, c.baud, c.parity, c.bits, c.stop), c.expected) << c.device;
    close(devNull);
    EXPECT_EQ(CloseCom(kCom), kComErrPortNotOpen) << "a refused open leaves nothing open";
    EXPECT_EQ(Open(kCom, peer.path()), 0) << "a refused open leaves the device free";
}

TEST_F(Serial, ABusyOrVanishedDeviceIsRefusedWithItsCauseAndAGoodOpenClearsIt) {
    const int fd = open(peer.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(Open(kCom, peer.path()), kComErrCannotOpen) << "locked elsewhere";
    close(fd);
    ASSERT_EQ(Open(kCom, peer.path()), 0);
    EXPECT_STREQ(GetOpenDiagnosis(), "");
    EXPECT_EQ(Open(kOtherCom, peer.path()), kComErrCannotOpen);
    EXPECT_TRUE(DiagnosisSays("in use by this program")) << GetOpenDiagnosis();
    const std::string link = TempPath("link");
    std::filesystem::create_symlink(peer.path(), link);
    ASSERT_EQ(Open(kCom, link), 0) << "reopening COM1 released its device";
    CloseCom(kCom);
    std::filesystem::remove(link);
    EXPECT_EQ(Open(kCom, link), kComErrNoPortFound);
    EXPECT_TRUE(DiagnosisSays(link + " is gone")) << GetOpenDiagnosis();
    // A service tries the port again by itself: nobody is told to run the command again.
    SetDiagnosisForProgram(kDiagnosisService);
    EXPECT_EQ(Open(kCom, link), kComErrNoPortFound);
    EXPECT_TRUE(DiagnosisSays("Plug it in again, and it is opened again by itself."))
        << GetOpenDiagnosis();
    SetDiagnosisForProgram(kDiagnosisPanel);
    EXPECT_EQ(Open(kOtherCom, peer.path()), 0) << "closing COM1 released its device";

    // A holder that runs as a system service is named as that service: a line's agent.
    const std::pair<const char *, const char *> groups[] = {
        {"0::/system.slice/system-rmx7\\x2dpublish.slice/rmx7-publish@line7.service\n",
         "rmx7-publish@line7"},
        {"0::/user.slice/user-1000.slice/session-3.scope\n", ""},
        {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/x.service\n", ""},
        {"12:pids:/\n", ""},
    };
    for (const auto &[group, service] : groups)
        EXPECT_EQ(ServiceOfControlGroup(group), service) << group;
}

// A pid that no longer runs.
pid_t EndedProcess() {
    const pid_t pid = fork();
    if (pid == 0)
        _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
}

// The lock file that Qt's serial port takes for a device below /dev.
std::string QtLockName(std::string device) {
    std::replace(device.begin(), device.end(), '/', '_');
    return "LCK.." + device.substr(std::string("_dev_").size());
}

TEST_F(Serial, ALockLeftByAProgramThatEndedIsTakenOverOrNamedWithTheFileToRemove) {
    const std::string pid = std::to_string(EndedProcess());
    const struct {
        std::string content, holder;
    } cases[] = {
        {std::string(10 - pid.size(), ' ') + pid + "\n", "a program (pid " + pid + ")"}, // UUCP's
        {pid + "\nrmx7scope\nvm\n", "rmx7scope (pid " + pid + ")"},                      // Qt's
    };
    const std::string systemLock = "/var/lock/" + QtLockName(peer.path());
    const std::string folder     = TempPath("locks");
    const std::string lock       = folder + "/" + QtLockName(peer.path());
    const std::string trace      = TempPath("trace");
    std::filesystem::create_directory(folder);
    for (const auto &c : cases) {
        std::ofstream(systemLock) << c.content; // this user's own: it may remove it
        ASSERT_TRUE(TraceOpen(trace.c_str()));
        EXPECT_EQ(Open(kCom, peer.path()), 0) << c.holder << ": " << GetOpenDiagnosis();
        TraceClose();
        std::stringstream traced;
        traced << std::ifstream(trace).rdbuf();
        EXPECT_NE(traced.str().find(" DIAG " + peer.path() + " was locked by "), std::string::npos);
        EXPECT_NE(traced.str().find(QtLockName(peer.path()) + ", a lock file that " + c.holder +
                                    " left when it ended; the lock was removed\n"),
                  std::string::npos)
            << traced.str();
        CloseCom(kCom);
        std::ofstream(lock) << c.content;
        const std::string why = DiagnoseOpenFailure(EBUSY, peer.path(), {folder});
        EXPECT_NE(why.find(lock + ", a lock file that " + c.holder + " left when it ended"),
                  std::string::npos)
            << why;
        EXPECT_NE(why.find("remove it with sudo rm " + lock + ","), std::string::npos) << why;
    }
    std::filesystem::remove(systemLock);
    std::filesystem::remove_all(folder);
    std::filesystem::remove(trace);
}

TEST_F(Serial, ReadReturnsOnceTheCountIsInOrAtTheTimeOutAndTheTraceStampsEachTransfer) {
    Bytes reply = MakeFrame(1, {0x1111}), second = MakeFrame(2, {0x2222});
    reply.insert(reply.end(), second.begin(), second.end());
    peer.SetResponder([&](const Bytes &) { return PeerReply{reply}; });
    ASSERT_EQ(Open(kCom, peer.path()), 0);
    EXPECT_EQ(ComWrt(kCom, Pattern(kFrame).data(), kFrame), kFrame);
    ASSERT_TRUE(peer.WaitForRequests(1, 2.0));
    EXPECT_EQ(peer.Requests()[0], Pattern(kFrame));
    EXPECT_EQ(Read(kFrame), MakeFrame(1, {0x1111}));
    EXPECT_EQ(Read(kFrame), second);

    const std::string path = TempPath("trace");
    ASSERT_TRUE(TraceOpen(path.c_str()));
    SetComTime(kCom, 0.2);
    ComWrt(kCom, Bytes{0x00, 0xaa, 0x0f}.data(), 3);
    peer.Send({0x01, 0xfe});
    EXPECT_EQ(Read(kFrame), (Bytes{0x01, 0xfe})) << "fewer at the time-out";
    EXPECT_TRUE(Read(1).empty());
    TraceStatus("Line good");
    TraceClose();
    std::ifstream file(path);
    for (const std::string body : {"TX 00 aa 0f", "RX 01 fe", "STATUS Line good", ""}) {
        std::string line;
        EXPECT_EQ(std::getline(file, line) && line.find('.') == line.find(' ') - 4 &&
                      std::stod(line) >= 0 && line.substr(line.find(' ') + 1) == body,
                  !body.empty())
            << "<seconds>.ddd " << body << ", one line each: " << line;
    }
    std::filesystem::remove(path);
}

TEST_F(Serial, TheCallbackRunsOnlyInsideEventsOncePerWaitingCount) {
    Deliveries d{kFrame, true};
    ASSERT_EQ(Open(kCom, peer.path()), 0);
    ASSERT_EQ(Attach(d), 0);
    peer.Send(Pattern(kFrame));
    EXPECT_EQ(Read(kFrame).size(), kFrame);
    EventsUntil([] { return false; }, 0.1);
    EXPECT_EQ(d.count, 0) << "not inside ComRd, nor for bytes read meanwhile";

    peer.Send(Pattern(40));
    EXPECT_TRUE(QueueReaches(40)) << "GetInQLen sees bytes while no events run";
    EXPECT_EQ(d.count, 0) << "not inside GetInQLen";
    ASSERT_TRUE(EventsUntil([&] { return d.count > 0; }));
    EventsUntil([] { return false; }, 0.1);
    EXPECT_EQ(d.count, 1) << "the flush leaves nothing to deliver";
    EXPECT_EQ(d.events, kComEventReceive);
    EXPECT_EQ(d.read, Pattern(kFrame));

    d = Deliveries{kFrame};
    peer.Send(Pattern(2 * kFrame + 10));
    ASSERT_TRUE(EventsUntil([&] { return d.count >= 2; }));
    EventsUntil([] { return false; }, 0.1);
    EXPECT_EQ(d.count, 2) << "again while a notify count keeps waiting";
    EXPECT_EQ(d.read, Pattern(2 * kFrame));

    d = Deliveries{};
    peer.Send(Pattern(kFrame));
    ASSERT_TRUE(QueueReaches(kFrame));
    ASSERT_EQ(InstallComCallback(kCom, 0, kFrame, 0x55, nullptr, nullptr), 0);
    EventsUntil([] { return false; }, 0.1);
    EXPECT_EQ(d.count, 0) << "detaching drops a queued delivery";
    ASSERT_EQ(Attach(d), 0);
    EXPECT_TRUE(EventsUntil([&] { return d.count > 0; })) << "installing counts waiting bytes";
}

DeviceInfo Device(const std::string &path, const std::string &byIdName = "") {
    return {path, "", "", "", byIdName};
}

std::vector<std::string> Labels() {
    std::vector<std::string> labels;
    for (const PortEntry &entry : PortTable())
        labels.push_back(entry.label);
    return labels;
}

TEST(PortTable, FoundDevicesTakeTheLowestFreeNumbersByKindThenByNumber) {
    EXPECT_EQ(NumberingOrder({"/dev/ttyUSB10", "/dev/rfcomm0", "/dev/ttyACM0", "/dev/ttySAC0",
                              "/dev/ttyUSB2", "/dev/ttyS1", "/dev/ttyS0"}),
              (std::vector<std::string>{"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyUSB2", "/dev/ttyUSB10",
                                        "/dev/ttyACM0", "/dev/rfcomm0", "/dev/ttySAC0"}));
    PortTableClear();
    PortTableAdd(2, "/dev/pts/7");
    PortTableUpdate(
        {Device("/dev/ttyUSB0"), Device("/dev/pts/7"), Device("/dev/ttyS3"), Device("/dev/ttyS0")});
    EXPECT_EQ(Labels(), (std::vector<std::string>{"COM1  /dev/ttyS0", "COM2  /dev/pts/7",
                                                  "COM3  /dev/ttyS3", "COM4  /dev/ttyUSB0"}));
    PortTableAdd(2, "/dev/pts/9");
    EXPECT_EQ(PortDevice(2), "/dev/pts/9");

    PortTableClear();
    const DeviceInfo adapter{"/dev/ttyUSB0", "FT232R USB UART", "FTDI", "A50285BI",
                             "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"};
    PortTableAdd(5, "/dev/serial/by-id/" + adapter.byIdName);
    PortTableUpdate({adapter, {"/dev/ttyACM0", "Arduino Uno", "Arduino Uno", "", ""}});
    EXPECT_EQ(Labels(), (std::vector<std::string>{
                            "COM1  /dev/ttyACM0  Arduino Uno",
                            "COM5  /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"
                            "  FT232R USB UART, FTDI, S/N A50285BI"}))
        << "each detail once; a given stable name gets the details";
    PortTableClear();
}

TEST(PortTable, NumbersNeverShiftWhenDevicesComeAndGo) {
    PortTableClear();
    PortTableAdd(1, "/dev/pts/3");
    const DeviceInfo adapterA = Device("/dev/ttyUSB0", "usb-FTDI_A-if00-port0");
    const DeviceInfo adapterB = Device("/dev/ttyUSB0", "usb-FTDI_B-if00-port0");
    PortTableUpdate({Device("/dev/ttyS0"), adapterA});
    PortTableUpdate({Device("/dev/ttyS0")});
    EXPECT_EQ(Labels(), (std::vector<std::string>{
                            "COM1  /dev/pts/3", "COM2  /dev/ttyS0",
                            "COM3  /dev/ttyUSB0  by-id usb-FTDI_A-if00-port0  (absent)"}))
        << "a given number never goes absent";
    EXPECT_EQ(PortDevice(3), "/dev/serial/by-id/usb-FTDI_A-if00-port0")
        << "an absent adapter is opened where it would come back";
    PortTableUpdate({Device("/dev/ttyS0"), adapterB});
    EXPECT_EQ(PortTable().back().number, 4) << "another adapter at the vanished one's path";
    EXPECT_FALSE(PortTable()[2].present);
    PortTableUpdate({Device("/dev/ttyS0"), adapterB, Device("/dev/ttyUSB1", adapterA.byIdName)});
    EXPECT_EQ(PortDevice(3), "/dev/ttyUSB1") << "back under a new path, on its old number";
    EXPECT_TRUE(PortTable()[2].present);
    EXPECT_EQ(PortDevice(4), "/dev/ttyUSB0");
    PortTableClear();
}

} // namespace
