// The picture control. A drawing is rendered once for each size and pixel density it is
// shown at, then only copied: the band it sits on is repainted with every window change.
#include "picture.h"

#include <QPainter>
#include <QSvgRenderer>

Picture::Picture(QWidget *parent) : QLabel(parent), drawing_(new QSvgRenderer(this)) {}

bool Picture::ShowDrawing(const QString &path) {
    QLabel::clear();
    rendered_         = QPixmap();
    const bool loaded = drawing_->load(path) && drawing_->isValid();
    if (!loaded)
        drawing_->load(QByteArray());
    update();
    return loaded;
}

void Picture::ClearPicture() {
    QLabel::clear();
    drawing_->load(QByteArray());
    rendered_ = QPixmap();
    update();
}

bool Picture::HasDrawing() const {
    return drawing_->isValid();
}

void Picture::paintEvent(QPaintEvent *event) {
    if (!HasDrawing()) {
        QLabel::paintEvent(event);
        return;
    }
    const QRect area   = contentsRect();
    const qreal ratio  = devicePixelRatioF();
    const QSize pixels = (QSizeF(area.size()) * ratio).toSize();
    if (rendered_.size() != pixels || rendered_.devicePixelRatio() != ratio) {
        rendered_ = QPixmap(pixels);
        rendered_.fill(Qt::transparent);
        QPainter painter(&rendered_);
        painter.setRenderHint(QPainter::Antialiasing);
        drawing_->render(&painter, QRectF(QPointF(0, 0), QSizeF(pixels)));
        painter.end();
        rendered_.setDevicePixelRatio(ratio);
    }
    QPainter(this).drawPixmap(area.topLeft(), rendered_);
}
