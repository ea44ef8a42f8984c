// The plant from one seat: the plant window, fed by the plant's broker alone, one row per
// line, and the actions on the lines selected (read, restore, store, report, live chart,
// forget) through their agents' commands. It opens beside the panel (its Plant button) or
// alone (rmx7scope --plant) and lives on the event loop until it is closed. It never opens
// a serial port.
#pragma once

#include "publish.h"

#include <functional>
#include <memory>
#include <string>

namespace plant {

class Seat;

// The plant window of its owner (the panel's Program, rmx7scope --plant): one at a time.
class PlantSeat {
  public:
    PlantSeat();
    // Closes an open window as Close does.
    ~PlantSeat();
    PlantSeat(const PlantSeat &)            = delete;
    PlantSeat &operator=(const PlantSeat &) = delete;

    // Opens the window on the broker of settings (its address, TLS files, login and client
    // id; the lines under settings.prefix). An open window is raised instead. False with
    // error when a setting is wrong. closed, when given, is called once the operator closed
    // it.
    bool Open(const publish::Settings &settings, std::string &error,
              std::function<void()> closed = {});
    bool IsOpen() const { return seat_ != nullptr; }
    // Closes the window and its charts, and the broker connection, without calling closed.
    void Close();

  private:
    static void EndSeat(void *self);

    std::unique_ptr<Seat> seat_;
    std::function<void()> closed_;
    int endTimer_ = 0; // the seat goes once the window's own close callback has returned
};

} // namespace plant
