// The strip chart: a fixed number of points per trace on screen, new values appended at
// the right while the oldest scroll out on the left.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include <vector>

class QCPTextElement;
class StripPlot;

class StripChart : public QWidget {
    Q_OBJECT
    // Set by the panel file.
    Q_PROPERTY(int numTraces READ NumTraces WRITE SetNumTraces)
    Q_PROPERTY(int pointsPerScreen READ PointsPerScreen WRITE SetPointsPerScreen)
    Q_PROPERTY(QString traceColors READ TraceColors WRITE SetTraceColors)
    Q_PROPERTY(QString traceNames READ TraceNames WRITE SetTraceNames)
    Q_PROPERTY(QString title READ Title WRITE SetTitle)
    Q_PROPERTY(QString yName READ YName WRITE SetYName)
    Q_PROPERTY(double yMin READ YMin WRITE SetYMin)
    Q_PROPERTY(double yMax READ YMax WRITE SetYMax)

  public:
    explicit StripChart(QWidget *parent = nullptr);

    int NumTraces() const { return static_cast<int>(traces_.size()); }
    // Keeps the newest points of the traces that remain; at least one trace.
    void SetNumTraces(int count);
    int PointsPerScreen() const { return pointsPerScreen_; }
    // Keeps the newest points of each trace; at least one point.
    void SetPointsPerScreen(int points);
    int DrawnPoints() const { return drawnPoints_; }
    // Draws only the newest points of each trace, the older ones kept; negative: all.
    void SetDrawnPoints(int points);
    int ScrollMode() const { return scrollMode_; }
    void SetScrollMode(int mode) { scrollMode_ = mode; }

    // Comma-separated colours ("#0000ff,#00a000") of traces 1, 2, ...
    QString TraceColors() const;
    void SetTraceColors(const QString &colors);
    // trace counts from 1; false when the chart has no such trace.
    bool SetTraceColor(int trace, QColor color);
    // Comma-separated legend names; a trace with an empty name stays out of the legend,
    // and there is no legend without names.
    QString TraceNames() const;
    void SetTraceNames(const QString &names);
    QString Title() const;
    void SetTitle(const QString &title);
    QString YName() const;
    void SetYName(const QString &name);
    double YMin() const { return yMin_; }
    void SetYMin(double min);
    double YMax() const { return yMax_; }
    void SetYMax(double max);

    // Appends values to traces 1, 2, ... in turn, the first value to trace 1.
    void Append(const std::vector<double> &values);
    // The points trace (from 1) shows, oldest first, from the next redraw on.
    std::vector<double> TraceValues(int trace) const;

  private:
    // The last pointsPerScreen values of one trace in a ring.
    struct Trace {
        std::vector<double> ring;
        std::size_t next  = 0;
        std::size_t count = 0;
        void Push(double value);
        std::vector<double> Ordered() const;
        void Resize(std::size_t capacity);
    };

    // What the next redraw covers: a new sample needs only the traces drawn again.
    enum class Redraw { None, Traces, All };

    void RebuildGraphs();
    void StyleGraph(int index);
    void ShowTraces();
    void RequestRedraw(Redraw what);
    void RedrawNow();

    StripPlot *plot_;
    QCPTextElement *title_;
    Redraw due_       = Redraw::None;
    bool tracesStale_ = false; // the graphs do not hold the rings' points yet
    std::vector<Trace> traces_;
    std::vector<QColor> colors_;
    QStringList names_;
    int pointsPerScreen_;
    int drawnPoints_ = -1;
    int scrollMode_;
    double yMin_;
    double yMax_;
};
