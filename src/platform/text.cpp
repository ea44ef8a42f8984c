// Bounded text copy into fixed text buffers; the printable form of untrusted text; JSON
// strings; strict UTF-8.
#include "text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD"; // U+FFFD

// One step through UTF-8 text: a well-formed character, or the longest start of one that
// the next byte spoils (at least one byte), which counts as one ill-formed sequence.
struct Utf8Step {
    std::size_t length = 1;
    bool wellFormed    = false;
    char32_t codePoint = 0;
};

// The well-formed sequences are those of the Unicode standard's table 3-7: the ranges of
// the second byte after E0, ED, F0 and F4 keep out overlong forms, surrogates and code
// points above U+10FFFF.
Utf8Step NextCharacter(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead < 0x80)
        return {1, true, lead};
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low    = lead == 0xE0 ? 0xA0 : low;
        high   = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low    = lead == 0xF0 ? 0x90 : low;
        high   = lead == 0xF4 ? 0x8F : high;
    } else {
        return {};
    }
    char32_t codePoint = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if (i >= text.size())
            return {i, false, 0};
        const auto next = static_cast<unsigned char>(text[i]);
        if (next < low || next > high)
            return {i, false, 0};
        codePoint = codePoint << 6 | (next & 0x3F);
        low = 0x80, high = 0xBF;
    }
    return {length, true, codePoint};
}

bool IsControl(char32_t codePoint) {
    return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F);
}

void AppendHexBytes(std::string &out, std::string_view bytes) {
    for (const unsigned char c : bytes) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\x%02x", c);
        out += escape;
    }
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

std::string PrintableText(std::string_view text) {
    std::string printable;
    printable.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const Utf8Step step         = NextCharacter(text.substr(at));
        const std::string_view part = text.substr(at, step.length);
        if (step.wellFormed && step.codePoint == '\\')
            printable += "\\\\";
        else if (!step.wellFormed || IsControl(step.codePoint))
            AppendHexBytes(printable, part);
        else
            printable += part;
        at += step.length;
    }
    return printable;
}

std::string JsonString(std::string_view text) {
    std::string json = "\"";
    for (std::size_t at = 0; at < text.size();) {
        const Utf8Step step = NextCharacter(text.substr(at));
        if (!step.wellFormed) {
            json += kReplacementCharacter;
        } else if (step.codePoint == '"' || step.codePoint == '\\') {
            json += '\\';
            json += static_cast<char>(step.codePoint);
        } else if (IsControl(step.codePoint)) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(step.codePoint));
            json += escape;
        } else {
            json += text.substr(at, step.length);
        }
        at += step.length;
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
