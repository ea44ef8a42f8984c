// Reading settings files and secret files.
#include "settings_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

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

// The whole file, or false with errno set (a folder fails with EISDIR).
bool ReadWhole(const std::string &path, std::string &text) {
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    std::string read;
    char chunk[4096];
    for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        read.append(chunk, got);
    const int cause = std::ferror(file) ? (errno != 0 ? errno : EIO) : 0;
    std::fclose(file);
    errno = cause;
    if (cause != 0)
        return false;
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
    if (!ReadWhole(path, text)) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (!ParseSettingsText(text, allowed, settings, error)) {
        error = path + ", " + error;
        return false;
    }
    return true;
}

bool ReadSecretFile(const std::string &path, std::string &secret, std::string &error) {
    std::string text;
    if (!ReadWhole(path, text)) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
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
