// Settings files of a service: `key = value` lines, and a secret kept in a file of its own.
// Pure code over text and files (no Qt), so a service reads them before any engine starts.
//
// A settings file holds one setting a line, `key = value`, with blanks allowed around the
// key, the '=' and the value. A line whose first non-blank character is '#' is a comment;
// '#' later in a line belongs to the value. Blank lines are skipped. A line without '=',
// without a key or without a value, a key not among those allowed and a key given twice
// are refused with the line's number and the reason, and nothing is read.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

struct Setting {
    std::string key;
    std::string value;
    int line = 0; // where it stands, for the caller's own checks of the value
};

// Reads text as a settings file whose keys are among allowed; false with error
// ("line 3: unknown key \"brokr\"") when it is not one. settings is written only on success,
// in the order of the lines.
bool ParseSettingsText(std::string_view text, std::span<const std::string_view> allowed,
                       std::vector<Setting> &settings, std::string &error);
// The same for a file; error starts with the file's name and also covers a file that
// cannot be read.
bool ReadSettingsFile(const std::string &path, std::span<const std::string_view> allowed,
                      std::vector<Setting> &settings, std::string &error);

// The secret held in a file (a password): its first line without the line end. False with
// error naming the file when it cannot be read or its first line is empty. The secret never
// appears in error.
bool ReadSecretFile(const std::string &path, std::string &secret, std::string &error);
