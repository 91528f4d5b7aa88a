// Compares our local time conversion with the C library's localtime_r, for
// every zone file of the installed tzdata and for a set of rule strings.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "utils/tzif.h"
#include "utils/utils.h"

namespace {

namespace fs = std::filesystem;

constexpr char kZoneinfo[] = "/usr/share/zoneinfo";
constexpr int64_t kDay = 86400;
constexpr int64_t kFirst = -2177452800;  // 1901-01-01 00:00:00 UTC
constexpr int64_t kLast = 4133980799;    // 2100-12-31 23:59:59 UTC
// The C library evaluates a rule string's dates of any year before 1970 as
// those of 1970 (so northern zones never, southern ones always, keep
// daylight time then); we apply the rule to every year, as the reference
// code does. Rule strings are compared from 1970 on.
constexpr int64_t kRulesFirst = 1;
// Coarse sweep: about 2500 samples, each at a different time of day.
constexpr int64_t kSweepStep = 29 * kDay + 3607;
// Rules change no faster than this; a scan at this step finds each change.
constexpr int64_t kScanStep = 5 * kDay;
constexpr int kMaxReported = 5;
// glibc's localtime reads zone files and rule strings as we do. musl's
// departs in places, where it is no reference: it ignores leap seconds (the
// right/ zones), applies the footer rule before the transition of a file
// that has only one, and reads its own way a rule string with daylight time
// but no dates or with a change past the end of the year.
#ifdef __GLIBC__
constexpr bool kLibcIsReference = true;
#else
constexpr bool kLibcIsReference = false;
#endif

class Oracle {
 public:
  // Points both sides at zone (a path or a rule string), or the C library
  // at libc_zone when that is to be the same zone written otherwise.
  explicit Oracle(const std::string &zone, const std::string &libc_zone = "") : zone_(zone) {
    setenv("TZ", (libc_zone.empty() ? zone : libc_zone).c_str(), 1);
    tzset();
  }
  ~Oracle() {
    unsetenv("TZ");
    tzset();
  }

  int mismatches() const { return mismatches_; }
  const std::string &report() const { return report_; }

  // Compares one second; both sides must agree on failing too.
  void Check(int64_t t) {
    if (t == 0) return;  // refused by design
    ++checked_;
    const time_t when = static_cast<time_t>(t);
    struct tm theirs {};
    const bool theirs_ok = localtime_r(&when, &theirs) != nullptr;
    struct timeval tv {};
    tv.tv_sec = when;
    utils_tm ours;
    const bool ours_ok = utils_localtime_zone(&tv, &ours, zone_.c_str()) == 0;
    if (!theirs_ok && !ours_ok) return;
    if (theirs_ok && ours_ok && Same(theirs, ours)) return;
    if (++mismatches_ > kMaxReported) return;
    std::ostringstream line;
    line << zone_ << " t=" << t << " libc=" << (theirs_ok ? Describe(theirs) : "fail")
         << " ours=" << (ours_ok ? Describe(ours) : "fail") << "\n";
    report_ += line.str();
  }

  // Finds every change of offset, flag or abbreviation in [from, to] with
  // the C library alone, and checks the second before, at and after each.
  void ScanChanges(int64_t from, int64_t to) {
    State before = StateAt(from);
    for (int64_t t = from; t < to;) {
      const int64_t next = std::min(t + kScanStep, to);
      const State after = StateAt(next);
      if (!(after == before)) {
        int64_t low = t;  // state(low) == before
        int64_t high = next;
        while (high - low > 1) {
          const int64_t mid = low + (high - low) / 2;
          (StateAt(mid) == before ? low : high) = mid;
        }
        for (int64_t d = -1; d <= 1; ++d) Check(high + d);
      }
      before = after;
      t = next;
    }
  }

  void Sweep(int64_t from) {
    for (int64_t t = from; t <= kLast; t += kSweepStep) Check(t);
  }

 private:
  struct State {
    long gmtoff;
    int isdst;
    std::string abbr;
    bool operator==(const State &o) const {
      return gmtoff == o.gmtoff && isdst == o.isdst && abbr == o.abbr;
    }
  };

  static State StateAt(int64_t t) {
    const time_t when = static_cast<time_t>(t);
    struct tm tm {};
    if (localtime_r(&when, &tm) == nullptr) return State{0, -1, ""};
    return State{tm.tm_gmtoff, tm.tm_isdst, tm.tm_zone ? tm.tm_zone : ""};
  }

  static bool Same(const struct tm &a, const utils_tm &b) {
    return a.tm_sec == b.tm_sec && a.tm_min == b.tm_min && a.tm_hour == b.tm_hour &&
           a.tm_mday == b.tm_mday && a.tm_mon == b.tm_mon && a.tm_year == b.tm_year &&
           a.tm_wday == b.tm_wday && a.tm_yday == b.tm_yday && a.tm_isdst == b.tm_isdst &&
           a.tm_gmtoff == b.tm_gmtoff && std::strcmp(a.tm_zone ? a.tm_zone : "", b.tm_zone) == 0;
  }

  static const char *Zone(const struct tm &tm) { return tm.tm_zone ? tm.tm_zone : "(null)"; }
  static const char *Zone(const utils_tm &tm) { return tm.tm_zone; }

