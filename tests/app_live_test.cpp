// Run, Stop, chart switching, the data curve capture, the recording of a run and the
// export of a capture, against a controller stand-in on a pty.
#include "support/limits.h"
#include "support/panel_fixture.h"

#include "app.h"
#include "com232.h"
#include "exports.h"
#include "gui.h"
#include "platform/panel/dialogs.h"
#include "platform/panel/events.h"
#include "platform/panel/panel.h"
#include "platform/serial/serial.h"
#include "record.h"
#include "recording_file.h"
#include "ui.h"

#include <QApplication>
#include <QTimer>
#include <qcustomplot.h>

#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <tuple>
#include <unistd.h>

using namespace com232;
namespace fs = std::filesystem;

namespace {

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

std::string Head(const fs::path &path, std::size_t count) {
    std::string bytes(count, '\0');
    std::ifstream(path, std::ios::binary).read(bytes.data(), static_cast<std::streamsize>(count));
    return bytes;
}

const QCustomPlot *Plot(const char *name) {
    for (QWidget *widget : QApplication::allWidgets())
        if (widget->objectName() == name)
            return widget->findChild<QCustomPlot *>();
    return nullptr;
}

const QCustomPlot *DataGraph() {
    return Plot("GraphDATA");
}

// The report's form: what it offered last, answered as an operator fills it, or cancelled.
std::vector<FormField> offered;
bool formCancelled = false;
int FillReportForm(const char *, std::vector<FormField> &fields) {
    offered = fields;
    if (formCancelled)
        return kSelectCancel;
    for (std::size_t k = 0; k < fields.size(); ++k)
        fields[k].value = std::vector<std::string>{"Jana", "U-4711", "Line 3/7", "Mounted."}[k];
    return 1;
}

std::string chosenPath; // what the save dialog answers
int ChoosePath(const char *, int, char *pathName) {
    std::snprintf(pathName, kPathSize, "%s", chosenPath.c_str());
    return kSelectNew;
}

} // namespace

class LiveView : public ControllerTest {
  protected:
    void SetUp() override {
        ControllerTest::SetUp();
        InitRS232(1);
        project = fs::temp_directory_path() / ("rmx7-project-" + std::to_string(getpid()));
        fs::create_directories(project);
        program().SetProjectDir(project.string());
    }
    void TearDown() override {
        fs::remove_all(project);
        ControllerTest::TearDown();
    }
    std::vector<std::string> Recordings() const {
        std::vector<std::string> found;
        for (const auto &entry : fs::directory_iterator(project))
            if (entry.path().filename().string().rfind("RMX7live-", 0) == 0)
                found.push_back(entry.path().string());
        return found;
    }
    void Capture(int source) {
        SetCtrlVal(panel, ui::RNGGraphSource, source);
        Raise(app::CC_BTNData);
    }
    // Visible RAW chart, NORM chart, data graph.
    std::vector<int> Shown() const {
        return Attributes(kAttrVisible, {ui::ChartRAW, ui::ChartNORM, ui::GraphDATA});
    }
    int Dimmed(int control) const { return Attribute(control, kAttrDimmed); }

    fs::path project;
};

