// rmx7ctl as a script meets it: for each command the same requests as the panel's steps,
// the exit code of each failure class, the JSON result, and the live and capture output.
#include "support/fake_controller.h"
#include "support/panel_fixture.h"

#include "app.h"
#include "com232.h"
#include "gui.h"
#include "platform/dialogs.h"
#include "platform/panel.h"
#include "platform/ports.h"
#include "platform/serial.h"
#include "platform/trace.h"
#include "record.h"
#include "ui.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct ToolResult {
    int code = -1;
    std::string out, err;
};

std::string ReadAll(const std::string &path) {
    std::ifstream file(path);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// Runs ./rmx7ctl with COM1 on device; stdout to outFd when given, else collected.
ToolResult RunTool(const std::string &device, std::vector<std::string> args, int outFd = -1) {
    const std::string out = testing::TempDir() + "ctl-out-" + std::to_string(getpid());
    const std::string err = out + ".err";
    args.insert(args.begin(), {"./rmx7ctl", "--port", "1=" + device});
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(outFd >= 0 ? outFd : open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
        dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (outFd >= 0)
        close(outFd);
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(out), ReadAll(err)};
}

std::vector<std::string> DataLines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#')
            lines.push_back(line);
    return lines;
}

std::string filePath;
int AnswerWithFile(const char *, int, char *pathName) {
    std::snprintf(pathName, kPathSize, "%s", filePath.c_str());
    return kSelectExisting;
}

int liveRows = 0;
void StopAfterThree(const char *) {
    if (++liveRows == 3)
        app::CC_BTNStop(gui::vars.pHandle, 0, kEventCommit, nullptr, 0, 0);
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
    static void Click(CtrlCallbackPtr callback) {
        callback(gui::vars.pHandle, 0, kEventLeftClick, nullptr, 0, 0);
        callback(gui::vars.pHandle, 0, kEventCommit, nullptr, 0, 0);
    }
    static void Choose(CtrlCallbackPtr callback, int control) {
        SetCtrlVal(gui::vars.pHandle, control, 1);
        callback(gui::vars.pHandle, control, kEventValueChanged, nullptr, 0, 0);
    }
};

TEST_F(Ctl, EachCommandSendsTheRequestsOfThePanelsSteps) {
    struct Case {
        std::vector<std::string> args;
        std::function<void(ScriptedPeer &)> panelSteps; // after the start-up
    };
    const std::vector<Case> cases = {
        {{"info"}, [](ScriptedPeer &) {}},
        {{"get", "eeprom"},
         [](ScriptedPeer &) {
             Choose(app::CC_RBTEeprom, ui::RBTEeprom);
             Click(app::CC_BTNGet);
         }},
        {{"send", "ram", "--set", "power=777", "--set", "average=9"},
         [](ScriptedPeer &) {
             SetCtrlVal(gui::vars.pHandle, ui::power, 777);
             com232::vars.params.average = 9;
             Click(app::CC_BTNSend);
         }},
        {{"send", "eeprom", filePath, "--verify"},
         [](ScriptedPeer &line) {
             Choose(app::CC_RBTFile, ui::RBTFile);
             Click(app::CC_BTNGet);
             Choose(app::CC_RBTEeprom, ui::RBTEeprom);
             Click(app::CC_BTNSend);
             line.WaitForRequests(4, 2.0); // the operator's pause: Get flushes what is not out
             Click(app::CC_BTNGet);
         }},
        {{"diff"},
         [](ScriptedPeer &) {
             Click(app::CC_BTNGet);
             Choose(app::CC_RBTEeprom, ui::RBTEeprom);
             Click(app::CC_BTNGet);
         }},
        {{"teach"}, [](ScriptedPeer &) { Click(app::CC_ButtonTeach); }},
        {{"reset"}, [](ScriptedPeer &) { Click(app::CC_ButtonReset); }},
        {{"capture", "raw"},
         [](ScriptedPeer &) {
             SetCtrlVal(gui::vars.pHandle, ui::RNGGraphSource, gui::kSourceRaw);
             Click(app::CC_BTNData);
         }},
        {{"live", "--count", "3"},
         [](ScriptedPeer &) {
             liveRows              = 0;
             record::vars.listener = StopAfterThree;
             Click(app::CC_BTNRun);
         }},
    };
    SetFileSelectResponder(AnswerWithFile);
    for (const Case &c : cases) {
        ScriptedPeer panelPeer, toolLine;
        panelPeer.SetResponder(panelController.Responder());
        toolLine.SetResponder(toolController.Responder());
        PortTableAdd(1, panelPeer.path());
        const int fresh = app::LoadMainPanel(); // the panel file's values, as the tool starts
        app::InitVars();
        com232::InitRS232(1);
        c.panelSteps(panelPeer);
        CloseCom(1);
        DiscardPanel(fresh);
        RunTool(toolLine.path(), c.args);
        EXPECT_EQ(toolLine.Requests(), panelPeer.Requests()) << c.args[0] << " " << c.args.back();
        EXPECT_GE(toolLine.Requests().size(), 3u);
    }
    SetFileSelectResponder(nullptr);
    gui::vars.pHandle = panel;
    TraceSetStatusControl(panel, ui::TXTStatus);
}

