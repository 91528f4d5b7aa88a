// The e-mail channel: "putmail" of the appliance's mail service.
#ifndef ALERTMILL_NOTIFY_EMAIL_H_
#define ALERTMILL_NOTIFY_EMAIL_H_

#include "notify/registry.h"

// 0 when the channel is done with the event (mailed, or nothing to mail);
// -1 only for a null record.
int email_send(const NotifyData *data);

#endif  // ALERTMILL_NOTIFY_EMAIL_H_
