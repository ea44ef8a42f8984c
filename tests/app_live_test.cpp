// Run, Stop, the timer tick, chart switching and the data curve capture, against a
// controller stand-in on a pty.
#include "support/fake_controller.h"
#include "support/panel_fixture.h"

#include "app.h"
#include "com232.h"
#include "exports.h"
#include "gui.h"
#include "platform/dialogs.h"
#include "platform/events.h"
#include "platform/panel.h"
#include "platform/serial.h"
#include "record.h"
#include "ui.h"

#include <QTimer>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace com232;

namespace {

int Attribute(int panel, int control, int attribute) {
    int value = -1;
    GetCtrlAttribute(panel, control, attribute, &value);
    return value;
}

std::vector<std::string> Lines(const std::string &path) {
    std::ifstream file(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    return lines;
}

std::vector<std::string> Fields(const std::string &line) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    for (std::string field; std::getline(in, field, ',');)
        fields.push_back(field);
    return fields;
}

std::string Head(const std::string &path, std::size_t count) {
    std::ifstream file(path, std::ios::binary);
    std::string bytes(count, '\0');
    file.read(bytes.data(), static_cast<std::streamsize>(count));
    return bytes;
}

// A fresh project folder; removed with the fixture.
struct ProjectDir {
    std::filesystem::path path;
    ProjectDir() {
        path = std::filesystem::temp_directory_path() /
               ("rmx7-project-" + std::to_string(getpid()) + "-" + std::to_string(rand()));
        std::filesystem::create_directories(path);
        std::snprintf(gui::vars.proj_dir, sizeof gui::vars.proj_dir, "%s", path.c_str());
    }
    ~ProjectDir() { std::filesystem::remove_all(path); }
    std::vector<std::string> Files(const std::string &prefix) const {
        std::vector<std::string> found;
        for (const auto &entry : std::filesystem::directory_iterator(path))
            if (entry.path().filename().string().rfind(prefix, 0) == 0)
                found.push_back(entry.path().string());
        return found;
    }
};

// The save dialog, answered with this path.
std::string chosenPath;
int ChoosePath(const char *, int, char *pathName) {
    std::snprintf(pathName, kPathSize, "%s", chosenPath.c_str());
    return kSelectNew;
}

} // namespace

class LiveView : public PanelTest {
  protected:
    FakeController controller;
    void SetUp() override {
        PanelTest::SetUp();
        peer.SetResponder(controller.Responder());
        InitRS232(1);
    }
    void Commit(int (*callback)(int, int, int, void *, int, int)) {
        callback(panel, 0, kEventCommit, nullptr, 0, 0);
    }
    // Runs until the controller has answered replies live requests, then presses Stop.
    void RunFor(int replies) {
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (controller.liveReplies >= replies && vars.rx_flag == 0 && vars.graphrefresh == 0) {
                poll.stop();
                Commit(app::CC_BTNStop);
            }
        });
        poll.start(1);
        QTimer::singleShot(10000, [this] { Commit(app::CC_BTNStop); });
        Commit(app::CC_BTNRun);
    }
    int Visible(int control) { return Attribute(panel, control, kAttrVisible); }
    int Dimmed(int control) { return Attribute(panel, control, kAttrDimmed); }
};

TEST_F(LiveView, RunKeepsOneRequestOutstandingAndPlotsEveryReplyOnce) {
    SetCtrlVal(panel, ui::RNGGraphSource, gui::kSourceRaw);
    controller.live      = {400, 500, 450, 800, 100, 520, 480, 510, 3};
    controller.liveLimit = 5;
    Commit(app::CC_BTNRun);
    const std::vector<Bytes> requests = peer.Requests();
    const int live                    = static_cast<int>(std::count_if(
                           requests.begin(), requests.end(), [](const Bytes &r) { return r[3] == kCmdLive; }));
    EXPECT_EQ(live, 6) << "one request after each of the five replies";
    EXPECT_EQ(FrameWord(requests.back(), 0), vars.params.power) << "requests carry the set";
    for (int k = 1; k <= 5; ++k)
        EXPECT_EQ(gui::vars.arrayRAW[gui::kRawValues - 2 * k], 500) << k;
    EXPECT_EQ(gui::vars.arrayRAW[gui::kRawValues - 12], 0) << "each reply plotted exactly once";
    EXPECT_EQ(Value(ui::adcCHA), 500);
    EXPECT_EQ(Value(ui::LEDState1), 1);
    EXPECT_EQ(Visible(ui::ChartRAW), 1);
    EXPECT_EQ(Visible(ui::ChartNORM), 0);
    EXPECT_EQ(Visible(ui::GraphDATA), 0);
    EXPECT_EQ(StatusLine(), "Timeout RS232-Line!");
    EXPECT_EQ(Dimmed(ui::Ctrl6), 1) << "after a time-out Run stays dimmed";
    EXPECT_EQ(Dimmed(ui::Ctrl22), 0);
}

