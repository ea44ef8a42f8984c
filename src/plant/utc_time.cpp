// Unix milliseconds and their ISO 8601 texts, over the C library's calendar.
#include "plant/utc_time.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace plant {

namespace {

constexpr std::int64_t kMsPerSecond = 1000;

// The digits of text from at, count of them, as a number; -1 when they are not all digits.
int Digits(std::string_view text, std::size_t at, std::size_t count) {
    if (at + count > text.size())
        return -1;
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap              = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

struct Fields {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0;
};

bool InRange(const Fields &f) {
    return f.year >= 1970 && f.month >= 1 && f.month <= 12 && f.day >= 1 &&
           f.day <= DaysInMonth(f.year, f.month) && f.hour <= 23 && f.minute <= 59 &&
           f.second <= 59;
}

std::tm TmOf(const Fields &f) {
    std::tm tm{};
    tm.tm_year  = f.year - 1900;
    tm.tm_mon   = f.month - 1;
    tm.tm_mday  = f.day;
    tm.tm_hour  = f.hour;
    tm.tm_min   = f.minute;
    tm.tm_sec   = f.second;
    tm.tm_isdst = -1;
    return tm;
}

std::int64_t UtcMs(const Fields &f) {
    std::tm tm = TmOf(f);
    return static_cast<std::int64_t>(timegm(&tm)) * kMsPerSecond + f.ms;
}

// The date and the time of day that text begins with; at is left after what was read.
bool ReadDateTime(std::string_view text, Fields &f, std::size_t &at) {
    f.year  = Digits(text, 0, 4);
    f.month = Digits(text, 5, 2);
    f.day   = Digits(text, 8, 2);
    if (text.size() < 10 || text[4] != '-' || text[7] != '-' || f.year < 0 || f.month < 0 ||
        f.day < 0)
        return false;
    at = 10;
    if (at == text.size() || (text[at] != 'T' && text[at] != ' '))
        return true;
    f.hour   = Digits(text, at + 1, 2);
    f.minute = Digits(text, at + 4, 2);
    if (f.hour < 0 || f.minute < 0 || text[at + 3] != ':')
        return false;
    at += 6;
    if (at < text.size() && text[at] == ':') {
        if ((f.second = Digits(text, at + 1, 2)) < 0)
            return false;
        at += 3;
        if (at < text.size() && text[at] == '.') {
            if ((f.ms = Digits(text, at + 1, 3)) < 0)
                return false;
            at += 4;
        }
    }
    return true;
}

} // namespace

std::int64_t NowUnixMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string IsoUtc(std::int64_t unixMs) {
    const std::time_t seconds = static_cast<std::time_t>(unixMs / kMsPerSecond);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(unixMs % kMsPerSecond));
    return text;
}

bool ParseIsoUtc(std::string_view text, std::int64_t &unixMs) {
    Fields f;
    std::size_t at = 0;
    if (text.size() != 24 || text[10] != 'T' || text[16] != ':' || text[19] != '.' ||
        !ReadDateTime(text, f, at) || at != 23 || text[23] != 'Z' || !InRange(f))
        return false;
    unixMs = UtcMs(f);
    return true;
}

bool ParseDate(std::string_view text, std::int64_t &unixMs, std::string &error) {
    Fields f;
    std::size_t at = 0;
    error          = "'" + std::string(text) +
            "' is no date: write YYYY-MM-DD, or YYYY-MM-DDTHH:MM[:SS], with Z or +HH:MM for a "
            "time that is not local";
    if (!ReadDateTime(text, f, at) || !InRange(f))
        return false;
    const std::string_view zone = text.substr(at);
    if (zone.empty()) {
        std::tm tm = TmOf(f);
        unixMs     = static_cast<std::int64_t>(std::mktime(&tm)) * kMsPerSecond + f.ms;
        return true;
    }
    if (zone == "Z") {
        unixMs = UtcMs(f);
        return true;
    }
    const int hours = Digits(zone, 1, 2), minutes = Digits(zone, 4, 2);
    if (zone.size() != 6 || (zone[0] != '+' && zone[0] != '-') || zone[3] != ':' || hours < 0 ||
        hours > 14 || minutes < 0 || minutes > 59)
        return false;
    const std::int64_t offset = (hours * 60 + minutes) * 60 * kMsPerSecond;
    unixMs                    = UtcMs(f) - (zone[0] == '+' ? offset : -offset);
    return true;
}

} // namespace plant
