// The e-mail channel: "putmail" of the appliance's mail service.
#ifndef ALERTMILL_NOTIFY_EMAIL_H_
#define ALERTMILL_NOTIFY_EMAIL_H_

#include "notify/registry.h"

// 0 when the channel is done with the event (mailed, or nothing to mail);
// -1 for a null record or a putmail that failed, hung or could not run.
int email_send(const NotifyData *data);

// The channel's queue and worker: submit queues a copy for the worker (0;
// -1 refused), start creates the worker, which delivers for ever.
int email_submit(const NotifyData *data);
void email_start(void);
void *email_worker(void *unused);  // takes a null argument, never returns

// Registers the channel with the registry. 0; -1 when it cannot be.
int email_register(void);

#endif  // ALERTMILL_NOTIFY_EMAIL_H_