TEST_F(LiveView, RunKeepsOneRequestOutstandingAndPlotsEveryReplyOnce) {
    SetCtrlVal(panel, ui::RNGGraphSource, kSourceRaw);
    controller.live[8]   = 1; // the lower state bit: LED 1 only
    controller.liveLimit = 5;
    Raise(app::CC_BTNRun); // ends by the time-out
    const std::vector<Bytes> requests = peer.Requests();
    EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                            [](const Bytes &r) { return r[3] == kCmdLive; }),
              6)
        << "one request after each of the five replies";
    EXPECT_EQ(FrameWord(requests.back(), 0), ParameterSet().power) << "requests carry the set";
    for (int k = 1; k <= 5; ++k)
        EXPECT_EQ(panelModule().RawHistory()[gui::kRawValues - 2 * k], 500) << k;
    EXPECT_EQ(panelModule().RawHistory()[gui::kRawValues - 12], 0)
        << "each reply plotted exactly once";
    QCoreApplication::processEvents(); // the chart's queued redraw
    EXPECT_EQ(Plot("ChartRAW")->graph(1)->dataCount(), 5)
        << "the history's fill is kept, but not drawn as a drop to zero";
    EXPECT_EQ(panelModule().RawHistory()[gui::kRawValues - 1], 450) << "channel B beside A";
    EXPECT_EQ(Values({ui::adcCHA, ui::Amax, ui::Amin, ui::UPval, ui::LOval, ui::LEDState1,
                      ui::LEDState2}),
              (std::vector<int>{500, 800, 100, 520, 480, 1, 0}));
    EXPECT_EQ(Shown(), (std::vector<int>{1, 0, 0}));
    EXPECT_EQ(StatusLine(), "Timeout RS232-Line!");
    EXPECT_EQ(Attributes(kAttrDimmed, {ui::Ctrl6, ui::Ctrl22}), (std::vector<int>{1, 0}))
        << "after a time-out Run stays dimmed";
}

TEST_F(LiveView, StopUndimsBothFramesStopsTheTimerAndResetsTheHistories) {
    RunFor(2);
    EXPECT_EQ(Attributes(kAttrDimmed, {ui::Ctrl6, ui::Ctrl22}), (std::vector<int>{0, 0}));
    EXPECT_EQ(Attribute(ui::Timer50ms, kAttrEnabled), 0);
    EXPECT_EQ(panelModule().RawHistory()[gui::kRawValues - 1], 0);
    EXPECT_EQ(panelModule().NormHistory()[gui::kNormValues - 2], ParameterSet().reference);
    EXPECT_EQ(panelModule().NormHistory()[gui::kNormValues - 1], 0);
}

TEST_F(LiveView, CapturesReadTheirBlocksThenOneLiveRequestAndDrawOnFixedAxes) {
    const struct {
        int source;
        std::size_t blocks;
        int a1, a127, b0, curves; // the fake sends word i as source * 1000 + i
    } cases[] = {{kSourceRaw, 4, 1, 127, 128, 2}, {kSourceNorm, 2, 1001, 1127, 128, 4}};
    for (const auto &c : cases) {
        const std::size_t before = peer.Requests().size();
        Capture(c.source);
        const std::vector<Bytes> requests = peer.Requests();
        ASSERT_EQ(requests.size(), before + c.blocks + 1);
        for (std::size_t block = 0; block < c.blocks; ++block) {
            const Bytes &r = requests[before + block];
            EXPECT_EQ(Bytes(r.begin(), r.begin() + 8),
                      (Bytes{0, 0x55, 0, kCmdDataBlock, 0, std::uint8_t(64 * block), 0,
                             std::uint8_t(c.source)}));
        }
        EXPECT_EQ(requests.back()[3], kCmdLive);
        EXPECT_EQ((std::vector<int>{Curves().a[1], Curves().a[127], Curves().b[0]}),
                  (std::vector<int>{c.a1, c.a127, c.b0}))
            << "NORM keeps curve B";
        EXPECT_EQ(program().Exports().LastCapture()->reference[0], 510)
            << "reference line at the controller's value";
        EXPECT_EQ(Shown(), (std::vector<int>{0, 0, 1}));
        EXPECT_EQ(Dimmed(ui::Ctrl6), 0);
        EXPECT_EQ(DataGraph()->plottableCount(), c.curves);
        EXPECT_EQ(DataGraph()->xAxis->range(), QCPRange(1, 128));
        EXPECT_EQ(DataGraph()->yAxis->range(), QCPRange(0, 1023));
    }
    SetCtrlVal(panel, ui::RNGGraphSource, kSourceRaw);
    Raise(app::CC_RNGGraphSource);
    EXPECT_EQ(Shown(), (std::vector<int>{1, 0, 1})) << "the graph stays beside the chart";
    RunFor(1);
    EXPECT_EQ(Shown(), (std::vector<int>{1, 0, 0})) << "until Run";
}

