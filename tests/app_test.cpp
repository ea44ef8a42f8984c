// The program as the operator meets it: start-up, port change, panel close, and the
// parameter commands, each driven through its callback with the events the panel raises.
#include "support/limits.h"
#include "support/panel_fixture.h"

#include "app.h"
#include "com232.h"
#include "platform/audit/audit_db.h"
#include "platform/panel/dialogs.h"
#include "platform/panel/events.h"
#include "platform/panel/panel.h"
#include "platform/serial/ports.h"
#include "platform/serial/serial.h"
#include "pty_host.h"
#include "ui.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <unistd.h>

using namespace com232;

namespace {

std::vector<int> Commands(const std::vector<Bytes> &requests) {
    std::vector<int> codes;
    for (const Bytes &r : requests)
        codes.push_back(r[3]);
    return codes;
}

} // namespace

using StartUp = ControllerTest;

TEST_F(StartUp, TheEchoFetchAndFirmwareRunInOrderAndTellTheBoardVariant) {
    InitRS232(1);
    EXPECT_EQ(Commands(peer.Requests()), (std::vector<int>{5, 2, 7}));
    EXPECT_EQ(StatusTexts(),
              (std::vector<std::string>{
                  "InitVars", "Echo Check - Line Ok!", "Waiting for parameter-frame ...",
                  "Parameter-frame received! - Line Ok!", "Echo Check - Line Ok!",
                  "Waiting for firmware info ...", controller.firmware, controller.firmware}));
    EXPECT_EQ(BoardVariant(), kBoard100);
    EXPECT_EQ(FrameWord(peer.Requests()[0], 0), 500) << "the echo carries the panel's set";
    EXPECT_EQ(Values({ui::power, ui::hold, ui::sdelay}), (std::vector<int>{640, 90, 4}));
    EXPECT_EQ(ParameterSet().average, 3);
    controller.variant = 0;
    InitRS232(1);
    EXPECT_EQ(BoardVariant(), kBoard0);
    EXPECT_EQ(StatusLine(), controller.firmware) << "variant 0 sends the text as words";
}

TEST_F(StartUp, TheBuiltInSimulatorOfEitherBoardVariantPacesItsRepliesAndRunsTheCommands) {
    for (int variant : {100, 0}) {
        sim::PtyHost simulator;
        sim::HostOptions options;
        options.variant = variant;
        ASSERT_TRUE(simulator.Start(options));
        PortTableAdd(1, simulator.SlavePath());
        const std::size_t sent = Trace("TX").size(), read = Trace("RX").size();
        const double start = Timer();
        InitRS232(1);
        EXPECT_GE(Timer() - start, 252 * 10.0 / 19200) << "the set-up's bytes at 19200 baud";
        EXPECT_EQ(BoardVariant(), variant);
        const std::string request = Trace("TX").at(sent), echo = Trace("RX").at(read);
        EXPECT_EQ(echo, variant ? "00 aa 00 05 " + request.substr(12)
                                : "00 55 00 05 00 aa " + request.substr(18));
        EXPECT_NE(StatusLine().find("FW 3.14"), std::string::npos) << StatusLine();
        SetCtrlVal(panel, ui::power, 999);
        Raise(app::CC_BTNSend, kEventLeftClick);
        Raise(app::CC_ButtonReset); // RAM from EEPROM again, then fetched
        Raise(app::CC_BTNData);     // its live request brings the thresholds
        EXPECT_EQ(Values({ui::power, ui::UPval, ui::LOval}), (std::vector<int>{500, 522, 502}));
        CloseCom(1);
    }
}

