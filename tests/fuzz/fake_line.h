// An in-memory serial line and clock in place of the platform layer, so that the device
// link's receive path runs without Qt and without an event loop. The line delivers a
// schedule of byte chunks at virtual times; every wait advances the virtual clock.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fake_line {

// Starts a new line from a schedule: records of a gap byte (tens of milliseconds after
// the previous chunk), a length byte and that many bytes; a short last record is cut.
void Load(const std::uint8_t *schedule, std::size_t size);
// Every chunk has arrived and the input queue is empty.
bool Drained();

} // namespace fake_line
