// Clock, pause and event processing over Qt's event dispatcher.
#include "events.h"

#include "events_internal.h"
#include "panel_internal.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QTimerEvent>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <thread>
#include <utility>
#include <vector>

namespace {

// Bound the sleep of ProcessSystemEvents when nothing happens, so that a waiting loop
// still tests its clock. The program's waits are for a reply, each time-out counted from
// the request and at least 1.5 s long. Early in a wait the reply's bytes wake the loop
// and no time-out is near, so a sleep may last 20 ms; from a second after the latest
// write on, 8 ms, so that a time-out text comes within 20 ms of its time even from a loop
// that tests a clock reading taken before its last sleep.
constexpr int kEarlyBoundMs         = 20;
constexpr int kLateBoundMs          = 8;
constexpr double kEarlyPhaseSeconds = 1.0;

int processingDepth   = 0;    // ProcessSystemEvents calls running, nested ones included
unsigned callbacksRun = 0;    // receive callbacks delivered so far
double lastWriteAt    = -1e9; // Timer() of the latest write to a port
std::vector<std::function<void()>> afterNextWrite; // work for the next write's shadow

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

// The program's one-shot timers on one object: a timer costs a map entry, not an object.
class TimerHost : public QObject {
  public:
    int Start(int ms, void (*callback)(void *), void *data) {
        const int id = startTimer(ms, Qt::PreciseTimer);
        if (id > 0)
            calls_[id] = {callback, data};
        return id > 0 ? id : -1;
    }
    void Cancel(int id) {
        if (calls_.erase(id) > 0)
            killTimer(id);
    }

  protected:
    void timerEvent(QTimerEvent *event) override {
        const int id = event->timerId();
        killTimer(id);
        const auto call = calls_.find(id);
        if (call == calls_.end())
            return;
        const auto [callback, data] = call->second;
        calls_.erase(call);
        callback(data);
    }

  private:
    std::map<int, std::pair<void (*)(void *), void *>> calls_;
};

TimerHost *Timers() {
    static QPointer<TimerHost> host;
    if (!host && QCoreApplication::instance()) {
        host = new TimerHost;
        host->setParent(QCoreApplication::instance());
    }
    return host.data();
}

} // namespace

int StartTimer(double seconds, void (*callback)(void *data), void *data) {
    TimerHost *host = Timers();
    if (!host || !callback)
        return -1;
    const double ms = std::ceil(std::max(seconds, 0.0) * 1000.0);
    return host->Start(ms > 1e9 ? 1000000000 : static_cast<int>(ms), callback, data);
}

void CancelTimer(int id) {
    if (TimerHost *host = Timers(); host && id > 0)
        host->Cancel(id);
}

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
    // The dispatcher sends the posted events first, a receive callback's delivery among
    // them; not every dispatcher counts those as processed, so the callbacks are counted.
    const unsigned runBefore = callbacksRun;
    if (dispatcher->processEvents(QEventLoop::AllEvents) || callbacksRun != runBefore)
        return 0;
    // Nothing was pending: sleep until the next event (serial bytes, input, a timer, a
    // posted event), the bound at the latest.
    static QPointer<QTimer> bound;
    if (!bound) {
        bound = new QTimer(QCoreApplication::instance());
        bound->setSingleShot(true);
        bound->setTimerType(Qt::PreciseTimer);
    }
    bound->start(Timer() - lastWriteAt < kEarlyPhaseSeconds ? kEarlyBoundMs : kLateBoundMs);
    dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    bound->stop();
    // Bytes that woke the sleep posted their delivery: the receive callback runs now, not
    // in the next pass.
    QCoreApplication::sendPostedEvents();
    return 0;
}

int PostDeferredCall(void (*callback)(void *data), void *data) {
    QCoreApplication *application = QCoreApplication::instance();
    if (!application)
        return -1;
    QMetaObject::invokeMethod(
        application, [callback, data] { callback(data); }, Qt::QueuedConnection);
    return 0;
}

bool platform::ProcessingSystemEvents() {
    return processingDepth > 0;
}

void platform::NoteCallbackRun() {
    ++callbacksRun;
}

void platform::NotePortWrite() {
    lastWriteAt                   = Timer();
    QCoreApplication *application = QCoreApplication::instance();
    if (afterNextWrite.empty() || !application)
        return;
    for (std::function<void()> &work : std::exchange(afterNextWrite, {}))
        QMetaObject::invokeMethod(application, std::move(work), Qt::QueuedConnection);
}

void platform::AfterNextPortWrite(std::function<void()> work) {
    afterNextWrite.push_back(std::move(work));
}
