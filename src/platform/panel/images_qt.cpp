// Pictures: an image file shown on a picture control, and a plot saved as PNG or PDF.
#include "files/textfile.h"
#include "panel_internal.h"
#include "widgets/picture.h"

#include <QBuffer>
#include <QLabel>
#include <QPdfWriter>
#include <QPixmap>

#include <qcustomplot.h>

#include <cerrno>

int DisplayImageFile(int panel, int control, const char *fileName) {
    int error     = 0;
    auto *picture = platform::FindControlAs<QLabel>(panel, control, error);
    if (!picture)
        return error;
    const QString path = fileName ? platform::ResolveProgramFile(fileName) : QString();
    auto *drawable     = qobject_cast<Picture *>(picture);
    if (drawable) {
        drawable->ClearPicture();
        if (path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive))
            return drawable->ShowDrawing(path) ? 0 : platform::kErrFileUnreadable;
    }
    QPixmap image;
    if (path.isEmpty() || !image.load(path)) {
        picture->clear();
        return platform::kErrFileUnreadable;
    }
    picture->setPixmap(image);
    return 0;
}

constexpr int kMinImageWidth      = 200;
constexpr int kMinImageHeight     = 150;
constexpr int kDefaultImageWidth  = 800;
constexpr int kDefaultImageHeight = 500;
constexpr int kScreenDotsPerMeter = 3780; // 96 dpi, the screen's pixel as the PNG's
constexpr int kPointsPerInch      = 72;   // a pixel of the plot is a point of the PDF page

namespace {

// The plot at width x height as the bytes of a PNG file; empty when Qt could not make them.
QByteArray PngOf(QCustomPlot *plot, int width, int height) {
    QImage image = plot->toPixmap(width, height).toImage();
    image.setDotsPerMeterX(kScreenDotsPerMeter);
    image.setDotsPerMeterY(kScreenDotsPerMeter);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    return !image.isNull() && image.save(&buffer, "PNG") ? bytes : QByteArray();
}

// The plot as one page of vectors of width x height points; empty when Qt could not paint it.
QByteArray PdfOf(QCustomPlot *plot, int width, int height) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setResolution(kPointsPerInch);
    writer.setPageLayout(QPageLayout(
        QPageSize(QSizeF(width, height), QPageSize::Point, QString(), QPageSize::ExactMatch),
        QPageLayout::Portrait, QMarginsF()));
    QCPPainter painter;
    if (!painter.begin(&writer))
        return {};
    painter.setMode(QCPPainter::pmVectorized);
    plot->toPainter(&painter, width, height);
    return painter.end() ? buffer.data() : QByteArray();
}

} // namespace

int SavePlotImage(int panel, int control, const char *path, int format) {
    const platform::Control found = platform::FindControl(panel, control);
    if (!found.widget)
        return found.error;
    auto *plot = found.widget->findChild<QCustomPlot *>();
    if (!plot)
        return platform::kErrWrongKind;
    if (!path || (format != kImagePng && format != kImagePdf))
        return platform::kErrBadArgument;
    // A plot never laid out on screen (a panel not shown yet) has no size worth a picture.
    const bool laidOut = plot->width() >= kMinImageWidth && plot->height() >= kMinImageHeight;
    const int width    = laidOut ? plot->width() : kDefaultImageWidth;
    const int height   = laidOut ? plot->height() : kDefaultImageHeight;
    // Made in memory, so that the file goes through the one writer that never follows a
    // planted link and writes whole or not at all.
    const QByteArray bytes =
        format == kImagePng ? PngOf(plot, width, height) : PdfOf(plot, width, height);
    const int written = bytes.isEmpty() ? -EIO : ReplaceTextFile(path, bytes.toStdString());
    if (written != 0) {
        errno = -written;
        return platform::kErrFileWrite;
    }
    return 0;
}
