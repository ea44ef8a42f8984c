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

// Calls handler from event processing when the process gets SIGINT, SIGTERM or SIGHUP,
// instead of ending it, so that a loop can stop the way its Stop button would. A second
// signal of the same kind ends the process as usual. nullptr gives the signals back
// their default.
void CallOnInterrupt(void (*handler)());
