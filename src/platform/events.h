// Clock, pause and event processing.
#pragma once

// Seconds on a monotonic clock, as a double.
double Timer();
// Pauses without processing events.
void Delay(double seconds);
// Runs the pending callbacks (controls, timer, receive callback) and returns. When
// nothing is pending it waits up to about 1 ms for the next event instead of returning
// at once, so waiting loops do not burn a core. Returns 0.
int ProcessSystemEvents();
