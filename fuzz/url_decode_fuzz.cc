// Decodes arbitrary text in a heap block of exactly its size; text without
// '%' must also survive an encode and decode unchanged.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "utils/utils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size) {
  std::string text(reinterpret_cast<const char *>(bytes), size);
  text = text.c_str();

  std::unique_ptr<char[]> decoded(new char[text.size() + 1]);
  memcpy(decoded.get(), text.c_str(), text.size() + 1);
  utils_url_decode(decoded.get());
  if (strlen(decoded.get()) > text.size()) __builtin_trap();

  if (text.find('%') != std::string::npos || text.size() > 4096) return 0;
  const int encoded_size = static_cast<int>(text.size() * 3 + 1);
  std::unique_ptr<char[]> encoded(new char[static_cast<size_t>(encoded_size)]);
  for (int reserved = 0; reserved < 2; ++reserved) {
    utils_url_encode(text.c_str(), encoded.get(), encoded_size, reserved);
    utils_url_decode(encoded.get());
    if (text != encoded.get()) __builtin_trap();
  }
  return 0;
}
