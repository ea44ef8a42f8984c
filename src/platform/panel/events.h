// Clock, pause and event processing.
#pragma once

#include <functional>

// Seconds on a monotonic clock, as a double.
double Timer();
// Pauses without processing events.
void Delay(double seconds);
// Runs the pending callbacks (controls, timer, receive callback) and returns. When
// nothing is pending it sleeps until the next event (serial bytes, input, a timer, a
// posted event) and runs what it brought, or returns after at most 20 ms (8 ms from a
// second after the latest write to a port on), so that a waiting loop costs next to
// nothing, takes a reply the moment it arrives, and still tests its clock often enough
// for each time-out to come within 20 ms of its time. Returns 0.
int ProcessSystemEvents();

// Calls callback(data) once from event processing after seconds (0: as soon as what is
// pending has been processed). The timer's id (> 0), or -1 before the engine started. The
// timer wakes whoever waits; the time itself is judged on Timer(), so a timer that fires a
// little late or early decides nothing. Millisecond steps, precise ones.
int StartTimer(double seconds, void (*callback)(void *data), void *data);
// Stops a timer that has not called yet; nothing for one that has, or for 0.
void CancelTimer(int id);

// Calls callback(data) once from event processing, the next time events are processed
// after what runs now: work that must not stand between a reply and the next request goes
// there from the run loop, and runs in the wait for that request's reply. 0, or -1 before
// the engine started.
int PostDeferredCall(void (*callback)(void *data), void *data);

// Calls handler from event processing when the process gets SIGINT, SIGTERM or SIGHUP,
// instead of ending it, so that a loop can stop the way its Stop button would. A second
// signal of the same kind ends the process as usual. nullptr gives the signals back
// their default.
void CallOnInterrupt(std::function<void()> handler);
