// The x-y graph: curves of given points, each known by a handle, over fixed axis ranges,
// with a legend of the curves that have a name.
#pragma once

#include <QPen>
#include <QString>
#include <QVector>
#include <QWidget>

#include <map>

class QCPCurve;
class QCPTextElement;
class QCustomPlot;

class XYGraph : public QWidget {
    Q_OBJECT
    // Set by the panel file.
    Q_PROPERTY(QString title READ Title WRITE SetTitle)
    Q_PROPERTY(QString xName READ XName WRITE SetXName)
    Q_PROPERTY(QString yName READ YName WRITE SetYName)

  public:
    explicit XYGraph(QWidget *parent = nullptr);

    struct CurveStyle {
        QPen pen;
        bool points     = false; // a symbol on the points
        int pointsEvery = 1;     // a symbol on every n-th point
    };

    // Adds a curve through (x[k], y[k]) in the order given and redraws; its handle.
    int AddCurve(const QVector<double> &x, const QVector<double> &y, const CurveStyle &style);
    // False when no curve has that handle.
    bool DeleteCurve(int handle);
    // The curve's name in the legend; "" keeps it out. False when no curve has that handle.
    bool SetCurveName(int handle, const QString &name);
    void DeleteAllCurves();
    int CurveCount() const { return static_cast<int>(curves_.size()); }
    // The curve of a handle, or nullptr.
    const QCPCurve *Curve(int handle) const;

    void SetXRange(double min, double max);
    void SetYRange(double min, double max);
    QString Title() const;
    void SetTitle(const QString &title);
    QString XName() const;
    void SetXName(const QString &name);
    QString YName() const;
    void SetYName(const QString &name);

  private:
    void ShowLegend();
    void Redraw();

    QCustomPlot *plot_;
    QCPTextElement *title_;
    std::map<int, QCPCurve *> curves_;
    int nextHandle_ = 1;
};
