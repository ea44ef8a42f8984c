// An in-memory serial line, clock and timers in place of the platform layer, so that the
// device link's jobs run without Qt. The line delivers a schedule of byte chunks at virtual
// times; the virtual event loop jumps from one chunk or timer to the next.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace fake_line {

// Starts a new line from a schedule: records of a gap byte (tens of milliseconds after
// the previous chunk), a length byte and that many bytes; a short last record is cut.
void Load(const std::uint8_t *schedule, std::size_t size);
// Every chunk has arrived and the input queue is empty.
bool Drained();
// Runs the receive callback and the timers, moving the clock, until done(); false when
// nothing is left to happen first.
bool RunUntil(const std::function<bool()> &done);

} // namespace fake_line
