// The strip chart over QCustomPlot: one ring of points per trace, copied into the
// trace's graph after each append. It is fed hundreds of values many times a second,
// so keys are handed over sorted and the redraw is queued.
//
// A new sample repaints only the plot area, and there mostly copies: the background and
// grid as one opaque picture kept from the last whole replot, the traces drawn straight
// onto the window, then the axes and legend blended only where they reach into the area
// (the ticks along its edges and the legend's box). A whole replot (axes, labels, colours,
// size) draws every layer into its paint buffer as QCustomPlot does and refreshes the
// kept picture.
#include "strip_chart.h"

#include "plot_style.h"

#include <QMetaObject>
#include <QPaintEvent>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace {

constexpr int kDefaultTraces          = 1;
constexpr int kDefaultPointsPerScreen = 100;
constexpr int kScrollContinuous       = 1;
// ADC units of the controller's 10-bit converters.
constexpr double kDefaultYMin = 0.0;
constexpr double kDefaultYMax = 1023.0;
constexpr int kTracePenWidth  = 2;
const QString kTraceLayer     = QStringLiteral("traces");

// Colours of traces that the panel file leaves open.
const QColor kFallbackColors[] = {
    Qt::blue, QColor(0x00, 0xa0, 0x00), Qt::black, Qt::red, Qt::magenta, Qt::darkCyan};

// A trace that the plot paints itself, straight onto the window, as its layer would into
// the layer's buffer.
class TraceGraph : public QCPGraph {
  public:
    TraceGraph(QCPAxis *keyAxis, QCPAxis *valueAxis) : QCPGraph(keyAxis, valueAxis) {}

    void Paint(QCPPainter *painter) {
        if (!realVisibility())
            return;
        painter->save();
        painter->setClipRect(clipRect().translated(0, -1), Qt::IntersectClip);
        applyDefaultAntialiasingHint(painter);
        draw(painter);
        painter->restore();
    }
};

} // namespace

// The plot of a strip chart; its layers are, bottom up: background, grid and main in the
// first paint buffer, the traces in the second, axes, legend and overlay in the third.
class StripPlot : public QCustomPlot {
  public:
    explicit StripPlot(QWidget *parent) : QCustomPlot(parent) {
        // Whatever a whole replot drew, the kept background is older.
        connect(this, &QCustomPlot::afterReplot, this, [this] { background_ = QPixmap(); });
    }

    // Where the traces are drawn; a new sample repaints only this.
    QRect TraceArea() const { return axisRect()->rect().adjusted(-1, -1, 1, 1) & rect(); }

  protected:
    void paintEvent(QPaintEvent *event) override {
        if (mPaintBuffers.size() != kBuffers) {
            QCustomPlot::paintEvent(event);
            return;
        }
        QCPPainter painter(this);
        if (!painter.isActive())
            return;
        // As a paint buffer's painter starts, so that the traces come out the same.
        painter.setRenderHint(QPainter::Antialiasing);
        const QPixmap &background = KeptBackground();
        painter.drawPixmap(event->rect(), background, ScaledRect(event->rect()));
        for (int index = 0; index < graphCount(); ++index)
            static_cast<TraceGraph *>(graph(index))->Paint(&painter);
        // Rectangle by rectangle: a clip of one rectangle keeps Qt on its plain blend,
        // where a clip of many would have it share each line out to its thread pool.
        for (const QRect &part : AboveTraces() & event->region()) {
            painter.setClipRect(part);
            mPaintBuffers[kAboveBuffer]->draw(&painter);
        }
    }

  private:
    static constexpr int kBelowBuffer = 0;
    static constexpr int kAboveBuffer = 2;
    static constexpr int kBuffers     = 3;
    // Ticks point into the plot area this far, axis lines included.
    static constexpr int kTickReach = 8;

    QRect ScaledRect(const QRect &area) const {
        const qreal ratio = background_.devicePixelRatio();
        return QRectF(QPointF(area.topLeft()) * ratio, QSizeF(area.size()) * ratio).toRect();
    }

    // The background and grid over white: copied, never blended, at every paint.
    const QPixmap &KeptBackground() {
        if (background_.isNull()) {
            const qreal ratio = mBufferDevicePixelRatio;
            background_       = QPixmap((QSizeF(size()) * ratio).toSize());
            background_.setDevicePixelRatio(ratio);
            background_.fill(mBackgroundBrush.color());
            QCPPainter painter(&background_);
            mPaintBuffers[kBelowBuffer]->draw(&painter);
        }
        return background_;
    }

