#include "utils/tzif.h"

#include <algorithm>
#include <cstring>

namespace tz {
namespace {

constexpr size_t kHeaderSize = 44;
constexpr size_t kMaxTypes = 256;  // type indexes are one byte
// Leap corrections stay far below this; the bound keeps arithmetic safe.
constexpr int64_t kMaxLeapCorrection = 1 << 20;

// Bounded big-endian reader: every Take checks what is left first.
class Reader {
 public:
  Reader(const uint8_t *data, size_t size) : p_(data), left_(size) {}
  size_t left() const { return left_; }
  const uint8_t *Take(uint64_t n) {
    if (n > left_) return nullptr;
    const uint8_t *at = p_;
    p_ += n;
    left_ -= static_cast<size_t>(n);
    return at;
  }
  bool U32(uint32_t *value) {
    const uint8_t *b = Take(4);
    if (b == nullptr) return false;
    *value = (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
    return true;
  }
  // A signed time of `width` bytes (4 or 8).
  bool Time(int width, int64_t *value) {
    uint32_t high = 0;
    uint32_t low = 0;
    if (width == 8 && !U32(&high)) return false;
    if (!U32(&low)) return false;
    if (width == 8) {
      *value = static_cast<int64_t>((uint64_t{high} << 32) | low);
    } else {
      *value = static_cast<int32_t>(low);
    }
    return true;
  }

 private:
  const uint8_t *p_;
  size_t left_;
};

struct Header {
  char version = 0;
  uint32_t isutcnt = 0;
  uint32_t isstdcnt = 0;
  uint32_t leapcnt = 0;
  uint32_t timecnt = 0;
  uint32_t typecnt = 0;
  uint32_t charcnt = 0;

