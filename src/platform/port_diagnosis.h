// Why a serial device would not open, in plain words with the remedy: the text behind
// the short open-error text of the status line.
#pragma once

#include <string>
#include <vector>

// errorNumber is the errno of the step that failed (EACCES, EBUSY, ENOENT, ENOTTY, ...);
// device is the path that was opened, empty when the COM number has no device. Looks at
// the device's owner and mode, and for a busy device at who holds it.
std::string DiagnoseOpenFailure(int errorNumber, const std::string &device);

// The processes that hold device, "name (pid N)": the other processes that have it open,
// and whoever its lock file names, this process as "this program (pid N)".
std::vector<std::string> DeviceHolders(const std::string &device);
