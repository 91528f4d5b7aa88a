// Zone files in the TZif format (versions 1 to 4) and the lookup of the
// local time type in force at a given second.
#ifndef ALERTMILL_UTILS_TZIF_H_
#define ALERTMILL_UTILS_TZIF_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "utils/tzrule.h"

namespace tz {

struct TimeType {
  int32_t utoff = 0;
  bool isdst = false;
  std::string abbr;
};

struct LeapSecond {
  int64_t occurrence = 0;
  int64_t correction = 0;
};

// A zone: a table of transitions, and a rule for the times after it (or
// for all times when the table is empty). A rule string alone is a zone
// with no table.
struct Zone {
  std::vector<int64_t> transitions;
  std::vector<uint8_t> transition_types;
  std::vector<TimeType> types;
  std::vector<LeapSecond> leaps;
  bool has_rule = false;
  Rule rule;
};

// Largest zone file read; real ones are a few kilobytes.
inline constexpr size_t kMaxZoneFileSize = 1 << 20;

// Parses a whole zone file. False, leaving `zone` unspecified, for anything
// that is not a well-formed TZif file, including a footer rule that does not
// parse.
bool ParseTzif(const uint8_t *data, size_t size, Zone *zone);

struct Local {
  LocalType type;
  int64_t leap_correction = 0;  // seconds to subtract before breaking down
  int leap_hit = 0;             // seconds past :59 during an inserted leap second
};

Local ZoneLookup(const Zone &zone, int64_t t);

}  // namespace tz

#endif  // ALERTMILL_UTILS_TZIF_H_
