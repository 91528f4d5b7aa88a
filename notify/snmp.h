// The SNMP trap channel: "eventtrap" of the appliance's SNMP agent.
#ifndef ALERTMILL_NOTIFY_SNMP_H_
#define ALERTMILL_NOTIFY_SNMP_H_

#include "notify/registry.h"

// 0 when the channel is done with the event, -1 when it is not (already
// sent, the agent is not running or its check could not be made, or the
// command failed, hung or could not run), so that the row keeps the alarm.
int snmp_send(const NotifyData *data);

// 1 when the agent process snmp-mib shows in the process list, else 0.
int snmp_agent_running(void);

#endif  // ALERTMILL_NOTIFY_SNMP_H_
