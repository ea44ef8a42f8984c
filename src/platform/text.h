// Bounded text copy into the fixed text buffers that the program and the platform share.
#pragma once

#include <string_view>

// Paths cross the services in buffers of this size.
constexpr int kPathSize = 260;

// Copies text into destination, a buffer of size bytes: at most size - 1 bytes and a
// terminator. Nothing is written when size is 0 or less.
void CopyText(char *destination, int size, std::string_view text);
