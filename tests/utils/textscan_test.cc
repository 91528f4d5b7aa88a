#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "utils/utils.h"

namespace {

struct Taken {
  int result;
  std::string item;
  std::string value;
};

// Calls utils_next_token until it reports -1 or stops moving (bounded).
std::vector<Taken> take_all(const char *text, utils_token_state state) {
  std::vector<Taken> taken;
  for (int i = 0; i < 16; ++i) {
    char item[kUtilsTokenSize];
    char value[kUtilsTokenSize];
    const int result = utils_next_token(text, &state, item, value);
    if (result < 0) break;
    taken.push_back({result, item, value});
  }
  return taken;
}

utils_token_state list_state(char separator) { return {separator, '=', 0, 0}; }
utils_token_state pair_state(char separator, char kv) { return {separator, kv, 1, 0}; }

}  // namespace

TEST(TextScan, StrEqual) {
  EXPECT_EQ(utils_str_equal(nullptr, nullptr), 1);
  EXPECT_EQ(utils_str_equal("a", nullptr), 0);
  EXPECT_EQ(utils_str_equal(nullptr, "a"), 0);
  EXPECT_EQ(utils_str_equal("abc", "abc"), 1);
  EXPECT_EQ(utils_str_equal("abc", "abd"), 0);
  EXPECT_EQ(utils_str_equal("", ""), 1);
}

TEST(TextScan, FindTokenNeedsWholeItems) {
  EXPECT_EQ(utils_find_token("a,b,c", ',', "b"), 0);
  EXPECT_EQ(utils_find_token("a,bb,c", ',', "b"), -1);
  EXPECT_EQ(utils_find_token("a,bb,b", ',', "b"), 0);  // a later whole match counts
  EXPECT_EQ(utils_find_token("b", ',', "b"), 0);
  EXPECT_EQ(utils_find_token("ab,c", ',', "b"), -1);
  EXPECT_EQ(utils_find_token("a;b;c", ',', "b"), -1);
  EXPECT_EQ(utils_find_token("a;b;c", ';', "a"), 0);
  EXPECT_EQ(utils_find_token("a;b;c", ';', "c"), 0);
  EXPECT_EQ(utils_find_token("a,b", ',', ""), -1);
  EXPECT_EQ(utils_find_token(nullptr, ',', "b"), -1);
  EXPECT_EQ(utils_find_token("a,b", ',', nullptr), -1);
}

TEST(TextScan, GetLineValue) {
  const char *text = "name alpha\nport 9001\r\nlast";
  char out[32];
  EXPECT_EQ(utils_get_line_value(text, "port ", out, sizeof out), 0);
  EXPECT_STREQ(out, "9001\r");  // only the line feed ends a line
  EXPECT_EQ(utils_get_line_value(text, "la", out, sizeof out), 0);
  EXPECT_STREQ(out, "st");
  EXPECT_EQ(utils_get_line_value(text, "name ", out, 4), 0);
  EXPECT_STREQ(out, "alp");
  EXPECT_EQ(utils_get_line_value(text, "missing", out, sizeof out), -1);
  EXPECT_EQ(utils_get_line_value(text, "", out, sizeof out), -1);
  EXPECT_EQ(utils_get_line_value(text, "port", out, 0), -1);
  EXPECT_EQ(utils_get_line_value(nullptr, "port", out, sizeof out), -1);
  EXPECT_EQ(utils_get_line_value(text, "port", nullptr, 4), -1);

  const std::string longline = "k=" + std::string(2000, 'v');
  std::vector<char> big(4096, 'x');
  EXPECT_EQ(utils_get_line_value(longline.c_str(), "k=", big.data(), 4096), 0);
  EXPECT_EQ(std::string(big.data()), std::string(1023, 'v'));
}

TEST(TextScan, NextTokenWalksAList) {
  const std::vector<Taken> taken = take_all("a,b", list_state(','));
  ASSERT_EQ(taken.size(), 2u);
  EXPECT_EQ(taken[0].result, 0);
  EXPECT_EQ(taken[0].item, "a");
  EXPECT_EQ(taken[1].result, 1);
  EXPECT_EQ(taken[1].item, "b");

  const std::vector<Taken> three = take_all("one,,three", list_state(','));
  ASSERT_EQ(three.size(), 3u);
  EXPECT_EQ(three[1].item, "");
  EXPECT_EQ(three[2].item, "three");
  EXPECT_EQ(three[2].result, 1);
}

TEST(TextScan, NextTokenSingleItemAndTrailingSeparator) {
  const std::vector<Taken> single = take_all("solo", list_state(','));
  ASSERT_EQ(single.size(), 1u);
  EXPECT_EQ(single[0].result, 0);  // the whole text was one item
  EXPECT_EQ(single[0].item, "solo");

  const std::vector<Taken> trailing = take_all("a,", list_state(','));
  ASSERT_EQ(trailing.size(), 1u);
  EXPECT_EQ(trailing[0].result, 1);
  EXPECT_EQ(trailing[0].item, "a");
}

