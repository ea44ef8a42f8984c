// Bounded text copy into fixed text buffers; JSON strings.
#include "text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

bool IsUtf8(std::string_view text) {
    int following = 0;
    for (const unsigned char c : text) {
        if (following > 0) {
            if ((c & 0xC0) != 0x80)
                return false;
            --following;
        } else if (c >= 0x80) {
            following = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC2 ? 1 : -1;
            if (following < 0 || c > 0xF4)
                return false;
        }
    }
    return following == 0;
}

} // namespace

void CopyText(char *destination, int size, std::string_view text) {
    if (!destination || size <= 0)
        return;
    const std::size_t length = std::min(text.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(destination, text.data(), length);
    destination[length] = '\0';
}

std::string JsonString(std::string_view text) {
    const bool utf8  = IsUtf8(text);
    std::string json = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            json += '\\';
            json += static_cast<char>(c);
        } else if (c < 0x20 || (c >= 0x80 && !utf8)) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            json += escape;
        } else {
            json += static_cast<char>(c);
        }
    }
    return json + "\"";
}
