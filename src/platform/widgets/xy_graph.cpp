// The x-y graph over QCustomPlot. Curves are QCPCurve, which keeps the points in the
// order given rather than sorting them by x. Every change is drawn at once: the
// program draws a capture and then goes on without processing events for a while.
#include "xy_graph.h"

#include "plot_style.h"

#include <QVBoxLayout>

#include <algorithm>

namespace {

// ADC units of the controller's 10-bit converters, over a 128-sample record.
constexpr double kDefaultXMax = 127.0;
constexpr double kDefaultYMax = 1023.0;
constexpr double kPointSize   = 5.0;

} // namespace

XYGraph::XYGraph(QWidget *parent)
    : QWidget(parent), plot_(new QCustomPlot(this)), title_(AddPlotTitle(plot_)) {
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(plot_);
    ApplyInstrumentStyle(plot_);
    plot_->xAxis->setRange(0.0, kDefaultXMax);
    plot_->yAxis->setRange(0.0, kDefaultYMax);
    plot_->legend->setBrush(QColor(255, 255, 255, 220));
    plot_->axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignRight);
}

int XYGraph::AddCurve(const QVector<double> &x, const QVector<double> &y, const CurveStyle &style) {
    auto *curve = new QCPCurve(plot_->xAxis, plot_->yAxis);
    curve->setData(x, y);
    curve->setPen(style.pen);
    curve->setAntialiased(false);
    if (style.points) {
        curve->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, kPointSize));
        curve->setScatterSkip(std::max(style.pointsEvery, 1) - 1);
    }
    curve->removeFromLegend();
    const int handle = nextHandle_++;
    curves_[handle]  = curve;
    Redraw();
    return handle;
}

bool XYGraph::DeleteCurve(int handle) {
    const auto found = curves_.find(handle);
    if (found == curves_.end())
        return false;
    plot_->removePlottable(found->second);
    curves_.erase(found);
    ShowLegend();
    Redraw();
    return true;
}

bool XYGraph::SetCurveName(int handle, const QString &name) {
    const auto found = curves_.find(handle);
    if (found == curves_.end())
        return false;
    QCPCurve *curve = found->second;
    curve->setName(name);
    if (name.isEmpty())
        curve->removeFromLegend();
    else
        curve->addToLegend();
    ShowLegend();
    Redraw();
    return true;
}

void XYGraph::DeleteAllCurves() {
    for (const auto &[handle, curve] : curves_)
        plot_->removePlottable(curve);
    curves_.clear();
    ShowLegend();
    Redraw();
}

const QCPCurve *XYGraph::Curve(int handle) const {
    const auto found = curves_.find(handle);
    return found == curves_.end() ? nullptr : found->second;
}

void XYGraph::SetXRange(double min, double max) {
    plot_->xAxis->setRange(min, max);
    Redraw();
}

void XYGraph::SetYRange(double min, double max) {
    plot_->yAxis->setRange(min, max);
    Redraw();
}

QString XYGraph::Title() const {
    return title_->text();
}

void XYGraph::SetTitle(const QString &title) {
    title_->setText(title);
    Redraw();
}

QString XYGraph::XName() const {
    return plot_->xAxis->label();
}

void XYGraph::SetXName(const QString &name) {
    plot_->xAxis->setLabel(name);
    Redraw();
}

QString XYGraph::YName() const {
    return plot_->yAxis->label();
}

void XYGraph::SetYName(const QString &name) {
    plot_->yAxis->setLabel(name);
    Redraw();
}

void XYGraph::ShowLegend() {
    plot_->legend->setVisible(plot_->legend->itemCount() > 0);
}

void XYGraph::Redraw() {
    plot_->replot(QCustomPlot::rpImmediateRefresh);
}
