// rmx7ctl as a script meets it: for each command the same requests as the panel's steps,
// the exit code of each failure class (plant's too), the JSON result, the live and capture
// output, the audit trail printed and checked, and a controller's hostile firmware text
// wherever it goes out.
#include "support/broker.h"
#include "support/fake_controller.h"
#include "support/panel_fixture.h"

#include "app.h"
#include "com232.h"
#include "gui.h"
#include "parameters.h"
#include "plant/approved_set.h"
#include "plant/audit.h"
#include "platform/panel/dialogs.h"
#include "platform/panel/panel.h"
#include "platform/serial/ports.h"
#include "platform/serial/serial.h"
#include "platform/trace.h"
#include "publish.h"
#include "record.h"
#include "ui.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct ToolResult {
    int code;
    std::string out, err;
};

std::string ReadAll(const std::string &path) {
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// Runs ./rmx7ctl with COM1 on device, when one is given, after the shell command before.
ToolResult RunTool(const std::string &device, const std::string &args,
                   const std::string &before = "") {
    const std::string out  = testing::TempDir() + "ctl-out-" + std::to_string(getpid());
    const std::string port = device.empty() ? "" : "--port 1=" + device + " ";
    const int status       = std::system(
              (before + "./rmx7ctl " + port + args + " >" + out + " 2>" + out + ".err").c_str());
    return {WEXITSTATUS(status), ReadAll(out), ReadAll(out + ".err")};
}

std::string filePath;
int AnswerWithFile(const char *, int, char *pathName) {
    std::snprintf(pathName, kPathSize, "%s", filePath.c_str());
    return kSelectExisting;
}

} // namespace

class Ctl : public PanelTest {
  protected:
    FakeController panelController, toolController;
    ScriptedPeer toolPeer;
    void SetUp() override {
        PanelTest::SetUp();
        peer.SetResponder(panelController.Responder());
        toolPeer.SetResponder(toolController.Responder());
        filePath = testing::TempDir() + "ctl-params-" + std::to_string(getpid()) + ".dat";
        std::ofstream(filePath) << "700\n300\n12\n0\n90\n1\n4\n1\n25\n55\n4\n0\n0\n0\n0\n0\n";
    }
    void TearDown() override {
        std::remove(filePath.c_str());
        PanelTest::TearDown();
    }
    // A click on button, after one on the radio button, whose control id is the table's; the
    // job it queues runs to its end.
    static void Press(app::Program &program, CtrlCallbackPtr button,
                      CtrlCallbackPtr radio = nullptr) {
        const int panel = program.PanelHandle();
        const int id    = radio == app::CC_RBTFile ? ui::RBTFile : ui::RBTEeprom;
        if (radio && SetCtrlVal(panel, id, 1) == 0)
            radio(panel, id, kEventValueChanged, &program, 0, 0);
        button(panel, 0, kEventLeftClick, &program, 0, 0);
        button(panel, 0, kEventCommit, &program, 0, 0);
        PumpUntil([&program] { return program.Line().Idle(); }, 30);
    }
};