TEST_F(Ctl, EachFailureClassHasItsExitCode) {
    ScriptedPeer silent;
    std::ofstream(filePath) << "1 2 3\n";
    struct Case {
        std::string device;
        std::vector<std::string> args;
        int code;
        std::string says;
    } cases[] = {
        {"/dev/rmx7-no-such-device", {"info"}, 3, "No serial port found"},
        {silent.path(), {"info"}, 4, "Timeout < 36 Bytes"},
        {toolPeer.path(), {"send", "eeprom", "--set", "power=1", "--verify"}, 5, "differs in 1"},
        {toolPeer.path(), {"send", "ram", filePath}, 6, "fewer than 16 values"},
        {toolPeer.path(), {"get", "flash"}, 2, "ram or eeprom"},
    };
    for (const Case &c : cases) {
        const std::size_t before = toolPeer.Requests().size();
        const ToolResult result  = RunTool(c.device, c.args);
        EXPECT_EQ(result.code, c.code) << c.args[0] << ": " << result.err;
        EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
        if (c.code == 6 || c.code == 2) {
            EXPECT_EQ(toolPeer.Requests().size(), before) << "nothing goes on the line";
        }
    }
}

TEST_F(Ctl, JsonResultsParseWithTheirKeys) {
    toolController.eeprom[2] = 99;
    ToolResult result        = RunTool(toolPeer.path(), {"--json", "--quiet", "diff"});
    EXPECT_EQ(result.code, 5);
    EXPECT_EQ(result.err, "rmx7ctl: 1 words differ\n");
    QJsonObject diff = QJsonDocument::fromJson(QByteArray::fromStdString(result.out)).object();
    EXPECT_EQ(diff["command"].toString(), "diff");
    EXPECT_EQ(diff["exit_code"].toInt(), 5);
    ASSERT_EQ(diff["differences"].toArray().size(), 1);
    const QJsonObject word = diff["differences"].toArray()[0].toObject();
    EXPECT_EQ(word["name"].toString(), "hysteresis");
    EXPECT_EQ(word["ram"].toInt(), 12);
    EXPECT_EQ(word["eeprom"].toInt(), 99);
    EXPECT_TRUE(word["file"].isNull());
    EXPECT_EQ(diff["ram"].toObject()["power"].toInt(), 640);

    result = RunTool(toolPeer.path(), {"--json", "live", "--count", "4"});
    const QJsonObject live =
        QJsonDocument::fromJson(QByteArray::fromStdString(result.out)).object();
    EXPECT_EQ(live["ended_by"].toString(), "count");
    EXPECT_EQ(live["columns"].toArray().size(), 10);
    ASSERT_EQ(live["rows"].toArray().size(), 4);
    EXPECT_EQ(live["rows"].toArray()[3].toArray()[2].toInt(), toolController.live[1]);
    EXPECT_TRUE(live["error"].isNull());
}

TEST_F(Ctl, LiveEndsCleanlyWhenTheReaderCloses) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    std::string head;
    std::thread reader([&] {
        char chunk[256];
        while (DataLines(head).size() < 3) {
            const ssize_t n = read(fds[0], chunk, sizeof chunk);
            if (n <= 0)
                break;
            head.append(chunk, static_cast<std::size_t>(n));
        }
        close(fds[0]);
    });
    const ToolResult result = RunTool(toolPeer.path(), {"--quiet", "live"}, fds[1]);
    reader.join();
    EXPECT_EQ(result.code, 0) << result.err;
    EXPECT_EQ(DataLines(head)[0],
              "time_s,valNORM,adcCHA,adcCHB,Amax,Amin,UPval,LOval,refval,instate");
    EXPECT_EQ(DataLines(head)[1].substr(DataLines(head)[1].find(',')),
              ",400,500,450,800,100,520,480,510,1");
}

TEST_F(Ctl, CaptureWritesTheCurveOf128RowsAsCsv) {
    const ToolResult result = RunTool(toolPeer.path(), {"capture", "norm"});
    ASSERT_EQ(result.code, 0) << result.err;
    const std::vector<std::string> lines = DataLines(result.out);
    ASSERT_EQ(lines.size(), 1u + 128u);
    EXPECT_EQ(lines[0], "x,NORM,upper,lower,reference");
    EXPECT_EQ(lines[1], "1,1000,0,0,510");
    EXPECT_EQ(lines[128], "128,1127,0,0,510");
    const std::string png = filePath + ".png";
    EXPECT_EQ(RunTool(toolPeer.path(), {"capture", "raw", "-o", png}).code, 0);
    EXPECT_EQ(ReadAll(png).substr(0, 4), "\x89PNG");
    std::remove(png.c_str());
}
