#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "utils/utils.h"

namespace {

// Sets the process time zone for one test and puts the old one back.
class ScopedTz {
 public:
  explicit ScopedTz(const char *tz) {
    const char *old = std::getenv("TZ");
    had_old_ = old != nullptr;
    if (had_old_) old_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ScopedTz() {
    if (had_old_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool had_old_ = false;
  std::string old_;
};

std::string persian(const char *date) {
  char out[32] = "unchanged";
  EXPECT_EQ(utils_date_to_persian(date, out, sizeof out), 0) << date;
  return out;
}

// Julian day number of a Gregorian date, by the C library's own calendar.
int64_t gregorian_jdn(int year, int month, int day) {
  struct tm parts = {};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  return static_cast<int64_t>(timegm(&parts)) / 86400 + 2440588;
}

int64_t year_length(int64_t year) {
  return utils_persian_to_jdn(year + 1, 0, 1) - utils_persian_to_jdn(year, 0, 1);
}

}  // namespace

TEST(Calendar, PersianDates) {
  const struct {
    const char *tz;
    const char *date;
    const char *persian;
  } cases[] = {
      // Nowruz on an appliance running on UTC.
      {"UTC0", "2024-03-20 00:00:00", "1403-01-01"},
      {"UTC0", "2024-03-19 00:00:00", "1402-12-29"},
      // The day rolls 8:01:01 early: 15:58:59 plus that is midnight.
      {"UTC0", "2024-03-19 15:58:58", "1402-12-29"},
      {"UTC0", "2024-03-19 15:58:59", "1403-01-01"},
      {"UTC0", "2024-03-19 15:59:00", "1403-01-01"},
      {"UTC0", "2024-03-19 23:59:59", "1403-01-01"},
      // The text is local time: in a zone ahead of UTC it is an earlier instant.
      {"<+0330>-3:30", "2024-03-19 19:28:58", "1402-12-29"},
      {"<+0330>-3:30", "2024-03-19 19:28:59", "1403-01-01"},
      // The era starts on 622-03-22; the day before is in year -1, not 0.
      {"UTC0", "0622-03-22 00:00:00", "1-01-01"},
      {"UTC0", "0622-03-21 00:00:00", "-1-12-29"},
  };
  for (const auto &c : cases) {
    ScopedTz tz(c.tz);
    EXPECT_EQ(persian(c.date), c.persian) << c.tz << " " << c.date;
  }
}

TEST(Calendar, PersianOutputIsCutAndArgumentsChecked) {
  ScopedTz tz("UTC0");
  char out[5];
  EXPECT_EQ(utils_date_to_persian("2024-03-20 00:00:00", out, sizeof out), 0);
  EXPECT_STREQ(out, "1403");
  EXPECT_EQ(utils_date_to_persian(nullptr, out, sizeof out), -1);
  EXPECT_EQ(utils_date_to_persian("2024-03-20 00:00:00", nullptr, 5), -1);
  EXPECT_EQ(utils_date_to_persian("2024-03-20 00:00:00", out, 0), -1);
  EXPECT_EQ(utils_date_to_persian("yesterday", out, sizeof out), -1);
}

TEST(Calendar, DateToSecondsUsesLocalTimeAndShift) {
  char out[kUtilsSecondsSize];
  {
    ScopedTz tz("UTC0");
    EXPECT_EQ(utils_date_to_seconds("1970-01-01 00:00:00", out), 0);
    EXPECT_STREQ(out, "0");
    EXPECT_EQ(utils_date_to_seconds("2024-03-20 00:00:00", out), 0);
    EXPECT_STREQ(out, "1710892800");
    EXPECT_EQ(utils_date_to_seconds_shifted("1970-01-01 00:00:00", out), 0);
    EXPECT_STREQ(out, "28861");
  }
  {
    ScopedTz tz("<+0330>-3:30");
    EXPECT_EQ(utils_date_to_seconds("1970-01-01 03:30:00", out), 0);
    EXPECT_STREQ(out, "0");
  }
  EXPECT_EQ(utils_date_to_seconds(nullptr, out), -1);
  EXPECT_EQ(utils_date_to_seconds("1970-01-01 00:00:00", nullptr), -1);
  EXPECT_EQ(utils_date_to_seconds("1970-01-01", out), -1);
  EXPECT_STREQ(out, "");
}

TEST(Calendar, DayNumbersMatchGregorianAnchors) {
  EXPECT_EQ(utils_persian_to_jdn(1, 0, 1), gregorian_jdn(622, 3, 22));
  EXPECT_EQ(utils_persian_to_jdn(1403, 0, 1), gregorian_jdn(2024, 3, 20));
  EXPECT_EQ(utils_persian_to_jdn(1402, 11, 29), gregorian_jdn(2024, 3, 19));
  EXPECT_EQ(utils_persian_to_jdn(1403, 6, 1), gregorian_jdn(2024, 9, 22));
}

TEST(Calendar, PackedLayout) {
  const int64_t packed = utils_jdn_to_persian(utils_persian_to_jdn(1402, 11, 29));
  EXPECT_EQ(packed >> 16, 1402);
  EXPECT_EQ((packed >> 8) & 0xff, 11);
  EXPECT_EQ(packed & 0xff, 29);
  EXPECT_EQ(utils_persian_year(packed), 1402);
  EXPECT_EQ(utils_persian_month(packed), 11);
  EXPECT_EQ(utils_persian_day(packed), 29);
}

TEST(Calendar, EveryDayOfYearsOneTo3000RoundTrips) {
  int64_t expected_jdn = utils_persian_to_jdn(1, 0, 1);
  for (int64_t year = 1; year <= 3000; ++year) {
    const int64_t length = year_length(year);
    ASSERT_TRUE(length == 365 || length == 366) << year;
    for (int month = 0; month < 12; ++month) {
      const int days = month < 6 ? 31 : month < 11 ? 30 : static_cast<int>(length) - 336;
      for (int day = 1; day <= days; ++day) {
        const int64_t jdn = utils_persian_to_jdn(year, month, day);
        ASSERT_EQ(jdn, expected_jdn) << year << "-" << month << "-" << day;
        const int64_t packed = utils_jdn_to_persian(jdn);
        ASSERT_EQ(utils_persian_year(packed), year) << jdn;
        ASSERT_EQ(utils_persian_month(packed), month) << jdn;
        ASSERT_EQ(utils_persian_day(packed), day) << jdn;
        ++expected_jdn;
      }
    }
  }
}

TEST(Calendar, CycleOf2820YearsHas683LeapYears) {
  int leap = 0;
  for (int64_t year = 475; year < 475 + 2820; ++year) leap += year_length(year) == 366;
  EXPECT_EQ(leap, 683);
  EXPECT_EQ(utils_persian_to_jdn(475 + 2820, 0, 1) - utils_persian_to_jdn(475, 0, 1), 1029983);
}
