// The panel services: loading panel files, the events the widgets raise, the event loop,
// values and attributes by control kind, strip charts, x-y graphs, text messages made at
// run time, the file dialog, and the main panel file itself.
#include "platform/dialogs.h"
#include "platform/events.h"
#include "platform/panel.h"
#include "platform/panel_internal.h"
#include "platform/ports.h"
#include "platform/trace.h"
#include "platform/widgets/strip_chart.h"
#include "platform/widgets/timer_control.h"
#include "platform/widgets/xy_graph.h"
#include "ui.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <qcustomplot.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Raised {
    int control; // 0 for the panel's own events
    int event;
    bool operator==(const Raised &) const = default;
};

std::vector<Raised> raised;
std::vector<std::string> story; // what the nested-loop callbacks did, in order

int Record(int, int control, int event, void *, int, int) {
    raised.push_back({control, event});
    return 0;
}

int RecordPanel(int, int event, void *, int, int) {
    raised.push_back({0, event});
    if (event == kEventClose) {
        story.push_back("close");
        QuitUserInterface(0);
    }
    return 0;
}

bool Pump(const std::function<bool()> &done, double seconds) {
    const double deadline = Timer() + seconds;
    while (!done()) {
        if (Timer() > deadline)
            return false;
        ProcessSystemEvents();
    }
    return true;
}

// Clicks near the left edge, where a radio button or check box has its indicator.
void Click(QAbstractButton *button) {
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

bool CloseRecorded() {
    return std::find(story.begin(), story.end(), "close") != story.end();
}

// Waits for the controller as the program's commands do: processing events, with the
// close of the panel and its quit running nested inside.
int WaitForClose(int, int, int event, void *, int, int) {
    if (event != kEventCommit)
        return 0;
    story.push_back("wait begins");
    Pump(CloseRecorded, 5.0);
    story.push_back("wait ends");
    return 0;
}

const CallbackEntry kTestCallbacks[] = {
    {"Record", Record, nullptr},
    {"RecordPanel", nullptr, RecordPanel},
    {"WaitForClose", WaitForClose, nullptr},
};

std::string TempPath(const std::string &name) {
    return testing::TempDir() + "rmx7-panel-" + std::to_string(QCoreApplication::applicationPid()) +
           "-" + name;
}

std::string WriteFile(const std::string &name, const std::string &content) {
    const std::string path = TempPath(name);
    std::ofstream(path) << content;
    return path;
}

// One property of the panel file: kind is the XML element of its value ("string").
std::string Property(const std::string &name, const std::string &kind, const std::string &value,
                     bool dynamic = false) {
    return "<property name=\"" + name + "\"" + (dynamic ? " stdset=\"0\"" : "") + "><" + kind +
           ">" + value + "</" + kind + "></property>";
}

std::string Items(const std::vector<std::string> &texts) {
    std::string xml;
    for (const std::string &text : texts)
        xml += "<item>" + Property("text", "string", text) + "</item>";
    return xml;
}

std::string Control(const std::string &cls, const std::string &name, int id,
                    const std::string &properties = "", const std::string &callback = "") {
    return "<item><widget class=\"" + cls + "\" name=\"" + name + "\">" + properties +
           Property("ctrlId", "number", std::to_string(id), true) +
           (callback.empty() ? "" : Property("callback", "string", callback, true)) +
           "</widget></item>";
}

std::string PanelXml(const std::string &items, int resource = 1) {
    return "<ui version=\"4.0\"><widget class=\"QWidget\" name=\"top\">" +
           Property("geometry", "rect", "<x>0</x><y>0</y><width>640</width><height>900</height>") +
           Property("panelResource", "number", std::to_string(resource), true) +
           Property("callback", "string", "RecordPanel", true) +
           "<layout class=\"QVBoxLayout\" name=\"rootLayout\">" + items +
           "</layout><widget class=\"QLabel\" name=\"picture\">" +
           Property("ctrlId", "number", "11", true) + "</widget></widget></ui>";
}

std::string TestControls() {
    const std::string upTo65535 = Property("maximum", "number", "65535");
    const std::string button    = Property("text", "string", "Send");
    return "<item><widget class=\"QFrame\" name=\"frame\">" +
           Property("ctrlId", "number", "22", true) +
           "<layout class=\"QVBoxLayout\" name=\"frameLayout\">" +
           Control("QPushButton", "button", 12, button, "Record") + "</layout></widget></item>" +
           Control("QComboBox", "ring", 5,
                   Property("itemValues", "string", "10,20,30", true) + Items({"A", "B", "C"}),
                   "Record") +
           Control("QComboBox", "plainRing", 6, Items({"X", "Y"})) +
           Control("QRadioButton", "radio", 19, button + Property("autoExclusive", "bool", "false"),
                   "Record") +
           Control("QCheckBox", "check", 20, button, "Record") +
           Control("QSpinBox", "numeric", 24, upTo65535) +
           Control("QSpinBox", "indicator", 34, upTo65535 + Property("readOnly", "bool", "true")) +
           Control("QLabel", "status", 48) + Control("QLineEdit", "edit", 49) +
           Control("Led", "led", 10) + Control("StripChart", "chart", 3) +
           Control("XYGraph", "graph", 51) +
           Control("QPushButton", "waiter", 13, "", "WaitForClose") +
           Control("TimerControl", "timer", 47,
                   Property("interval", "number", "10", true) +
                       Property("active", "bool", "false", true),
                   "Record");
}

constexpr int kHighestTestId = 51;

// A loaded panel, discarded after each test, and its controls by id.
class PanelFixture : public ::testing::Test {
  protected:
    void TearDown() override { DiscardPanel(panel); }

    template <class Widget> Widget *Get(int control) const {
        return qobject_cast<Widget *>(platform::ControlWidget(panel, control));
    }
    int Value(int control) const {
        int value = -1;
        EXPECT_EQ(GetCtrlVal(panel, control, &value), 0) << control;
        return value;
    }
    int Attribute(int control, int attribute) const {
        int value = -1;
        EXPECT_EQ(GetCtrlAttribute(panel, control, attribute, &value), 0) << control;
        return value;
    }

    int panel = 0;
};

class PanelServices : public PanelFixture {
  protected:
    void SetUp() override {
        RegisterCallbacks(kTestCallbacks, std::size(kTestCallbacks));
        Load();
    }
    void Load() {
        static const std::string path = WriteFile("test.uir", PanelXml(TestControls()));
        panel                         = LoadPanel(0, path.c_str(), 1);
        ASSERT_GT(panel, 0);
        DisplayPanel(panel);
        raised.clear();
        story.clear();
    }
    void Reload() {
        DiscardPanel(panel);
        Load();
    }
};

} // namespace