TEST_F(LiveView, RecordingWritesTheHeaderThenOneRowPerReplyInSecondsSinceRun) {
    SetCtrlVal(panel, ui::CHKRecord, 1);
    controller.liveLimit       = 5;
    controller.delay[kCmdLive] = 0.15; // the last row still waits for the disk at the end
    const double start         = Timer();
    Raise(app::CC_BTNRun); // ends by the time-out, which must write the rows still waiting
    const double runSeconds              = Timer() - start;
    const std::vector<std::string> files = Recordings();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(fs::path(files[0]).filename().string().size(), 28u) << "RMX7live-yyyymmdd-hhmmss.csv";
    const std::vector<std::string> lines = Lines(files[0]);
    ASSERT_EQ(lines.size(), 6u + 5u);
    EXPECT_EQ(lines[0], "# program K-VEX-RMX7-PIRA-Scope V2.0");
    EXPECT_EQ(lines[1], "# firmware " + controller.firmware);
    EXPECT_EQ(lines[2], "# port COM1 " + peer.path());
    EXPECT_EQ(lines[3], "# parameters 640 300 12 0 90 1 3 1 25 55 4 0 0 0 0 0")
        << "the set fetched at the port set-up";
    // The run's start in UTC, which a historian adds time_s to.
    std::tm utc{};
    EXPECT_EQ(lines[4].size(), std::string("# run start 2026-03-04T09:15:02.123Z").size());
    const char *rest = strptime(lines[4].c_str(), "# run start %Y-%m-%dT%H:%M:%S", &utc);
    ASSERT_TRUE(rest) << lines[4];
    EXPECT_EQ(std::string(rest).substr(4), "Z");
    const double started = static_cast<double>(timegm(&utc)) + std::stod(rest);
    EXPECT_NEAR(started, static_cast<double>(std::time(nullptr)) - runSeconds, 2.0);
    EXPECT_EQ(lines[5], "time_s,valNORM,adcCHA,adcCHB,Amax,Amin,UPval,LOval,refval,instate");
    double previous = 0;
    for (std::size_t row = 6; row < lines.size(); ++row) {
        const std::string time = Fields(lines[row])[0];
        EXPECT_EQ(time.size() - time.find('.'), 4u) << "three decimals: " << time;
        EXPECT_GE(std::stod(time), previous + 0.1) << "a reply every 0.15 s";
        previous = std::stod(time);
    }
    EXPECT_LT(previous, runSeconds) << "seconds since Run";
    const std::vector<std::string> last = Fields(lines.back());
    ASSERT_EQ(last.size(), 10u);
    const std::pair<int, int> shown[] = {{1, ui::valNORM}, {2, ui::adcCHA}, {4, ui::Amax},
                                         {5, ui::Amin},    {6, ui::UPval},  {7, ui::LOval}};
    for (const auto &[column, indicator] : shown)
        EXPECT_EQ(std::stoi(last[column]), Value(indicator)) << "column " << column;
    EXPECT_EQ(last[3] + last[8] + last[9], "4505101") << "adcCHB, refval, instate";
    EXPECT_FALSE(program().Recorder().Recording());
    const std::string tip = ToolTip();
    EXPECT_EQ(tip.substr(tip.find('\n') + 1), "Recorded to " + program().Recorder().RecordingPath())
        << "below why the run ended: " << tip;
}

