// The numeric indicator, drawn as the style draws a read-only line edit.
#include "indicator.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

#include <algorithm>

namespace {

constexpr int kTextMargin = 4;
// Room for five digits, the widest value of a 16-bit word.
const QString kWidestText = QStringLiteral("00000");

} // namespace

Indicator::Indicator(QWidget *parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setFocusPolicy(Qt::NoFocus);
}

void Indicator::SetValue(int value) {
    value = std::clamp(value, minimum_, std::max(minimum_, maximum_));
    if (value == value_)
        return;
    value_ = value;
    update();
}

void Indicator::SetMinimum(int minimum) {
    minimum_ = minimum;
    SetValue(value_);
}

void Indicator::SetMaximum(int maximum) {
    maximum_ = maximum;
    SetValue(value_);
}

QSize Indicator::sizeHint() const {
    QStyleOptionFrame option;
    option.initFrom(this);
    const QSize text(fontMetrics().horizontalAdvance(kWidestText) + 2 * kTextMargin,
                     fontMetrics().height() + kTextMargin);
    return style()->sizeFromContents(QStyle::CT_LineEdit, &option, text, this);
}

QSize Indicator::minimumSizeHint() const {
    return sizeHint();
}

void Indicator::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    QStyleOptionFrame frame;
    frame.initFrom(this);
    frame.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &frame, this);
    frame.state |= QStyle::State_Sunken | QStyle::State_ReadOnly;
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &frame, &painter, this);
    const QRect text =
        rect().adjusted(kTextMargin + frame.lineWidth, 0, -(kTextMargin + frame.lineWidth), 0);
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
    painter.drawText(text, Qt::AlignRight | Qt::AlignVCenter, QString::number(value_));
}