TEST_F(LiveView, StopUndimsBothFramesStopsTheTimerAndResetsTheHistories) {
    RunFor(2);
    EXPECT_EQ(app::vars.stop_flag, 1);
    EXPECT_EQ(Dimmed(ui::Ctrl6), 0);
    EXPECT_EQ(Dimmed(ui::Ctrl22), 0);
    EXPECT_EQ(Attribute(panel, ui::Timer50ms, kAttrEnabled), 0);
    EXPECT_EQ(gui::vars.arrayRAW[gui::kRawValues - 1], 0);
    EXPECT_EQ(gui::vars.arrayNORM[gui::kNormValues - 2], vars.params.reference);
    EXPECT_EQ(gui::vars.arrayNORM[gui::kNormValues - 1], 0);
}

TEST_F(LiveView, SwitchingTheSourceDuringARunFeedsTheOtherChartFromTheNextReply) {
    SetCtrlVal(panel, ui::RNGGraphSource, gui::kSourceNorm);
    QTimer poll;
    bool switched = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!switched && controller.liveReplies >= 3) {
            switched = true;
            SetCtrlVal(panel, ui::RNGGraphSource, gui::kSourceRaw);
            Commit(app::CC_RNGGraphSource);
        }
    });
    poll.start(1);
    controller.liveLimit = 10;
    Commit(app::CC_BTNRun);
    EXPECT_EQ(gui::vars.type, gui::kSourceRaw);
    EXPECT_EQ(Visible(ui::ChartRAW), 1);
    EXPECT_EQ(Visible(ui::ChartNORM), 0);
    EXPECT_EQ(gui::vars.arrayRAW[gui::kRawValues - 2], 500) << "RAW fed after the switch";
    EXPECT_EQ(gui::vars.arrayNORM[gui::kNormValues - 1], 400) << "NORM keeps its samples";
    EXPECT_EQ(gui::vars.arrayRAW[0], 0) << "RAW did not get every reply";
}

TEST_F(LiveView, TimerTicksCountUpAndSaturate) {
    vars.ttick = 59999;
    for (int i = 0; i < 3; ++i)
        app::CC_Timer50ms(panel, ui::Timer50ms, kEventTimerTick, nullptr, 0, 0);
    EXPECT_EQ(vars.ttick, 60000);
    app::CC_Timer50ms(panel, ui::Timer50ms, kEventCommit, nullptr, 0, 0);
    EXPECT_EQ(vars.ttick, 60000);
}

TEST_F(LiveView, RawCaptureReadsFourBlocksThenOneLiveRequest) {
    SetCtrlVal(panel, ui::RNGGraphSource, gui::kSourceRaw);
    const std::size_t before = peer.Requests().size();
    const double raw         = gui::vars.arrayRAW[gui::kRawValues - 2];
    Commit(app::CC_BTNData);
    const std::vector<Bytes> requests = peer.Requests();
    ASSERT_EQ(requests.size(), before + 5);
    for (int block = 0; block < 4; ++block) {
        const Bytes &r = requests[before + block];
        EXPECT_EQ(r[3], kCmdDataBlock);
        EXPECT_EQ(FrameWord(r, 0), 64 * block);
        EXPECT_EQ(FrameWord(r, 1), 0);
    }
    EXPECT_EQ(requests.back()[3], kCmdLive);
    EXPECT_EQ(vars.yArrayA[1], 1);
    EXPECT_EQ(vars.yArrayA[127], 127);
    EXPECT_EQ(vars.yArrayB[0], 128);
    EXPECT_EQ(Visible(ui::GraphDATA), 1);
    EXPECT_EQ(Visible(ui::ChartRAW), 0);
    EXPECT_EQ(Visible(ui::ChartNORM), 0);
    EXPECT_EQ(Dimmed(ui::Ctrl6), 0);
    EXPECT_NE(gui::vars.arrayRAW[gui::kRawValues - 2], raw) << "the live reply moved RAW on";
    EXPECT_EQ(gui::vars.refArray[0], 510) << "reference line at the controller's value";
}

