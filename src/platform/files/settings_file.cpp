// Reading settings files and secret files.
#include "settings_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::string_view kBlanks = " \t\r";

std::string_view Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::string KnownKeys(std::span<const std::string_view> allowed) {
    std::string known;
    for (std::string_view key : allowed)
        known += (known.empty() ? "" : ", ") + std::string(key);
    return known;
}

constexpr mode_t kGroupAndOthers = 077;

// Why a file of this mode is no place for a secret; "" when it is its owner's alone.
std::string OpenToOthers(const std::string &path, mode_t mode) {
    if ((mode & kGroupAndOthers) == 0)
        return {};
    char octal[8];
    std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(mode & 07777));
    return path + " has mode " + octal + ": group or others may " +
           ((mode & 044) ? "read" : "change") +
           " it. A secret must be its owner's alone: chmod 600 " + path;
}

// Closes the descriptor on every way out.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0)
            close(fd);
    }
};

// Up to kMaxSettingsFileSize bytes of the file; false with error naming the file. A secret
// is refused unread when group or others have access to it.
bool ReadBounded(const std::string &path, bool secret, std::string &text, std::string &error) {
    const Descriptor file{open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC)};
    struct stat info {};
    if (file.fd < 0 || fstat(file.fd, &info) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (secret && !OpenToOthers(path, info.st_mode).empty()) {
        error = OpenToOthers(path, info.st_mode);
        return false;
    }
    std::string read;
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::read(file.fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = path + ": " + std::strerror(errno);
            return false;
        }
        if (got == 0)
            break;
        if (read.size() + static_cast<std::size_t>(got) > kMaxSettingsFileSize) {
            error = path + ": larger than " + std::to_string(kMaxSettingsFileSize / 1024) +
                    " KiB, more than a settings or secret file holds";
            return false;
        }
        read.append(chunk, static_cast<std::size_t>(got));
    }
    text = std::move(read);
    return true;
}

} // namespace

bool ParseSettingsText(std::string_view text, std::span<const std::string_view> allowed,
                       std::vector<Setting> &settings, std::string &error) {
    std::vector<Setting> read;
    int number = 0;
    while (!text.empty()) {
        const std::size_t end       = text.find('\n');
        const std::string_view line = Trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++number;
        const std::string where = "line " + std::to_string(number) + ": ";
        if (line.empty() || line.front() == '#')
            continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            error = where + "expected key = value";
            return false;
        }
        const std::string key(Trimmed(line.substr(0, equals)));
        const std::string value(Trimmed(line.substr(equals + 1)));
        if (key.empty()) {
            error = where + "no key before '='";
            return false;
        }
        if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
            error = where + "unknown key \"" + key + "\" (known: " + KnownKeys(allowed) + ")";
            return false;
        }
        if (value.empty()) {
            error = where + "no value for \"" + key + "\"";
            return false;
        }
        const auto earlier = std::find_if(read.begin(), read.end(),
                                          [&key](const Setting &s) { return s.key == key; });
        if (earlier != read.end()) {
            error =
                where + "\"" + key + "\" is given already on line " + std::to_string(earlier->line);
            return false;
        }
        read.push_back({key, value, number});
    }
    settings = std::move(read);
    return true;
}

bool ReadSettingsFile(const std::string &path, std::span<const std::string_view> allowed,
                      std::vector<Setting> &settings, std::string &error) {
    std::string text;
    if (!ReadBounded(path, false, text, error))
        return false;
    if (!ParseSettingsText(text, allowed, settings, error)) {
        error = path + ", " + error;
        return false;
    }
    return true;
}

bool ReadSecretFile(const std::string &path, std::string &secret, std::string &error) {
    std::string text;
    if (!ReadBounded(path, true, text, error))
        return false;
    std::string first = text.substr(0, text.find('\n'));
    if (!first.empty() && first.back() == '\r')
        first.pop_back();
    if (first.empty()) {
        error = path + ": the first line is empty";
        return false;
    }
    secret = std::move(first);
    return true;
}

bool CheckOwnerOnly(const std::string &path, std::string &error) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    error = OpenToOthers(path, info.st_mode);
    return error.empty();
}

std::string CredentialFile(std::string_view name) {
    const char *directory = std::getenv("CREDENTIALS_DIRECTORY");
    if (!directory || !*directory)
        return {};
    const std::string path = std::string(directory) + "/" + std::string(name);
    return access(path.c_str(), F_OK) == 0 ? path : std::string();
}

std::string TakeFromEnvironment(const char *name) {
    char *value = std::getenv(name);
    if (!value)
        return {};
    std::string taken(value);
    // unsetenv drops the pointer only; the text stays where /proc/PID/environ shows it.
    std::memset(value, 0, taken.size());
    unsetenv(name);
    return taken;
}

void KeepSecretsOutOfDumps() {
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}