TEST_F(Ctl, EachCommandSendsTheRequestsOfThePanelsSteps) {
    using Steps = std::function<void(app::Program &, ScriptedPeer &)>;
    const std::vector<std::pair<std::string, Steps>> cases = {
        {"info", [](app::Program &, ScriptedPeer &) {}},
        {"get eeprom",
         [](app::Program &p, ScriptedPeer &) { Press(p, app::CC_BTNGet, app::CC_RBTEeprom); }},
        {"send ram --set power=777 --set average=9",
         [](app::Program &p, ScriptedPeer &line) {
             Press(p, app::CC_BTNGet);
             SetCtrlVal(p.PanelHandle(), ui::power, 777);
             com232::Parameters params = p.Line().ParameterSet();
             params.average            = 9;
             p.Line().SetParameterSet(params);
             Press(p, app::CC_BTNSend);
             line.WaitForRequests(5, 2.0); // the operator's pause: Get flushes what is not out
             Press(p, app::CC_BTNGet);
         }},
        {"send eeprom " + filePath + " --verify",
         [](app::Program &p, ScriptedPeer &line) {
             Press(p, app::CC_BTNGet, app::CC_RBTEeprom);
             Press(p, app::CC_BTNGet, app::CC_RBTFile);
             Press(p, app::CC_BTNSend, app::CC_RBTEeprom);
             line.WaitForRequests(5, 2.0);
             Press(p, app::CC_BTNGet);
         }},
        {"diff",
         [](app::Program &p, ScriptedPeer &) {
             Press(p, app::CC_BTNGet), Press(p, app::CC_BTNGet, app::CC_RBTEeprom);
         }},
        {"teach", [](app::Program &p, ScriptedPeer &) { Press(p, app::CC_ButtonTeach); }},
        {"reset", [](app::Program &p, ScriptedPeer &) { Press(p, app::CC_ButtonReset); }},
        {"capture raw",
         [](app::Program &p, ScriptedPeer &) {
             SetCtrlVal(p.PanelHandle(), ui::RNGGraphSource, kSourceRaw);
             Press(p, app::CC_BTNData);
         }},
        {"report --capture norm -o " + filePath + ".pdf",
         [](app::Program &p, ScriptedPeer &) {
             SetCtrlVal(p.PanelHandle(), ui::RNGGraphSource, kSourceNorm);
             Press(p, app::CC_BTNData);
             Press(p, app::CC_BTNGet), Press(p, app::CC_BTNGet, app::CC_RBTEeprom);
         }},
        {"live --count 3",
         [](app::Program &p, ScriptedPeer &) {
             int rows = 0;
             com232::LiveListener stopAfterThree;
             stopAfterThree.reply = [&](const com232::LiveReply &, double) {
                 if (++rows % 3 == 0)
                     app::CC_BTNStop(p.PanelHandle(), 0, kEventCommit, &p, 0, 0);
             };
             const int id = p.Line().AddLiveListener(std::move(stopAfterThree));
             Press(p, app::CC_BTNRun);
             p.Line().RemoveLiveListener(id);
         }},
    };
    SetFileSelectResponder(AnswerWithFile);
    for (const auto &[args, panelSteps] : cases) {
        ScriptedPeer panelLine, toolLine;
        panelLine.SetResponder(panelController.Responder());
        toolLine.SetResponder(toolController.Responder());
        PortTableAdd(1, panelLine.path());
        {
            const int fresh = app::LoadMainPanel(); // the panel file's values, as the tool starts
            app::Program steps(fresh, testing::TempDir(), 1);
            steps.InitVars();
            FinishOn(steps.Line(), steps.Line().InitRS232(1));
            panelSteps(steps, panelLine);
            CloseCom(1);
            DiscardPanel(fresh);
        }
        RunTool(toolLine.path(), args);
        EXPECT_EQ(toolLine.Requests(), panelLine.Requests()) << args;
    }
    SetFileSelectResponder(nullptr);
    TraceSetStatusControl(panel, ui::TXTStatus);
}

TEST_F(Ctl, EachFailureClassHasItsExitCode) {
    ScriptedPeer silent, noMarker, forgetful;
    noMarker.SetResponder([](const Bytes &) { return PeerReply{MakeFrame(5, {})}; });
    FakeController keepsNoWrites;
    keepsNoWrites.silent[kCmdWriteEeprom] = true;
    forgetful.SetResponder(keepsNoWrites.Responder());
    std::ofstream(filePath) << "1 2 3\n";
    const struct {
        std::string device, args;
        int code;
        std::string says;
    } cases[] = {
        {"/dev/rmx7-no-such-device", "info", 3, "No serial port found"},
        {silent.path(), "info", 4, "Timeout < 36 Bytes"},
        {noMarker.path(), "info", 4, "read error - not sync byte 0xAA!"},
        {forgetful.path(), "send eeprom --set power=1", 5, "differs in 1 word"},
        {toolPeer.path(), "send ram " + filePath, 6, "fewer than 16 values"},
        {toolPeer.path(), "get ram -o /rmx7-no-such-folder/x.dat", 6,
         "x.dat cannot be written: No such file or directory\n"},
        {toolPeer.path(), "report -o /rmx7-no-such-folder/x.pdf", 6,
         "x.pdf cannot be written: the folder /rmx7-no-such-folder does not exist\n"},
        {toolPeer.path(), "get flash", 2, "ram or eeprom"},
        {toolPeer.path(), "send ram power=600", 2, "write --set power=600"},
        {toolPeer.path(), "send ram --set powr=1", 2, "the names are power, reference,"},
        {toolPeer.path(), "send ram --set power=500.7", 2, "a whole number from 0 to 65535"},
        {toolPeer.path(), "send eeprom", 2, "send needs FILE, --from ram|eeprom or --set"},
        {"", "--simulate=50 info", 2, "board variant 100 or 0, not '50'"},
        {"", "--simulate --device /dev/ttyS0 info", 2, "give one of them"},
        {"", "plant restore --broker mqtt://127.0.0.1", 2, "name the lines with --lines"},
        {"", "plant report --lines 'l*' --broker mqtt://127.0.0.1", 2, "report wants -o DIR"},
        {"", "plant status -o x --broker mqtt://127.0.0.1", 2, "plant status takes no -o"},
        {"", "plant status --name l7 --broker mqtt://127.0.0.1", 2, "--name is the publisher's"},
        {"", "plant status --commands write --broker mqtt://127.0.0.1", 2,
         "--commands is the publisher's"},
        {"", "--agent mqtt://127.0.0.1/rmx7/l7 --broker mqtt://127.0.0.1 info", 2,
         "no --broker with it"},
        {"", "plant halt --broker mqtt://127.0.0.1", 2, "not 'halt'"},
        {"", "plant status", 2, "plant needs a broker"},
        {"", "plant report -o /rmx7-no-such-folder --lines 'l*' --broker mqtt://127.0.0.1", 6,
         "not a folder the reports can be written into"},
        {"", "plant status --broker mqtt://127.0.0.1:" + std::to_string(FreeLoopbackPort()), 4,
         "no connection to the broker at mqtt://127.0.0.1:"},
    };
    for (const auto &c : cases) {
        const std::size_t before = toolPeer.Requests().size();
        const ToolResult result  = RunTool(c.device, c.args);
        EXPECT_EQ(result.code, c.code) << c.args << ": " << result.err;
        EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
        if (c.code == 4) {
            EXPECT_EQ(result.err.find(c.says), result.err.rfind(c.says)) << "once: " << result.err;
        }
        if (c.code == 2 || (c.code == 6 && c.args.rfind("get", 0) != 0)) {
            EXPECT_EQ(toolPeer.Requests().size(), before) << "nothing goes on the line";
        }
    }
}