TEST_F(LiveView, ARecordingThatCannotBeWrittenEndsWhileTheRunGoesOn) {
    SetCtrlVal(panel, ui::CHKRecord, 1);
    bool removed = false, dimmedDuringRun = false;
    int repliesAtFailure = 0;
    RunWhile([&] {
        if (!removed && controller.liveReplies >= 3) {
            removed         = true;
            dimmedDuringRun = Dimmed(ui::BTNSaveChart) == 1 && Dimmed(ui::BTNSaveCurve) == 1 &&
                              Dimmed(ui::BTNViewRecording) == 1 &&
                              Dimmed(ui::BTNReport) == 1; // a modal dialog stalls the line
            fs::remove_all(project);
        }
        if (removed && !program().Recorder().Recording() && repliesAtFailure == 0)
            repliesAtFailure = controller.liveReplies;
        if (repliesAtFailure > 0 && controller.liveReplies > repliesAtFailure + 3)
            Stop();
    });
    ASSERT_GT(repliesAtFailure, 0) << "the failed write must end the recording";
    EXPECT_TRUE(dimmedDuringRun);
    EXPECT_EQ(Value(ui::CHKRecord), 0);
    EXPECT_EQ(StatusLine().rfind("Recording stopped - cannot write RMX7live-", 0), 0u)
        << StatusLine();
    EXPECT_EQ(Dimmed(ui::BTNSaveChart), 0);
    EXPECT_EQ(Dimmed(ui::BTNViewRecording), 0);
    EXPECT_EQ(Dimmed(ui::BTNReport), 0);

    // A file-size limit (ulimit -f) ends the recording with its reason, not the program;
    // the rows that did not fit are cut back, so that the file holds whole lines.
    record::Recorder &recorder = program().Recorder();
    {
        const ProcessLimit small(RLIMIT_FSIZE, 1024);
        recorder.StartRecording();
        for (int row = 0; row < 100; ++row)
            recorder.AppendReply(LiveReply{}, recorder.RunStart() + row);
        recorder.StopRecording();
    }
    const std::string name = fs::path(recorder.RecordingPath()).filename().string();
    EXPECT_EQ(StatusLine(), "Recording stopped - cannot write " + name + ": File too large!");
    EXPECT_FALSE(recorder.Recording());
    EXPECT_EQ(Lines(recorder.RecordingPath()).back(), std::string(recording::kHeader));
}

TEST_F(LiveView, SavingACaptureWritesItsCsvPngAndPdfWholeAndTheChartItsPng) {
    EXPECT_EQ(Dimmed(ui::BTNSaveCurve), 1) << "nothing captured yet";
    SetFileSelectResponder(ChoosePath);
    const fs::path csv = project / "curve.csv", old = project / "old.csv";
    for (int source : {kSourceNorm, kSourceRaw}) {
        std::ofstream(csv) << "old\n";
        fs::create_hard_link(csv, old);
        Capture(source);
        EXPECT_EQ(Dimmed(ui::BTNSaveCurve), 0);
        chosenPath = csv.string();
        Raise(app::CC_BTNSaveCurve);
        EXPECT_EQ(Lines(old.string()), std::vector<std::string>{"old"})
            << "replaced, not rewritten";
        fs::remove(old);
        const std::vector<std::string> lines = Lines(chosenPath);
        ASSERT_EQ(lines.size(), 4u + 1u + 128u) << StatusLine();
        EXPECT_EQ(lines[3].rfind("# parameters 640 300", 0), 0u);
        const bool raw = source == kSourceRaw;
        EXPECT_EQ(lines[4], raw ? "x,A,B" : "x,NORM,upper,lower,reference");
        EXPECT_EQ(Fields(lines[5]).size(), raw ? 3u : 5u);
        EXPECT_EQ(Fields(lines[5])[0], "1");
        EXPECT_EQ(Fields(lines.back())[0], "128");
        EXPECT_EQ(std::stoi(Fields(lines.back())[1]), Curves().a[127]);
        EXPECT_EQ(Head(project / "curve.png", 4), "\x89PNG");
        EXPECT_EQ(Head(project / "curve.pdf", 5), "%PDF-");
        EXPECT_EQ(StatusLine(), "Curve saved: curve.csv, .png, .pdf");
    }
    chosenPath = (project / "chart.png").string();
    Raise(app::CC_BTNSaveChart);
    EXPECT_EQ(Head(chosenPath, 4), "\x89PNG");
    EXPECT_FALSE(fs::exists(csv.string() + ".part") || fs::exists(chosenPath + ".part"));
    chosenPath = (project / "gone" / "curve.csv").string();
    Raise(app::CC_BTNSaveCurve);
    EXPECT_EQ(StatusLine(), "Curve not saved - cannot write curve.csv!");
    SetFileSelectResponder(nullptr);
}

