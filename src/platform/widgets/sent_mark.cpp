// The not-sent mark over a numeric control.
#include "sent_mark.h"

#include <QEvent>
#include <QPainter>
#include <QSpinBox>

namespace {

// Dark enough to stand out from the light frame of a spin box also in grey-scale.
const QColor kMarkColor(0xA0, 0x40, 0x00);
constexpr int kFrameWidth = 2;
constexpr int kFlagSize   = 12; // the sides of the triangle in the top left corner

} // namespace

SentMark::SentMark(QSpinBox *control)
    : QWidget(control), control_(control), description_(control->accessibleDescription()),
      toolTip_(control->toolTip()), sent_(control->value()) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    hide();
    control->installEventFilter(this);
    connect(control, &QSpinBox::valueChanged, this, &SentMark::Check);
}

SentMark *SentMark::Of(QWidget *control) {
    auto *spin = qobject_cast<QSpinBox *>(control);
    if (!spin)
        return nullptr;
    if (auto *mark = spin->findChild<SentMark *>(QString(), Qt::FindDirectChildrenOnly))
        return mark;
    return new SentMark(spin);
}

const SentMark *SentMark::Find(const QSpinBox *control) {
    return control->findChild<const SentMark *>(QString(), Qt::FindDirectChildrenOnly);
}

bool SentMark::ReadSentValue(const QWidget *control, int &value) {
    auto *spin = qobject_cast<const QSpinBox *>(control);
    if (!spin)
        return false;
    const SentMark *mark = Find(spin);
    value                = mark ? mark->sent_ : spin->value();
    return true;
}

bool SentMark::ReadMarked(const QWidget *control, int &marked) {
    auto *spin = qobject_cast<const QSpinBox *>(control);
    if (!spin)
        return false;
    const SentMark *mark = Find(spin);
    marked               = mark && mark->marked_ ? 1 : 0;
    return true;
}

void SentMark::SetSentValue(int value) {
    sent_ = value;
    Check();
}

void SentMark::Check() {
    marked_ = control_->value() != sent_;
    const QString description =
        marked_ ? description_ + QStringLiteral(" (not sent)") : description_;
    // A screen reader is told of every change of the description, so only real ones.
    if (control_->accessibleDescription() != description)
        control_->setAccessibleDescription(description);
    control_->setToolTip(marked_ ? tr("Not sent yet - last sent or read: %1").arg(sent_)
                                 : toolTip_);
    if (marked_) {
        setGeometry(control_->rect());
        raise();
    }
    setVisible(marked_);
}

bool SentMark::eventFilter(QObject *watched, QEvent *event) {
    if (watched == control_ && event->type() == QEvent::Resize)
        setGeometry(control_->rect());
    return false;
}

void SentMark::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setPen(QPen(kMarkColor, kFrameWidth));
    painter.setBrush(Qt::NoBrush);
    const int half = kFrameWidth / 2;
    painter.drawRect(rect().adjusted(half, half, -half, -half));
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kMarkColor);
    const QPoint flag[] = {{0, 0}, {kFlagSize, 0}, {0, kFlagSize}};
    painter.drawPolygon(flag, 3);
}