// --- Loading ---

TEST(PanelLoading, RefusesABrokenPanelFileWithItsReason) {
    RegisterCallbacks(kTestCallbacks, std::size(kTestCallbacks));
    const struct {
        const char *what;
        std::string content;
        int expected;
    } cases[] = {
        {"not xml", "this is no panel", platform::kErrFileUnreadable},
        {"unknown callback", PanelXml(Control("QPushButton", "b", 12, "", "CC_Missing")),
         platform::kErrUnknownCallback},
        {"duplicate id",
         PanelXml(Control("QPushButton", "a", 12) + Control("QPushButton", "b", 12)),
         platform::kErrDuplicateId},
        {"other resource", PanelXml("", 2), platform::kErrNoResource},
    };
    for (const auto &c : cases) {
        const std::string path = WriteFile("broken.uir", c.content);
        EXPECT_EQ(LoadPanel(0, path.c_str(), 1), c.expected) << c.what;
    }
    EXPECT_EQ(LoadPanel(0, TempPath("absent.uir").c_str(), 1), platform::kErrFileMissing);
}

TEST_F(PanelServices, ADiscardedPanelTakesNoMoreCalls) {
    const int discarded = panel;
    Reload();
    EXPECT_NE(panel, discarded);
    int value = 0;
    EXPECT_EQ(GetCtrlVal(panel, 99, &value), platform::kErrNoControl);
    EXPECT_EQ(GetCtrlVal(discarded, 24, &value), platform::kErrNoPanel);
    EXPECT_EQ(SetCtrlVal(discarded, 48, "gone"), platform::kErrNoPanel);
    EXPECT_EQ(DiscardPanel(discarded), platform::kErrNoPanel);
}

