// The port table: COM numbers for device files, given on the command line or found by
// asking the system, numbered in an order that does not depend on discovery order, and
// kept across rescans so that a number always names the same device.
#include "ports.h"

#include "remote_port.h"

#include <QSerialPortInfo>

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <map>
#include <string_view>

namespace {

constexpr int kFirstComNumber              = 1;
constexpr std::string_view kLabelPrefix    = "COM";
constexpr std::string_view kLabelSeparator = "  ";
constexpr const char *kByIdDirectory       = "/dev/serial/by-id";

// The kinds in numbering order; a device is of a kind when its path is the prefix
// followed by digits only. Every other device ranks after them.
constexpr std::array<std::string_view, 3> kKindPrefixes = {"/dev/ttyS", "/dev/ttyUSB",
                                                           "/dev/ttyACM"};

struct TableEntry {
    DeviceInfo info;
    bool given   = false; // from the command line: the operator's own choice, never absent
    bool present = true;
};

struct PortTableState {
    std::map<int, TableEntry> entries;
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

std::string ByIdPath(const std::string &name) {
    return std::string(kByIdDirectory) + "/" + name;
}

// Stable names decide where both sides have one: another adapter at a vanished one's
// path is another device.
bool SameDevice(const TableEntry &entry, const DeviceInfo &found) {
    const DeviceInfo &known = entry.info;
    if (!known.byIdName.empty() && !found.byIdName.empty())
        return known.byIdName == found.byIdName;
    return known.path == found.path ||
           (entry.given && !found.byIdName.empty() && known.path == ByIdPath(found.byIdName));
}

TableEntry *EntryOf(const DeviceInfo &found) {
    for (auto &[number, entry] : table.entries)
        if (SameDevice(entry, found))
            return &entry;
    return nullptr;
}

int LowestFreeNumber() {
    int number = kFirstComNumber;
    while (table.entries.contains(number))
        ++number;
    return number;
}

void Append(std::string &label, const std::string &part) {
    if (!part.empty())
        label += std::string(kLabelSeparator) + part;
}

// Description, manufacturer and serial number, each once: many adapters repeat the
// manufacturer in the description.
std::string Details(const DeviceInfo &info) {
    std::vector<std::string> parts;
    for (const std::string &part :
         {info.description, info.manufacturer,
          info.serialNumber.empty() ? std::string() : "S/N " + info.serialNumber})
        if (!part.empty() && std::find(parts.begin(), parts.end(), part) == parts.end())
            parts.push_back(part);
    std::string details;
    for (const std::string &part : parts)
        details += (details.empty() ? "" : ", ") + part;
    return details;
}

std::string LabelOf(int number, const TableEntry &entry) {
    std::string label = std::string(kLabelPrefix) + std::to_string(number);
    Append(label, entry.info.path);
    Append(label, Details(entry.info));
    if (!entry.info.byIdName.empty() && entry.info.path != ByIdPath(entry.info.byIdName))
        Append(label, "by-id " + entry.info.byIdName);
    if (!entry.present)
        Append(label, "(absent)");
    return label;
}

std::string DeviceOf(const TableEntry &entry) {
    if (!entry.present && !entry.info.byIdName.empty())
        return ByIdPath(entry.info.byIdName);
    return entry.info.path;
}

// The stable names under /dev/serial/by-id by the device file each names.
std::map<std::string, std::string> StableNames() {
    std::map<std::string, std::string> names;
    std::error_code error;
    for (const auto &link : std::filesystem::directory_iterator(kByIdDirectory, error)) {
        const std::filesystem::path target = std::filesystem::canonical(link.path(), error);
        if (!error)
            names[target.string()] = link.path().filename().string();
    }
    return names;
}

std::string Text(const QString &text) {
    return text.trimmed().toStdString();
}

} // namespace

void PortTableAdd(int number, const std::string &device) {
    TableEntry entry;
    entry.info.path        = device;
    entry.info.description = RemoteLineKind(device);
    entry.given            = true;
    table.entries[number]  = entry;
}

void PortTableScan() {
    const std::map<std::string, std::string> stableNames = StableNames();
    std::vector<DeviceInfo> found;
    for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts()) {
        DeviceInfo info{Text(port.systemLocation()),
                        Text(port.description()),
                        Text(port.manufacturer()),
                        Text(port.serialNumber()),
                        {}};
        if (const auto it = stableNames.find(info.path); it != stableNames.end())
            info.byIdName = it->second;
        found.push_back(std::move(info));
    }
    PortTableUpdate(found);
}

void PortTableUpdate(const std::vector<DeviceInfo> &found) {
    for (auto &[number, entry] : table.entries)
        entry.present = entry.given;
    std::vector<DeviceInfo> ordered = found;
    std::sort(ordered.begin(), ordered.end(), [](const DeviceInfo &a, const DeviceInfo &b) {
        return NumberedBefore(a.path, b.path);
    });
    for (const DeviceInfo &info : ordered) {
        TableEntry *entry = EntryOf(info);
        if (!entry) {
            table.entries[LowestFreeNumber()] = {info, false, true};
            continue;
        }
        // A given device stays under the name the operator gave it.
        const std::string device = entry->given ? entry->info.path : info.path;
        entry->info              = info;
        entry->info.path         = device;
        entry->present           = true;
    }
}

std::vector<std::string> NumberingOrder(std::vector<std::string> devices) {
    std::sort(devices.begin(), devices.end(), NumberedBefore);
    return devices;
}

void PortTableClear() {
    table.entries.clear();
}

std::vector<PortEntry> PortTable() {
    std::vector<PortEntry> ports;
    for (const auto &[number, entry] : table.entries)
        ports.push_back({number, DeviceOf(entry), LabelOf(number, entry), entry.present,
                         entry.info.description, entry.info.byIdName});
    return ports;
}

std::string PortDevice(int number) {
    const auto it = table.entries.find(number);
    return it == table.entries.end() ? std::string() : DeviceOf(it->second);
}