  template <typename Tm>
  static std::string Describe(const Tm &tm) {
    char text[128];
    std::snprintf(text, sizeof text,
                  "%d-%02d-%02d %02d:%02d:%02d wday=%d yday=%d dst=%d off=%ld %s",
                  tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  tm.tm_wday, tm.tm_yday, tm.tm_isdst, static_cast<long>(tm.tm_gmtoff), Zone(tm));
    return text;
  }

  std::string zone_;
  int checked_ = 0;
  int mismatches_ = 0;
  std::string report_;
};

bool ReadFile(const fs::path &path, std::vector<uint8_t> *data) {
  std::ifstream in(path, std::ios::binary);
  data->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return in.good() || in.eof();
}

class TimeOracle : public ::testing::Test {
 protected:
  void SetUp() override {
    struct stat st;
    if (stat(kZoneinfo, &st) != 0) GTEST_SKIP() << kZoneinfo << " is not installed";
    // The rule strings' "posixrules" must be the same file for both sides.
    unsetenv("ALERTMILL_ROOT");
  }
};

TEST_F(TimeOracle, EveryZoneFileAgreesWithTheCLibrary) {
  int files = 0;
  int mismatches = 0;
  std::string report;
  std::error_code error;
  for (const auto &entry : fs::recursive_directory_iterator(kZoneinfo, error)) {
    if (!entry.is_regular_file() || entry.is_symlink()) continue;
    std::vector<uint8_t> data;
    if (!ReadFile(entry.path(), &data) || data.size() < 4 || std::memcmp(data.data(), "TZif", 4))
      continue;
    tz::Zone zone;
    ASSERT_TRUE(tz::ParseTzif(data.data(), data.size(), &zone)) << entry.path();
    if (!kLibcIsReference && !zone.leaps.empty()) continue;
    ++files;
    const int64_t from = !kLibcIsReference && zone.transitions.size() == 1
                             ? std::max(kFirst, zone.transitions[0])
                             : std::numeric_limits<int64_t>::min();

    Oracle oracle(entry.path().string());
    for (int64_t t : zone.transitions) {
      for (int64_t d = -1; d <= 1; ++d) {
        if (t + d >= from) oracle.Check(t + d);
      }
    }
    for (const tz::LeapSecond &leap : zone.leaps) {
      for (int64_t d = -1; d <= 1; ++d) oracle.Check(leap.occurrence + d);
    }
    oracle.Sweep(std::max(kFirst, from));
    // The footer rule takes over after the table: find its changes.
    if (zone.has_rule) {
      const int64_t from = zone.transitions.empty() ? kFirst : zone.transitions.back();
      if (from < kLast) oracle.ScanChanges(from, kLast);
    }
    mismatches += oracle.mismatches();
    report += oracle.report();
  }
  EXPECT_GT(files, 0);
  EXPECT_EQ(mismatches, 0) << report;
}

TEST_F(TimeOracle, RuleStringsAgreeWithTheCLibrary) {
  const struct {
    const char *text;
    bool glibc_only;
  } rules[] = {
      {"EST5EDT", true},
      {"CET-1CEST,M3.5.0,M10.5.0/3", false},
      {"<+0330>-3:30", false},
      {"NZST-12NZDT,M9.5.0,M4.1.0/3", false},
      {"IST-2IDT,M3.4.4/26,M10.5.0", false},
      {"<-03>3<-02>,M3.5.0/-2,M10.5.0/-1", false},
      {"EST5EDT,0/0,J365/25", true},
      {"AAA3BBB2,J60/1:30:15,300/23", false},
      {"<-0130>+1:30<+00>-0,M1.1.6,M12.5.5/167", true},
      {"WART4WARST,J1/0,J365/25", true},
  };
  for (const auto &rule : rules) {
    if (rule.glibc_only && !kLibcIsReference) continue;
    Oracle oracle(rule.text);
    oracle.Sweep(kRulesFirst);
    oracle.ScanChanges(kRulesFirst, kLast);
    EXPECT_EQ(oracle.mismatches(), 0) << oracle.report();
  }
}

// Daylight time named without dates takes the dates of posixrules' footer
// rule. (The C library replays posixrules' table instead, shifting its
// changes to 03:00 local time for zones not at posixrules' offsets.)
TEST_F(TimeOracle, DaylightWithoutDatesTakesPosixrulesDates) {
  std::vector<uint8_t> data;
  if (!ReadFile(std::string(kZoneinfo) + "/posixrules", &data)) GTEST_SKIP() << "no posixrules";
  const std::string text(data.begin(), data.end());
  const size_t footer = text.rfind('\n', text.size() - 2);
  const size_t dates = text.find(',', footer);
  if (footer == std::string::npos || dates == std::string::npos)
    GTEST_SKIP() << "posixrules has no footer rule";
  const std::string rules = text.substr(dates, text.size() - 1 - dates);
  for (const std::string zone : {"AAA3BBB", "XXX-5YYY-7", "<+01>-1<+0230>-2:30"}) {
    Oracle oracle(zone, zone + rules);
    oracle.Sweep(kRulesFirst);
    oracle.ScanChanges(kRulesFirst, kLast);
    EXPECT_EQ(oracle.mismatches(), 0) << oracle.report();
  }
}

}  // namespace
