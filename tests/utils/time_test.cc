#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "utils/utils.h"

namespace {

namespace fs = std::filesystem;

constexpr char kSystemZoneinfo[] = "/usr/share/zoneinfo";

// Seconds since the epoch of a UTC date.
int64_t Utc(int year, int month, int day, int hour, int minute, int second) {
  struct tm tm {};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return timegm(&tm);
}

utils_tm Convert(int64_t seconds, const char *zone, int64_t micros = 0) {
  struct timeval tv {};
  tv.tv_sec = static_cast<time_t>(seconds);
  tv.tv_usec = static_cast<suseconds_t>(micros);
  utils_tm tm;
  utils_localtime_zone(&tv, &tm, zone);
  return tm;
}

std::string Format(time_t seconds, const char *pattern) {
  char buffer[64];
  EXPECT_GE(utils_time_format(seconds, pattern, buffer, sizeof buffer), 0);
  return buffer;
}

// A zone file of version 2 with one time type per entry and a transition
// to each type but the first at the given times.
struct ZoneLayout {
  struct Type {
    int32_t utoff;
    bool isdst;
    std::string abbr;
  };
  std::vector<Type> types;
  std::vector<int64_t> transitions;  // to types[1], types[2], ...
  std::string footer;
};

void Put32(std::string *out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<char>(v >> shift));
}

std::string BuildTzif(const ZoneLayout &zone) {
  std::string chars;
  std::vector<size_t> abbr_at;
  for (const auto &type : zone.types) {
    abbr_at.push_back(chars.size());
    chars += type.abbr + '\0';
  }
  std::string out;
  const auto header = [&](uint32_t timecnt, uint32_t typecnt, uint32_t charcnt) {
    out += "TZif2";
    out.append(15, '\0');
    for (uint32_t count : {0u, 0u, 0u, timecnt, typecnt, charcnt}) Put32(&out, count);
  };
  // An empty 32-bit block (one type, as readers of version 1 expect).
  header(0, 1, 1);
  out.append(6, '\0');
  out.push_back('\0');
  header(zone.transitions.size(), zone.types.size(), chars.size());
  for (int64_t t : zone.transitions) {
    Put32(&out, static_cast<uint32_t>(static_cast<uint64_t>(t) >> 32));
    Put32(&out, static_cast<uint32_t>(t));
  }
  for (size_t i = 0; i < zone.transitions.size(); ++i) out.push_back(static_cast<char>(i + 1));
  for (size_t i = 0; i < zone.types.size(); ++i) {
    Put32(&out, static_cast<uint32_t>(zone.types[i].utoff));
    out.push_back(zone.types[i].isdst ? 1 : 0);
    out.push_back(static_cast<char>(abbr_at[i]));
  }
  out += chars;
  out += "\n" + zone.footer + "\n";
  return out;
}

// A fresh ALERTMILL_ROOT with etc/ and usr/share/zoneinfo/ inside.
class TimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/alertmill_time_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    root_ = dir;
    fs::create_directories(root_ / "etc");
    fs::create_directories(root_ / "usr/share/zoneinfo");
    setenv("ALERTMILL_ROOT", root_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("ALERTMILL_ROOT");
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  bool HaveTzdata() const { return fs::exists(kSystemZoneinfo); }

  // Makes the local zone a copy of a system zone file, replacing the old
  // one by rename as package managers do.
  void SetLocalZone(const std::string &name) {
    const fs::path temp = root_ / "etc/localtime.new";
    fs::copy_file(fs::path(kSystemZoneinfo) / name, temp, fs::copy_options::overwrite_existing);
    fs::rename(temp, LocalPath());
  }

  void WriteFile(const fs::path &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
  }

  fs::path LocalPath() const { return root_ / "etc/localtime"; }
  fs::path ZoneinfoPath(const std::string &name) const {
    return root_ / "usr/share/zoneinfo" / name;
  }

  fs::path root_;
};

#define REQUIRE_TZDATA() \
  if (!HaveTzdata()) GTEST_SKIP() << "tzdata is not installed"

TEST_F(TimeTest, FormatsLocalTimeWithTheStrftimePattern) {
  REQUIRE_TZDATA();
  SetLocalZone("Asia/Tokyo");
  char buffer[64];
  const time_t when = Utc(2024, 3, 4, 22, 8, 9);  // 07:08:09 in Tokyo
  EXPECT_EQ(utils_time_format(when, "%Y-%m-%d %H:%M:%S", buffer, sizeof buffer), 19);
  EXPECT_STREQ(buffer, "2024-03-05 07:08:09");
  EXPECT_EQ(Format(when, "%z %Z %a %j"), "+0900 JST Tue 065");
}

