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

// The channel's queue and worker: submit queues a copy for the worker (0;
// -1 refused), start creates the worker, which delivers for ever.
int snmp_submit(const NotifyData *data);
void snmp_start(void);
void *snmp_worker(void *unused);  // takes a null argument, never returns

// Registers the channel with the registry. 0; -1 when it cannot be.
int snmp_register(void);

#endif  // ALERTMILL_NOTIFY_SNMP_H_