TEST_F(StartUp, WithoutAControllerOnlyTheEchoRunsAndTimesOut) {
    controller.silent[kCmdEcho] = true;
    SetCtrlVal(panel, ui::power, 777);
    InitRS232(1);
    EXPECT_EQ(Commands(peer.Requests()), (std::vector<int>{5}));
    EXPECT_EQ(StatusTexts().back(), "Timeout < 36 Bytes");
    EXPECT_EQ(Value(ui::power), 777);
    const std::string tip = ToolTip();
    EXPECT_EQ(tip.substr(0, tip.find(" within ")), "No answer on COM1 (" + peer.path() + ")");
    EXPECT_NE(tip.find("switched on, that its cable is plugged in at both ends, and that COM1 "
                       "is the port it is on; --simulate tries"),
              std::string::npos)
        << tip;
    EXPECT_EQ(Trace("DIAG").back(), tip);
    const std::string notRead = "Not read from a controller yet: the panel file's default or a "
                                "value typed here. Get reads the controller's.\nWord 4 of the "
                                "parameter set, rmx7ctl name hold, 0 to 65535. The controller's "
                                "hold time.";
    EXPECT_EQ(ToolTip(ui::hold).substr(0, notRead.size()), notRead);
    controller.silent = {{kCmdFirmware, true}};
    InitRS232(1);
    EXPECT_EQ(StatusLine(), "Error reading firmware-info!") << "no firmware reply";
    EXPECT_EQ(ToolTip(ui::hold).substr(0, 7), "Word 4 ") << "the fetch read the controller's";
}

// The status texts stay as they are; beside them one line says what to check, and the
// parameter controls look like defaults until a read has filled them.
TEST_F(StartUp, ASilentLineIsSaidBesideTheStatusAndUnreadValuesLookLikeDefaults) {
    controller.silent[kCmdEcho] = true;
    program().FillPortRing();
    Raise(app::CC_DropDCom, kEventCommit, ui::DropDCom);
    EXPECT_EQ(StatusLine(), "Timeout < 36 Bytes");
    char hint[256] = {};
    GetCtrlVal(panel, ui::TXTHint, hint, sizeof hint);
    EXPECT_EQ(std::string(hint),
              "No answer on COM1 (" + peer.path() + "): check power, cable and port");
    EXPECT_EQ(Attribute(ui::TXTHint, kAttrVisible), 1);
    EXPECT_EQ(Attributes(kAttrDefaultMark, {ui::power, ui::hold}), (std::vector<int>{1, 1}));
    controller.silent.clear();
    Raise(app::CC_BTNGet);
    GetCtrlVal(panel, ui::TXTHint, hint, sizeof hint);
    EXPECT_STREQ(hint, "") << "the line answers again";
    EXPECT_EQ(Attribute(ui::TXTHint, kAttrVisible), 0) << "the status text has the whole line";
    EXPECT_EQ(Attributes(kAttrDefaultMark, {ui::power, ui::hold}), (std::vector<int>{0, 0}));
}

TEST_F(StartUp, PortsThatCannotBeOpenedShowTheirTextAndCauseAndLeaveTheProgramUsable) {
    InitRS232(9);
    EXPECT_EQ(StatusLine(), "Invalid port number");
    PortTableAdd(9, "/dev/rmx7-no-such-device");
    InitRS232(9);
    EXPECT_EQ(StatusLine(), "No serial port found");
    EXPECT_NE(ToolTip().find("/dev/rmx7-no-such-device is gone"), std::string::npos);
    EXPECT_EQ(Trace("DIAG").back(), ToolTip()) << "the trace gives the cause too";
    InitRS232(1);
    EXPECT_EQ(StatusLine(), controller.firmware);
    EXPECT_EQ(ToolTip(), "") << "a good open takes the cause away";
}

TEST_F(StartUp, APortChangeClosesTheOldPortAndSetsUpTheNewOneForEachEvent) {
    FakeController other; // before its peer, whose thread calls it
    ScriptedPeer second;
    other.firmware = "second board";
    second.SetResponder(other.Responder());
    PortTableAdd(3, "/dev/rmx7-third");
    program().FillPortRing();
    SetCtrlVal(panel, ui::DropDCom, 3);
    PortTableUpdate({DeviceInfo{second.path(), "", "", "", ""}});
    program().RefreshPortRing();
    EXPECT_EQ(Value(ui::DropDCom), 3) << "a rescan keeps the selection";
    InitRS232(1);
    SetCtrlVal(panel, ui::DropDCom, 2);
    Raise(app::CC_DropDCom, kEventValueChanged, ui::DropDCom);
    Raise(app::CC_DropDCom, kEventCommit, ui::DropDCom);
    EXPECT_EQ(Port(), 2) << "the device found by the rescan";
    EXPECT_LT(GetInQLen(1), 0) << "the old port is closed";
    EXPECT_EQ(Commands(second.Requests()), (std::vector<int>{5, 2, 7, 5, 2, 7}));
    EXPECT_EQ(StatusLine(), "second board");
    const std::vector<std::string> texts = StatusTexts();
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Init COM-Port ..."), texts.end());
    second.Send(MakeFrame(kCmdLive, {77}));
    EXPECT_TRUE(PumpUntil([this] { return FrameWords()[0] == 77; }, 2.0))
        << "receive callback on COM2";
    EXPECT_EQ(FrameWords()[0], 77);
    CloseCom(2);
}

