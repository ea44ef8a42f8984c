// Viewer windows over QCustomPlot: one axis rect per strip, stacked, their key axes moved
// together; a readout line above the plot gives every series at the pointer.
#include "viewer.h"

#include "panel/events_internal.h"
#include "panel/panel_internal.h"

#include <qcustomplot.h>

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kErrNoEngine   = -1;
constexpr int kErrBadContent = -2;

constexpr double kValueMargin      = 0.06; // of a strip's value span, above and below its values
constexpr int kStepStripShare      = 1;    // height of a step strip against kLineStripShare
constexpr int kLineStripShare      = 3;
constexpr const char *kCursorLayer = "cursor";
constexpr double kWheelZoom        = 0.85; // span after one wheel step away from the user
constexpr double kShortestSpan     = 1e-3; // seconds shown by a recording of one row
constexpr qint64 kBusyRedrawMs     = 200;  // between redraws while the program waits
constexpr int kNoWriteRedrawMs     = 250;  // when no request goes out meanwhile
constexpr int kNoteLinesInView     = 8;    // lines of notes shown before they scroll

QColor Rgb(unsigned color) {
    return QColor(static_cast<int>(color >> 16 & 0xFF), static_cast<int>(color >> 8 & 0xFF),
                  static_cast<int>(color & 0xFF));
}

QString Number(double value) {
    return QString::number(value, 'g', 10);
}

void StyleAxisRect(QCPAxisRect *rect) {
    const QPen gridPen(QColor(0xc8, 0xc8, 0xc8), 0, Qt::DotLine);
    for (QCPAxis *axis : rect->axes()) {
        axis->grid()->setPen(gridPen);
        axis->setBasePen(QPen(Qt::darkGray));
        axis->setTickPen(QPen(Qt::darkGray));
        axis->setSubTickPen(QPen(Qt::darkGray));
    }
    rect->setupFullAxesBox(true);
    rect->axis(QCPAxis::atTop)->setTickLabels(false);
    rect->axis(QCPAxis::atRight)->setTickLabels(false);
}

// The range a reset view gives a strip's value axis.
QCPRange ValueRange(const ViewerStrip &strip) {
    if (strip.low != 0 || strip.high != 0)
        return QCPRange(strip.low, strip.high);
    double low = 0, high = 0;
    bool any = false;
    for (const ViewerTrace &trace : strip.traces) {
        if (trace.values.empty())
            continue;
        const auto [min, max] = std::minmax_element(trace.values.begin(), trace.values.end());
        low                   = any ? std::min(low, *min) : *min;
        high                  = any ? std::max(high, *max) : *max;
        any                   = true;
    }
    const double margin = std::max(1.0, (high - low) * kValueMargin);
    return QCPRange(low - margin, high + margin);
}

// The notes above the plot: as tall as their text up to kNoteLinesInView lines, then
// scrolled, so that a file of many comment lines never pushes the plot out of the window.
class NotesArea : public QScrollArea {
  public:
    explicit NotesArea(QLabel *notes, QWidget *parent) : QScrollArea(parent) {
        setWidget(notes);
        setWidgetResizable(true);
        setFrameShape(QFrame::NoFrame);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Maximum);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
        setAccessibleName(notes->accessibleName());
    }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override {
        const int lines = widget()->fontMetrics().lineSpacing() * kNoteLinesInView;
        return std::min(widget()->heightForWidth(width), lines);
    }
    QSize sizeHint() const override {
        const QSize hint = QScrollArea::sizeHint();
        return QSize(hint.width(), heightForWidth(hint.width()));
    }
};

class ViewerWindow : public QWidget {
  public:
    ViewerWindow(ViewerContent content, void (*closed)())
        : content(std::move(content)), closed(closed) {
        setWindowTitle(QString::fromStdString(this->content.title));
        setAccessibleName(tr("Recording viewer"));
        resize(1100, 760);
        auto *layout = new QVBoxLayout(this);
        layout->addWidget(new NotesArea(NotesLabel(), this));
        layout->addLayout(ReadoutRow());
        plot = new QCustomPlot(this);
        plot->setAccessibleName(tr("Recorded values"));
        layout->addWidget(plot, 1);
        BuildStrips();
        connect(new QShortcut(QKeySequence::Close, this), &QShortcut::activated, this,
                &QWidget::close);
        // Drawn once, when shown at its size.
        SetFullRanges();
    }

