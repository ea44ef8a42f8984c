// The recording viewer's figures: a generated one-hour recording (a reply every 37.5 ms, as
// the line allows) opened in a viewer window, the redraw of one pan step over it, and the
// live rate against the paced rmx7sim while the operator pans that viewer. Offscreen;
// writes its own JSON file beside the other results.
#include "app.h"
#include "com232.h"
#include "gui.h"
#include "platform/panel/events.h"
#include "platform/panel/panel.h"
#include "platform/serial/ports.h"
#include "platform/serial/serial.h"
#include "platform/viewer/viewer.h"
#include "recording_file.h"
#include "sim_process.h"

#include <QApplication>
#include <QTimer>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr double kReplySeconds = 0.0375; // 72 bytes at 1920 bytes/s
constexpr int kHourRows        = 96000;  // one hour of replies
constexpr int kOpenings        = 5;
constexpr int kPanSteps        = 40;
constexpr double kOpenGoalMs   = 1000;
constexpr double kPanGoalMs    = 40; // a pan that keeps up with the pointer
constexpr double kLiveLimitHz  = 1.0 / kReplySeconds;
constexpr double kRunSeconds   = 10;
constexpr int kPanEveryMs      = 20; // a pointer dragging across the plot

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A target passing through the beam every few seconds, with noise on both channels, so the
// plot cannot draw fewer lines than it has pixels.
void WriteHourRecording(const std::string &path) {
    std::ofstream file(path);
    file << "# program K-VEX-RMX7-PIRA-Scope V2.0\n# firmware bench\n# port COM1 /dev/null\n"
            "# parameters 500 512 10 1 100 1 0 0 20 50 1 0 0 0 0 0\n"
         << recording::kHeader << "\n";
    unsigned noise = 12345;
    char row[128];
    for (int i = 0; i < kHourRows; ++i) {
        noise           = noise * 1103515245u + 12345u;
        const int n     = static_cast<int>(noise >> 16 & 0x3F) - 32;
        const double t  = i * kReplySeconds;
        const double in = std::max(0.0, std::sin(t * 0.9)) * 400;
        const int a = 300 + static_cast<int>(in) + n, b = 450 - static_cast<int>(in / 2) - n / 2;
        const int norm = 512 + static_cast<int>(in) + n;
        std::snprintf(row, sizeof row, "%.3f,%d,%d,%d,%d,%d,%d,%d,%d,%d\n", t, norm, a, b, 720, 280,
                      700, 600, 512,
                      norm > 700   ? 3
                      : norm > 600 ? 1
                                   : 0);
        file << row;
    }
}

QCustomPlot *ViewerPlot() {
    for (QWidget *window : QApplication::topLevelWidgets())
        if (auto *plot = window->findChild<QCustomPlot *>(); plot && window->isVisible())
            return plot;
    return nullptr;
}

// Milliseconds of one redraw after the key axes moved by a step, median over kPanSteps.
double PanMs(QCustomPlot *plot, double visibleSeconds) {
    const QList<QCPAxis *> keyAxes = [plot] {
        QList<QCPAxis *> axes;
        for (QCPAxisRect *rect : plot->axisRects())
            axes << rect->axis(QCPAxis::atBottom) << rect->axis(QCPAxis::atTop);
        return axes;
    }();
    for (QCPAxis *axis : keyAxes)
        axis->setRange(600, 600 + visibleSeconds);
    std::vector<double> ms;
    for (int step = 0; step < kPanSteps; ++step) {
        for (QCPAxis *axis : keyAxes)
            axis->moveRange(visibleSeconds / 50);
        const double start = Timer();
        plot->replot(QCustomPlot::rpImmediateRefresh);
        ms.push_back((Timer() - start) * 1000);
    }
    return Median(ms);
}

