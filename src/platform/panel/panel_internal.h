// Inside the panel services: the table of loaded panels shared by the loader and the
// value, ring, attribute, plot and image services, the helpers they share, and the result
// codes they return. Not for the program's modules, which know panels only by handle.
#pragma once

#include "panel.h"

#include <QColor>
#include <QPointer>
#include <QWidget>

#include <map>

class QComboBox;

namespace platform {

// Result codes of the panel services.
constexpr int kErrNoPanel         = -1; // no panel with that handle
constexpr int kErrNoControl       = -2; // the panel has no control with that id
constexpr int kErrWrongKind       = -3; // the control does not take that value or attribute
constexpr int kErrBadArgument     = -4;
constexpr int kErrFileMissing     = -5;
constexpr int kErrFileUnreadable  = -6; // not a panel file Qt can build
constexpr int kErrNoResource      = -7; // the file holds no panel of that resource number
constexpr int kErrUnknownCallback = -8;
constexpr int kErrDuplicateId     = -9;
constexpr int kErrNoEngine        = -10;
constexpr int kErrFileWrite       = -11;

// Dynamic properties that the panel file gives the widgets.
constexpr const char *kCtrlIdProperty        = "ctrlId";
constexpr const char *kCallbackProperty      = "callback";
constexpr const char *kPanelResourceProperty = "panelResource";
// Set on text messages that size themselves to their text.
constexpr const char *kFitsTextProperty = "fitsText";

struct PanelRecord {
    QPointer<QWidget> top;
    std::map<int, QPointer<QWidget>> controls;
    PanelCallbackPtr callback = nullptr;
    void *callbackData        = nullptr; // what every callback of the panel is given
};

// Enters a loaded panel into the table; its handle.
int AddPanel(PanelRecord record);
// The panel of a handle, or nullptr once it has been discarded.
PanelRecord *FindPanel(int panel);
// The widget of a control, or nullptr when the panel or the control is unknown.
QWidget *ControlWidget(int panel, int control);
// The panel's window, or nullptr.
QWidget *PanelWidget(int panel);

// A control's widget, or nullptr with the result code that says why.
struct Control {
    QWidget *widget = nullptr;
    int error       = 0;
};
Control FindControl(int panel, int control);
// The control as a widget of one kind; nullptr with kErrWrongKind when it is another.
template <class Widget> Widget *FindControlAs(int panel, int control, int &error) {
    const Control found = FindControl(panel, control);
    error               = found.error;
    auto *widget        = qobject_cast<Widget *>(found.widget);
    if (found.widget && !widget)
        error = kErrWrongKind;
    return widget;
}

// Colours cross the services as 0xRRGGBB.
QColor Rgb(int rgb);
int RgbOf(const QColor &color);

// Labels and line edits, which take texts and the text attributes.
bool IsTextControl(const QWidget *widget);
// The text as UTF-8 into a buffer of size bytes, cut to fit (see CopyText of text.h).
void CopyText(char *destination, int size, const QString &text);
// Text messages made at run time fit their text; the others keep the panel file's size.
void FitText(QWidget *widget);

// Callbacks are called through these, so that a panel discarded inside a callback is
// deleted only once the event that raised the callback has been delivered.
void RaiseControlEvent(CtrlCallbackPtr callback, int panel, int control, int event);
void RaisePanelEvent(int panel, int event);

// A ring remembers the item the operator last committed, so that choosing the same item
// again raises only a commit. The services that select items call this too.
void NoteRingSelection(QComboBox *ring);
bool RingSelectionChanged(const QComboBox *ring);
// The value of a ring's item: its data, or its index when it has none.
int RingValue(const QComboBox *ring, int index);
// Selects the item of that value; false when the ring has none.
bool SelectRingValue(QComboBox *ring, int value);

// A bare file name stands beside the program; a name with a slash is taken as given.
QString ResolveProgramFile(const char *fileName);
// Shows a top-level window at its size when that fits the screen with a window frame
// around it, else maximised: on a small screen all of it, inside the frame.
void ShowFitted(QWidget *window);

} // namespace platform
