// The panel services on the main panel file: loading, the events the widgets raise, values
// and rings, strip charts, and the file dialog.
#include "platform/panel/dialogs.h"
#include "platform/panel/events.h"
#include "platform/panel/panel.h"
#include "platform/panel/panel_internal.h"
#include "platform/widgets/strip_chart.h"
#include "ui.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <fstream>
#include <utility>

namespace {

std::vector<std::pair<int, int>> raised; // control (0: the panel), event

int Record(int, int control, int event, void *, int, int) {
    if (event != kEventTimerTick)
        raised.emplace_back(control, event);
    return 0;
}

int RecordPanel(int, int event, void *, int, int) {
    raised.emplace_back(0, event);
    return 0;
}

void Register() {
    static std::vector<CallbackEntry> table{{"CC_PANEL", nullptr, RecordPanel}};
    if (table.size() == 1)
        for (const char *name :
             {"CC_DropDCom", "CC_BTNSend", "CC_BTNGet", "CC_ButtonTeach", "CC_ButtonReset",
              "CC_RBTRam", "CC_RBTEeprom", "CC_RBTFile", "CC_BTNRun", "CC_BTNStop", "CC_Timer50ms",
              "CC_BTNData", "CC_RNGGraphSource", "CC_CHKRecord", "CC_BTNSaveCurve",
              "CC_BTNSaveChart", "CC_BTNViewRecording", "CC_BTNReport", "CC_BTNPlant"})
            table.push_back({name, Record, nullptr});
    RegisterCallbacks(table.data(), static_cast<int>(table.size()));
}

std::string TempFile(const std::string &name, const std::string &content) {
    const std::string path = testing::TempDir() + "rmx7-panel-" + name;
    std::ofstream(path) << content;
    return path;
}

class Panel : public ::testing::Test {
  protected:
    void SetUp() override { Load(); }
    void TearDown() override { DiscardPanel(panel); }
    void Load() {
        Register();
        panel = LoadPanel(0, ui::kPanelFile, ui::kPanelResource);
        ASSERT_GT(panel, 0) << "the panel file must stand beside the test";
        DisplayPanel(panel);
        raised.clear();
    }
    template <class Widget = QWidget> Widget *Get(int control) const {
        return qobject_cast<Widget *>(platform::ControlWidget(panel, control));
    }
    int Value(int control) const {
        int value = -1;
        EXPECT_EQ(GetCtrlVal(panel, control, &value), 0) << control;
        return value;
    }
    int panel = 0;
};

} // namespace

TEST(PanelLoading, RefusesTwoControlsOfOneIdAndFindsABareNameBesideTheProgram) {
    Register();
    const std::string twoIds =
        "<ui version=\"4.0\"><widget class=\"QWidget\" name=\"top\"><property "
        "name=\"panelResource\" "
        "stdset=\"0\"><number>1</number></property><widget class=\"QLabel\" name=\"a\"><property "
        "name=\"ctrlId\" stdset=\"0\"><number>12</number></property></widget><widget "
        "class=\"QLabel\" name=\"b\"><property name=\"ctrlId\" stdset=\"0\"><number>12</number>"
        "</property></widget></widget></ui>";
    EXPECT_EQ(LoadPanel(0, TempFile("broken.uir", twoIds).c_str(), 1), platform::kErrDuplicateId);
    EXPECT_EQ(LoadPanel(0, "/nonexistent/absent.uir", 1), platform::kErrFileMissing);
    const QString here = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(testing::TempDir()));
    const int beside = LoadPanel(0, ui::kPanelFile, ui::kPanelResource);
    QDir::setCurrent(here);
    EXPECT_GT(beside, 0);
    int value = 0;
    EXPECT_EQ(GetCtrlVal(beside, 999, &value), platform::kErrNoControl);
    DiscardPanel(beside);
    EXPECT_EQ(GetCtrlVal(beside, ui::power, &value), platform::kErrNoPanel);
    EXPECT_EQ(DiscardPanel(beside), platform::kErrNoPanel) << "a discarded panel takes no calls";
}

