#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "utils/utils.h"

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

TEST(Strings, ParamValue) {
  const struct {
    const char *params, *key;
    int size;
    int result;
    const char *value;
  } cases[] = {{"&eventid=17&sqlid=7&notifyflag=2", "&sqlid=", 64, 0, "7"},
               {"&eventid=17&sqlid=7&notifyflag=2", "&notifyflag=", 64, 0, "2"},
               {"&eventid=5&id=9", "id=", 64, 0, "5"},  // first match, not anchored
               {"&a=1&a=2", "&a=", 64, 0, "1"},
               {"&x=a=b&y=1", "&x=", 64, 0, "a=b"},
               {"&eventid=ABCDEFGH", "&eventid=", 4, 0, "ABC"},
               {"&eventid=ABCDEFGH", "&eventid=", 1, 0, ""},
               {"&x=&y=2", "&x=", 64, 0, ""},
               {"&y=2&x=", "&x=", 64, 0, ""},
               {"&a=1", "&b=", 64, -1, "untouched"},
               {"&a=1", "", 64, -1, "untouched"},
               {"&a=1", "&a=", 0, -1, "untouched"}};
  for (const auto &c : cases) {
    int result = 9;
    EXPECT_EQ(
        guarded("untouched", c.size > 0 ? c.size : 10,
                [&](char *out) { result = utils_get_param_value(c.params, c.key, out, c.size); }),
        c.value)
        << c.params << " " << c.key << " " << c.size;
    EXPECT_EQ(result, c.result) << c.params << " " << c.key;
  }
}

TEST(Strings, TruthCaseCopyAndTrim) {
  for (const char *text : {"yes", "YES", "On", "oN", "1"}) EXPECT_EQ(utils_str_is_true(text), 1);
  for (const char *text : {"true", "0", " yes", "11", ""}) EXPECT_EQ(utils_str_is_true(text), 0);
  char text[] = "aBc\0dEf";
  utils_str_tolower(utils_str_toupper(text, 6), 2);  // exactly n bytes, past the NUL
  EXPECT_EQ(std::string(text, 8), "abC\0DEf\0"s);
  EXPECT_EQ(guarded("", 8, [](char *out) { utils_str_copy(out, "abcdefghij", 8); }), "abcdefg");
  std::string padded = " \tx\t ";
  EXPECT_STREQ(utils_str_trim(padded.data()), "\tx\t");  // spaces only
}

TEST(Strings, ReplaceAndRemove) {
  const struct {
    const char *source, *search, *replacement, *out;
    size_t size;
    const char *expected;
  } replaced[] = {{"a-b--c-", "-", "+=", "x:", 64, "x:a+=b+=+=c+="},  // appended to the output
                  {"aa", "a", "aa", "", 64, "aaaa"},                  // not scanned again
                  {"abcabcabc", "b", "XYZ", "12", 8, "12aXYZc"},
                  {"def", "e", "E", "abc", 4, "abc"}};
  for (const auto &c : replaced) {
    EXPECT_EQ(guarded(c.out, c.size,
                      [&](char *out) {
                        utils_str_replace(c.source, c.search, c.replacement, out, int(c.size));
                      }),
              c.expected)
        << c.source;
  }
  const struct {
    const char *text, *search, *replacement, *expected;
  } all[] = {{"a.b.c", ".", "::", "a::b::c"},
             {"a::b::c", "::", ".", "a.b.c"},
             {"xx", "x", "xx", "xxxx"},
             {"abab", "ab", "", ""},
             {"aaa", "aa", "b", "ba"}};
  for (const auto &c : all) {
    char buffer[64];
    std::strcpy(buffer, c.text);
    EXPECT_STREQ(utils_str_replace_all(buffer, c.search, c.replacement), c.expected) << c.text;
  }
  char text[] = "port=3;port=4;speed=9;port=5";
  EXPECT_EQ(utils_str_remove(text, "port=%d;", 4), 0);
  EXPECT_STREQ(text, "port=3;speed=9;port=5");
  char nested[] = "aabb";  // the search resumes where the removal was
  utils_str_remove(nested, "ab");
  EXPECT_STREQ(nested, "ab");
  std::string many(1500, 'x');
  utils_str_remove(many.data(), "x");
  EXPECT_EQ(std::strlen(many.c_str()), 1500u - 1024u);
  char params[] = "&eventid=4&port=1&state=up&port=2&x=3";
  EXPECT_EQ(utils_param_remove(params, "&%s=", "port"), 0);
  EXPECT_STREQ(params, "&eventid=4&state=up&x=3");
  utils_param_remove(params, "&x=");
  EXPECT_STREQ(params, "&eventid=4&state=up");
}

