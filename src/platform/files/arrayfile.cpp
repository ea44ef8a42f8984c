// Array files: unsigned integers as text, one value a line, right-aligned in a field.
#include "arrayfile.h"

#include "textfile.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

std::string FormatArrayText(const unsigned int *values, int count, int fieldWidth) {
    std::string text;
    char field[32];
    for (int i = 0; i < count; ++i) {
        std::snprintf(field, sizeof field, "%*u\n", fieldWidth, values[i]);
        text += field;
    }
    return text;
}

int ParseArrayText(const std::string &text, unsigned int *values, int count) {
    std::istringstream in(text);
    std::string token;
    int read = 0;
    unsigned int parsed[256];
    if (count > static_cast<int>(sizeof parsed / sizeof parsed[0]))
        return kFileErrTooFew;
    while (read < count && in >> token) {
        unsigned int value = 0;
        for (char c : token) {
            if (!std::isdigit(static_cast<unsigned char>(c)))
                return kFileErrNotNumber;
            // Wraps modulo 2^32, so the low bits of an over-long number survive.
            value = value * 10u + static_cast<unsigned int>(c - '0');
        }
        parsed[read++] = value;
    }
    if (read < count)
        return kFileErrTooFew;
    for (int i = 0; i < count; ++i)
        values[i] = parsed[i];
    return count;
}

int ArrayToFile(const char *path, const unsigned int *values, int count, int fieldWidth) {
    return ReplaceTextFile(path, FormatArrayText(values, count, fieldWidth)) == 0 ? 0
                                                                                  : kFileErrWrite;
}

int FileToArray(const char *path, unsigned int *values, int count) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        return kFileErrCannotOpen;
    std::ifstream file(path);
    if (!file)
        return kFileErrCannotOpen;
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad())
        return kFileErrCannotOpen;
    return ParseArrayText(text.str(), values, count);
}
