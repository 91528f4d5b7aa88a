// Event tables: eventlist (event definitions), eventlogcache (pending
// events) and eventlog (the appliance's event log).
//
// Every operation is one self-contained locked pass over the database (see
// db/accessor.h): no connection, result or lock survives it. Results: 0
// success; -1 a required argument missing or the database failed to open; -2
// a query failed or returned no row; -3 the row allocation failed, or a list
// is empty; a positive value is SQLite's code of a failed write. A statement
// that does not fit its buffer is not run: a read gives -2, a write
// SQLITE_TOOBIG. Rows handed out belong to the caller, who frees them with
// utils_free (an array from a list read is one block).
#ifndef ALERTMILL_DB_EVENT_TABLES_H_
#define ALERTMILL_DB_EVENT_TABLES_H_

#include <type_traits>

#include "db/catalogue.h"

// One eventlist row. Every field is NUL-terminated text holding at most its
// width less one characters; a NULL column leaves its field empty.
struct EventListRow {
  char id[16];
  char eventid[16];
  char eventname[64];
  char type[16];
  char cycle[8];
  char cycleunit[8];
  char threshold[8];
  char latestthreshold[8];
  char enablerecord[8];
  char emailnotify[8];
  char smsnotify[8];
  char snmpnotify[8];
  char subject[256];
  char prompt[64];
  char logcontext[512];
  char repeatcount[8];
  char context_en[512];
  char context_ch[512];
  // Every catalogue channel's switch by slot (see db/catalogue.h): the three
  // above and those of channels added later.
  char switches[kChannelSlots][kSwitchWidth];
};

// One eventlogcache row: a pending event and the channels done with it.
struct EventLogCacheRow {
  char id[16];
  char eventid[16];
  char notifyflag[8];
  char context[512];
  char happentime[64];
};

// One eventlog row.
struct EventLogRow {
  char id[16];
  char datetime[64];
  char type[32];
  char eventid[16];
  char loginfo[512];
};

static_assert(std::is_trivially_copyable_v<EventListRow>);
static_assert(std::is_trivially_copyable_v<EventLogCacheRow>);
static_assert(std::is_trivially_copyable_v<EventLogRow>);

// The creation statements of the three tables (as event_tables_init runs
// them).
inline constexpr char kCreateEventList[] =
    "CREATE TABLE IF NOT EXISTS eventlist(id integer primary key "
    "AUTOINCREMENT,eventid INT,eventname varchar(64),type varchar(16),cycle "
    "INT,cycleunit INT default 1,threshold INT,latestthreshold "
    "INT,enablerecord VARCHAR(8),emailnotify varchar(8),subject "
    "VARCHAR(256),notifycontext varchar(512),prompt VARCHAR(128),logcontext "
    "VARCHAR(512),repeatcount VARCHAR(8) default '1',smsnotify "
    "varchar(8),snmpnotify varchar(8),context_en VARCHAR(512),context_ch "
    "VARCHAR(512));";
inline constexpr char kCreateEventLogCache[] =
    "CREATE TABLE IF NOT EXISTS eventlogcache(id integer  primary key "
    "AUTOINCREMENT,eventid INT,notifyflag varchar(8) default 0,context "
    "VARCHAR(512), happentime DATETIME);";
inline constexpr char kCreateEventLog[] =
    "CREATE TABLE IF NOT EXISTS eventlog(id integer  primary key  "
    "AUTOINCREMENT,datetime DATETIME, type varchar(16), eventid INT, loginfo "
    "VARCHAR(512), readstatus VARCHAR(8) DEFAULT 'no');";

// Loads the definition of eventid (the first row when several share it) into
// a new *row. *row is null unless the result is 0; -2 when there is none.
int eventlist_get(EventListRow **row, const char *eventid);

// Appends row's datetime, type, eventid and loginfo to eventlog (readstatus
// takes its default "no"). SQLite's result code; -1 for a null row.
int eventlog_add(const EventLogRow *row);

// Inserts row's eventid, context and happentime as a pending event with
// notifyflag 0 and writes the new row's id as decimal text into id (at most
// id_width - 1 characters). Result of the insert (0 or SQLite's code); -1 for
// a null row or failed open; -2 when the id query that follows fails. id
// names the inserted row whenever the insert succeeded (even with -2) and is
// empty otherwise, so it never names another row.
int eventlogcache_add(const EventLogCacheRow *row, char *id, int id_width);

// Loads every pending event, in the order the table returns them, as one new
// array of *count rows. -3 with *count 0 and a null *rows when there is none;
// -1 for a null count.
int eventlogcache_get_all(EventLogCacheRow **rows, int *count);

// Loads the pending event with this id into a new *row; -2 when there is
// none; -1 for a null id or row out.
int eventlogcache_get(const char *id, EventLogCacheRow **row);

// 1 when the lookup of id could be run (whether or not a row matched), 0 when
// it failed, the database did not open or id is null.
int eventlogcache_exists(const char *id);

// Stores notifyflag (decimal) in the pending event's row. SQLite's result
// code (0 also when no row has this id); -1 for a null id.
int eventlogcache_set_notifyflag(const char *id, int notifyflag);

// Deletes the pending event. SQLite's result code; -1 for a null id.
int eventlogcache_delete(const char *id);

// Channel flag has finished with pending event id: in one locked pass,
// reads the row, ORs flag into its notifyflag and writes the value back, or
// deletes the row once pending_state calls it done against mask. Two
// channels finishing one event at once cannot both start from the old value:
// the pass excludes this program's threads as well as other programs. 0;
// -1 for a null id or a database that did not open; -2 when the read failed
// or no row has this id (nothing written); else SQLite's code of the write.
int eventlogcache_finish(const char *id, int flag, int mask);

// Loads every definition as one new array of *count rows; -3 when there is
// none; -1 for a null count.
int eventlist_get_all(EventListRow **rows, int *count);

// Stores row->latestthreshold in the definitions of row->eventid. SQLite's
// result code; -1 for a null row.
int eventlist_set_latestthreshold(const EventListRow *row);

// Loads the first eventlog entry of eventid into a new *row; -2 when there is
// none.
int eventlog_get(EventLogRow **row, const char *eventid);

// 1 when the look-up of unread system entries could be run (whether or not
// one exists), 0 when it failed or the database did not open.
int eventlog_has_unread_system(void);

// The number of pending events into *count. 0; -1 when the database did not
// open; -2 when the count failed.
int eventlogcache_count(int *count);

// Loads the limit pending events of the smallest ids (the oldest), oldest
// first, as one new array of *count rows. -1 for a null out or a limit below
// 1; -2 when the query failed or found none.
int eventlogcache_get_oldest(EventLogCacheRow **rows, int *count, int limit);

// Deletes every pending event. SQLite's result code; -1 when the database
// did not open.
int eventlogcache_clear(void);

// Creates the three tables when missing, prints the definitions on stdout and
// hands them out as eventlist_get_all does.
int event_tables_init(EventListRow **rows, int *count);

#endif  // ALERTMILL_DB_EVENT_TABLES_H_
