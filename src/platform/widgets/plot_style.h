// The look shared by the strip charts and the x-y graph: white plot area, grey grid,
// axes captioned in a readable size, no antialiasing (the charts redraw many times a
// second).
#pragma once

#include <qcustomplot.h>

inline void ApplyInstrumentStyle(QCustomPlot *plot) {
    plot->setNotAntialiasedElements(QCP::aeAll);
    plot->setBackground(Qt::white);
    const QPen gridPen(QColor(0xc8, 0xc8, 0xc8), 0, Qt::DotLine);
    const QPen subGridPen(QColor(0xe6, 0xe6, 0xe6), 0, Qt::DotLine);
    for (QCPAxis *axis : {plot->xAxis, plot->yAxis}) {
        axis->grid()->setPen(gridPen);
        axis->grid()->setSubGridPen(subGridPen);
        axis->grid()->setSubGridVisible(true);
        axis->setBasePen(QPen(Qt::darkGray));
        axis->setTickPen(QPen(Qt::darkGray));
        axis->setSubTickPen(QPen(Qt::darkGray));
    }
    plot->xAxis2->setVisible(true);
    plot->yAxis2->setVisible(true);
    plot->xAxis2->setTickLabels(false);
    plot->yAxis2->setTickLabels(false);
    QObject::connect(plot->xAxis, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), plot->xAxis2,
                     qOverload<const QCPRange &>(&QCPAxis::setRange));
    QObject::connect(plot->yAxis, qOverload<const QCPRange &>(&QCPAxis::rangeChanged), plot->yAxis2,
                     qOverload<const QCPRange &>(&QCPAxis::setRange));
}

// A bold caption above the plot area; its text is set later.
inline QCPTextElement *AddPlotTitle(QCustomPlot *plot) {
    plot->plotLayout()->insertRow(0);
    QFont font = plot->font();
    font.setBold(true);
    auto *title = new QCPTextElement(plot, QString(), font);
    plot->plotLayout()->addElement(0, 0, title);
    return title;
}
