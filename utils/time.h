// Local time formatting.
//
// Conversions read the zone afresh at every call: the local zone is the
// file /etc/localtime (the TZ variable is never consulted), so replacing it
// takes effect at the next call. Zone names are files under
// /usr/share/zoneinfo, absolute paths, or POSIX TZ rule strings; a zone that
// cannot be loaded at all is UTC named "GMT". Both paths go through
// utils_path. Patterns are strftime patterns plus "%q" (milliseconds) and
// "%1q" to "%6q" (the first N digits of the microseconds, cut).
#ifndef ALERTMILL_UTILS_TIME_H_
#define ALERTMILL_UTILS_TIME_H_

#include <sys/time.h>

#include <cstdint>
#include <ctime>
#include <type_traits>

// How events are stamped: the pending row's happentime, event-log lines and
// the first line of a message.
inline constexpr char kEventTimeFormat[] = "%Y-%m-%d %H:%M:%S";

// Broken-down local time: struct tm's fields plus the microseconds.
struct utils_tm {
  int tm_sec;         // 0 to 60 (60 during an inserted leap second)
  int tm_min;         // 0 to 59
  int tm_hour;        // 0 to 23
  int tm_mday;        // 1 to 31
  int tm_mon;         // 0 to 11
  int tm_year;        // years since 1900
  int tm_wday;        // 0 (Sunday) to 6
  int tm_yday;        // 0 to 365
  int tm_isdst;       // 1 during daylight-saving time, else 0
  int32_t tm_gmtoff;  // seconds east of UTC
  char tm_zone[16];   // abbreviation, cut to 15 bytes
  int tm_usec;        // 0 to 999999
};
static_assert(std::is_trivially_copyable_v<utils_tm>);

// Formats the current local time into buffer (size bytes). 0; -1 for a null
// pattern or buffer or when the clock cannot be read. A text that does not
// fit leaves an empty buffer and still gives 0.
int utils_time_now_format(const char *pattern, char *buffer, int size);

// The same for the current time plus offset_seconds.
int utils_time_offset_format(const char *pattern, char *buffer, int size, int64_t offset_seconds);

// Formats *seconds as local time of the zone "Portugal" into buffer, which
// must hold 64 bytes. 0; -1 for a null argument or a time of 0.
int utils_time_format_fixed_zone(const time_t *seconds, const char *pattern, char *buffer);

// Formats seconds in the local zone: the length written, 0 when the text
// did not fit; -1, writing nothing, for a null buffer or pattern, a size
// below 1 or a time of 0.
int utils_time_format(time_t seconds, const char *pattern, char *buffer, int size);

// Clears *tm and fills it with the local time of zone (null or "" for the
// local zone) at *tv, microseconds included. 0; -1 for a null argument, a
// time of exactly 0 s 0 us, or a year beyond int (tm left cleared).
int utils_localtime_zone(const struct timeval *tv, utils_tm *tm, const char *zone);

// strftime with "%q" and "%1q".."%6q" expanded from tm->tm_usec: strftime's
// result (0 when the text did not fit, leaving an empty buffer), or -1 for a
// null argument or when memory runs out.
int utils_strftime(char *buffer, int size, const char *pattern, const utils_tm *tm);

// The current time. 0; -1 for a null address.
int utils_gettimeofday(struct timeval *tv);

#endif  // ALERTMILL_UTILS_TIME_H_
