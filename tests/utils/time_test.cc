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
#include <tuple>
#include <utility>
#include <vector>

#include "tests/support/sandbox_root.h"
#include "utils/utils.h"

namespace {

namespace fs = std::filesystem;

const fs::path kZoneinfo = "/usr/share/zoneinfo";
constexpr int64_t kLast = 4133980799;  // 2100-12-31 23:59:59 UTC
#ifdef __GLIBC__
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
const int64_t kSummer = Utc(2024, 7, 1, 12);

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

void Put32(std::string *out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<char>(v >> shift));
}

// A zone file: a transition to types[i + 1] at each time, leap records
// {occurrence, correction}; version 2 with 64-bit times unless v1.
struct Type {
  int32_t utoff;
  bool isdst;
  std::string abbr;
};
std::string Tzif(const std::vector<Type> &types, const std::vector<int64_t> &transitions,
                 const std::string &footer = "",
                 const std::vector<std::pair<int64_t, int32_t>> &leaps = {}, bool v1 = false) {
  std::string chars, out;
  for (const auto &type : types) chars += type.abbr + '\0';
  const auto block = [&](char version, int width, bool empty) {
    out += std::string("TZif") + version + std::string(15, '\0');
    for (size_t count :
         {size_t{0}, size_t{0}, empty ? 0 : leaps.size(), empty ? 0 : transitions.size(),
          empty ? 1 : types.size(), empty ? 1 : chars.size()}) {
      Put32(&out, static_cast<uint32_t>(count));
    }
    if (empty) return out.append(7, '\0'), void();  // one type, as old readers expect
    const auto time = [&](int64_t t) {
      if (width == 8) Put32(&out, static_cast<uint32_t>(static_cast<uint64_t>(t) >> 32));
      Put32(&out, static_cast<uint32_t>(t));
    };
    for (int64_t t : transitions) time(t);
    for (size_t i = 0; i < transitions.size(); ++i) out.push_back(static_cast<char>(i + 1));
    for (size_t i = 0, at = 0; i < types.size(); at += types[i++].abbr.size() + 1) {
      Put32(&out, static_cast<uint32_t>(types[i].utoff));
      out += {static_cast<char>(types[i].isdst), static_cast<char>(at)};
    }
    out += chars;
    for (const auto &[when, correction] : leaps) time(when), Put32(&out, uint32_t(correction));
  };
  if (v1) return block('\0', 4, false), out;
  block('2', 4, true);
  block('2', 8, false);
  return out + "\n" + footer + "\n";
}

class TimeTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(root_.path("usr/share/zoneinfo/Asia")); }
  // Puts a copy of a system zone file in place by rename, as package
  // managers do.
  void SetLocalZone(const std::string &name) {
    fs::copy_file(kZoneinfo / name, root_.path("etc/new"), fs::copy_options::overwrite_existing);
    fs::rename(root_.path("etc/new"), root_.path("etc/localtime"));
  }
  SandboxRoot root_;
};

TEST_F(TimeTest, LocalZoneIsReadAgainWheneverItChanges) {
  EXPECT_EQ(Format(kSummer, "%Y-%m-%d %H:%M:%S %z %Z"), "2024-07-01 12:00:00 +0000 GMT");
  setenv("TZ", "JST-9", 1);  // never decides the local zone
  EXPECT_EQ(Format(kSummer, "%H %Z"), "12 GMT");
  unsetenv("TZ");
  ASSERT_EQ(mkfifo(root_.path("etc/localtime").c_str(), 0600), 0);  // must not hang
  EXPECT_EQ(Format(kSummer, "%H %Z"), "12 GMT");
  if (!fs::exists(kZoneinfo)) GTEST_SKIP() << "tzdata is not installed";
  SetLocalZone("Asia/Tokyo");
  EXPECT_EQ(Format(Utc(2024, 3, 4, 22, 8, 9), "%Y-%m-%d %H:%M:%S %z %Z %a %j"),
            "2024-03-05 07:08:09 +0900 JST Tue 065");
  SetLocalZone("America/New_York");
  EXPECT_EQ(Format(kSummer, "%H %Z"), "08 EDT");
  std::ifstream lisbon(kZoneinfo / "Europe/Lisbon", std::ios::binary);
  root_.write("etc/localtime", std::string(std::istreambuf_iterator<char>(lisbon), {}));
  EXPECT_EQ(Format(kSummer, "%H %Z"), "13 WEST");  // rewritten in place
  fs::remove(root_.path("etc/localtime"));
  fs::create_symlink(kZoneinfo / "Asia/Kolkata", root_.path("etc/localtime"));
  EXPECT_EQ(Format(kSummer, "%H:%M %Z"), "17:30 IST");
  fs::remove(root_.path("etc/localtime"));
  EXPECT_EQ(Format(kSummer, "%H %Z"), "12 GMT");
}