TEST_F(LiveView, NormCaptureReadsTwoBlocksAndKeepsCurveB) {
    SetCtrlVal(panel, ui::RNGGraphSource, gui::kSourceNorm);
    vars.yArrayB[5]          = 77;
    const std::size_t before = peer.Requests().size();
    Commit(app::CC_BTNData);
    const std::vector<Bytes> requests = peer.Requests();
    ASSERT_EQ(requests.size(), before + 3);
    EXPECT_EQ(FrameWord(requests[before + 1], 0), 64);
    EXPECT_EQ(FrameWord(requests[before + 1], 1), 1);
    EXPECT_EQ(vars.yArrayA[64], 1064);
    EXPECT_EQ(vars.yArrayB[5], 77);
}

TEST_F(LiveView, CaptureWhoseBlocksAllTimeOutDrawsFlatCurvesAndStaysUsable) {
    controller.silent[9] = true;
    std::fill(vars.yArrayA, vars.yArrayA + 128, 9);
    SetCtrlVal(panel, ui::RNGGraphSource, gui::kSourceNorm);
    Commit(app::CC_BTNData);
    EXPECT_EQ(vars.yArrayA[0], 0);
    EXPECT_EQ(vars.yArrayA[127], 0);
    EXPECT_EQ(StatusLine(), "Timeout-RS-232 while reading 64 data-words!");
    controller.silent[9] = false;
    RunFor(2);
    EXPECT_GE(controller.liveReplies, 2);
}

TEST_F(LiveView, SourceChangeAfterACaptureLeavesTheGraphBesideTheChart) {
    Commit(app::CC_BTNData);
    SetCtrlVal(panel, ui::RNGGraphSource, gui::kSourceRaw);
    Commit(app::CC_RNGGraphSource);
    EXPECT_EQ(Visible(ui::GraphDATA), 1);
    EXPECT_EQ(Visible(ui::ChartRAW), 1);
    RunFor(1);
    EXPECT_EQ(Visible(ui::GraphDATA), 0);
}

// --- Recording and export ---

TEST_F(LiveView, RecordingWritesTheHeaderThenOneRowPerReplyWithTheIndicatorValues) {
    ProjectDir project;
    SetCtrlVal(panel, ui::CHKRecord, 1);
    controller.liveLimit = 5;
    Commit(app::CC_BTNRun); // ends by the time-out, which must write the rows still waiting
    const std::vector<std::string> files = project.Files("RMX7live-");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(std::filesystem::path(files[0]).filename().string().size(),
              std::strlen("RMX7live-yyyymmdd-hhmmss.csv"));
    const std::vector<std::string> lines = Lines(files[0]);
    ASSERT_EQ(lines.size(), 5u + 5u);
    EXPECT_EQ(lines[0], "# program K-VEX-RMX7-PIRA-Scope V2.0");
    EXPECT_EQ(lines[1], "# firmware " + controller.firmware);
    EXPECT_EQ(lines[2], "# port COM1 " + peer.path());
    std::string words = "# parameters";
    for (std::uint16_t word : controller.ram)
        words += " " + std::to_string(word);
    EXPECT_EQ(lines[3], words) << "the set fetched at the port set-up";
    EXPECT_EQ(lines[4], "time_s,valNORM,adcCHA,adcCHB,Amax,Amin,UPval,LOval,refval,instate");
    double previous = -1;
    for (std::size_t row = 5; row < lines.size(); ++row) {
        const std::vector<std::string> f = Fields(lines[row]);
        ASSERT_EQ(f.size(), 10u) << lines[row];
        EXPECT_EQ(f[0].size() - f[0].find('.'), 4u) << "three decimals: " << f[0];
        EXPECT_GE(std::stod(f[0]), previous);
        previous = std::stod(f[0]);
    }
    const std::vector<std::string> last = Fields(lines.back());
    const std::pair<int, int> shown[]   = {{1, ui::valNORM}, {2, ui::adcCHA}, {4, ui::Amax},
                                           {5, ui::Amin},    {6, ui::UPval},  {7, ui::LOval}};
    for (const auto &[column, indicator] : shown)
        EXPECT_EQ(std::stoi(last[column]), Value(indicator)) << "column " << column;
    EXPECT_EQ(last[3], "450") << "adcCHB";
    EXPECT_EQ(last[8], "510") << "refval";
    EXPECT_EQ(last[9], "1") << "instate";
    EXPECT_FALSE(record::vars.active);
}