TEST_F(TimeTest, FractionalSecondsAreCutNotRounded) {
  utils_tm tm{};
  tm.tm_hour = 12;
  tm.tm_sec = 1;
  tm.tm_mday = 1;
  tm.tm_usec = 234567;
  char buffer[64];
  const struct {
    const char *pattern;
    const char *expected;
  } cases[] = {
      {"%H:%M:%S.%q", "12:00:01.234"}, {"%H:%M:%S.%6q", "12:00:01.234567"},
      {"%H:%M:%S.%1q", "12:00:01.2"},  {"%3q|%2q|%4q|%5q", "234|23|2345|23456"},
      {"%%q %q%%", "%q 234%"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(utils_strftime(buffer, sizeof buffer, c.pattern, &tm),
              static_cast<int>(std::strlen(c.expected)))
        << c.pattern;
    EXPECT_STREQ(buffer, c.expected) << c.pattern;
  }
  tm.tm_usec = 42;  // leading zeros to the width
  utils_strftime(buffer, sizeof buffer, "%q %5q %6q", &tm);
  EXPECT_STREQ(buffer, "000 00004 000042");
}

TEST_F(TimeTest, StrftimeRefusesMissingArgumentsAndReportsOverflow) {
  utils_tm tm{};
  char buffer[8] = "xxxxxxx";
  EXPECT_EQ(utils_strftime(nullptr, 8, "%q", &tm), -1);
  EXPECT_EQ(utils_strftime(buffer, 8, nullptr, &tm), -1);
  EXPECT_EQ(utils_strftime(buffer, 8, "%q", nullptr), -1);
  EXPECT_EQ(utils_strftime(buffer, sizeof buffer, "%6q%6q", &tm), 0);  // 13 bytes
  EXPECT_STREQ(buffer, "");
}

TEST_F(TimeTest, MissingLocalZoneIsUtcNamedGmt) {
  const time_t when = Utc(2024, 7, 1, 12, 30, 0);
  EXPECT_EQ(Format(when, "%Y-%m-%d %H:%M:%S %z %Z"), "2024-07-01 12:30:00 +0000 GMT");
  // The TZ variable never decides the local zone.
  setenv("TZ", "JST-9", 1);
  EXPECT_EQ(Format(when, "%H %Z"), "12 GMT");
  unsetenv("TZ");
}

TEST_F(TimeTest, ReplacedLocalZoneIsSeenAtTheNextCall) {
  REQUIRE_TZDATA();
  const time_t when = Utc(2024, 7, 1, 12, 0, 0);
  SetLocalZone("Asia/Tokyo");
  EXPECT_EQ(Format(when, "%H %Z"), "21 JST");
  SetLocalZone("America/New_York");
  EXPECT_EQ(Format(when, "%H %Z"), "08 EDT");
  // Rewritten in place rather than replaced.
  std::ifstream in(fs::path(kSystemZoneinfo) / "Europe/Lisbon", std::ios::binary);
  WriteFile(LocalPath(), std::string(std::istreambuf_iterator<char>(in), {}));
  EXPECT_EQ(Format(when, "%H %Z"), "13 WEST");
  // A symbolic link pointed elsewhere.
  fs::remove(LocalPath());
  fs::create_symlink(fs::path(kSystemZoneinfo) / "Asia/Kolkata", LocalPath());
  EXPECT_EQ(Format(when, "%H:%M %Z"), "17:30 IST");
  fs::remove(LocalPath());
  EXPECT_EQ(Format(when, "%H %Z"), "12 GMT");
}

TEST_F(TimeTest, SameSizeRewriteWithinAClockTickIsSeen) {
  const time_t when = Utc(2024, 7, 1, 12, 0, 0);
  for (int round = 0; round < 20; ++round) {
    const std::string abbr = round % 2 ? "AAA" : "BBB";
    const int32_t utoff = round % 2 ? 3600 : 7200;
    WriteFile(LocalPath(), BuildTzif({{{utoff, false, abbr}}, {}, ""}));
    EXPECT_EQ(Format(when, "%Z"), abbr) << "round " << round;
  }
}

TEST_F(TimeTest, OffsetFormatTakesDaylightChangesIntoAccount) {
  // Daylight time began half an hour ago: an hour earlier was standard time.
  struct timeval now {};
  ASSERT_EQ(utils_gettimeofday(&now), 0);
  WriteFile(LocalPath(),
            BuildTzif({{{3600, false, "AAA"}, {7200, true, "BBB"}}, {now.tv_sec - 1800}, ""}));
  const auto utc_text = [](int64_t seconds, const char *abbr) {
    const time_t t = static_cast<time_t>(seconds);
    struct tm tm {};
    gmtime_r(&t, &tm);
    char text[64];
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S ", &tm);
    return std::string(text) + abbr;
  };
  for (int attempt = 0; attempt < 5; ++attempt) {
    struct timeval before {};
    utils_gettimeofday(&before);
    char current[64];
    char earlier[64];
    ASSERT_EQ(utils_time_now_format("%Y-%m-%d %H:%M:%S %Z", current, sizeof current), 0);
    ASSERT_EQ(utils_time_offset_format("%Y-%m-%d %H:%M:%S %Z", earlier, sizeof earlier, -3600), 0);
    struct timeval after {};
    utils_gettimeofday(&after);
    if (before.tv_sec != after.tv_sec) continue;  // the second ticked
    EXPECT_EQ(current, utc_text(before.tv_sec + 7200, "BBB"));
    EXPECT_EQ(earlier, utc_text(before.tv_sec - 3600 + 3600, "AAA"));
    return;
  }
  ADD_FAILURE() << "the clock never held still for two calls";
}

TEST_F(TimeTest, NowFormatRefusesMissingArguments) {
  char buffer[64];
  EXPECT_EQ(utils_time_now_format(nullptr, buffer, sizeof buffer), -1);
  EXPECT_EQ(utils_time_now_format("%Y", nullptr, 64), -1);
  EXPECT_EQ(utils_time_offset_format(nullptr, buffer, sizeof buffer, 5), -1);
  EXPECT_EQ(utils_time_now_format("%Y-%m-%d %H:%M:%S", buffer, sizeof buffer), 0);
  EXPECT_EQ(std::strlen(buffer), 19u);
  EXPECT_EQ(utils_gettimeofday(nullptr), -1);
}

TEST_F(TimeTest, FormatWritesNothingForRefusedArguments) {
  char buffer[16] = "untouched";
  EXPECT_LT(utils_time_format(0, "%Y", buffer, sizeof buffer), 0);
  EXPECT_LT(utils_time_format(100, "%Y", buffer, 0), 0);
  EXPECT_LT(utils_time_format(100, nullptr, buffer, sizeof buffer), 0);
  EXPECT_LT(utils_time_format(100, "%Y", nullptr, 16), 0);
  EXPECT_STREQ(buffer, "untouched");
  EXPECT_EQ(utils_time_format(100, "%Y-%m-%d %H:%M:%S", buffer, 5), 0);  // does not fit
}

TEST_F(TimeTest, FixedZoneIsPortugal) {
  REQUIRE_TZDATA();
  fs::create_symlink(fs::path(kSystemZoneinfo) / "Portugal", ZoneinfoPath("Portugal"));
  SetLocalZone("Asia/Tokyo");
  char buffer[64];
  const time_t summer = Utc(2024, 7, 1, 12, 0, 0);
  EXPECT_EQ(utils_time_format_fixed_zone(&summer, "%H:%M %z %Z", buffer), 0);
  EXPECT_STREQ(buffer, "13:00 +0100 WEST");
  const time_t zero = 0;
  EXPECT_EQ(utils_time_format_fixed_zone(&zero, "%H", buffer), -1);
  EXPECT_EQ(utils_time_format_fixed_zone(nullptr, "%H", buffer), -1);
}

TEST_F(TimeTest, ZoneNamesResolveAsFilesThenRuleStrings) {
  REQUIRE_TZDATA();
  fs::create_directories(ZoneinfoPath("Asia"));
  fs::create_symlink(fs::path(kSystemZoneinfo) / "Asia/Tokyo", ZoneinfoPath("Asia/Tokyo"));
  const int64_t when = Utc(2024, 7, 1, 12, 0, 0);
  const std::string lisbon = std::string(kSystemZoneinfo) + "/Europe/Lisbon";
  const std::string climbing = std::string(kSystemZoneinfo) + "/Europe/../Europe/Lisbon";
  const struct {
    const char *zone;
    int hour;
    const char *abbr;
  } cases[] = {
      {"Asia/Tokyo", 21, "JST"},     // under the zoneinfo directory
      {":Asia/Tokyo", 21, "JST"},    // one colon skipped
      {lisbon.c_str(), 13, "WEST"},  // an absolute path
      {"CET-1CEST,M3.5.0,M10.5.0/3", 14, "CEST"},
      {"<+0330>-3:30", 15, "+0330"},
      {":CET-1CEST,M3.5.0,M10.5.0/3", 12, "GMT"},  // a colon forbids rule strings
      {"Europe/Nowhere", 12, "GMT"},
      {"CET-1CEST,M3.5.0", 12, "GMT"},    // half a rule
      {"Asia/../Asia/Tokyo", 12, "GMT"},  // ".." never names a file
      {":../zoneinfo/Asia/Tokyo", 12, "GMT"},
      {climbing.c_str(), 12, "GMT"},
  };
  for (const auto &c : cases) {
    const utils_tm tm = Convert(when, c.zone);
    EXPECT_EQ(tm.tm_hour, c.hour) << c.zone;
    EXPECT_STREQ(tm.tm_zone, c.abbr) << c.zone;
  }
}

TEST_F(TimeTest, MalformedRuleStringsFallBackToGmt) {
  const int64_t when = Utc(2024, 7, 1, 12, 0, 0);
  const char *malformed[] = {
      "AB5",
      "<AB>5",
      "<A_B>5",
      "EST",
      "EST25",
      "EST5:60",
      "EST5:30:60",
      "EST5EDT,M13.1.0,M10.5.0",
      "EST5EDT,M3.6.0,M10.5.0",
      "EST5EDT,M3.1.7,M10.5.0",
      "EST5EDT,J0,J365",
      "EST5EDT,366,0",
      "EST5EDT,M3.2.0/168,M11.1.0",
      "EST5EDT,M3.2.0,M11.1.0x",
      "EST5EDT,M3.2.0",
      "EST5EDT,",
      "<EST5",
      "EST5EDT4,M3.2.0,M11.1.0/",
  };
  for (const char *rule : malformed) {
    const utils_tm tm = Convert(when, rule);
    EXPECT_STREQ(tm.tm_zone, "GMT") << rule;
    EXPECT_EQ(tm.tm_gmtoff, 0) << rule;
  }
  const struct {
    const char *rule;
    int32_t gmtoff;
  } unusual[] = {
      {"EST5EDT,M3.2.0/-167,M11.1.0/167", -4 * 3600},  // extended hours
      {"<UTC+5>-5", 5 * 3600},
      {"ABC+5:30:15", -(5 * 3600 + 30 * 60 + 15)},
      {"ABC-24", 24 * 3600},
  };
  for (const auto &c : unusual) EXPECT_EQ(Convert(when, c.rule).tm_gmtoff, c.gmtoff) << c.rule;
}

TEST_F(TimeTest, DaylightWithoutDatesTakesPosixrulesThenTheDefault) {
  // posixrules with European dates: last Sunday of March, 01:00 UTC.
  WriteFile(ZoneinfoPath("posixrules"),
            BuildTzif({{{0, false, "UTC"}}, {}, "WET0WEST,M3.5.0/1,M10.5.0"}));
  const int64_t start_eu = Utc(2024, 3, 31, 4, 0, 0);  // 01:00 at UTC-3
  EXPECT_EQ(Convert(start_eu - 1, "AAA3BBB").tm_isdst, 0);
  EXPECT_EQ(Convert(start_eu, "AAA3BBB").tm_isdst, 1);

  // Without posixrules: first Sunday of April to last Sunday of October, 02:00.
  fs::remove(ZoneinfoPath("posixrules"));
  const int64_t start = Utc(2024, 4, 7, 5, 0, 0);  // 02:00 at UTC-3
  utils_tm before = Convert(start - 1, "AAA3BBB");
  utils_tm after = Convert(start, "AAA3BBB");
  EXPECT_EQ(before.tm_isdst, 0);
  EXPECT_STREQ(before.tm_zone, "AAA");
  EXPECT_EQ(before.tm_hour, 1);
  EXPECT_EQ(after.tm_isdst, 1);
  EXPECT_STREQ(after.tm_zone, "BBB");
  EXPECT_EQ(after.tm_hour, 3);
  EXPECT_EQ(after.tm_gmtoff, -2 * 3600);
  const int64_t end = Utc(2024, 10, 27, 4, 0, 0);  // 02:00 at UTC-2
  EXPECT_EQ(Convert(end - 1, "AAA3BBB").tm_isdst, 1);
  EXPECT_EQ(Convert(end, "AAA3BBB").tm_isdst, 0);
}

TEST_F(TimeTest, MicrosecondsTravelAndZeroIsRefused) {
  utils_tm tm = Convert(Utc(2024, 1, 2, 3, 4, 5), "UTC0", 654321);
  EXPECT_EQ(tm.tm_usec, 654321);
  EXPECT_EQ(tm.tm_sec, 5);
  tm = Convert(Utc(2024, 1, 2, 3, 4, 5), "UTC0", 1500000);  // carried
  EXPECT_EQ(tm.tm_sec, 6);
  EXPECT_EQ(tm.tm_usec, 500000);

  struct timeval zero {};
  tm.tm_hour = 7;
  EXPECT_EQ(utils_localtime_zone(&zero, &tm, "UTC0"), -1);
  EXPECT_EQ(tm.tm_hour, 0);  // cleared
  zero.tv_usec = 1;
  EXPECT_EQ(utils_localtime_zone(&zero, &tm, "UTC0"), 0);
  EXPECT_EQ(tm.tm_year, 70);
  EXPECT_EQ(utils_localtime_zone(nullptr, &tm, nullptr), -1);
  EXPECT_EQ(utils_localtime_zone(&zero, nullptr, nullptr), -1);

  // Years beyond an int are refused rather than wrapped.
  struct timeval far {};
  far.tv_sec = static_cast<time_t>(INT64_MAX);
  EXPECT_EQ(utils_localtime_zone(&far, &tm, "UTC0"), -1);
}

TEST_F(TimeTest, DamagedZoneFilesFallBackToGmt) {
  const ZoneLayout good{{{-18000, false, "EST"}, {-14400, true, "EDT"}},
                        {Utc(2024, 3, 10, 7, 0, 0)},
                        "EST5EDT,M3.2.0,M11.1.0"};
  const std::string bytes = BuildTzif(good);
  const int64_t when = Utc(2024, 7, 1, 12, 0, 0);
  const std::string path = (root_ / "zone").string();
  WriteFile(path, bytes);
  EXPECT_STREQ(Convert(when, path.c_str()).tm_zone, "EDT");

  std::vector<std::string> damaged;
  for (size_t cut = 0; cut < bytes.size(); ++cut) damaged.push_back(bytes.substr(0, cut));
  const size_t v2_header = 44 + 6 + 1;  // after the 32-bit block
  const size_t timecnt_at = v2_header + 20 + 12;
  std::string absurd = bytes;
  absurd.replace(timecnt_at, 4, "\x7f\xff\xff\xff", 4);
  damaged.push_back(absurd);
  std::string bad_index = bytes;
  bad_index[v2_header + 44 + 8] = 9;  // the transition's type
  damaged.push_back(bad_index);
  std::string bad_footer = bytes;
  bad_footer.replace(bad_footer.rfind("EST5EDT"), 7, "EST5ED?");
  damaged.push_back(bad_footer);
  std::string bad_magic = bytes;
  bad_magic[v2_header + 1] = 'X';
  damaged.push_back(bad_magic);
  std::mt19937 random(42);
  for (int i = 0; i < 50; ++i) {
    std::string noise = bytes;
    for (size_t j = 44; j < noise.size(); ++j) noise[j] = static_cast<char>(random());
    damaged.push_back(noise);
  }

  for (const std::string &file : damaged) {
    WriteFile(path, file);
    const utils_tm tm = Convert(when, path.c_str());
    // Whatever the damage, the result is a valid time: GMT, or what an
    // intact part of the noise happened to describe.
    if (std::strcmp(tm.tm_zone, "GMT") != 0) continue;
    EXPECT_EQ(tm.tm_hour, 12);
    EXPECT_EQ(tm.tm_gmtoff, 0);
  }
  for (size_t i = 0; i < bytes.size(); ++i) {
    WriteFile(path, damaged[i]);
    EXPECT_STREQ(Convert(when, path.c_str()).tm_zone, "GMT") << "cut at " << i;
  }
  for (size_t i = bytes.size(); i < bytes.size() + 4; ++i) {
    WriteFile(path, damaged[i]);
    EXPECT_STREQ(Convert(when, path.c_str()).tm_zone, "GMT") << "damage " << i;
  }
}

TEST_F(TimeTest, FifoInPlaceOfTheZoneDoesNotHang) {
  ASSERT_EQ(mkfifo(LocalPath().c_str(), 0600), 0);
  EXPECT_EQ(Format(Utc(2024, 7, 1, 12, 0, 0), "%H %Z"), "12 GMT");
}

}  // namespace
