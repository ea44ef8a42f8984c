// The table of loaded panels, their display and discard, text messages made at run time,
// and the program's event loop (RunUserInterface).
#include "events_internal.h"
#include "panel_internal.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QScreen>
#include <QThread>

namespace {

struct PanelTable {
    std::map<int, platform::PanelRecord> panels;
    int nextHandle = 1;
} table;

struct EventLoop {
    bool quit     = false;
    int quitCode  = 0;
    int callbacks = 0; // callbacks running, nested ones included
} loop;

// Counts a running callback for as long as it runs.
class CallbackScope {
  public:
    CallbackScope() { ++loop.callbacks; }
    ~CallbackScope() { --loop.callbacks; }
    CallbackScope(const CallbackScope &)            = delete;
    CallbackScope &operator=(const CallbackScope &) = delete;
};

} // namespace

namespace platform {

int AddPanel(PanelRecord record) {
    const int panel     = table.nextHandle++;
    table.panels[panel] = std::move(record);
    return panel;
}

PanelRecord *FindPanel(int panel) {
    const auto found = table.panels.find(panel);
    if (found == table.panels.end() || !found->second.top)
        return nullptr;
    return &found->second;
}

QWidget *ControlWidget(int panel, int control) {
    PanelRecord *record = FindPanel(panel);
    if (!record)
        return nullptr;
    const auto found = record->controls.find(control);
    return found == record->controls.end() ? nullptr : found->second.data();
}

QWidget *PanelWidget(int panel) {
    PanelRecord *record = FindPanel(panel);
    return record ? record->top.data() : nullptr;
}

Control FindControl(int panel, int control) {
    if (!FindPanel(panel))
        return {nullptr, kErrNoPanel};
    QWidget *widget = ControlWidget(panel, control);
    return {widget, widget ? 0 : kErrNoControl};
}

void RaiseControlEvent(CtrlCallbackPtr callback, int panel, int control, int event) {
    PanelRecord *record = FindPanel(panel);
    if (!record)
        return;
    void *data = record->callbackData;
    CallbackScope scope;
    callback(panel, control, event, data, 0, 0);
}

bool ProgramIdle() {
    return loop.callbacks == 0 && !ProcessingSystemEvents();
}

void RaisePanelEvent(int panel, int event) {
    PanelRecord *record = FindPanel(panel);
    if (!record || !record->callback)
        return;
    const PanelCallbackPtr callback = record->callback;
    void *data                      = record->callbackData;
    CallbackScope scope;
    callback(panel, event, data, 0, 0);
}

// Beside the program in a build tree; in the data folder of an installed program.
QString ResolveProgramFile(const char *fileName) {
    const QString name = QString::fromLocal8Bit(fileName);
    if (name.contains('/'))
        return name;
    const QDir programDir(QCoreApplication::applicationDirPath());
    const QString beside = programDir.filePath(name);
    const QString installed =
        QDir(programDir.filePath(QStringLiteral(RMX7_DATA_DIR_FROM_BIN))).filePath(name);
    return QFileInfo::exists(beside) || !QFileInfo::exists(installed) ? beside : installed;
}

// A window manager's frame and title bar, at most.
constexpr QSize kFrameAllowance(16, 48);

void ShowFitted(QWidget *window) {
    const QSize wanted    = window->size();
    const QScreen *screen = window->screen();
    const QRect room      = screen ? screen->availableGeometry() : QRect(QPoint(), wanted);
    const QSize framed    = wanted + kFrameAllowance;
    if (framed.width() <= room.width() && framed.height() <= room.height()) {
        window->show();
        window->resize(wanted);
    } else {
        // The whole room also where nothing maximises the window (no window manager, or one
        // that ignores the request), not the panel's size cut to the screen.
        window->setGeometry(room);
        window->showMaximized();
    }
}

} // namespace platform

// --- Panels and the event loop ---

int SetPanelCallbackData(int panel, void *callbackData) {
    platform::PanelRecord *record = platform::FindPanel(panel);
    if (!record)
        return platform::kErrNoPanel;
    record->callbackData = callbackData;
    return 0;
}

int DisplayPanel(int panel) {
    QWidget *window = platform::PanelWidget(panel);
    if (!window)
        return platform::kErrNoPanel;
    platform::ShowFitted(window);
    return 0;
}

int DiscardPanel(int panel) {
    QWidget *window = platform::PanelWidget(panel);
    if (!window)
        return platform::kErrNoPanel;
    table.panels.erase(panel);
    // Inside a callback the widget that raised it may still be delivering its signal.
    if (loop.callbacks > 0) {
        window->hide();
        window->deleteLater();
    } else {
        delete window;
    }
    return 0;
}

int RunUserInterface() {
    QAbstractEventDispatcher *dispatcher = QThread::currentThread()->eventDispatcher();
    if (!dispatcher)
        return platform::kErrNoEngine;
    loop.quit = false;
    while (!loop.quit) {
        QCoreApplication::sendPostedEvents();
        dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return loop.quitCode;
}

int QuitUserInterface(int code) {
    loop.quit     = true;
    loop.quitCode = code;
    if (QAbstractEventDispatcher *dispatcher = QThread::currentThread()->eventDispatcher())
        dispatcher->wakeUp();
    return 0;
}

int NewCtrl(int panel, int style, const char *label, int top, int left) {
    platform::PanelRecord *record = platform::FindPanel(panel);
    if (!record)
        return platform::kErrNoPanel;
    if (style != kCtrlTextMsg)
        return platform::kErrWrongKind;
    const int id = record->controls.empty() ? 1 : record->controls.rbegin()->first + 1;
    auto *text   = new QLabel(QString::fromUtf8(label ? label : ""), record->top);
    text->setProperty(platform::kFitsTextProperty, true);
    text->setAttribute(Qt::WA_TransparentForMouseEvents);
    text->move(left, top);
    text->adjustSize();
    text->show();
    text->raise();
    record->controls[id] = text;
    return id;
}
