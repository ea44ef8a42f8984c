// The program as the operator meets it: start-up, port change, panel close, and the
// parameter commands, each driven through its callback with the events the panel raises.
#include "support/fake_controller.h"
#include "support/panel_fixture.h"

#include "app.h"
#include "com232.h"
#include "gui.h"
#include "platform/dialogs.h"
#include "platform/events.h"
#include "platform/panel.h"
#include "platform/ports.h"
#include "platform/serial.h"
#include "ui.h"

#include <QTimer>

#include <cstring>
#include <fstream>
#include <sstream>

using namespace com232;

namespace {

int Press(int (*callback)(int, int, int, void *, int, int), int panel, int event) {
    return callback(panel, 0, event, nullptr, 0, 0);
}

void Click(int (*callback)(int, int, int, void *, int, int), int panel) {
    Press(callback, panel, kEventLeftClick);
    Press(callback, panel, kEventCommit);
}

std::vector<int> Commands(const std::vector<Bytes> &requests) {
    std::vector<int> codes;
    for (const Bytes &r : requests)
        codes.push_back(r[3]);
    return codes;
}

} // namespace

class StartUp : public PanelTest {
  protected:
    FakeController controller;
    void SetUp() override {
        PanelTest::SetUp();
        peer.SetResponder(controller.Responder());
    }
    std::string ToolTip() const {
        char text[512] = {};
        GetCtrlAttribute(panel, ui::TXTStatus, kAttrToolTip, text, sizeof text);
        return text;
    }
};

TEST_F(StartUp, WithABoard100TheEchoFetchAndFirmwareRunInOrder) {
    InitRS232(1);
    EXPECT_EQ(Commands(peer.Requests()), (std::vector<int>{5, 2, 7}));
    EXPECT_EQ(StatusTexts(),
              (std::vector<std::string>{
                  "InitVars", "Echo Check - Line Ok!", "Waiting for parameter-frame ...",
                  "Parameter-frame received! - Line Ok!", "Echo Check - Line Ok!",
                  "Waiting for firmware info ...", controller.firmware, controller.firmware}));
    EXPECT_EQ(vars.pcbtype, kBoard100);
    EXPECT_EQ(Value(ui::power), 640);
    EXPECT_EQ(Value(ui::hold), 90);
    EXPECT_EQ(vars.params.average, 3);
    EXPECT_EQ(vars.rx_flag, 0);
    EXPECT_EQ(FrameWord(peer.Requests()[2], 0), 640) << "the firmware query sends pp as it is";
}

TEST_F(StartUp, WithABoard0TheFirmwareComesAsWords) {
    controller.variant = 0;
    InitRS232(1);
    EXPECT_EQ(vars.pcbtype, kBoard0);
    EXPECT_EQ(StatusLine(), controller.firmware);
    EXPECT_EQ(std::string(vars.szVersion), controller.firmware);
}

TEST_F(StartUp, WithoutAControllerOnlyTheEchoRunsAndTimesOut) {
    controller.silent[5] = true;
    SetCtrlVal(panel, ui::power, 777);
    const double start = Timer();
    InitRS232(1);
    EXPECT_GE(Timer() - start, 2.0);
    EXPECT_EQ(Commands(peer.Requests()), (std::vector<int>{5}));
    EXPECT_EQ(StatusTexts().back(), "Timeout < 36 Bytes");
    EXPECT_EQ(Value(ui::power), 777);
    EXPECT_EQ(vars.params.average, 0);
    EXPECT_EQ(vars.params.para12, 0);
}

TEST_F(StartUp, AFirmwareReplyShorterThan64BytesIsAnError) {
    controller.silent[7] = true;
    InitRS232(1);
    EXPECT_EQ(StatusLine(), "Error reading firmware-info!");
}

TEST_F(StartUp, PortsThatCannotBeOpenedShowTheirTextAndLeaveTheProgramUsable) {
    InitRS232(9);
    EXPECT_EQ(StatusLine(), "Invalid port number");
    PortTableAdd(9, "/dev/rmx7-no-such-device");
    InitRS232(9);
    EXPECT_EQ(StatusLine(), "No serial port found");
    EXPECT_EQ(ToolTip(), GetOpenDiagnosis());
    EXPECT_NE(ToolTip().find("/dev/rmx7-no-such-device is gone"), std::string::npos);
    EXPECT_EQ(Trace("DIAG").back(), ToolTip()) << "the trace gives the cause too";
    InitRS232(1);
    EXPECT_EQ(StatusLine(), controller.firmware);
    EXPECT_EQ(ToolTip(), "") << "a good open takes the cause away";
}

