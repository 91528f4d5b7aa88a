// Small text scanners: separated lists, "key value" lines, tokens, patterns
// and trimming.
#include "utils/textscan.h"

#include <regex.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "utils/strings.h"

namespace {

constexpr size_t kLineValueMax = 1023;
constexpr size_t kTokenTextMax = 0x7fff;  // positions are 16-bit

// Copies size characters from text into out (kUtilsTokenSize bytes),
// cut to fit, terminated.
void copy_part(char *out, const char *text, size_t size) {
  const size_t n = utils_utf8_cut(text, size, kUtilsTokenSize - 1);
  std::memcpy(out, text, n);
  out[n] = '\0';
}

}  // namespace

int utils_str_equal(const char *a, const char *b) {
  if (a == nullptr || b == nullptr) return a == b ? 1 : 0;
  return std::strcmp(a, b) == 0 ? 1 : 0;
}

int utils_find_token(const char *list, char separator, const char *item) {
  if (list == nullptr || item == nullptr || item[0] == '\0') return -1;
  const size_t length = std::strlen(item);
  for (const char *at = std::strstr(list, item); at != nullptr; at = std::strstr(at + 1, item)) {
    const bool starts = at == list || at[-1] == separator;
    const bool ends = at[length] == '\0' || at[length] == separator;
    if (starts && ends) return 0;
  }
  return -1;
}

int utils_get_line_value(const char *text, const char *key, char *out, int size) {
  if (text == nullptr || key == nullptr || out == nullptr || key[0] == '\0' || size < 1) return -1;
  const char *at = std::strstr(text, key);
  if (at == nullptr) return -1;
  at += std::strlen(key);
  const size_t line = std::strcspn(at, "\n");
  const size_t n = utils_utf8_cut(at, line, std::min(kLineValueMax, static_cast<size_t>(size) - 1));
  std::memcpy(out, at, n);
  out[n] = '\0';
  return 0;
}

int utils_next_token(const char *text, utils_token_state *state, char *item, char *value) {
  if (text == nullptr || state == nullptr || item == nullptr) return -1;
  const bool split = state->split == 1;
  if (split && value == nullptr) return -1;
  const size_t length = strnlen(text, kTokenTextMax + 1);
  if (length > kTokenTextMax || state->position < 0 ||
      static_cast<size_t>(state->position) >= length) {
    return -1;
  }
  std::memset(item, 0, kUtilsTokenSize);
  if (value != nullptr) std::memset(value, 0, kUtilsTokenSize);

  const size_t start = static_cast<size_t>(state->position);
  const char *begin = text + start;
  const char *stop =
      static_cast<const char *>(std::memchr(begin, state->separator, length - start));
  const bool separated = stop != nullptr;
  const char *end = separated ? stop : text + length;

  const char *kv = split ? static_cast<const char *>(std::memchr(begin, state->kv_separator,
                                                                 static_cast<size_t>(end - begin)))
                         : nullptr;
  if (kv != nullptr) {
    copy_part(item, begin, static_cast<size_t>(kv - begin));
    copy_part(value, kv + 1, static_cast<size_t>(end - kv - 1));
  } else {
    copy_part(item, begin, static_cast<size_t>(end - begin));
    // An item without its key/value separator in the middle of the list:
    // report it as the end and stay on it, the caller decides what follows.
    if (split && separated) return 1;
  }

  if (separated && static_cast<size_t>(stop + 1 - text) < length) {
    state->position = static_cast<int16_t>(stop + 1 - text);
    return 0;
  }
  state->position = static_cast<int16_t>(length);
  return separated || start != 0 ? 1 : 0;
}

int utils_str_match(const char *text, const char *pattern) {
  if (text == nullptr || pattern == nullptr) return 0;
  if (std::strstr(text, pattern) != nullptr) return 1;
  regex_t regex;
  if (regcomp(&regex, pattern, REG_EXTENDED | REG_NOSUB) != 0) return 0;
  const int found = regexec(&regex, text, 0, nullptr, 0) == 0 ? 1 : 0;
  regfree(&regex);
  return found;
}

char *utils_str_trim(char *text) {
  if (text == nullptr) return nullptr;
  const size_t length = std::strlen(text);
  size_t first = 0;
  while (first < length && text[first] == ' ') ++first;
  size_t last = length;
  while (last > first && text[last - 1] == ' ') --last;
  std::memmove(text, text + first, last - first);
  text[last - first] = '\0';
  return text;
}