// --- Events ---

TEST_F(PanelServices, AClickRaisesTheEventsOfTheControlKind) {
    const struct {
        const char *what;
        int control;
        std::vector<Raised> expected;
        int valueAfter;
    } cases[] = {
        {"button", 12, {{12, kEventLeftClick}, {12, kEventCommit}}, 0},
        {"radio button", 19, {{19, kEventValueChanged}}, 1},
        {"radio button that is on", 19, {{19, kEventValueChanged}}, 0},
        {"check box", 20, {{20, kEventCommit}}, 1},
    };
    for (const auto &c : cases) {
        raised.clear();
        Click(Get<QAbstractButton>(c.control));
        EXPECT_EQ(raised, c.expected) << c.what;
        EXPECT_EQ(Value(c.control), c.valueAfter) << c.what;
    }
}

TEST_F(PanelServices, RingRaisesValueChangedOnlyWhenTheSelectionChanged) {
    auto *ring = Get<QComboBox>(5);
    QTest::keyClick(ring, Qt::Key_Down);
    EXPECT_EQ(raised, (std::vector<Raised>{{5, kEventValueChanged}, {5, kEventCommit}}));
    raised.clear();
    emit ring->activated(ring->currentIndex());
    EXPECT_EQ(raised, (std::vector<Raised>{{5, kEventCommit}}));
    raised.clear();
    SetCtrlVal(panel, 5, 30);
    emit ring->activated(ring->currentIndex());
    EXPECT_EQ(raised, (std::vector<Raised>{{5, kEventCommit}})) << "the program's choice stands";
}

TEST_F(PanelServices, DimmingAFrameMakesTheControlsInItInoperable) {
    SetCtrlAttribute(panel, 22, kAttrDimmed, 1);
    Click(Get<QPushButton>(12));
    EXPECT_TRUE(raised.empty());
    EXPECT_EQ(Attribute(22, kAttrDimmed), 1);
    SetCtrlAttribute(panel, 22, kAttrDimmed, 0);
    Click(Get<QPushButton>(12));
    EXPECT_EQ(raised.size(), 2u);
}

TEST_F(PanelServices, ClosingTheWindowRaisesCloseAndKeepsItOpen) {
    QWidget *window = platform::PanelWidget(panel);
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(raised, (std::vector<Raised>{{0, kEventClose}}));
}

// --- Event loop ---

TEST_F(PanelServices, QuitInsideANestedWaitReturnsOnlyAfterTheWaitEnds) {
    QWidget *window = platform::PanelWidget(panel);
    QTimer::singleShot(0, [this] { Click(Get<QPushButton>(13)); });
    QTimer::singleShot(20, window, [window] { window->close(); });
    QTimer guard;
    guard.callOnTimeout([] { QuitUserInterface(0); });
    guard.start(10000);
    RunUserInterface();
    story.push_back("run returns");
    EXPECT_EQ(story,
              (std::vector<std::string>{"wait begins", "close", "wait ends", "run returns"}));
}

TEST_F(PanelServices, TimerTicksWhileEnabledAndStopsWhenSwitchedOff) {
    const auto ticks = [] {
        return std::count(raised.begin(), raised.end(), Raised{47, kEventTimerTick});
    };
    SetCtrlAttribute(panel, 47, kAttrEnabled, 1);
    EXPECT_EQ(Attribute(47, kAttrEnabled), 1);
    ASSERT_TRUE(Pump([&] { return ticks() >= 3; }, 5.0));
    SetCtrlAttribute(panel, 47, kAttrEnabled, 0);
    EXPECT_EQ(Attribute(47, kAttrEnabled), 0);
    const auto stoppedAt = ticks();
    const double until   = Timer() + 0.1; // ten intervals
    Pump([&] { return Timer() > until; }, 1.0);
    EXPECT_EQ(ticks(), stoppedAt);
}

// --- Values ---

