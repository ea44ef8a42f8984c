// Bounded text copy into fixed text buffers; JSON strings; strict UTF-8.
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

// The length of the UTF-8 sequence at text[at], 0 when it is not one (an overlong form, a
// surrogate, a code point above U+10FFFF, a sequence cut short).
std::size_t SequenceLength(std::string_view text, std::size_t at) {
    const auto byte          = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80)
        return 1;
    std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || at + length > text.size())
        return 0;
    for (std::size_t i = 1; i < length; ++i)
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
    const unsigned char second = byte(at + 1);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) ||
        (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90))
        return 0;
    return length;
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

std::string ValidUtf8(std::string_view text) {
    std::string clean;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = SequenceLength(text, at);
        if (length == 0)
            clean += "\xEF\xBF\xBD"; // U+FFFD
        else if (text[at] != '\0')
            clean.append(text.substr(at, length));
        at += length == 0 ? 1 : length;
    }
    return clean;
}