TEST(TextScan, NextTokenSplitsPairs) {
  const std::vector<Taken> taken = take_all("a=1&bb=22&c=", pair_state('&', '='));
  ASSERT_EQ(taken.size(), 3u);
  EXPECT_EQ(taken[0].item, "a");
  EXPECT_EQ(taken[0].value, "1");
  EXPECT_EQ(taken[0].result, 0);
  EXPECT_EQ(taken[1].item, "bb");
  EXPECT_EQ(taken[1].value, "22");
  EXPECT_EQ(taken[2].item, "c");
  EXPECT_EQ(taken[2].value, "");
  EXPECT_EQ(taken[2].result, 1);

  // The last item may lack the key/value separator.
  const std::vector<Taken> tail = take_all("a=1&flag", pair_state('&', '='));
  ASSERT_EQ(tail.size(), 2u);
  EXPECT_EQ(tail[1].item, "flag");
  EXPECT_EQ(tail[1].value, "");
  EXPECT_EQ(tail[1].result, 1);
}

TEST(TextScan, NextTokenStopsOnPairlessItemInTheMiddle) {
  utils_token_state state = pair_state('&', '=');
  char item[kUtilsTokenSize];
  char value[kUtilsTokenSize];
  const char *text = "a=1&bare&c=3";
  EXPECT_EQ(utils_next_token(text, &state, item, value), 0);
  EXPECT_EQ(state.position, 4);
  EXPECT_EQ(utils_next_token(text, &state, item, value), 1);
  EXPECT_STREQ(item, "bare");
  EXPECT_STREQ(value, "");
  EXPECT_EQ(state.position, 4);
}

TEST(TextScan, NextTokenRefusesBadStates) {
  char item[kUtilsTokenSize];
  char value[kUtilsTokenSize];
  utils_token_state state = list_state(',');
  EXPECT_EQ(utils_next_token(nullptr, &state, item, value), -1);
  EXPECT_EQ(utils_next_token("a", nullptr, item, value), -1);
  EXPECT_EQ(utils_next_token("a", &state, nullptr, value), -1);
  EXPECT_EQ(utils_next_token("", &state, item, value), -1);
  state.position = 5;
  EXPECT_EQ(utils_next_token("a,b", &state, item, value), -1);
  state.position = -1;
  EXPECT_EQ(utils_next_token("a,b", &state, item, value), -1);
  utils_token_state split = pair_state(',', '=');
  EXPECT_EQ(utils_next_token("a=1", &split, item, nullptr), -1);
  // Without splitting the value output is not needed.
  state.position = 0;
  EXPECT_EQ(utils_next_token("a,b", &state, item, nullptr), 0);
  EXPECT_STREQ(item, "a");
}

TEST(TextScan, NextTokenCutsLongItems) {
  const std::string text = std::string(700, 'k') + "=" + std::string(600, 'v') + ",x";
  const std::vector<Taken> taken = take_all(text.c_str(), pair_state(',', '='));
  ASSERT_EQ(taken.size(), 2u);
  EXPECT_EQ(taken[0].item, std::string(511, 'k'));
  EXPECT_EQ(taken[0].value, std::string(511, 'v'));
  EXPECT_EQ(taken[1].item, "x");

  const std::string huge(40000, 'a');
  utils_token_state state = list_state(',');
  char item[kUtilsTokenSize];
  EXPECT_EQ(utils_next_token(huge.c_str(), &state, item, nullptr), -1);
}

TEST(TextScan, StrMatchSubstringOrRegex) {
  EXPECT_EQ(utils_str_match("link eth0 down", "eth0"), 1);
  EXPECT_EQ(utils_str_match("link eth0 down", "eth[0-9]+ (up|down)"), 1);
  EXPECT_EQ(utils_str_match("link eth0 down", "^down"), 0);
  EXPECT_EQ(utils_str_match("a(b", "a(b"), 1);  // not a regex, but a substring
  EXPECT_EQ(utils_str_match("xyz", "a(b"), 0);
  EXPECT_EQ(utils_str_match(nullptr, "a"), 0);
  EXPECT_EQ(utils_str_match("a", nullptr), 0);
}

TEST(TextScan, StrTrimRemovesSpacesOnly) {
  const struct {
    const char *in;
    const char *out;
  } cases[] = {{"  x ", "x"},        {"", ""},   {"   ", ""},        {"a b", "a b"},
               {" \tx\t ", "\tx\t"}, {"x", "x"}, {"  lead", "lead"}, {"trail  ", "trail"}};
  for (const auto &c : cases) {
    std::string text = c.in;
    char *buffer = text.data();
    EXPECT_EQ(utils_str_trim(buffer), buffer);
    EXPECT_STREQ(buffer, c.out) << '"' << c.in << '"';
  }
  EXPECT_EQ(utils_str_trim(nullptr), nullptr);
}
