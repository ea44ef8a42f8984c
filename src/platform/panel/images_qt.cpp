// Pictures: an image file shown on a picture control, and a plot saved as PNG or PDF.
#include "panel_internal.h"
#include "widgets/picture.h"

#include <QFile>
#include <QLabel>
#include <QPixmap>

#include <qcustomplot.h>

#include <cstdio>

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
    const bool laidOut      = plot->width() >= kMinImageWidth && plot->height() >= kMinImageHeight;
    const int width         = laidOut ? plot->width() : kDefaultImageWidth;
    const int height        = laidOut ? plot->height() : kDefaultImageHeight;
    const QString temporary = QFile::decodeName(path) + ".part";
    const bool saved        = format == kImagePng ? plot->savePng(temporary, width, height)
                                                  : plot->savePdf(temporary, width, height);
    // rename(2) replaces an older file in one step, which QFile::rename does not.
    if (!saved || std::rename(QFile::encodeName(temporary).constData(), path) != 0) {
        QFile::remove(temporary);
        return platform::kErrFileWrite;
    }
    return 0;
}
