// The shifted base64 decoder on arbitrary text and capacities, and the
// shifted pair on arbitrary bytes. The input buffer is exactly sized, so a
// read past it or a write past the capacity is caught by the sanitizer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "utils/utils.h"

namespace {

// Exactly the capacity, but never an empty vector: its null data() would turn
// a call into a length query.
size_t buffer_size(int capacity) { return capacity > 0 ? static_cast<size_t>(capacity) : 1; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1 || size > 1 << 16) return 0;
  const int slack = data[0] % 8;  // capacities around the needed one
  const char *text = reinterpret_cast<const char *>(data + 1);
  const int len = static_cast<int>(size - 1);

  int needed = 0;
  if (utils_base64_decode_shifted(text, len, nullptr, &needed) == 0) {
    if (needed < 0 || needed > len) std::abort();
    const int room = needed - 4 + slack;
    std::vector<unsigned char> out(buffer_size(room));
    int capacity = room;
    const int result = utils_base64_decode_shifted(text, len, out.data(), &capacity);
    if (room < needed ? result != -1 || capacity != room : result != needed || capacity != needed) {
      std::abort();
    }
  } else if (utils_base64_decode_shifted(text, len, nullptr, &needed) != -1) {
    std::abort();
  }

  int coded_len = 0;
  utils_base64_encode_shifted(data + 1, len, nullptr, &coded_len);
  std::vector<char> coded(buffer_size(coded_len));
  if (utils_base64_encode_shifted(data + 1, len, coded.data(), &coded_len) <= 0) std::abort();
  int decoded_len = len;
  std::vector<unsigned char> decoded(buffer_size(len));
  if (utils_base64_decode_shifted(coded.data(), coded_len, decoded.data(), &decoded_len) != len ||
      std::memcmp(decoded.data(), data + 1, static_cast<size_t>(len)) != 0) {
    std::abort();
  }
  return 0;
}