TEST_F(Panel, EachControlKindRaisesItsEvents) {
    const int send = 12, ring = ui::RNGGraphSource;
    const struct {
        int control, valueAfter;
        std::vector<std::pair<int, int>> expected;
    } clicks[] = {
        {send, 0, {{send, kEventLeftClick}, {send, kEventCommit}}},
        {ui::RBTEeprom, 1, {{ui::RBTEeprom, kEventValueChanged}}},
        {ui::RBTEeprom, 0, {{ui::RBTEeprom, kEventValueChanged}}},
        {ui::CHKRecord, 1, {{ui::CHKRecord, kEventCommit}}},
    };
    for (const auto &c : clicks) {
        raised.clear();
        auto *button = Get<QAbstractButton>(c.control);
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
        EXPECT_EQ(raised, c.expected) << c.control;
        EXPECT_EQ(Value(c.control), c.valueAfter) << c.control;
    }
    auto *combo = Get<QComboBox>(ring);
    QTest::keyClick(combo, Qt::Key_Up);
    raised.clear();
    QTest::keyClick(combo, Qt::Key_Down);
    emit combo->activated(combo->currentIndex());
    SetCtrlVal(panel, ring, 0);
    emit combo->activated(combo->currentIndex());
    EXPECT_EQ(raised, (std::vector<std::pair<int, int>>{{ring, kEventValueChanged},
                                                        {ring, kEventCommit},
                                                        {ring, kEventCommit},
                                                        {ring, kEventCommit}}))
        << "the same item again, or the program's choice, raises only commit";
    raised.clear();
    EXPECT_FALSE(platform::PanelWidget(panel)->close()) << "the window stays open";
    EXPECT_EQ(raised, (std::vector<std::pair<int, int>>{{0, kEventClose}}));
}

TEST_F(Panel, ValuesRoundTripTextIsCutToTheBufferAndRingsSelectByValue) {
    for (const auto &[control, value] : {std::pair{ui::power, 65535},
                                         {ui::valNORM, 65535},
                                         {ui::RNGGraphSource, 0},
                                         {ui::RBTFile, 1},
                                         {ui::LEDState1, 1}}) {
        ASSERT_EQ(SetCtrlVal(panel, control, value), 0) << control;
        EXPECT_EQ(Value(control), value) << control;
    }
    SetCtrlVal(panel, ui::TXTStatus, "Timeout RS232-Line!");
    char text[8] = "xxxxxxx", whole[64];
    GetCtrlVal(panel, ui::TXTStatus, text, sizeof text);
    GetCtrlVal(panel, ui::TXTStatus, whole, sizeof whole);
    EXPECT_EQ(std::string(text) + "|" + whole, "Timeout|Timeout RS232-Line!");
    ClearListCtrl(panel, ui::DropDCom);
    InsertListItem(panel, ui::DropDCom, -1, "COM3  /dev/ttyUSB0", 3);
    InsertListItem(panel, ui::DropDCom, -1, "COM7  /dev/pts/4", 7);
    EXPECT_EQ(Value(ui::DropDCom), 3);
    SetCtrlVal(panel, ui::DropDCom, 7);
    EXPECT_EQ(Get<QComboBox>(ui::DropDCom)->currentText(), "COM7  /dev/pts/4");
    EXPECT_LT(SetCtrlVal(panel, ui::DropDCom, 4), 0);
    EXPECT_EQ(SetCtrlAttribute(panel, ui::power, kAttrNumTraces, 2), platform::kErrWrongKind);
}

// What is typed stays as typed; a number outside the control's range is refused when the
// edit ends, the value from before it stays, and a note names what was typed and the range
// until the value changes.
TEST_F(Panel, ATypedValueOutsideItsRangeIsRefusedWithANoteNotChangedInSilence) {
    const struct {
        int control;
        QString typed;
        int value;
        QString description;
    } cases[] = {
        {ui::power, "70000", 500, "power (70000 was not taken: Power takes 0 to 65535)"},
        {ui::hysteresis, "-5", 10, "hysteresis (-5 was not taken: Hysteresis takes 0 to 65535)"},
        {ui::power, "650", 650, "power (not sent)"}, // a value taken ends the note
    };
    for (const auto &c : cases) {
        auto *box = Get<QSpinBox>(c.control);
        box->selectAll();
        QTest::keyClicks(box, c.typed);
        EXPECT_EQ(box->text(), c.typed) << "as typed, while it is typed";
        QTest::keyClick(box, Qt::Key_Return);
        EXPECT_EQ(Value(c.control), c.value) << c.typed.toStdString();
        EXPECT_EQ(box->accessibleDescription().toStdString(), c.description.toStdString());
        EXPECT_EQ(box->toolTip().contains(c.typed + " was not taken"), c.value != 650);
    }
}

