// Small text scanners: equality, list membership, key lines, separated
// items, matching and trimming.
#ifndef ALERTMILL_UTILS_TEXTSCAN_H_
#define ALERTMILL_UTILS_TEXTSCAN_H_

#include <cstdint>
#include <type_traits>

// 1 when both are null or both are equal strings; else 0.
int utils_str_equal(const char *a, const char *b);

// 0 when item is a whole item of the separated list; -1 otherwise, and for a
// null list or item or an empty item.
int utils_find_token(const char *list, char separator, const char *item);

// Copies what follows the first occurrence of key up to the end of its line
// ("\n" or end of text), at most 1023 characters, into out cut to size.
// 0; -1 for a null argument, an empty key, size < 1 or a missing key.
int utils_get_line_value(const char *text, const char *key, char *out, int size);

// Size of the item and value outputs of utils_next_token.
inline constexpr int kUtilsTokenSize = 512;

struct utils_token_state {
  char separator;
  char kv_separator;  // used when split is 1
  int16_t split;      // 1: each item is split at kv_separator into item and value
  int16_t position;   // index of the next item; 0 at the start
};
static_assert(std::is_trivially_copyable_v<utils_token_state>);

// Takes the next item of text at state->position into item (and, when
// splitting, its value into value; both kUtilsTokenSize bytes, cleared first,
// parts cut to 511 characters). 0 when an item was taken and more follow, or
// when the whole text was one item; 1 when the last item was taken; -1 when
// there is nothing to take (also for null arguments, a position outside the
// text and texts of 32768 characters or more). When splitting, an item
// followed by a separator but holding no kv_separator gives 1 at once and the
// position stays on it.
int utils_next_token(const char *text, utils_token_state *state, char *item, char *value);

// 1 when pattern occurs in text as a plain substring or as a POSIX extended
// regular expression; else 0 (also for null arguments).
int utils_str_match(const char *text, const char *pattern);

// Removes leading and trailing spaces in place; returns text.
char *utils_str_trim(char *text);

#endif  // ALERTMILL_UTILS_TEXTSCAN_H_