// RAM holds a change not saved to EEPROM (hold 333): a send writes the memory as it held
// it with only the words asked for changed, unless --from names the set to start from.
TEST_F(Ctl, SendReadsTheMemoryFirstAndWritesOnlyTheWordsAskedFor) {
    const sim::Words ram    = {640, 300, 12, 0, 333, 1, 3, 1, 25, 55, 4};
    const sim::Words eeprom = {640, 300, 12, 0, 90, 1, 3, 1, 25, 55, 4, 0, 0, 4242};
    const auto with         = [](sim::Words words, int word, std::uint16_t value) {
        words[word] = value;
        return words;
    };
    const struct {
        std::string args;
        std::vector<int> commands; // after the start-up's echo, fetch and firmware query
        sim::Words ram, eeprom;
        std::string says;
    } cases[] = {
        {"send eeprom --set power=700",
         {4, 3, 4},
         ram,
         with(with(eeprom, 0, 700), 13, 0),
         "EEPROM: 2 words change: power 640 -> 700, "
         "para14 4242 -> 0"},
        {"send ram --set hold=444 --set average=7",
         {2, 1, 2},
         with(with(ram, 4, 444), 6, 7),
         eeprom,
         "RAM: 2 words change: hold 333 -> 444, average 3 -> 7"},
        {"send eeprom --from ram --set power=700",
         {4, 2, 3, 4},
         ram,
         with(ram, 0, 700),
         "EEPROM: 3 words change: power 640 -> 700, hold 90 -> 333, para14 4242 -> 0"},
        {"send ram --from eeprom",
         {2, 4, 1, 2},
         with(eeprom, 13, 0),
         eeprom,
         "RAM: 1 word changes: hold 333 -> 90"},
    };
    for (const auto &c : cases) {
        FakeController unit;
        unit.ram    = ram;
        unit.eeprom = eeprom;
        ScriptedPeer line;
        line.SetResponder(unit.Responder());
        const ToolResult result = RunTool(line.path(), c.args);
        EXPECT_EQ(result.code, 0) << c.args << ": " << result.err;
        std::vector<int> commands;
        for (std::size_t i = 3; i < line.Requests().size(); ++i)
            commands.push_back(sim::FrameCommand(line.Requests()[i]));
        EXPECT_EQ(commands, c.commands) << c.args;
        EXPECT_EQ(unit.ram, c.ram) << c.args;
        EXPECT_EQ(unit.eeprom, c.eeprom) << c.args;
        EXPECT_NE(result.err.find("rmx7ctl: " + c.says + "\n"), std::string::npos) << result.err;
    }
    FakeController unit;
    ScriptedPeer line;
    line.SetResponder(unit.Responder());
    const ToolResult result = RunTool(line.path(), "--json --quiet send eeprom --set power=700");
    const QJsonObject json =
        QJsonDocument::fromJson(QByteArray::fromStdString(result.out)).object();
    ASSERT_EQ(json["changes"].toArray().size(), 1) << result.out;
    const QJsonObject change = json["changes"].toArray()[0].toObject();
    EXPECT_EQ(change["name"].toString() + " " + QString::number(change["from"].toInt()) + " " +
                  QString::number(change["to"].toInt()),
              "power 640 700");
    EXPECT_EQ(json["base"].toString(), "eeprom");
}