TEST_F(PanelServices, NumbersRoundTripThroughEveryKind) {
    const struct {
        int control;
        int value;
    } cases[] = {{24, 65535}, {24, 0}, {34, 65535}, {5, 20}, {19, 1},
                 {19, 0},     {20, 1}, {10, 1},     {10, 0}, {48, 42}};
    for (const auto &c : cases) {
        ASSERT_EQ(SetCtrlVal(panel, c.control, c.value), 0) << c.control;
        EXPECT_EQ(Value(c.control), c.value) << c.control;
    }
    SetCtrlVal(panel, 34, 65535);
    unsigned short word = 0;
    GetCtrlVal(panel, 34, &word);
    EXPECT_EQ(word, 65535);
}

TEST_F(PanelServices, RingValuesAreItemDataOrElseTheIndex) {
    SetCtrlVal(panel, 5, 30);
    EXPECT_EQ(Get<QComboBox>(5)->currentText(), "C");
    SetCtrlVal(panel, 6, 1);
    EXPECT_EQ(Value(6), 1);
    EXPECT_EQ(Get<QComboBox>(6)->currentText(), "Y");
    ClearListCtrl(panel, 5);
    InsertListItem(panel, 5, -1, "COM3  /dev/ttyUSB0", 3);
    InsertListItem(panel, 5, -1, "COM7  /dev/pts/4", 7);
    EXPECT_EQ(Value(5), 3);
    SetCtrlVal(panel, 5, 7);
    EXPECT_EQ(Get<QComboBox>(5)->currentText(), "COM7  /dev/pts/4");
    EXPECT_LT(SetCtrlVal(panel, 5, 4), 0);
}

TEST_F(PanelServices, TextIsCutToTheBufferWithATerminator) {
    for (int control : {48, 49}) {
        SetCtrlVal(panel, control, "Timeout RS232-Line!");
        char text[8];
        std::fill(std::begin(text), std::end(text), 'x');
        GetCtrlVal(panel, control, text, sizeof text);
        EXPECT_STREQ(text, "Timeout") << control;
        char whole[64];
        GetCtrlVal(panel, control, whole, sizeof whole);
        EXPECT_STREQ(whole, "Timeout RS232-Line!") << control;
    }
}

TEST_F(PanelServices, OnlyTextOnTheStatusControlIsTraced) {
    const std::string path = TempPath("trace.txt");
    ASSERT_TRUE(TraceOpen(path.c_str()));
    TraceSetStatusControl(panel, 48);
    SetCtrlVal(panel, 48, "Line Ok!");
    SetCtrlVal(panel, 49, "not the status");
    TraceClose();
    TraceSetStatusControl(0, 0);
    std::ifstream file(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(" STATUS Line Ok!"), std::string::npos);
}

// --- Attributes and text messages ---

TEST_F(PanelServices, AttributesReadBackAsSet) {
    const struct {
        int control;
        int attribute;
        int value;
    } cases[] = {{3, kAttrVisible, 0},           {3, kAttrVisible, 1},
                 {24, kAttrDimmed, 1},           {24, kAttrDimmed, 0},
                 {11, kAttrLeft, 310},           {11, kAttrTop, 10},
                 {3, kAttrNumTraces, 4},         {3, kAttrPointsPerScreen, 101},
                 {48, kAttrTextBold, 1},         {48, kAttrTextPointSize, 16},
                 {48, kAttrTextColor, 0xFFFFFF}, {48, kAttrTextBgColor, 0x0080FF},
                 {22, kAttrFrameColor, 0x0080FF}};
    for (const auto &c : cases) {
        ASSERT_EQ(SetCtrlAttribute(panel, c.control, c.attribute, c.value), 0) << c.attribute;
        EXPECT_EQ(Attribute(c.control, c.attribute), c.value) << c.attribute;
    }
    EXPECT_EQ(SetCtrlAttribute(panel, 24, kAttrNumTraces, 2), platform::kErrWrongKind);
}

int ringRefreshes = 0;

void CountRingRefresh() {
    ++ringRefreshes;
}

