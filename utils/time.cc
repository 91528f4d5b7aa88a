#include "utils/time.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "utils/alloc.h"
#include "utils/paths.h"
#include "utils/tzif.h"

namespace {

// Times further out than this are refused before any arithmetic on them;
// the year check below refuses the rest of what does not fit a struct tm.
constexpr int64_t kMaxAbsTime = int64_t{1} << 59;
constexpr int64_t kMicrosPerSecond = 1000000;
constexpr char kPortugal[] = "Portugal";
constexpr char kPosixRules[] = "posixrules";

// What proves a file unchanged since it was parsed. A replaced file has a
// new inode; a rewritten one a new size or modification/change time.
struct FileKey {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  timespec mtime{};
  timespec ctime{};

  static FileKey Of(const struct stat &st) {
    return FileKey{st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
  }
  bool operator==(const FileKey &o) const {
    return dev == o.dev && ino == o.ino && size == o.size && mtime.tv_sec == o.mtime.tv_sec &&
           mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec &&
           ctime.tv_nsec == o.ctime.tv_nsec;
  }
};

struct CachedZone {
  std::string path;
  FileKey key;
  // Changed too recently to trust the key: timestamps come from a coarse
  // clock, so a same-size rewrite within the same tick would look the same.
  bool racy = false;
  tz::Zone zone;
};

constexpr time_t kRacySeconds = 2;

// Parsed zone files, reused only while stat shows the same file. Each
// thread has its own, so overlapping calls from threads cannot corrupt it.
class ZoneCache {
 public:
  // The zone in the file at path, or null when it cannot be read or parsed.
  const tz::Zone *Load(const std::string &path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    const FileKey key = FileKey::Of(st);
    for (const CachedZone &slot : slots_) {
      if (slot.path == path && !slot.racy && slot.key == key) return &slot.zone;
    }
    CachedZone &slot = SlotFor(path);
    slot.path.clear();
    if (!ReadZone(path, &slot)) return nullptr;
    slot.path = path;
    return &slot.zone;
  }

 private:
  static constexpr size_t kSlots = 4;

  CachedZone &SlotFor(const std::string &path) {
    for (CachedZone &slot : slots_) {
      if (slot.path == path) return slot;
    }
    CachedZone &slot = slots_[next_];
    next_ = (next_ + 1) % kSlots;
    return slot;
  }

  // Keys the entry on the descriptor actually read, so a replacement
  // between the stat above and the open is caught at the next call.
  static bool ReadZone(const std::string &path, CachedZone *slot) {
    // O_NONBLOCK: a FIFO put in the zone's place must not hang the caller.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st;
    std::vector<uint8_t> data;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0 &&
              static_cast<uint64_t>(st.st_size) <= tz::kMaxZoneFileSize;
    if (ok) {
      data.resize(static_cast<size_t>(st.st_size));
      size_t done = 0;
      while (done < data.size()) {
        const ssize_t n = read(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
      }
      ok = done == data.size();
    }
    close(fd);
    if (!ok || !tz::ParseTzif(data.data(), data.size(), &slot->zone)) return false;
    slot->key = FileKey::Of(st);
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    slot->racy = now.tv_sec - st.st_ctim.tv_sec < kRacySeconds;
    return true;
  }

  std::array<CachedZone, kSlots> slots_;
  size_t next_ = 0;
};

struct ZoneState {
  ZoneCache files;
  tz::Zone rule_zone;  // the last zone given as a rule string
  tz::Zone gmt;

