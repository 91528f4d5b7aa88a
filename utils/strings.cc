#include "utils/strings.h"

#include <strings.h>

#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

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

// The shape of a UTF-8 sequence by its first byte: its size and the range
// of its second byte (which rules out overlong forms, surrogates and code
// points past U+10FFFF). Size 1 for ASCII and bytes that start none.
struct Lead {
  size_t size;
  unsigned char low, high;
};

Lead lead_of(unsigned char byte) {
  if (byte >= 0xC2 && byte <= 0xDF) return {2, 0x80, 0xBF};
  if (byte == 0xE0) return {3, 0xA0, 0xBF};
  if (byte == 0xED) return {3, 0x80, 0x9F};
  if (byte >= 0xE1 && byte <= 0xEF) return {3, 0x80, 0xBF};
  if (byte == 0xF0) return {4, 0x90, 0xBF};
  if (byte >= 0xF1 && byte <= 0xF3) return {4, 0x80, 0xBF};
  if (byte == 0xF4) return {4, 0x80, 0x8F};
  return {1, 0, 0};
}

// The size of the character at text, of which length bytes are known, and
// whether the known bytes end while the sequence is still valid.
size_t sequence_at(const char *text, size_t length, bool *unfinished) {
  *unfinished = false;
  const auto *bytes = reinterpret_cast<const unsigned char *>(text);
  const Lead lead = lead_of(bytes[0]);
  for (size_t i = 1; i < lead.size; ++i) {
    if (i == length) {
      *unfinished = true;
      return lead.size;
    }
    bool fits = i == 1 ? bytes[i] >= lead.low && bytes[i] <= lead.high : (bytes[i] & 0xC0) == 0x80;
    if (!fits) return 1;
  }
  return lead.size;
}

// utils_utf8_cut's walk; known may equal limit when the bytes past the cut
// are not at hand.
size_t whole_characters(const char *text, size_t known, size_t limit) {
  size_t at = 0;
  bool unfinished = false;
  while (at < known) {
    size_t size = sequence_at(text + at, known - at, &unfinished);
    if (at + size > limit) break;
    at += size;
  }
  return at;
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
  length = utils_utf8_cut(value, length, static_cast<size_t>(out_size) - 1);
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

size_t utils_utf8_char_bytes(const char *text, size_t length) {
  if (text == nullptr || length == 0) return 0;
  bool unfinished = false;
  size_t size = sequence_at(text, length, &unfinished);
  return unfinished ? 1 : size;
}

size_t utils_utf8_cut(const char *text, size_t length, size_t limit) {
  if (text == nullptr || length <= limit) return length;
  return whole_characters(text, length, limit);
}

void utils_format_cut(char *buffer, size_t size, const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  va_list again;
  va_copy(again, arguments);
  int formatted = vsnprintf(buffer, size, format, arguments);
  va_end(arguments);
  if (formatted >= 0 && size > 0 && static_cast<size_t>(formatted) >= size) {
    const size_t full_size = static_cast<size_t>(formatted) + 1;
    std::unique_ptr<char[]> full(new (std::nothrow) char[full_size]);
    size_t kept = size - 1;
    if (full) {
      vsnprintf(full.get(), full_size, format, again);
      kept = utils_utf8_cut(full.get(), full_size - 1, kept);
    } else {
      kept = whole_characters(buffer, kept, kept);
    }
    buffer[kept] = '\0';
  }
  va_end(again);
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