    // What the layers above the traces draw: all of the plot but the inside of the plot
    // area, which only the legend and the ticks reach into.
    QRegion AboveTraces() const {
        const QRect inside =
            axisRect()->rect().adjusted(kTickReach, kTickReach, -kTickReach, -kTickReach);
        QRegion above = QRegion(rect()) - inside;
        // A drawn rectangle reaches one pixel past its right and bottom edges.
        if (legend && legend->visible())
            above += legend->outerRect().adjusted(-1, -1, 2, 2);
        return above;
    }

    QPixmap background_;
};

void StripChart::Trace::Push(double value) {
    ring[next] = value;
    next       = (next + 1) % ring.size();
    count      = std::min(count + 1, ring.size());
}

std::vector<double> StripChart::Trace::Ordered() const {
    std::vector<double> values;
    if (ring.empty())
        return values;
    values.reserve(count);
    for (std::size_t k = 0, at = (next + ring.size() - count) % ring.size(); k < count; ++k) {
        values.push_back(ring[at]);
        at = (at + 1) % ring.size();
    }
    return values;
}

void StripChart::Trace::Resize(std::size_t capacity) {
    const std::vector<double> values = Ordered();
    ring.assign(capacity, 0.0);
    next                   = 0;
    count                  = 0;
    const std::size_t keep = std::min(values.size(), capacity);
    for (std::size_t k = values.size() - keep; k < values.size(); ++k)
        Push(values[k]);
}

StripChart::StripChart(QWidget *parent)
    : QWidget(parent), plot_(new StripPlot(this)), title_(AddPlotTitle(plot_)),
      pointsPerScreen_(kDefaultPointsPerScreen), scrollMode_(kScrollContinuous),
      yMin_(kDefaultYMin), yMax_(kDefaultYMax) {
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(plot_);
    ApplyInstrumentStyle(plot_);
    plot_->xAxis->setLabel(tr("Sample"));
    plot_->xAxis->setRange(0, pointsPerScreen_ - 1);
    plot_->yAxis->setRange(yMin_, yMax_);
    plot_->legend->setBrush(QColor(255, 255, 255, 220));
    plot_->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignRight);
    // Above the grid and below the axes and legend, as the graphs are drawn by default, in
    // a buffer of its own: what lies below the traces and what above stay apart.
    plot_->addLayer(kTraceLayer, plot_->layer(QStringLiteral("main")), QCustomPlot::limAbove);
    QCPLayer *traceLayer = plot_->layer(kTraceLayer);
    traceLayer->setMode(QCPLayer::lmBuffered);
    plot_->setCurrentLayer(traceLayer);
    // Nothing is drawn on the overlay: it shares the buffer of the axes and legend.
    plot_->layer(QStringLiteral("overlay"))->setMode(QCPLayer::lmLogical);
    // A redraw marks the plot for the next paint instead of painting at once, so that it
    // is painted once with everything else that changed.
    plot_->setPlottingHint(QCP::phImmediateRefresh, false);
    SetNumTraces(kDefaultTraces);
}

// The program sets the layout before every plot: only a change costs anything.
void StripChart::SetNumTraces(int count) {
    count = std::max(count, 1);
    if (count == NumTraces())
        return;
    const std::size_t kept = traces_.size();
    traces_.resize(static_cast<std::size_t>(count));
    for (std::size_t index = kept; index < traces_.size(); ++index)
        traces_[index].Resize(static_cast<std::size_t>(pointsPerScreen_));
    RebuildGraphs();
}

void StripChart::SetPointsPerScreen(int points) {
    points = std::max(points, 1);
    if (points == pointsPerScreen_)
        return;
    pointsPerScreen_ = points;
    for (Trace &trace : traces_)
        trace.Resize(static_cast<std::size_t>(pointsPerScreen_));
    plot_->xAxis->setRange(0, pointsPerScreen_ - 1);
    tracesStale_ = true;
    RequestRedraw(Redraw::All);
}

// The program sets it before every plot: only a change costs anything.
void StripChart::SetDrawnPoints(int points) {
    points = std::max(points, -1);
    if (points == drawnPoints_)
        return;
    drawnPoints_ = points;
    tracesStale_ = true;
    RequestRedraw(Redraw::Traces);
}

QString StripChart::TraceColors() const {
    QStringList names;
    for (const QColor &color : colors_)
        names << color.name();
    return names.join(',');
}

void StripChart::SetTraceColors(const QString &colors) {
    colors_.clear();
    for (const QString &name : colors.split(',', Qt::SkipEmptyParts))
        colors_.emplace_back(name.trimmed());
    for (int index = 0; index < NumTraces(); ++index)
        StyleGraph(index);
    RequestRedraw(Redraw::All);
}

