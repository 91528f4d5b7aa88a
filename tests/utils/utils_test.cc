#include "utils/utils.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/support/sandbox_root.h"

namespace {

using namespace std::string_literals;

// Runs fn on a copy of text in a buffer of size bytes followed by a guard,
// and gives back what fn left in it; a write past the buffer fails.
template <typename Fn>
std::string guarded(const std::string &text, size_t size, Fn fn) {
  std::vector<char> buffer(size + 16, 'Z');
  std::memcpy(buffer.data(), text.c_str(), std::min(text.size() + 1, size));
  fn(buffer.data());
  for (size_t i = size; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 'Z') << "past the buffer";
  return std::string(buffer.data(), strnlen(buffer.data(), size));
}

TEST(Strings, ParamValue) {  // {params, key, output size, result and output}
  const char *cases[][4] = {{"&eventid=17&sqlid=7&notifyflag=2", "&notifyflag=", "64", "0 2"},
                            {"&eventid=5&id=9", "id=", "64", "0 5"},  // not anchored
                            {"&x=a=b&a=1&a=2", "&a=", "64", "0 1"},
                            {"&eventid=ABCDEFGH", "&eventid=", "4", "0 ABC"},
                            {"&t=ab\xe6\x97\xa5&", "&t=", "5", "0 ab"},
                            {"&x=&y=2", "&x=", "64", "0 "},
                            {"&a=1", "&b=", "64", "-1 old"},
                            {"&a=1", "&a=", "0", "-1 old"}};
  for (const auto &c : cases) {
    const int size = std::atoi(c[2]);
    int result = 9;
    const std::string out = guarded("old", size > 0 ? size_t(size) : 4, [&](char *buffer) {
      result = utils_get_param_value(c[0], c[1], buffer, size);
    });
    EXPECT_EQ(std::to_string(result) + " " + out, c[3]) << c[0] << " " << c[1] << " " << size;
  }
}

// Whole characters only; an invalid byte counts as one.
TEST(Strings, CutsFallBetweenWholeCharacters) {
  const char *texts[] = {"ab\xe6\x97\xa5",     "ab\xe6\x97\xa5", "a\xf0\x9f\x98\x80z",
                         "a\xf0\x9f\x98\x80z", "a\xe6-c",        "a\xc3\xa9",
                         "a\xe0\x80\x80z",     "a\xed\xa0\x80z", "a\xf4\x90\x80\x80",
                         "\x80\x80\x80",       "ab\xe6\x97",     "abc"};
  const size_t limits[] = {4, 5, 4, 5, 2, 2, 2, 3, 3, 2, 3, 9};
  std::string kept;
  for (size_t i = 0; i < std::size(texts); ++i)
    kept += std::to_string(utils_utf8_cut(texts[i], std::strlen(texts[i]), limits[i]));
  EXPECT_EQ(kept, "251521233223");
  // Where the cut is made: formatted fields and filled templates.
  EXPECT_EQ(guarded("", 6, [](char *b) { utils_format_cut(b, 6, "[%s]", "ab\xe6\x97\xa5"); }),
            "[ab");
  EXPECT_EQ(guarded("", 6, [](char *b) { utils_format_cut(b, 6, "%s", "abc\xe6\x97"); }),
            "abc\xe6\x97");
  EXPECT_EQ(guarded("x${v}", 6, [](char *b) { utils_fill_template(b, "&v=\xc3\xa9\xc3\xa9z", 6); }),
            "x\xc3\xa9\xc3\xa9");
  EXPECT_EQ(guarded("x${v}\xc3\xa9", 8, [](char *b) { utils_fill_template(b, "&v=abcde", 8); }),
            "xabcde");
}

TEST(Strings, TruthCaseCopyAndTrim) {
  EXPECT_EQ(utils_str_is_true("oN") + utils_str_is_true("1") + utils_str_is_true(" yes"), 2);
  char text[] = "aBc\0dEf";
  utils_str_tolower(utils_str_toupper(text, 6), 2);  // exactly n bytes, past the NUL
  EXPECT_EQ(std::string(text, 8), "abC\0DEf\0"s);
  EXPECT_EQ(guarded("", 8, [](char *out) { utils_str_copy(out, "abcdefghij", 8); }), "abcdefg");
  char padded[] = " \tx\t ";
  EXPECT_STREQ(utils_str_trim(padded), "\tx\t");  // spaces only
}

TEST(Strings, ReplaceAndRemove) {
  // {source, search, replacement, output before, output size, after}
  const char *replaced[][6] = {{"a-b--c-", "-", "+=", "x:", "64", "x:a+=b+=+=c+="},
                               {"abcabcabc", "b", "XYZ", "12", "8", "12aXYZc"},
                               {"def", "e", "E", "abc", "4", "abc"}};
  for (const auto &c : replaced) {
    const int size = std::atoi(c[4]);
    const auto replace = [&](char *out) { utils_str_replace(c[0], c[1], c[2], out, size); };
    EXPECT_EQ(guarded(c[3], size_t(size), replace), c[5]);
  }
  char text[64] = "aaa.b.c";  // replacing in place needs room to grow
  EXPECT_STREQ(utils_str_replace_all(utils_str_replace_all(text, "aa", "x"), ".", "::"),
               "xa::b::c");
  char removed[] = "port=3;port=4;speed=9;port=5";
  EXPECT_EQ(utils_str_remove(removed, "port=%d;", 4), 0);
  EXPECT_STREQ(removed, "port=3;speed=9;port=5");
  char params[] = "&eventid=4&port=1&state=up&port=2";
  EXPECT_EQ(utils_param_remove(params, "&%s=", "port") + strcmp(params, "&eventid=4&state=up"), 0);
}

TEST(Strings, UrlEncodeAndDecode) {
  const struct {
    const char *text;
    int reserved, size;
    const char *expected;
  } encoded[] = {{"a b/c", 1, 128, "a%20b%2fc"},
                 {"a\tb", 0, 128, "a%09b"},
                 {";/?:@&=+$,# ", 1, 128, "%3b%2f%3f%3a%40%26%3d%2b%24%2c%23%20"},
                 {"\x1f\x7f\xc3\xa9", 1, 128, "%1f\x7f\xc3\xa9"},
                 {"ab cd", 1, 5, "ab"},  // an escape is written whole or not at all
                 {"ab cd", 1, 6, "ab%20"}};
  for (const auto &c : encoded) {
    const auto encode = [&](char *out) { utils_url_encode(c.text, out, c.size, c.reserved); };
    EXPECT_EQ(guarded("", size_t(c.size), encode), c.expected) << c.text << " " << c.size;
  }
  const std::pair<const char *, const char *> decoded[] = {
      {"a%41%2", "aA%2"}, {"%2f%2F+%zz%", "//+%zz%"}, {"%e9x", "\xe9x"}, {"%41%42%43", "ABC"}};
  for (const auto &[text, expected] : decoded) {
    EXPECT_EQ(guarded(text, 16, [](char *copy) { utils_url_decode(copy); }), expected) << text;
  }
}

TEST(TextScan, FindTokenLineValueAndMatch) {
  EXPECT_EQ(utils_find_token("a,bb,b", ',', "b"), 0);  // whole items only
  EXPECT_EQ(utils_find_token("a;b;c", ';', "c"), 0);
  EXPECT_EQ(utils_find_token("a,bb,c", ',', "b") + utils_find_token("a;b;c", ',', "b"), -2);
  const char *text = "name alpha\nport 9001\r\nlast";
  char out[32];
  EXPECT_EQ(utils_get_line_value(text, "port ", out, sizeof out), 0);
  EXPECT_STREQ(out, "9001\r");  // only the line feed ends a line
  EXPECT_EQ(utils_get_line_value(text, "name ", out, 4), 0);
  EXPECT_STREQ(out, "alp");
  EXPECT_EQ(utils_get_line_value(text, "missing", out, sizeof out), -1);
  EXPECT_EQ(utils_str_match("link eth0 down", "eth[0-9]+ (up|down)"), 1);
  EXPECT_EQ(utils_str_match("a(b", "a(b") + utils_str_match("eth0 down", "^down"), 1);
}

// Every token of text as "item=value/result", until -1 (at most 16).
std::string tokens(const std::string &text, utils_token_state state) {
  std::string taken;
  char item[kUtilsTokenSize];
  char value[kUtilsTokenSize];
  for (int i = 0; i < 16; ++i) {
    const int result = utils_next_token(text.c_str(), &state, item, value);
    if (result < 0) break;
    taken += std::string(item) + (state.split ? "=" + std::string(value) : "") + "/" +
             std::to_string(result) + " ";
    if (result == 1) break;  // the last item
  }
  return taken;
}

TEST(TextScan, NextToken) {
  const struct {
    std::string text;
    char separator;
    int16_t split;
    std::string expected;
  } cases[] = {{"a,b", ',', 0, "a/0 b/1 "},
               {"one,,three", ',', 0, "one/0 /0 three/1 "},
               {"a,", ',', 0, "a/1 "},
               {"a=1&bb=22&c=", '&', 1, "a=1/0 bb=22/0 c=/1 "},
               {"a=1&flag", '&', 1, "a=1/0 flag=/1 "},  // the last may lack the '='
               {"a=1&bare&c=3", '&', 1, "a=1/0 bare=/1 "},
               {std::string(700, 'k') + "=" + std::string(600, 'v') + ",x", ',', 1,
                std::string(511, 'k') + "=" + std::string(511, 'v') + "/0 x=/1 "},
               {std::string(40000, 'a'), ',', 0, ""}};
  for (const auto &c : cases) {
    EXPECT_EQ(tokens(c.text, {c.separator, '=', c.split, 0}), c.expected) << c.text.substr(0, 20);
  }
}

TEST(Template, FillsPlaceholders) {
  const std::string v200(200, 'v');
  const std::string n60(60, 'n'), n61(61, 'n');
  const struct {
    std::string text, params, expected;
  } cases[] = {
      {"Port ${port} is ${state}", "&eventid=9&port=3&state=down", "Port 3 is down"},
      {"${a}${a}${b}${a}", "&a=xyz&b=", "xyzxyz${b}xyz"},  // empty values leave it
      {"${x}/${y}", "&x=&y=2", "${x}/2"},
      {"${nope} ${} ${y}", "&=5&y=2", "${nope} ${} 2"},
      {"${id}", "&eventid=5&id=3", "5"},  // a plain substring search
      {"${a} ${x ${a}", "&a=1&x=2", "1 ${x 1"},
      {"[${long}]${short}", "&long=" + v200 + "&short=s", "[" + v200.substr(0, 127) + "]s"},
      {"${" + n60 + "}${" + n61 + "}", "&" + n60 + "=ok&" + n61 + "=no", "ok${" + n61 + "}"},
      {"<${x}>", "&x=${x}", "<${x}>"},  // the scan resumes after a value
      {"$${x}}${x}", "&x={x}${x", "${x}${x}{x}${x"}};
  for (const auto &c : cases) {
    int result = -9;
    const auto fill = [&](char *field) {
      result = utils_fill_template(field, c.params.data(), 512);
    };
    const std::string out = guarded(c.text, 512, fill);
    EXPECT_EQ(out + std::to_string(result), c.expected + "0") << c.text;
  }
}

TEST(Template, ResultsAreCutAtTheField) {
  std::string many;
  for (int i = 0; i < 60; ++i) many += "${x}";
  EXPECT_EQ(guarded(many, 256,
                    [&](char *field) {
                      utils_fill_template(field, ("&x=" + std::string(127, 'v')).c_str(), 256);
                    }),
            std::string(254, 'v') + "$");
  EXPECT_EQ(guarded(std::string(251, 'a') + "${y}", 256,
                    [&](char *field) { utils_fill_template(field, "&y=1", 256); }),
            std::string(251, 'a') + "1");
}

// RFC 4648 vectors and every byte value; the shifted form raises each
// character by two.
TEST(Base64, PlainAndShifted) {
  const char *vectors[] = {"",        "",         "f",      "Zg==",     "fo",
                           "Zm8=",    "foo",      "Zm9v",   "foob",     "Zm9vYg==",
                           "fooba",   "Zm9vYmE=", "foobar", "Zm9vYmFy", "\x01\xff\xfe\xfb\xef\xbe",
                           "Af/+++++"};
  for (size_t i = 0; i < std::size(vectors); i += 2) {
    const std::string plain = vectors[i], coded = vectors[i + 1];
    const auto *in = reinterpret_cast<const unsigned char *>(plain.data());
    char out[16];
    EXPECT_EQ(utils_base64_encode(out, in, int(plain.size())), 0);
    EXPECT_STREQ(out, coded.c_str());
    std::string raised = coded;
    for (char &c : raised) c = static_cast<char>(c + 2);
    int capacity = 16;
    EXPECT_GT(utils_base64_encode_shifted(in, int(plain.size()), out, &capacity), 0);
    EXPECT_EQ(std::string(out, size_t(capacity)), raised);
    unsigned char back[16];
    EXPECT_EQ(utils_base64_decode_shifted(out, capacity, back, &capacity), int(plain.size()));
    EXPECT_EQ(std::string(back, back + plain.size()), plain);
  }
}

// The capacity a shifted text wants (1 and 2 bytes for tails of 2 and 3
// characters), or -1 for a character outside the alphabet.
TEST(Base64, ShiftedDecodeChecksLengthAndAlphabet) {
  const std::pair<std::string, int> cases[] = {
      {"\\i", 1},    {"\\o;", 2},   {"\\o;xC", 3},   {"????", 0},       {"Zm9 ", -1},
      {"\\o;,", -1}, {"\\o?v", -1}, {"\\o\0x"s, -1}, {"\\o;\x01"s, -1}, {"\\o;\xff"s, -1}};
  for (const auto &[coded, wanted] : cases) {
    int capacity = -7;
    const int result =
        utils_base64_decode_shifted(coded.data(), int(coded.size()), nullptr, &capacity);
    EXPECT_EQ(result < 0 ? result : capacity, wanted) << coded;
  }
  unsigned char out[8];
  int capacity = 5;  // too small: refused
  EXPECT_EQ(utils_base64_decode_shifted("\\o;x[oH{", 8, out, &capacity), -1);
}

namespace fs = std::filesystem;

const fs::path kZoneinfo = "/usr/share/zoneinfo";

int64_t Utc(int year, int month, int day, int hour, int minute = 0, int second = 0) {
  struct tm tm {};
  tm.tm_year = year - 1900, tm.tm_mon = month - 1, tm.tm_mday = day;
  tm.tm_hour = hour, tm.tm_min = minute, tm.tm_sec = second;
  return timegm(&tm);
}
const int64_t kSummer = Utc(2024, 7, 1, 12);

utils_tm Convert(int64_t seconds, const std::string &zone, int64_t micros = 0) {
  struct timeval tv {
    static_cast<time_t>(seconds), static_cast<suseconds_t>(micros)
  };
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
std::string Tzif(const std::vector<Type> &types, const std::vector<int64_t> &transitions,
                 const std::string &footer = "",
                 const std::vector<std::pair<int64_t, int32_t>> &leaps = {}, bool v1 = false) {
  std::string chars, out;
  for (const auto &type : types) chars += type.abbr + '\0';
  const auto Put32 = [](std::string *to, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) to->push_back(static_cast<char>(v >> shift));
  };
  for (int width : {4, 8}) {
    out += std::string("TZif") + (v1 ? '\0' : '2') + std::string(15, '\0');
    for (size_t count :
         {size_t{0}, size_t{0}, leaps.size(), transitions.size(), types.size(), chars.size()}) {
      Put32(&out, static_cast<uint32_t>(count));
    }
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
    if (v1) return out;  // the 32-bit block only
  }
  return out + "\n" + footer + "\n";
}

class TimeTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(root_.path("usr/share/zoneinfo/Asia")); }
  // A copy of a system zone file put in place by rename, as package managers
  // do, or rewritten in place.
  void SetLocalZone(const std::string &name, const char *through = "etc/new") {
    fs::copy_file(kZoneinfo / name, root_.path(through), fs::copy_options::overwrite_existing);
    fs::rename(root_.path(through), root_.path("etc/localtime"));
  }
  SandboxRoot root_;
};

