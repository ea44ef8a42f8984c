// The serial services against scripted peers on real ptys, why a port would not open,
// the port table's numbering as devices come and go, and the trace's line format.
#include <gtest/gtest.h>

#include "platform/events.h"
#include "platform/ports.h"
#include "platform/serial.h"
#include "platform/trace.h"
#include "support/scripted_peer.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kCom                = 1;
constexpr int kOtherCom           = 2;
constexpr long kBaud              = 19200;
constexpr int kQueueSize          = 4096;
constexpr int kFrameLength        = 36;
constexpr double kTimeout         = 2.0; // bounds every wait for a condition
constexpr double kShortTimeout    = 0.2; // read time-out where a test waits for it to expire
constexpr double kQuietSpan       = 0.1; // events processed to show that nothing more comes
constexpr std::size_t kStampPoint = 4;   // "<seconds>.ddd " ends this far after the point

Bytes Pattern(int length) {
    Bytes bytes(length);
    for (int i = 0; i < length; ++i)
        bytes[i] = static_cast<std::uint8_t>(i + 1);
    return bytes;
}

int OpenConfig(int com, const std::string &device, long baud = kBaud, int parity = 0,
               int dataBits = 8, int stopBits = 1) {
    return OpenComConfig(com, device.c_str(), baud, parity, dataBits, stopBits, kQueueSize,
                         kQueueSize);
}

// The way the program opens a port: by number, through the port table.
int OpenByNumber(const std::string &device, int com = kCom) {
    PortTableAdd(com, device);
    const int result = OpenConfig(com, "");
    SetComTime(com, kTimeout);
    return result;
}

int Write(const Bytes &bytes) {
    return ComWrt(kCom, bytes.data(), bytes.size());
}

Bytes Read(int count, int com = kCom) {
    Bytes bytes(count);
    bytes.resize(std::max(0, ComRd(com, bytes.data(), count)));
    return bytes;
}

// Polls the input queue without processing events, as the firmware query does.
bool InQueueReaches(int length) {
    const double deadline = Timer() + kTimeout;
    while (GetInQLen(kCom) < length)
        if (Timer() > deadline)
            return false;
    return true;
}

template <typename Condition> bool ProcessEventsUntil(Condition done) {
    const double deadline = Timer() + kTimeout;
    while (!done()) {
        if (Timer() > deadline)
            return false;
        ProcessSystemEvents();
    }
    return true;
}

void ProcessEventsFor(double seconds) {
    ProcessEventsUntil([end = Timer() + seconds] { return Timer() > end; });
}

struct Deliveries {
    int readLength      = 0; // what the callback reads on each delivery
    bool flushAfterRead = false;
    int count           = 0;
    int events          = 0;
    Bytes read{};
};

void RecordDelivery(int portNo, int eventMask, void *data) {
    auto &deliveries = *static_cast<Deliveries *>(data);
    ++deliveries.count;
    deliveries.events = eventMask;
    const Bytes bytes = Read(deliveries.readLength, portNo);
    deliveries.read.insert(deliveries.read.end(), bytes.begin(), bytes.end());
    if (deliveries.flushAfterRead)
        FlushInQ(portNo);
}

int Attach(Deliveries &deliveries, int notifyCount = kFrameLength) {
    return InstallComCallback(kCom, 0x8006, notifyCount, 0x55, RecordDelivery, &deliveries);
}

std::string TempPath(const std::string &name) {
    return std::filesystem::temp_directory_path() /
           ("rmx7-serial-" + std::to_string(getpid()) + "-" + name);
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

} // namespace

TEST_F(Serial, EachOpenFailureGivesItsOwnCode) {
    const std::string regularFile = TempPath("regular");
    std::ofstream(regularFile) << "not a device";
    struct Case {
        const char *what;
        std::string device;
        long baud;
        int parity, dataBits, stopBits;
        int expected;
    };
    const Case cases[] = {
        {"no table entry", "", kBaud, 0, 8, 1, kComErrInvalidPort},
        {"missing device file", TempPath("missing"), kBaud, 0, 8, 1, kComErrNoPortFound},
        {"not a tty", "/dev/null", kBaud, 0, 8, 1, kComErrInvalidParameter},
        {"not a device", regularFile, kBaud, 0, 8, 1, kComErrInvalidParameter},
        {"no baud rate", peer.path(), 0, 0, 8, 1, kComErrInvalidParameter},
        {"unknown parity", peer.path(), kBaud, 7, 8, 1, kComErrInvalidParameter},
        {"nine data bits", peer.path(), kBaud, 0, 9, 1, kComErrInvalidParameter},
        {"three stop bits", peer.path(), kBaud, 0, 8, 3, kComErrInvalidParameter},
    };
    // Another program holding /dev/null must not turn "not a tty" into "cannot open".
    const int devNull = open("/dev/null", O_RDONLY);
    flock(devNull, LOCK_EX | LOCK_NB);
    for (const Case &c : cases)
        EXPECT_EQ(OpenConfig(kCom, c.device, c.baud, c.parity, c.dataBits, c.stopBits), c.expected)
            << c.what;
    close(devNull);
    std::filesystem::remove(regularFile);
    EXPECT_EQ(CloseCom(kCom), kComErrPortNotOpen) << "a refused open leaves nothing open";
    EXPECT_EQ(OpenConfig(kCom, peer.path()), 0) << "a refused open leaves the device free";
}

