// The rule-string parser on arbitrary text, then lookups of what parsed.
#include <cstddef>
#include <cstdint>

#include "utils/tzrule.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  tz::Rule rule;
  if (!tz::ParseRule(reinterpret_cast<const char *>(data), size, &rule)) return 0;
  if (rule.needs_dates) tz::SetFallbackDates(&rule);
  constexpr int64_t kLimit = int64_t{1} << 59;
  const int64_t probes[] = {-kLimit, -2177452800, -1, 1, 1700000000, 4133980799, kLimit};
  for (int64_t t : probes) {
    const tz::LocalType local = tz::RuleLookup(rule, t);
    // Offsets stay within a day either way.
    if (local.utoff > 25 * 3600 || local.utoff < -25 * 3600) __builtin_trap();
  }
  return 0;
}