TEST_F(TimeTest, SameSizeRewriteThatKeepsEveryStatFieldIsSeenWhileRecent) {
  // Writes through a shared mapping stamp the file at the first fault only,
  // so the second one below keeps size, inode and times: just what a quick
  // rewrite within one tick of the file system's clock looks like.
  const std::string first = Tzif({{3600, false, "AAA"}}, {});
  const std::string second = Tzif({{7200, false, "BBB"}}, {});
  const std::string path = root_.path("zone");
  root_.write("zone", first);
  const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  void *map = mmap(nullptr, first.size(), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ASSERT_NE(map, MAP_FAILED);
  std::memcpy(map, first.data(), first.size());
  EXPECT_EQ(Convert(kSummer, path).tm_gmtoff, 3600);
  std::memcpy(map, second.data(), second.size());
  EXPECT_EQ(Convert(kSummer, path).tm_gmtoff, 7200);
  munmap(map, first.size());
  close(fd);
}

TEST_F(TimeTest, FractionsAreCutToTheirWidth) {
  utils_tm tm = Convert(Utc(2024, 1, 2, 12, 0, 0), "UTC0", 1234567);  // carried
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
  struct timeval tv {};  // the epoch itself is refused
  EXPECT_EQ(utils_localtime_zone(&tv, &tm, "UTC0"), -1);
  tv.tv_sec = static_cast<time_t>(INT64_MAX);  // beyond an int's years
  EXPECT_EQ(utils_localtime_zone(&tv, &tm, "UTC0"), -1);
}

// Zones named as files (under the zoneinfo directory, or absolute) or rule
// strings; what cannot be read is GMT.
TEST_F(TimeTest, ZoneNamesAndRuleStrings) {
  if (!fs::exists(kZoneinfo)) GTEST_SKIP() << "tzdata is not installed";
  fs::create_symlink(kZoneinfo / "Asia/Tokyo", root_.path("usr/share/zoneinfo/Asia/Tokyo"));
  const std::string lisbon = kZoneinfo.string() + "/Europe/Lisbon";
  // Daylight time without dates takes posixrules' footer, else the first
  // Sunday of April to the last of October at 02:00. Julian day 60 is 1
  // March even in leap years; zero-based day 59 is 29 February in 2000.
  root_.write("usr/share/zoneinfo/posixrules",
              Tzif({{0, false, "UTC"}}, {}, "WET0WEST,M3.5.0/1,M10.5.0"));
  const struct {
    std::string zone;
    int64_t when;
    const char *expected;
  } cases[] = {{"Asia/Tokyo", kSummer, "21:00:00 JST"},
               {":Asia/Tokyo", kSummer, "21:00:00 JST"},
               {lisbon, kSummer, "13:00:00 WEST"},
               {"CET-1CEST,M3.5.0,M10.5.0/3", kSummer, "14:00:00 CEST"},
               {"<+0330>-3:30", kSummer, "15:30:00 +0330"},
               {"<UTC+5>-5", kSummer, "17:00:00 UTC+5"},
               {"ABC+5:30:15", kSummer, "06:29:45 ABC"},
               {"ABC-24", kSummer, "12:00:00 ABC"},
               {"EST5EDT,M3.2.0/-167,M11.1.0/167", kSummer, "08:00:00 EDT"},
               {":CET-1CEST,M3.5.0,M10.5.0/3", kSummer, "12:00:00 GMT"},
               {"Asia/../Asia/Tokyo", kSummer, "12:00:00 GMT"},
               {":../zoneinfo/Asia/Tokyo", kSummer, "12:00:00 GMT"},
               {kZoneinfo.string() + "/Europe/../Europe/Lisbon", kSummer, "12:00:00 GMT"},
               {"Europe/Nowhere", kSummer, "12:00:00 GMT"},
               {"AAA3BBB", Utc(2024, 3, 31, 4) - 1, "00:59:59 AAA"},
               {"AAA3BBB", Utc(2024, 3, 31, 4), "02:00:00 BBB"},
               {"AAA3BBB,M4.1.0,M10.5.0", Utc(2024, 4, 7, 5) - 1, "01:59:59 AAA"},
               {"AAA3BBB,M4.1.0,M10.5.0", Utc(2024, 4, 7, 5), "03:00:00 BBB"},
               {"AAA3BBB,M4.1.0,M10.5.0", Utc(2024, 10, 27, 4) - 1, "01:59:59 BBB"},
               {"AAA3BBB,M4.1.0,M10.5.0", Utc(2024, 10, 27, 4), "01:00:00 AAA"},
               {"AAA0BBB,J60,J300", Utc(2024, 3, 1, 2) - 1, "01:59:59 AAA"},
               {"AAA0BBB,J60,J300", Utc(2024, 3, 1, 2), "03:00:00 BBB"},
               {"AAA0BBB,59/0,300", Utc(2000, 2, 29, 0) - 1, "23:59:59 AAA"},
               {"AAA0BBB,59/0,300", Utc(2000, 2, 29, 0), "01:00:00 BBB"},
               {"AAA0BBB,59/0,300", Utc(2100, 3, 1, 0) - 1, "23:59:59 AAA"}};
  for (const auto &c : cases) {
    EXPECT_EQ(Text(Convert(c.when, c.zone)), c.expected) << c.zone << " " << c.when;
  }
  fs::remove(root_.path("usr/share/zoneinfo/posixrules"));
  EXPECT_EQ(Text(Convert(Utc(2024, 4, 7, 5), "AAA3BBB")), "03:00:00 BBB");
  for (const char *rule :
       {"AB5", "<AB>5", "<A_B>5", "EST", "EST25", "EST5:60", "EST5:30:60",
        "EST5EDT,M13.1.0,M10.5.0", "EST5EDT,M3.6.0,M10.5.0", "EST5EDT,M3.1.7,M10.5.0",
        "EST5EDT,J0,J365", "EST5EDT,366,0", "EST5EDT,M3.2.0/168,M11.1.0", "EST5EDT,M3.2.0,M11.1.0x",
        "EST5EDT,M3.2.0", "EST5EDT,", "<EST5", "EST5EDT4,M3.2.0,M11.1.0/", "CET-1CEST,M3.5.0"}) {
    EXPECT_EQ(Text(Convert(kSummer, rule)), "12:00:00 GMT") << rule;
  }
  const time_t summer = kSummer;
  char buffer[64];
  fs::create_symlink(kZoneinfo / "Portugal", root_.path("usr/share/zoneinfo/Portugal"));
  EXPECT_EQ(utils_time_format_fixed_zone(&summer, "%H:%M %z %Z", buffer), 0);
  EXPECT_STREQ(buffer, "13:00 +0100 WEST");
}

// Zone files as read, then damaged ones, which are GMT.
TEST_F(TimeTest, ZoneFiles) {
  const int64_t leap = Utc(2020, 1, 1, 0);
  const std::vector<Type> two = {{0, false, "AAA"}, {3600, false, "BBB"}}, utc = {two[0]};
  const Type est{-18000, false, "EST"}, edt{-14400, true, "EDT"};
  const std::string footer = "EST5EDT,M3.2.0,M11.1.0";
  const std::string good = Tzif({est, edt}, {Utc(2024, 3, 10, 7)}, footer);
  const size_t v2 = 44 + 6 + 1;  // after the 32-bit block
  std::vector<std::tuple<std::string, int64_t, std::string>> cases = {
      {Tzif(two, {-1000000000}, "", {}, true), -999999000, "23:30:00 BBB"},  // 32-bit times
      {Tzif(two, {leap}), leap - 1, "23:59:59 AAA"},
      {Tzif(two, {leap}), leap, "01:00:00 BBB"},
      {Tzif(utc, {}, "", {{leap, 1}}), leap, "23:59:60 AAA"},
      {Tzif(utc, {}, "", {{leap, 1}}), leap + 1, "00:00:00 AAA"},
      {Tzif(utc, {}, "", {{leap, 1}, {leap + 100, 0}}), leap + 100, "00:01:40 AAA"},
      {good, kSummer, "08:00:00 EDT"},
      {std::string(good).replace(v2 + 32, 4, "\x7f\xff\xff\xff", 4), kSummer, "12:00:00 GMT"},
      {std::string(good).replace(v2 + 44 + 8, 1, "\x09"), kSummer, "12:00:00 GMT"},  // type
      {std::string(good).replace(good.rfind("EST5EDT"), 7, "EST5ED?"), kSummer, "12:00:00 GMT"},
      {std::string(good).replace(v2 + 1, 1, "X"), kSummer, "12:00:00 GMT"},
      {Tzif({est, edt, est}, {kSummer, kSummer}, footer), kSummer, "12:00:00 GMT"}};
  for (size_t cut = 0; cut < good.size(); ++cut)
    cases.emplace_back(good.substr(0, cut), kSummer, "12:00:00 GMT");
  for (const auto &[zone, when, expected] : cases) {
    root_.write("zone", zone);
    EXPECT_EQ(Text(Convert(when, root_.path("zone"))), expected) << when << " " << zone.size();
  }
}

// Our conversion against the C library's localtime_r on a sample of zones
// and rule strings: a second in every month, at ever other times of day,
// and the seconds around each change the C library shows, found by
// bisection. musl's localtime ignores leap seconds and reads some rules its
// own way: there it is no reference.
TEST(TimeOracle, SampleOfZonesAgreesWithTheCLibrary) {
  if (!kLibcIsReference || !fs::exists(kZoneinfo)) GTEST_SKIP() << "no reference here";
  unsetenv("ALERTMILL_ROOT");  // posixrules must be the same file for both
  std::string zone;
  const auto libc = [](int64_t t, bool full) {
    const time_t when = static_cast<time_t>(t);
    struct tm tm {};
    char text[80];
    strftime(text, sizeof text, full ? "%Y-%m-%d %H:%M:%S %a %j %z %Z" : "%z %Z",
             localtime_r(&when, &tm));
    return std::string(text) + (tm.tm_isdst ? " dst" : "");
  };
  int mismatches = 0;
  const auto check = [&](int64_t t) {
    const utils_tm ours = Convert(t, zone);
    const std::string mine =
        Text(ours, "%Y-%m-%d %H:%M:%S %a %j %z %Z") + (ours.tm_isdst ? " dst" : "");
    if (t != 0 && mine != libc(t, true) && ++mismatches <= 5) {
      ADD_FAILURE() << zone << " t=" << t << ": " << mine;
    }
  };
  const char *zones[] = {"America/New_York",
                         "Europe/Lisbon",
                         "Europe/Dublin",
                         "Australia/Lord_Howe",
                         "Asia/Kolkata",
                         "Pacific/Apia",
                         "Africa/Casablanca",
                         "America/Sao_Paulo",
                         "Antarctica/Troll",
                         "Asia/Tehran",
                         "right/UTC",
                         "right/Europe/Paris",
                         "EST5EDT",
                         "CET-1CEST,M3.5.0,M10.5.0/3",
                         "NZST-12NZDT,M9.5.0,M4.1.0/3",
                         "IST-2IDT,M3.4.4/26,M10.5.0",
                         "<-03>3<-02>,M3.5.0/-2,M10.5.0/-1",
                         "EST5EDT,0/0,J365/25",
                         "AAA3BBB2,J60/1:30:15,300/23",
                         "<-0130>+1:30<+00>-0,M1.1.6,M12.5.5/167"};
  for (const char *name : zones) {
    const bool rule = !fs::exists(kZoneinfo / name);
    zone = rule ? name : (kZoneinfo / name).string();
    setenv("TZ", zone.c_str(), 1);
    tzset();
    // The C library takes a rule's dates before 1970 as those of 1970.
    const int64_t from = rule ? 1 : Utc(1901, 1, 1, 0), step = 5 * 86400;
    std::string before = libc(from, false);
    for (int64_t t = from; t < kLast; t += step) {
      const std::string after = libc(t + step, false);
      int64_t low = t, high = t + step;
      while (after != before && high - low > 1) {
        const int64_t mid = low + (high - low) / 2;
        (libc(mid, false) == before ? low : high) = mid;
      }
      if (after != before) check(high - 1), check(high), check(high + 1);
      if ((t - from) / step % 6 == 0) check(t + (t - from) / step * 3607 % 86400);
      before = after;
    }
  }
  unsetenv("TZ");
  tzset();
}

// Persian dates of local times; the day rolls 8:01:01 early.
TEST(Calendar, PersianDates) {
  const struct {
    const char *tz, *date, *persian;
  } cases[] = {{"UTC0", "2024-03-20 00:00:00", "1403-01-01"},
               {"UTC0", "2024-03-19 15:58:58", "1402-12-29"},
               {"UTC0", "2024-03-19 15:58:59", "1403-01-01"},
               {"<+0330>-3:30", "2024-03-19 19:28:58", "1402-12-29"},
               {"<+0330>-3:30", "2024-03-19 19:28:59", "1403-01-01"},
               {"UTC0", "0622-03-22 00:00:00", "1-01-01"},  // the era's first day
               {"UTC0", "0622-03-21 00:00:00", "-1-12-29"}};
  char out[32];
  for (const auto &c : cases) {
    setenv("TZ", c.tz, 1);
    tzset();
    EXPECT_EQ(utils_date_to_persian(c.date, out, sizeof out), 0);
    EXPECT_STREQ(out, c.persian) << c.tz << " " << c.date;
  }
  EXPECT_EQ(utils_date_to_persian("yesterday", out, sizeof out), -1);
  EXPECT_EQ(utils_date_to_seconds("2024-03-20 00:00:00", out), 0);
  EXPECT_STREQ(out, "1710892800");
  EXPECT_EQ(utils_date_to_seconds_shifted("1970-01-01 00:00:00", out), 0);
  EXPECT_STREQ(out, "28861");
  unsetenv("TZ");
  tzset();
}

// Every day of the years 1 to 3000 follows the one before and reads back.
TEST(Calendar, DayNumbersRoundTrip) {
  EXPECT_EQ(utils_persian_to_jdn(1403, 0, 1), Utc(2024, 3, 20, 0) / 86400 + 2440588);
  int64_t expected = utils_persian_to_jdn(1, 0, 1);
  for (int64_t year = 1; year <= 3000; ++year) {
    const int64_t length = utils_persian_to_jdn(year + 1, 0, 1) - utils_persian_to_jdn(year, 0, 1);
    ASSERT_TRUE(length == 365 || length == 366) << year;
    for (int month = 0; month < 12; ++month) {
      const int days = month < 6 ? 31 : month < 11 ? 30 : static_cast<int>(length) - 336;
      for (int day = 1; day <= days; ++day, ++expected) {
        ASSERT_EQ(utils_persian_to_jdn(year, month, day), expected) << year << "-" << month;
        const int64_t packed = utils_jdn_to_persian(expected);
        ASSERT_EQ(packed, (year << 16) | (month << 8) | day) << expected;
        ASSERT_EQ(utils_persian_year(packed) * 10000 + utils_persian_month(packed) * 100 +
                      utils_persian_day(packed),
                  year * 10000 + month * 100 + day);
      }
    }
  }
}

}  // namespace