TEST_F(Ctl, AParameterFileOfOtherThanSixteenWholeNumbersUpTo65535IsRefusedBeforeTheLine) {
    const std::string lines = "1\n2\n3\n4\n5\n6\n";
    const std::string rest  = "8\n9\n10\n0\n0\n0\n0\n0\n";
    const std::string number =
        "Parameter file holds a value that is not a number - nothing loaded!";
    const struct {
        std::string content, status, says;
    } cases[] = {
        {"1 2 3\n", "Parameter file holds fewer than 16 values - nothing loaded!",
         ": fewer than 16 values, the file ends after 3"},
        {lines + "7\n" + rest + "0 17\n",
         "Parameter file holds more than 16 values - nothing loaded!",
         ": line 16: a 17th value '17', more than the 16 of a set"},
        {lines + "-10\n" + rest, "Parameter file holds a negative value - nothing loaded!",
         ": line 7: '-10' is negative; a word holds 0 to 65535"},
        {lines + "-\n" + rest, number, ": line 7: '-' is not a whole number from 0 to 65535"},
        {lines + "500.7\n" + rest, number,
         ": line 7: '500.7' is not a whole number from 0 to 65535"},
        {lines + "70000\n" + rest, "Parameter file holds a value above 65535 - nothing loaded!",
         ": line 7: '70000' is above 65535, the largest value of a word"},
        {lines + "seven\n" + rest, number,
         ": line 7: 'seven' is not a whole number from 0 to 65535"},
    };
    SetFileSelectResponder(AnswerWithFile);
    InitRS232(1);
    for (const auto &c : cases) {
        std::ofstream(filePath) << c.content;
        const std::size_t panelSent = peer.Requests().size(), toolSent = toolPeer.Requests().size();
        Press(program(), app::CC_BTNGet, app::CC_RBTFile);
        EXPECT_EQ(StatusLine(), c.status);
        EXPECT_EQ(ToolTip(), filePath + c.says) << "the file, the line and the reason";
        EXPECT_EQ(ParameterSet().hwmode, 1) << "the set as it was: " << c.says;
        Press(program(), app::CC_BTNSend, app::CC_RBTEeprom);
        ASSERT_TRUE(peer.WaitForRequests(panelSent + 1, 2.0));
        EXPECT_EQ(FrameWord(peer.Requests().back(), 5), 1) << "the set sent is the one before";
        const ToolResult tool = RunTool(toolPeer.path(), "send ram " + filePath);
        EXPECT_EQ(tool.code, 6) << tool.err;
        EXPECT_EQ(tool.err, "rmx7ctl: " + filePath + c.says + " - refused, nothing sent\n");
        EXPECT_EQ(toolPeer.Requests().size(), toolSent) << "the tool sends nothing at all";
    }
    SetFileSelectResponder(nullptr);
}

