// What a pending row's notifyflag says: the one reading of the text and the
// one verdict on the row, for the daemon and the operator's listing alike.
// The row's writes are the eventlogcache operations (db/event_tables.h).
#ifndef ALERTMILL_DB_PENDING_H_
#define ALERTMILL_DB_PENDING_H_

// The channels done with a row, from its notifyflag text (or a request's
// "&notifyflag=" value) as atoi reads it on the appliance; null or empty
// reads as 0.
int pending_flags(const char *notifyflag);

enum class PendingState {
  kWaiting,       // an enabled channel has not delivered yet
  kFinishing,     // every enabled channel has; the others have yet to report
  kDone,          // every registered channel has reported: the row goes
  kNoDefinition,  // the event has no definition: the row is discarded
  kNoChannel,     // the definition enables no channel: the row is discarded
};

// The state of a row whose channels flags are done with, of an event whose
// definition exists (defined) and enables the channels enabled, when mask is
// the OR of every registered channel. A row to discard is so whatever its
// flags; otherwise it is done once flags >= mask (signed comparison).
PendingState pending_state(bool defined, int enabled, int flags, int mask);

#endif  // ALERTMILL_DB_PENDING_H_