TEST_F(LiveView, ARecordingThatCannotBeWrittenEndsWhileTheRunGoesOn) {
    ProjectDir project;
    SetCtrlVal(panel, ui::CHKRecord, 1);
    bool removed = false, dimmedDuringRun = false;
    int repliesAtFailure = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!removed && controller.liveReplies >= 3) {
            removed         = true;
            dimmedDuringRun = Dimmed(ui::BTNSaveChart) == 1 && Dimmed(ui::BTNSaveCurve) == 1 &&
                              Dimmed(ui::BTNViewRecording) == 1; // a modal dialog stalls the line
            std::filesystem::remove_all(project.path);
        }
        if (removed && !record::vars.active && repliesAtFailure == 0)
            repliesAtFailure = controller.liveReplies;
        if (repliesAtFailure > 0 && controller.liveReplies > repliesAtFailure + 3)
            Commit(app::CC_BTNStop);
    });
    poll.start(1);
    QTimer::singleShot(10000, [this] { Commit(app::CC_BTNStop); });
    Commit(app::CC_BTNRun);
    ASSERT_GT(repliesAtFailure, 0) << "the failed write must end the recording";
    EXPECT_TRUE(dimmedDuringRun);
    EXPECT_EQ(Value(ui::CHKRecord), 0);
    const std::vector<std::string> texts = StatusTexts();
    EXPECT_NE(std::find_if(texts.begin(), texts.end(),
                           [](const std::string &t) {
                               return t.rfind("Recording stopped - cannot write RMX7live-", 0) == 0;
                           }),
              texts.end());
    EXPECT_EQ(Dimmed(ui::BTNSaveChart), 0);
    EXPECT_EQ(Dimmed(ui::BTNViewRecording), 0);
}

TEST_F(LiveView, SavingACaptureWritesItsCsvPngAndPdfAndTheChartItsPng) {
    ProjectDir project;
    EXPECT_EQ(Dimmed(ui::BTNSaveCurve), 1) << "nothing captured yet";
    SetFileSelectResponder(ChoosePath);
    for (int source : {gui::kSourceNorm, gui::kSourceRaw}) {
        SetCtrlVal(panel, ui::RNGGraphSource, source);
        Commit(app::CC_BTNData);
        EXPECT_EQ(Dimmed(ui::BTNSaveCurve), 0);
        chosenPath = (project.path / "curve.csv").string();
        Commit(app::CC_BTNSaveCurve);
        const std::vector<std::string> lines = Lines(chosenPath);
        ASSERT_EQ(lines.size(), 4u + 1u + 128u) << StatusLine();
        EXPECT_EQ(lines[3].rfind("# parameters 640 300", 0), 0u);
        const bool raw = source == gui::kSourceRaw;
        EXPECT_EQ(lines[4], raw ? "x,A,B" : "x,NORM,upper,lower,reference");
        EXPECT_EQ(Fields(lines[5]).size(), raw ? 3u : 5u);
        EXPECT_EQ(Fields(lines[5])[0], "1");
        EXPECT_EQ(Fields(lines.back())[0], "128");
        EXPECT_EQ(std::stoi(Fields(lines.back())[1]), vars.yArrayA[127]);
        EXPECT_EQ(Head((project.path / "curve.png").string(), 4), "\x89PNG");
        EXPECT_EQ(Head((project.path / "curve.pdf").string(), 5), "%PDF-");
        EXPECT_EQ(StatusLine(), "Curve saved: curve.csv, .png, .pdf");
    }
    chosenPath = (project.path / "chart.png").string();
    Commit(app::CC_BTNSaveChart);
    EXPECT_EQ(Head(chosenPath, 4), "\x89PNG");
    EXPECT_TRUE(project.Files("curve.csv.part").empty() && project.Files("chart.png.").empty());
    chosenPath = (project.path / "gone" / "curve.csv").string();
    Commit(app::CC_BTNSaveCurve);
    EXPECT_EQ(StatusLine(), "Curve not saved - cannot write curve.csv!");
    SetFileSelectResponder(nullptr);
}