TEST_F(Ctl, JsonResultsParseWithTheirKeys) {
    toolController.eeprom[2] = 99;
    ToolResult result        = RunTool(toolPeer.path(), "--json --quiet diff");
    EXPECT_EQ(result.err, "rmx7ctl: 1 word differs\n");
    QJsonObject diff = QJsonDocument::fromJson(QByteArray::fromStdString(result.out)).object();
    EXPECT_EQ(diff["command"].toString(), "diff");
    EXPECT_EQ(diff["exit_code"].toInt(), 5);
    EXPECT_EQ(diff["result_code"].toString(), "Differs");
    ASSERT_EQ(diff["differences"].toArray().size(), 1);
    const QJsonObject word = diff["differences"].toArray()[0].toObject();
    const QString which    = word["name"].toString() + " " + QString::number(word["ram"].toInt());
    EXPECT_EQ(which + " " + QString::number(word["eeprom"].toInt()), "hysteresis 12 99");
    EXPECT_TRUE(word["file"].isNull());
    EXPECT_EQ(diff["ram"].toObject()["power"].toInt(), 640);

    const std::string saved = filePath + ".saved";
    result                  = RunTool(toolPeer.path(), "--json --quiet get ram -o " + saved);
    const QJsonObject get = QJsonDocument::fromJson(QByteArray::fromStdString(result.out)).object();
    EXPECT_EQ(get["result"].toString().toStdString(), "Parameters saved to " + saved)
        << "not the status line's Transmit...";
    EXPECT_EQ(get["status"].toString() + " " + get["result_code"].toString(),
              "Data Transfer Ok! Ok")
        << "the Get's, not the save's Transmit...";
    std::remove(saved.c_str());
    result = RunTool(toolPeer.path(), "--json get flash");
    const QJsonObject usage =
        QJsonDocument::fromJson(QByteArray::fromStdString(result.out)).object();
    EXPECT_EQ(usage["exit_code"].toInt(), 2);
    EXPECT_EQ(usage["result_code"].toString(), "Refused");
    EXPECT_EQ(usage["error"].toString(), "get wants ram or eeprom, not 'flash'");

    result = RunTool(toolPeer.path(), "--json live --count 4");
    const QJsonObject live =
        QJsonDocument::fromJson(QByteArray::fromStdString(result.out)).object();
    EXPECT_EQ(live["ended_by"].toString(), "count");
    EXPECT_EQ(live["columns"].toArray().size(), 10);
    ASSERT_EQ(live["rows"].toArray().size(), 4);
    EXPECT_EQ(live["rows"].toArray()[3].toArray()[2].toInt(), toolController.live[1]);
    EXPECT_TRUE(live["error"].isNull());

    // The collectors' formats: the live topic's object, and InfluxDB line protocol.
    result                   = RunTool(toolPeer.path(), "--quiet live --count 2 --format jsonl");
    const std::string time   = R"(\{"time":\d{10}\.\d{3},"seq":)";
    const std::string values = R"(,"valNORM":400,"adcCHA":500,"adcCHB":450,"Amax":800,"Amin":100,)"
                               R"("UPval":520,"LOval":480,"refval":510,"instate":1\}\n)";
    EXPECT_TRUE(std::regex_match(result.out, std::regex(time + "1" + values + time + "2" + values)))
        << result.out;
    result = RunTool(toolPeer.path(), "--quiet live --count 2 --format influx --name line7");
    const std::string influx = "rmx7,line=line7 valNORM=400i,adcCHA=500i,adcCHB=450i,Amax=800i,"
                               "Amin=100i,UPval=520i,LOval=480i,refval=510i,instate=1i \\d{19}\n";
    EXPECT_TRUE(std::regex_match(result.out, std::regex("(" + influx + "){2}"))) << result.out;
}

TEST_F(Ctl, LiveEndsCleanlyWhenTheReaderCloses) {
    const std::string command = "./rmx7ctl --quiet --port 1=" + toolPeer.path() + " live";
    FILE *rows                = popen(command.c_str(), "r");
    char line[256]            = {};
    std::string runStart;
    for (int i = 0; i < 7 && std::fgets(line, sizeof line, rows); ++i)
        runStart = i == 4 ? line : runStart;
    const int status = pclose(rows); // the tool writes on into a closed pipe
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_STREQ(std::strchr(line, ','), ",400,500,450,800,100,520,480,510,1\n");
    EXPECT_TRUE(
        std::regex_match(runStart, std::regex("# run start \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:"
                                              "\\d\\d\\.\\d{3}Z\n")))
        << runStart;

    // Ended by a signal, the reply to the request on the line is waited for: every reply
    // the controller gave is a row.
    toolController.delay[kCmdLive] = 0.02;
    toolController.liveReplies     = 0;
    QProcess tool;
    tool.start("./rmx7ctl",
               {"--quiet", "--port", QString::fromStdString("1=" + toolPeer.path()), "live"});
    ASSERT_TRUE(PumpUntil([&] { return toolController.liveReplies > 10; }, 10));
    tool.terminate();
    ASSERT_TRUE(tool.waitForFinished());
    EXPECT_EQ(tool.exitCode(), 0);
    int rowsOut = 0;
    for (const QByteArray &row : tool.readAllStandardOutput().split('\n'))
        rowsOut += !row.isEmpty() && std::isdigit(static_cast<unsigned char>(row[0]));
    EXPECT_EQ(rowsOut, toolController.liveReplies.load());
}