  protected:
    void closeEvent(QCloseEvent *event) override {
        event->accept();
        hide();
        // Deleted from the application's queue, never inside its own event.
        QMetaObject::invokeMethod(
            qApp, [window = QPointer<ViewerWindow>(this)] { delete window; }, Qt::QueuedConnection);
        if (closed)
            closed();
    }

  private:
    QLabel *NotesLabel() {
        QStringList lines;
        for (const std::string &note : content.notes) {
            const QString text = QString::fromStdString(note);
            const int space    = text.indexOf(' ');
            const QString head = space < 0 ? text : text.left(space);
            const QString rest = space < 0 ? QString() : text.mid(space);
            lines << "<b>" + head.toHtmlEscaped() + "</b>" + rest.toHtmlEscaped();
        }
        auto *label = new QLabel(lines.join("<br>"), this);
        label->setTextFormat(Qt::RichText);
        // A long line (the sixteen parameters) wraps rather than widening a small window.
        label->setWordWrap(true);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        label->setAccessibleName(tr("Recording notes"));
        return label;
    }

    QHBoxLayout *ReadoutRow() {
        auto *row = new QHBoxLayout;
        readout   = new QLabel(tr("Point at the plot to read every value. The mouse wheel zooms "
                                    "the time axis, dragging pans it."),
                               this);
        readout->setTextFormat(Qt::RichText);
        readout->setWordWrap(true);
        // A size of its own: a new text must not lay the window out again, nor resize and
        // so redraw the plot.
        readout->setFixedHeight(readout->fontMetrics().height() * 2 + 4);
        readout->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        readout->setAccessibleName(tr("Values at the pointer"));
        row->addWidget(readout, 1);
        auto *reset = new QPushButton(tr("&Reset view"), this);
        reset->setAccessibleName(tr("Reset view"));
        reset->setToolTip(tr("Show the whole recording again"));
        connect(reset, &QPushButton::clicked, this, [this] {
            SetFullRanges();
            ScheduleRedraw();
        });
        row->addWidget(reset, 0, Qt::AlignTop);
        return row;
    }

