// The approved set of a line, as a parameter server keeps it: the sixteen words that the
// line's controller should hold, the firmware text of the controller they came from, and
// when and by whom they were stored. A controller of another firmware is not written with
// them, as a device of another type is refused.
//
//   --- The set ---           ApprovedSet, MakeApprovedSet, SameFirmware
//   --- Its file ---          ApprovedSetText, ParseApprovedSet; ReadApprovedSet,
//                             WriteApprovedSet
//   --- The state directory --- DefaultStateDir; the files in it
//
// The file is JSON, written whole or not at all (a new file renamed over the old one), and
// read back with every member checked: a damaged file is refused with the reason and
// nothing of it is taken.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace plant {

// --- The set ---
struct ApprovedSet {
    std::array<std::uint16_t, 16> words{};
    std::string firmware;    // strict UTF-8 (ValidUtf8)
    std::string fingerprint; // of the words, as a report gives it
    std::int64_t storedMs = 0;
    std::string by; // the operator who stored it, else the account
};

// The set of words from the controller whose firmware text is firmware, stored now by by.
ApprovedSet MakeApprovedSet(const std::array<std::uint16_t, 16> &words, const std::string &firmware,
                            const std::string &by);
// True when a controller with the firmware text firmware is of the set's kind.
bool SameFirmware(const ApprovedSet &set, const std::string &firmware);
// What a report says of the set: "fingerprint 3f2a9c01d4e5..., firmware "...", stored
// 2026-03-04T09:15:02.123Z by anna".
std::string Described(const ApprovedSet &set);

// --- Its file ---
// The file's text: a JSON object with "format" 1, "words", "firmware", "fingerprint",
// "stored" (UTC, ISO 8601 with milliseconds) and "by".
std::string ApprovedSetText(const ApprovedSet &set);
// Reads text as such a file; false with error ("its fingerprint is not that of its words")
// when any member is missing, unknown, of the wrong kind or out of range.
bool ParseApprovedSet(std::string_view text, ApprovedSet &set, std::string &error);

// Reads the file at path: true with set when it holds one, true with no set when there is
// no file, false with error (naming the file) when it cannot be read or is damaged.
bool ReadApprovedSet(const std::string &path, std::optional<ApprovedSet> &set, std::string &error);
// Writes set to path atomically: the old file stays whole until the new one is complete.
bool WriteApprovedSet(const std::string &path, const ApprovedSet &set, std::string &error);

// --- The state directory ---
// Where a line's agent keeps its state: stateDirectory (systemd's $STATE_DIRECTORY, whose
// first folder is taken when it lists several) when it is set and not empty, else
// lines/NAME/ in the data folder.
std::string DefaultStateDir(const char *stateDirectory, const std::string &dataFolder,
                            const std::string &name);
constexpr const char *kApprovedSetFile = "approved-set.json";
constexpr const char *kAuditFile       = "RMX7audit.db";
// folder/file, with one '/' between them.
std::string FileIn(const std::string &folder, const char *file);

} // namespace plant
