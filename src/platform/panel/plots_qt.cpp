// Plots: values appended to strip charts, curves on x-y graphs and their axes.
#include "panel_internal.h"
#include "widgets/strip_chart.h"
#include "widgets/xy_graph.h"

#include <cstdint>
#include <vector>

namespace {

constexpr int kThickLineWidth = 3;
constexpr int kThinLineWidth  = 1;

std::vector<double> TakeValues(const void *values, int count, int start, int skip, int dataType) {
    std::vector<double> taken;
    const int step = skip + 1;
    for (int k = start; taken.size() < static_cast<std::size_t>(count); k += step) {
        if (dataType == kTypeDouble)
            taken.push_back(static_cast<const double *>(values)[k]);
        else if (dataType == kTypeU16)
            taken.push_back(static_cast<const std::uint16_t *>(values)[k]);
        else
            taken.push_back(static_cast<const unsigned int *>(values)[k]);
    }
    return taken;
}

bool IsPlotType(int dataType) {
    return dataType == kTypeDouble || dataType == kTypeU16 || dataType == kTypeUInt;
}

QVector<double> CurvePoints(const void *values, int n, int dataType) {
    const std::vector<double> taken = TakeValues(values, n, 0, 0, dataType);
    return QVector<double>(taken.begin(), taken.end());
}

XYGraph::CurveStyle StyleOf(int plotStyle, int pointStyle, int lineStyle, int pointFrequency,
                            int color) {
    XYGraph::CurveStyle style;
    style.pen =
        QPen(platform::Rgb(color), plotStyle == kPlotThickLine ? kThickLineWidth : kThinLineWidth,
             lineStyle == kLineDashed ? Qt::DashLine : Qt::SolidLine);
    style.points      = pointStyle != kPointEmpty;
    style.pointsEvery = pointFrequency;
    return style;
}

} // namespace

int PlotStripChart(int panel, int control, const void *values, int count, int start, int skip,
                   int dataType) {
    int error   = 0;
    auto *chart = platform::FindControlAs<StripChart>(panel, control, error);
    if (!chart)
        return error;
    if (!values || count < 0 || start < 0 || skip < 0 || !IsPlotType(dataType))
        return platform::kErrBadArgument;
    chart->Append(TakeValues(values, count, start, skip, dataType));
    return 0;
}

int SetTraceAttribute(int panel, int control, int trace, int attribute, int value) {
    int error   = 0;
    auto *chart = platform::FindControlAs<StripChart>(panel, control, error);
    if (!chart)
        return error;
    if (attribute != kAttrTraceColor)
        return platform::kErrWrongKind;
    return chart->SetTraceColor(trace, platform::Rgb(value)) ? 0 : platform::kErrBadArgument;
}

int PlotXY(int panel, int control, const void *x, const void *y, int n, int xType, int yType,
           int plotStyle, int pointStyle, int lineStyle, int pointFrequency, int color) {
    int error   = 0;
    auto *graph = platform::FindControlAs<XYGraph>(panel, control, error);
    if (!graph)
        return error;
    if (!x || !y || n < 0 || !IsPlotType(xType) || !IsPlotType(yType))
        return platform::kErrBadArgument;
    return graph->AddCurve(CurvePoints(x, n, xType), CurvePoints(y, n, yType),
                           StyleOf(plotStyle, pointStyle, lineStyle, pointFrequency, color));
}

int DeleteGraphPlot(int panel, int control, int plotHandle, int) {
    int error   = 0;
    auto *graph = platform::FindControlAs<XYGraph>(panel, control, error);
    if (!graph)
        return error;
    if (plotHandle == kAllPlots) {
        graph->DeleteAllCurves();
        return 0;
    }
    return graph->DeleteCurve(plotHandle) ? 0 : platform::kErrBadArgument;
}

int SetPlotAttribute(int panel, int control, int plotHandle, int attribute, const char *text) {
    int error   = 0;
    auto *graph = platform::FindControlAs<XYGraph>(panel, control, error);
    if (!graph)
        return error;
    if (attribute != kAttrPlotName || !text)
        return platform::kErrWrongKind;
    return graph->SetCurveName(plotHandle, QString::fromUtf8(text)) ? 0 : platform::kErrBadArgument;
}

int SetAxisScalingMode(int panel, int control, int axis, int mode, double min, double max) {
    int error   = 0;
    auto *graph = platform::FindControlAs<XYGraph>(panel, control, error);
    if (!graph)
        return error;
    if (mode != kScaleManual || !(min < max))
        return platform::kErrBadArgument;
    if (axis == kAxisX)
        graph->SetXRange(min, max);
    else if (axis == kAxisLeftY)
        graph->SetYRange(min, max);
    else
        return platform::kErrBadArgument;
    return 0;
}