TEST_F(TimeTest, LocalZoneIsReadAgainWheneverItChanges) {
  EXPECT_EQ(Format(kSummer, "%Y-%m-%d %H:%M:%S %z %Z"), "2024-07-01 12:00:00 +0000 GMT");
  ASSERT_EQ(mkfifo(root_.path("etc/localtime").c_str(), 0600), 0);  // must not hang
  EXPECT_EQ(Format(kSummer, "%H %Z"), "12 GMT");
  if (!fs::exists(kZoneinfo)) GTEST_SKIP() << "tzdata is not installed";
  SetLocalZone("Asia/Tokyo");
  EXPECT_EQ(Format(kSummer, "%H %Z"), "21 JST");
  SetLocalZone("America/New_York");
  EXPECT_EQ(Format(kSummer, "%H %Z"), "08 EDT");
  SetLocalZone("Europe/Lisbon", "etc/localtime");
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
  const std::string first = Tzif({{3600, false, "A"}}, {}), second = Tzif({{7200, false, "B"}}, {});
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
  char buffer[64];
  EXPECT_EQ(utils_strftime(buffer, sizeof buffer, "%S.%q %1q %5q %6q %%q", &tm), 24);
  EXPECT_STREQ(buffer, "01.234 2 23456 234567 %q");
  tm.tm_usec = 42;
  EXPECT_EQ(utils_strftime(buffer, 8, "%6q%6q", &tm), 0);  // does not fit
  struct timeval tv {};                                    // the epoch itself is refused
  EXPECT_EQ(utils_localtime_zone(&tv, &tm, "UTC0"), -1);
}

