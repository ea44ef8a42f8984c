// The plant from one seat: the plant window, fed by the plant's broker alone, one row per
// line, and the actions on the lines selected (read, restore, store, report, live chart,
// forget) through their agents' commands. It opens beside the panel (its Plant button) or
// alone (rmx7scope --plant) and lives on the event loop until it is closed. It never opens
// a serial port.
#pragma once

#include "publish.h"

#include <string>

namespace plant {

// Opens the window on the broker of settings (its address, TLS files, login and client id;
// the lines under settings.prefix). An open window is raised instead. False with error
// when a setting is wrong. closed, when given, is called once the operator closed it.
bool OpenWindow(const publish::Settings &settings, std::string &error, void (*closed)() = nullptr);
bool WindowOpen();
// Closes the window and its charts, and the broker connection, without calling closed.
void CloseWindow();

} // namespace plant
