// The SMS channel: "sendsms" of the appliance's SMS service, which reads the
// message from a file.
#ifndef ALERTMILL_NOTIFY_SMS_H_
#define ALERTMILL_NOTIFY_SMS_H_

#include "notify/registry.h"

// 0 when the channel is done with the event, -1 when it is not (already
// sent, SMS file not wholly written, no group file, or the command failed,
// hung or answered with an error).
int sms_send(const NotifyData *data);

// Writes the SMS file afresh. 0; -1, logged, when it cannot be created or
// not wholly written and closed.
int sms_write_file(const char *subject, const char *context);

// Sends the SMS file to the group of the group file. -1 when the group file
// is missing, the command fails, hangs or cannot run, or the service answers
// with "error"; else 0, also when the group is invalid and nothing was sent.
int sms_send_to_group(void);

// Removes the SMS file when it exists. 0.
int sms_remove_file(void);

// The channel's queue and worker: submit queues a copy for the worker (0;
// -1 refused), start creates the worker, which delivers for ever.
int sms_submit(const NotifyData *data);
void sms_start(void);
void *sms_worker(void *unused);  // takes a null argument, never returns

// Registers the channel with the registry. 0; -1 when it cannot be.
int sms_register(void);

#endif  // ALERTMILL_NOTIFY_SMS_H_
