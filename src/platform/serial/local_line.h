// Local lines: a serial device of this machine (a built-in port, a USB adapter, a
// pseudo-terminal), opened for the serial services.
#pragma once

#include "serial_line.h"

#include <memory>
#include <string>

// Opens device with settings, holding an exclusive lock on it while it is open, so that
// a device in use by another program is refused before its settings are touched. On
// success line holds the open line; else the failure: kComErrNoPortFound for a device
// that does not exist, kComErrCannotOpen for one that may not be opened or is busy,
// kComErrInvalidParameter for one that is no terminal or refuses the settings.
OpenFailure OpenLocalLine(const std::string &device, const LineSettings &settings,
                          std::unique_ptr<SerialLine> &line);
