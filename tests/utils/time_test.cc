#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/sandbox_root.h"
#include "utils/tzif.h"
#include "utils/utils.h"

namespace {

namespace fs = std::filesystem;

const fs::path kZoneinfo = "/usr/share/zoneinfo";
constexpr int64_t kLast = 4133980799;  // 2100-12-31 23:59:59 UTC
#ifdef __GLIBC__
// musl's localtime ignores leap seconds and reads some rule strings its own
// way; there it is no reference.
constexpr bool kLibcIsReference = true;
#else
constexpr bool kLibcIsReference = false;
#endif

int64_t Utc(int year, int month, int day, int hour, int minute = 0, int second = 0) {
  struct tm tm {};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return timegm(&tm);
}

utils_tm Convert(int64_t seconds, const std::string &zone, int64_t micros = 0) {
  struct timeval tv {};
  tv.tv_sec = static_cast<time_t>(seconds);
  tv.tv_usec = static_cast<suseconds_t>(micros);
  utils_tm tm;
  utils_localtime_zone(&tv, &tm, zone.c_str());
  return tm;
}

std::string Text(const utils_tm &tm, const char *pattern = "%H:%M:%S %Z") {
  char buffer[64];
  utils_strftime(buffer, sizeof buffer, pattern, &tm);
  return buffer;
}

std::string Format(time_t seconds, const char *pattern) {
  char buffer[64];
  EXPECT_GE(utils_time_format(seconds, pattern, buffer, sizeof buffer), 0);
  return buffer;
}

// A zone file: a transition to types[i + 1] at each time, leap records
// {occurrence, correction}; version 2 with 64-bit times unless v1.
struct Type {
  int32_t utoff;
  bool isdst;
  std::string abbr;
};
using Leaps = std::vector<std::pair<int64_t, int32_t>>;

void Put32(std::string *out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<char>(v >> shift));
}

std::string BuildTzif(const std::vector<Type> &types, const std::vector<int64_t> &transitions,
                      const std::string &footer = "", const Leaps &leaps = {}, bool v1 = false) {
  std::string chars;
  std::vector<size_t> abbr_at;
  for (const auto &type : types) {
    abbr_at.push_back(chars.size());
    chars += type.abbr + '\0';
  }
  std::string out;
  const auto block = [&](char version, int width, bool empty) {
    out += "TZif";
    out += version;
    out.append(15, '\0');
    const uint32_t counts[] = {0,
                               0,
                               empty ? 0 : static_cast<uint32_t>(leaps.size()),
                               empty ? 0 : static_cast<uint32_t>(transitions.size()),
                               empty ? 1 : static_cast<uint32_t>(types.size()),
                               empty ? 1 : static_cast<uint32_t>(chars.size())};
    for (uint32_t count : counts) Put32(&out, count);
    if (empty) return out.append(7, '\0'), void();  // one type, as old readers expect
    const auto time = [&](int64_t t) {
      if (width == 8) Put32(&out, static_cast<uint32_t>(static_cast<uint64_t>(t) >> 32));
      Put32(&out, static_cast<uint32_t>(t));
    };
    for (int64_t t : transitions) time(t);
    for (size_t i = 0; i < transitions.size(); ++i) out.push_back(static_cast<char>(i + 1));
    for (size_t i = 0; i < types.size(); ++i) {
      Put32(&out, static_cast<uint32_t>(types[i].utoff));
      out.push_back(types[i].isdst ? 1 : 0);
      out.push_back(static_cast<char>(abbr_at[i]));
    }
    out += chars;
    for (const auto &[when, correction] : leaps) {
      time(when);
      Put32(&out, static_cast<uint32_t>(correction));
    }
  };
  if (v1) {
    block('\0', 4, false);
    return out;
  }
  block('2', 4, true);
  block('2', 8, false);
  return out + "\n" + footer + "\n";
}

class TimeTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(root_.path("usr/share/zoneinfo/Asia")); }
  // Puts a copy of a system zone file in place of the local zone by rename,
  // as package managers do.
  void SetLocalZone(const std::string &name) {
    fs::copy_file(kZoneinfo / name, root_.path("etc/new"), fs::copy_options::overwrite_existing);
    fs::rename(root_.path("etc/new"), root_.path("etc/localtime"));
  }
  SandboxRoot root_;
};

#define REQUIRE_TZDATA() \
  if (!fs::exists(kZoneinfo)) GTEST_SKIP() << "tzdata is not installed"

