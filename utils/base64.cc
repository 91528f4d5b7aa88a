// Base64 (RFC 4648 alphabet) and its shifted form, in which every character
// of the coded text is raised by 2.
#include "utils/base64.h"

#include <array>
#include <cstddef>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kPad = '=';
constexpr int kShift = 2;
constexpr unsigned char kInvalid = 0xff;

// Value of each coded byte, kInvalid for those outside the alphabet
// (including the pad, which only ever ends the text).
constexpr std::array<unsigned char, 256> make_decode_table() {
  std::array<unsigned char, 256> table{};
  for (auto &value : table) value = kInvalid;
  for (unsigned char i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = i;
  return table;
}
constexpr std::array<unsigned char, 256> kDecode = make_decode_table();

constexpr int encoded_length(int len) { return 4 * ((len + 2) / 3); }

// Writes encoded_length(len) characters, each raised by shift.
void encode(const unsigned char *in, int len, char *out, int shift) {
  auto put = [&out, shift](char c) { *out++ = static_cast<char>(c + shift); };
  for (int i = 0; i < len; i += 3) {
    const int left = len - i;
    const unsigned group = (unsigned{in[i]} << 16) | (left > 1 ? unsigned{in[i + 1]} << 8 : 0u) |
                           (left > 2 ? unsigned{in[i + 2]} : 0u);
    put(kAlphabet[(group >> 18) & 63]);
    put(kAlphabet[(group >> 12) & 63]);
    put(left > 1 ? kAlphabet[(group >> 6) & 63] : kPad);
    put(left > 2 ? kAlphabet[group & 63] : kPad);
  }
}

unsigned char lowered(char c) { return static_cast<unsigned char>(c - kShift); }

}  // namespace

int utils_base64_encode(char *out, const unsigned char *in, int len) {
  if (out == nullptr || len < 0 || (in == nullptr && len > 0)) return -1;
  encode(in, len, out, 0);
  out[encoded_length(len)] = '\0';
  return 0;
}

int utils_base64_encode_shifted(const unsigned char *in, int len, char *out, int *capacity) {
  // Beyond this the needed length no longer fits in an int.
  constexpr int kMaxLen = (0x7fffffff / 4) * 3 - 2;
  if (capacity == nullptr || len < 0 || len > kMaxLen || (in == nullptr && len > 0)) return -1;
  const int needed = encoded_length(len);
  if (out == nullptr) {
    *capacity = needed;
    return 0;
  }
  if (*capacity < needed) return -1;
  *capacity = needed;
  encode(in, len, out, kShift);
  return 1;
}

int utils_base64_decode_shifted(const char *in, int len, unsigned char *out, int *capacity) {
  if (capacity == nullptr || len < 0 || (in == nullptr && len > 0)) return -1;
  int coded = len;
  while (coded > 0 && lowered(in[coded - 1]) == kPad) --coded;
  for (int i = 0; i < coded; ++i) {
    if (kDecode[lowered(in[i])] == kInvalid) return -1;
  }
  const int tail = coded % 4;
  const int decoded = coded / 4 * 3 + (tail > 1 ? tail - 1 : 0);
  if (out == nullptr) {
    *capacity = decoded;
    return 0;
  }
  if (*capacity < decoded) return -1;
  *capacity = decoded;
  unsigned bits = 0;
  int bit_count = 0;
  int written = 0;
  // A lone last character (tail 1) leaves fewer than 8 bits and writes nothing.
  for (int i = 0; i < coded && written < decoded; ++i) {
    bits = (bits << 6) | kDecode[lowered(in[i])];
    bit_count += 6;
    if (bit_count >= 8) {
      bit_count -= 8;
      out[written++] = static_cast<unsigned char>(bits >> bit_count);
      bits &= (1u << bit_count) - 1;
    }
  }
  return decoded;
}
