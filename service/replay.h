// Replay of pending events at start: every row left in eventlogcache is
// offered again as a rebuilt request.
#ifndef ALERTMILL_SERVICE_REPLAY_H_
#define ALERTMILL_SERVICE_REPLAY_H_

// Appends one request per pending row to the event queue, carrying the row's
// notifyflag so that channels that have delivered it skip it.
void replay_pending_events(void);

#endif  // ALERTMILL_SERVICE_REPLAY_H_
