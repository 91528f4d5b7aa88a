// The retry schedule: how often, how long and how much work that could not
// be done is tried again while the daemon runs. The channels retry
// deliveries and the main loop retries requests whose definition could not
// be read, all on these figures.
#ifndef ALERTMILL_UTILS_RETRY_H_
#define ALERTMILL_UTILS_RETRY_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>

#include "utils/queue.h"

// The limits, in one place (README, "Delivery guarantees", states them).
struct RetryLimits {
  std::chrono::seconds first_delay;    // after the first failed try
  std::chrono::seconds longest_delay;  // the doubling stops here
  int attempts;                        // given up after this many failed tries
  int64_t age_seconds;                 // or once the work is this old
  int bound;                           // pending rows, and records kept in memory
};

inline constexpr RetryLimits kRetryLimits{std::chrono::seconds(30), std::chrono::minutes(60), 24,
                                          7 * 24 * 3600, 1000};

// Divides every delay, for tests only: read from ALERTMILL_RETRY_DIVISOR
// when ALERTMILL_ROOT is set and not empty, and only ever shortens (values
// outside 1 to 100000 count as 1).
int utils_retry_divisor(void);

// The wait after failed_tries failed tries (1 for the first): 30 s, then
// doubling, at most 60 minutes; divided by utils_retry_divisor.
std::chrono::milliseconds utils_retry_delay(int failed_tries);

// True when work first seen at born (seconds since the epoch) that has
// failed failed_tries times is to be given up now.
bool utils_retry_exhausted(int failed_tries, int64_t born);

// The seconds since the epoch of a "YYYY-MM-DD HH:MM:SS" local time, such as
// a pending row's happentime; the present moment for null or a text that
// does not parse.
int64_t utils_retry_born(const char *local_time);

// Work waiting for its next try: Item with its failed tries and birth, in the
// order its tries fall due. Owned by one thread; nothing is locked.
template <typename Item>
class RetrySchedule {
 public:
  struct Entry {
    Item item;
    int failed_tries;
    int64_t born;
  };

  // Keeps entry until its next try is due, utils_retry_delay of its failed
  // tries from now.
  void add(Entry entry) {
    entries_.emplace(std::chrono::steady_clock::now() + utils_retry_delay(entry.failed_tries),
                     std::move(entry));
  }

  size_t size() const { return entries_.size(); }
  // When the earliest try falls due; nothing when no entry waits.
  std::optional<SteadyTime> next_due() const {
    if (entries_.empty()) return std::nullopt;
    return entries_.begin()->first;
  }
  bool due() const {
    return !entries_.empty() && entries_.begin()->first <= std::chrono::steady_clock::now();
  }
  // Whether the next turn goes to a due retry rather than to new work that
  // waits (new_waiting): they take turns, so neither holds the other up.
  bool retry_turn(bool new_waiting) {
    last_was_retry_ = due() && (!new_waiting || !last_was_retry_);
    return last_was_retry_;
  }
  // Takes the entry that fell due first; call when due().
  Entry take_due() { return take(entries_.begin()); }
  // Takes the entry of the earliest birth (for the bound); call when not
  // empty.
  Entry take_oldest() {
    auto oldest = entries_.begin();
    for (auto at = entries_.begin(); at != entries_.end(); ++at) {
      if (at->second.born < oldest->second.born) oldest = at;
    }
    return take(oldest);
  }

 private:
  using Entries = std::multimap<SteadyTime, Entry>;
  Entry take(typename Entries::iterator at) {
    Entry entry = std::move(at->second);
    entries_.erase(at);
    return entry;
  }
  Entries entries_;
  bool last_was_retry_ = false;
};

#endif  // ALERTMILL_UTILS_RETRY_H_
