// Texts that the program and the platform share: the bounded copy into fixed text buffers,
// the printable form of text from a device or a server, text quoted as a JSON string, and
// text made strict UTF-8.
#pragma once

#include <string>
#include <string_view>

// Paths cross the services in buffers of this size.
constexpr int kPathSize = 260;

// Copies text into destination, a buffer of size bytes: at most size - 1 bytes and a
// terminator. Nothing is written when size is 0 or less.
void CopyText(char *destination, int size, std::string_view text);

// text as a terminal, the trace, the status line or a report may show it, for text that a
// controller or a server wrote: every control character (C0, DEL, C1) and every byte that
// is not part of well-formed UTF-8 as \xNN (two lower-case hex digits), a backslash as \\.
// The rest, plain ASCII and well-formed UTF-8, stays as it is. One line, nothing that a
// terminal acts on, and the bytes can be read back from it.
std::string PrintableText(std::string_view text);

// text as a JSON string, quotes included, strictly valid UTF-8 whatever text holds: each
// ill-formed sequence (an overlong form, a surrogate, a code point above U+10FFFF, a
// stray byte) becomes U+FFFD, and control characters are \u-escaped.
std::string JsonString(std::string_view text);
// text as strict UTF-8, which every reader (a database, a JSON parser) gives back byte for
// byte: each byte that is not part of a well-formed sequence becomes U+FFFD, and NUL, at
// which some readers end a text, is left out.
std::string ValidUtf8(std::string_view text);
