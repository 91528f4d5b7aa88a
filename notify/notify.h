// The notification channels: everything the other subsystems use from notify.
#ifndef ALERTMILL_NOTIFY_NOTIFY_H_
#define ALERTMILL_NOTIFY_NOTIFY_H_

#include "notify/alarm.h"
#include "notify/channel.h"
#include "notify/email.h"
#include "notify/registry.h"
#include "notify/sms.h"
#include "notify/snmp.h"

#endif  // ALERTMILL_NOTIFY_NOTIFY_H_