TEST_F(Serial, DeviceInUseCannotOpenUntilItsHolderLetsGo) {
    const int fd = open(peer.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(OpenByNumber(peer.path()), kComErrCannotOpen) << "locked by another program";
    close(fd);
    ASSERT_EQ(OpenByNumber(peer.path(), kCom), 0);
    EXPECT_EQ(OpenConfig(kOtherCom, peer.path()), kComErrCannotOpen) << "open on another number";

    ScriptedPeer second;
    ASSERT_EQ(OpenByNumber(second.path(), kCom), 0);
    EXPECT_EQ(OpenConfig(kOtherCom, peer.path()), 0) << "reopening COM1 released its device";
}

namespace {

bool Contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

// Another program that locks the device the way serial programs do, for as long as it runs.
class LockingProgram {
  public:
    explicit LockingProgram(const std::string &device) {
        // It waits for the lock: the test's own probes hold it for a moment now and then.
        const char *argv[] = {"flock", "--no-fork", device.c_str(), "sleep", "60", nullptr};
        if (posix_spawnp(&pid_, "flock", nullptr, nullptr, const_cast<char **>(argv), environ))
            pid_ = -1;
    }
    ~LockingProgram() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
};

bool LockedElsewhere(const std::string &device) {
    const int fd      = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const bool locked = flock(fd, LOCK_EX | LOCK_NB) != 0;
    close(fd);
    return locked;
}

} // namespace

TEST_F(Serial, APortThatWillNotOpenSaysWhyAndAGoodOpenClearsIt) {
    const std::string link = TempPath("link");
    std::filesystem::create_symlink(peer.path(), link);
    ASSERT_EQ(OpenByNumber(link), 0);
    EXPECT_STREQ(GetOpenDiagnosis(), "");
    CloseCom(kCom);
    std::filesystem::remove(link);
    EXPECT_EQ(OpenByNumber(link), kComErrNoPortFound);
    EXPECT_TRUE(Contains(GetOpenDiagnosis(), link + " is gone")) << GetOpenDiagnosis();

    ASSERT_EQ(OpenByNumber(peer.path()), 0);
    EXPECT_STREQ(GetOpenDiagnosis(), "");
    EXPECT_EQ(OpenConfig(kOtherCom, peer.path()), kComErrCannotOpen);
    EXPECT_TRUE(Contains(GetOpenDiagnosis(), "in use by this program")) << GetOpenDiagnosis();

    ScriptedPeer second;
    LockingProgram holder(second.path());
    ASSERT_GT(holder.pid(), 0) << "flock from util-linux runs the other program";
    const double deadline = Timer() + kTimeout;
    while (!LockedElsewhere(second.path()))
        ASSERT_LT(Timer(), deadline) << "the other program never locked the device";
    EXPECT_EQ(OpenConfig(kOtherCom, second.path()), kComErrCannotOpen);
    EXPECT_TRUE(
        Contains(GetOpenDiagnosis(), "in use by sleep (pid " + std::to_string(holder.pid()) + ")"))
        << GetOpenDiagnosis();
}

TEST_F(Serial, APortWithoutPermissionNamesItsGroupAndHowToJoinIt) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root opens a device whatever its mode";
    struct stat info {};
    ASSERT_EQ(stat(peer.path().c_str(), &info), 0);
    ASSERT_EQ(chmod(peer.path().c_str(), 0), 0);
    const int result         = OpenByNumber(peer.path());
    const std::string reason = GetOpenDiagnosis();
    chmod(peer.path().c_str(), info.st_mode & 07777);
    EXPECT_EQ(result, kComErrCannotOpen);
    const std::string group = getgrgid(info.st_gid)->gr_name;
    EXPECT_TRUE(Contains(reason, "group \"" + group + "\"")) << reason;
    EXPECT_TRUE(Contains(reason, "sudo usermod -aG " + group + " $USER")) << reason;
}

