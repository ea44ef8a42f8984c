// Array files: unsigned integers as text, one value a line, right-aligned in a field.
#pragma once

#include <string>

constexpr int kFileErrCannotOpen = -1; // missing or unreadable
constexpr int kFileErrTooFew     = -2; // fewer numbers than asked for
constexpr int kFileErrNotNumber  = -3; // a token that is not a whole number from 0 up
constexpr int kFileErrWrite      = -4; // the file could not be written
constexpr int kFileErrTooMany    = -5; // more numbers than asked for
constexpr int kFileErrTooLarge   = -6; // a whole number above the largest one allowed
constexpr int kFileErrNegative   = -7; // a minus sign before a whole number

// Where and why a read or write failed, for a message that names the place.
struct ArrayFileFault {
    int code   = 0;      // one of the kFileErr codes
    int line   = 0;      // the line of the token refused, from 1; 0 for the file as a whole
    int values = 0;      // the values read before it
    std::string token;   // the token refused, cut to a readable length
    int systemError = 0; // errno of a file that cannot be read or written
};

// The text of count values, each right-aligned in fieldWidth characters, one a line.
std::string FormatArrayText(const unsigned int *values, int count, int fieldWidth);
// Reads exactly count whole numbers from 0 to maximum, separated by white space: a token
// with any other character (a sign, a point, a letter), a number above maximum, fewer or
// more numbers are refused. count, or kFileErrTooFew / kFileErrTooMany / kFileErrNegative /
// kFileErrNotNumber / kFileErrTooLarge, with the place in fault when one is given. values is
// written only when the whole read succeeds.
int ParseArrayText(const std::string &text, unsigned int *values, int count, unsigned int maximum,
                   ArrayFileFault *fault = nullptr);

// Writes the file atomically: the new text goes to a file beside it that is then
// renamed over path, so a failed write leaves the old file whole. 0 or kFileErrWrite, with
// errno in fault when one is given.
int ArrayToFile(const char *path, const unsigned int *values, int count, int fieldWidth,
                ArrayFileFault *fault = nullptr);
// ParseArrayText on the file's text; kFileErrCannotOpen with errno in fault when it cannot
// be read.
int FileToArray(const char *path, unsigned int *values, int count, unsigned int maximum,
                ArrayFileFault *fault = nullptr);
