#include "utils/strings.h"

#include <strings.h>

#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Limits of the remove routines: formatted search text and key sizes, and
// the most removals one call makes.
constexpr int kRemoveTextSize = 512;
constexpr int kParamKeySize = 128;
constexpr int kMaxRemovals = 1024;

// Closes the gap of `count` bytes at `at`, terminator included.
void close_gap(char *at, size_t count) { memmove(at, at + count, strlen(at + count) + 1); }

// Copies up to `count` bytes of `text` behind the terminated text in
// `output`, never past `size`; false once the output is full.
bool append(char *output, size_t size, const char *text, size_t count) {
  size_t used = strnlen(output, size);
  if (used + 1 >= size) return false;
  size_t room = size - 1 - used;
  size_t n = count < room ? count : room;
  memcpy(output + used, text, n);
  output[used + n] = '\0';
  return n == count;
}

// Formats the search text into `search`, then finds it at most 1024 times,
// each search starting where the last removal was; `remove` closes the gap
// at a match and says whether to go on. An empty search text removes
// nothing.
template <typename Remove>
__attribute__((format(printf, 4, 0))) void remove_each(char *string, char *search, size_t size,
                                                       const char *format, va_list arguments,
                                                       Remove remove) {
  int formatted = vsnprintf(search, size, format, arguments);
  if (formatted <= 0 || search[0] == '\0') return;
  char *position = string;
  for (int i = 0; i < kMaxRemovals && (position = strstr(position, search)) != nullptr; ++i) {
    if (!remove(position)) break;
  }
}

template <typename Transform>
char *transform_bytes(char *buffer, int n, Transform transform) {
  if (buffer == nullptr) return nullptr;
  for (int i = 0; i < n; ++i) {
    buffer[i] = static_cast<char>(transform(static_cast<unsigned char>(buffer[i])));
  }
  return buffer;
}

bool needs_encoding(unsigned char byte, bool encode_reserved) {
  if (byte <= 31) return true;
  return encode_reserved && byte != '\0' && strchr(";/?:@&=+$,# ", byte) != nullptr;
}

}  // namespace

int utils_get_param_value(const char *params, const char *key, char *out, int out_size) {
  if (utils_str_is_empty(params) || utils_str_is_empty(key) || out == nullptr || out_size < 1) {
    return -1;
  }
  const char *found = strstr(params, key);
  if (found == nullptr) return -1;
  const char *value = found + strlen(key);
  size_t length = strcspn(value, "&");
  size_t limit = static_cast<size_t>(out_size) - 1;
  if (length > limit) length = limit;
  memcpy(out, value, length);
  out[length] = '\0';
  return 0;
}

int utils_str_is_true(const char *text) {
  if (utils_str_is_empty(text)) return 0;
  return strcasecmp(text, "yes") == 0 || strcasecmp(text, "on") == 0 || strcmp(text, "1") == 0;
}

int utils_str_is_empty(const char *text) { return text == nullptr || text[0] == '\0'; }

char *utils_str_tolower(char *buffer, int n) { return transform_bytes(buffer, n, ::tolower); }

char *utils_str_toupper(char *buffer, int n) { return transform_bytes(buffer, n, ::toupper); }

char *utils_str_copy(char *destination, const char *source, int size) {
  if (destination == nullptr || source == nullptr) return nullptr;
  if (size >= 1) utils_format_cut(destination, static_cast<size_t>(size), "%s", source);
  return destination;
}

void utils_format_cut(char *buffer, size_t size, const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(buffer, size, format, arguments);
  va_end(arguments);
}

char *utils_str_replace(const char *source, const char *search, const char *replacement,
                        char *output, int output_size) {
  if (source == nullptr || utils_str_is_empty(search) || replacement == nullptr ||
      output == nullptr || output_size < 1) {
    return nullptr;
  }
  size_t size = static_cast<size_t>(output_size);
  size_t search_length = strlen(search);
  size_t replacement_length = strlen(replacement);
  const char *position = source;
  for (const char *match; (match = strstr(position, search)) != nullptr;
       position = match + search_length) {
    if (!append(output, size, position, static_cast<size_t>(match - position)) ||
        !append(output, size, replacement, replacement_length)) {
      return output;
    }
  }
  append(output, size, position, strlen(position));
  return output;
}

int utils_str_remove(char *string, const char *format, ...) {
  if (string == nullptr || format == nullptr) return -1;
  char search[kRemoveTextSize];
  va_list arguments;
  va_start(arguments, format);
  remove_each(string, search, sizeof search, format, arguments, [&search](char *match) {
    close_gap(match, strlen(search));
    return true;
  });
  va_end(arguments);
  return 0;
}

int utils_param_remove(char *string, const char *format, ...) {
  if (string == nullptr || format == nullptr) return -1;
  char key[kParamKeySize];
  va_list arguments;
  va_start(arguments, format);
  // A parameter runs to the next '&'; the last one, to the end.
  remove_each(string, key, sizeof key, format, arguments, [](char *match) {
    char *next = strchr(match + 1, '&');
    if (next == nullptr) {
      *match = '\0';
      return false;
    }
    close_gap(match, static_cast<size_t>(next - match));
    return true;
  });
  va_end(arguments);
  return 0;
}

char *utils_url_encode(const char *source, char *destination, int size, int encode_reserved) {
  if (source == nullptr || destination == nullptr) return nullptr;
  if (size < 1) return destination;
  size_t limit = static_cast<size_t>(size) - 1;
  size_t used = 0;
  for (const unsigned char *byte = reinterpret_cast<const unsigned char *>(source); *byte != 0;
       ++byte) {
    if (needs_encoding(*byte, encode_reserved != 0)) {
      if (used + 3 > limit) break;
      snprintf(destination + used, 4, "%%%02x", *byte);
      used += 3;
    } else {
      if (used + 1 > limit) break;
      destination[used++] = static_cast<char>(*byte);
    }
  }
  destination[used] = '\0';
  return destination;
}

void utils_url_decode(char *string) {
  if (string == nullptr) return;
  char *write = string;
  const char *read = string;
  while (*read != '\0') {
    unsigned int value = 0;
    // sscanf rather than a hand-made hex parser: the byte it yields for odd
    // escapes ("%-1", "% f") is the one the senders' tools expect.
    if (read[0] == '%' && read[1] != '\0' && read[2] != '\0' &&
        sscanf(read + 1, "%2x", &value) == 1) {
      *write++ = static_cast<char>(value & 0xffu);
      read += 3;
    } else {
      *write++ = *read++;
    }
  }
  *write = '\0';
}

int utils_atoi(const char *text) {
  if (text == nullptr) return 0;
  long value = strtol(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}
