#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "utils/utils.h"

namespace {

constexpr int kSubjectSize = 256;
constexpr int kMessageSize = 512;

// Fills `text` in a field of `capacity` bytes that sits between guard bytes,
// and checks that nothing outside the field was written and that the result
// is terminated inside it.
std::string fill(const std::string &text, const char *params, int capacity = kMessageSize,
                 int *result = nullptr) {
  constexpr char kGuard = '\x5a';
  std::string arena(static_cast<size_t>(capacity) + 64, kGuard);
  char *field = arena.data() + 32;
  std::memset(field, 0, static_cast<size_t>(capacity));
  std::memcpy(field, text.data(), std::min(text.size(), static_cast<size_t>(capacity)));
  int filled = utils_fill_template(field, params, capacity);
  if (result != nullptr) *result = filled;
  for (int i = 0; i < 32; ++i) {
    EXPECT_EQ(arena[static_cast<size_t>(i)], kGuard) << "before the field";
    EXPECT_EQ(arena[static_cast<size_t>(32 + capacity + i)], kGuard) << "after the field";
  }
  EXPECT_LT(strnlen(field, static_cast<size_t>(capacity)), static_cast<size_t>(capacity));
  return field;
}

std::string replace_all(const char *text, const char *search, const char *replacement) {
  char buffer[256] = {};
  std::strcpy(buffer, text);
  EXPECT_EQ(utils_str_replace_all(buffer, search, replacement), buffer);
  return buffer;
}

}  // namespace

TEST(Template, FillsNamedParameters) {
  EXPECT_EQ(fill("Port ${port} is ${state}", "&eventid=9&port=3&state=down"), "Port 3 is down");
  EXPECT_EQ(fill("event ${eventid} row ${sqlid} flag ${notifyflag}",
                 "&eventid=4019&sqlid=12&notifyflag=2"),
            "event 4019 row 12 flag 2");
}

TEST(Template, RepeatedAndAdjacentPlaceholders) {
  EXPECT_EQ(fill("${x} and ${x}", "&x=1"), "1 and 1");
  EXPECT_EQ(fill("${a}${b}", "&a=1&b=2"), "12");
  EXPECT_EQ(fill("${a}${a}${b}${a}", "&a=xyz&b="), "xyzxyz${b}xyz");
}

TEST(Template, MissingOrEmptyValuesStay) {
  int result = -9;
  EXPECT_EQ(fill("${x}/${y}", "&x=&y=2", kMessageSize, &result), "${x}/2");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(fill("${nope} ${y}", "&y=2"), "${nope} 2");
  EXPECT_EQ(fill("${} ${y}", "&=5&y=2"), "${} 2");
}

TEST(Template, LookupIsAPlainSubstringSearch) {
  EXPECT_EQ(fill("${id}", "&eventid=5&id=3"), "5");
  EXPECT_EQ(fill("${a b}", "&a b=sp"), "sp");
}

TEST(Template, PlaceholdersDoNotNest) { EXPECT_EQ(fill("${a${b}}", "&b=X&aX=no"), "${aX}"); }

TEST(Template, UnclosedPlaceholderStopsSubstitution) {
  EXPECT_EQ(fill("${a} ${x ${a}", "&a=1&x=2"), "1 ${x 1");
  EXPECT_EQ(fill("${x ${y", "&x=1&y=2"), "${x ${y");
  EXPECT_EQ(fill("tail $", "&x=1"), "tail $");
}

TEST(Template, ValuesAreCutTo127Characters) {
  std::string value(200, 'v');
  std::string params = "&long=" + value + "&short=s";
  EXPECT_EQ(fill("[${long}]${short}", params.c_str()), "[" + value.substr(0, 127) + "]s");
}

TEST(Template, LongNamesStayAsWritten) {
  std::string name60(60, 'n');
  std::string name61(61, 'n');
  std::string params = "&" + name60 + "=ok&" + name61 + "=no";
  EXPECT_EQ(fill("${" + name60 + "}", params.c_str()), "ok");
  EXPECT_EQ(fill("${" + name61 + "}", params.c_str()), "${" + name61 + "}");
}

TEST(Template, NoPlaceholderAndBadArguments) {
  int result = -9;
  EXPECT_EQ(fill("plain text $ { }", "&x=1", kMessageSize, &result), "plain text $ { }");
  EXPECT_EQ(result, 0);
  char text[16] = "${x}";
  EXPECT_EQ(utils_fill_template(nullptr, "&x=1", 16), -1);
  EXPECT_EQ(utils_fill_template(text, nullptr, 16), -1);
  EXPECT_EQ(utils_fill_template(text, "&x=1", 0), -1);
  EXPECT_STREQ(text, "${x}");
  EXPECT_EQ(utils_fill_template(text, ""), 0);
  EXPECT_STREQ(text, "${x}");
}