// Zones named as files (under the zoneinfo directory, or absolute) or rule
// strings; what cannot be read is GMT.
TEST_F(TimeTest, ZoneNamesAndRuleStrings) {
  if (!fs::exists(kZoneinfo)) GTEST_SKIP() << "tzdata is not installed";
  fs::create_symlink(kZoneinfo / "Asia/Tokyo", root_.path("usr/share/zoneinfo/Asia/Tokyo"));
  const std::string lisbon = kZoneinfo.string() + "/Europe/Lisbon";
  // Daylight time without dates takes posixrules' dates. Julian day 60 is 1
  // March even in leap years; zero-based day 59 is 29 February in 2000.
  root_.write("usr/share/zoneinfo/posixrules",
              Tzif({{0, false, "UTC"}}, {}, "WET0WEST,M3.5.0/1,M10.5.0"));
  // {zone, a change (or the summer), local time the second before, at it}
  const std::tuple<std::string, int64_t, const char *, const char *> cases[] = {
      {"Asia/Tokyo", kSummer, "20:59:59 JST", "21:00:00 JST"},
      {":Asia/Tokyo", kSummer, "20:59:59 JST", "21:00:00 JST"},
      {lisbon, kSummer, "12:59:59 WEST", "13:00:00 WEST"},
      {"CET-1CEST,M3.5.0,M10.5.0/3", kSummer, "13:59:59 CEST", "14:00:00 CEST"},
      {"<+0330>-3:30", kSummer, "15:29:59 +0330", "15:30:00 +0330"},
      {"<UTC+5>-5", kSummer, "16:59:59 UTC+5", "17:00:00 UTC+5"},
      {"ABC+5:30:15", kSummer, "06:29:44 ABC", "06:29:45 ABC"},
      {"EST5EDT,M3.2.0/-167,M11.1.0/167", kSummer, "07:59:59 EDT", "08:00:00 EDT"},
      {":CET-1CEST,M3.5.0,M10.5.0/3", kSummer, "11:59:59 GMT", "12:00:00 GMT"},
      {"Asia/../Asia/Tokyo", kSummer, "11:59:59 GMT", "12:00:00 GMT"},
      {lisbon.substr(0, 19) + "/Europe/.." + lisbon.substr(19), kSummer, "11:59:59 GMT",
       "12:00:00 GMT"},
      {"AAA3BBB", Utc(2024, 3, 31, 4), "00:59:59 AAA", "02:00:00 BBB"},
      {"AAA3BBB,M4.1.0,M10.5.0", Utc(2024, 4, 7, 5), "01:59:59 AAA", "03:00:00 BBB"},
      {"AAA3BBB,M4.1.0,M10.5.0", Utc(2024, 10, 27, 4), "01:59:59 BBB", "01:00:00 AAA"},
      {"AAA0BBB,J60,J300", Utc(2024, 3, 1, 2), "01:59:59 AAA", "03:00:00 BBB"},
      {"AAA0BBB,59/0,300", Utc(2000, 2, 29, 0), "23:59:59 AAA", "01:00:00 BBB"},
      {"AAA0BBB,59/0,300", Utc(2100, 3, 1, 0), "23:59:59 AAA", "01:00:00 BBB"}};
  for (const auto &[zone, when, before, after] : cases) {
    EXPECT_EQ(Text(Convert(when - 1, zone)) + " " + Text(Convert(when, zone)),
              std::string(before) + " " + after)
        << zone;
  }
  fs::remove(root_.path("usr/share/zoneinfo/posixrules"));
  EXPECT_EQ(Text(Convert(Utc(2024, 4, 7, 5), "AAA3BBB")), "03:00:00 BBB");
  std::istringstream malformed(
      "AB5 <AB>5 <A_B>5 EST EST25 EST5:60 EST5:30:60 EST5EDT,M13.1.0,M10.5.0 "
      "EST5EDT,M3.6.0,M10.5.0 EST5EDT,M3.1.7,M10.5.0 EST5EDT,J0,J365 EST5EDT,366,0 "
      "EST5EDT,M3.2.0/168,M11.1.0 EST5EDT,M3.2.0,M11.1.0x EST5EDT,M3.2.0 EST5EDT, <EST5 "
      "EST5EDT4,M3.2.0,M11.1.0/ CET-1CEST,M3.5.0 Europe/Nowhere");
  for (std::string rule; malformed >> rule;) {
    EXPECT_EQ(Text(Convert(kSummer, rule)), "12:00:00 GMT") << rule;
  }
}