TEST_F(Panel, StripChartDealsValuesToTracesInTurnAndScrollsTheOldestOut) {
    using Values = std::vector<double>;
    const struct {
        int traces, points, start, skip;
        std::vector<Values> batches, expected;
    } cases[] = {
        {2, 5, 0, 0, {{0, 1, 2, 3, 4, 5, 6, 7}}, {{0, 2, 4, 6}, {1, 3, 5, 7}}},
        {2, 3, 0, 0, {{0, 1, 2, 3, 4, 5}, {6, 7, 8, 9}}, {{4, 6, 8}, {5, 7, 9}}},
        {3, 10, 0, 0, {{1, 2, 3, 4}, {5, 6}}, {{1, 4, 5}, {2, 6}, {3}}}, // each batch from trace 1
        {2, 10, 1, 1, {{0, 1, 2, 3, 4, 5, 6}}, {{1, 5}, {3}}},
    };
    for (const auto &c : cases) {
        TearDown();
        Load();
        SetCtrlAttribute(panel, ui::ChartRAW, kAttrNumTraces, c.traces);
        SetCtrlAttribute(panel, ui::ChartRAW, kAttrPointsPerScreen, c.points);
        for (const Values &batch : c.batches) {
            const int count = (static_cast<int>(batch.size()) - c.start + c.skip) / (c.skip + 1);
            PlotStripChart(panel, ui::ChartRAW, batch.data(), count, c.start, c.skip, kTypeDouble);
        }
        for (int trace = 1; trace <= c.traces; ++trace)
            EXPECT_EQ(Get<StripChart>(ui::ChartRAW)->TraceValues(trace), c.expected[trace - 1])
                << c.traces << " traces, " << c.points << " points, trace " << trace;
    }
}

// A save that would replace a file asks first, also when the name was typed without its
// extension: "params" for params.dat.
TEST(FileDialog, TheChosenNameGetsTheFiltersExtensionAndTellsNewFromExisting) {
    const QString folder = QString::fromStdString(testing::TempDir()) + "rmx7-dialog";
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    for (const auto &[name, button, accept, expected, asks] :
         {std::tuple{"params", kButtonSave, true, kSelectNew, false},
          {"params.dat", kButtonOk, true, kSelectExisting, false},
          {"params.dat", kButtonLoad, false, kSelectCancel, false},
          {"params", kButtonSave, true, kSelectCancel, true}}) {
        char path[kPathSize] = {};
        bool asked = false, answered = false, ended = false;
        QTimer answer; // the dialog runs its own loop: answer it from there
        answer.callOnTimeout([&, accept = accept] {
            QWidget *modal = QApplication::activeModalWidget();
            if (auto *question = qobject_cast<QMessageBox *>(modal)) {
                asked = true;
                question->reject(); // do not replace it
            } else if (QDialog *dialog = qobject_cast<QFileDialog *>(modal)) {
                // Once each, and queued: the question it may ask runs a loop of its own, where
                // this timer, still in its callback, would not fire again.
                const bool accepts = accept && !asked;
                if (std::exchange(accepts ? answered : ended, true))
                    return;
                QMetaObject::invokeMethod(dialog, accepts ? "accept" : "reject",
                                          Qt::QueuedConnection);
            }
        });
        answer.start(5);
        EXPECT_EQ(
            FileSelectPopup(folder.toLocal8Bit(), "params", "*.dat", "t", button, 0, 1, 1, 1, path),
            expected);
        EXPECT_EQ(QString(path), expected != kSelectCancel ? folder + "/params.dat" : "");
        EXPECT_EQ(asked, asks);
        QFile(folder + "/params.dat").open(QIODevice::WriteOnly);
    }
    QDir(folder).removeRecursively();
}