TEST_F(StartUp, TheRingKeepsItsSelectionWhenARescanAddsADevice) {
    PortTableAdd(3, "/dev/rmx7-third");
    app::FillPortRing();
    SetCtrlVal(panel, ui::DropDCom, 3);
    DeviceInfo plugged;
    plugged.path = "/dev/ttyUSB7";
    PortTableUpdate({plugged});
    app::RefreshPortRing();
    EXPECT_EQ(Value(ui::DropDCom), 3);
    SetCtrlVal(panel, ui::DropDCom, 2);
    EXPECT_EQ(Value(ui::DropDCom), 2) << "the new device is listed";
}

TEST_F(StartUp, PortChangeThroughTheRingClosesAndChecksTheNewPortForEachEvent) {
    ScriptedPeer second;
    FakeController other;
    other.firmware = "second board";
    second.SetResponder(other.Responder());
    PortTableAdd(2, second.path());
    app::FillPortRing();
    InitRS232(1);
    SetCtrlVal(panel, ui::DropDCom, 2);
    app::CC_DropDCom(panel, ui::DropDCom, kEventValueChanged, nullptr, 0, 0);
    app::CC_DropDCom(panel, ui::DropDCom, kEventCommit, nullptr, 0, 0);
    EXPECT_EQ(vars.com, 2);
    EXPECT_EQ(Commands(second.Requests()), (std::vector<int>{5, 2, 7, 5, 2, 7}));
    EXPECT_EQ(StatusLine(), "second board");
    const std::vector<std::string> texts = StatusTexts();
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Init COM-Port ..."), texts.end());
    CloseCom(2);
}

TEST_F(StartUp, ClosingThePanelDuringAWaitEndsTheWaitAndTheEventLoop) {
    InitRS232(1);
    controller.silent[2] = true;
    QTimer::singleShot(0, [this] { Click(app::CC_BTNGet, panel); });
    QTimer::singleShot(300, [this] { app::CC_PANEL(panel, kEventClose, nullptr, 0, 0); });
    QTimer::singleShot(10000, [] { QuitUserInterface(0); });
    const double start = Timer();
    RunUserInterface();
    EXPECT_LT(Timer() - start, 5.0);
    EXPECT_EQ(app::vars.stop_flag, 1);
    EXPECT_EQ(StatusLine(), "Timeout RS232-Line!");
    EXPECT_LT(GetInQLen(1), 0) << "the close closed the port";
}

class ParameterCommands : public StartUp {
  protected:
    void SetUp() override {
        StartUp::SetUp();
        InitRS232(1);
    }
    // The last request the program wrote, once the peer has it too.
    Bytes LastRequest() {
        EXPECT_TRUE(peer.WaitForRequests(Trace("TX").size(), 2.0));
        return peer.Requests().back();
    }
    void SelectTarget(int (*callback)(int, int, int, void *, int, int), int control, int on) {
        SetCtrlVal(panel, control, on);
        callback(panel, control, kEventValueChanged, nullptr, 0, 0);
    }
};

TEST_F(ParameterCommands, SendWritesCommand1ToRamAnd3ToEepromFromThePanel) {
    SetCtrlVal(panel, ui::power, 65535);
    vars.params.para12 = 9;
    Press(app::CC_BTNSend, panel, kEventLeftClick);
    EXPECT_EQ(LastRequest()[3], 1);
    EXPECT_EQ(FrameWord(LastRequest(), 0), 65535);
    EXPECT_EQ(FrameWord(LastRequest(), 6), 3) << "average goes back as it came";
    EXPECT_EQ(FrameWord(LastRequest(), 11), 0) << "words 11 to 15 go as 0 after a panel read";
    EXPECT_EQ(StatusLine(), "Transmit Ok!");

    SelectTarget(app::CC_RBTEeprom, ui::RBTEeprom, 1);
    Press(app::CC_BTNSend, panel, kEventCommit);
    EXPECT_EQ(peer.Requests().size(), 4u) << "send acts on the left-click only";
    Press(app::CC_BTNSend, panel, kEventLeftClick);
    EXPECT_EQ(LastRequest()[3], 3);
}

