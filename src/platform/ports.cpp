// The port table: COM numbers for device files, given on the command line or found by
// asking the system, numbered in an order that does not depend on discovery order.
#include "ports.h"

#include <QSerialPortInfo>

#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <string_view>

namespace {

constexpr int kFirstComNumber              = 1;
constexpr std::string_view kLabelPrefix    = "COM";
constexpr std::string_view kLabelSeparator = "  ";

// The kinds in numbering order; a device is of a kind when its path is the prefix
// followed by digits only. Every other device ranks after them.
constexpr std::array<std::string_view, 3> kKindPrefixes = {"/dev/ttyS", "/dev/ttyUSB",
                                                           "/dev/ttyACM"};

struct PortTableState {
    std::map<int, std::string> devices;
};

PortTableState table;

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

bool AllDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), IsDigit);
}

std::size_t KindRank(std::string_view device) {
    for (std::size_t rank = 0; rank < kKindPrefixes.size(); ++rank) {
        const std::string_view prefix = kKindPrefixes[rank];
        if (device.starts_with(prefix) && AllDigits(device.substr(prefix.size())))
            return rank;
    }
    return kKindPrefixes.size();
}

std::string_view DigitRun(std::string_view text, std::size_t from) {
    std::size_t end = from;
    while (end < text.size() && IsDigit(text[end]))
        ++end;
    return text.substr(from, end - from);
}

std::string_view WithoutLeadingZeros(std::string_view digits) {
    const std::size_t first = digits.find_first_not_of('0');
    return first == std::string_view::npos ? std::string_view() : digits.substr(first);
}

// Negative, zero or positive like strcmp, with runs of digits compared by value.
int NaturalCompare(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            const std::string_view runA   = DigitRun(a, i);
            const std::string_view runB   = DigitRun(b, j);
            const std::string_view valueA = WithoutLeadingZeros(runA);
            const std::string_view valueB = WithoutLeadingZeros(runB);
            if (valueA.size() != valueB.size())
                return valueA.size() < valueB.size() ? -1 : 1;
            if (const int order = valueA.compare(valueB))
                return order;
            i += runA.size();
            j += runB.size();
        } else if (a[i] != b[j]) {
            return a[i] < b[j] ? -1 : 1;
        } else {
            ++i;
            ++j;
        }
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    // Equal but for leading zeros: plain order keeps the result total.
    return a.compare(b);
}

bool NumberedBefore(const std::string &a, const std::string &b) {
    const std::size_t rankA = KindRank(a);
    const std::size_t rankB = KindRank(b);
    if (rankA != rankB)
        return rankA < rankB;
    return NaturalCompare(a, b) < 0;
}

bool InTable(const std::string &device) {
    return std::any_of(table.devices.begin(), table.devices.end(),
                       [&](const auto &entry) { return entry.second == device; });
}

int LowestFreeNumber() {
    int number = kFirstComNumber;
    while (table.devices.contains(number))
        ++number;
    return number;
}

std::string LabelOf(int number, const std::string &device) {
    return std::string(kLabelPrefix) + std::to_string(number) + std::string(kLabelSeparator) +
           device;
}

} // namespace

void PortTableAdd(int number, const std::string &device) {
    table.devices[number] = device;
}

void PortTableScan() {
    std::vector<std::string> found;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        found.push_back(info.systemLocation().toStdString());
    PortTableAddFound(found);
}

void PortTableAddFound(const std::vector<std::string> &devices) {
    for (const std::string &device : NumberingOrder(devices))
        if (!InTable(device))
            table.devices[LowestFreeNumber()] = device;
}

std::vector<std::string> NumberingOrder(std::vector<std::string> devices) {
    std::sort(devices.begin(), devices.end(), NumberedBefore);
    return devices;
}

void PortTableClear() {
    table.devices.clear();
}

std::vector<PortEntry> PortTable() {
    std::vector<PortEntry> entries;
    for (const auto &[number, device] : table.devices)
        entries.push_back({number, device, LabelOf(number, device)});
    return entries;
}

std::string PortDevice(int number) {
    const auto it = table.devices.find(number);
    return it == table.devices.end() ? std::string() : it->second;
}
