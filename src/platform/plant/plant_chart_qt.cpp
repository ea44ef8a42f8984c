// A line's live chart: the panel's strip charts in a window of their own, fed with the
// line's live values, with the panel's indicators and LEDs; nothing in it acts on the line.
#include "plant_window.h"

#include "plant/closing_frame.h"
#include "widgets/led.h"
#include "widgets/strip_chart.h"

#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QShortcut>
#include <QVBoxLayout>

namespace plantview {

namespace {

constexpr int kPointsPerScreen = 101; // as the panel's charts
constexpr double kChartLow     = 0;
constexpr double kChartHigh    = 1023;
const QSize kChartSize(900, 520);
const QColor kLedOn(0x00, 0xd0, 0x00);

// The indicators, by the names the panel gives them.
constexpr const char *kIndicators[] = {"NORM",    "Channel A", "Channel B", "Maximum",
                                       "Minimum", "Upper",     "Lower",     "Reference"};
constexpr int kIndicatorCount       = static_cast<int>(std::size(kIndicators));

StripChart *Chart(QWidget *parent, const char *title, int traces, const char *colours,
                  const char *names, const QString &accessible) {
    auto *chart = new StripChart(parent);
    chart->SetNumTraces(traces);
    chart->SetPointsPerScreen(kPointsPerScreen);
    chart->SetTitle(title);
    chart->SetYName(QObject::tr("ADC units"));
    chart->SetTraceColors(colours);
    chart->SetTraceNames(names);
    chart->SetYMin(kChartLow);
    chart->SetYMax(kChartHigh);
    chart->setAccessibleName(accessible);
    chart->setMinimumHeight(160);
    return chart;
}

} // namespace

struct LiveChart::Impl {
    QPointer<ClosingFrame> frame;
    QLabel *caption   = nullptr;
    QComboBox *source = nullptr;
    StripChart *norm = nullptr, *raw = nullptr;
    QLabel *values[kIndicatorCount] = {};
    Led *leds[2]                    = {};
};

LiveChart::LiveChart(const std::string &title, std::function<void()> closed)
    : impl_(std::make_unique<Impl>()) {
    Impl &d         = *impl_;
    d.frame         = new ClosingFrame;
    d.frame->closed = std::move(closed);
    d.frame->setWindowTitle(QString::fromStdString(title));
    d.frame->setAccessibleName(QString::fromStdString(title));
    auto *column = new QVBoxLayout(d.frame);
    auto *top    = new QHBoxLayout;
    d.caption    = new QLabel(d.frame);
    d.caption->setTextFormat(Qt::PlainText); // the line's texts come from the broker
    d.caption->setAccessibleName(QObject::tr("Line"));
    d.source = new QComboBox(d.frame);
    d.source->addItems({QStringLiteral("RAW"), QStringLiteral("NORM")});
    d.source->setCurrentIndex(1);
    d.source->setAccessibleName(QObject::tr("Graph"));
    auto *sourceLabel = new QLabel(QObject::tr("&Graph:"), d.frame);
    sourceLabel->setBuddy(d.source);
    top->addWidget(d.caption, 1);
    top->addWidget(sourceLabel);
    top->addWidget(d.source);
    column->addLayout(top);
    // The controller's switching levels in the threshold lines' dark green, as the panel
    // draws them in a NORM data curve.
    d.norm = Chart(d.frame, "NORM", 4, "#008000,#008000,#000000,#ff0000",
                   "Upper,Lower,Reference,NORM", QObject::tr("NORM chart"));
    d.raw  = Chart(d.frame, "RAW", 2, "#0000ff,#00a000", "Channel A,Channel B",
                   QObject::tr("RAW chart"));
    d.raw->hide();
    column->addWidget(d.norm, 1);
    column->addWidget(d.raw, 1);
    auto *readings = new QGridLayout;
    for (int i = 0; i < kIndicatorCount; ++i) {
        auto *name  = new QLabel(QObject::tr(kIndicators[i]), d.frame);
        d.values[i] = new QLabel(QStringLiteral("-"), d.frame);
        d.values[i]->setAccessibleName(QObject::tr(kIndicators[i]));
        d.values[i]->setMinimumWidth(d.values[i]->fontMetrics().horizontalAdvance("000000"));
        readings->addWidget(name, 0, i);
        readings->addWidget(d.values[i], 1, i);
    }
    for (int bit = 0; bit < 2; ++bit) {
        d.leds[bit] = new Led(d.frame);
        d.leds[bit]->SetOnColor(kLedOn);
        d.leds[bit]->setAccessibleName(QObject::tr("State %1").arg(bit + 1));
        readings->addWidget(new QLabel(QObject::tr("State %1").arg(bit + 1), d.frame), 0,
                            kIndicatorCount + bit);
        readings->addWidget(d.leds[bit], 1, kIndicatorCount + bit, Qt::AlignLeft);
    }
    column->addLayout(readings);
    QObject::connect(d.source, &QComboBox::currentIndexChanged, [&d](int index) {
        d.raw->setVisible(index == 0);
        d.norm->setVisible(index != 0);
    });
    auto *close = new QShortcut(QKeySequence::Close, d.frame);
    QObject::connect(close, &QShortcut::activated, d.frame.data(), &QWidget::close);
    d.frame->resize(kChartSize);
    d.frame->show();
}

LiveChart::~LiveChart() {
    delete impl_->frame.data();
}

void LiveChart::Append(const LiveSample &s) {
    Impl &d = *impl_;
    d.norm->Append({s.UPval, s.LOval, s.valREF, s.valNORM});
    d.raw->Append({s.adcCHA, s.adcCHB});
    const double shown[kIndicatorCount] = {s.valNORM, s.adcCHA, s.adcCHB, s.Amax,
                                           s.Amin,    s.UPval,  s.LOval,  s.valREF};
    for (int i = 0; i < kIndicatorCount; ++i)
        d.values[i]->setText(QString::number(shown[i], 'f', 0));
    // A state above 3 leaves the LEDs as they were, as on the panel.
    if (s.instate >= 0 && s.instate <= 3)
        for (int bit = 0; bit < 2; ++bit)
            d.leds[bit]->SetOn(s.instate >> bit & 1);
}

void LiveChart::SetCaption(const std::string &text) {
    impl_->caption->setText(QString::fromStdString(text));
}

} // namespace plantview
