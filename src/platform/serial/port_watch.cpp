// The COM-port ring kept up to date: devices plugged in or pulled while the program runs
// show in the ring without moving the numbers of the others.
#include "panel/events_internal.h"
#include "panel/panel_internal.h"
#include "ports.h"
#include "widgets/ring.h"

#include <QAbstractItemView>
#include <QTimer>

#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

// Often enough that a device plugged in shows before the operator looks for it.
constexpr int kRescanIntervalMs = 2000;
// A scan asks udev and reads /dev/serial/by-id, a few milliseconds: more than everything
// else the idle program does. It runs on the clock only when a device folder changed, and
// on the tick after that too, since udev adds a device's details and stable name a moment
// after the kernel adds its node.
constexpr int kScansAfterChange = 2;

using FolderStamp = std::array<std::int64_t, 2>;

// When a serial device comes or goes, its node changes /dev and its stable name
// /dev/serial/by-id: the modification times of the two, -1 for one that is missing.
FolderStamp DeviceFolderStamp() {
    constexpr std::array<const char *, 2> kFolders = {"/dev", "/dev/serial/by-id"};
    constexpr std::int64_t kNanosecondsPerSecond   = 1000000000;
    FolderStamp stamp{};
    for (std::size_t i = 0; i < kFolders.size(); ++i) {
        struct stat info {};
        stamp[i] = stat(kFolders[i], &info) == 0
                       ? info.st_mtim.tv_sec * kNanosecondsPerSecond + info.st_mtim.tv_nsec
                       : -1;
    }
    return stamp;
}

std::vector<std::string> Labels() {
    std::vector<std::string> labels;
    for (const PortEntry &entry : PortTable())
        labels.push_back(entry.label);
    return labels;
}

// What one watched ring was last given; it lives as long as the ring.
class PortRingWatch : public QObject {
  public:
    PortRingWatch(Ring *ring, std::function<void()> refresh)
        : QObject(ring), ring_(ring), refresh_(std::move(refresh)), shown_(Labels()),
          stamp_(DeviceFolderStamp()) {
        timer_.setInterval(kRescanIntervalMs);
        connect(&timer_, &QTimer::timeout, this, &PortRingWatch::Tick);
        connect(ring_, &Ring::aboutToOpen, this, &PortRingWatch::Rescan);
        timer_.start();
    }

  private:
    // A list the operator is reading is not refilled under the pointer.
    void Tick() {
        if (ring_->view()->isVisible() || !platform::ProgramIdle())
            return;
        if (const FolderStamp stamp = DeviceFolderStamp(); stamp != stamp_) {
            stamp_    = stamp;
            scansDue_ = kScansAfterChange;
        }
        if (scansDue_ > 0) {
            --scansDue_;
            PortTableScan();
        }
        ShowIfChanged();
    }

    void Rescan() {
        if (!platform::ProgramIdle())
            return;
        PortTableScan();
        ShowIfChanged();
    }

    void ShowIfChanged() {
        std::vector<std::string> labels = Labels();
        if (labels == shown_)
            return;
        shown_ = std::move(labels);
        refresh_();
    }

    Ring *ring_;
    std::function<void()> refresh_;
    std::vector<std::string> shown_;
    FolderStamp stamp_;
    int scansDue_ = 0;
    QTimer timer_;
};

} // namespace

void WatchPortRing(int panel, int control, std::function<void()> refresh) {
    auto *ring = qobject_cast<Ring *>(platform::ControlWidget(panel, control));
    if (ring && refresh)
        new PortRingWatch(ring, std::move(refresh));
}
