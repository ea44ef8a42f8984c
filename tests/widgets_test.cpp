// Our own widgets on the main panel as a screen reader finds them, what a chart's legend
// names, and what a sample redraws.
#include "app.h"
#include "com232.h"
#include "gui.h"
#include "platform/panel/panel.h"
#include "platform/panel/panel_internal.h"
#include "ui.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QPaintEvent>

#include <gtest/gtest.h>

#include <qcustomplot.h>

namespace {

struct PaintCounter : QObject {
    int paints = 0;
    QRect painted; // the last paint's
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
            painted = static_cast<QPaintEvent *>(event)->rect();
        }
        return false;
    }
};

int loaded = 0; // the panel the last test loaded

QAccessibleInterface *Reader(int control) {
    return QAccessible::queryAccessibleInterface(platform::ControlWidget(loaded, control));
}

TEST(Widgets, IndicatorsLedsAndPlotsTellAReaderTheirNameAndValue) {
    ASSERT_GT(loaded = app::LoadMainPanel(), 0);
    const struct {
        int control, value;
        QString name, text;
        int shown;
    } cases[] = {{ui::valNORM, 65535, "NORM", "65535", 65535},
                 {ui::adcCHA, 70000, "A", "65535", 65535}, // the panel file's maximum
                 {ui::LEDState1, 1, "State 1", "on", 1},
                 {ui::LEDState2, 0, "State 2", "off", 0}};
    for (const auto &c : cases) {
        QAccessibleInterface *reader = Reader(c.control); // asked before the value changes
        ASSERT_TRUE(reader && reader->valueInterface()) << c.name.toStdString();
        SetCtrlVal(loaded, c.control, c.value);
        EXPECT_EQ(reader->text(QAccessible::Value), c.text) << c.name.toStdString();
        EXPECT_EQ(reader->valueInterface()->currentValue().toInt(), c.shown);
    }
    for (const auto &[control, name] : {std::pair{ui::ChartNORM, "NORM chart"},
                                        {ui::ChartRAW, "RAW chart"},
                                        {ui::GraphDATA, "Data curve graph"}}) {
        EXPECT_EQ(Reader(control)->role(), QAccessible::Chart);
        EXPECT_EQ(Reader(control)->text(QAccessible::Name), name);
    }
}

QStringList LegendOf(int control) {
    auto *plot = platform::ControlWidget(loaded, control)->findChild<QCustomPlot *>();
    QStringList shown;
    for (int item = 0; plot->legend->visible() && item < plot->legend->itemCount(); ++item)
        shown
            << static_cast<QCPPlottableLegendItem *>(plot->legend->item(item))->plottable()->name();
    return shown;
}

// NORM traces 1 and 2 are drawn at 0: the legend names only what the lines show. The data
// curve's names the curves of the capture drawn.
TEST(Widgets, AChartsLegendNamesOnlyTheTracesItShows) {
    ASSERT_GT(loaded = app::LoadMainPanel(), 0);
    app::Program program(loaded, testing::TempDir());
    EXPECT_EQ(LegendOf(ui::ChartNORM), (QStringList{"Reference", "NORM"}));
    EXPECT_EQ(LegendOf(ui::ChartRAW), (QStringList{"Channel A", "Channel B"}));
    EXPECT_EQ(LegendOf(ui::GraphDATA), QStringList()) << "no legend before a capture";
    SetCtrlVal(loaded, ui::RNGGraphSource, static_cast<int>(com232::GraphSource::Raw));
    program.Panel().PlotDATACurve({});
    EXPECT_EQ(LegendOf(ui::GraphDATA), (QStringList{"Channel A", "Channel B"}));
    SetCtrlVal(loaded, ui::RNGGraphSource, static_cast<int>(com232::GraphSource::Norm));
    program.Panel().PlotDATACurve({});
    EXPECT_EQ(LegendOf(ui::GraphDATA),
              (QStringList{"NORM", "Upper threshold", "Lower threshold", "Reference"}));
}

TEST(Widgets, ALiveSampleRedrawsOnlyTheTracesAndTheChangedDigits) {
    ASSERT_GT(loaded = app::LoadMainPanel(), 0);
    app::Program program(loaded, testing::TempDir());
    DisplayPanel(loaded);
    auto *plot     = platform::ControlWidget(loaded, ui::ChartNORM)->findChild<QCustomPlot *>();
    QWidget *group = platform::ControlWidget(loaded, ui::valNORM)->parentWidget();
    int replots    = 0;
    QObject::connect(plot, &QCustomPlot::beforeReplot, [&replots] { ++replots; });
    PaintCounter plotPaints, groupPaints;
    plot->installEventFilter(&plotPaints);
    group->installEventFilter(&groupPaints);
    for (int norm : {100, 101}) { // the first draws the new panel once whole
        replots = plotPaints.paints = groupPaints.paints = 0;
        com232::LiveReply reply;
        reply.valNORM = norm;
        program.Panel().PlotNORMValues(reply);
        for (int round = 0; round < 3; ++round) // the queued redraw, then its paint
            QCoreApplication::processEvents();
    }
    EXPECT_EQ(replots, 0) << "axes, grid, labels and legend drawn again for a sample";
    EXPECT_EQ(plotPaints.paints, 1);
    EXPECT_TRUE(plot->axisRect()->rect().adjusted(-1, -1, 1, 1).contains(plotPaints.painted))
        << "a sample repaints the title, the tick labels or the axis captions";
    EXPECT_EQ(groupPaints.paints, 0) << "a new value repaints the panel behind it";
}

} // namespace