  ZoneState() {
    gmt.has_rule = true;
    gmt.rule.std_abbr = "GMT";
  }
};

ZoneState &State() {
  thread_local ZoneState state;
  return state;
}

// A rule string naming daylight time without dates takes them from the
// footer of "posixrules", else from the built-in US-style pair.
void FillMissingDates(tz::Rule *rule) {
  const std::string path = utils_path(paths::kZoneinfoDir) + "/" + kPosixRules;
  const tz::Zone *rules = State().files.Load(path);
  if (rules != nullptr && rules->has_rule && rules->rule.has_dst) {
    rule->start = rules->rule.start;
    rule->end = rules->rule.end;
    rule->needs_dates = false;
  } else {
    tz::SetFallbackDates(rule);
  }
}

const tz::Zone &ResolveZone(const char *name) {
  ZoneState &state = State();
  std::string zone = name != nullptr ? name : "";
  const bool colon = !zone.empty() && zone[0] == ':';
  if (colon) zone.erase(0, 1);
  std::string path;
  if (zone.empty()) {
    path = utils_path(paths::kLocaltime);
  } else if (zone[0] == '/') {
    path = zone;
  } else {
    path = utils_path(paths::kZoneinfoDir) + "/" + zone;
  }
  // A name with ".." could climb out of the zone directory to any file: no
  // file is read for it, and as no rule string holds "..", it ends as GMT.
  const bool climbs = zone.find("..") != std::string::npos;
  if (!climbs) {
    if (const tz::Zone *file = state.files.Load(path)) return *file;
  }
  if (!colon && !zone.empty()) {
    tz::Zone &rule_zone = state.rule_zone;
    rule_zone = tz::Zone();
    if (tz::ParseRule(zone.data(), zone.size(), &rule_zone.rule)) {
      if (rule_zone.rule.needs_dates) FillMissingDates(&rule_zone.rule);
      rule_zone.has_rule = true;
      return rule_zone;
    }
  }
  return state.gmt;
}

// Breaks local seconds down into *tm; false when the year does not fit.
bool BreakDown(int64_t local, utils_tm *tm) {
  const int64_t days = tz::FloorDiv(local, tz::kSecsPerDay);
  const int64_t secs = local - days * tz::kSecsPerDay;
  const tz::CivilDay civil = tz::CivilFromDays(days);
  if (civil.year - 1900 > INT_MAX || civil.year - 1900 < INT_MIN) return false;
  tm->tm_year = static_cast<int>(civil.year - 1900);
  tm->tm_mon = civil.month - 1;
  tm->tm_mday = civil.day;
  tm->tm_yday = static_cast<int>(days - tz::DaysFromCivil(civil.year, 1, 1));
  tm->tm_wday = tz::Weekday(days);
  tm->tm_hour = static_cast<int>(secs / 3600);
  tm->tm_min = static_cast<int>(secs / 60 % 60);
  tm->tm_sec = static_cast<int>(secs % 60);
  return true;
}

// Converts and formats in one zone; the common tail of every formatter. -1,
// leaving an empty buffer, for a time that cannot be converted.
int FormatIn(const char *zone, int64_t seconds, int64_t micros, const char *pattern, char *buffer,
             int size) {
  struct timeval tv;
  tv.tv_sec = static_cast<time_t>(seconds);
  tv.tv_usec = static_cast<suseconds_t>(micros);
  utils_tm tm;
  if (utils_localtime_zone(&tv, &tm, zone) != 0) {
    if (size > 0) buffer[0] = '\0';
    return -1;
  }
  return utils_strftime(buffer, size, pattern, &tm);
}

int FormatNow(const char *pattern, char *buffer, int size, int64_t offset_seconds) {
  if (pattern == nullptr || buffer == nullptr) return -1;
  struct timeval now {};
  utils_gettimeofday(&now);
  if (now.tv_sec == 0 && now.tv_usec == 0) return -1;
  int64_t seconds = 0;
  if (__builtin_add_overflow(int64_t{now.tv_sec}, offset_seconds, &seconds)) return -1;
  return FormatIn(nullptr, seconds, now.tv_usec, pattern, buffer, size) < 0 ? -1 : 0;
}

}  // namespace

int utils_localtime_zone(const struct timeval *tv, utils_tm *tm, const char *zone) {
  if (tm == nullptr) return -1;
  std::memset(tm, 0, sizeof *tm);
  if (tv == nullptr) return -1;
  int64_t seconds = tv->tv_sec;
  int64_t micros = tv->tv_usec;
  if (seconds == 0 && micros == 0) return -1;
  if (seconds > kMaxAbsTime || seconds < -kMaxAbsTime) return -1;
  // Carry microseconds outside 0..999999 into the seconds.
  seconds += tz::FloorDiv(micros, kMicrosPerSecond);
  micros -= tz::FloorDiv(micros, kMicrosPerSecond) * kMicrosPerSecond;

  const tz::Local local = tz::ZoneLookup(ResolveZone(zone), seconds);
  if (!BreakDown(seconds - local.leap_correction + local.type.utoff, tm)) {
    std::memset(tm, 0, sizeof *tm);
    return -1;
  }
  tm->tm_sec += local.leap_hit;
  tm->tm_isdst = local.type.isdst ? 1 : 0;
  tm->tm_gmtoff = local.type.utoff;
  if (local.type.abbr != nullptr) {
    std::snprintf(tm->tm_zone, sizeof tm->tm_zone, "%s", local.type.abbr->c_str());
  }
  tm->tm_usec = static_cast<int>(micros);
  return 0;
}

int utils_strftime(char *buffer, int size, const char *pattern, const utils_tm *tm) {
  if (buffer == nullptr || pattern == nullptr || tm == nullptr) return -1;
  const size_t length = std::strlen(pattern);
  // "%q" grows by one byte, "%Nq" by at most three, "%Z" to at most 30 (15
  // bytes of zone, each "%" doubled): fifteen times the pattern is enough.
  constexpr size_t kGrowth = sizeof tm->tm_zone - 1;
  if (length > (INT_MAX - 1) / kGrowth) return -1;
  char *work = static_cast<char *>(utils_malloc(static_cast<int>(length * kGrowth + 1)));
  if (work == nullptr) return -1;
  char *out = work;
  for (size_t i = 0; i < length; ++i) {
    const char *p = pattern + i;
    int digits = 0;
    size_t skip = 0;
    if (p[0] == '%' && p[1] == 'Z') {
      // The zone goes in as text: musl's strftime prints a tm_zone only when
      // it points into musl's own zone data, which ours never does.
      const size_t zone_length = strnlen(tm->tm_zone, sizeof tm->tm_zone - 1);
      for (size_t z = 0; z < zone_length; ++z) {
        if (tm->tm_zone[z] == '%') *out++ = '%';
        *out++ = tm->tm_zone[z];
      }
      ++i;
      continue;
    }
    if (p[0] == '%' && p[1] == 'q') {
      digits = 3;
      skip = 1;
    } else if (p[0] == '%' && p[1] >= '1' && p[1] <= '6' && p[2] == 'q') {
      digits = p[1] - '0';
      skip = 2;
    } else if (p[0] == '%' && p[1] == '%') {
      // A literal percent sign: the byte after it is not a conversion.
      *out++ = *p++;
      ++i;
    }
    if (digits == 0) {
      *out++ = *p;
      continue;
    }
    int micros = tm->tm_usec < 0 || tm->tm_usec > 999999 ? 0 : tm->tm_usec;
    for (int cut = digits; cut < 6; ++cut) micros /= 10;
    out += std::snprintf(out, 7, "%0*d", digits, micros);
    i += skip;
  }
  *out = '\0';

  struct tm plain {};
  plain.tm_sec = tm->tm_sec;
  plain.tm_min = tm->tm_min;
  plain.tm_hour = tm->tm_hour;
  plain.tm_mday = tm->tm_mday;
  plain.tm_mon = tm->tm_mon;
  plain.tm_year = tm->tm_year;
  plain.tm_wday = tm->tm_wday;
  plain.tm_yday = tm->tm_yday;
  plain.tm_isdst = tm->tm_isdst;
  plain.tm_gmtoff = tm->tm_gmtoff;
  char zone[sizeof tm->tm_zone];
  std::snprintf(zone, sizeof zone, "%.*s", static_cast<int>(sizeof zone - 1), tm->tm_zone);
  plain.tm_zone = zone;

  size_t written = 0;
  if (size > 0) {
    // The pattern is the caller's, by design: strftime must take it as data.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    written = std::strftime(buffer, static_cast<size_t>(size), work, &plain);
#pragma GCC diagnostic pop
    if (written == 0) buffer[0] = '\0';
  }
  utils_free(&work);
  return static_cast<int>(written);
}

int utils_gettimeofday(struct timeval *tv) {
  if (tv == nullptr) return -1;
  return gettimeofday(tv, nullptr) == 0 ? 0 : -1;
}

int utils_time_now_format(const char *pattern, char *buffer, int size) {
  return FormatNow(pattern, buffer, size, 0);
}

int utils_time_offset_format(const char *pattern, char *buffer, int size, int64_t offset_seconds) {
  return FormatNow(pattern, buffer, size, offset_seconds);
}

int utils_time_format_fixed_zone(const time_t *seconds, const char *pattern, char *buffer) {
  constexpr int kBufferSize = 64;
  if (seconds == nullptr || pattern == nullptr || buffer == nullptr || *seconds == 0) return -1;
  return FormatIn(kPortugal, *seconds, 0, pattern, buffer, kBufferSize) < 0 ? -1 : 0;
}

int utils_time_format(time_t seconds, const char *pattern, char *buffer, int size) {
  if (buffer == nullptr || pattern == nullptr || size < 1 || seconds == 0) return -1;
  return FormatIn(nullptr, seconds, 0, pattern, buffer, size);
}