TEST_F(TimeTest, LocalZoneIsReadAgainWheneverItChanges) {
  const time_t when = Utc(2024, 7, 1, 12);
  EXPECT_EQ(Format(when, "%Y-%m-%d %H:%M:%S %z %Z"), "2024-07-01 12:00:00 +0000 GMT");
  setenv("TZ", "JST-9", 1);  // never decides the local zone
  EXPECT_EQ(Format(when, "%H %Z"), "12 GMT");
  unsetenv("TZ");
  ASSERT_EQ(mkfifo(root_.path("etc/localtime").c_str(), 0600), 0);  // must not hang
  EXPECT_EQ(Format(when, "%H %Z"), "12 GMT");
  REQUIRE_TZDATA();
  SetLocalZone("Asia/Tokyo");
  EXPECT_EQ(Format(Utc(2024, 3, 4, 22, 8, 9), "%Y-%m-%d %H:%M:%S %z %Z %a %j"),
            "2024-03-05 07:08:09 +0900 JST Tue 065");
  SetLocalZone("America/New_York");
  EXPECT_EQ(Format(when, "%H %Z"), "08 EDT");
  std::ifstream lisbon(kZoneinfo / "Europe/Lisbon", std::ios::binary);
  root_.write("etc/localtime", std::string(std::istreambuf_iterator<char>(lisbon), {}));
  EXPECT_EQ(Format(when, "%H %Z"), "13 WEST");  // rewritten in place
  fs::remove(root_.path("etc/localtime"));
  fs::create_symlink(kZoneinfo / "Asia/Kolkata", root_.path("etc/localtime"));
  EXPECT_EQ(Format(when, "%H:%M %Z"), "17:30 IST");
  fs::remove(root_.path("etc/localtime"));
  EXPECT_EQ(Format(when, "%H %Z"), "12 GMT");
}