TEST_F(PanelServices, PortRingIsRescannedWhenOpenedAndEveryTwoSecondsButNeverInsideAWait) {
    PortTableClear();
    ringRefreshes = 0;
    WatchPortRing(panel, 5, CountRingRefresh);
    auto *ring = Get<QComboBox>(5);
    PortTableAdd(7, "/dev/rmx7-test-a");
    ring->showPopup();
    ring->hidePopup();
    EXPECT_EQ(ringRefreshes, 1) << "opening the ring lists the changed table";
    ring->showPopup();
    ring->hidePopup();
    EXPECT_EQ(ringRefreshes, 1) << "an unchanged table is not listed again";

    PortTableAdd(8, "/dev/rmx7-test-b");
    QTimer::singleShot(0, ring, [ring] {
        ring->showPopup();
        ring->hidePopup();
    });
    Pump([] { return false; }, 2.5); // a wait across the first 2 s tick
    EXPECT_EQ(ringRefreshes, 1) << "rescanned inside a wait";

    const double deadline = Timer() + 3.0;
    while (ringRefreshes < 2 && Timer() < deadline)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_EQ(ringRefreshes, 2) << "the clock lists the change once the program is idle";
    PortTableClear();
}

TEST_F(PanelServices, NewTextMessagesTakeIdsAboveTheFilesAndFitTheirText) {
    const int first  = NewCtrl(panel, kCtrlTextMsg, "", 22, 15);
    const int second = NewCtrl(panel, kCtrlTextMsg, "", 37, 15);
    EXPECT_EQ(first, kHighestTestId + 1);
    EXPECT_EQ(second, kHighestTestId + 2);
    EXPECT_EQ(Attribute(first, kAttrLeft), 15);
    EXPECT_EQ(Attribute(first, kAttrTop), 22);
    SetCtrlAttribute(panel, first, kAttrTextPointSize, 16);
    SetCtrlVal(panel, first, "K-VEX-RMX7-PIRA-Scope");
    auto *label = Get<QLabel>(first);
    EXPECT_GE(label->width(), label->sizeHint().width());
    EXPECT_EQ(Attribute(first, kAttrVisible), 1);
}

// --- Plots ---

TEST_F(PanelServices, StripChartDealsValuesToTracesInTurnAndScrollsTheOldestOut) {
    using Values = std::vector<double>;
    const struct {
        const char *what;
        int traces, points, start, skip;
        std::vector<Values> batches;
        std::vector<Values> expected;
    } cases[] = {
        {"interleaved", 2, 5, 0, 0, {{0, 1, 2, 3, 4, 5, 6, 7}}, {{0, 2, 4, 6}, {1, 3, 5, 7}}},
        {"scrolled", 2, 3, 0, 0, {{0, 1, 2, 3, 4, 5}, {6, 7, 8, 9}}, {{4, 6, 8}, {5, 7, 9}}},
        {"uneven", 3, 4, 0, 0, {{1, 2, 3, 4}}, {{1, 4}, {2}, {3}}},
        {"every batch from trace 1", 2, 10, 0, 0, {{1, 2, 3}, {4, 5}}, {{1, 3, 4}, {2, 5}}},
        {"start and skip", 2, 10, 1, 1, {{0, 1, 2, 3, 4, 5, 6}}, {{1, 5}, {3}}},
    };
    for (const auto &c : cases) {
        Reload();
        SetCtrlAttribute(panel, 3, kAttrNumTraces, c.traces);
        SetCtrlAttribute(panel, 3, kAttrPointsPerScreen, c.points);
        for (const Values &batch : c.batches) {
            const int count = (static_cast<int>(batch.size()) - c.start + c.skip) / (c.skip + 1);
            PlotStripChart(panel, 3, batch.data(), count, c.start, c.skip, kTypeDouble);
        }
        for (int trace = 1; trace <= c.traces; ++trace)
            EXPECT_EQ(Get<StripChart>(3)->TraceValues(trace), c.expected[trace - 1])
                << c.what << " trace " << trace;
    }
}

