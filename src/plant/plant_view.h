// What the plant shows of a line, in the window and in rmx7ctl plant's table: each column
// in words, the colour beside them, what a screen reader says, the trend and LEDs, and the
// actions the row allows. Pure, so the window, the tool and the tests read the same texts.
#pragma once

#include "plant/plant_model.h"
#include "platform/plant/plant_window.h"

#include <string>

namespace plant {

// The window's title, columns (in the order of Column), actions (in the order of Action)
// and status filters (in the order of StatusFilter).
plantview::Layout WindowLayout(const std::string &broker, const std::string &prefix);

// "online since 14:02:11", "no controller since 14:02:11: Timeout < 36 Bytes",
// "offline since 14:02:11 or before (connection lost)", "not known yet".
std::string StatusText(const Row &row, double now);
// The approved set against the EEPROM set: "equal", "differs: power, hold", "none",
// "not known"; "-" when the line's agent says nothing of one.
std::string ApprovedText(const Row &row);
// "14:02:11 restore: restored", or "" without an event.
std::string EventText(const Row &row, double now);
// "restore: ok (Data Transfer Ok!)", "restore: waiting for the answer", "" none.
std::string ResultText(const Row &row);

// The row as the window shows it at now.
plantview::RowCells CellsOf(const Row &row, double now);
// A live message as the live chart shows it: the reference as the panel chooses it (the
// parameter reference while hwmode is 0 or 2, else the controller's refval).
plantview::LiveSample SampleOf(const Row &row);

} // namespace plant
