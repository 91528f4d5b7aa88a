// The zone file reader on arbitrary bytes, then lookups across the range
// of times a caller can ask for.
#include <cstddef>
#include <cstdint>

#include "utils/tzif.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  tz::Zone zone;
  if (!tz::ParseTzif(data, size, &zone)) return 0;
  constexpr int64_t kLimit = int64_t{1} << 59;
  const int64_t probes[] = {-kLimit, -2177452800, -1, 1, 1700000000, 4133980799, kLimit};
  for (int64_t t : probes) {
    const tz::Local local = tz::ZoneLookup(zone, t);
    if (local.type.abbr != nullptr && local.type.abbr->size() > size) __builtin_trap();
  }
  for (int64_t t : zone.transitions) {
    if (t > -kLimit && t < kLimit) tz::ZoneLookup(zone, t);
  }
  return 0;
}
