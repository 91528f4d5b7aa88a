#include "db/pending.h"

#include "utils/utils.h"

int pending_flags(const char *notifyflag) { return utils_atoi(notifyflag); }

PendingState pending_state(bool defined, int enabled, int flags, int mask) {
  if (!defined) return PendingState::kNoDefinition;
  if (enabled == 0) return PendingState::kNoChannel;
  if (flags >= mask) return PendingState::kDone;
  return (flags & enabled) == enabled ? PendingState::kFinishing : PendingState::kWaiting;
}