    void BuildStrips() {
        plot->setNotAntialiasedElements(QCP::aeAll);
        plot->setPlottingHint(QCP::phFastPolylines, true);
        plot->setBackground(Qt::white);
        // Each strip has a legend of its own; the plot's would gather every trace.
        plot->setAutoAddPlottableToLegend(false);
        plot->plotLayout()->clear();
        plot->addLayer(kCursorLayer);
        plot->layer(kCursorLayer)->setMode(QCPLayer::lmBuffered);
        auto *margins = new QCPMarginGroup(plot);
        const QVector<double> keys(content.keys.begin(), content.keys.end());
        for (std::size_t i = 0; i < content.strips.size(); ++i) {
            const ViewerStrip &strip = content.strips[i];
            auto *rect               = new QCPAxisRect(plot);
            plot->plotLayout()->addElement(static_cast<int>(i), 0, rect);
            plot->plotLayout()->setRowStretchFactor(
                static_cast<int>(i), strip.steps ? kStepStripShare : kLineStripShare);
            StyleAxisRect(rect);
            rect->setMarginGroup(QCP::msLeft | QCP::msRight, margins);
            rect->axis(QCPAxis::atLeft)->setLabel(QString::fromStdString(strip.caption));
            if (strip.steps) {
                QSharedPointer<QCPAxisTickerFixed> whole(new QCPAxisTickerFixed);
                whole->setTickStep(1);
                rect->axis(QCPAxis::atLeft)->setTicker(whole);
            }
            auto *legend = new QCPLegend;
            rect->insetLayout()->addElement(legend, Qt::AlignTop | Qt::AlignRight);
            legend->setLayer(QStringLiteral("legend"));
            legend->setBrush(QColor(255, 255, 255, 210));
            legend->setBorderPen(QPen(Qt::lightGray));
            for (const ViewerTrace &trace : strip.traces)
                AddTrace(rect, legend, keys, trace, strip.steps);
            auto *cursor = new QCPItemStraightLine(plot);
            cursor->setLayer(kCursorLayer);
            cursor->setClipAxisRect(rect);
            cursor->setPen(QPen(QColor(0x40, 0x40, 0x40), 0, Qt::DashLine));
            for (QCPItemPosition *end : {cursor->point1, cursor->point2}) {
                end->setAxisRect(rect);
                end->setAxes(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
            }
            cursor->setVisible(false);
            cursors.push_back(cursor);
            rects.push_back(rect);
        }
        for (QCPAxisRect *rect : rects)
            rect->axis(QCPAxis::atBottom)->setTickLabels(rect == rects.back());
        rects.back()->axis(QCPAxis::atBottom)->setLabel(QString::fromStdString(content.keyName));
        for (QCPAxisRect *rect : rects)
            keyAxes << rect->axis(QCPAxis::atBottom) << rect->axis(QCPAxis::atTop);
        ConnectPointer();
    }

    // Dragging and the wheel move the time axes of every strip together. The window does
    // this itself rather than through the plot's own interactions, so that it can pace its
    // redraws while the program waits on the line.
    void ConnectPointer() {
        redrawTimer.setSingleShot(true);
        connect(&redrawTimer, &QTimer::timeout, this, [this] { RedrawWhenDue(); });
        sinceRedraw.start();
        connect(plot, &QCustomPlot::mousePress, this, [this](QMouseEvent *event) {
            dragging  = event->button() == Qt::LeftButton;
            dragFrom  = event->position().x();
            dragRange = keyAxes.front()->range();
        });
        connect(plot, &QCustomPlot::mouseRelease, this, [this] { dragging = false; });
        connect(plot, &QCustomPlot::mouseMove, this, [this](QMouseEvent *event) {
            pointerX = event->position().x();
            if (dragging && (event->buttons() & Qt::LeftButton)) {
                const double perPixel = dragRange.size() / keyAxes.front()->axisRect()->width();
                SetKeyRange(dragRange + (dragFrom - pointerX) * perPixel);
            }
            ScheduleRedraw();
        });
        connect(plot, &QCustomPlot::mouseWheel, this, [this](QWheelEvent *event) {
            const double factor = std::pow(kWheelZoom, event->angleDelta().y() / 120.0);
            const double centre = keyAxes.front()->pixelToCoord(event->position().x());
            const QCPRange now  = keyAxes.front()->range();
            SetKeyRange(QCPRange(centre + (now.lower - centre) * factor,
                                 centre + (now.upper - centre) * factor));
            ScheduleRedraw();
        });
    }

    // Keeps the view on the recording: never wider than all of it, never beside it.
    void SetKeyRange(QCPRange range) {
        const QCPRange all = FullKeyRange();
        if (range.size() >= all.size())
            range = all;
        else if (range.lower < all.lower)
            range += all.lower - range.lower;
        else if (range.upper > all.upper)
            range -= range.upper - all.upper;
        for (QCPAxis *axis : keyAxes)
            axis->setRange(range);
        rangesMoved = true;
    }

    QCPRange FullKeyRange() const {
        return QCPRange(content.keys.front(),
                        std::max(content.keys.back(), content.keys.front() + kShortestSpan));
    }

    // While the program waits on the line (a run), at most one redraw every kBusyRedrawMs,
    // and that in the shadow of a request: a redraw holds the program's one thread, and a
    // reply that came meanwhile would wait.
    void ScheduleRedraw() {
        if (redrawTimer.isActive() || awaitingShadow)
            return;
        const qint64 wait = platform::ProgramIdle() ? 0 : kBusyRedrawMs - sinceRedraw.elapsed();
        redrawTimer.start(static_cast<int>(std::max<qint64>(0, wait)));
    }

    void RedrawWhenDue() {
        if (platform::ProgramIdle())
            return Redraw();
        awaitingShadow = true;
        platform::AfterNextPortWrite([window = QPointer<ViewerWindow>(this)] {
            if (window && window->awaitingShadow)
                window->Redraw();
        });
        // A wait that writes nothing (a transfer's reply wait) still lets the view follow.
        QTimer::singleShot(kNoWriteRedrawMs, this, [this] {
            if (awaitingShadow)
                Redraw();
        });
    }

    void Redraw() {
        awaitingShadow = false;
        if (!std::isnan(pointerX))
            ShowValuesAt(pointerX);
        if (rangesMoved)
            plot->replot();
        else
            plot->layer(kCursorLayer)->replot();
        rangesMoved = false;
        sinceRedraw.restart();
    }

    void AddTrace(QCPAxisRect *rect, QCPLegend *legend, const QVector<double> &keys,
                  const ViewerTrace &trace, bool steps) {
        QCPGraph *graph =
            plot->addGraph(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
        graph->setName(QString::fromStdString(trace.name));
        graph->setPen(QPen(Rgb(trace.color), trace.dashed ? 1 : 1.5,
                           trace.dashed ? Qt::DashLine : Qt::SolidLine));
        graph->setLineStyle(steps ? QCPGraph::lsStepLeft : QCPGraph::lsLine);
        graph->setAdaptiveSampling(true);
        graph->setData(keys, QVector<double>(trace.values.begin(), trace.values.end()), true);
        graph->addToLegend(legend);
    }

    void SetFullRanges() {
        SetKeyRange(FullKeyRange());
        for (std::size_t i = 0; i < rects.size(); ++i) {
            const QCPRange values = ValueRange(content.strips[i]);
            rects[i]->axis(QCPAxis::atLeft)->setRange(values);
            rects[i]->axis(QCPAxis::atRight)->setRange(values);
        }
    }

    // The row nearest to the key under the pointer.
    std::size_t RowAt(double key) const {
        const std::vector<double> &keys = content.keys;
        const auto next                 = std::lower_bound(keys.begin(), keys.end(), key);
        if (next == keys.begin())
            return 0;
        if (next == keys.end())
            return keys.size() - 1;
        const auto before = next - 1;
        return static_cast<std::size_t>((key - *before <= *next - key ? before : next) -
                                        keys.begin());
    }

    void ShowValuesAt(double pixel) {
        const double key     = rects.front()->axis(QCPAxis::atBottom)->pixelToCoord(pixel);
        const std::size_t at = RowAt(key);
        const double rowKey  = content.keys[at];
        QStringList parts;
        parts << "<b>" + QString::fromStdString(content.keyName).toHtmlEscaped() + "</b> " +
                     QString::number(rowKey, 'f', 3);
        for (const ViewerStrip &strip : content.strips) {
            QStringList values;
            for (const ViewerTrace &trace : strip.traces)
                values << QString("<span style=\"color:%1\"><b>%2</b></span> %3")
                              .arg(Rgb(trace.color).name(),
                                   QString::fromStdString(trace.name).toHtmlEscaped(),
                                   Number(trace.values[at]));
            parts << values.join("&nbsp; ");
        }
        readout->setText(parts.join(" &nbsp;|&nbsp; "));
        for (std::size_t i = 0; i < cursors.size(); ++i) {
            cursors[i]->point1->setCoords(rowKey, 0);
            cursors[i]->point2->setCoords(rowKey, 1);
            cursors[i]->setVisible(true);
        }
    }

    ViewerContent content;
    void (*closed)()  = nullptr;
    QCustomPlot *plot = nullptr;
    QLabel *readout   = nullptr;
    std::vector<QCPAxisRect *> rects;
    QList<QCPAxis *> keyAxes; // the time axes of every strip, below and above it
    std::vector<QCPItemStraightLine *> cursors;
    QTimer redrawTimer;
    QElapsedTimer sinceRedraw;
    bool rangesMoved    = false;
    bool awaitingShadow = false;        // a redraw waits for the next request to go out
    double pointerX     = std::nan(""); // over the plot, in pixels; NaN before the pointer came
    bool dragging       = false;
    double dragFrom     = 0;
    QCPRange dragRange;
};

std::vector<QPointer<ViewerWindow>> &Windows() {
    static std::vector<QPointer<ViewerWindow>> windows;
    return windows;
}

bool Consistent(const ViewerContent &content) {
    if (content.keys.empty() || content.strips.empty())
        return false;
    for (const ViewerStrip &strip : content.strips)
        for (const ViewerTrace &trace : strip.traces)
            if (trace.values.size() != content.keys.size())
                return false;
    return std::is_sorted(content.keys.begin(), content.keys.end());
}

} // namespace

int OpenViewer(ViewerContent content, void (*closed)()) {
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return kErrNoEngine;
    if (!Consistent(content))
        return kErrBadContent;
    auto *window = new ViewerWindow(std::move(content), closed);
    platform::ShowFitted(window);
    Windows().emplace_back(window);
    return 0;
}

int OpenViewerCount() {
    auto &windows = Windows();
    std::erase_if(windows, [](const QPointer<ViewerWindow> &w) { return w.isNull(); });
    return static_cast<int>(
        std::count_if(windows.begin(), windows.end(),
                      [](const QPointer<ViewerWindow> &w) { return w->isVisible(); }));
}

void CloseViewers() {
    for (QPointer<ViewerWindow> &window : Windows())
        delete window.data();
    Windows().clear();
}