TEST(Strings, UrlEncodeAndDecode) {
  const struct {
    const char *text;
    int reserved, size;
    const char *expected;
  } encoded[] = {{"a b/c", 1, 128, "a%20b%2fc"},
                 {"a b/c", 0, 128, "a b/c"},
                 {"a\tb", 0, 128, "a%09b"},
                 {"100%", 1, 128, "100%"},
                 {";/?:@&=+$,# ", 1, 128, "%3b%2f%3f%3a%40%26%3d%2b%24%2c%23%20"},
                 {"\x1f\x7f\xc3\xa9", 1, 128, "%1f\x7f\xc3\xa9"},
                 {"abcdef", 1, 4, "abc"},
                 {"ab cd", 1, 5, "ab"},  // an escape is written whole or not at all
                 {"ab cd", 1, 6, "ab%20"}};
  for (const auto &c : encoded) {
    EXPECT_EQ(guarded("", size_t(c.size),
                      [&](char *out) { utils_url_encode(c.text, out, c.size, c.reserved); }),
              c.expected)
        << c.text << " " << c.size;
  }
  const std::pair<const char *, const char *> decoded[] = {
      {"a%41%2", "aA%2"}, {"%2f%2F+%zz%", "//+%zz%"}, {"%e9x", "\xe9x"}, {"%41%42%43", "ABC"}};
  for (const auto &[text, expected] : decoded) {
    std::string copy = text;
    utils_url_decode(copy.data());
    EXPECT_STREQ(copy.c_str(), expected) << text;
  }
}

TEST(TextScan, FindTokenLineValueAndMatch) {
  const struct {
    const char *list;
    char separator;
    const char *item;
    int found;
  } tokens[] = {{"a,b,c", ',', "b", 0}, {"a,bb,c", ',', "b", -1}, {"a,bb,b", ',', "b", 0},
                {"b", ',', "b", 0},     {"ab,c", ',', "b", -1},   {"a;b;c", ',', "b", -1},
                {"a;b;c", ';', "a", 0}, {"a;b;c", ';', "c", 0},   {"a,b", ',', "", -1}};
  for (const auto &c : tokens) {
    EXPECT_EQ(utils_find_token(c.list, c.separator, c.item), c.found) << c.list << " " << c.item;
  }
  const char *text = "name alpha\nport 9001\r\nlast";
  char out[32];
  EXPECT_EQ(utils_get_line_value(text, "port ", out, sizeof out), 0);
  EXPECT_STREQ(out, "9001\r");  // only the line feed ends a line
  EXPECT_EQ(utils_get_line_value(text, "la", out, sizeof out), 0);
  EXPECT_STREQ(out, "st");
  EXPECT_EQ(utils_get_line_value(text, "name ", out, 4), 0);
  EXPECT_STREQ(out, "alp");
  EXPECT_EQ(utils_get_line_value(text, "missing", out, sizeof out), -1);
  std::vector<char> big(4096, 'x');
  EXPECT_EQ(utils_get_line_value(("k=" + std::string(2000, 'v')).c_str(), "k=", big.data(), 4096),
            0);
  EXPECT_EQ(std::string(big.data()), std::string(1023, 'v'));
  EXPECT_EQ(utils_str_match("link eth0 down", "eth[0-9]+ (up|down)"), 1);
  EXPECT_EQ(utils_str_match("link eth0 down", "^down"), 0);
  EXPECT_EQ(utils_str_match("a(b", "a(b"), 1);  // not a regex, but a substring
  EXPECT_EQ(utils_str_equal(nullptr, nullptr), 1);
  EXPECT_EQ(utils_str_equal("abc", "abd"), 0);
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
               {"solo", ',', 0, "solo/0 "},
               {"a,", ',', 0, "a/1 "},
               {"a=1&bb=22&c=", '&', 1, "a=1/0 bb=22/0 c=/1 "},
               {"a=1&flag", '&', 1, "a=1/0 flag=/1 "},  // the last may lack the '='
               {"a=1&bare&c=3", '&', 1, "a=1/0 bare=/1 "},
               {std::string(700, 'k') + "=" + std::string(600, 'v') + ",x", ',', 1,
                std::string(511, 'k') + "=" + std::string(511, 'v') + "/0 x=/1 "},
               {std::string(40000, 'a'), ',', 0, ""},
               {"", ',', 0, ""}};
  for (const auto &c : cases) {
    EXPECT_EQ(tokens(c.text, {c.separator, '=', c.split, 0}), c.expected) << c.text.substr(0, 20);
  }
  EXPECT_EQ(tokens("a,b", {',', '=', 0, 5}), "");
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
      {"${a${b}}", "&b=X&aX=no", "${aX}"},
      {"${a} ${x ${a}", "&a=1&x=2", "1 ${x 1"},
      {"tail $", "&x=1", "tail $"},
      {"[${long}]${short}", "&long=" + v200 + "&short=s", "[" + v200.substr(0, 127) + "]s"},
      {"${" + n60 + "}${" + n61 + "}", "&" + n60 + "=ok&" + n61 + "=no", "ok${" + n61 + "}"},
      {"<${x}>", "&x=${x}", "<${x}>"},  // the scan resumes after a value
      {"${a} ${b}", "&a=${b}&b=2", "2 2"},
      {"$${x}}${x}", "&x={x}${x", "${x}${x}{x}${x"}};
  for (const auto &c : cases) {
    int result = -9;
    EXPECT_EQ(
        guarded(c.text, 512,
                [&](char *field) { result = utils_fill_template(field, c.params.c_str(), 512); }),
        c.expected)
        << c.text;
    EXPECT_EQ(result, 0) << c.text;
  }
}