TEST_F(Ctl, CaptureWritesTheCurveOf128RowsAsCsv) {
    const ToolResult result = RunTool(toolPeer.path(), "capture norm");
    ASSERT_EQ(result.code, 0) << result.err;
    std::vector<std::string> lines;
    std::istringstream in(result.out);
    for (std::string line; std::getline(in, line);)
        if (line[0] != '#')
            lines.push_back(line);
    ASSERT_EQ(lines.size(), 1u + 128u);
    EXPECT_EQ(lines[0], "x,NORM,upper,lower,reference");
    EXPECT_EQ(lines[1], "1,1000,520,480,510");
    EXPECT_EQ(lines[128], "128,1127,520,480,510");
    const std::string png = filePath + ".png";
    EXPECT_EQ(RunTool(toolPeer.path(), "capture raw -o " + png).code, 0);
    EXPECT_EQ(ReadAll(png).substr(0, 4), "\x89PNG");
    // Under a file-size limit of a block the picture fails as on a full disk, named.
    std::ofstream(png) << "old\n";
    const ToolResult limited = RunTool(toolPeer.path(), "capture raw -o " + png, "ulimit -f 1; ");
    EXPECT_EQ(limited.code, 6);
    EXPECT_NE(limited.err.find(png + " cannot be written: File too large"), std::string::npos)
        << limited.err;
    EXPECT_EQ(ReadAll(png), "old\n");
    const std::string name = png.substr(png.rfind('/') + 1);
    for (const auto &entry : std::filesystem::directory_iterator(testing::TempDir()))
        EXPECT_NE(entry.path().filename().string().rfind("." + name, 0), 0u) << "a temporary left";
    std::remove(png.c_str());
}

TEST_F(Ctl, ReportHoldsTheControllersSetsTheirDifferencesAndTheFingerprint) {
    toolController.eeprom[2] = 99, toolController.eeprom[6] = 5, toolController.eeprom[13] = 4242;
    const std::string pdf = filePath + ".pdf", bytes = filePath + ".bin";
    std::ofstream(pdf) << "an older report";
    ToolResult result = RunTool(toolPeer.path(), "--json report -o " + pdf +
                                                     " --operator Jana --unit-id U-4711 "
                                                     "--station 'Line 3/7'");
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_NE(result.err.find("rmx7ctl: replaced the older " + pdf + "\n"), std::string::npos);
    std::ofstream eeprom(bytes, std::ios::binary);
    for (const std::uint16_t word : toolController.eeprom)
        eeprom.put(static_cast<char>(word >> 8)).put(static_cast<char>(word & 0xFF));
    eeprom.close();
    std::system(("sha256sum " + bytes + " >" + bytes + ".sum").c_str());
    const std::string fingerprint = ReadAll(bytes + ".sum").substr(0, 64);
    const QJsonObject json =
        QJsonDocument::fromJson(QByteArray::fromStdString(result.out)).object();
    EXPECT_EQ(json["fingerprint"].toString().toStdString(), fingerprint);
    EXPECT_TRUE(json["replaced"].toBool());
    for (int page = 1; page <= 3; ++page) { // the unit and its station head every page
        const std::string at = " -f " + std::to_string(page) + " -l " + std::to_string(page);
        std::system(("pdftotext -layout" + at + " " + pdf + " " + pdf + ".txt").c_str());
        EXPECT_TRUE(std::regex_search(
            ReadAll(pdf + ".txt"),
            std::regex("Unit U-4711, station Line 3/7 +Page " + std::to_string(page) + " of 3")))
            << page;
    }
    const std::string diff = RunTool(toolPeer.path(), "diff").out;
    EXPECT_NE(diff.find("fingerprint eeprom " + fingerprint + "\n"), std::string::npos) << diff;

    std::system(("pdftotext -layout " + pdf + " " + pdf + ".txt").c_str());
    const std::string text = ReadAll(pdf + ".txt");
    for (const std::string &also :
         {toolController.firmware, std::string("COM1"), toolPeer.path(), fingerprint,
          std::string("Jana"), std::string("differ in 3 of 16 words"),
          std::string(parameters::kTable[1].meaning).substr(0, 40)})
        EXPECT_NE(text.find(also), std::string::npos) << also;
    for (int i = 0; i < com232::PNUM; ++i) { // word, name, label, RAM, EEPROM, the mark
        const int ram = toolController.ram[i], eeprom = toolController.eeprom[i];
        const std::string row = " " + std::to_string(i) + " +" + parameters::kTable[i].name +
                                " +[A-Za-z/ ]*" + std::to_string(ram) + " +" +
                                std::to_string(eeprom) + (ram != eeprom ? " +≠ differs" : "") +
                                " *\\n";
        EXPECT_TRUE(std::regex_search(text, std::regex(row))) << row;
    }
    for (const std::string &file : {pdf, pdf + ".txt", bytes, bytes + ".sum"})
        std::remove(file.c_str());

    FakeController quiet;
    quiet.silent[kCmdReadEeprom] = true;
    ScriptedPeer line;
    line.SetResponder(quiet.Responder());
    result = RunTool(line.path(), "report -o " + pdf);
    EXPECT_EQ(result.code, 4);
    EXPECT_NE(result.err.find("Timeout RS232-Line!"), std::string::npos) << result.err;
    EXPECT_FALSE(std::ifstream(pdf).good()) << "no report without both sets";
}

