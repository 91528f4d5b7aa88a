// Date conversions: local date texts to epoch seconds and to the Persian
// calendar.
#ifndef ALERTMILL_UTILS_CALENDAR_H_
#define ALERTMILL_UTILS_CALENDAR_H_

#include <cstdint>

// Size of the seconds output of the two conversions below.
inline constexpr int kUtilsSecondsSize = 32;

// Parses "YYYY-MM-DD HH:MM:SS" as local time and writes the seconds since the
// epoch in decimal into out (kUtilsSecondsSize bytes). 0; -1 for a null
// argument or a text that does not parse (out is then empty).
int utils_date_to_seconds(const char *date, char *out);
// The same with 28861 seconds added before writing.
int utils_date_to_seconds_shifted(const char *date, char *out);

// Writes the Persian date of the text as "%d-%02d-%02d" into out, cut to
// size. 0; -1 for a null argument, size < 1 or a text that does not parse.
int utils_date_to_persian(const char *date, char *out, int size);

// Julian day number of Persian year, month (0 to 11) and day.
int64_t utils_persian_to_jdn(int64_t year, int month, int day);
// Persian date of a Julian day number, packed: year * 65536 + month (0 to
// 11) * 256 + day. Use the accessors below to unpack.
int64_t utils_jdn_to_persian(int64_t jdn);

constexpr int64_t utils_persian_year(int64_t packed) { return packed >> 16; }
constexpr int utils_persian_month(int64_t packed) { return static_cast<int>((packed >> 8) & 0xff); }
constexpr int utils_persian_day(int64_t packed) { return static_cast<int>(packed & 0xff); }

#endif  // ALERTMILL_UTILS_CALENDAR_H_