TEST_F(StartUp, ClosingThePanelDuringAWaitEndsTheWaitAndTheEventLoop) {
    InitRS232(1);
    controller.silent[kCmdReadRam] = true;
    QObject scope;
    QTimer::singleShot(0, &scope,
                       [this] { app::CC_BTNGet(panel, 0, kEventCommit, &program(), 0, 0); });
    QTimer::singleShot(300, &scope,
                       [this] { app::CC_PANEL(panel, kEventClose, &program(), 0, 0); });
    EventHook guard(nullptr, 10, [] { QuitUserInterface(0); });
    RunUserInterface();
    EXPECT_FALSE(program().RunGoing());
    EXPECT_EQ(StatusLine(), "Timeout RS232-Line!") << "the wait ran to its end";
    EXPECT_LT(GetInQLen(1), 0) << "the close closed the port";
}

class ParameterCommands : public ControllerTest {
  protected:
    void SetUp() override {
        ControllerTest::SetUp();
        InitRS232(1);
    }
    // The last request the program wrote, once the peer has it too.
    Bytes LastRequest() {
        EXPECT_TRUE(peer.WaitForRequests(Trace("TX").size(), 2.0));
        return peer.Requests().back();
    }
    void Select(Callback callback, int control, int on) {
        SetCtrlVal(panel, control, on);
        Raise(callback, kEventValueChanged, control);
    }
};

TEST_F(ParameterCommands, SendWritesCommand1ToRamAnd3ToEepromFromThePanelOnTheLeftClick) {
    SetCtrlVal(panel, ui::power, 65535);
    SetParameter(&Parameters::para12, 9);
    Raise(app::CC_BTNSend, kEventLeftClick);
    const Bytes sent = LastRequest();
    EXPECT_EQ(sent[3], kCmdWriteRam);
    EXPECT_EQ(sent, MakeFrame(kCmdWriteRam, {65535, 300, 12, 0, 90, 1, 3, 1, 25, 55, 4}))
        << "average goes back as it came, words 11 to 15 as 0 after a panel read";
    EXPECT_EQ(StatusLine(), "Transmit Ok!");
    Select(app::CC_RBTEeprom, ui::RBTEeprom, 1);
    Raise(app::CC_BTNSend);
    EXPECT_EQ(peer.Requests().size(), 4u) << "not on the commit";
    Raise(app::CC_BTNSend, kEventLeftClick);
    EXPECT_EQ(LastRequest()[3], kCmdWriteEeprom);
}