TEST_F(LiveView, AReportReadsBothMemoriesAsGetDoesAndLeavesWhatTheOperatorSetUp) {
    controller.eeprom[0] = 600, controller.eeprom[6] = 7, controller.eeprom[12] = 9;
    SetFileSelectResponder(ChoosePath);
    chosenPath = (project / "unit.dat").string();
    SetCtrlVal(panel, ui::RBTFile, 1);
    Raise(app::CC_RBTFile, kEventValueChanged, ui::RBTFile);
    Raise(app::CC_BTNSend, kEventLeftClick); // the file of the session, and the target
    SetCtrlVal(panel, ui::power, 777);       // typed, not sent
    Capture(kSourceNorm);
    const std::initializer_list<int> controls = {
        ui::power,  ui::reference, ui::hysteresis, ui::polarity, ui::hold,
        ui::hwmode, ui::evalmode,  ui::mmtime,     ui::mmthd,    ui::sdelay};
    const auto setUp = [&] {
        return std::tuple(Values(controls), Attributes(kAttrNotSent, controls), Target(),
                          WordsOf(ParameterSet()), program().Exports().LastCapture()->a,
                          program().Exports().LastCaptureTime());
    };
    const auto before          = setUp();
    const std::size_t previous = peer.Requests().size();
    chosenPath                 = (project / "unit.pdf").string();
    setenv("XDG_CONFIG_HOME", (project / "config").c_str(), 1);
    SetFormResponder(FillReportForm);
    formCancelled = false;
    Raise(app::CC_BTNReport);
    ASSERT_EQ(offered.size(), 4u);
    EXPECT_FALSE(offered[0].value.empty()) << "the login name the first time";
    EXPECT_EQ(offered[1].value + offered[2].value, "");

    EXPECT_EQ(setUp(), before);
    const std::vector<Bytes> requests = peer.Requests();
    ASSERT_EQ(requests.size(), previous + 2);
    for (int i : {0, 1}) {
        EXPECT_EQ(requests[previous + i][3], i == 0 ? kCmdReadRam : kCmdReadEeprom);
        EXPECT_EQ(sim::FrameWords(requests[previous + i]), WordsOf(ParameterSet()))
            << "Get's request carries the set as it stands";
    }
    const std::vector<std::string> texts = StatusTexts();
    EXPECT_EQ(std::vector(texts.end() - 5, texts.end()),
              (std::vector<std::string>{"Transmit Ok!", "Data Transfer Ok!", "Transmit Ok!",
                                        "Data Transfer Ok!", "Report saved: unit.pdf"}));
    std::system(("pdftotext -layout " + chosenPath + " " + chosenPath + ".txt").c_str());
    const std::string text = [&] {
        std::ifstream in(chosenPath + ".txt");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }();
    // Word, name, label, RAM, EEPROM, the mark, the panel's value and its mark, the file's.
    EXPECT_TRUE(std::regex_search(
        text, std::regex(R"(0 +power +Power +640 +600 +≠ differs +777 +not sent +640\n)")))
        << text;
    EXPECT_NE(text.find("differ in 3 of 16 words"), std::string::npos);
    EXPECT_NE(text.find("parameter file " + (project / "unit.dat").string()), std::string::npos);
    EXPECT_NE(text.find("Source NORM"), std::string::npos);
    EXPECT_TRUE(std::regex_search(text, std::regex(R"(Operator +Jana\n)"))) << "not the login";
    EXPECT_TRUE(std::regex_search(text, std::regex(R"(Unit U-4711, station Line 3/7 +Page 1)")));
    // The form remembers its last entries; a cancelled one sends nothing.
    formCancelled = true;
    Raise(app::CC_BTNReport);
    EXPECT_EQ(offered[0].value + "|" + offered[1].value + "|" + offered[2].value + "|" +
                  offered[3].value,
              "Jana|U-4711|Line 3/7|Mounted.");
    EXPECT_EQ(peer.Requests().size(), previous + 2);
    SetFormResponder(nullptr);
    SetFileSelectResponder(nullptr);
}

