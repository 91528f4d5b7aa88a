// Input: a capacity selector byte, then "key\nparams\ntemplate". The
// template sits in a heap block of exactly its capacity, so any write past
// the field is caught.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>

#include "utils/utils.h"

namespace {

constexpr int kCapacities[] = {256, 512, 1, 2, 8, 64};

std::string next_part(const char *&data, const char *end) {
  const char *stop = static_cast<const char *>(memchr(data, '\n', static_cast<size_t>(end - data)));
  if (stop == nullptr) stop = end;
  std::string part(data, stop);
  data = stop < end ? stop + 1 : end;
  return part.c_str();  // cut at an embedded NUL, like the callers' texts
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size) {
  if (size < 1) return 0;
  const int capacity = kCapacities[bytes[0] % std::size(kCapacities)];
  const char *data = reinterpret_cast<const char *>(bytes + 1);
  const char *end = reinterpret_cast<const char *>(bytes + size);
  std::string key = next_part(data, end);
  std::string params = next_part(data, end);
  std::string tmpl(data, end);

  const int out_size = 1 + bytes[0] % 64;
  std::unique_ptr<char[]> out(new char[static_cast<size_t>(out_size)]);
  if (utils_get_param_value(params.c_str(), key.c_str(), out.get(), out_size) == 0 &&
      strnlen(out.get(), static_cast<size_t>(out_size)) >= static_cast<size_t>(out_size)) {
    __builtin_trap();
  }

  std::unique_ptr<char[]> field(new char[static_cast<size_t>(capacity)]);
  memset(field.get(), 0, static_cast<size_t>(capacity));
  memcpy(field.get(), tmpl.data(), std::min(tmpl.size(), static_cast<size_t>(capacity)));
  if (utils_fill_template(field.get(), params.c_str(), capacity) != 0) __builtin_trap();
  if (strnlen(field.get(), static_cast<size_t>(capacity)) >= static_cast<size_t>(capacity)) {
    __builtin_trap();
  }
  return 0;
}