TEST_F(Serial, ReadReturnsOnceTheCountIsInOrAtTheTimeOutWithFewer) {
    const Bytes first  = MakeFrame(1, {0x1111});
    const Bytes second = MakeFrame(2, {0x2222});
    Bytes reply        = first;
    reply.insert(reply.end(), second.begin(), second.end());
    peer.SetResponder([&](const Bytes &) { return PeerReply{reply}; });
    ASSERT_EQ(OpenByNumber(peer.path()), 0);

    EXPECT_EQ(Write(Pattern(kFrameLength)), kFrameLength);
    ASSERT_TRUE(peer.WaitForRequests(1, kTimeout));
    EXPECT_EQ(peer.Requests()[0], Pattern(kFrameLength));
    EXPECT_EQ(Read(kFrameLength), first);
    EXPECT_EQ(Read(kFrameLength), second);

    SetComTime(kCom, kShortTimeout);
    peer.Send(Pattern(10));
    EXPECT_EQ(Read(kFrameLength), Pattern(10));
}

TEST_F(Serial, CallbackNeverRunsInsideReadNorForBytesReadMeanwhile) {
    Deliveries deliveries;
    ASSERT_EQ(OpenByNumber(peer.path()), 0);
    ASSERT_EQ(Attach(deliveries, 1), 0);
    peer.Send(Pattern(kFrameLength));
    EXPECT_EQ(Read(kFrameLength).size(), kFrameLength);
    EXPECT_EQ(deliveries.count, 0) << "ran inside ComRd";
    ProcessEventsFor(kQuietSpan);
    EXPECT_EQ(deliveries.count, 0);
}

TEST_F(Serial, FortyWaitingBytesGiveOneDeliveryInsideEventsThatReadsAFrameAndFlushes) {
    Deliveries deliveries{kFrameLength, true};
    ASSERT_EQ(OpenByNumber(peer.path()), 0);
    ASSERT_EQ(Attach(deliveries), 0);
    peer.Send(Pattern(40));
    ASSERT_TRUE(InQueueReaches(40)) << "GetInQLen must see bytes while no events run";
    EXPECT_EQ(deliveries.count, 0) << "ran inside GetInQLen";

    ASSERT_TRUE(ProcessEventsUntil([&] { return deliveries.count > 0; }));
    ProcessEventsFor(kQuietSpan);
    EXPECT_EQ(deliveries.count, 1);
    EXPECT_EQ(deliveries.events, kComEventReceive);
    EXPECT_EQ(deliveries.read, Pattern(kFrameLength)) << "GetInQLen must read nothing";
    EXPECT_EQ(GetInQLen(kCom), 0);
}

TEST_F(Serial, CallbackRunsAgainWhileANotifyCountKeepsWaiting) {
    Deliveries deliveries{kFrameLength};
    ASSERT_EQ(OpenByNumber(peer.path()), 0);
    ASSERT_EQ(Attach(deliveries), 0);
    peer.Send(Pattern(2 * kFrameLength + 10));

    ASSERT_TRUE(ProcessEventsUntil([&] { return deliveries.count >= 2; }));
    ProcessEventsFor(kQuietSpan);
    EXPECT_EQ(deliveries.count, 2);
    EXPECT_EQ(deliveries.read, Pattern(2 * kFrameLength));
}

TEST_F(Serial, DetachingDropsQueuedDeliveriesAndInstallingCountsWaitingBytes) {
    Deliveries deliveries;
    ASSERT_EQ(OpenByNumber(peer.path()), 0);
    ASSERT_EQ(Attach(deliveries), 0);
    peer.Send(Pattern(kFrameLength));
    ASSERT_TRUE(InQueueReaches(kFrameLength));
    ASSERT_EQ(InstallComCallback(kCom, 0, kFrameLength, 0x55, nullptr, nullptr), 0);
    ProcessEventsFor(kQuietSpan);
    EXPECT_EQ(deliveries.count, 0);

    ASSERT_EQ(Attach(deliveries), 0);
    EXPECT_TRUE(ProcessEventsUntil([&] { return deliveries.count > 0; }));
}

TEST_F(Serial, DeviceVanishingDuringEventsFailsLaterCallsAndTheNumberOpensAgain) {
    Deliveries deliveries;
    auto first = std::make_unique<ScriptedPeer>();
    ASSERT_EQ(OpenByNumber(first->path()), 0);
    ASSERT_EQ(Attach(deliveries), 0);
    first->Close();
    ProcessEventsFor(kQuietSpan);
    EXPECT_LT(Write(Pattern(kFrameLength)), 0);
    EXPECT_TRUE(Read(kFrameLength).empty());
    EXPECT_LT(GetInQLen(kCom), 0);
    EXPECT_EQ(CloseCom(kCom), kComErrPortNotOpen);
    first.reset();

    ASSERT_EQ(OpenByNumber(peer.path()), 0);
    EXPECT_EQ(Write(Pattern(kFrameLength)), kFrameLength);
    EXPECT_TRUE(peer.WaitForRequests(1, kTimeout));
}

