// Miscellaneous helpers: date conversions and the Persian calendar, the GSM
// WAV check, directory and disk queries, the pid-file lock, random texts,
// base64 and small text scanners.
#ifndef ALERTMILL_UTILS_MISC_H_
#define ALERTMILL_UTILS_MISC_H_

#include <cstdint>
#include <type_traits>

// ---- Dates ----

// Size of the seconds output of the two conversions below.
inline constexpr int kUtilsSecondsSize = 32;

// Parses "YYYY-MM-DD HH:MM:SS" as local time and writes the seconds since the
// epoch in decimal into out (kUtilsSecondsSize bytes). 0; -1 for a null
// argument or a text that does not parse (out is then empty).
int utils_date_to_seconds(const char *date, char *out);
// The same with 28861 seconds added before writing.
int utils_date_to_seconds_shifted(const char *date, char *out);

// Writes the Persian date of the text as "%d-%02d-%02d" into out, cut to
// size. 0; -1 for a null argument, size < 1 or a text that does not parse.
int utils_date_to_persian(const char *date, char *out, int size);

// Julian day number of Persian year, month (0 to 11) and day.
int64_t utils_persian_to_jdn(int64_t year, int month, int day);
// Persian date of a Julian day number, packed: year * 65536 + month (0 to
// 11) * 256 + day. Use the accessors below to unpack.
int64_t utils_jdn_to_persian(int64_t jdn);

constexpr int64_t utils_persian_year(int64_t packed) { return packed >> 16; }
constexpr int utils_persian_month(int64_t packed) { return static_cast<int>((packed >> 8) & 0xff); }
constexpr int utils_persian_day(int64_t packed) { return static_cast<int>(packed & 0xff); }

// ---- Files and system ----

// 1 when path names a regular file that starts as a mono 8000 Hz GSM 6.10
// WAV file ("RIFF"/"WAVE", 20-byte "fmt " chunk with tag 49, an optional
// "fact" chunk, then "data"); else 0.
int utils_wav_is_gsm(const char *path);

// Number of entries of the directory whose names begin with a decimal digit;
// 0 for a null path or a directory that cannot be opened.
int utils_count_numeric_entries(const char *dir_path);

// Free space and space available to unprivileged users of the file system
// holding path, in MiB. 0; -1 for a null argument or when statfs fails.
int utils_disk_space(const char *path, uint64_t *free_mib, uint64_t *available_mib);

// Creates (mode 0644) and write-locks the pid file, writes "<pid>\n" into it
// and keeps it open for the life of the process. Ends the process with status
// 1 when the file cannot be created or another process holds the lock.
// Returns the process id; -1 for a null path.
int utils_pidfile_lock(const char *path);

// ---- Random texts ----

// Seeds rand() with the time in seconds and writes 32 hexadecimal digits
// into out, cut to size. Returns out.
char *utils_gen_hexid(char *out, int size);

// Fills exactly length characters of out (no terminator) with letters and
// digits, retrying until the text mixes lower case, upper case and digits
// (22 draws at most). Seeds rand() with the microseconds of the time.
// 0; -1 for a null output or a negative length.
int utils_gen_alnum(char *out, int length);

// Seeds rand() with the time in seconds and writes a random text of 5 to 61
// letters and digits into out (all size bytes cleared first, the text cut to
// size - 1). Returns out; null for a null output, size < 1 or no memory.
char *utils_gen_randstr(char *out, int size);

// ---- Base64 ----

// Standard base64 of len bytes, terminated. out must hold 4 * ((len + 2) / 3)
// + 1 characters. 0; -1 for a null output, null input with len > 0 or a
// negative len.
int utils_base64_encode(char *out, const unsigned char *in, int len);

// Base64 with every output character raised by 2 ("A" -> "C", "=" -> "?"),
// not terminated. *capacity holds the room in out. With a null out the
// needed length 4 * ((len + 2) / 3) is stored in *capacity and the result is
// 0; -1 when the room is too small (or an argument is bad); otherwise the
// needed length is stored and the result is 1.
int utils_base64_encode_shifted(const unsigned char *in, int len, char *out, int *capacity);

// Reverses utils_base64_encode_shifted over len characters of in. Trailing
// "?" (shifted "=") are ignored; a lone last character carries less than a
// byte and is dropped. Any other character that is not shifted base64
// (including "?" before the end) makes the input invalid: -1 and nothing is
// stored or written. With a null out the decoded length is stored in
// *capacity and the result is 0; -1 when *capacity is smaller; otherwise the
// bytes are written, the length stored and returned.
int utils_base64_decode_shifted(const char *in, int len, unsigned char *out, int *capacity);

// ---- Text and lists ----

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

#endif  // ALERTMILL_UTILS_MISC_H_