TEST_F(Ctl, AuditPrintsTheTrailOfAStateDirectoryAndCheckNamesTheFirstBadRecord) {
    const std::string state = testing::TempDir() + "ctl-state-" + std::to_string(getpid());
    std::filesystem::remove_all(state);
    audit::Trail trail(state + "/" + plant::kAuditFile);
    for (const char *line : {"line7", "line8", "line7"}) {
        audit::Record record = audit::MakeRecord(audit::Origin::PlantCommand, "send", "ram");
        record.line          = line;
        record.result        = "Ok";
        ASSERT_TRUE(trail.Append(record).written);
    }
    ToolResult result = RunTool("", "--json audit --state " + state + " --line line7");
    ASSERT_EQ(result.code, 0) << result.err;
    const QJsonObject json =
        QJsonDocument::fromJson(QByteArray::fromStdString(result.out)).object();
    ASSERT_EQ(json["records"].toArray().size(), 2) << result.out;
    EXPECT_EQ(json["records"].toArray()[1].toObject()["seq"].toInt(), 3);
    EXPECT_EQ(json["records"].toArray()[1].toObject()["hash"].toString().size(), 64);
    result = RunTool("", "audit --csv --since 2000-01-01 --state " + state);
    EXPECT_EQ(std::count(result.out.begin(), result.out.end(), '\n'), 4) << result.out;
    EXPECT_EQ(RunTool("", "audit --since 2999-01-01T00:00Z --state " + state).out, "");
    result = RunTool("", "audit --check --state " + state);
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.out, "intact: 3 records\n");

    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "tamper");
        db.setDatabaseName(QString::fromStdString(state + "/" + plant::kAuditFile));
        ASSERT_TRUE(db.open());
        ASSERT_TRUE(QSqlQuery(db).exec("UPDATE audit SET target = 'eeprom' WHERE seq = 2"));
    }
    QSqlDatabase::removeDatabase("tamper");
    result = RunTool("", "audit --check --state " + state);
    EXPECT_EQ(result.code, 5);
    EXPECT_EQ(result.out, "broken at record 2\n");
    EXPECT_NE(result.err.find("record 2 was changed after it was written"), std::string::npos);

    EXPECT_EQ(RunTool("", "audit --state " + state + "/none").code, 6);
    EXPECT_EQ(RunTool("", "audit --since yesterday").code, 2);
    EXPECT_EQ(RunTool("", "audit --check --line line7").code, 2);
    std::filesystem::remove_all(state);
}

TEST_F(Ctl, EachWriteAppendsItsRecordToTheDataFoldersTrail) {
    toolController.silent[kCmdReset] = true;
    for (const char *write : {"send ram --set power=777", "teach", "reset"})
        RunTool(toolPeer.path(), std::string("--quiet ") + write);
    const ToolResult result = RunTool("", "--json audit");
    ASSERT_EQ(result.code, 0) << result.err;
    const QJsonArray records = QJsonDocument::fromJson(QByteArray::fromStdString(result.out))
                                   .object()["records"]
                                   .toArray();
    ASSERT_GE(records.size(), 3);
    // The controller keeps what send wrote: teach and reset carry it, and replace it.
    const struct {
        const char *verb, *result;
        int power, replaced;
    } expected[] = {
        {"send", "Ok", 777, 640}, {"teach", "Ok", 777, 777}, {"reset", "NoReply", 777, 777}};
    for (int i = 0; i < 3; ++i) {
        const QJsonObject record = records[records.size() - 3 + i].toObject();
        EXPECT_EQ(record["origin"].toString(), "command-line");
        EXPECT_EQ(record["verb"].toString(), expected[i].verb);
        EXPECT_EQ(record["target"].toString(), "ram");
        EXPECT_EQ(record["result"].toString(), expected[i].result);
        EXPECT_EQ(record["words"].toArray()[0].toInt(), expected[i].power);
        EXPECT_EQ(record["replaced"].toArray()[0].toInt(), expected[i].replaced);
        EXPECT_EQ(record["firmware"].toString().toStdString(), toolController.firmware);
    }
    EXPECT_EQ(records.last().toObject()["exit_code"].toInt(), 4);
}

