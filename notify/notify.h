// The notification channels: everything the other subsystems use from notify.
// The queue-and-worker machinery (notify/channel.h) stays inside.
#ifndef ALERTMILL_NOTIFY_NOTIFY_H_
#define ALERTMILL_NOTIFY_NOTIFY_H_

#include "notify/alarm.h"
#include "notify/backlog.h"
#include "notify/channels.h"
#include "notify/registry.h"

#endif  // ALERTMILL_NOTIFY_NOTIFY_H_