TEST_F(ParameterCommands, GetCarriesTheVariablesAndOverwritesUnsentPanelValues) {
    SetCtrlVal(panel, ui::reference, 999);
    controller.ram[1]  = 333;
    controller.ram[11] = 7;
    Click(app::CC_BTNGet, panel);
    EXPECT_EQ(LastRequest()[3], 2);
    EXPECT_EQ(FrameWord(LastRequest(), 1), 300) << "the variable, not the typed value";
    EXPECT_EQ(Value(ui::reference), 333);
    EXPECT_EQ(vars.params.para12, 7);
    EXPECT_EQ(StatusLine(), "Data Transfer Ok!");

    SelectTarget(app::CC_RBTEeprom, ui::RBTEeprom, 1);
    controller.eeprom[0] = 42;
    Click(app::CC_BTNGet, panel);
    EXPECT_EQ(LastRequest()[3], 4);
    EXPECT_EQ(Value(ui::power), 42);
}

TEST_F(ParameterCommands, GetThatTimesOutStillRewritesThePanelFromTheVariables) {
    controller.silent[2] = true;
    SetCtrlVal(panel, ui::hysteresis, 55);
    Click(app::CC_BTNGet, panel);
    EXPECT_EQ(StatusLine(), "Timeout RS232-Line!");
    EXPECT_EQ(Value(ui::hysteresis), 12);
}

TEST_F(ParameterCommands, TargetButtonsAreOneChoiceWithRamAsFallback) {
    SelectTarget(app::CC_RBTFile, ui::RBTFile, 1);
    EXPECT_EQ(vars.target, DATFILE);
    EXPECT_EQ(Value(ui::RBTRam), 0);
    EXPECT_EQ(Value(ui::RBTEeprom), 0);

    SelectTarget(app::CC_RBTFile, ui::RBTFile, 0);
    EXPECT_EQ(vars.target, RAM);
    EXPECT_EQ(Value(ui::RBTRam), 1);

    SelectTarget(app::CC_RBTRam, ui::RBTRam, 0);
    EXPECT_EQ(vars.target, RAM);
    EXPECT_EQ(Value(ui::RBTRam), 1) << "clicking RAM while on leaves it on";

    SelectTarget(app::CC_RBTEeprom, ui::RBTEeprom, 1);
    EXPECT_EQ(vars.target, EEPROM);
    EXPECT_EQ(Value(ui::RBTRam), 0);
}

TEST_F(ParameterCommands, TeachReportsTheReplyOrItsTimeout) {
    Press(app::CC_ButtonTeach, panel, kEventLeftClick);
    EXPECT_EQ(StatusLine(), "Teach new Reference-Value ...");
    Press(app::CC_ButtonTeach, panel, kEventCommit);
    EXPECT_EQ(LastRequest()[3], 6);
    EXPECT_EQ(StatusLine(), "Teach-procedure activated!");

    controller.silent[6] = true;
    Press(app::CC_ButtonTeach, panel, kEventCommit);
    EXPECT_EQ(StatusLine(), "Timeout RS-232!!");
}

TEST_F(ParameterCommands, ResetFetchesRamEvenWhenTheFetchAnswersLate) {
    controller.ram[0]   = 123;
    controller.delay[2] = 1.7;
    Press(app::CC_ButtonReset, panel, kEventCommit);
    const std::vector<int> codes = Commands(peer.Requests());
    EXPECT_EQ(std::vector<int>(codes.end() - 2, codes.end()), (std::vector<int>{10, 2}));
    EXPECT_EQ(Value(ui::power), 123);
    EXPECT_NE(StatusLine(), "Timeout RS-232!!");

    controller.silent[10] = true;
    Press(app::CC_ButtonReset, panel, kEventCommit);
    EXPECT_EQ(StatusLine(), "Timeout RS-232!!");
    EXPECT_EQ(Commands(peer.Requests()).back(), 10) << "no fetch without a reply";
}

TEST_F(ParameterCommands, ASecondPressDuringAWaitRunsNestedAndTheLastTextStands) {
    controller.delay[2] = 0.4;
    QTimer::singleShot(100, [this] { Press(app::CC_ButtonTeach, panel, kEventLeftClick); });
    Click(app::CC_BTNGet, panel);
    EXPECT_EQ(StatusLine(), "Data Transfer Ok!");
}

