// The not-sent mark and the note mark over a numeric control.
#include "sent_mark.h"

#include "tooltip.h"

#include <QEvent>
#include <QLineEdit>
#include <QPainter>
#include <QSpinBox>
#include <QTextDocumentFragment>

namespace {

// Dark enough to stand out from the light frame of a spin box also in grey-scale.
const QColor kMarkColor(0xA0, 0x40, 0x00);
// The note's dot: a blue apart from the not-sent mark's brown, so that both read at once.
const QColor kNoteColor(0x10, 0x50, 0xC0);
// The digits of a value not read from a controller: readable, but plainly not settled.
const QColor kDefaultColor(0x70, 0x70, 0x70);
constexpr int kFrameWidth = 2;
constexpr int kFlagSize   = 12; // the sides of the triangle in the top left corner
constexpr int kDotSize    = 8;  // the diameter of the note's dot in the bottom left corner

} // namespace

SentMark::SentMark(QSpinBox *control)
    : QWidget(control), control_(control), description_(control->accessibleDescription()),
      toolTip_(QTextDocumentFragment::fromHtml(control->toolTip()).toPlainText()),
      sent_(control->value()) {
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

bool SentMark::ReadNote(const QWidget *control, QString &note) {
    auto *spin = qobject_cast<const QSpinBox *>(control);
    if (!spin)
        return false;
    const SentMark *mark = Find(spin);
    note                 = mark ? mark->note_ : QString();
    return true;
}

bool SentMark::ReadDefault(const QWidget *control, int &isDefault) {
    auto *spin = qobject_cast<const QSpinBox *>(control);
    if (!spin)
        return false;
    const SentMark *mark = Find(spin);
    isDefault            = mark && mark->default_ ? 1 : 0;
    return true;
}

void SentMark::SetSentValue(int value) {
    sent_ = value;
    Check();
}

void SentMark::SetNote(const QString &note) {
    note_ = note;
    Check();
}

void SentMark::SetRefusal(const QString &refusal) {
    if (refusal_ == refusal)
        return;
    refusal_ = refusal;
    Check();
}

// The digits only: the frame and the arrows stay as they are, so that nothing moves.
void SentMark::SetDefault(bool isDefault) {
    if (default_ == isDefault)
        return;
    default_        = isDefault;
    QLineEdit *edit = control_->findChild<QLineEdit *>();
    QFont font      = edit->font();
    font.setItalic(isDefault);
    edit->setFont(font);
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Text,
                     isDefault ? kDefaultColor : control_->palette().color(QPalette::Text));
    edit->setPalette(palette);
    Check();
}

void SentMark::SetToolTip(const QString &toolTip) {
    toolTip_ = toolTip;
    Check();
}

void SentMark::Check() {
    marked_             = control_->value() != sent_;
    QString description = description_;
    if (marked_)
        description += QStringLiteral(" (not sent)");
    for (const QString &said : {refusal_, note_})
        if (!said.isEmpty())
            description += QStringLiteral(" (") + said + QStringLiteral(")");
    if (default_)
        description += QStringLiteral(" (default)");
    // A screen reader is told of every change of the description, so only real ones.
    if (control_->accessibleDescription() != description)
        control_->setAccessibleDescription(description);
    QStringList lines;
    if (marked_)
        lines << tr("Not sent yet - last sent or read: %1").arg(sent_);
    if (!refusal_.isEmpty())
        lines << refusal_;
    if (!note_.isEmpty())
        lines << note_;
    if (!toolTip_.isEmpty())
        lines << toolTip_;
    const QString toolTip = platform::ToolTipHtml(lines.join(QLatin1Char('\n')));
    if (control_->toolTip() != toolTip)
        control_->setToolTip(toolTip);
    const bool shown = marked_ || !note_.isEmpty() || !refusal_.isEmpty();
    if (shown) {
        setGeometry(control_->rect());
        raise();
    }
    setVisible(shown);
    update();
}

bool SentMark::eventFilter(QObject *watched, QEvent *event) {
    if (watched == control_ && event->type() == QEvent::Resize)
        setGeometry(control_->rect());
    return false;
}

void SentMark::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (marked_) {
        painter.setPen(QPen(kMarkColor, kFrameWidth));
        painter.setBrush(Qt::NoBrush);
        const int half = kFrameWidth / 2;
        painter.drawRect(rect().adjusted(half, half, -half, -half));
        painter.setPen(Qt::NoPen);
        painter.setBrush(kMarkColor);
        const QPoint flag[] = {{0, 0}, {kFlagSize, 0}, {0, kFlagSize}};
        painter.drawPolygon(flag, 3);
    }
    if (!note_.isEmpty() || !refusal_.isEmpty()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(kNoteColor);
        painter.drawEllipse(
            QRect(kFrameWidth + 1, height() - kDotSize - kFrameWidth - 1, kDotSize, kDotSize));
    }
}
