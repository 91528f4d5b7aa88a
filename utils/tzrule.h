// POSIX TZ rule strings ("CET-1CEST,M3.5.0,M10.5.0/3") and the civil-date
// arithmetic that both they and the zone files need.
#ifndef ALERTMILL_UTILS_TZRULE_H_
#define ALERTMILL_UTILS_TZRULE_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace tz {

inline constexpr int64_t kSecsPerDay = 86400;

// Days since 1970-01-01 of a proleptic Gregorian date (month 1 to 12).
int64_t DaysFromCivil(int64_t year, int month, int day);

struct CivilDay {
  int64_t year;
  int month;  // 1 to 12
  int day;    // 1 to 31
};
CivilDay CivilFromDays(int64_t days);

bool IsLeapYear(int64_t year);

// Floor division, so times before 1970 fall on the right day.
inline int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// 0 for Sunday; 1970-01-01 was a Thursday.
inline int Weekday(int64_t days) {
  return static_cast<int>((days + 4) - FloorDiv(days + 4, 7) * 7);
}

// One end of the daylight-saving period: a day in one of three forms plus
// the local time of day of the change (which may be negative or past 24 h).
struct RuleDate {
  enum Kind { kJulianNoLeap, kZeroBased, kMonthWeekDay };
  Kind kind = kMonthWeekDay;
  int day = 0;    // Jn: 1..365, n: 0..365, Mm.w.d: weekday 0..6
  int week = 0;   // Mm.w.d: 1..5, 5 meaning the last
  int month = 0;  // Mm.w.d: 1..12
  int32_t time = 2 * 3600;
};

struct Rule {
  std::string std_abbr;
  std::string dst_abbr;
  int32_t std_utoff = 0;  // seconds east of UTC
  int32_t dst_utoff = 0;
  bool has_dst = false;
  // Daylight time named without its dates: the caller must supply them.
  bool needs_dates = false;
  RuleDate start;
  RuleDate end;
};

// Parses a whole rule string of `length` bytes (no NUL needed). False for
// anything malformed or with bytes left over.
bool ParseRule(const char *text, size_t length, Rule *rule);

// The dates of "M4.1.0,M10.5.0" at 02:00, for daylight time without rules
// when no other source of rules exists.
void SetFallbackDates(Rule *rule);

struct LocalType {
  int32_t utoff = 0;
  bool isdst = false;
  const std::string *abbr = nullptr;
};

// The offset, flag and abbreviation in force at `t` seconds since the epoch.
// The rule's year is the UTC year of `t`.
LocalType RuleLookup(const Rule &rule, int64_t t);

}  // namespace tz

#endif  // ALERTMILL_UTILS_TZRULE_H_
