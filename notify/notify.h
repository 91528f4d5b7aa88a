// The notification channels: what the other subsystems use from notify, the
// registry and the registration of the appliance's channels. The channel
// machinery, the modules and the alarm text stay inside.
#ifndef ALERTMILL_NOTIFY_NOTIFY_H_
#define ALERTMILL_NOTIFY_NOTIFY_H_

#include "notify/appliance.h"
#include "notify/backlog.h"
#include "notify/registry.h"

#endif  // ALERTMILL_NOTIFY_NOTIFY_H_
