// Loading a panel from its panel file (Qt Designer XML): our own widget classes made by
// class name (the rings and numeric inputs too), each control bound to its id and callback
// by the file's dynamic properties, and the widgets' signals turned into the events the
// callbacks expect.
#include "panel_internal.h"
#include "widgets/indicator.h"
#include "widgets/led.h"
#include "widgets/numeric_input.h"
#include "widgets/picture.h"
#include "widgets/ring.h"
#include "widgets/strip_chart.h"
#include "widgets/timer_control.h"
#include "widgets/xy_graph.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QUiLoader>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

namespace {

// The item a ring's operator last committed.
// Designer keeps no item data: a ring's item values come as "0,1" in this property.
constexpr const char *kItemValuesProperty = "itemValues";

struct CallbackTable {
    const CallbackEntry *entries = nullptr;
    int count                    = 0;
} callbacks;

const CallbackEntry *FindCallback(const QString &name) {
    const QByteArray wanted = name.toUtf8();
    for (int k = 0; k < callbacks.count; ++k)
        if (std::strcmp(callbacks.entries[k].name, wanted.constData()) == 0)
            return &callbacks.entries[k];
    return nullptr;
}

class PanelUiLoader : public QUiLoader {
  public:
    QWidget *createWidget(const QString &className, QWidget *parent, const QString &name) override {
        QWidget *widget = CreateOwnWidget(className, parent);
        if (!widget)
            return QUiLoader::createWidget(className, parent, name);
        widget->setObjectName(name);
        return widget;
    }

  private:
    static QWidget *CreateOwnWidget(const QString &className, QWidget *parent) {
        if (className == QLatin1String("StripChart"))
            return new StripChart(parent);
        if (className == QLatin1String("XYGraph"))
            return new XYGraph(parent);
        if (className == QLatin1String("Led"))
            return new Led(parent);
        if (className == QLatin1String("Indicator"))
            return new Indicator(parent);
        if (className == QLatin1String("Picture"))
            return new Picture(parent);
        if (className == QLatin1String("TimerControl"))
            return new TimerControl(parent);
        if (className == QLatin1String("QComboBox"))
            return new Ring(parent);
        if (className == QLatin1String("QSpinBox"))
            return new NumericInput(parent);
        return nullptr;
    }
};

// The operator closing the window becomes the close event; the window stays, since
// the program ends through its own close callback.
class PanelWindowFilter : public QObject {
  public:
    PanelWindowFilter(int panel, QObject *parent) : QObject(parent), panel_(panel) {}

    bool eventFilter(QObject *, QEvent *event) override {
        switch (event->type()) {
        case QEvent::Close:
            event->ignore();
            platform::RaisePanelEvent(panel_, kEventClose);
            return true;
        case QEvent::WindowActivate:
            platform::RaisePanelEvent(panel_, kEventGotFocus);
            return false;
        case QEvent::WindowDeactivate:
            platform::RaisePanelEvent(panel_, kEventLostFocus);
            return false;
        default:
            return false;
        }
    }