// Each write of the panel appends its record to the project folder's trail once its
// exchange is over: what the request carried and, where the program read or wrote that
// memory before, what it replaced.
TEST_F(ParameterCommands, SendTeachAndResetEachAppendTheirRecordAsThePanels) {
    const std::string project = testing::TempDir() + "rmx7-trail-" + std::to_string(getpid());
    std::filesystem::remove_all(project);
    program().SetProjectDir(project);
    program().RecordPanelWrites(true);
    ASSERT_TRUE(Finish(program().SetUpPort(1)).ok());
    SetCtrlVal(panel, ui::power, 700);
    Raise(app::CC_BTNSend, kEventLeftClick);
    Raise(app::CC_ButtonTeach);
    Select(app::CC_RBTEeprom, ui::RBTEeprom, 1);
    Raise(app::CC_BTNSend, kEventLeftClick);
    Raise(app::CC_ButtonReset);
    const auto records = [&] {
        std::vector<std::string> read;
        auditdb::AuditDatabase db;
        std::string error;
        if (db.Open(project + "/RMX7audit.db", auditdb::AuditDatabase::Mode::Read, error))
            db.ForEach(
                {},
                [&](const auditdb::AuditRow &row) {
                    read.push_back(row.origin + " " + row.verb + " " + row.target + " " +
                                   row.words + " replaced " + row.replaced.value_or("-") + " " +
                                   row.result);
                    return true;
                },
                error);
        return read;
    };
    EXPECT_TRUE(PumpUntil([&] { return records().size() >= 4; }, 5));
    const std::string fetched = "[640,300,12,0,90,1,3,1,25,55,4,0,0,0,0,0]";
    const std::string sent    = "[700,300,12,0,90,1,3,1,25,55,4,0,0,0,0,0]";
    EXPECT_EQ(records(),
              (std::vector<std::string>{"panel send ram " + sent + " replaced " + fetched + " Ok",
                                        "panel teach ram " + sent + " replaced " + sent + " Ok",
                                        "panel send eeprom " + sent + " replaced - Ok",
                                        "panel reset ram " + sent + " replaced - Ok"}));
    std::filesystem::remove_all(project);
}

TEST_F(ParameterCommands, GetCarriesTheVariablesAndOverwritesUnsentPanelValues) {
    SetCtrlVal(panel, ui::reference, 999);
    controller.ram[1]  = 333;
    controller.ram[11] = 7;
    Raise(app::CC_BTNGet);
    EXPECT_EQ(LastRequest(), MakeFrame(kCmdReadRam, {640, 300, 12, 0, 90, 1, 3, 1, 25, 55, 4}))
        << "the variables, not the typed value";
    EXPECT_EQ(Value(ui::reference), 333);
    EXPECT_EQ(ParameterSet().para12, 7);
    EXPECT_EQ(StatusLine(), "Data Transfer Ok!");
    Select(app::CC_RBTEeprom, ui::RBTEeprom, 1);
    controller.eeprom[0] = 42;
    Raise(app::CC_BTNGet);
    EXPECT_EQ(LastRequest()[3], kCmdReadEeprom);
    EXPECT_EQ(Value(ui::power), 42);
    controller.silent[kCmdReadEeprom] = true;
    SetCtrlVal(panel, ui::hysteresis, 55);
    Raise(app::CC_BTNGet);
    EXPECT_EQ(StatusLine(), "Timeout RS232-Line!");
    EXPECT_EQ(Value(ui::hysteresis), 12) << "the panel shows the variables after a time-out";
}

TEST_F(ParameterCommands, TargetButtonsAreOneChoiceWithRamAsFallback) {
    const struct {
        Callback callback;
        int control, on, target;
        std::vector<int> buttons; // RAM, EEPROM, file
    } steps[] = {
        {app::CC_RBTRam, ui::RBTRam, 1, RAM, {1, 0, 0}},
        {app::CC_RBTFile, ui::RBTFile, 1, DATFILE, {0, 0, 1}},
        {app::CC_RBTFile, ui::RBTFile, 0, RAM, {1, 0, 0}},
        {app::CC_RBTRam, ui::RBTRam, 0, RAM, {1, 0, 0}}, // clicking RAM while on leaves it on
        {app::CC_RBTEeprom, ui::RBTEeprom, 1, EEPROM, {0, 1, 0}},
        {app::CC_RBTEeprom, ui::RBTEeprom, 0, RAM, {1, 0, 0}},
    };
    for (const auto &s : steps) {
        Select(s.callback, s.control, s.on);
        EXPECT_EQ(Target(), s.target) << s.control << " " << s.on;
        EXPECT_EQ(Values({ui::RBTRam, ui::RBTEeprom, ui::RBTFile}), s.buttons) << s.control;
    }
}

