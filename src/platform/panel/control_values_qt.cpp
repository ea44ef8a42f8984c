// Control values: numbers of spin boxes, indicators, rings, buttons and LEDs, and texts of
// labels and line edits.
#include "panel_internal.h"
#include "text.h"
#include "trace.h"
#include "widgets/indicator.h"
#include "widgets/led.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

namespace {

bool ReadNumber(const QWidget *widget, int &value) {
    if (auto *spin = qobject_cast<const QSpinBox *>(widget)) {
        value = spin->value();
    } else if (auto *ring = qobject_cast<const QComboBox *>(widget)) {
        value = ring->currentIndex() < 0 ? 0 : platform::RingValue(ring, ring->currentIndex());
    } else if (auto *button = qobject_cast<const QAbstractButton *>(widget)) {
        value = button->isChecked() ? 1 : 0;
    } else if (auto *led = qobject_cast<const Led *>(widget)) {
        value = led->IsOn() ? 1 : 0;
    } else if (auto *indicator = qobject_cast<const Indicator *>(widget)) {
        value = indicator->Value();
    } else if (auto *label = qobject_cast<const QLabel *>(widget)) {
        value = label->text().toInt();
    } else if (auto *edit = qobject_cast<const QLineEdit *>(widget)) {
        value = edit->text().toInt();
    } else {
        return false;
    }
    return true;
}

bool WriteText(QWidget *widget, const QString &text) {
    if (auto *label = qobject_cast<QLabel *>(widget))
        label->setText(text);
    else if (auto *edit = qobject_cast<QLineEdit *>(widget))
        edit->setText(text);
    else
        return false;
    platform::FitText(widget);
    return true;
}

bool WriteNumber(QWidget *widget, int value) {
    if (auto *spin = qobject_cast<QSpinBox *>(widget))
        spin->setValue(value);
    else if (auto *indicator = qobject_cast<Indicator *>(widget))
        indicator->SetValue(value);
    else if (auto *ring = qobject_cast<QComboBox *>(widget))
        return platform::SelectRingValue(ring, value);
    else if (auto *button = qobject_cast<QAbstractButton *>(widget))
        button->setChecked(value != 0);
    else if (auto *led = qobject_cast<Led *>(widget))
        led->SetOn(value != 0);
    else
        return WriteText(widget, QString::number(value));
    return true;
}

void ShowAtOnce(QWidget *widget) {
    widget->repaint();
}

} // namespace

namespace platform {

void CopyText(char *destination, int size, const QString &text) {
    const QByteArray bytes = text.toUtf8();
    ::CopyText(destination, size, std::string_view(bytes.constData(), bytes.size()));
}

bool IsTextControl(const QWidget *widget) {
    return qobject_cast<const QLabel *>(widget) || qobject_cast<const QLineEdit *>(widget);
}

// Text messages made at run time fit their text; the others keep the panel file's size.
void FitText(QWidget *widget) {
    if (widget->property(platform::kFitsTextProperty).toBool())
        widget->adjustSize();
}

} // namespace platform

int GetCtrlVal(int panel, int control, int *value) {
    const platform::Control found = platform::FindControl(panel, control);
    if (!found.widget)
        return found.error;
    if (!value)
        return platform::kErrBadArgument;
    return ReadNumber(found.widget, *value) ? 0 : platform::kErrWrongKind;
}

int GetCtrlVal(int panel, int control, unsigned short *value) {
    if (!value)
        return platform::kErrBadArgument;
    int number       = 0;
    const int result = GetCtrlVal(panel, control, &number);
    if (result == 0)
        *value = static_cast<unsigned short>(number);
    return result;
}

int GetCtrlVal(int panel, int control, char *text, int size) {
    const platform::Control found = platform::FindControl(panel, control);
    if (!found.widget)
        return found.error;
    if (!text || size <= 0)
        return platform::kErrBadArgument;
    if (auto *label = qobject_cast<QLabel *>(found.widget)) {
        platform::CopyText(text, size, label->text());
    } else if (auto *edit = qobject_cast<QLineEdit *>(found.widget)) {
        platform::CopyText(text, size, edit->text());
    } else {
        int number = 0;
        if (!ReadNumber(found.widget, number))
            return platform::kErrWrongKind;
        platform::CopyText(text, size, QString::number(number));
    }
    return 0;
}

int SetCtrlVal(int panel, int control, int value) {
    const platform::Control found = platform::FindControl(panel, control);
    if (!found.widget)
        return found.error;
    // The live loop writes nine numbers between a reply and the next request; painting
    // them now would hold that request back by milliseconds. Each control marks itself
    // for the next event processing, which every loop that writes them runs at once, and
    // only when its value changed: an unchanged number is not drawn again.
    return WriteNumber(found.widget, value) ? 0 : platform::kErrWrongKind;
}

int SetCtrlVal(int panel, int control, const char *text) {
    const platform::Control found = platform::FindControl(panel, control);
    if (!found.widget)
        return found.error;
    if (!text)
        return platform::kErrBadArgument;
    // The status line shows what a controller or a server said, in the same printable form
    // as the trace; the panel file makes it plain text, so no markup of theirs acts either.
    const bool status = TraceIsStatusControl(panel, control);
    if (status)
        TraceStatus(text);
    const std::string shown = status ? PrintableText(text) : std::string(text);
    if (!WriteText(found.widget, QString::fromStdString(shown)))
        return platform::kErrWrongKind;
    ShowAtOnce(found.widget);
    return 0;
}
