// The numeric indicator, drawn as the style draws a read-only line edit. The box paints
// only its frame; the digits stand on a face of their own that covers the inside of the
// frame and paints every pixel of it, so a new value repaints only the face, never the
// frame nor the group box behind it.
#include "indicator.h"

#include <QAccessible>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

#include <algorithm>

namespace {

constexpr int kTextMargin = 4;
// The face starts inside the frame and the line of shadow the style draws along its top.
constexpr int kFaceInset = 1;
// Room for five digits, the widest value of a 16-bit word.
const QString kWidestText = QStringLiteral("00000");

} // namespace

class IndicatorFace : public QWidget {
  public:
    explicit IndicatorFace(Indicator *box) : QWidget(box), box_(box) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

  protected:
    void paintEvent(QPaintEvent *) override {
        QStyleOption option;
        option.initFrom(box_);
        QPainter painter(this);
        painter.fillRect(rect(), option.palette.base());
        // The digits stand where they would stand in a line edit of the box's size.
        const int margin = kTextMargin + box_->FrameWidth() - x();
        painter.setPen(box_->palette().color(
            box_->isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
        painter.drawText(rect().adjusted(margin, 0, -margin, 0), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(box_->Value()));
    }

  private:
    Indicator *box_;
};

Indicator::Indicator(QWidget *parent) : QWidget(parent), face_(new IndicatorFace(this)) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setFocusPolicy(Qt::NoFocus);
}

void Indicator::SetValue(int value) {
    value = std::clamp(value, minimum_, std::max(minimum_, maximum_));
    if (value == value_)
        return;
    value_ = value;
    face_->update();
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(this, value_);
        QAccessible::updateAccessibility(&event);
    }
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

int Indicator::FrameWidth() const {
    QStyleOptionFrame frame;
    frame.initFrom(this);
    return style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &frame, this);
}

void Indicator::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    QStyleOptionFrame frame;
    frame.initFrom(this);
    frame.lineWidth = FrameWidth();
    frame.state |= QStyle::State_Sunken | QStyle::State_ReadOnly;
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &frame, &painter, this);
}

void Indicator::resizeEvent(QResizeEvent *) {
    const int inset = FrameWidth() + kFaceInset;
    face_->setGeometry(rect().adjusted(inset, inset, -inset, -inset));
}