TEST_F(Serial, DeviceVanishingDuringAReadEndsItAndClosesThePort) {
    ScriptedPeer vanishing;
    ASSERT_EQ(OpenByNumber(vanishing.path()), 0);
    vanishing.Close();
    EXPECT_TRUE(Read(kFrameLength).empty());
    EXPECT_LT(GetInQLen(kCom), 0);
}

TEST_F(Serial, TraceHasOneStampedLinePerTransferThatMovedBytesAndPerStatus) {
    const std::string path = TempPath("trace");
    ASSERT_TRUE(TraceOpen(path.c_str()));
    ASSERT_EQ(OpenByNumber(peer.path()), 0);
    Write({0x00, 0xaa, 0x0f});
    peer.Send({0x01, 0xfe});
    Read(2);
    SetComTime(kCom, kShortTimeout);
    Read(1);
    TraceStatus("Line good");
    TraceClose();

    std::ifstream file(path);
    const std::vector<std::string> bodies = {"TX 00 aa 0f", "RX 01 fe", "STATUS Line good"};
    for (const std::string &body : bodies) {
        std::string line;
        ASSERT_TRUE(std::getline(file, line));
        const std::size_t point = line.find('.');
        ASSERT_NE(point, std::string::npos) << line;
        EXPECT_GE(std::stod(line), 0.0) << line;
        EXPECT_EQ(line.substr(point + kStampPoint), " " + body);
    }
    EXPECT_TRUE(file.peek() == EOF) << "one line each, nothing else";
    std::filesystem::remove(path);
}

TEST(PortTable, FoundDevicesAreNumberedByKindThenByTheNumberInTheirName) {
    const std::vector<std::string> found    = {"/dev/ttyUSB10", "/dev/rfcomm0", "/dev/ttyACM0",
                                               "/dev/ttySAC0",  "/dev/ttyUSB2", "/dev/ttyS1",
                                               "/dev/ttyS0"};
    const std::vector<std::string> expected = {"/dev/ttyS0",    "/dev/ttyS1",   "/dev/ttyUSB2",
                                               "/dev/ttyUSB10", "/dev/ttyACM0", "/dev/rfcomm0",
                                               "/dev/ttySAC0"};
    EXPECT_EQ(NumberingOrder(found), expected);
}

namespace {

DeviceInfo Device(const std::string &path, const std::string &byIdName = "") {
    DeviceInfo info;
    info.path     = path;
    info.byIdName = byIdName;
    return info;
}

std::vector<std::string> Labels() {
    std::vector<std::string> labels;
    for (const PortEntry &entry : PortTable())
        labels.push_back(entry.label);
    return labels;
}

} // namespace

TEST(PortTable, FoundDevicesTakeTheLowestFreeNumbersAroundGivenOnes) {
    PortTableClear();
    PortTableAdd(2, "/dev/pts/7");
    PortTableUpdate(
        {Device("/dev/ttyUSB0"), Device("/dev/pts/7"), Device("/dev/ttyS3"), Device("/dev/ttyS0")});
    EXPECT_EQ(Labels(), (std::vector<std::string>{"COM1  /dev/ttyS0", "COM2  /dev/pts/7",
                                                  "COM3  /dev/ttyS3", "COM4  /dev/ttyUSB0"}));
    PortTableAdd(2, "/dev/pts/9");
    EXPECT_EQ(PortDevice(2), "/dev/pts/9");
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

TEST(PortTable, LabelsShowEachDetailOnceAndAGivenStableNameGetsTheDetails) {
    PortTableClear();
    DeviceInfo adapter{"/dev/ttyUSB0", "FT232R USB UART", "FTDI", "A50285BI",
                       "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"};
    DeviceInfo board{"/dev/ttyACM0", "Arduino Uno", "Arduino Uno", "", ""};
    PortTableAdd(5, "/dev/serial/by-id/" + adapter.byIdName);
    PortTableUpdate({adapter, board});
    EXPECT_EQ(Labels(), (std::vector<std::string>{
                            "COM1  /dev/ttyACM0  Arduino Uno",
                            "COM5  /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"
                            "  FT232R USB UART, FTDI, S/N A50285BI"}));
    PortTableClear();
}
