// The numeric input: typed text taken as it is, a number out of range refused with a note.
#include "numeric_input.h"

#include "sent_mark.h"

#include <QKeyEvent>
#include <QRegularExpression>

#include <utility>

namespace {

// Enough digits for any number an operator means, few enough to stay a whole number.
const QRegularExpression kTypedNumber(QStringLiteral("^-?[0-9]{0,10}$"));

} // namespace

NumericInput::NumericInput(QWidget *parent) : QSpinBox(parent) {
    connect(this, &QSpinBox::valueChanged, this, [this](int value) {
        if (!editing_)
            settled_ = value;
        if (std::exchange(noted_, false))
            SentMark::Of(this)->SetRefusal({});
    });
    connect(this, &QAbstractSpinBox::editingFinished, this, &NumericInput::EndEdit);
}

// A number out of range, or a lone minus sign, is Intermediate: it stays as typed and is
// judged when the edit ends, where the spin box would have dropped the key in silence.
QValidator::State NumericInput::validate(QString &text, int &position) const {
    const QString typed = text.trimmed();
    if (!kTypedNumber.match(typed).hasMatch())
        return QValidator::Invalid;
    bool number        = false;
    const qint64 value = typed.toLongLong(&number);
    if (number && value >= minimum() && value <= maximum())
        return QSpinBox::validate(text, position);
    return QValidator::Intermediate;
}

// Called as the edit ends on text that is no value of the control; the spin box then keeps
// its value, and EndEdit puts back the one from before the edit and says why.
void NumericInput::fixup(QString &input) const {
    bool number = false;
    input.trimmed().toLongLong(&number);
    if (number)
        refused_ = input.trimmed();
}

void NumericInput::keyPressEvent(QKeyEvent *event) {
    const bool edits = !event->text().isEmpty() || event->key() == Qt::Key_Backspace ||
                       event->key() == Qt::Key_Delete;
    if (edits && !editing_) {
        editing_ = true;
        refused_.clear();
    }
    QSpinBox::keyPressEvent(event);
}

void NumericInput::EndEdit() {
    const QString refused = refused_;
    refused_.clear();
    if (!refused.isEmpty()) {
        setValue(settled_);
        noted_ = true;
        SentMark::Of(this)->SetRefusal(tr("%1 was not taken: %2 takes %3 to %4")
                                           .arg(refused, accessibleName())
                                           .arg(minimum())
                                           .arg(maximum()));
    }
    editing_ = false;
    settled_ = value();
}