TEST_F(PanelTest, AReplyShowsEachValueOnItsTraceItsIndicatorAndItsLeds) {
    com232::Parameters params = ParameterSet();
    params.reference          = 512;
    SetParameterSet(params);
    const struct {
        int hwmode, state;
        int reference; // shown on valREF and NORM trace 3
        int led1, led2;
    } cases[] = {
        {0, 0, 512, 0, 0}, {2, 1, 512, 1, 0}, {1, 2, 688, 0, 1},
        {3, 3, 688, 1, 1}, {1, 4, 688, 1, 1}, // a state out of range leaves the LEDs as they were
    };
    for (const auto &c : cases) {
        SetCtrlVal(panel, ui::hwmode, c.hwmode);
        LiveReply reply;
        reply.valNORM = 0xFFFF, reply.adcCHA = 101, reply.adcCHB = 102, reply.Amax = 103;
        reply.Amin = 104, reply.UPval = 105, reply.LOval = 106, reply.refval = 688;
        reply.instate = static_cast<std::uint16_t>(c.state);
        panelModule().PlotNORMValues(reply);
        panelModule().PlotRAWValues(reply);
        const double *norm = panelModule().NormHistory() + gui::kNormValues - 4;
        EXPECT_EQ((std::vector<double>(norm, norm + 4)),
                  (std::vector<double>{0, 0, double(c.reference), 65535}))
            << "NORM traces: two at 0, the reference, NORM zero-extended; hwmode " << c.hwmode;
        const double *raw = panelModule().RawHistory() + gui::kRawValues - 2;
        EXPECT_EQ((std::vector<double>(raw, raw + 2)), (std::vector<double>{101, 102}));
        EXPECT_EQ(
            Values({ui::valNORM, ui::adcCHA, ui::adcCHB, ui::valREF, ui::Amax, ui::Amin, ui::UPval,
                    ui::LOval, ui::LEDState1, ui::LEDState2}),
            (std::vector<int>{65535, 101, 102, c.reference, 103, 104, 105, 106, c.led1, c.led2}))
            << "state " << c.state;
    }
}

TEST_F(LiveView, EndedByTheSystemTheProgramClosesAsItsWindowDoesWithEveryReplyARow) {
    SetCtrlVal(panel, ui::CHKRecord, 1);
    std::string device = peer.path().substr(std::string("/dev/").size()); // Qt's lock name
    std::replace(device.begin(), device.end(), '/', '_');
    const std::string lock = "/run/lock/LCK.." + device;
    QTimer::singleShot(0, [this] { app::CC_BTNRun(panel, 0, kEventCommit, &program(), 0, 0); });
    bool signalled = false, locked = false;
    EventHook hook(
        [&] {
            if (!signalled && controller.liveReplies >= 5) {
                signalled = true;
                locked    = fs::exists(lock) || !fs::exists("/run/lock");
                kill(getpid(), SIGTERM);
            }
        },
        10, [] { QuitUserInterface(0); });
    program().RunPanel();
    EXPECT_TRUE(signalled && locked) << lock;
    EXPECT_FALSE(program().RunGoing());
    EXPECT_LT(GetInQLen(1), 0) << "the port is closed";
    EXPECT_FALSE(fs::exists(lock)) << "and its lock removed";
    const std::vector<std::string> read  = Trace("RX");
    const std::vector<std::string> files = Recordings();
    ASSERT_EQ(files.size(), 1u);
    // Every reply the program read since Run is a row: the start-up read three others.
    EXPECT_EQ(Lines(files[0]).size() - 6, read.size() - 3);
}
