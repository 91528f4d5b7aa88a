#include "utils/template.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "utils/strings.h"

namespace {

// Work buffers of one substitution: "name=" and "${name}" are 64 bytes, so
// names up to 60 characters are handled; a value is cut to 127 characters.
constexpr size_t kNameSize = 64;
constexpr size_t kMaxNameLength = kNameSize - 4;
constexpr size_t kValueSize = 128;

// Where text[0, at) + replacement + text[tail, length) is cut to limit
// bytes: between whole characters of the joined text.
size_t cut_joined(const char *text, size_t at, const char *replacement, size_t tail, size_t length,
                  size_t limit) {
  std::string joined(text, at);
  joined += replacement;
  joined.append(text + tail, length - tail);
  return utils_utf8_cut(joined.data(), joined.size(), limit);
}

// Replaces every occurrence of search, from the start of text, by
// replacement, going on after each inserted replacement. The text is kept to
// capacity-1 characters (cut there). *tracked, an offset into the text,
// follows the byte it names; one inside a replaced occurrence moves to where
// the replacement starts. Returns the new length.
size_t replace_bounded(char *text, size_t capacity, const char *search, const char *replacement,
                       size_t *tracked) {
  const size_t limit = capacity - 1;
  const size_t search_length = strlen(search);
  const size_t replacement_length = strlen(replacement);
  size_t length = strlen(text);
  for (size_t position = 0; position < length;) {
    const char *match = strstr(text + position, search);
    if (match == nullptr) break;
    const size_t at = static_cast<size_t>(match - text);
    const size_t tail = at + search_length;
    size_t grown = at + replacement_length + (length - tail);
    if (grown > limit) grown = cut_joined(text, at, replacement, tail, length, limit);
    const size_t moved_to = at + replacement_length;
    if (moved_to < grown) memmove(text + moved_to, text + tail, grown - moved_to);
    const size_t copied = replacement_length < grown - at ? replacement_length : grown - at;
    memcpy(text + at, replacement, copied);
    text[grown] = '\0';
    if (tracked != nullptr && *tracked >= at) {
      *tracked = *tracked >= tail ? *tracked - tail + moved_to : at;
      if (*tracked > grown) *tracked = grown;
    }
    length = grown;
    position = moved_to;
  }
  return length;
}

}  // namespace

char *utils_str_replace_all(char *buffer, const char *search, const char *replacement) {
  if (buffer == nullptr || search == nullptr || search[0] == '\0' || replacement == nullptr) {
    return nullptr;
  }
  replace_bounded(buffer, SIZE_MAX, search, replacement, nullptr);
  return buffer;
}

int utils_fill_template(char *tmpl, const char *params, int capacity) {
  if (tmpl == nullptr || params == nullptr || capacity < 1) return -1;
  const size_t size = static_cast<size_t>(capacity);
  size_t length = strnlen(tmpl, size);
  if (length == size) {
    length = utils_utf8_cut(tmpl, size, size - 1);
    tmpl[length] = '\0';
  }

  // The scan position only ever moves forward, so the loop ends within
  // `capacity` rounds whatever the values insert (their own placeholder,
  // or text that rebuilds one with its neighbours).
  for (size_t scan = 0; scan < length;) {
    const char *open = strstr(tmpl + scan, "${");
    if (open == nullptr) break;
    const size_t start = static_cast<size_t>(open - tmpl);
    const size_t resume = scan;
    scan = start + 2;

    const char *name = open + 2;
    const char *close = strchr(name, '}');
    if (close == nullptr) continue;
    const size_t name_length = static_cast<size_t>(close - name);
    if (name_length == 0 || name_length > kMaxNameLength) continue;

    char key[kNameSize];
    snprintf(key, sizeof key, "%.*s=", static_cast<int>(name_length), name);
    char value[kValueSize];
    if (utils_get_param_value(params, key, value, sizeof value) != 0 || value[0] == '\0') {
      continue;
    }
    char placeholder[kNameSize];
    snprintf(placeholder, sizeof placeholder, "${%.*s}", static_cast<int>(name_length), name);

    size_t at = start;
    length = replace_bounded(tmpl, size, placeholder, value, &at);
    scan = at + strlen(value);
    if (scan <= resume) scan = resume + 1;
  }
  return 0;
}
