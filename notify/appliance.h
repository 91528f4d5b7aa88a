// The appliance's channels: e-mail, SMS and SNMP trap.
#ifndef ALERTMILL_NOTIFY_APPLIANCE_H_
#define ALERTMILL_NOTIFY_APPLIANCE_H_

// Registers the three channels, in this order, each with its queue and
// worker (none started). 0; -1 when one could not be registered. Once, on
// the main thread, before notify_method_start_all.
int notify_register_channels(void);

#endif  // ALERTMILL_NOTIFY_APPLIANCE_H_
