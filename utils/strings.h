// String and parameter helpers.
//
// Every routine works on NUL-terminated byte strings in caller buffers, and
// answers a bad argument with a result (-1 or null) instead of
// stopping. A size argument is the whole buffer, terminator included.
#ifndef ALERTMILL_UTILS_STRINGS_H_
#define ALERTMILL_UTILS_STRINGS_H_

#include <cstddef>

// Reads one parameter of an event request ("&eventid=17&sqlid=7"). The key
// is found by plain substring search, so callers pass it with its delimiters
// ("&sqlid="); the value runs to the next '&' or the end and is cut to
// out_size-1 characters. 0 when found (out holds the value, maybe empty);
// -1 for a missing key or bad arguments, leaving out untouched.
int utils_get_param_value(const char *params, const char *key, char *out, int out_size);

// 1 for "yes", "on" or "1" in any ASCII case; 0 for anything else and null.
int utils_str_is_true(const char *text);

// 1 for null or "", else 0.
int utils_str_is_empty(const char *text);

// atoi as glibc computes it on the 32-bit appliance, where it is strtol and
// long is as wide as int: values beyond int clamp to INT_MAX / INT_MIN
// instead of overflowing. Null reads as 0.
int utils_atoi(const char *text);

// Apply tolower/toupper to the first n bytes, NULs included; return buffer.
char *utils_str_tolower(char *buffer, int n);
char *utils_str_toupper(char *buffer, int n);

// snprintf(destination, size, "%s", source); destination, or null when a
// string is null. A size below 1 writes nothing.
char *utils_str_copy(char *destination, const char *source, int size);

// Bytes of the character at text, of which length (at least 1) bytes are
// there: a whole valid UTF-8 sequence, or 1 for ASCII and for every byte of
// a sequence that is invalid, overlong or unfinished.
size_t utils_utf8_char_bytes(const char *text, size_t length);

// The one way a text is cut: the bytes of the longest prefix of at most limit
// bytes that ends between whole characters (invalid bytes count as one
// each). length, the bytes of text there are, when not more than limit. The
// bytes past limit decide about the character that straddles it; a sequence
// still valid where the text's length ends counts as going on.
size_t utils_utf8_cut(const char *text, size_t length, size_t limit);

// snprintf that states the cut is wanted, for fixed-width fields: at most
// size - 1 bytes land in buffer, always terminated, and a cut falls between
// whole characters (utils_utf8_cut; seeing the bytes past the cut costs one
// allocation, without which the cut takes back a character that might go
// on). The compiler's truncation warning does not see through the va_list,
// which is the point.
void utils_format_cut(char *buffer, size_t size, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

// Appends source to the text already in output, every occurrence of search
// replaced by replacement, all bounded by output_size. Returns output; null
// when an argument is null, search is empty or output_size < 1.
char *utils_str_replace(const char *source, const char *search, const char *replacement,
                        char *output, int output_size);

// Removes up to 1024 occurrences of the formatted text (cut to 511
// characters) from string in place. 0, or -1 for a null string or format.
int utils_str_remove(char *string, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Removes up to 1024 parameters that begin with the formatted key (cut to
// 127 characters, normally "&name="): each up to the next '&', the last one
// to the end. 0, or -1 for a null string or format.
int utils_param_remove(char *string, const char *format, ...) __attribute__((format(printf, 2, 3)));

// Percent-encodes source into destination ("%%%02x"): bytes up to 31 always,
// the characters ";/?:@&=+$,# " too when encode_reserved is nonzero. Output
// stops before the first piece that would not fit in size-1 bytes. Returns
// destination, or null when a string is null.
char *utils_url_encode(const char *source, char *destination, int size, int encode_reserved);

// Percent-decodes string in place; '+' stays '+', a short or bad escape
// stays as written.
void utils_url_decode(char *string);

#endif  // ALERTMILL_UTILS_STRINGS_H_
