#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "utils/utils.h"

namespace {

// Reads key from params into a buffer pre-filled with a marker, so a test
// can tell "untouched" from "written".
struct Lookup {
  int result;
  std::string value;
};

Lookup lookup(const char *params, const char *key, int out_size = 64) {
  char out[256];
  std::memset(out, 0, sizeof out);
  std::strcpy(out, "untouched");
  int result = utils_get_param_value(params, key, out, out_size);
  return {result, out};
}

std::string encode(const char *source, int reserved, int size = 128) {
  char out[512];
  std::memset(out, 'Z', sizeof out);
  out[sizeof out - 1] = '\0';
  const char *result = utils_url_encode(source, out, size, reserved);
  EXPECT_EQ(result, out);
  return out;
}

std::string decode(const char *text) {
  std::string copy = text;
  utils_url_decode(copy.data());
  return copy.c_str();
}

}  // namespace

TEST(ParamValue, FindsMiddleAndLastParameter) {
  const char *params = "&eventid=17&sqlid=7&notifyflag=2";
  EXPECT_EQ(lookup(params, "&eventid=").value, "17");
  EXPECT_EQ(lookup(params, "&sqlid=").value, "7");
  Lookup last = lookup(params, "&notifyflag=");
  EXPECT_EQ(last.result, 0);
  EXPECT_EQ(last.value, "2");
}

TEST(ParamValue, FirstMatchWinsAndKeysAreNotAnchored) {
  EXPECT_EQ(lookup("&eventid=5&id=9", "id=").value, "5");
  EXPECT_EQ(lookup("&a=1&a=2", "&a=").value, "1");
  // The match may even lie inside another parameter's value.
  EXPECT_EQ(lookup("&text=port=4&port=9", "port=").value, "4");
  EXPECT_EQ(lookup("&x=a=b&y=1", "&x=").value, "a=b");
}

TEST(ParamValue, CutsLongValuesToTheBuffer) {
  Lookup cut = lookup("&eventid=ABCDEFGH", "&eventid=", 4);
  EXPECT_EQ(cut.result, 0);
  EXPECT_EQ(cut.value, "ABC");
  Lookup one = lookup("&eventid=ABCDEFGH", "&eventid=", 1);
  EXPECT_EQ(one.result, 0);
  EXPECT_EQ(one.value, "");
}

TEST(ParamValue, EmptyValuesAreFound) {
  Lookup middle = lookup("&x=&y=2", "&x=");
  EXPECT_EQ(middle.result, 0);
  EXPECT_EQ(middle.value, "");
  Lookup end = lookup("&y=2&x=", "&x=");
  EXPECT_EQ(end.result, 0);
  EXPECT_EQ(end.value, "");
}

TEST(ParamValue, MissingKeyAndBadArgumentsLeaveOutputAlone) {
  EXPECT_EQ(lookup("&a=1", "&b=").result, -1);
  EXPECT_EQ(lookup("&a=1", "&b=").value, "untouched");
  EXPECT_EQ(lookup(nullptr, "&a=").value, "untouched");
  EXPECT_EQ(lookup("", "&a=").result, -1);
  EXPECT_EQ(lookup("&a=1", nullptr).result, -1);
  EXPECT_EQ(lookup("&a=1", "").value, "untouched");
  EXPECT_EQ(lookup("&a=1", "&a=", 0).value, "untouched");
  EXPECT_EQ(lookup("&a=1", "&a=", -3).result, -1);
  EXPECT_EQ(utils_get_param_value("&a=1", "&a=", nullptr, 8), -1);
}

TEST(Truth, AcceptsOnlyYesOnAndOne) {
  for (const char *text : {"yes", "YES", "On", "oN", "1"}) {
    EXPECT_EQ(utils_str_is_true(text), 1) << text;
  }
  for (const char *text : {"true", "0", " yes", "yes ", "11", "", "y"}) {
    EXPECT_EQ(utils_str_is_true(text), 0) << text;
  }
  EXPECT_EQ(utils_str_is_true(nullptr), 0);
  EXPECT_EQ(utils_str_is_empty(nullptr), 1);
  EXPECT_EQ(utils_str_is_empty(""), 1);
  EXPECT_EQ(utils_str_is_empty(" "), 0);
}

TEST(Case, ConvertsExactlyNBytesPastNuls) {
  char text[] = "aBc\0dEf";
  EXPECT_EQ(utils_str_toupper(text, 6), text);
  EXPECT_EQ(std::memcmp(text, "ABC\0DEf", 8), 0);
  EXPECT_EQ(utils_str_tolower(text, 2), text);
  EXPECT_EQ(std::memcmp(text, "abC\0DEf", 8), 0);
  EXPECT_EQ(utils_str_tolower(text, -1), text);
  EXPECT_EQ(utils_str_tolower(nullptr, 3), nullptr);
  EXPECT_EQ(utils_str_toupper(nullptr, 3), nullptr);
}

TEST(Copy, CutsToSizeLessOne) {
  char out[8];
  EXPECT_EQ(utils_str_copy(out, "abcdefghij", sizeof out), out);
  EXPECT_STREQ(out, "abcdefg");
  EXPECT_STREQ(utils_str_copy(out, "", sizeof out), "");
  EXPECT_EQ(utils_str_copy(nullptr, "a", 4), nullptr);
  EXPECT_EQ(utils_str_copy(out, nullptr, 4), nullptr);
  out[0] = 'q';
  EXPECT_EQ(utils_str_copy(out, "a", 0), out);
  EXPECT_EQ(out[0], 'q');
}

