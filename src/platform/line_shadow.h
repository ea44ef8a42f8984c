// The shadow of a request: from a write to the port until its reply can be back, the
// program's thread has nothing to do for the line. Work that holds the thread for a few
// milliseconds while the program waits on the line (a viewer's redraw) is done there, so
// that no reply waits behind it.
#pragma once

#include <functional>

namespace platform {

// Called by the serial services after every write to a port.
void NoteLineWrite();
// Runs work once, from the event queue, right after the next write to a port.
void AfterNextLineWrite(std::function<void()> work);

} // namespace platform