  private:
    int panel_;
};

struct BoundControl {
    int id;
    QWidget *widget;
    CtrlCallbackPtr callback;
};

struct Binding {
    std::vector<BoundControl> controls;
    PanelCallbackPtr panelCallback = nullptr;
};

// 0, or kErrUnknownCallback when the table lacks a callback the file names.
int ResolvePanelCallback(const QWidget *top, Binding &binding) {
    const QString name = top->property(platform::kCallbackProperty).toString();
    if (name.isEmpty())
        return 0;
    const CallbackEntry *entry = FindCallback(name);
    if (!entry || !entry->panel)
        return platform::kErrUnknownCallback;
    binding.panelCallback = entry->panel;
    return 0;
}

// 0 with the callback of that name (none for an empty name), or kErrUnknownCallback.
int ResolveControlCallback(const QString &name, CtrlCallbackPtr &callback) {
    callback = nullptr;
    if (name.isEmpty())
        return 0;
    const CallbackEntry *entry = FindCallback(name);
    if (!entry || !entry->control)
        return platform::kErrUnknownCallback;
    callback = entry->control;
    return 0;
}

int CollectControls(QWidget *top, Binding &binding) {
    std::set<int> ids;
    for (QWidget *widget : top->findChildren<QWidget *>()) {
        const QVariant idProperty = widget->property(platform::kCtrlIdProperty);
        const QString name        = widget->property(platform::kCallbackProperty).toString();
        // A callback is called with its control's id: one without an id is a broken file.
        if (!idProperty.isValid()) {
            if (!name.isEmpty())
                return platform::kErrFileUnreadable;
            continue;
        }
        bool isNumber = false;
        const int id  = idProperty.toInt(&isNumber);
        if (!isNumber || id <= 0)
            return platform::kErrFileUnreadable;
        if (!ids.insert(id).second)
            return platform::kErrDuplicateId;
        CtrlCallbackPtr callback = nullptr;
        if (const int result = ResolveControlCallback(name, callback); result < 0)
            return result;
        binding.controls.push_back({id, widget, callback});
    }
    return ResolvePanelCallback(top, binding);
}

void ApplyItemValues(QWidget *top) {
    for (QComboBox *ring : top->findChildren<QComboBox *>()) {
        const QStringList values =
            ring->property(kItemValuesProperty).toString().split(',', Qt::SkipEmptyParts);
        for (int index = 0; index < std::min(ring->count(), static_cast<int>(values.size()));
             ++index)
            ring->setItemData(index, values[index].trimmed().toInt());
    }
}

// Qt builds a widget's free children before its layout; stack them above the laid-out
// ones again, as their order in the file says (the logo above the band).
void RaiseFreeChildren(QWidget *top) {
    const QLayout *layout = top->layout();
    for (QWidget *child : top->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        if (!layout || layout->indexOf(child) < 0)
            child->raise();
}

void BindRing(QComboBox *ring, int panel, const BoundControl &control) {
    platform::NoteRingSelection(ring);
    if (!control.callback)
        return;
    QObject::connect(ring, &QComboBox::activated, ring, [ring, panel, control] {
        const bool changed = platform::RingSelectionChanged(ring);
        platform::NoteRingSelection(ring);
        if (changed)
            platform::RaiseControlEvent(control.callback, panel, control.id, kEventValueChanged);
        platform::RaiseControlEvent(control.callback, panel, control.id, kEventCommit);
    });
}

void BindEvents(int panel, const BoundControl &control) {
    QWidget *widget = control.widget;
    if (auto *ring = qobject_cast<QComboBox *>(widget)) {
        BindRing(ring, panel, control);
        return;
    }
    if (!control.callback)
        return;
    const auto raise = [panel, control](int event) {
        return [panel, control, event] {
            platform::RaiseControlEvent(control.callback, panel, control.id, event);
        };
    };
    if (auto *button = qobject_cast<QPushButton *>(widget)) {
        QObject::connect(button, &QPushButton::pressed, button, raise(kEventLeftClick));
        QObject::connect(button, &QPushButton::clicked, button, raise(kEventCommit));
    } else if (auto *radio = qobject_cast<QRadioButton *>(widget)) {
        QObject::connect(radio, &QRadioButton::clicked, radio, raise(kEventValueChanged));
    } else if (auto *box = qobject_cast<QCheckBox *>(widget)) {
        QObject::connect(box, &QCheckBox::clicked, box, raise(kEventCommit));
    } else if (auto *timer = qobject_cast<TimerControl *>(widget)) {
        QObject::connect(timer, &TimerControl::tick, timer, raise(kEventTimerTick));
    }
}

} // namespace

void RegisterCallbacks(const CallbackEntry *table, int count) {
    callbacks = {table, table ? count : 0};
}

int LoadPanel(int, const char *fileName, int panelResource) {
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return platform::kErrNoEngine;
    if (!fileName || !*fileName)
        return platform::kErrBadArgument;
    const QString path = platform::ResolveProgramFile(fileName);
    QFile file(path);
    if (!file.exists())
        return platform::kErrFileMissing;
    if (!file.open(QIODevice::ReadOnly))
        return platform::kErrFileUnreadable;
    // The panel's own widgets are made by class name; Designer's widget plugins, which the
    // loader takes in as it is made, are never needed and one brings in all of Qt Quick.
    const QStringList libraryPaths = QCoreApplication::libraryPaths();
    QCoreApplication::setLibraryPaths({});
    PanelUiLoader loader;
    QCoreApplication::setLibraryPaths(libraryPaths);
    loader.setWorkingDirectory(QFileInfo(path).absoluteDir());
    std::unique_ptr<QWidget> top(loader.load(&file));
    if (!top)
        return platform::kErrFileUnreadable;
    if (top->property(platform::kPanelResourceProperty).toInt() != panelResource)
        return platform::kErrNoResource;
    ApplyItemValues(top.get());
    RaiseFreeChildren(top.get());
    Binding binding;
    if (const int result = CollectControls(top.get(), binding); result < 0)
        return result;

    platform::PanelRecord record;
    record.callback = binding.panelCallback;
    for (const BoundControl &control : binding.controls)
        record.controls[control.id] = control.widget;
    QWidget *window = top.release();
    record.top      = window;
    const int panel = platform::AddPanel(std::move(record));
    for (const BoundControl &control : binding.controls)
        BindEvents(panel, control);
    window->installEventFilter(new PanelWindowFilter(panel, window));
    return panel;
}