TEST(Template, ResultsAreCutAtTheField) {
  std::string many;
  for (int i = 0; i < 60; ++i) many += "${x}";
  const std::string v127(127, 'v');
  for (size_t size : {256u, 512u}) {
    const std::string cut = guarded(many, size, [&](char *field) {
      utils_fill_template(field, ("&x=" + v127).c_str(), int(size));
    });
    const size_t whole = (size - 1) / 127 * 127;
    EXPECT_EQ(cut, std::string(whole, 'v') + std::string("${x}").substr(0, size - 1 - whole));
    EXPECT_EQ(guarded(std::string(size - 5, 'a') + "${y}", size,
                      [&](char *field) { utils_fill_template(field, "&y=1", int(size)); }),
              std::string(size - 5, 'a') + "1");
    const std::string doubled = guarded("<${x}>${x}", size, [&](char *field) {
      utils_fill_template(field, "&x=${x}${x}", int(size));
    });
    EXPECT_EQ(doubled.size(), size - 1);
    EXPECT_EQ(doubled.rfind("<${x}${x}${x}${x}", 0), 0u);
  }
}

// RFC 4648 vectors and every byte value; the shifted form raises each
// character by two.
TEST(Base64, PlainAndShifted) {
  const std::pair<std::string, std::string> vectors[] = {{"", ""},
                                                         {"f", "Zg=="},
                                                         {"fo", "Zm8="},
                                                         {"foo", "Zm9v"},
                                                         {"foob", "Zm9vYg=="},
                                                         {"fooba", "Zm9vYmE="},
                                                         {"foobar", "Zm9vYmFy"},
                                                         {"\x00\xff\xfe\xfb\xef\xbe"s, "AP/+++++"}};
  for (const auto &[plain, coded] : vectors) {
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
  unsigned char out[8] = {0xa5, 0xa5, 0xa5, 0xa5, 0xa5, 0xa5, 0xa5, 0xa5};
  int capacity = 5;
  EXPECT_EQ(utils_base64_decode_shifted("\\o;x[oH{", 8, out, &capacity), -1);
  capacity = 6;
  EXPECT_EQ(utils_base64_decode_shifted("\\o;x[oH{", 8, out, &capacity), 6);
  EXPECT_EQ(std::string(out, out + 7), "foobar\xa5");
}

TEST(Alloc, ZeroedBlocksAndPaths) {
  char *block = static_cast<char *>(utils_malloc(5));
  EXPECT_EQ(std::string(block, 5), std::string(5, '\0'));
  EXPECT_EQ(utils_free(&block), 0);
  EXPECT_EQ(utils_free(&block), -1);  // cleared
  EXPECT_EQ(utils_malloc(0), nullptr);
  setenv("ALERTMILL_ROOT", "/tmp/sandbox/", 1);
  EXPECT_EQ(utils_path(paths::kZoneinfoDir), "/tmp/sandbox/usr/share/zoneinfo");
  unsetenv("ALERTMILL_ROOT");
  EXPECT_EQ(utils_path(paths::kEventsDb), "/etc/events.sqlite3");
}

}  // namespace