TEST_F(ParameterCommands, AnAnsweredTeachMarksTheReferenceUntilTheNextGetFetchOrSend) {
    const std::string taught = "The reference was taught on the controller; Get reads it.";
    const auto note          = [this] {
        char text[256] = {};
        GetCtrlAttribute(panel, ui::reference, kAttrNote, text, sizeof text);
        return std::string(text);
    };
    controller.silent[kCmdTeach] = true;
    Raise(app::CC_ButtonTeach);
    EXPECT_EQ(note(), "") << "no answer, no mark";
    controller.silent.clear();
    const struct {
        const char *step;
        std::function<void()> clears;
    } steps[] = {
        {"Get", [this] { Raise(app::CC_BTNGet); }},
        {"fetch", [this] { InitRS232(1); }},
        {"Send", [this] { Raise(app::CC_BTNSend, kEventLeftClick); }},
    };
    for (const auto &s : steps) {
        const std::size_t before = peer.Requests().size();
        Raise(app::CC_ButtonTeach);
        EXPECT_EQ(note(), taught);
        EXPECT_EQ(ToolTip(ui::reference).substr(0, taught.size()), taught);
        EXPECT_EQ(peer.Requests().size(), before + 1) << "the mark adds nothing on the line";
        EXPECT_EQ(Value(ui::reference), 300) << "nor on the panel";
        s.clears();
        EXPECT_EQ(note(), "") << s.step;
    }
}

TEST_F(ParameterCommands, TeachAndResetReportTheReplyOrTheirTimeout) {
    Raise(app::CC_ButtonTeach, kEventLeftClick);
    EXPECT_EQ(StatusLine(), "Teach new Reference-Value ...");
    Raise(app::CC_ButtonTeach);
    EXPECT_EQ(LastRequest()[3], kCmdTeach);
    EXPECT_EQ(StatusLine(), "Teach-procedure activated!");
    controller.silent[kCmdTeach] = true;
    Raise(app::CC_ButtonTeach);
    EXPECT_EQ(StatusLine(), "Timeout RS-232!!");

    controller.ram[0]             = 123;
    controller.delay[kCmdReadRam] = 1.7; // the fetch has a wait of its own
    Raise(app::CC_ButtonReset);
    const std::vector<int> codes = Commands(peer.Requests());
    EXPECT_EQ(std::vector<int>(codes.end() - 2, codes.end()), (std::vector<int>{10, 2}));
    EXPECT_EQ(Value(ui::power), 123);
    EXPECT_NE(StatusLine(), "Timeout RS-232!!");
    EXPECT_EQ(ToolTip(), "RAM reloaded from EEPROM");
    controller.silent[kCmdReset] = true;
    Raise(app::CC_ButtonReset);
    EXPECT_EQ(StatusLine(), "Timeout RS-232!!");
    EXPECT_EQ(Commands(peer.Requests()).back(), 10) << "no fetch without a reply";
}

namespace {

std::string stubPath;
int stubResult = kSelectNew;

int AnswerDialog(const char *, int, char *path) {
    std::snprintf(path, kPathSize, "%s", stubPath.c_str());
    return stubResult;
}

std::string ReadFile(const std::string &path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

} // namespace

class ParameterFile : public ParameterCommands {
  protected:
    void SetUp() override {
        ParameterCommands::SetUp();
        stubPath   = testing::TempDir() + "rmx7-params-" + std::to_string(getpid()) + ".dat";
        stubResult = kSelectNew;
        SetFileSelectResponder(AnswerDialog);
        Select(app::CC_RBTFile, ui::RBTFile, 1);
    }
    void TearDown() override {
        SetFileSelectResponder(nullptr);
        std::remove(stubPath.c_str());
        ParameterCommands::TearDown();
    }
};

TEST_F(ParameterFile, SaveReplacesTheFileWholeAndLoadReproducesTheSet) {
    std::ofstream(stubPath) << "old\n";
    const std::string other = stubPath + ".link"; // the old file under a second name
    ASSERT_EQ(link(stubPath.c_str(), other.c_str()), 0);
    // Another account plants the old temporary's name as a link to a file of the user's.
    const std::string mine = stubPath + ".mine", planted = stubPath + ".part";
    std::ofstream(mine) << "mine\n";
    ASSERT_EQ(symlink(mine.c_str(), planted.c_str()), 0);
    const std::size_t requests = peer.Requests().size();
    SetCtrlVal(panel, ui::power, 65535);
    SetParameter(&Parameters::para13, 5);
    Raise(app::CC_BTNSend, kEventLeftClick);
    EXPECT_EQ(peer.Requests().size(), requests) << "nothing goes to the controller";
    EXPECT_EQ(ReadFile(stubPath), "65535\n  300\n   12\n    0\n   90\n    1\n    3\n    1\n   "
                                  "25\n   55\n    4\n    0\n    0\n    0\n    0\n    0\n");
    EXPECT_EQ(ReadFile(other), "old\n") << "written beside and renamed over, not in place";
    EXPECT_EQ(ReadFile(mine), "mine\n") << "the planted link is not followed";
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(stubPath)));
    for (const std::string &file : {other, mine, planted})
        std::remove(file.c_str());
    EXPECT_EQ(ToolTip(), "Parameters saved to " + stubPath) << "the status line stays";
    EXPECT_EQ(Trace("DIAG").back(), ToolTip());
    SetCtrlVal(panel, ui::power, 1);
    SetParameter(&Parameters::average, 0);
    Raise(app::CC_BTNGet);
    EXPECT_EQ(Value(ui::power), 65535);
    EXPECT_EQ(ParameterSet().average, 3);
    EXPECT_EQ(ToolTip(), "Parameters loaded from " + stubPath);
    EXPECT_EQ(ToolTip(ui::power).substr(0, 12 + stubPath.size()), "Loaded from " + stubPath);
}