bool StripChart::SetTraceColor(int trace, QColor color) {
    if (trace < 1 || trace > NumTraces())
        return false;
    const std::size_t index = static_cast<std::size_t>(trace - 1);
    if (colors_.size() <= index)
        colors_.resize(index + 1);
    if (colors_[index] == color)
        return true;
    colors_[index] = color;
    StyleGraph(trace - 1);
    // The legend shows the colour too.
    RequestRedraw(Redraw::All);
    return true;
}

QString StripChart::TraceNames() const {
    return names_.join(',');
}

// An empty name keeps its trace out of the legend (",,Reference,NORM").
void StripChart::SetTraceNames(const QString &names) {
    names_ = names.split(',');
    for (QString &name : names_)
        name = name.trimmed();
    if (names_.size() == 1 && names_.front().isEmpty())
        names_.clear();
    RebuildGraphs();
}

QString StripChart::Title() const {
    return title_->text();
}

void StripChart::SetTitle(const QString &title) {
    title_->setText(title);
    RequestRedraw(Redraw::All);
}

QString StripChart::YName() const {
    return plot_->yAxis->label();
}

void StripChart::SetYName(const QString &name) {
    plot_->yAxis->setLabel(name);
    RequestRedraw(Redraw::All);
}

void StripChart::SetYMin(double min) {
    yMin_ = min;
    plot_->yAxis->setRange(yMin_, yMax_);
    RequestRedraw(Redraw::All);
}

void StripChart::SetYMax(double max) {
    yMax_ = max;
    plot_->yAxis->setRange(yMin_, yMax_);
    RequestRedraw(Redraw::All);
}

// The graphs take the new points at the redraw: during a run that is after the next
// request went out, so a reply's turnaround does not pay for it.
void StripChart::Append(const std::vector<double> &values) {
    for (std::size_t k = 0; k < values.size(); ++k)
        traces_[k % traces_.size()].Push(values[k]);
    tracesStale_ = true;
    RequestRedraw(Redraw::Traces);
}

std::vector<double> StripChart::TraceValues(int trace) const {
    if (trace < 1 || trace > NumTraces())
        return {};
    return traces_[static_cast<std::size_t>(trace - 1)].Ordered();
}

void StripChart::RebuildGraphs() {
    plot_->clearGraphs();
    for (int index = 0; index < NumTraces(); ++index) {
        new TraceGraph(plot_->xAxis, plot_->yAxis);
        StyleGraph(index);
    }
    plot_->legend->setVisible(std::any_of(names_.begin(), names_.end(),
                                          [](const QString &name) { return !name.isEmpty(); }));
    tracesStale_ = true;
    RequestRedraw(Redraw::All);
}

void StripChart::StyleGraph(int index) {
    const std::size_t at = static_cast<std::size_t>(index);
    QColor color         = at < colors_.size() ? colors_[at] : QColor();
    if (!color.isValid())
        color = kFallbackColors[at % std::size(kFallbackColors)];
    QCPGraph *graph = plot_->graph(index);
    graph->setPen(QPen(color, kTracePenWidth));
    graph->setAntialiased(false);
    const bool named = index < names_.size() && !names_[index].isEmpty();
    graph->setName(named ? names_[index] : tr("Trace %1").arg(index + 1));
    if (!named)
        graph->removeFromLegend();
}

void StripChart::ShowTraces() {
    for (int index = 0; index < NumTraces(); ++index) {
        const std::vector<double> values = traces_[static_cast<std::size_t>(index)].Ordered();
        const std::size_t drawn =
            drawnPoints_ < 0 ? values.size()
                             : std::min(values.size(), static_cast<std::size_t>(drawnPoints_));
        QVector<QCPGraphData> points;
        points.reserve(static_cast<qsizetype>(drawn));
        for (std::size_t k = values.size() - drawn; k < values.size(); ++k)
            points.append(QCPGraphData(static_cast<double>(k), values[k]));
        plot_->graph(index)->data()->set(points, true);
    }
    tracesStale_ = false;
}

void StripChart::RequestRedraw(Redraw what) {
    const bool queued = due_ != Redraw::None;
    due_              = std::max(due_, what);
    if (!queued)
        QMetaObject::invokeMethod(this, &StripChart::RedrawNow, Qt::QueuedConnection);
}

void StripChart::RedrawNow() {
    const Redraw what = std::exchange(due_, Redraw::None);
    if (tracesStale_)
        ShowTraces();
    if (what == Redraw::Traces)
        plot_->update(plot_->TraceArea());
    else if (what == Redraw::All)
        plot_->replot();
}