TEST(Replace, AppendsReplacedTextToOutput) {
  char source[] = "a-b--c-";
  char out[64] = "x:";
  EXPECT_EQ(utils_str_replace(source, "-", "+=", out, sizeof out), out);
  EXPECT_STREQ(out, "x:a+=b+=+=c+=");
  EXPECT_STREQ(source, "a-b--c-");
}

TEST(Replace, ReplacementHoldingSearchIsNotRescanned) {
  char source[] = "aa";
  char out[64] = "";
  utils_str_replace(source, "a", "aa", out, sizeof out);
  EXPECT_STREQ(out, "aaaa");
}

TEST(Replace, StaysInsideOutputBuffer) {
  char out[8] = "12";
  utils_str_replace("abcabcabc", "b", "XYZ", out, sizeof out);
  EXPECT_STREQ(out, "12aXYZc");
  char full[4] = "abc";
  utils_str_replace("def", "e", "E", full, sizeof full);
  EXPECT_STREQ(full, "abc");
}

TEST(Replace, RejectsBadArguments) {
  char out[8] = "";
  EXPECT_EQ(utils_str_replace(nullptr, "a", "b", out, 8), nullptr);
  EXPECT_EQ(utils_str_replace("a", nullptr, "b", out, 8), nullptr);
  EXPECT_EQ(utils_str_replace("a", "", "b", out, 8), nullptr);
  EXPECT_EQ(utils_str_replace("a", "a", nullptr, out, 8), nullptr);
  EXPECT_EQ(utils_str_replace("a", "a", "b", nullptr, 8), nullptr);
  EXPECT_EQ(utils_str_replace("a", "a", "b", out, 0), nullptr);
}

TEST(Remove, RemovesFormattedTextEverywhere) {
  char text[] = "port=3;port=4;speed=9;port=5";
  EXPECT_EQ(utils_str_remove(text, "port=%d;", 4), 0);
  EXPECT_STREQ(text, "port=3;speed=9;port=5");
  EXPECT_EQ(utils_str_remove(text, "%s", "port="), 0);
  EXPECT_STREQ(text, "3;speed=9;5");
  // The search resumes where the last removal was, so a removal that makes
  // a new occurrence before that point leaves it.
  char nested[] = "aabb";
  utils_str_remove(nested, "ab");
  EXPECT_STREQ(nested, "ab");
}

TEST(Remove, StopsAfter1024Removals) {
  std::string text(1500, 'x');
  utils_str_remove(text.data(), "x");
  EXPECT_EQ(std::strlen(text.c_str()), 1500u - 1024u);
}

TEST(Remove, RejectsNullAndIgnoresEmptySearch) {
  char text[] = "abc";
  EXPECT_EQ(utils_str_remove(nullptr, "a"), -1);
  EXPECT_EQ(utils_str_remove(text, nullptr), -1);
  EXPECT_EQ(utils_str_remove(text, "%s", ""), 0);
  EXPECT_STREQ(text, "abc");
}

TEST(ParamRemove, RemovesEachParameterWithTheKey) {
  char text[] = "&eventid=4&port=1&state=up&port=2&x=3";
  EXPECT_EQ(utils_param_remove(text, "&%s=", "port"), 0);
  EXPECT_STREQ(text, "&eventid=4&state=up&x=3");
  EXPECT_EQ(utils_param_remove(text, "&x="), 0);
  EXPECT_STREQ(text, "&eventid=4&state=up");
  EXPECT_EQ(utils_param_remove(text, "&eventid="), 0);
  EXPECT_STREQ(text, "&state=up");
  EXPECT_EQ(utils_param_remove(text, "&missing="), 0);
  EXPECT_STREQ(text, "&state=up");
  EXPECT_EQ(utils_param_remove(nullptr, "&x="), -1);
  EXPECT_EQ(utils_param_remove(text, nullptr), -1);
}

TEST(UrlEncode, EncodesControlBytesAndOptionallyReserved) {
  EXPECT_EQ(encode("a b/c", 1), "a%20b%2fc");
  EXPECT_EQ(encode("a b/c", 0), "a b/c");
  EXPECT_EQ(encode("a\tb", 0), "a%09b");
  EXPECT_EQ(encode("a\tb", 1), "a%09b");
  EXPECT_EQ(encode("100%", 1), "100%");
  EXPECT_EQ(encode(";/?:@&=+$,# ", 1), "%3b%2f%3f%3a%40%26%3d%2b%24%2c%23%20");
  EXPECT_EQ(encode("\x1f\x7f\xc3\xa9", 1), "%1f\x7f\xc3\xa9");
}

TEST(UrlEncode, StaysInsideDestination) {
  EXPECT_EQ(encode("abcdef", 1, 4), "abc");
  EXPECT_EQ(encode("ab cd", 1, 5), "ab");
  EXPECT_EQ(encode("ab cd", 1, 6), "ab%20");
  EXPECT_EQ(encode("", 1, 6), "");
  char out[4];
  EXPECT_EQ(utils_url_encode(nullptr, out, 4, 1), nullptr);
  EXPECT_EQ(utils_url_encode("a", nullptr, 4, 1), nullptr);
}

TEST(UrlDecode, DecodesCompleteEscapesOnly) {
  EXPECT_EQ(decode("a%41%2"), "aA%2");
  EXPECT_EQ(decode("%2f%2F+%zz%"), "//+%zz%");
  EXPECT_EQ(decode("%e9x"), "\xe9x");
  EXPECT_EQ(decode("%4"), "%4");
  EXPECT_EQ(decode(""), "");
  EXPECT_EQ(decode("%41%42%43"), "ABC");
  utils_url_decode(nullptr);
}

TEST(UrlDecode, UndoesEncode) {
  const char *text = "name=a b&c/d?\t;";
  EXPECT_EQ(decode(encode(text, 1).c_str()), text);
}