TEST_F(ParameterFile, AnUnreadableFileSaysWhyAndWords11To15AreLoadedButSentAsZero) {
    std::remove(stubPath.c_str());
    Raise(app::CC_BTNGet);
    EXPECT_EQ(StatusLine(), "Parameter file not readable - nothing loaded!");
    EXPECT_EQ(ToolTip(), stubPath + " cannot be read: No such file or directory");
    EXPECT_EQ(Trace("DIAG").back(), ToolTip());
    EXPECT_EQ(Value(ui::power), 640);
    std::ofstream(stubPath) << "1\n2\n3\n4\n5\n6\n4\n8\n9\n10\n11\n7\n0\n0\n0\n65535\n";
    Raise(app::CC_BTNGet);
    EXPECT_EQ(ParameterSet().average, 4) << "a word without a control is loaded too";
    EXPECT_EQ(ParameterSet().para16, 65535);
    EXPECT_EQ(ToolTip(), "Parameters loaded from " + stubPath +
                             ". Words 11 to 15 (para12 to para16) of the file hold 7 0 0 0 "
                             "65535; Send transmits them as 0.");
    Select(app::CC_RBTRam, ui::RBTRam, 1);
    Raise(app::CC_BTNSend, kEventLeftClick);
    EXPECT_EQ(LastRequest(), MakeFrame(kCmdWriteRam, {1, 2, 3, 4, 5, 6, 4, 8, 9, 10, 11}));
}

TEST_F(ParameterFile, AnUnwritableOrCancelledSaveWritesNothing) {
    const std::string kept = stubPath;
    stubPath               = testing::TempDir() + "rmx7-no-such-folder/params.dat";
    Raise(app::CC_BTNSend, kEventLeftClick);
    EXPECT_EQ(StatusLine(), "Parameter file could not be written - no file saved!");
    // An older file that cannot be replaced (the file-size limit cuts its new text) stays.
    stubPath = kept;
    std::ofstream(stubPath) << "older\n";
    {
        const ProcessLimit small(RLIMIT_FSIZE, 16);
        Raise(app::CC_BTNSend, kEventLeftClick);
    }
    EXPECT_EQ(StatusLine(), "Parameter file could not be written - old file kept!");
    EXPECT_EQ(ReadFile(stubPath), "older\n");
    std::remove(stubPath.c_str());
    stubResult = kSelectCancel;
    SetCtrlVal(panel, ui::power, 5);
    Raise(app::CC_BTNGet);
    EXPECT_EQ(Value(ui::power), 640) << "the panel is rewritten from the variables";
    Raise(app::CC_BTNSend, kEventLeftClick);
    EXPECT_EQ(ReadFile(stubPath), "");
}
