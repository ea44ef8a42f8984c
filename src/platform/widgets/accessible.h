// Screen-reader access to our own widgets: the indicators and LEDs tell their value, the
// strip charts and the x-y graph their name. Qt asks for these interfaces only while an
// assistive client is listening.
#pragma once

namespace platform {

// Registers the interfaces with Qt's accessibility; once, before any client asks.
void InstallWidgetAccessibility();

} // namespace platform
