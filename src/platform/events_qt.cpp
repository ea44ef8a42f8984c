// Clock, pause and event processing over Qt's event dispatcher.
#include "events.h"

#include "panel_internal.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <thread>

namespace {

// Bounds the wait of ProcessSystemEvents: long enough that an idle waiting loop sleeps
// instead of spinning, short enough that its clock tests stay exact to about 1 ms.
constexpr int kIdleWaitMs = 1;

int processingDepth = 0; // ProcessSystemEvents calls running, nested ones included

class ProcessingScope {
  public:
    ProcessingScope() { ++processingDepth; }
    ~ProcessingScope() { --processingDepth; }
    ProcessingScope(const ProcessingScope &)            = delete;
    ProcessingScope &operator=(const ProcessingScope &) = delete;
};

QElapsedTimer &Clock() {
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock;
}

} // namespace

double Timer() {
    return static_cast<double>(Clock().nsecsElapsed()) * 1e-9;
}

void Delay(double seconds) {
    if (seconds > 0)
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

int ProcessSystemEvents() {
    QAbstractEventDispatcher *dispatcher = QThread::currentThread()->eventDispatcher();
    if (!dispatcher)
        return 0;
    ProcessingScope scope;
    QCoreApplication::sendPostedEvents();
    if (dispatcher->processEvents(QEventLoop::AllEvents))
        return 0;
    // Nothing was pending: sleep until the next event, the wake-up timer at the latest.
    static QPointer<QTimer> wakeUp;
    if (!wakeUp) {
        wakeUp = new QTimer(QCoreApplication::instance());
        wakeUp->setSingleShot(true);
        wakeUp->setTimerType(Qt::PreciseTimer);
    }
    wakeUp->start(kIdleWaitMs);
    dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    wakeUp->stop();
    QCoreApplication::sendPostedEvents();
    return 0;
}

bool platform::ProcessingSystemEvents() {
    return processingDepth > 0;
}
