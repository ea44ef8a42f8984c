// The port table: COM number -> device file.
//
// Numbers given on the command line (--port N=DEVICE, --simulate) come first; the
// devices the system reports then take the lowest free numbers in a fixed order:
// /dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM*, then any other, each by its number.
#pragma once

#include <string>
#include <vector>

struct PortEntry {
    int number;
    std::string device; // device file, e.g. "/dev/ttyUSB0" or a pty path
    std::string label;  // what the COM-port ring shows: "COM2  /dev/ttyUSB0"
};

// Maps COM number to device, replacing an earlier mapping of that number.
void PortTableAdd(int number, const std::string &device);
// Adds the devices the system reports that are not in the table yet.
void PortTableScan();
// Empties the table (tests).
void PortTableClear();
// The table in rising COM number.
std::vector<PortEntry> PortTable();
// The device of a COM number, empty when the table has none.
std::string PortDevice(int number);

// What a scan does with the devices it finds, apart from asking the system: each device
// not yet in the table takes the lowest free number, in numbering order.
void PortTableAddFound(const std::vector<std::string> &devices);
// Numbering order: /dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM*, then any other; within each,
// numbers in names compare by value (ttyUSB2 before ttyUSB10).
std::vector<std::string> NumberingOrder(std::vector<std::string> devices);
