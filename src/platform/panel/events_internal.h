// Inside the platform: how the waits of the program and the work of the other rooms meet
// in event processing. The serial services, the port watch and the viewer use it; the
// program's modules know only ProcessSystemEvents (events.h).
#pragma once

#include <functional>

namespace platform {

// True while ProcessSystemEvents runs, that is inside one of the program's waits.
bool ProcessingSystemEvents();
// Counts a receive callback delivered from a posted event, so that ProcessSystemEvents
// can tell a pass that ran one from an empty pass and does not sleep after it.
void NoteCallbackRun();
// Marks a write to a port: the waits that follow it are for its reply, and the work
// queued by AfterNextPortWrite runs now.
void NotePortWrite();
// Runs work once, from the event queue, right after the next write to a port: from a
// request until its reply can be back the program's thread has nothing to do for the
// line, so work that holds it for milliseconds (a viewer's redraw) keeps no reply waiting.
void AfterNextPortWrite(std::function<void()> work);
// True when no callback runs and no wait processes events: the program waits for the
// operator. Work that must never run inside a wait, like a port rescan, checks this.
bool ProgramIdle();

} // namespace platform