// Live replies per second of a run with the viewer open, while the pointer drags across
// its plot (a step every kPanEveryMs) or rests; from the simulator's exchange log.
double LiveRateWithViewer(app::Program &program, const std::string &simBinary,
                          const std::string &log, QCustomPlot *plot, bool dragging) {
    Simulator sim = StartSimulator(simBinary, {}, log);
    PortTableAdd(1, sim.pty);
    program.InitVars();
    program.Queue(program.SetUpPort(1));
    while (!program.Line().Idle())
        ProcessSystemEvents();
    const QPointF start(plot->width() / 2.0, plot->height() / 3.0);
    const auto send = [plot](QEvent::Type type, QPointF at, Qt::MouseButton button,
                             Qt::MouseButtons buttons) {
        QMouseEvent event(type, at, plot->mapToGlobal(at), button, buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(plot, &event);
    };
    int step = 0;
    QTimer pan;
    QObject::connect(&pan, &QTimer::timeout, [&] {
        const int phase = step++ % 40; // sweeps 200 px to the right and back
        send(QEvent::MouseMove, start + QPointF((phase < 20 ? phase : 40 - phase) * 10.0, 0),
             Qt::NoButton, Qt::LeftButton);
    });
    if (dragging) {
        send(QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
        pan.start(kPanEveryMs);
    }
    QTimer::singleShot(static_cast<int>(kRunSeconds * 1000), [&program] {
        app::CC_BTNStop(program.PanelHandle(), 0, kEventCommit, &program, 0, 0);
    });
    app::CC_BTNRun(program.PanelHandle(), 0, kEventCommit, &program, 0, 0);
    while (!program.Line().Idle())
        ProcessSystemEvents();
    if (dragging)
        send(QEvent::MouseButtonRelease, start, Qt::LeftButton, Qt::NoButton);
    pan.stop();
    CloseCom(1);
    StopProcess(sim.pid);
    const double rate = RepliesPerSecond(ReadLog(log), static_cast<int>(com232::Command::Live));
    std::remove(log.c_str());
    return rate;
}

} // namespace

int main(int argc, char **argv) {
    // The same hour as a file of its own, for the README's picture of the viewer.
    if (argc == 3 && std::string(argv[1]) == "--write-hour") {
        WriteHourRecording(argv[2]);
        return 0;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: rmx7viewbench RMX7SIM OUTPUT.json\n"
                             "       rmx7viewbench --write-hour RECORDING.csv\n");
        return 2;
    }
    const std::string simBinary = argv[1], output = argv[2];
    const std::string dir  = output.substr(0, output.find_last_of('/') + 1);
    const std::string path = dir + "view-hour.csv";
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    WriteHourRecording(path);
    const int panel = StartEngine(argc, argv) ? app::LoadMainPanel() : -1;
    if (panel < 0) {
        std::fprintf(stderr, "rmx7viewbench: cannot load the panel\n");
        return 1;
    }
    auto program = std::make_unique<app::Program>(panel, dir);

    std::vector<double> openMs;
    for (int i = 0; i < kOpenings; ++i) {
        CloseViewers();
        const double start      = Timer();
        const std::string error = app::ViewRecordingFile(path);
        ProcessSystemEvents(); // the first paint
        openMs.push_back((Timer() - start) * 1000);
        if (!error.empty()) {
            std::fprintf(stderr, "rmx7viewbench: %s\n", error.c_str());
            return 1;
        }
    }
    QCustomPlot *plot = ViewerPlot();
    if (!plot)
        return 1;
    const double panHourMs   = PanMs(plot, 3600);
    const double panMinuteMs = PanMs(plot, 60);
    plot->rescaleAxes();
    const std::string log = dir + "viewing-exchanges.txt";
    const double restRate = LiveRateWithViewer(*program, simBinary, log, plot, false);
    const double panRate  = LiveRateWithViewer(*program, simBinary, log, plot, true);
    CloseViewers();
    std::remove(path.c_str());

    const struct {
        const char *key;
        double value;
        const char *limit;
        double ratio;
        const char *goal;
    } figures[] = {
        {"view_open_ms", Median(openMs), "1000 ms", Median(openMs) / kOpenGoalMs, "<= 1"},
        {"view_pan_hour_ms", panHourMs, "40 ms", panHourMs / kPanGoalMs, "<= 1"},
        {"view_pan_minute_ms", panMinuteMs, "40 ms", panMinuteMs / kPanGoalMs, "<= 1"},
        {"live_rate_ratio_viewer_open", restRate / kLiveLimitHz, "1", -1, ">= 0.99"},
        {"live_rate_ratio_viewer_panned", panRate / kLiveLimitHz, "1", -1, ">= 0.95"},
    };
    std::ofstream json(output);
    json << "{\n";
    for (std::size_t i = 0; i < std::size(figures); ++i) {
        char ratio[16] = "";
        if (figures[i].ratio >= 0)
            std::snprintf(ratio, sizeof ratio, "%.3f", figures[i].ratio);
        std::printf("%-30s %12.3f %16s %8s  %s\n", figures[i].key, figures[i].value,
                    figures[i].limit, ratio, figures[i].goal);
        json << "  \"" << figures[i].key << "\": " << figures[i].value
             << (i + 1 < std::size(figures) ? ",\n" : "\n");
    }
    json << "}\n";
    program.reset();
    DiscardPanel(panel);
    StopEngine();
    return 0;
}