  // Bytes of the data block that follows, for times of `width` bytes. The
  // counts are 32-bit, so 64-bit arithmetic cannot overflow.
  uint64_t DataSize(int width) const {
    return uint64_t{timecnt} * width + timecnt + uint64_t{typecnt} * 6 + charcnt +
           uint64_t{leapcnt} * (width + 4) + isstdcnt + isutcnt;
  }
};

bool ReadHeader(Reader *in, Header *header) {
  const uint8_t *b = in->Take(kHeaderSize - 24);
  if (b == nullptr || std::memcmp(b, "TZif", 4) != 0) return false;
  header->version = static_cast<char>(b[4]);
  if (header->version != 0 && header->version < '2') return false;
  return in->U32(&header->isutcnt) && in->U32(&header->isstdcnt) && in->U32(&header->leapcnt) &&
         in->U32(&header->timecnt) && in->U32(&header->typecnt) && in->U32(&header->charcnt);
}

bool ReadData(Reader *in, const Header &h, int width, Zone *zone) {
  if (h.typecnt == 0 || h.typecnt > kMaxTypes || h.charcnt == 0) return false;
  if ((h.isutcnt != 0 && h.isutcnt != h.typecnt) || (h.isstdcnt != 0 && h.isstdcnt != h.typecnt))
    return false;
  if (h.DataSize(width) > in->left()) return false;

  zone->transitions.resize(h.timecnt);
  for (uint32_t i = 0; i < h.timecnt; ++i) {
    if (!in->Time(width, &zone->transitions[i])) return false;
    if (i > 0 && zone->transitions[i] <= zone->transitions[i - 1]) return false;
  }
  const uint8_t *indexes = in->Take(h.timecnt);
  if (indexes == nullptr) return false;
  zone->transition_types.assign(indexes, indexes + h.timecnt);
  for (uint8_t index : zone->transition_types) {
    if (index >= h.typecnt) return false;
  }

  const uint8_t *records = in->Take(uint64_t{h.typecnt} * 6);
  const uint8_t *chars = in->Take(h.charcnt);
  if (records == nullptr || chars == nullptr) return false;
  zone->types.resize(h.typecnt);
  for (uint32_t i = 0; i < h.typecnt; ++i) {
    const uint8_t *r = records + i * 6;
    const int32_t utoff = static_cast<int32_t>((uint32_t{r[0]} << 24) | (uint32_t{r[1]} << 16) |
                                               (uint32_t{r[2]} << 8) | r[3]);
    const uint8_t isdst = r[4];
    const uint8_t abbrind = r[5];
    // -2**31 has no negation; the abbreviation must end inside the block.
    if (utoff == INT32_MIN || isdst > 1 || abbrind >= h.charcnt) return false;
    const void *nul = std::memchr(chars + abbrind, '\0', h.charcnt - abbrind);
    if (nul == nullptr) return false;
    zone->types[i].utoff = utoff;
    zone->types[i].isdst = isdst != 0;
    zone->types[i].abbr.assign(reinterpret_cast<const char *>(chars + abbrind),
                               static_cast<const uint8_t *>(nul) - (chars + abbrind));
  }

  zone->leaps.resize(h.leapcnt);
  for (uint32_t i = 0; i < h.leapcnt; ++i) {
    uint32_t correction = 0;
    LeapSecond &leap = zone->leaps[i];
    if (!in->Time(width, &leap.occurrence) || !in->U32(&correction)) return false;
    leap.correction = static_cast<int32_t>(correction);
    if (leap.correction > kMaxLeapCorrection || leap.correction < -kMaxLeapCorrection) return false;
    if (i > 0 && leap.occurrence <= zone->leaps[i - 1].occurrence) return false;
  }

  const uint8_t *indicators = in->Take(uint64_t{h.isstdcnt} + h.isutcnt);
  if (indicators == nullptr) return false;
  return std::all_of(indicators, indicators + h.isstdcnt + h.isutcnt,
                     [](uint8_t flag) { return flag <= 1; });
}

// "\n" rule "\n" after the version 2+ data; an empty rule means none.
bool ReadFooter(Reader *in, Zone *zone) {
  const uint8_t *open = in->Take(1);
  if (open == nullptr || *open != '\n') return false;
  const size_t left = in->left();
  const uint8_t *text = in->Take(left);
  const void *close = std::memchr(text, '\n', left);
  if (close == nullptr) return false;
  const size_t length = static_cast<const uint8_t *>(close) - text;
  if (length == 0) return true;
  if (!ParseRule(reinterpret_cast<const char *>(text), length, &zone->rule)) return false;
  // A footer cannot defer to another file for its dates.
  if (zone->rule.needs_dates) return false;
  zone->has_rule = true;
  return true;
}

}  // namespace

bool ParseTzif(const uint8_t *data, size_t size, Zone *zone) {
  if (data == nullptr || zone == nullptr || size > kMaxZoneFileSize) return false;
  *zone = Zone();
  Reader in(data, size);
  Header header;
  if (!ReadHeader(&in, &header)) return false;
  if (header.version == 0) return ReadData(&in, header, 4, zone);
  // Version 2 and later repeat everything with 64-bit times after the
  // 32-bit block, which only old readers need.
  if (in.Take(header.DataSize(4)) == nullptr) return false;
  if (!ReadHeader(&in, &header) || header.version == 0) return false;
  return ReadData(&in, header, 8, zone) && ReadFooter(&in, zone);
}

Local ZoneLookup(const Zone &zone, int64_t t) {
  Local local;
  const auto &times = zone.transitions;
  if ((times.empty() || t >= times.back()) && zone.has_rule) {
    local.type = RuleLookup(zone.rule, t);
  } else if (!zone.types.empty()) {
    // Before the first transition the file's first type applies.
    size_t index = 0;
    const auto after = std::upper_bound(times.begin(), times.end(), t);
    if (after != times.begin()) index = zone.transition_types[after - times.begin() - 1];
    const TimeType &type = zone.types[index];
    local.type = LocalType{type.utoff, type.isdst, &type.abbr};
  }

  const auto &leaps = zone.leaps;
  auto next = std::upper_bound(
      leaps.begin(), leaps.end(), t,
      [](int64_t value, const LeapSecond &leap) { return value < leap.occurrence; });
  if (next == leaps.begin()) return local;
  size_t i = next - leaps.begin() - 1;
  local.leap_correction = leaps[i].correction;
  // At the very second a leap second is inserted the clock reads :60; a
  // run of consecutive insertions reads further.
  const int64_t before = i == 0 ? 0 : leaps[i - 1].correction;
  if (t == leaps[i].occurrence && leaps[i].correction > before) {
    local.leap_hit = 1;
    while (i > 0 && leaps[i].occurrence == leaps[i - 1].occurrence + 1 &&
           leaps[i].correction == leaps[i - 1].correction + 1) {
      ++local.leap_hit;
      --i;
    }
  }
  return local;
}

}  // namespace tz
