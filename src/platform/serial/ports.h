// The port table: COM number -> device file, with what the system tells about each device.
//
// Numbers given on the command line (--port N=DEVICE, --simulate) come first and never go
// absent; the devices the system reports then take the lowest free numbers in a fixed
// order: /dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM*, then any other, each by its number. A
// rescan numbers new devices the same way; a device that vanished keeps its number and is
// shown absent, so numbers never shift under the operator.
#pragma once

#include <functional>
#include <string>
#include <vector>

// One serial device as the system reports it; empty texts are unknown.
struct DeviceInfo {
    std::string path; // device file, e.g. "/dev/ttyUSB0"
    std::string description;
    std::string manufacturer;
    std::string serialNumber;
    std::string byIdName; // its stable name under /dev/serial/by-id, empty when none
};

struct PortEntry {
    int number;
    std::string device; // what OpenComConfig opens for the number
    std::string label;  // what the COM-port ring shows: "COM2  /dev/ttyUSB0  FT232R USB UART"
    bool present;
    std::string description; // as the system reports it, empty when unknown
    std::string byIdName;    // its stable name under /dev/serial/by-id, empty when none
};

// Maps COM number to device, replacing an earlier mapping of that number. Never absent.
void PortTableAdd(int number, const std::string &device);
// Asks the system for its serial devices and updates the table with them.
void PortTableScan();
// Empties the table (tests).
void PortTableClear();
// The table in rising COM number.
std::vector<PortEntry> PortTable();
// The device of a COM number, empty when the table has none. An absent device with a
// stable name is opened by that name, so that it is found again wherever it comes back.
std::string PortDevice(int number);

// What a scan does with the devices it finds, apart from asking the system: a device
// already in the table (by its stable name, else by its path) is present again with the
// details found; every other takes the lowest free number, in numbering order; the
// found ones of the table that are not in the list are absent.
void PortTableUpdate(const std::vector<DeviceInfo> &found);
// Numbering order: /dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM*, then any other; within each,
// numbers in names compare by value (ttyUSB2 before ttyUSB10).
std::vector<std::string> NumberingOrder(std::vector<std::string> devices);

// Keeps the ring `control` of `panel` listing the table while the program waits for the
// operator: rescans when the operator opens the ring, and every 2 s when a device was
// added to or removed from /dev or /dev/serial/by-id since; never while a callback runs
// or events are processed inside a wait. Every 2 s, and after each rescan, calls refresh
// when the labels changed since the ring last got them. refresh refills the ring from
// PortTable().
void WatchPortRing(int panel, int control, std::function<void()> refresh);
