// Everyday desktop use: the project folder of an installed program, the marks of values
// not sent yet, the threshold lines of a NORM capture, and each parameter's description in
// the manual pages and the tooltips.
#include "support/fake_controller.h"
#include "support/panel_fixture.h"

#include "app.h"
#include "com232.h"
#include "exports.h"
#include "gui.h"
#include "platform/files/project_dir.h"
#include "platform/panel/dialogs.h"
#include "platform/panel/panel.h"
#include "record.h"
#include "ui.h"

#include <QApplication>
#include <QSpinBox>
#include <QWidget>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

static fs::path FreshDir(const std::string &name) {
    const fs::path dir = fs::temp_directory_path() / (name + "-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

static std::string Chosen(const char *program, int writable, const char *documents) {
    char dir[kPathSize] = {};
    ChooseProjectDir(program, writable, documents, dir);
    return dir;
}

static std::string Documents() {
    char dir[kPathSize] = {};
    GetDocumentsDir(dir);
    return dir;
}

static std::string dialogPath;
static int dialogResult = kSelectNew;
static int AnswerDialog(const char *, int, char *path) {
    std::snprintf(path, kPathSize, "%s", dialogPath.c_str());
    return dialogResult;
}

TEST(ProjectDir, AWritableProgramFolderOutsideTheSystemStaysElseItIsRmx7InTheDocuments) {
    const struct {
        const char *program;
        int writable;
        const char *documents, *chosen;
    } cases[] = {
        {"/usr/bin", 1, "/root/Documents", "/root/Documents/RMX7"}, // installed, run as root
        {"/usr/local/bin", 1, "/root/Documents", "/root/Documents/RMX7"},
        {"/opt/rmx7/bin", 1, "/home/op/Documents", "/home/op/Documents/RMX7"},
        {"/etc/", 1, "/root/Documents", "/root/Documents/RMX7"},
        {"/sbin", 1, "/root/Documents", "/root/Documents/RMX7"},
        {"/lib64/rmx7", 1, "/root/Documents", "/root/Documents/RMX7"},
        {"/usr/bin", 0, "/home/op/Documents", "/home/op/Documents/RMX7"},
        {"/usr2/rmx7", 1, "/root/Documents", "/usr2/rmx7"}, // by whole folder names
        {"/home/op/rmx7/build/bin", 1, "/home/op/Documents", "/home/op/rmx7/build/bin"},
        {"/home/op/rmx7/build/bin", 0, "/home/op/Documents", "/home/op/Documents/RMX7"},
        {"/root/rmx7", 1, "/root/Documents", "/root/rmx7"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Chosen(c.program, c.writable, c.documents), c.chosen) << c.program;

    const fs::path home = FreshDir("rmx7-home");
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    EXPECT_EQ(Documents(), (home / "Documents").string());
    fs::create_directories(home / "config");
    std::ofstream(home / "config/user-dirs.dirs") << "XDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n";
    EXPECT_EQ(Documents(), (home / "Papers").string());

    const fs::path program = FreshDir("rmx7-program");
    fs::permissions(program, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(DirectoryWritable(program.c_str()), geteuid() == 0) << "root may write anywhere";
    fs::remove_all(home);
    fs::remove_all(program);
}

using Callback = int (*)(int, int, int, void *, int, int);

class Desktop : public PanelTest {
  protected:
    FakeController controller;
    void SetUp() override {
        PanelTest::SetUp();
        peer.SetResponder(controller.Responder());
        InitRS232(1);
    }
    void Commit(Callback callback, int event = kEventCommit) { Raise(callback, event); }
    int Marked(int control) const {
        int marked = -1;
        GetCtrlAttribute(panel, control, kAttrNotSent, &marked);
        return marked;
    }
};

TEST_F(Desktop, ARecordingAndTheDialogsMakeTheMissingProjectFolderFirst) {
    const fs::path project = FreshDir("rmx7-documents") / "RMX7";
    program().SetProjectDir(project.string());
    record::Recorder &recorder = program().Recorder();
    recorder.StartRecording();
    const std::string recording = recorder.RecordingPath();
    EXPECT_NE(ToolTip(ui::CHKRecord).find("\nRecording to " + recording), std::string::npos);
    recorder.StopRecording();
    EXPECT_NE(ToolTip(ui::CHKRecord).find("\nRecorded to " + recording), std::string::npos);
    EXPECT_TRUE(fs::exists(project / fs::path(recorder.RecordingPath()).filename()))
        << StatusLine();
    fs::remove_all(project);
    dialogResult = kSelectCancel;
    SetFileSelectResponder(AnswerDialog);
    line().SetTarget(com232::Target::DATFILE);
    Commit(app::CC_BTNGet);
    SetFileSelectResponder(nullptr);
    EXPECT_TRUE(fs::is_directory(project)) << "the dialog starts in the folder";
    fs::remove_all(project.parent_path());
}

TEST_F(Desktop, EveryTransferClearsTheMarksAndATypedBackValueToo) {
    const QWidgetList widgets = QApplication::allWidgets();
    const QWidget *power      = *std::find_if(widgets.begin(), widgets.end(),
                                              [](QWidget *w) { return w->objectName() == "power"; });
    SetCtrlVal(panel, ui::power, 777);
    EXPECT_EQ(Marked(ui::power), 1);
    const std::string tip = ToolTip(ui::power);
    EXPECT_EQ(tip.substr(0, tip.find('\n')), "Not sent yet - last sent or read: 640")
        << "above the control's own tooltip";
    EXPECT_EQ(power->accessibleDescription(), "power (not sent)");
    SetCtrlVal(panel, ui::power, 640);
    EXPECT_EQ(Marked(ui::power), 0);
    EXPECT_EQ(power->accessibleDescription(), "power");

    dialogPath = (FreshDir("rmx7-marks") / "set.dat").string();
    std::ofstream(dialogPath) << "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\n";
    SetFileSelectResponder(AnswerDialog);
    const Callback fetch = [](int, int, int, void *program, int, int) {
        auto &on = *static_cast<app::Program *>(program);
        on.Line().Queue(
            [](com232::Line &line) -> job::Task<void> { co_await line.InitRS232(1); }(on.Line()));
        return 0;
    };
    const struct {
        const char *operation;
        int target;
        Callback callback;
        int event, dialog, marked;
    } cases[] = {
        {"send", RAM, app::CC_BTNSend, kEventLeftClick, kSelectNew, 0},
        {"get", EEPROM, app::CC_BTNGet, kEventCommit, kSelectNew, 0},
        {"teach", RAM, app::CC_ButtonTeach, kEventCommit, kSelectNew, 0},
        {"reset", RAM, app::CC_ButtonReset, kEventCommit, kSelectNew, 0},
        {"start-up fetch", RAM, fetch, kEventCommit, kSelectNew, 0},
        {"file load", DATFILE, app::CC_BTNGet, kEventCommit, kSelectExisting, 0},
        {"file save", DATFILE, app::CC_BTNSend, kEventLeftClick, kSelectNew, 0},
        {"cancelled save", DATFILE, app::CC_BTNSend, kEventLeftClick, kSelectCancel, 1},
    };
    for (const auto &c : cases) {
        line().SetTarget(static_cast<com232::Target>(c.target));
        dialogResult = c.dialog;
        SetCtrlVal(panel, ui::hold, ParameterSet().hold + 1);
        Commit(c.callback, c.event);
        EXPECT_EQ(Marked(ui::hold), c.marked) << c.operation;
    }
    SetFileSelectResponder(nullptr);
    fs::remove_all(fs::path(dialogPath).parent_path());
}

TEST_F(Desktop, ANormCaptureDrawsAndExportsTheControllersSwitchingLevels) {
    SetCtrlVal(panel, ui::RNGGraphSource, kSourceNorm);
    controller.live[5] = 610;
    controller.live[6] = 390;
    Commit(app::CC_BTNData);
    EXPECT_EQ(program().Exports().LastCapture()->upper[127], 610);
    EXPECT_NE(program().Exports().CurveCsv().find(",610,390,"), std::string::npos);

    Commit(app::CC_BTNGet); // pp now holds the parameter set, not live values
    controller.silent[kCmdLive] = true;
    Commit(app::CC_BTNData);
    EXPECT_EQ(program().Exports().LastCapture()->upper[0], 610)
        << "without a live reply the levels stay";
}

// The rows of the parameters' table of a manual page, fields split.
static std::vector<std::vector<std::string>> TableRows(const char *page) {
    std::ifstream file(std::string(RMX7_MAN_DIR) + "/" + page);
    std::vector<std::vector<std::string>> rows;
    bool inTable = false;
    for (std::string line; std::getline(file, line);) {
        if (line == ".TE")
            inTable = false;
        if (inTable) {
            std::vector<std::string> fields;
            std::istringstream row(line);
            for (std::string field; std::getline(row, field, ';');)
                fields.push_back(field);
            rows.push_back(fields);
        }
        inTable = inTable || line == "_"; // the rule below the heading
    }
    return rows;
}

TEST_F(PanelTest, BothManualPagesAndTheTooltipsDescribeEachParameterAsThePanelFileHasIt) {
    const auto rows = TableRows("rmx7scope.1");
    EXPECT_EQ(TableRows("rmx7ctl.1"), rows) << "one table, in both pages";
    ASSERT_EQ(rows.size(), 12u);
    const QWidgetList widgets = QApplication::allWidgets();
    for (std::size_t word = 0; word < rows.size(); ++word) {
        const std::vector<std::string> &row = rows[word];
        ASSERT_EQ(row.size(), 5u);
        const std::string label = row[0], name = row[1], range = row[3];
        if (word == 11) {
            EXPECT_EQ(name + " " + row[2] + " " + range, "para12\\-16 11\\-15 0");
            break;
        }
        EXPECT_EQ(name, com232::kParameterNames[word]);
        EXPECT_EQ(row[2], std::to_string(word));
        const auto found = std::find_if(widgets.begin(), widgets.end(), [&](QWidget *w) {
            return w->objectName().toStdString() == name;
        });
        if (label == "(none)") {
            EXPECT_EQ(found, widgets.end()) << name;
            continue;
        }
        ASSERT_NE(found, widgets.end()) << name;
        const auto *control = qobject_cast<const QSpinBox *>(*found);
        ASSERT_NE(control, nullptr);
        const std::string minimum = std::to_string(control->minimum());
        const std::string maximum = std::to_string(control->maximum());
        EXPECT_EQ(label, control->accessibleName().toStdString()) << "the panel's label";
        EXPECT_EQ(range, minimum + "\\-" + maximum) << name;
        const std::string tip = ToolTip(control->property("ctrlId").toInt());
        EXPECT_NE(tip.find("Word " + std::to_string(word) + " of the parameter set, rmx7ctl name " +
                           name + ", " + minimum + " to " + maximum + "."),
                  std::string::npos)
            << tip;
    }
}
