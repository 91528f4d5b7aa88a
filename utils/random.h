// Random texts: hexadecimal ids and letter-and-digit strings.
#ifndef ALERTMILL_UTILS_RANDOM_H_
#define ALERTMILL_UTILS_RANDOM_H_

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

#endif  // ALERTMILL_UTILS_RANDOM_H_
