// Settings files of a service: `key = value` lines, and secrets kept as ssh and systemd keep
// them: in a file of their owner's alone, as a systemd credential, or in the environment only
// until read. Pure code over text and files (no Qt), so a service reads them before any
// engine starts.
//
// A settings file holds one setting a line, `key = value`, with blanks allowed around the
// key, the '=' and the value. A line whose first non-blank character is '#' is a comment;
// '#' later in a line belongs to the value. Blank lines are skipped. A line without '=',
// without a key or without a value, a key not among those allowed and a key given twice
// are refused with the line's number and the reason, and nothing is read.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Settings and secret files are read up to this size: a larger one (or an endless one, such
// as /dev/zero) is refused with the reason, never read whole.
constexpr std::size_t kMaxSettingsFileSize = 64 * 1024;

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
// error naming the file when it cannot be read, its first line is empty, or group or others
// have any access to it (its mode is named, as ssh names that of a key it refuses). The
// secret never appears in error.
bool ReadSecretFile(const std::string &path, std::string &secret, std::string &error);
// False with error naming path and its mode when group or others have any access to it: a
// file whose secret a library reads itself (a client key) must be its owner's alone.
bool CheckOwnerOnly(const std::string &path, std::string &error);
// The file of the systemd credential name, $CREDENTIALS_DIRECTORY/name, or "" when the
// service manager passed none of that name.
std::string CredentialFile(std::string_view name);
// The value of the environment variable name ("" when unset), taken out of the environment:
// the variable is removed and its text overwritten, so that neither a child process nor
// /proc/PID/environ shows it any more.
std::string TakeFromEnvironment(const char *name);
// Keeps the process out of core dumps and away from debuggers of the same user (it is not
// dumpable), for as long as it runs: called once it holds a secret.
void KeepSecretsOutOfDumps();