TEST_F(PanelServices, EachXYPlotAddsOneCurveAndDeleteAllRemovesThem) {
    unsigned short x[3] = {0, 1, 2}, y[3] = {0, 512, 65535};
    const int thick  = PlotXY(panel, 51, x, y, 3, kTypeU16, kTypeU16, kPlotThickLine, kPointEmpty,
                              kLineSolid, 1, 0xFF0000);
    const int dashed = PlotXY(panel, 51, x, y, 3, kTypeU16, kTypeU16, kPlotThinLine, kPointEmpty,
                              kLineDashed, 1, 0x000000);
    ASSERT_GT(thick, 0);
    ASSERT_GT(dashed, 0);
    EXPECT_NE(thick, dashed);
    auto *graph = Get<XYGraph>(51);
    EXPECT_EQ(graph->CurveCount(), 2);
    const QCPCurve *curve = graph->Curve(thick);
    EXPECT_EQ(curve->pen().width(), 3);
    EXPECT_EQ(curve->pen().color(), QColor(Qt::red));
    EXPECT_EQ((curve->data()->constEnd() - 1)->value, 65535.0);
    EXPECT_EQ(graph->Curve(dashed)->pen().style(), Qt::DashLine);
    EXPECT_EQ(graph->Curve(dashed)->pen().width(), 1);
    EXPECT_EQ(DeleteGraphPlot(panel, 51, dashed, kRefreshImmediate), 0);
    EXPECT_EQ(graph->CurveCount(), 1);
    EXPECT_EQ(DeleteGraphPlot(panel, 51, kAllPlots, kRefreshImmediate), 0);
    EXPECT_EQ(graph->CurveCount(), 0);
}

// --- File dialog ---

namespace {

int AnswerFromStub(const char *, int button, char *pathName) {
    std::strcpy(pathName, "/data/RMX7para.dat");
    return button == kButtonSave ? kSelectNew : kSelectExisting;
}

// Answers the file dialog that is about to open, noting the label of its confirm button.
class DialogAnswer {
  public:
    explicit DialogAnswer(bool accept) {
        poll_.callOnTimeout([this, accept] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            poll_.stop();
            confirmLabel = dialog->labelText(QFileDialog::Accept);
            // QFileDialog hides its accept(); QDialog's public one reaches it.
            QDialog *asDialog = dialog;
            accept ? asDialog->accept() : asDialog->reject();
        });
        poll_.start(5);
    }
    QString confirmLabel;

  private:
    QTimer poll_;
};

} // namespace

TEST(FileDialog, AStubAnswersInsteadOfTheDialog) {
    SetFileSelectResponder(AnswerFromStub);
    char path[kPathSize] = {};
    EXPECT_EQ(
        FileSelectPopup("/tmp", "RMX7para.dat", "*.dat", "Save", kButtonSave, 0, 1, 1, 1, path),
        kSelectNew);
    EXPECT_STREQ(path, "/data/RMX7para.dat");
    SetFileSelectResponder(nullptr);
}

TEST(FileDialog, TheChosenNameGetsTheExtensionAndTellsNewFromExisting) {
    const QString directory = QString::fromStdString(TempPath("dialog"));
    QDir().mkpath(directory);
    const QString chosen = directory + "/params.dat";
    QFile::remove(chosen);
    const struct {
        const char *what;
        int button;
        const char *defaultName;
        bool accept;
        int expected;
        const char *confirmLabel;
    } cases[] = {
        {"new name", kButtonSave, "params", true, kSelectNew, "Save"},
        {"existing file", kButtonLoad, "params.dat", true, kSelectExisting, "Load"},
        {"cancelled", kButtonOk, "params.dat", false, kSelectCancel, "OK"},
    };
    for (const auto &c : cases) {
        char path[kPathSize] = {};
        DialogAnswer answer(c.accept);
        EXPECT_EQ(FileSelectPopup(directory.toLocal8Bit(), c.defaultName, "*.dat", c.what, c.button,
                                  0, 1, 1, 1, path),
                  c.expected)
            << c.what;
        EXPECT_EQ(answer.confirmLabel, c.confirmLabel) << c.what;
        if (c.accept) {
            EXPECT_EQ(QString::fromLocal8Bit(path), chosen) << c.what;
        }
        QFile(chosen).open(QIODevice::WriteOnly);
    }
    QDir(directory).removeRecursively();
}

// --- The main panel file ---

