// The data curve of a report, drawn as vectors where the text flow places it: an object
// of the report's text document, laid out like a character of the given size.
#pragma once

#include "pdf_report.h"

#include <QObject>
#include <QSizeF>
#include <QTextFormat>
#include <QTextObjectInterface>

class ReportChart : public QObject, public QTextObjectInterface {
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)

  public:
    static constexpr int kObjectType = QTextFormat::UserObject + 1;

    // capture must outlive the chart; size in the layout's device units.
    ReportChart(const ReportCapture &capture, QSizeF size, QObject *parent);

    QSizeF intrinsicSize(QTextDocument *, int, const QTextFormat &) override { return size_; }
    void drawObject(QPainter *painter, const QRectF &rect, QTextDocument *, int,
                    const QTextFormat &) override;

  private:
    const ReportCapture &capture_;
    QSizeF size_;
};
