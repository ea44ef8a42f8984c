// Array files: unsigned integers as text, one value a line, right-aligned in a field.
#include "arrayfile.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

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
    const std::string target    = path;
    const std::string temporary = target + ".part";
    const std::string text      = FormatArrayText(values, count, fieldWidth);
    FILE *file                  = std::fopen(temporary.c_str(), "w");
    if (!file)
        return kFileErrWrite;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size() &&
                         std::fflush(file) == 0 && fsync(fileno(file)) == 0;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed || std::rename(temporary.c_str(), target.c_str()) != 0) {
        std::remove(temporary.c_str());
        return kFileErrWrite;
    }
    return 0;
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