namespace {

const char *const kMainCallbackNames[] = {
    "CC_DropDCom",        "CC_BTNSend",   "CC_BTNGet",       "CC_ButtonTeach",
    "CC_ButtonReset",     "CC_RBTRam",    "CC_RBTEeprom",    "CC_RBTFile",
    "CC_BTNRun",          "CC_BTNStop",   "CC_Timer50ms",    "CC_BTNData",
    "CC_RNGGraphSource",  "CC_CHKRecord", "CC_BTNSaveCurve", "CC_BTNSaveChart",
    "CC_BTNViewRecording"};

class MainPanelFile : public PanelFixture {
  protected:
    void SetUp() override {
        static const std::vector<CallbackEntry> table = [] {
            std::vector<CallbackEntry> entries{{"CC_PANEL", nullptr, RecordPanel}};
            for (const char *name : kMainCallbackNames)
                entries.push_back({name, Record, nullptr});
            return entries;
        }();
        RegisterCallbacks(table.data(), static_cast<int>(table.size()));
        panel = LoadPanel(0, ui::kPanelFile, ui::kPanelResource);
        ASSERT_GT(panel, 0) << "the panel file must stand beside the test";
    }
};

} // namespace

TEST_F(MainPanelFile, EveryControlCarriesItsIdItsNameAndItsControlNameAsDescription) {
    const struct {
        const char *name;
        int id;
    } controls[] = {
        // clang-format off
        {"DropDCom", ui::DropDCom}, {"ChartNORM", ui::ChartNORM}, {"ChartRAW", ui::ChartRAW},
        {"RNGGraphSource", ui::RNGGraphSource}, {"ctrl6", ui::Ctrl6}, {"BTNRun", 7},
        {"BTNStop", 8}, {"LEDState2", ui::LEDState2}, {"LEDState1", ui::LEDState1},
        {"PICLogo", ui::PICLogo}, {"BTNSend", 12}, {"BTNGet", 13},
        {"ButtonTeach", 14}, {"ButtonReset", 15}, {"BTNData", 16},
        {"RBTFile", ui::RBTFile}, {"RBTEeprom", ui::RBTEeprom}, {"RBTRam", ui::RBTRam},
        {"ctrl22", ui::Ctrl22}, {"mmtime", ui::mmtime}, {"hold", ui::hold},
        {"polarity", ui::polarity}, {"hwmode", ui::hwmode}, {"sdelay", ui::sdelay},
        {"evalmode", ui::evalmode}, {"valNORM", ui::valNORM}, {"adcCHA", ui::adcCHA},
        {"Amax", ui::Amax}, {"Amin", ui::Amin}, {"LOval", ui::LOval},
        {"UPval", ui::UPval}, {"valREF", ui::valREF}, {"DECOBand", ui::DECOBand},
        {"reference", ui::reference}, {"hysteresis", ui::hysteresis}, {"Timer50ms", ui::Timer50ms},
        {"TXTStatus", ui::TXTStatus}, {"mmthd", ui::mmthd}, {"power", ui::power},
        {"GraphDATA", ui::GraphDATA}, {"BTNViewRecording", ui::BTNViewRecording},
        // clang-format on
    };
    for (const auto &control : controls) {
        const QWidget *widget = platform::ControlWidget(panel, control.id);
        ASSERT_NE(widget, nullptr) << control.name;
        EXPECT_EQ(widget->objectName(), control.name);
        EXPECT_EQ(widget->accessibleDescription(), control.name);
        EXPECT_FALSE(widget->accessibleName().isEmpty()) << control.name;
    }
    EXPECT_EQ(platform::ControlWidget(panel, ui::TXTStatus)->accessibleName(), "Status");
}

TEST_F(MainPanelFile, TabVisitsTheOperableControlsInWorkingOrder) {
    const QStringList expected = {"DropDCom",     "power",       "reference", "hysteresis",
                                  "polarity",     "hold",        "hwmode",    "evalmode",
                                  "mmtime",       "mmthd",       "sdelay",    "RBTRam",
                                  "RBTEeprom",    "RBTFile",     "BTNSend",   "BTNGet",
                                  "ButtonTeach",  "ButtonReset", "BTNData",   "RNGGraphSource",
                                  "BTNRun",       "BTNStop",     "CHKRecord", "BTNViewRecording",
                                  "BTNSaveChart", "BTNSaveCurve"};
    QStringList visited;
    QWidget *start  = platform::ControlWidget(panel, ui::DropDCom);
    QWidget *widget = start;
    do {
        // A spin box's editor takes focus for the spin box, its focus proxy.
        if ((widget->focusPolicy() & Qt::TabFocus) && !widget->focusProxy())
            visited << widget->objectName();
        widget = widget->nextInFocusChain();
    } while (widget != start && visited.size() <= expected.size());
    EXPECT_EQ(visited.join(' ').toStdString(), expected.join(' ').toStdString());
}

