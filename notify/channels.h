// The notification channels, declared once.
#ifndef ALERTMILL_NOTIFY_CHANNELS_H_
#define ALERTMILL_NOTIFY_CHANNELS_H_

#include "db/event_tables.h"
#include "notify/email.h"
#include "notify/registry.h"
#include "notify/sms.h"
#include "notify/snmp.h"
#include "utils/strings.h"

// One channel. Definition is the row an event's definition is read into
// (EventListRow, or any row carrying the same switch columns).
template <typename Definition>
struct NotifyChannel {
  const char *name;                        // its registered NotifyMethod name
  int flag;                                // its notify flag bit
  int (*deliver)(const NotifyData *data);  // 0 when done with the event
  const char *word;                        // names it in console lines and listings
  char (Definition::*column)[8];           // the definition's yes/no switch for it
};

// The channels in registration order. Registration, the queue and worker of
// each, the needflag and the enabled mask all follow from this table: adding
// a channel is one new delivery module plus one line here.
template <typename Definition>
inline constexpr NotifyChannel<Definition> kNotifyChannels[] = {
    {"EMAIL", kNotifyEmail, email_send, "email", &Definition::emailnotify},
    {"SMS", kNotifySms, sms_send, "sms", &Definition::smsnotify},
    {"SNMP", kNotifySnmp, snmp_send, "snmp", &Definition::snmpnotify},
};

// The channels that a definition enables: each one whose switch is a yes.
template <typename Definition>
int notify_needflag(const Definition &definition) {
  int flags = 0;
  for (const NotifyChannel<Definition> &channel : kNotifyChannels<Definition>) {
    if (utils_str_is_true(definition.*channel.column)) flags |= channel.flag;
  }
  return flags;
}

// The word of the channel of flag; "" for a flag of no channel.
const char *notify_channel_word(int flag);

// Registers every channel of the table, in its order, with a queue and
// worker of its own. Once, from the registry's static initialiser.
int notify_register_channels(void);

// The channels' operations under their own names: submit queues a copy for
// the worker (0; -1 refused), start creates the worker.
int email_submit(const NotifyData *data);
int sms_submit(const NotifyData *data);
int snmp_submit(const NotifyData *data);
void email_start(void);
void sms_start(void);
void snmp_start(void);

#endif  // ALERTMILL_NOTIFY_CHANNELS_H_