TEST(Template, FieldSizeIsTheCapacity) {
  struct Row {
    char subject[kSubjectSize];
    char guard[8];
  } row = {};
  std::memset(row.subject, 'a', sizeof row.subject - 6);
  std::memcpy(row.subject + sizeof row.subject - 6, "${v}", 4);
  std::memcpy(row.guard, "GUARDGU", 8);
  std::string params = "&v=" + std::string(127, 'w');
  EXPECT_EQ(utils_fill_template(row.subject, params.c_str()), 0);
  EXPECT_EQ(std::strlen(row.subject), sizeof row.subject - 1);
  EXPECT_EQ(std::string(row.subject + sizeof row.subject - 6), "wwwww");
  EXPECT_STREQ(row.guard, "GUARDGU");
}

TEST(Template, LongResultsAreCutAtTheField) {
  std::string value(127, 'v');
  std::string params = "&x=" + value;
  std::string many;
  for (int i = 0; i < 60; ++i) many += "${x}";
  for (int capacity : {kSubjectSize, kMessageSize}) {
    std::string result = fill(many, params.c_str(), capacity);
    ASSERT_EQ(result.size(), static_cast<size_t>(capacity) - 1);
    // Whole values up to the cut, then what was left of the next placeholder.
    size_t whole = result.size() / value.size() * value.size();
    EXPECT_EQ(result.substr(0, whole), std::string(whole, 'v'));
    EXPECT_EQ(std::string("${x}").compare(0, result.size() - whole, result, whole), 0);
  }
  // A full-length template whose placeholder shrinks.
  std::string full = std::string(kSubjectSize - 5, 'a') + "${y}";
  EXPECT_EQ(fill(full, "&y=1", kSubjectSize), std::string(kSubjectSize - 5, 'a') + "1");
  // A template that does not end inside its field is cut to it first.
  std::string unended(kSubjectSize, 'b');
  EXPECT_EQ(fill(unended, "&y=1", kSubjectSize), std::string(kSubjectSize - 1, 'b'));
}

TEST(Template, SelfReferencingValuesEnd) {
  EXPECT_EQ(fill("<${x}>", "&x=${x}"), "<${x}>");
  // Each round doubles every "${x}" of the text until the field is full.
  for (int capacity : {kSubjectSize, kMessageSize}) {
    std::string doubled = fill("<${x}>${x}", "&x=${x}${x}", capacity);
    EXPECT_EQ(doubled.size(), static_cast<size_t>(capacity) - 1);
    EXPECT_EQ(doubled.rfind("<${x}${x}${x}${x}", 0), 0u);
  }
  // A value naming a later placeholder: that one is filled everywhere.
  EXPECT_EQ(fill("${a} ${b}", "&a=${b}&b=2"), "2 2");
  // Values that rebuild placeholders with their neighbours.
  // The scan never goes back: the "${x}" built at the start stays.
  EXPECT_EQ(fill("$${x}}${x}", "&x={x}${x"), "${x}${x}{x}${x");
  std::string params = "&x=" + std::string(60, '$') + "{x}${x}${x}${x}";
  for (int capacity : {kSubjectSize, kMessageSize}) {
    std::string grown =
        fill(std::string(capacity - 1, '$').replace(10, 4, "${x}"), params.c_str(), capacity);
    EXPECT_EQ(grown.size(), static_cast<size_t>(capacity) - 1);
  }
}

TEST(ReplaceAll, ReplacesEveryOccurrenceOnce) {
  EXPECT_EQ(replace_all("a.b.c", ".", "::"), "a::b::c");
  EXPECT_EQ(replace_all("a::b::c", "::", "."), "a.b.c");
  EXPECT_EQ(replace_all("xx", "x", "xx"), "xxxx");
  EXPECT_EQ(replace_all("abc", "z", "y"), "abc");
  EXPECT_EQ(replace_all("abab", "ab", ""), "");
  EXPECT_EQ(replace_all("aaa", "aa", "b"), "ba");
}

TEST(ReplaceAll, RejectsNullAndEmptySearch) {
  char buffer[8] = "abc";
  EXPECT_EQ(utils_str_replace_all(nullptr, "a", "b"), nullptr);
  EXPECT_EQ(utils_str_replace_all(buffer, nullptr, "b"), nullptr);
  EXPECT_EQ(utils_str_replace_all(buffer, "a", nullptr), nullptr);
  EXPECT_EQ(utils_str_replace_all(buffer, "", "b"), nullptr);
  EXPECT_STREQ(buffer, "abc");
}
