// The e-mail channel: "putmail" of the appliance's mail service.
#ifndef ALERTMILL_NOTIFY_EMAIL_H_
#define ALERTMILL_NOTIFY_EMAIL_H_

#include "notify/registry.h"

// 0 when the channel is done with the event (mailed, or nothing to mail);
// -1 for a null record or a putmail that failed, hung or could not run.
int email_send(const NotifyData *data);

#endif  // ALERTMILL_NOTIFY_EMAIL_H_
