// Base64, plain and the shifted form.
#ifndef ALERTMILL_UTILS_BASE64_H_
#define ALERTMILL_UTILS_BASE64_H_

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

#endif  // ALERTMILL_UTILS_BASE64_H_
