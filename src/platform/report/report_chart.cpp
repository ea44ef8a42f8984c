// The report's data curve, in the look of the panel's x-y graph (white area, dotted grey
// grid and sub-grid, ticks on all four sides, the fixed axes), in line widths made for
// paper. Every length is in points, so the chart reads the same at any resolution.
#include "report_chart.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPaintDevice>
#include <QPainter>
#include <QPolygonF>

namespace {

// The panel's data graph: x from 1 to 128, y the ADC's 0 to 1023.
constexpr double kXMin = 1.0, kXMax = 128.0, kYMin = 0.0, kYMax = 1023.0;
// Its grid: ticks at readable steps with sub-ticks between.
constexpr int kXTick = 25, kXSubTick = 5, kYTick = 200, kYSubTick = 50;

// Lengths in points.
constexpr double kLeftMargin = 44, kRightMargin = 8, kTopMargin = 6, kBottomMargin = 48;
constexpr double kTickLength = 4, kSubTickLength = 2, kLabelGap = 3;
constexpr double kThickLine = 1.6, kThinLine = 0.8, kGridLine = 0.5, kFrameLine = 0.75;
constexpr double kLegendSample = 22, kLegendGap = 14, kFontSize = 7.5;

const QColor kGrid(0xc8, 0xc8, 0xc8), kSubGrid(0xe6, 0xe6, 0xe6), kFrame(Qt::darkGray);

class Plot {
  public:
    Plot(QPainter &painter, const QRectF &rect)
        : painter_(painter), point_(painter.device()->logicalDpiY() / 72.0),
          area_(rect.adjusted(kLeftMargin * point_, kTopMargin * point_, -kRightMargin * point_,
                              -kBottomMargin * point_)) {
        QFont font("DejaVu Sans");
        font.setPointSizeF(kFontSize);
        font.setStyleStrategy(QFont::PreferNoShaping); // the legend's names read back as written
        painter_.setFont(font);
    }

    double Pt(double points) const { return points * point_; }
    const QRectF &Area() const { return area_; }
    double X(double x) const {
        return area_.left() + (x - kXMin) / (kXMax - kXMin) * area_.width();
    }
    double Y(double y) const {
        return area_.bottom() - (y - kYMin) / (kYMax - kYMin) * area_.height();
    }

    void Grid(int step, int skip, const QColor &color, bool vertical) const {
        painter_.setPen(QPen(color, Pt(kGridLine), Qt::DotLine));
        const double last = vertical ? kXMax : kYMax;
        for (int v = step; v <= last; v += step) {
            if (skip && v % skip == 0)
                continue;
            if (vertical)
                painter_.drawLine(QPointF(X(v), area_.top()), QPointF(X(v), area_.bottom()));
            else
                painter_.drawLine(QPointF(area_.left(), Y(v)), QPointF(area_.right(), Y(v)));
        }
    }

    // Inward ticks on both sides of an axis, labels on the bottom and the left.
    void Ticks(int step, double length, bool vertical, bool labelled) const {
        const double first = vertical ? 0 : kYMin, last = vertical ? kXMax : kYMax;
        const QFontMetricsF metrics(painter_.font());
        for (int v = static_cast<int>(first); v <= last; v += step) {
            painter_.setPen(QPen(kFrame, Pt(kFrameLine)));
            if (vertical && v < kXMin)
                continue;
            if (vertical) {
                const double x = X(v);
                painter_.drawLine(QPointF(x, area_.bottom()),
                                  QPointF(x, area_.bottom() - Pt(length)));
                painter_.drawLine(QPointF(x, area_.top()), QPointF(x, area_.top() + Pt(length)));
            } else {
                const double y = Y(v);
                painter_.drawLine(QPointF(area_.left(), y), QPointF(area_.left() + Pt(length), y));
                painter_.drawLine(QPointF(area_.right(), y),
                                  QPointF(area_.right() - Pt(length), y));
            }
            if (!labelled)
                continue;
            painter_.setPen(Qt::black);
            const QString label = QString::number(v);
            if (vertical)
                painter_.drawText(QPointF(X(v) - metrics.horizontalAdvance(label) / 2,
                                          area_.bottom() + Pt(kLabelGap) + metrics.ascent()),
                                  label);
            else
                painter_.drawText(
                    QPointF(area_.left() - Pt(kLabelGap) - metrics.horizontalAdvance(label),
                            Y(v) + metrics.capHeight() / 2),
                    label);
        }
    }

