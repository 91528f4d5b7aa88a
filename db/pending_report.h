// The pending events as an operator sees them: each eventlogcache row beside
// what its definition in eventlist says about it.
#ifndef ALERTMILL_DB_PENDING_REPORT_H_
#define ALERTMILL_DB_PENDING_REPORT_H_

#include <type_traits>

#include "db/catalogue.h"

// One pending event with its definition. Fixed-width texts like the rows of
// db/event_tables.h; the definition's fields are empty when it has none.
struct PendingReportRow {
  char id[16];
  char eventid[16];
  char notifyflag[8];
  char context[512];
  char happentime[64];
  char definition_id[16];  // eventlist.id; empty when the event has no definition
  char eventname[64];
  char subject[256];
  char switches[kChannelSlots][kSwitchWidth];  // the definition's, by catalogue slot
};

static_assert(std::is_trivially_copyable_v<PendingReportRow>);

// Loads every pending event, oldest (smallest id) first, each joined to the
// definition that event processing would load for it (the first of several
// sharing the event id), as one new array of *count rows. One locked pass
// like every table operation, on a read-only connection: a missing database
// is not created and nothing is written. 0; -1 for a null argument or when
// the database does not open (missing or unreadable); -2 the count failed
// (not an events database); -3 no pending event (*count 0); -4 the select
// failed; -5 out of memory.
int eventlogcache_get_report(PendingReportRow **rows, int *count);

#endif  // ALERTMILL_DB_PENDING_REPORT_H_
