// Array files: unsigned integers as text, one value a line, right-aligned in a field.
#pragma once

#include <string>

constexpr int kFileErrCannotOpen = -1; // missing or unreadable
constexpr int kFileErrTooFew     = -2; // fewer numbers than asked for
constexpr int kFileErrNotNumber  = -3; // a token that is not an unsigned number
constexpr int kFileErrWrite      = -4; // the file could not be written

// The text of count values, each right-aligned in fieldWidth characters, one a line.
std::string FormatArrayText(const unsigned int *values, int count, int fieldWidth);
// Reads count unsigned numbers separated by white space; a value above the range of
// unsigned int keeps its low 32 bits. count, or kFileErrTooFew / kFileErrNotNumber.
// values is written only when the whole read succeeds.
int ParseArrayText(const std::string &text, unsigned int *values, int count);

// Writes the file atomically: the new text goes to a file beside it that is then
// renamed over path, so a failed write leaves the old file whole. 0 or kFileErrWrite.
int ArrayToFile(const char *path, const unsigned int *values, int count, int fieldWidth);
// count, or kFileErrCannotOpen / kFileErrTooFew / kFileErrNotNumber.
int FileToArray(const char *path, unsigned int *values, int count);
