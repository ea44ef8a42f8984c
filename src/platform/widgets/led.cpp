// The LED, drawn as a shaded disc with a dark rim.
#include "led.h"

#include <QAccessible>
#include <QPainter>
#include <QRadialGradient>

#include <algorithm>

namespace {

const QColor kDefaultOnColor(0x00, 0xd0, 0x00);
const QColor kOffColor(0x30, 0x38, 0x30);
const QColor kRimColor(0x20, 0x20, 0x20);
constexpr int kDiameter    = 20;
constexpr int kMinDiameter = 12;
// The highlight sits up and left of the centre, as on a lamp lit from above.
constexpr double kHighlightOffset = 0.35;
constexpr int kHighlightLighter   = 170;

} // namespace

Led::Led(QWidget *parent) : QWidget(parent), onColor_(kDefaultOnColor) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void Led::SetOn(bool on) {
    if (on == on_)
        return;
    on_ = on;
    update();
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(this, on_ ? 1 : 0);
        QAccessible::updateAccessibility(&event);
    }
}

void Led::SetOnColor(const QColor &color) {
    onColor_ = color;
    update();
}

QSize Led::sizeHint() const {
    return {kDiameter, kDiameter};
}

QSize Led::minimumSizeHint() const {
    return {kMinDiameter, kMinDiameter};
}

void Led::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int diameter = std::min(width(), height()) - 2;
    const QRectF disc((width() - diameter) / 2.0, (height() - diameter) / 2.0, diameter, diameter);
    const QColor body = on_ ? onColor_ : kOffColor;
    QRadialGradient shade(disc.center() - QPointF(diameter, diameter) * kHighlightOffset / 2.0,
                          diameter * 0.75);
    shade.setColorAt(0.0, body.lighter(kHighlightLighter));
    shade.setColorAt(1.0, body);
    painter.setPen(QPen(kRimColor, 1));
    painter.setBrush(shade);
    painter.drawEllipse(disc);
}
