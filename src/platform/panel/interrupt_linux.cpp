// Interrupt signals delivered as events: the signal handler only writes a byte into a pipe,
// and a socket notifier on the other end calls the program's handler from event processing,
// where it may touch the program's state.
#include "events.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <unistd.h>
#include <utility>

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

struct InterruptState {
    int pipe[2] = {-1, -1};
    std::function<void()> handler;
    QSocketNotifier *notifier = nullptr;
};

InterruptState interrupt;

void WakeEventLoop(int) {
    const char byte = 1;
    (void)!write(interrupt.pipe[1], &byte, 1);
}

void Deliver() {
    char bytes[16];
    while (read(interrupt.pipe[0], bytes, sizeof bytes) > 0) {
    }
    if (interrupt.handler)
        interrupt.handler();
}

bool OpenPipe() {
    if (interrupt.notifier)
        return true;
    if (!QCoreApplication::instance() || pipe2(interrupt.pipe, O_NONBLOCK | O_CLOEXEC) != 0)
        return false;
    interrupt.notifier =
        new QSocketNotifier(interrupt.pipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(interrupt.notifier, &QSocketNotifier::activated, Deliver);
    return true;
}

} // namespace

void CallOnInterrupt(std::function<void()> handler) {
    interrupt.handler = std::move(handler);
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    if (interrupt.handler && OpenPipe()) {
        action.sa_handler = WakeEventLoop;
        // The second signal finds the default again and ends a program that does not stop.
        action.sa_flags = SA_RESTART | SA_RESETHAND;
    } else {
        action.sa_handler = SIG_DFL;
    }
    for (int signal : kSignals)
        sigaction(signal, &action, nullptr);
}
