// Array files: unsigned integers as text, one value a line, right-aligned in a field.
#include "arrayfile.h"

#include "textfile.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <vector>

namespace {

// A token longer than this is shown cut, so that a message stays one line.
constexpr std::size_t kShownTokenLength = 24;

int Refuse(ArrayFileFault *fault, int code, int line, int values, const std::string &token) {
    if (fault) {
        *fault = ArrayFileFault{code, line, values, token, 0};
        if (fault->token.size() > kShownTokenLength)
            fault->token = fault->token.substr(0, kShownTokenLength) + "...";
    }
    return code;
}

bool IsSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// A token of digits only: its value, or maximum + 1 for any larger one.
unsigned long long WholeNumber(const std::string &token, unsigned int maximum) {
    unsigned long long value = 0;
    for (const char c : token) {
        value = value * 10u + static_cast<unsigned>(c - '0');
        if (value > maximum)
            return static_cast<unsigned long long>(maximum) + 1;
    }
    return value;
}

bool AllDigits(const std::string &token) {
    for (const char c : token)
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

} // namespace

std::string FormatArrayText(const unsigned int *values, int count, int fieldWidth) {
    std::string text;
    char field[32];
    for (int i = 0; i < count; ++i) {
        std::snprintf(field, sizeof field, "%*u\n", fieldWidth, values[i]);
        text += field;
    }
    return text;
}

int ParseArrayText(const std::string &text, unsigned int *values, int count, unsigned int maximum,
                   ArrayFileFault *fault) {
    if (count < 0)
        return Refuse(fault, kFileErrTooFew, 0, 0, {});
    std::vector<unsigned int> parsed;
    int line          = 1;
    std::size_t where = 0;
    while (where < text.size()) {
        if (IsSpace(text[where])) {
            line += text[where] == '\n';
            ++where;
            continue;
        }
        const std::size_t start = where;
        while (where < text.size() && !IsSpace(text[where]))
            ++where;
        const std::string token = text.substr(start, where - start);
        const int read          = static_cast<int>(parsed.size());
        if (read == count)
            return Refuse(fault, kFileErrTooMany, line, read, token);
        // "-10" is a number, only one a word cannot hold: said so, not "not a number".
        if (token.size() > 1 && token[0] == '-' && AllDigits(token.substr(1)))
            return Refuse(fault, kFileErrNegative, line, read, token);
        if (!AllDigits(token))
            return Refuse(fault, kFileErrNotNumber, line, read, token);
        const unsigned long long value = WholeNumber(token, maximum);
        if (value > maximum)
            return Refuse(fault, kFileErrTooLarge, line, read, token);
        parsed.push_back(static_cast<unsigned int>(value));
    }
    if (static_cast<int>(parsed.size()) < count)
        return Refuse(fault, kFileErrTooFew, line, static_cast<int>(parsed.size()), {});
    for (int i = 0; i < count; ++i)
        values[i] = parsed[static_cast<std::size_t>(i)];
    return count;
}

int ArrayToFile(const char *path, const unsigned int *values, int count, int fieldWidth,
                ArrayFileFault *fault) {
    const int result = ReplaceTextFile(path, FormatArrayText(values, count, fieldWidth));
    if (result == 0)
        return 0;
    if (fault)
        *fault = ArrayFileFault{kFileErrWrite, 0, 0, {}, -result};
    return kFileErrWrite;
}

int FileToArray(const char *path, unsigned int *values, int count, unsigned int maximum,
                ArrayFileFault *fault) {
    std::string text;
    const int result = ReadTextFile(path, text);
    if (result != 0) {
        if (fault)
            *fault = ArrayFileFault{kFileErrCannotOpen, 0, 0, {}, -result};
        return kFileErrCannotOpen;
    }
    return ParseArrayText(text, values, count, maximum, fault);
}
