// Date texts to seconds, and the arithmetic Persian calendar (2820-year
// cycle) over Julian day numbers.
#include "utils/calendar.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "utils/tzrule.h"

namespace {

// The Persian date is taken at local time plus 8:01:01.
constexpr long long kPersianShiftSeconds = 28861;
// Seconds from Julian day 0, 00:00, to 1970-01-01 00:00 (2440588 days).
constexpr int64_t kEpochJdnSeconds = 210866803200;
constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kDaysPerCycle = 1029983;  // days in 2820 Persian years

int date_to_seconds(const char *date, char *out, long long shift) {
  if (out != nullptr) out[0] = '\0';
  if (date == nullptr || out == nullptr) return -1;
  struct tm parts;
  std::memset(&parts, 0, sizeof parts);
  // Spelled out: the musl that OpenWrt ships has no %F in strptime.
  if (strptime(date, "%Y-%m-%d %H:%M:%S", &parts) == nullptr) return -1;
  parts.tm_isdst = -1;  // let the zone rules say whether DST applies
  // long long, not long: on the 32-bit target long ends in 2038, time_t not.
  const long long seconds = static_cast<long long>(mktime(&parts)) + shift;
  std::snprintf(out, kUtilsSecondsSize, "%lld", seconds);
  return 0;
}

}  // namespace

int utils_date_to_seconds(const char *date, char *out) { return date_to_seconds(date, out, 0); }

int utils_date_to_seconds_shifted(const char *date, char *out) {
  return date_to_seconds(date, out, kPersianShiftSeconds);
}

int utils_date_to_persian(const char *date, char *out, int size) {
  if (date == nullptr || out == nullptr || size < 1) return -1;
  out[0] = '\0';
  char seconds_text[kUtilsSecondsSize];
  long long seconds = 0;
  if (utils_date_to_seconds_shifted(date, seconds_text) != 0 ||
      std::sscanf(seconds_text, "%lld", &seconds) != 1) {
    return -1;
  }
  const int64_t packed = utils_jdn_to_persian((seconds + kEpochJdnSeconds) / kSecondsPerDay);
  int64_t year = utils_persian_year(packed);
  if (year < 1) --year;  // there is no year 0
  std::snprintf(out, static_cast<size_t>(size), "%" PRId64 "-%02d-%02d", year,
                utils_persian_month(packed) + 1, utils_persian_day(packed));
  return 0;
}

int64_t utils_persian_to_jdn(int64_t year, int month, int day) {
  const int64_t e = year - 474;
  const int64_t ey = 474 + e % 2820;
  const int64_t month_days = month < 7 ? 31 * month : 30 * month + 6;
  return day + month_days + (682 * ey - 110) / 2816 + 365 * (ey - 1) + kDaysPerCycle * (e / 2820) +
         1948320;
}

int64_t utils_jdn_to_persian(int64_t jdn) {
  const int64_t de = jdn - utils_persian_to_jdn(475, 0, 1);
  // Floor division: days before the base year 475 must not round toward zero.
  const int64_t cycle = tz::FloorDiv(de, kDaysPerCycle);
  const int64_t cy = de - cycle * kDaysPerCycle;
  const int64_t yc = cy == kDaysPerCycle - 1 ? 2820 : (2816 * cy + 1031337) / 1028522;
  int64_t year = yc + 2820 * cycle + 474;
  // From year 475 on the estimate is exact. Before it the year-to-day rule
  // above places some leap days differently from the cycle the estimate
  // assumes, so it may be a year off: settle it (two steps at most).
  for (int i = 0; i < 2 && jdn < utils_persian_to_jdn(year, 0, 1); ++i) --year;
  for (int i = 0; i < 2 && jdn >= utils_persian_to_jdn(year + 1, 0, 1); ++i) ++year;
  const int64_t yday = jdn + 1 - utils_persian_to_jdn(year, 0, 1);
  const int64_t month = yday <= 186 ? (yday + 30) / 31 : (yday - 6 + 29) / 30;
  const int m = static_cast<int>(month - 1);
  const int64_t day = jdn - utils_persian_to_jdn(year, m, 1) + 1;
  return year * 65536 + m * 256 + day;
}
