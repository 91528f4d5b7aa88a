// Event processing: one request text in, one NotifyData out to every channel.
#ifndef ALERTMILL_SERVICE_PROCESS_H_
#define ALERTMILL_SERVICE_PROCESS_H_

#include "service/event_queue.h"

enum class ProcessOutcome {
  kDispatched,
  kDropped,
  // The definition could not be read (a database failure rather than no
  // such event): the request is to be tried again.
  kUnreadable,
};

// Reads eventid, notifyflag and sqlid from the request, loads the event's
// definition, fills its templates from the request and dispatches the record
// to every registered channel. When it is not dispatched, the pending row
// named by sqlid is deleted, unless the text lacks "&eventid=" or the
// definition could not be read; the latter is logged at LOG_ERR, saying
// whether the pending row was found, unless retried says the request has
// been tried before. The message stays the caller's.
ProcessOutcome event_process_request(const EventMessage *message, bool retried);

// event_process_request of a request not tried before: 0 when dispatched,
// else -1.
int event_process(const EventMessage *message);

#endif  // ALERTMILL_SERVICE_PROCESS_H_