// Zone files as read, then damaged ones, which are GMT.
TEST_F(TimeTest, ZoneFiles) {
  const int64_t leap = Utc(2020, 1, 1, 0);
  const std::vector<Type> two = {{0, false, "AAA"}, {3600, false, "BBB"}}, utc = {two[0]};
  const Type est{-18000, false, "EST"}, edt{-14400, true, "EDT"};
  const std::string footer = "EST5EDT,M3.2.0,M11.1.0";
  const std::string good = Tzif({est, edt}, {Utc(2024, 3, 10, 7)}, footer);
  const size_t v2 = good.find("TZif", 1);  // the 64-bit block
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

// Against the C library's localtime_r on a sample of zones and rules: a
// second a month, and the seconds around each change, found by bisection.
TEST(TimeOracle, SampleOfZonesAgreesWithTheCLibrary) {
#ifndef __GLIBC__
  GTEST_SKIP() << "musl's localtime is no reference";
#endif
  if (!fs::exists(kZoneinfo)) GTEST_SKIP() << "tzdata is not installed";
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
  const auto check = [&](int64_t t) {  // the first mismatch is enough
    if (t == 0 || ::testing::Test::HasFailure()) return;
    const utils_tm ours = Convert(t, zone);
    EXPECT_EQ(Text(ours, "%Y-%m-%d %H:%M:%S %a %j %z %Z") + (ours.tm_isdst ? " dst" : ""),
              libc(t, true))
        << zone << " t=" << t;
  };
  std::istringstream names(
      "America/New_York Europe/Lisbon Europe/Dublin Australia/Lord_Howe Asia/Kolkata "
      "Pacific/Apia Africa/Casablanca America/Sao_Paulo Antarctica/Troll Asia/Tehran right/UTC "
      "right/Europe/Paris EST5EDT CET-1CEST,M3.5.0,M10.5.0/3 NZST-12NZDT,M9.5.0,M4.1.0/3 "
      "IST-2IDT,M3.4.4/26,M10.5.0 <-03>3<-02>,M3.5.0/-2,M10.5.0/-1 EST5EDT,0/0,J365/25 "
      "AAA3BBB2,J60/1:30:15,300/23 <-0130>+1:30<+00>-0,M1.1.6,M12.5.5/167");
  for (std::string name; names >> name;) {
    const bool rule = !fs::exists(kZoneinfo / name);
    zone = rule ? name : (kZoneinfo / name).string();
    setenv("TZ", zone.c_str(), 1);
    tzset();
    // The C library takes a rule's dates before 1970 as those of 1970.
    const int64_t from = rule ? 1 : Utc(1901, 1, 1, 0), step = 5 * 86400;
    std::string before = libc(from, false);
    for (int64_t t = from; t < Utc(2101, 1, 1, 0); t += step) {
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

// Every day of the years 1 to 3000 reads back and lies in its month.
TEST(Calendar, DayNumbersRoundTrip) {
  EXPECT_EQ(utils_persian_to_jdn(1403, 0, 1), Utc(2024, 3, 20, 0) / 86400 + 2440588);
  for (int64_t jdn = utils_persian_to_jdn(1, 0, 1); jdn < utils_persian_to_jdn(3001, 0, 1); ++jdn) {
    const int64_t packed = utils_jdn_to_persian(jdn), year = utils_persian_year(packed);
    const int month = utils_persian_month(packed), day = utils_persian_day(packed);
    ASSERT_EQ(packed, year << 16 | month << 8 | day);
    ASSERT_EQ(utils_persian_to_jdn(year, month, day), jdn) << year << "-" << month << "-" << day;
    const int64_t leap =
        utils_persian_to_jdn(year + 1, 0, 1) - utils_persian_to_jdn(year, 0, 1) - 365;
    ASSERT_TRUE(day >= 1 && day <= (month < 6 ? 31 : month < 11 ? 30 : 29 + leap)) << jdn;
  }
}

std::string run(const std::string &command, size_t size) {
  std::vector<char> output(size + 16, 'Z');
  EXPECT_EQ(utils_run_command(output.data(), int(size), "%s", command.c_str()), 0);
  for (size_t i = size; i < output.size(); ++i) EXPECT_EQ(output[i], 'Z') << "past the buffer";
  return std::string(output.data(), strnlen(output.data(), size));
}

std::string drain(int fd) {
  std::string text;
  char chunk[4096];
  for (ssize_t n; fd >= 0 && (n = read(fd, chunk, sizeof chunk)) > 0;)
    text.append(chunk, size_t(n));
  if (fd >= 0) close(fd);
  return text;
}

// Runs body in a forked child; wait() gives its exit status and what it
// wrote to standard output and error.
class Child {
 public:
  explicit Child(const std::function<int()> &body) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
    if ((pid_ = fork()) == 0) {
      dup2(out[1], STDOUT_FILENO);
      dup2(err[1], STDERR_FILENO);
      const int status = body();
      std::fflush(nullptr);
      _exit(status);
    }
    close(out[1]), close(err[1]);
    out_ = out[0], err_ = err[0];
  }
  pid_t pid() const { return pid_; }
  std::string wait() {
    const std::string text = drain(out_) + "|" + drain(err_);
    int status = 0;
    waitpid(pid_, &status, 0);
    return std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + "|" + text;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
};

TEST(Command, OutputStatusAndCuts) {
  const std::string letters =
      "awk 'BEGIN { for (i = 0; i < 2000; i++) printf \"%c\", 65 + i % 26 }'";
  const std::string full = run(letters, 4096);
  ASSERT_EQ(full.size(), 2000u);
  const struct {
    std::string command;
    size_t size;
    std::string output;
  } cases[] = {{"echo out; echo err >&2", 64, "out\n"},
               {"printf 'a\\r\\nb'", 64, "a\r\nb"},
               {"echo partial; exit 7", 64, "partial\n"},
               {letters, 512, full.substr(0, 511)},
               {letters, 1, ""},
               {"echo " + std::string(20000, 'x'), 32768, std::string(16378, 'x') + "\n"}};
  for (const auto &c : cases)
    EXPECT_EQ(run(c.command, c.size), c.output) << c.command.substr(0, 40);
  EXPECT_EQ(utils_system("exit 258") + utils_system("no-such-command-am 2>/dev/null"), 129);
  EXPECT_EQ(utils_system("kill -9 $$"), -1);
  ChildCapture capture{true, 4, true};
  ChildResult child = utils_run_child("echo output; echo 1 >&2; echo 2 >&2; exit 3", capture);
  EXPECT_EQ(std::to_string(child.status) + child.output + "|" + child.error_line, "3outp|1");
  // A child reaped by the kernel (SIGCHLD ignored): its status is unknown,
  // which is not a failure.
  signal(SIGCHLD, SIG_IGN);
  child = utils_run_child("echo ran", capture);
  signal(SIGCHLD, SIG_DFL);
  EXPECT_TRUE(child.started && child.unreaped && child.status == -1 && child.output == "ran\n");
}

// Only its output pipe, as its standard output, reaches a command.
TEST(Command, CommandsInheritNoOtherPipeEnd) {
  const std::string listing = run("ls -l /proc/$$/fd/", 8192);
  std::smatch match;
  ASSERT_TRUE(std::regex_search(listing, match, std::regex(" 1 -> (pipe:\\[\\d+\\])"))) << listing;
  size_t seen = 0;
  for (size_t at = 0; (at = listing.find(match.str(1), at)) != std::string::npos; ++at) ++seen;
  EXPECT_EQ(seen, 1u) << listing;
}

TEST(Command, AtTheTimeLimitTheWholeGroupIsKilled) {
  SandboxRoot root;
  setenv("ALERTMILL_CHILD_TIME_LIMIT", "600", 1);
  EXPECT_EQ(utils_child_time_limit(), 60);
  setenv("ALERTMILL_CHILD_TIME_LIMIT", "1", 1);
  const ChildCapture capture{true, 64, false};
  const ChildResult run = utils_run_child(
      ("sleep 300 >/dev/null 2>&1 & echo $! > '" + root.path("pid") + "'; echo started; wait")
          .c_str(),
      capture);
  unsetenv("ALERTMILL_CHILD_TIME_LIMIT");
  EXPECT_TRUE(run.timed_out && run.status == -1 && run.output == "started\n") << run.output;
  // The shell's own child goes too (gone, or a zombie left to init).
  const std::string stat = "/proc/" + utils_first_line(root.read("pid")) + "/stat";
  EXPECT_TRUE(sandbox_wait_until(
      [&] {
        const std::string state = drain(open(stat.c_str(), O_RDONLY | O_CLOEXEC));
        return state.empty() || state.find(") Z") != std::string::npos;
      },
      std::chrono::seconds(30)));
}

TEST(Command, ProcessesAreCountedInTheListing) {
  SandboxRoot root;  // the stand-in ps first on PATH
  const char *name = "alertmill-probe-sleeper";
  const auto status = [&] { return Child([&] { return utils_print_runstatus(name), 0; }).wait(); };
  EXPECT_EQ(utils_process_running(name) + utils_process_listed(name), 0);
  EXPECT_EQ(status(), "0|<runstatus>\n\t<result>0</result>\n</runstatus>\n|");
  const pid_t sleeper = fork();
  if (sleeper == 0) execl("/bin/sleep", name, "30", static_cast<char *>(nullptr)), _exit(1);
  ASSERT_TRUE(sandbox_wait_until([&] { return utils_process_listed(name) == 1; }));
  EXPECT_EQ(utils_process_running(name), 1);
  EXPECT_EQ(status(), "0|<runstatus>\n\t<result>1</result>\n</runstatus>\n|");
  kill(sleeper, SIGKILL);
  waitpid(sleeper, nullptr, 0);
}

void put(std::string *out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

// A GSM 6.10 WAV header, with a fact chunk or not, one field changed.
std::string wav(bool fact, int field = -1, uint32_t value = 0) {
  const uint32_t fields[] = {0x46464952, 1000, 0x45564157, 0x20746d66, 20, 49, 1,
                             8000,       1625, 65,         0,          2,  320};
  const int widths[] = {4, 4, 4, 4, 4, 2, 2, 4, 4, 2, 2, 2, 2};
  std::string out;
  for (int i = 0; i < 13; ++i) put(&out, i == field ? value : fields[i], widths[i]);
  if (fact) out += std::string("fact\4\0\0\0\x80\x3e\0\0", 12);
  return out + (field == 13 ? "LIST" : "data") + std::string("\x8a\2\0\0", 4);
}

TEST(Misc, GsmWavHeadersAndNumericEntries) {
  SandboxRoot root(false);
  const auto is_gsm = [&](const std::string &bytes) {
    root.write("x.wav", bytes);
    return utils_wav_is_gsm(root.path("x.wav").c_str());
  };
  EXPECT_EQ(is_gsm(wav(false)) + is_gsm(wav(true)), 2);
  const std::pair<int, uint32_t> variants[] = {
      {0, 0x58464952}, {2, 0x20495641}, {4, 16}, {5, 1}, {5, 49 << 8}, {6, 2}, {7, 16000}, {13, 0}};
  for (const auto &[field, value] : variants)
    EXPECT_EQ(is_gsm(wav(false, field, value)), 0) << field;
  for (size_t length = 0; length < wav(true).size(); ++length) {
    ASSERT_EQ(is_gsm(wav(true).substr(0, length)), 0) << length;
  }
  ASSERT_EQ(mkfifo(root.path("fifo").c_str(), 0600), 0);
  EXPECT_EQ(utils_wav_is_gsm(root.path("fifo").c_str()), 0);  // must not block
  for (const char *name : {"1abc", "22", "x1", ".5"}) root.write(name, "");
  EXPECT_EQ(utils_count_numeric_entries(root.dir().c_str()), 2);
}

TEST(Misc, PidFileLockKeepsASecondDaemonOut) {
  SandboxRoot root;
  const std::string pidfile = root.path("daemon.pid");
  root.write("daemon.pid", "123456789 stale contents\n");
  int go[2];
  ASSERT_EQ(pipe2(go, O_CLOEXEC), 0);
  Child holder([&] {
    close(go[1]);
    char byte;
    return utils_pidfile_lock(pidfile.c_str()) == getpid() ? int(read(go[0], &byte, 1)) : 2;
  });
  close(go[0]);
  const std::string pid = std::to_string(holder.pid()) + "\n";
  EXPECT_TRUE(sandbox_wait_until([&] { return root.read("daemon.pid") == pid; }));
  EXPECT_EQ(Child([&] { return utils_pidfile_lock(pidfile.c_str()) > 0 ? 0 : 5; }).wait(),
            "1||Could not lock pid_file " + pidfile + ", exiting\n");
  close(go[1]);
  EXPECT_EQ(holder.wait(), "0||");
  EXPECT_EQ(Child([&] { return utils_pidfile_lock(pidfile.c_str()) == getpid() ? 0 : 6; }).wait(),
            "0||");
}

TEST(Log, ConsoleLinesByLevelAndTimestamps) {
  const std::pair<int, const char *> cases[] = {
      {kLogMaskDebug, "0|\033[1;32;40mutils(f) 4 [DEBUG] : \033[0mv=7\n|"},
      {kLogMaskWarning, "0||\033[1;31;40mutils(f) 4 [WARNING] : \033[0mv=7\n"},
      {kLogMaskError, "0||\033[1;31;40mutils(f) 4 [ERROR] : \033[0mv=7\n"},
      {3, "0||\033[1;31;40mutils(f) 4 [UNKNOWN] : \033[0mv=7\n"}};
  for (const auto &c : cases) {
    EXPECT_EQ(
        Child([&] { return utils_log_write("src/utils", 4, "f", c.first, "v=%d", 7), 0; }).wait(),
        c.second);
  }
  for (;;) {
    const time_t now = time(nullptr);
    const std::string compact = utils_log_timestamp(1),
                      stamps = compact + " " + utils_log_timestamp(0);
    if (time(nullptr) != now) continue;
    struct tm local = {};
    char expected[64];
    strftime(expected, sizeof expected, "%Y%m%d_%H%M%S %Y-%m-%d %H:%M:%S",
             localtime_r(&now, &local));
    EXPECT_EQ(stamps, expected);
    break;
  }
}

TEST(Log, LinesGoToTheFileWithWholeSourceName) {
  SandboxRoot root;
  const std::string log = root.path("alertmill.log");
  EXPECT_EQ(utils_log_set_file(root.path("no/x.log").c_str()), -1);
  ASSERT_EQ(utils_log_set_file(log.c_str()), 0);
  // Commands do not inherit the file. The shell looks at its own descriptors
  // with builtins: an ls would meet the shell's pipe ends closing as it goes.
  const std::string look =
      "for fd in /proc/$$/fd/*; do [ $fd -ef " + log + " ] && exit 1; done; exit 0";
  EXPECT_EQ(Child([&] {
              utils_log_write("src/utils", 42, "f", kLogMaskDebug, "n=%d", 1);
              return utils_system(look.c_str());
            }).wait(),
            "0||");
  const std::string line = root.read("alertmill.log");
  EXPECT_EQ(line.substr(19), " [DEBUG]: src/utils(f) 42 [DEBUG] : n=1\n") << line;
}

// 30 s doubling to at most an hour; the sandbox divisor only ever shortens.
TEST(Retry, ScheduleAndLimits) {
  using std::chrono::milliseconds;
  const std::pair<int, long> delays[] = {{1, 30000},   {2, 60000},   {3, 120000},
                                         {7, 1920000}, {8, 3600000}, {40, 3600000}};
  for (const auto &[tries, millis] : delays) {
    EXPECT_EQ(utils_retry_delay(tries), milliseconds(millis)) << tries;
  }
  setenv("ALERTMILL_RETRY_DIVISOR", "1000", 1);
  EXPECT_EQ(utils_retry_delay(2), milliseconds(60000)) << "outside a sandbox";
  {
    SandboxRoot root;
    EXPECT_EQ(utils_retry_delay(2), milliseconds(60));
    setenv("ALERTMILL_RETRY_DIVISOR", "0", 1);
    EXPECT_EQ(utils_retry_delay(2), milliseconds(60000));
  }
  unsetenv("ALERTMILL_RETRY_DIVISOR");
  const int64_t now = utils_retry_born(nullptr), week = 7 * 24 * 3600;
  EXPECT_FALSE(utils_retry_exhausted(23, now - week + 60));
  EXPECT_TRUE(utils_retry_exhausted(24, now));
  EXPECT_TRUE(utils_retry_exhausted(1, now - week));
  char seconds[kUtilsSecondsSize];
  ASSERT_EQ(utils_date_to_seconds("2024-03-20 00:00:00", seconds), 0);
  EXPECT_EQ(utils_retry_born("2024-03-20 00:00:00"), std::atoll(seconds));
  EXPECT_GE(utils_retry_born("yesterday"), now);
  RetrySchedule<std::string> schedule;  // due in the order of their delays
  schedule.add({"late", 3, now});
  schedule.add({"early", 1, now - 5});
  EXPECT_FALSE(schedule.due());
  EXPECT_EQ(schedule.take_oldest().item, "early");
  EXPECT_EQ(schedule.take_due().item, "late");
  EXPECT_FALSE(schedule.next_due());
}

}  // namespace
