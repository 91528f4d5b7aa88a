// Event processing: one request text in, one NotifyData out to every channel.
#ifndef ALERTMILL_SERVICE_PROCESS_H_
#define ALERTMILL_SERVICE_PROCESS_H_

#include "service/event_queue.h"

// Reads eventid, notifyflag and sqlid from the request, loads the event's
// definition, fills its templates from the request and dispatches the record
// to every registered channel. 0 when dispatched; -1 otherwise, in which case
// the pending row named by sqlid is deleted, unless the text lacks
// "&eventid=" or the definition could not be read (a database failure rather
// than no such event: logged at LOG_ERR once per cause). The message stays
// the caller's.
int event_process(const EventMessage *message);

#endif  // ALERTMILL_SERVICE_PROCESS_H_