namespace {

std::string stubPath;
int stubResult = kSelectNew;

int AnswerDialog(const char *, int, char *path) {
    std::snprintf(path, kPathSize, "%s", stubPath.c_str());
    return stubResult;
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string &path, const std::string &text) {
    std::ofstream(path) << text;
}

} // namespace

class ParameterFile : public ParameterCommands {
  protected:
    void SetUp() override {
        ParameterCommands::SetUp();
        stubPath   = testing::TempDir() + "rmx7-params-" + std::to_string(getpid()) + ".dat";
        stubResult = kSelectNew;
        SetFileSelectResponder(AnswerDialog);
        SelectTarget(app::CC_RBTFile, ui::RBTFile, 1);
    }
    void TearDown() override {
        SetFileSelectResponder(nullptr);
        std::remove(stubPath.c_str());
        ParameterCommands::TearDown();
    }
};

TEST_F(ParameterFile, SaveWritesSixteenFieldsAndLoadReproducesTheSet) {
    const std::size_t requests = peer.Requests().size();
    SetCtrlVal(panel, ui::power, 65535);
    vars.params.para13 = 5;
    Press(app::CC_BTNSend, panel, kEventLeftClick);
    EXPECT_EQ(peer.Requests().size(), requests) << "nothing goes to the controller";
    const std::string text = ReadFile(stubPath);
    EXPECT_EQ(text.substr(0, 18), "65535\n  300\n   12\n");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 16);

    SetCtrlVal(panel, ui::power, 1);
    vars.params.average = 0;
    Click(app::CC_BTNGet, panel);
    EXPECT_EQ(Value(ui::power), 65535);
    EXPECT_EQ(vars.params.average, 3);
    EXPECT_EQ(vars.params.para13, 0);
}

TEST_F(ParameterFile, AHandWrittenFileSetsAverageWhichTheNextSendTransmits) {
    WriteFile(stubPath, "1\n2\n3\n4\n5\n6\n4\n8\n9\n10\n11\n12\n13\n14\n15\n65537\n");
    Click(app::CC_BTNGet, panel);
    EXPECT_EQ(vars.params.average, 4);
    EXPECT_EQ(vars.params.para16, 1) << "a value above 65535 keeps its low 16 bits";
    SelectTarget(app::CC_RBTRam, ui::RBTRam, 1);
    Press(app::CC_BTNSend, panel, kEventLeftClick);
    EXPECT_EQ(FrameWord(LastRequest(), 6), 4);
}

TEST_F(ParameterFile, ABadFileLeavesTheSetAndSaysWhy) {
    const struct {
        std::string content;
        std::string status;
    } cases[] = {
        {"1 2 3\n", "Parameter file holds fewer than 16 values - nothing loaded!"},
        {"1 2 3 4 5 6 x 8 9 10 11 12 13 14 15 16\n",
         "Parameter file holds a value that is not a number - nothing loaded!"},
        {"1 2 3 4 5 6 -7 8 9 10 11 12 13 14 15 16\n",
         "Parameter file holds a value that is not a number - nothing loaded!"},
    };
    for (const auto &c : cases) {
        WriteFile(stubPath, c.content);
        Click(app::CC_BTNGet, panel);
        EXPECT_EQ(StatusLine(), c.status);
        EXPECT_EQ(vars.params.power, 640);
        EXPECT_EQ(Value(ui::power), 640);
    }
    std::remove(stubPath.c_str());
    Click(app::CC_BTNGet, panel);
    EXPECT_EQ(StatusLine(), "Parameter file not readable - nothing loaded!");
}

TEST_F(ParameterFile, AFailedSaveKeepsTheOldFileAndSaysSo) {
    WriteFile(stubPath, "old\n");
    const std::string kept = stubPath;
    stubPath               = testing::TempDir() + "rmx7-no-such-folder/params.dat";
    Press(app::CC_BTNSend, panel, kEventLeftClick);
    EXPECT_EQ(StatusLine(), "Parameter file could not be written - old file kept!");
    EXPECT_EQ(ReadFile(kept), "old\n");
    stubPath = kept;
}

TEST_F(ParameterFile, ACancelledDialogChangesNothing) {
    stubResult = kSelectCancel;
    SetCtrlVal(panel, ui::power, 5);
    Click(app::CC_BTNGet, panel);
    EXPECT_EQ(Value(ui::power), 640) << "the panel is rewritten from the variables";
    Press(app::CC_BTNSend, panel, kEventLeftClick);
    EXPECT_EQ(ReadFile(stubPath), "");
}
