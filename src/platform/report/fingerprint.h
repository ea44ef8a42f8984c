// The fingerprint of a parameter set, by which a report, rmx7ctl and a parameter file
// tell whether two sets are the same; and the SHA-256 of any text, by which the audit
// trail chains its records.
//
// What is hashed: the 32 bytes of the sixteen words in frame order, each word big-endian
// (high byte first), exactly as the data area of a frame carries them (frame bytes 4 to
// 35). Nothing else: no length, no separator, no name. The digest is SHA-256, written as
// 64 lower-case hexadecimal digits. The set power=500, reference=512, the rest 0 hashes
// the bytes 01 f4 02 00 followed by 28 bytes 00.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

constexpr int kFingerprintWords = 16;

// SHA-256 of words[0] to words[15] as above, in lower-case hex.
std::string ParameterFingerprint(const std::uint16_t (&words)[kFingerprintWords]);
// SHA-256 of the bytes of text, in lower-case hex.
std::string Sha256Hex(std::string_view text);
