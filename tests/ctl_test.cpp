// rmx7ctl as a script meets it: for each command the same requests as the panel's steps,
// the exit code of each failure class, the JSON result, and the live and capture output.
#include "support/fake_controller.h"
#include "support/panel_fixture.h"

#include "app.h"
#include "com232.h"
#include "gui.h"
#include "parameters.h"
#include "platform/panel/dialogs.h"
#include "platform/panel/panel.h"
#include "platform/serial/ports.h"
#include "platform/serial/serial.h"
#include "platform/trace.h"
#include "record.h"
#include "ui.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstring>
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

// Runs ./rmx7ctl with COM1 on device, when one is given.
ToolResult RunTool(const std::string &device, const std::string &args) {
    const std::string out  = testing::TempDir() + "ctl-out-" + std::to_string(getpid());
    const std::string port = device.empty() ? "" : "--port 1=" + device + " ";
    const int status =
        std::system(("./rmx7ctl " + port + args + " >" + out + " 2>" + out + ".err").c_str());
    return {WEXITSTATUS(status), ReadAll(out), ReadAll(out + ".err")};
}

std::string filePath;
int AnswerWithFile(const char *, int, char *pathName) {
    std::snprintf(pathName, kPathSize, "%s", filePath.c_str());
    return kSelectExisting;
}

void StopAfterThree(const com232::LiveReply &, double) {
    static int rows = 0;
    if (++rows % 3 == 0)
        app::CC_BTNStop(gui::Panel(), 0, kEventCommit, nullptr, 0, 0);
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
    // A click on button, after one on the radio button, whose control id is the table's.
    static void Press(CtrlCallbackPtr button, CtrlCallbackPtr radio = nullptr) {
        const int panel = gui::Panel(), id = radio == app::CC_RBTFile ? ui::RBTFile : ui::RBTEeprom;
        if (radio && SetCtrlVal(panel, id, 1) == 0)
            radio(panel, id, kEventValueChanged, nullptr, 0, 0);
        button(panel, 0, kEventLeftClick, nullptr, 0, 0);
        button(panel, 0, kEventCommit, nullptr, 0, 0);
    }
};

TEST_F(Ctl, EachCommandSendsTheRequestsOfThePanelsSteps) {
    const std::vector<std::pair<std::string, std::function<void(ScriptedPeer &)>>> cases = {
        {"info", [](ScriptedPeer &) {}},
        {"get eeprom", [](ScriptedPeer &) { Press(app::CC_BTNGet, app::CC_RBTEeprom); }},
        {"send ram --set power=777 --set average=9",
         [](ScriptedPeer &line) {
             Press(app::CC_BTNGet);
             SetCtrlVal(gui::Panel(), ui::power, 777);
             com232::Parameters params = com232::ParameterSet();
             params.average            = 9;
             com232::SetParameterSet(params);
             Press(app::CC_BTNSend);
             line.WaitForRequests(5, 2.0); // the operator's pause: Get flushes what is not out
             Press(app::CC_BTNGet);
         }},
        {"send eeprom " + filePath + " --verify",
         [](ScriptedPeer &line) {
             Press(app::CC_BTNGet, app::CC_RBTEeprom);
             Press(app::CC_BTNGet, app::CC_RBTFile);
             Press(app::CC_BTNSend, app::CC_RBTEeprom);
             line.WaitForRequests(5, 2.0);
             Press(app::CC_BTNGet);
         }},
        {"diff",
         [](ScriptedPeer &) { Press(app::CC_BTNGet), Press(app::CC_BTNGet, app::CC_RBTEeprom); }},
        {"teach", [](ScriptedPeer &) { Press(app::CC_ButtonTeach); }},
        {"reset", [](ScriptedPeer &) { Press(app::CC_ButtonReset); }},
        {"capture raw",
         [](ScriptedPeer &) {
             SetCtrlVal(gui::Panel(), ui::RNGGraphSource, gui::kSourceRaw);
             Press(app::CC_BTNData);
         }},
        {"report --capture norm -o " + filePath + ".pdf",
         [](ScriptedPeer &) {
             SetCtrlVal(gui::Panel(), ui::RNGGraphSource, gui::kSourceNorm);
             Press(app::CC_BTNData);
             Press(app::CC_BTNGet), Press(app::CC_BTNGet, app::CC_RBTEeprom);
         }},
        {"live --count 3",
         [](ScriptedPeer &) {
             app::AddLiveListener(StopAfterThree);
             Press(app::CC_BTNRun);
             app::RemoveLiveListener(StopAfterThree);
         }},
    };
    SetFileSelectResponder(AnswerWithFile);
    for (const auto &[args, panelSteps] : cases) {
        ScriptedPeer panelLine, toolLine;
        panelLine.SetResponder(panelController.Responder());
        toolLine.SetResponder(toolController.Responder());
        PortTableAdd(1, panelLine.path());
        const int fresh = app::LoadMainPanel(); // the panel file's values, as the tool starts
        app::InitVars();
        com232::InitRS232(1);
        panelSteps(panelLine);
        CloseCom(1);
        DiscardPanel(fresh);
        RunTool(toolLine.path(), args);
        EXPECT_EQ(toolLine.Requests(), panelLine.Requests()) << args;
    }
    SetFileSelectResponder(nullptr);
    gui::SetPanel(panel);
    TraceSetStatusControl(panel, ui::TXTStatus);
}

TEST_F(Ctl, EachFailureClassHasItsExitCode) {
    ScriptedPeer silent, noMarker, forgetful;
    noMarker.SetResponder([](const Bytes &) { return PeerReply{MakeFrame(5, {})}; });
    FakeController keepsNoWrites;
    keepsNoWrites.silent[com232::kCmdWriteEeprom] = true;
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
    com232::InitRS232(1);
    for (const auto &c : cases) {
        std::ofstream(filePath) << c.content;
        const std::size_t panelSent = peer.Requests().size(), toolSent = toolPeer.Requests().size();
        Press(app::CC_BTNGet, app::CC_RBTFile);
        EXPECT_EQ(StatusLine(), c.status);
        EXPECT_EQ(ToolTip(), filePath + c.says) << "the file, the line and the reason";
        EXPECT_EQ(com232::ParameterSet().hwmode, 1) << "the set as it was: " << c.says;
        Press(app::CC_BTNSend, app::CC_RBTEeprom);
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
    quiet.silent[com232::kCmdReadEeprom] = true;
    ScriptedPeer line;
    line.SetResponder(quiet.Responder());
    result = RunTool(line.path(), "report -o " + pdf);
    EXPECT_EQ(result.code, 4);
    EXPECT_NE(result.err.find("Timeout RS232-Line!"), std::string::npos) << result.err;
    EXPECT_FALSE(std::ifstream(pdf).good()) << "no report without both sets";
}
