// Times of the plant's records: Unix milliseconds, and the UTC text of ISO 8601 by which
// the audit trail and the approved set store them.
//
//   NowUnixMs      the clock, in Unix milliseconds
//   IsoUtc         "2026-03-04T09:15:02.123Z"
//   ParseIsoUtc    exactly that form back, checked
//   ParseDate      a date a person types (--since): local time unless it names its zone
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace plant {

std::int64_t NowUnixMs();

// unixMs as YYYY-MM-DDTHH:MM:SS.mmmZ.
std::string IsoUtc(std::int64_t unixMs);

// Reads the form IsoUtc writes, and nothing else: every field in range, the milliseconds
// and the Z present. False when text is not that.
bool ParseIsoUtc(std::string_view text, std::int64_t &unixMs);

// Reads YYYY-MM-DD, optionally followed by 'T' or a blank and HH:MM, :SS and .mmm, then
// optionally Z or an offset (+HH:MM, -HH:MM). Without a zone the time is the machine's
// local time. False with error saying what is wrong.
bool ParseDate(std::string_view text, std::int64_t &unixMs, std::string &error);

} // namespace plant
