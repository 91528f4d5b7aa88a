#include "utils/tzrule.h"

#include <cctype>

namespace tz {

int64_t DaysFromCivil(int64_t year, int month, int day) {
  // Count from 1 March so the leap day ends the year; 400-year eras.
  year -= month <= 2;
  const int64_t era = FloorDiv(year, 400);
  const int64_t yoe = year - era * 400;
  const int64_t doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

CivilDay CivilFromDays(int64_t days) {
  days += 719468;
  const int64_t era = FloorDiv(days, 146097);
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  CivilDay civil;
  civil.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  civil.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  civil.year = yoe + era * 400 + (civil.month <= 2);
  return civil;
}

bool IsLeapYear(int64_t year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

namespace {

constexpr int kMaxOffsetHours = 24;
// Zone files of version 3 and later allow rule times from -167 to 167 hours.
constexpr int kMaxRuleHours = 167;
constexpr int kMinAbbrLength = 3;

// A cursor over the string; every read checks the end first.
class Cursor {
 public:
  Cursor(const char *text, size_t length) : p_(text), end_(text + length) {}
  bool AtEnd() const { return p_ == end_; }
  char Peek() const { return AtEnd() ? '\0' : *p_; }
  bool Eat(char c) {
    if (AtEnd() || *p_ != c) return false;
    ++p_;
    return true;
  }
  // Up to max_digits decimal digits, at least one.
  bool Number(int max_digits, int *value) {
    int n = 0;
    int digits = 0;
    while (!AtEnd() && std::isdigit(static_cast<unsigned char>(*p_)) && digits < max_digits) {
      n = n * 10 + (*p_ - '0');
      ++p_;
      ++digits;
    }
    *value = n;
    return digits > 0;
  }
  bool Abbr(std::string *abbr) {
    const char *begin = p_;
    if (Eat('<')) {
      begin = p_;
      while (!AtEnd() &&
             (std::isalnum(static_cast<unsigned char>(*p_)) || *p_ == '+' || *p_ == '-'))
        ++p_;
      const char *stop = p_;
      if (!Eat('>')) return false;
      abbr->assign(begin, stop);
    } else {
      while (!AtEnd() && std::isalpha(static_cast<unsigned char>(*p_))) ++p_;
      abbr->assign(begin, p_);
    }
    return abbr->size() >= kMinAbbrLength;
  }
  // [+-]hh[:mm[:ss]] as signed seconds.
  bool Seconds(int max_hours, int32_t *seconds) {
    int sign = 1;
    if (Eat('-')) {
      sign = -1;
    } else {
      Eat('+');
    }
    int hours = 0;
    int minutes = 0;
    int secs = 0;
    if (!Number(3, &hours) || hours > max_hours) return false;
    if (Eat(':')) {
      if (!Number(2, &minutes) || minutes > 59) return false;
      if (Eat(':') && (!Number(2, &secs) || secs > 59)) return false;
    }
    *seconds = sign * (hours * 3600 + minutes * 60 + secs);
    return true;
  }
  bool Date(RuleDate *date) {
    int a = 0;
    if (Eat('J')) {
      if (!Number(3, &a) || a < 1 || a > 365) return false;
      date->kind = RuleDate::kJulianNoLeap;
      date->day = a;
    } else if (Eat('M')) {
      int week = 0;
      int weekday = 0;
      if (!Number(2, &a) || a < 1 || a > 12 || !Eat('.') || !Number(1, &week) || week < 1 ||
          week > 5 || !Eat('.') || !Number(1, &weekday) || weekday > 6)
        return false;
      date->kind = RuleDate::kMonthWeekDay;
      date->month = a;
      date->week = week;
      date->day = weekday;
    } else {
      if (!Number(3, &a) || a > 365) return false;
      date->kind = RuleDate::kZeroBased;
      date->day = a;
    }
    date->time = 2 * 3600;
    return !Eat('/') || Seconds(kMaxRuleHours, &date->time);
  }

 private:
  const char *p_;
  const char *end_;
};

int32_t MonthLength(int64_t year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return kDays[month - 1] + (month == 2 && IsLeapYear(year));
}

// The UTC instant at which `date` falls in `year`, for a change made while
// the offset `utoff` is in force.
int64_t ChangeTime(const RuleDate &date, int64_t year, int32_t utoff) {
  const int64_t jan1 = DaysFromCivil(year, 1, 1);
  int64_t day = jan1;
  switch (date.kind) {
    case RuleDate::kJulianNoLeap:
      day = jan1 + date.day - 1 + (IsLeapYear(year) && date.day >= 60);
      break;
    case RuleDate::kZeroBased:
      day = jan1 + date.day;
      break;
    case RuleDate::kMonthWeekDay: {
      const int64_t first = DaysFromCivil(year, date.month, 1);
      const int first_weekday = Weekday(first);
      int mday = 1 + (date.day - first_weekday + 7) % 7 + (date.week - 1) * 7;
      const int length = MonthLength(year, date.month);
      while (mday > length) mday -= 7;
      day = first + mday - 1;
      break;
    }
  }
  return day * kSecsPerDay + date.time - utoff;
}

}  // namespace

bool ParseRule(const char *text, size_t length, Rule *rule) {
  if (text == nullptr || rule == nullptr) return false;
  Cursor in(text, length);
  Rule parsed;
  int32_t seconds = 0;
  // The string counts hours west of UTC; offsets here count east.
  if (!in.Abbr(&parsed.std_abbr) || !in.Seconds(kMaxOffsetHours, &seconds)) return false;
  parsed.std_utoff = -seconds;
  if (!in.AtEnd()) {
    if (!in.Abbr(&parsed.dst_abbr)) return false;
    parsed.has_dst = true;
    parsed.dst_utoff = parsed.std_utoff + 3600;
    if (!in.AtEnd() && in.Peek() != ',') {
      if (!in.Seconds(kMaxOffsetHours, &seconds)) return false;
      parsed.dst_utoff = -seconds;
    }
    if (in.Eat(',')) {
      if (!in.Date(&parsed.start) || !in.Eat(',') || !in.Date(&parsed.end)) return false;
    } else {
      parsed.needs_dates = true;
    }
  }
  if (!in.AtEnd()) return false;
  *rule = std::move(parsed);
  return true;
}

// The rule ",M4.1.0,M10.5.0": first Sunday of April to last Sunday of
// October, both at 02:00.
void SetFallbackDates(Rule *rule) {
  rule->start = RuleDate{RuleDate::kMonthWeekDay, 0, 1, 4, 2 * 3600};
  rule->end = RuleDate{RuleDate::kMonthWeekDay, 0, 5, 10, 2 * 3600};
  rule->needs_dates = false;
}

LocalType RuleLookup(const Rule &rule, int64_t t) {
  LocalType local{rule.std_utoff, false, &rule.std_abbr};
  if (!rule.has_dst || rule.needs_dates) return local;
  const int64_t year = CivilFromDays(FloorDiv(t, kSecsPerDay)).year;
  const int64_t start = ChangeTime(rule.start, year, rule.std_utoff);
  const int64_t end = ChangeTime(rule.end, year, rule.dst_utoff);
  // Southern zones: daylight time spans the new year.
  const bool isdst = start > end ? (t < end || t >= start) : (t >= start && t < end);
  if (isdst) local = LocalType{rule.dst_utoff, true, &rule.dst_abbr};
  return local;
}

}  // namespace tz