    void Captions(const QString &x, const QString &y) const {
        const QFontMetricsF metrics(painter_.font());
        painter_.setPen(Qt::black);
        const double below = area_.bottom() + Pt(kLabelGap) * 2 + metrics.height();
        painter_.drawText(QPointF(area_.center().x() - metrics.horizontalAdvance(x) / 2,
                                  below + metrics.ascent()),
                          x);
        painter_.save();
        painter_.translate(area_.left() - Pt(kLeftMargin) + metrics.ascent(), area_.center().y());
        painter_.rotate(-90);
        painter_.drawText(QPointF(-metrics.horizontalAdvance(y) / 2, 0), y);
        painter_.restore();
    }

    void Curve(const ReportCurve &curve) const {
        QPolygonF line;
        for (std::size_t k = 0; k < curve.y.size(); ++k)
            line << QPointF(X(static_cast<double>(k)), Y(curve.y[k]));
        painter_.save();
        painter_.setClipRect(area_);
        painter_.setPen(PenOf(curve));
        painter_.drawPolyline(line);
        painter_.restore();
    }

    void Legend(const std::vector<ReportCurve> &curves) const {
        const QFontMetricsF metrics(painter_.font());
        const double y = area_.bottom() + Pt(kLabelGap) * 4 + metrics.height() * 2.5;
        double x       = area_.left();
        for (const ReportCurve &curve : curves) {
            painter_.setPen(PenOf(curve));
            painter_.drawLine(QPointF(x, y), QPointF(x + Pt(kLegendSample), y));
            x += Pt(kLegendSample) + Pt(kLabelGap);
            const QString name = QString::fromStdString(curve.name);
            painter_.setPen(Qt::black);
            painter_.drawText(QPointF(x, y + metrics.capHeight() / 2), name);
            x += metrics.horizontalAdvance(name) + Pt(kLegendGap);
        }
    }

  private:
    QPen PenOf(const ReportCurve &curve) const {
        QPen pen(QColor::fromRgb(curve.color), Pt(curve.thick ? kThickLine : kThinLine),
                 curve.dashed ? Qt::DashLine : Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin);
        return pen;
    }

    QPainter &painter_;
    double point_;
    QRectF area_;
};

} // namespace

ReportChart::ReportChart(const ReportCapture &capture, QSizeF size, QObject *parent)
    : QObject(parent), capture_(capture), size_(size) {}

void ReportChart::drawObject(QPainter *painter, const QRectF &rect, QTextDocument *, int,
                             const QTextFormat &) {
    painter->save();
    const Plot plot(*painter, rect);
    painter->fillRect(plot.Area(), Qt::white);
    plot.Grid(kXSubTick, kXTick, kSubGrid, true);
    plot.Grid(kYSubTick, kYTick, kSubGrid, false);
    plot.Grid(kXTick, 0, kGrid, true);
    plot.Grid(kYTick, 0, kGrid, false);
    for (const ReportCurve &curve : capture_.curves)
        plot.Curve(curve);
    painter->setPen(QPen(kFrame, plot.Pt(kFrameLine)));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(plot.Area());
    plot.Ticks(kXSubTick, kSubTickLength, true, false);
    plot.Ticks(kYSubTick, kSubTickLength, false, false);
    plot.Ticks(kXTick, kTickLength, true, true);
    plot.Ticks(kYTick, kTickLength, false, true);
    plot.Captions(QString::fromStdString(capture_.xCaption),
                  QString::fromStdString(capture_.yCaption));
    plot.Legend(capture_.curves);
    painter->restore();
}
