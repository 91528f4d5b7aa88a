#include "utils/retry.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "utils/calendar.h"

namespace {

constexpr int kMaxDivisor = 100000;

int64_t now_seconds() { return static_cast<int64_t>(std::time(nullptr)); }

}  // namespace

int utils_retry_divisor(void) {
  const char *root = std::getenv("ALERTMILL_ROOT");
  const char *wanted = std::getenv("ALERTMILL_RETRY_DIVISOR");
  if (root == nullptr || *root == '\0' || wanted == nullptr) return 1;
  int divisor = std::atoi(wanted);
  return divisor >= 1 && divisor <= kMaxDivisor ? divisor : 1;
}

std::chrono::milliseconds utils_retry_delay(int failed_tries) {
  std::chrono::milliseconds delay = kRetryLimits.first_delay;
  for (int tries = 1; tries < failed_tries && delay < kRetryLimits.longest_delay; ++tries) {
    delay *= 2;
  }
  if (delay > kRetryLimits.longest_delay) delay = kRetryLimits.longest_delay;
  return delay / utils_retry_divisor();
}

bool utils_retry_exhausted(int failed_tries, int64_t born) {
  return failed_tries >= kRetryLimits.attempts || now_seconds() - born >= kRetryLimits.age_seconds;
}

int64_t utils_retry_born(const char *local_time) {
  char seconds[kUtilsSecondsSize];
  long long born = 0;
  if (utils_date_to_seconds(local_time, seconds) != 0 || std::sscanf(seconds, "%lld", &born) != 1) {
    return now_seconds();
  }
  return born;
}
