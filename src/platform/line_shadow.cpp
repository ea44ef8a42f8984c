// Work queued for the shadow of the next request.
#include "line_shadow.h"

#include <QCoreApplication>

#include <utility>
#include <vector>

namespace {

std::vector<std::function<void()>> &Waiting() {
    static std::vector<std::function<void()>> waiting;
    return waiting;
}

} // namespace

void platform::NoteLineWrite() {
    QCoreApplication *application = QCoreApplication::instance();
    if (Waiting().empty() || !application)
        return;
    for (std::function<void()> &work : std::exchange(Waiting(), {}))
        QMetaObject::invokeMethod(application, std::move(work), Qt::QueuedConnection);
}

void platform::AfterNextLineWrite(std::function<void()> work) {
    Waiting().push_back(std::move(work));
}