TEST_F(TimeTest, SameSizeRewriteThatKeepsEveryStatFieldIsSeenWhileRecent) {
  // Writes through a shared mapping stamp the file at the first fault only,
  // so the second one below keeps size, inode and times: just what a quick
  // rewrite within one tick of the file system's clock looks like.
  const std::string first = BuildTzif({{3600, false, "AAA"}}, {});
  const std::string second = BuildTzif({{7200, false, "BBB"}}, {});
  const std::string path = root_.path("zone");
  root_.write("zone", first);
  const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  void *map = mmap(nullptr, first.size(), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ASSERT_NE(map, MAP_FAILED);
  std::memcpy(map, first.data(), first.size());
  EXPECT_EQ(Convert(Utc(2024, 7, 1, 12), path).tm_gmtoff, 3600);
  std::memcpy(map, second.data(), second.size());
  EXPECT_EQ(Convert(Utc(2024, 7, 1, 12), path).tm_gmtoff, 7200);
  munmap(map, first.size());
  close(fd);
}

TEST_F(TimeTest, StrftimeCutsFractionsToTheirWidth) {
  utils_tm tm{};
  tm.tm_hour = 12;
  tm.tm_sec = 1;
  tm.tm_mday = 1;
  tm.tm_usec = 234567;
  const std::pair<const char *, const char *> cases[] = {{"%H:%M:%S.%q", "12:00:01.234"},
                                                         {"%6q|%1q", "234567|2"},
                                                         {"%3q|%2q|%4q|%5q", "234|23|2345|23456"},
                                                         {"%%q %q%%", "%q 234%"}};
  char buffer[64];
  for (const auto &[pattern, expected] : cases) {
    EXPECT_EQ(utils_strftime(buffer, sizeof buffer, pattern, &tm), int(std::strlen(expected)));
    EXPECT_STREQ(buffer, expected) << pattern;
  }
  tm.tm_usec = 42;
  utils_strftime(buffer, sizeof buffer, "%q %5q %6q", &tm);
  EXPECT_STREQ(buffer, "000 00004 000042");
  EXPECT_EQ(utils_strftime(buffer, 8, "%6q%6q", &tm), 0);  // does not fit
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(utils_time_format(100, "%Y-%m-%d", buffer, 5), 0);
  EXPECT_LT(utils_time_format(0, "%Y", buffer, sizeof buffer), 0);
}

// Zones named as files (under the zoneinfo directory, or absolute) or rule
// strings, at 2024-07-01 12:00 UTC; what cannot be read is GMT.
TEST_F(TimeTest, ZoneNamesAndRuleStrings) {
  REQUIRE_TZDATA();
  fs::create_symlink(kZoneinfo / "Asia/Tokyo", root_.path("usr/share/zoneinfo/Asia/Tokyo"));
  const std::string lisbon = kZoneinfo.string() + "/Europe/Lisbon";
  const std::string climbing = kZoneinfo.string() + "/Europe/../Europe/Lisbon";
  const std::pair<std::string, const char *> cases[] = {
      {"Asia/Tokyo", "21:00:00 JST"},
      {":Asia/Tokyo", "21:00:00 JST"},
      {lisbon, "13:00:00 WEST"},
      {"CET-1CEST,M3.5.0,M10.5.0/3", "14:00:00 CEST"},
      {"<+0330>-3:30", "15:30:00 +0330"},
      {"<UTC+5>-5", "17:00:00 UTC+5"},
      {"ABC+5:30:15", "06:29:45 ABC"},
      {"ABC-24", "12:00:00 ABC"},
      {"EST5EDT,M3.2.0/-167,M11.1.0/167", "08:00:00 EDT"},
      // A colon forbids rule strings; ".." never names a file.
      {":CET-1CEST,M3.5.0,M10.5.0/3", "12:00:00 GMT"},
      {"Asia/../Asia/Tokyo", "12:00:00 GMT"},
      {":../zoneinfo/Asia/Tokyo", "12:00:00 GMT"},
      {climbing, "12:00:00 GMT"},
      {"Europe/Nowhere", "12:00:00 GMT"},
  };
  for (const auto &[zone, expected] : cases) {
    EXPECT_EQ(Text(Convert(Utc(2024, 7, 1, 12), zone)), expected) << zone;
  }
  for (const char *rule :
       {"AB5", "<AB>5", "<A_B>5", "EST", "EST25", "EST5:60", "EST5:30:60",
        "EST5EDT,M13.1.0,M10.5.0", "EST5EDT,M3.6.0,M10.5.0", "EST5EDT,M3.1.7,M10.5.0",
        "EST5EDT,J0,J365", "EST5EDT,366,0", "EST5EDT,M3.2.0/168,M11.1.0", "EST5EDT,M3.2.0,M11.1.0x",
        "EST5EDT,M3.2.0", "EST5EDT,", "<EST5", "EST5EDT4,M3.2.0,M11.1.0/", "CET-1CEST,M3.5.0"}) {
    EXPECT_EQ(Text(Convert(Utc(2024, 7, 1, 12), rule)), "12:00:00 GMT") << rule;
  }
  const time_t summer = Utc(2024, 7, 1, 12);
  char buffer[64];
  fs::create_symlink(kZoneinfo / "Portugal", root_.path("usr/share/zoneinfo/Portugal"));
  EXPECT_EQ(utils_time_format_fixed_zone(&summer, "%H:%M %z %Z", buffer), 0);
  EXPECT_STREQ(buffer, "13:00 +0100 WEST");
}

// The second before and the second a rule changes, as {rule, UTC, text}.
TEST_F(TimeTest, RuleChangesAtTheirSecond) {
  // Daylight time without dates takes posixrules' footer, else the first
  // Sunday of April to the last of October at 02:00.
  root_.write("usr/share/zoneinfo/posixrules",
              BuildTzif({{0, false, "UTC"}}, {}, "WET0WEST,M3.5.0/1,M10.5.0"));
  EXPECT_EQ(Convert(Utc(2024, 3, 31, 4) - 1, "AAA3BBB").tm_isdst, 0);
  EXPECT_EQ(Convert(Utc(2024, 3, 31, 4), "AAA3BBB").tm_isdst, 1);
  fs::remove(root_.path("usr/share/zoneinfo/posixrules"));
  const struct {
    const char *rule;
    int64_t change;
    const char *before;
    const char *after;
  } cases[] = {
      {"AAA3BBB", Utc(2024, 4, 7, 5), "01:59:59 AAA", "03:00:00 BBB"},
      {"AAA3BBB", Utc(2024, 10, 27, 4), "01:59:59 BBB", "01:00:00 AAA"},
      // Julian day 60 is 1 March even in leap years; zero-based day 59 is 29
      // February in 2000, a leap year though divisible by 100.
      {"AAA0BBB,J60,J300", Utc(2024, 3, 1, 2), "01:59:59 AAA", "03:00:00 BBB"},
      {"AAA0BBB,59/0,300", Utc(2000, 2, 29, 0), "23:59:59 AAA", "01:00:00 BBB"},
      {"AAA0BBB,59/0,300", Utc(2100, 3, 1, 0), "23:59:59 AAA", "01:00:00 BBB"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(Text(Convert(c.change - 1, c.rule)), c.before) << c.rule << " " << c.change;
    EXPECT_EQ(Text(Convert(c.change, c.rule)), c.after) << c.rule << " " << c.change;
  }
}

TEST_F(TimeTest, ZoneFilesAsRead) {
  const int64_t leap = Utc(2020, 1, 1, 0);
  const std::vector<Type> two = {{0, false, "AAA"}, {3600, false, "BBB"}};
  const std::vector<Type> utc = {{0, false, "UTC"}};
  const struct {
    std::string zone;
    int64_t when;
    const char *expected;
  } cases[] = {
      {BuildTzif(two, {-1000000000}, "", {}, true), -999999000, "23:30:00 BBB"},  // 32-bit
      {BuildTzif(two, {leap}), leap - 1, "23:59:59 AAA"},
      {BuildTzif(two, {leap}), leap, "01:00:00 BBB"},
      {BuildTzif(utc, {}, "", {{leap, 1}}), leap, "23:59:60 UTC"},
      {BuildTzif(utc, {}, "", {{leap, 1}}), leap + 1, "00:00:00 UTC"},
      {BuildTzif(utc, {}, "", {{leap, 1}, {leap + 100, 0}}), leap + 100, "00:01:40 UTC"},
  };
  for (const auto &c : cases) {
    root_.write("zone", c.zone);
    EXPECT_EQ(Text(Convert(c.when, root_.path("zone"))), c.expected) << c.when;
  }
}

TEST_F(TimeTest, DamagedZoneFilesAreGmt) {
  const Type est{-18000, false, "EST"}, edt{-14400, true, "EDT"};
  const std::string footer = "EST5EDT,M3.2.0,M11.1.0";
  const int64_t when = Utc(2024, 7, 1, 12);
  const std::string bytes = BuildTzif({est, edt}, {Utc(2024, 3, 10, 7)}, footer);
  const std::string path = root_.path("zone");
  root_.write("zone", bytes);
  EXPECT_EQ(Text(Convert(when, path)), "08:00:00 EDT");
  const size_t v2 = 44 + 6 + 1;  // after the 32-bit block
  std::vector<std::pair<std::string, std::string>> damaged = {
      {"absurd count", std::string(bytes).replace(v2 + 32, 4, "\x7f\xff\xff\xff", 4)},
      {"type index", std::string(bytes).replace(v2 + 44 + 8, 1, "\x09")},
      {"footer", std::string(bytes).replace(bytes.rfind("EST5EDT"), 7, "EST5ED?")},
      {"magic", std::string(bytes).replace(v2 + 1, 1, "X")},
      {"repeated transition", BuildTzif({est, edt, est}, {when, when}, footer)},
  };
  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    damaged.emplace_back("cut at " + std::to_string(cut), bytes.substr(0, cut));
  }
  for (const auto &[name, file] : damaged) {
    root_.write("zone", file);
    EXPECT_EQ(Text(Convert(when, path), "%H:%M:%S %z %Z"), "12:00:00 +0000 GMT") << name;
  }
}

TEST_F(TimeTest, MicrosecondsCarryAndZeroIsRefused) {
  utils_tm tm = Convert(Utc(2024, 1, 2, 3, 4, 5), "UTC0", 1500000);
  EXPECT_EQ(tm.tm_sec, 6);
  EXPECT_EQ(tm.tm_usec, 500000);
  struct timeval tv {};
  EXPECT_EQ(utils_localtime_zone(&tv, &tm, "UTC0"), -1);
  EXPECT_EQ(tm.tm_hour, 0);
  tv.tv_usec = 1;
  EXPECT_EQ(utils_localtime_zone(&tv, &tm, "UTC0"), 0);
  EXPECT_EQ(tm.tm_year, 70);
  tv.tv_sec = static_cast<time_t>(INT64_MAX);  // beyond an int's years
  EXPECT_EQ(utils_localtime_zone(&tv, &tm, "UTC0"), -1);
}

// Our conversion against the C library's localtime_r, on a sample of zones
// and rule strings: every transition and leap second, a sweep through the
// years, and each change of the footer rule found by bisection.
class Oracle {
 public:
  explicit Oracle(const std::string &zone, const std::string &libc_zone = "") : zone_(zone) {
    setenv("TZ", (libc_zone.empty() ? zone : libc_zone).c_str(), 1);
    tzset();
  }
  ~Oracle() {
    unsetenv("TZ");
    tzset();
  }
  void Check(int64_t t) {
    if (t == 0) return;  // refused by design
    const time_t when = static_cast<time_t>(t);
    struct tm theirs {};
    const bool theirs_ok = localtime_r(&when, &theirs) != nullptr;
    struct timeval tv {};
    tv.tv_sec = when;
    utils_tm ours;
    const bool ours_ok = utils_localtime_zone(&tv, &ours, zone_.c_str()) == 0;
    std::string libc = "fail";
    std::string mine = ours_ok ? Text(ours, kPattern) + (ours.tm_isdst ? " dst" : "") : "fail";
    if (theirs_ok) {
      char text[80];
      strftime(text, sizeof text, kPattern, &theirs);
      libc = std::string(text) + (theirs.tm_isdst ? " dst" : "");
    }
    if (mine != libc && ++mismatches_ <= 5) {
      ADD_FAILURE() << zone_ << " t=" << t << " ours " << mine << " libc " << libc;
    }
  }
  // Checks a sample of seconds at ever other times of day, and the seconds
  // around each change the C library shows, found by bisection.
  void Sweep(int64_t from, int64_t to) {
    constexpr int64_t kStep = 5 * 86400;
    std::string before = State(from);
    for (int64_t t = from, step = 0; t < to; t += kStep, ++step) {
      const int64_t next = std::min(t + kStep, to);
      const std::string after = State(next);
      if (after != before) {
        int64_t low = t, high = next;
        while (high - low > 1) {
          const int64_t mid = low + (high - low) / 2;
          (State(mid) == before ? low : high) = mid;
        }
        for (int64_t d = -1; d <= 1; ++d) Check(high + d);
      }
      if (step % 6 == 0) Check(t + step * 3607 % 86400);
      before = after;
    }
  }

 private:
  static std::string State(int64_t t) {
    const time_t when = static_cast<time_t>(t);
    struct tm tm {};
    localtime_r(&when, &tm);
    return std::to_string(tm.tm_gmtoff) + (tm.tm_isdst ? "+" : "-") +
           (tm.tm_zone ? tm.tm_zone : "");
  }
  static constexpr char kPattern[] = "%Y-%m-%d %H:%M:%S %a %j %z %Z";
  std::string zone_;
  int mismatches_ = 0;
};

TEST(TimeOracle, SampleOfZonesAgreesWithTheCLibrary) {
  if (!fs::exists(kZoneinfo)) GTEST_SKIP() << "tzdata is not installed";
  unsetenv("ALERTMILL_ROOT");  // posixrules must be the same file for both
  for (const char *name :
       {"America/New_York", "Europe/Lisbon", "Europe/Dublin", "Australia/Lord_Howe", "Asia/Kolkata",
        "Pacific/Apia", "Africa/Casablanca", "America/Sao_Paulo", "Antarctica/Troll", "Asia/Tehran",
        "right/UTC", "right/Europe/Paris"}) {
    const fs::path path = kZoneinfo / name;
    std::ifstream in(path, std::ios::binary);
    const std::string data(std::istreambuf_iterator<char>(in), {});
    tz::Zone zone;
    ASSERT_TRUE(tz::ParseTzif(reinterpret_cast<const uint8_t *>(data.data()), data.size(), &zone))
        << name;
    if (!kLibcIsReference && (!zone.leaps.empty() || zone.transitions.size() == 1)) continue;
    Oracle oracle(path.string());
    for (int64_t t : zone.transitions) {
      for (int64_t d = -1; d <= 1; ++d) oracle.Check(t + d);
    }
    for (const tz::LeapSecond &leap : zone.leaps) {
      for (int64_t d = -1; d <= 1; ++d) oracle.Check(leap.occurrence + d);
    }
    oracle.Sweep(Utc(1901, 1, 1, 0), kLast);
  }
  const std::pair<const char *, bool> rules[] = {
      // {rule, glibc only}
      {"EST5EDT", true},
      {"CET-1CEST,M3.5.0,M10.5.0/3", false},
      {"NZST-12NZDT,M9.5.0,M4.1.0/3", false},
      {"IST-2IDT,M3.4.4/26,M10.5.0", false},
      {"<-03>3<-02>,M3.5.0/-2,M10.5.0/-1", false},
      {"EST5EDT,0/0,J365/25", true},
      {"AAA3BBB2,J60/1:30:15,300/23", false},
      {"<-0130>+1:30<+00>-0,M1.1.6,M12.5.5/167", true},
  };
  // The C library takes a rule's dates before 1970 as those of 1970.
  for (const auto &[rule, glibc_only] : rules) {
    if (!glibc_only || kLibcIsReference) Oracle(rule).Sweep(1, kLast);
  }
}

// ---- Persian calendar ----

class ScopedTz {
 public:
  explicit ScopedTz(const char *tz) {
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ScopedTz() {
    unsetenv("TZ");
    tzset();
  }
};

int64_t year_length(int64_t year) {
  return utils_persian_to_jdn(year + 1, 0, 1) - utils_persian_to_jdn(year, 0, 1);
}

TEST(Calendar, PersianDatesOfLocalTimes) {
  const struct {
    const char *tz;
    const char *date;
    const char *persian;
  } cases[] = {
      {"UTC0", "2024-03-20 00:00:00", "1403-01-01"},
      // The day rolls 8:01:01 early.
      {"UTC0", "2024-03-19 15:58:58", "1402-12-29"},
      {"UTC0", "2024-03-19 15:58:59", "1403-01-01"},
      {"<+0330>-3:30", "2024-03-19 19:28:58", "1402-12-29"},
      {"<+0330>-3:30", "2024-03-19 19:28:59", "1403-01-01"},
      {"UTC0", "2024-10-22 00:00:00", "1403-08-01"},
      // The era starts on 622-03-22; the day before is in year -1.
      {"UTC0", "0622-03-22 00:00:00", "1-01-01"},
      {"UTC0", "0622-03-21 00:00:00", "-1-12-29"},
  };
  char out[32];
  for (const auto &c : cases) {
    ScopedTz tz(c.tz);
    EXPECT_EQ(utils_date_to_persian(c.date, out, sizeof out), 0);
    EXPECT_STREQ(out, c.persian) << c.tz << " " << c.date;
  }
  ScopedTz tz("UTC0");
  EXPECT_EQ(utils_date_to_persian("2024-03-20 00:00:00", out, 5), 0);
  EXPECT_STREQ(out, "1403");
  EXPECT_EQ(utils_date_to_persian("yesterday", out, sizeof out), -1);
  EXPECT_EQ(utils_date_to_seconds("2024-03-20 00:00:00", out), 0);
  EXPECT_STREQ(out, "1710892800");
  EXPECT_EQ(utils_date_to_seconds_shifted("1970-01-01 00:00:00", out), 0);
  EXPECT_STREQ(out, "28861");
  EXPECT_EQ(utils_date_to_seconds("1970-01-01", out), -1);
}

TEST(Calendar, EveryDayOfYearsOneTo3000RoundTrips) {
  struct tm anchor = {};
  anchor.tm_year = 2024 - 1900;
  anchor.tm_mon = 2;
  anchor.tm_mday = 20;
  EXPECT_EQ(utils_persian_to_jdn(1403, 0, 1), timegm(&anchor) / 86400 + 2440588);
  int64_t expected_jdn = utils_persian_to_jdn(1, 0, 1);
  for (int64_t year = 1; year <= 3000; ++year) {
    const int64_t length = year_length(year);
    ASSERT_TRUE(length == 365 || length == 366) << year;
    for (int month = 0; month < 12; ++month) {
      const int days = month < 6 ? 31 : month < 11 ? 30 : static_cast<int>(length) - 336;
      for (int day = 1; day <= days; ++day, ++expected_jdn) {
        const int64_t jdn = utils_persian_to_jdn(year, month, day);
        ASSERT_EQ(jdn, expected_jdn) << year << "-" << month << "-" << day;
        const int64_t packed = utils_jdn_to_persian(jdn);
        ASSERT_EQ(packed, (year << 16) | (month << 8) | day) << jdn;
        ASSERT_EQ(utils_persian_year(packed) * 10000 + utils_persian_month(packed) * 100 +
                      utils_persian_day(packed),
                  year * 10000 + month * 100 + day);
      }
    }
  }
  int leap = 0;  // a cycle of 2820 years has 683 leap years
  for (int64_t year = 475; year < 475 + 2820; ++year) leap += year_length(year) == 366;
  EXPECT_EQ(leap, 683);
}

}  // namespace
