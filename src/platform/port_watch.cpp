// The COM-port ring kept up to date: devices plugged in or pulled while the program runs
// show in the ring without moving the numbers of the others.
#include "panel_internal.h"
#include "ports.h"
#include "widgets/ring.h"

#include <QAbstractItemView>
#include <QTimer>

#include <string>
#include <vector>

namespace {

// Often enough that a device plugged in shows before the operator looks for it; a scan
// asks udev and reads /dev/serial/by-id, a few milliseconds.
constexpr int kRescanIntervalMs = 2000;

std::vector<std::string> Labels() {
    std::vector<std::string> labels;
    for (const PortEntry &entry : PortTable())
        labels.push_back(entry.label);
    return labels;
}

// What one watched ring was last given; it lives as long as the ring.
class PortRingWatch : public QObject {
  public:
    PortRingWatch(Ring *ring, void (*refresh)())
        : QObject(ring), ring_(ring), refresh_(refresh), shown_(Labels()) {
        timer_.setInterval(kRescanIntervalMs);
        connect(&timer_, &QTimer::timeout, this, [this] {
            // A list the operator is reading is not refilled under the pointer.
            if (!ring_->view()->isVisible())
                Rescan();
        });
        connect(ring_, &Ring::aboutToOpen, this, &PortRingWatch::Rescan);
        timer_.start();
    }

  private:
    void Rescan() {
        if (!platform::ProgramIdle())
            return;
        PortTableScan();
        std::vector<std::string> labels = Labels();
        if (labels == shown_)
            return;
        shown_ = std::move(labels);
        refresh_();
    }

    Ring *ring_;
    void (*refresh_)();
    std::vector<std::string> shown_;
    QTimer timer_;
};

} // namespace

void WatchPortRing(int panel, int control, void (*refresh)()) {
    auto *ring = qobject_cast<Ring *>(platform::ControlWidget(panel, control));
    if (ring && refresh)
        new PortRingWatch(ring, refresh);
}
