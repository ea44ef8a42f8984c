// Texts that the program and the platform share: the bounded copy into fixed text buffers,
// text quoted as a JSON string, and text made strict UTF-8.
#pragma once

#include <string>
#include <string_view>

// Paths cross the services in buffers of this size.
constexpr int kPathSize = 260;

// Copies text into destination, a buffer of size bytes: at most size - 1 bytes and a
// terminator. Nothing is written when size is 0 or less.
void CopyText(char *destination, int size, std::string_view text);

// text as a JSON string, quotes included. Text that is not UTF-8 (a controller's bytes)
// keeps each byte as one character, escaped, so a stray byte never spoils the document.
std::string JsonString(std::string_view text);
// text as strict UTF-8, which every reader (a database, a JSON parser) gives back byte for
// byte: each byte that is not part of a well-formed sequence becomes U+FFFD, and NUL, at
// which some readers end a text, is left out.
std::string ValidUtf8(std::string_view text);