// A controller's firmware text reaches terminals, the trace, the status line, recordings and
// the report in its printable form, and every JSON document (rmx7ctl --json, the info topic)
// as strictly valid UTF-8, whatever bytes the controller sent.
TEST_F(Ctl, AHostileFirmwareTextIsPrintableOnEveryWayOutAndValidInJson) {
    const std::string bad = "\xef\xbf\xbd"; // U+FFFD
    const struct {
        std::string firmware, printable, json;
    } cases[] = {
        {"\x1b]0;owned\x07"
         "FW 1.0",
         "\\x1b]0;owned\\x07FW 1.0", "\\u001b]0;owned\\u0007FW 1.0"},
        {"\x1b[2J\xc2\x9b"
         "2JFW 1.0",
         "\\x1b[2J\\xc2\\x9b2JFW 1.0", "\\u001b[2J\\u009b2JFW 1.0"},
        {"FW 1.0\n0.123 STATUS Line Ok!", "FW 1.0\\x0a0.123 STATUS Line Ok!",
         "FW 1.0\\u000a0.123 STATUS Line Ok!"},
        {"FW \xc0\xaf 1.0", "FW \\xc0\\xaf 1.0", "FW " + bad + bad + " 1.0"},
        {"FW \xed\xa0\x80 1.0", "FW \\xed\\xa0\\x80 1.0", "FW " + bad + bad + bad + " 1.0"},
        {"FW \xf4\x90\x80\x80 1.0", "FW \\xf4\\x90\\x80\\x80 1.0",
         "FW " + bad + bad + bad + bad + " 1.0"},
        {"FW \xff 1.0", "FW \\xff 1.0", "FW " + bad + " 1.0"},
        {"FW 1.0 \xe2\x80\x93 \xc3\x9cmlaut C:\\x41", "FW 1.0 \xe2\x80\x93 \xc3\x9cmlaut C:\\\\x41",
         "FW 1.0 \xe2\x80\x93 \xc3\x9cmlaut C:\\\\x41"},
    };
    const std::string trace = filePath + ".trace", pdf = filePath + ".pdf";
    const auto controlFree = [](const std::string &text) {
        return std::none_of(text.begin(), text.end(),
                            [](unsigned char c) { return (c < 0x20 && c != '\n') || c == 0x7F; });
    };
    for (const auto &c : cases) {
        toolController.firmware = panelController.firmware = c.firmware;
        const ToolResult text    = RunTool(toolPeer.path(), "--trace " + trace + " info");
        const std::string traced = ReadAll(trace);
        EXPECT_NE(text.out.find("\nfirmware  " + c.printable + "\n"), std::string::npos);
        EXPECT_NE(text.err.find("\n" + c.printable + "\n"), std::string::npos) << text.err;
        EXPECT_NE(traced.find(" STATUS " + c.printable + "\n"), std::string::npos) << traced;
        EXPECT_TRUE(controlFree(text.out) && controlFree(text.err) && controlFree(traced));

        const ToolResult json     = RunTool(toolPeer.path(), "--json info");
        const QByteArray document = QByteArray::fromStdString(json.out);
        EXPECT_EQ(QString::fromUtf8(document).toUtf8(), document) << "valid UTF-8";
        EXPECT_NE(json.out.find("\"firmware\": \"" + c.json + "\""), std::string::npos) << json.out;
        EXPECT_FALSE(QJsonDocument::fromJson(document).isNull());

        ASSERT_EQ(RunTool(toolPeer.path(), "report -o " + pdf).code, 0);
        std::system(("pdftotext " + pdf + " " + pdf + ".txt").c_str());
        EXPECT_NE(ReadAll(pdf + ".txt").find(c.printable), std::string::npos);

        InitRS232(1); // the panel: its status line, the info topic, a recording
        EXPECT_EQ(StatusLine(), c.printable);
        EXPECT_NE(publish::InfoJson(publish::CurrentInfo(line(), 0))
                      .find("\"firmware\":\"" + c.json + "\""),
                  std::string::npos);
        EXPECT_NE(record::CommentHeader(line()).find("\n# firmware " + c.printable + "\n# port"),
                  std::string::npos);
    }
    for (const std::string &file : {trace, pdf, pdf + ".txt"})
        std::remove(file.c_str());
}