TEST_F(MainPanelFile, StartsWithTheFilesValuesTheNormChartAndTheTimerRunning) {
    const struct {
        int control;
        int value;
    } values[] = {{ui::power, 500},  {ui::reference, 512},   {ui::hysteresis, 10},
                  {ui::polarity, 1}, {ui::hold, 100},        {ui::hwmode, 1},
                  {ui::evalmode, 0}, {ui::mmtime, 20},       {ui::mmthd, 50},
                  {ui::sdelay, 1},   {ui::RBTRam, 1},        {ui::RBTEeprom, 0},
                  {ui::RBTFile, 0},  {ui::RNGGraphSource, 1}};
    for (const auto &v : values)
        EXPECT_EQ(Value(v.control), v.value) << v.control;
    const auto *source = Get<QComboBox>(ui::RNGGraphSource);
    ASSERT_EQ(source->count(), 2);
    EXPECT_EQ(source->itemText(0), "RAW");
    EXPECT_EQ(source->itemData(0).toInt(), 0);
    EXPECT_EQ(source->itemText(1), "NORM");
    EXPECT_EQ(source->itemData(1).toInt(), 1);
    for (int radio : {ui::RBTRam, ui::RBTEeprom, ui::RBTFile})
        EXPECT_FALSE(Get<QRadioButton>(radio)->autoExclusive());
    EXPECT_EQ(Attribute(ui::ChartNORM, kAttrVisible), 1);
    EXPECT_EQ(Attribute(ui::ChartRAW, kAttrVisible), 0);
    EXPECT_EQ(Attribute(ui::GraphDATA, kAttrVisible), 0);
    EXPECT_EQ(Attribute(ui::ChartNORM, kAttrNumTraces), 4);
    EXPECT_EQ(Attribute(ui::ChartRAW, kAttrNumTraces), 2);
    EXPECT_EQ(Attribute(ui::Timer50ms, kAttrEnabled), 1);
    EXPECT_EQ(Get<TimerControl>(ui::Timer50ms)->Interval(), 50);
}

TEST_F(MainPanelFile, TheBandSpansTheTopAndTheLogoStacksAboveIt) {
    DisplayPanel(panel);
    const QWidget *window = platform::PanelWidget(panel);
    const QWidget *band   = platform::ControlWidget(panel, ui::DECOBand);
    const QWidget *logo   = platform::ControlWidget(panel, ui::PICLogo);
    EXPECT_EQ(band->geometry(), QRect(0, 0, window->width(), 62));
    EXPECT_EQ(Attribute(ui::PICLogo, kAttrLeft), 310);
    EXPECT_EQ(Attribute(ui::PICLogo, kAttrTop), 10);
    EXPECT_GT(window->children().indexOf(logo), window->children().indexOf(band));
}

TEST_F(MainPanelFile, TheLogoBitmapLoadsAndAMissingOneLeavesThePictureEmpty) {
    const auto *picture = Get<QLabel>(ui::PICLogo);
    ASSERT_EQ(DisplayImageFile(panel, ui::PICLogo, "lg.bmp"), 0);
    EXPECT_EQ(picture->pixmap().size(), QSize(200, 22));
    EXPECT_LT(DisplayImageFile(panel, ui::PICLogo, "absent.bmp"), 0);
    EXPECT_TRUE(picture->pixmap().isNull());
}

TEST_F(MainPanelFile, ABareFileNameIsFoundBesideTheProgramWhereverTheProgramRuns) {
    const QString previous = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(testing::TempDir()));
    const int again = LoadPanel(0, ui::kPanelFile, ui::kPanelResource);
    QDir::setCurrent(previous);
    EXPECT_GT(again, 0);
    DiscardPanel(again);
}
