#include "db/event_tables.h"

#include <sqlite3.h>

#include <cstdio>
#include <initializer_list>

#include "db/accessor.h"
#include "db/pending.h"
#include "db/switch_columns.h"
#include "utils/utils.h"

namespace {

// The definition's own columns. The switch column of the catalogue's first
// channel sits among them, after enablerecord, where the table was born
// with it; the switches of the channels added since follow context_ch.
constexpr DbLayout kEventListOwn{
    "select id,eventid,eventname,type,cycle,cycleunit,threshold,latestthreshold,enablerecord,"
    "subject,prompt,logcontext,repeatcount,context_en,context_ch from eventlist",
    {ALERTMILL_DB_TEXT(EventListRow, id), ALERTMILL_DB_TEXT(EventListRow, eventid),
     ALERTMILL_DB_TEXT(EventListRow, eventname), ALERTMILL_DB_TEXT(EventListRow, type),
     ALERTMILL_DB_TEXT(EventListRow, cycle), ALERTMILL_DB_TEXT(EventListRow, cycleunit),
     ALERTMILL_DB_TEXT(EventListRow, threshold), ALERTMILL_DB_TEXT(EventListRow, latestthreshold),
     ALERTMILL_DB_TEXT(EventListRow, enablerecord), ALERTMILL_DB_TEXT(EventListRow, subject),
     ALERTMILL_DB_TEXT(EventListRow, prompt), ALERTMILL_DB_TEXT(EventListRow, logcontext),
     ALERTMILL_DB_TEXT(EventListRow, repeatcount), ALERTMILL_DB_TEXT(EventListRow, context_en),
     ALERTMILL_DB_TEXT(EventListRow, context_ch)}};
constexpr size_t kBeforeFirstSwitch = 9;
constexpr size_t kOwnColumns = 15;

// The definition read. The listing at start-up (later_switches false)
// selects up to context_ch only, on purpose: the later switches stay empty
// in its records.
DbBuiltLayout<EventListRow> event_list_layout(bool later_switches = true) {
  DbBuiltLayout<EventListRow> layout;
  layout.add(kEventListOwn, 0, kBeforeFirstSwitch);
  db_add_switches(&layout, 0, 1);
  layout.add(kEventListOwn, kBeforeFirstSwitch, kOwnColumns);
  if (later_switches) db_add_switches(&layout, 1, kChannelSlots);
  layout.from("eventlist");
  return layout;
}

constexpr DbLayout kEventLogCache{
    "select id,eventid,context,notifyflag,happentime from eventlogcache",
    {ALERTMILL_DB_TEXT(EventLogCacheRow, id), ALERTMILL_DB_TEXT(EventLogCacheRow, eventid),
     ALERTMILL_DB_TEXT(EventLogCacheRow, context), ALERTMILL_DB_TEXT(EventLogCacheRow, notifyflag),
     ALERTMILL_DB_TEXT(EventLogCacheRow, happentime)}};

constexpr DbLayout kEventLog{
    "select id,datetime,type,eventid,loginfo from eventlog",
    {ALERTMILL_DB_TEXT(EventLogRow, id), ALERTMILL_DB_TEXT(EventLogRow, datetime),
     ALERTMILL_DB_TEXT(EventLogRow, type), ALERTMILL_DB_TEXT(EventLogRow, eventid),
     ALERTMILL_DB_TEXT(EventLogRow, loginfo)}};

DbStatement<256> notifyflag_update(const char *id, int notifyflag) {
  DbStatement<256> sql;
  sql.format("update eventlogcache set notifyflag='%d' where id ='%s';", notifyflag, id);
  return sql;
}

DbStatement<128> pending_delete(const char *id) {
  DbStatement<128> sql;
  sql.format("delete from eventlogcache where id ='%s';", id);
  return sql;
}

}  // namespace

int eventlist_get(EventListRow **row, const char *eventid) {
  const auto layout = event_list_layout();
  return db_read_row(row, db_select<512>(layout, " where eventid='%s';", eventid), kDbReadResults,
                     eventid != nullptr);
}

int eventlog_add(const EventLogRow *row) {
  if (row == nullptr) return -1;
  DbStatement<1536> sql;
  sql.format(
      "insert into eventlog (datetime,type,eventid,loginfo) "
      "values('%s','%s','%s','%s');",
      row->datetime, row->type, row->eventid, row->loginfo);
  return db_write(sql.c_str());
}

int eventlogcache_add(const EventLogCacheRow *row, char *id, int id_width) {
  if (id != nullptr && id_width > 0) id[0] = '\0';
  if (row == nullptr) return -1;
  // Room for every field of the row written as quotes, each doubled: a
  // context of quotes must not make the event's only record fail.
  DbStatement<2048> sql;
  sql.format(
      "insert into eventlogcache (eventid,context,happentime) "
      "values('%s','%s','%s');",
      row->eventid, row->context, row->happentime);
  DbSession session;
  if (!session.is_open()) return -1;
  int result = session.exec(sql.c_str());
  // The lock keeps other programs out between insert and query, but not our
  // own threads: the largest id may already be another thread's row. Name
  // the row this connection inserted, which is the largest id otherwise,
  // and name it even when the query fails: the row exists, and the request
  // that carries its id lets the channels finish it.
  if (result == SQLITE_OK && id != nullptr && id_width > 0) {
    snprintf(id, static_cast<size_t>(id_width), "%lld",
             static_cast<long long>(sqlite3_last_insert_rowid(session.connection())));
  }
  if (!session.found("select id from eventlogcache order by id desc limit 1;")) return -2;
  return result;
}

int eventlogcache_get_all(EventLogCacheRow **rows, int *count) {
  if (rows != nullptr) *rows = nullptr;
  if (rows == nullptr || count == nullptr) return -1;
  *count = 0;
  DbSession session("ready to conn sql\n");
  return db_read_records(&session, "select count(*) from eventlogcache;", 0,
                         db_select<128>(kEventLogCache, ";"), rows, count);
}

int eventlogcache_get(const char *id, EventLogCacheRow **row) {
  return db_read_row(row, db_select<256>(kEventLogCache, " where id='%s'", id), kDbReadResults,
                     id != nullptr);
}

int eventlogcache_exists(const char *id) {
  if (id == nullptr) return 0;
  DbStatement<512> sql;
  sql.format("select * from eventlogcache where id='%s'", id);
  return db_test(sql.c_str());
}

int eventlogcache_set_notifyflag(const char *id, int notifyflag) {
  if (id == nullptr) return -1;
  return db_write(notifyflag_update(id, notifyflag).c_str());
}

int eventlogcache_delete(const char *id) {
  if (id == nullptr) return -1;
  return db_write(pending_delete(id).c_str());
}

int eventlogcache_finish(const char *id, int flag, int mask) {
  if (id == nullptr) return -1;
  DbSession session;
  if (!session.is_open()) return -1;
  EventLogCacheRow *row = nullptr;
  int count = 0;
  int read = db_read_records(&session, nullptr, 1,
                             db_select<256>(kEventLogCache, " where id='%s'", id), &row, &count);
  const int value = row != nullptr ? pending_flags(row->notifyflag) | flag : 0;
  utils_free(&row);
  if (read != 0 || count < 1) return -2;
  if (pending_state(true, flag, value, mask) == PendingState::kDone) {
    return session.exec(pending_delete(id).c_str());
  }
  return session.exec(notifyflag_update(id, value).c_str());
}

int eventlogcache_count(int *count) {
  if (count == nullptr) return -1;
  *count = 0;
  return db_count("select count(*) from eventlogcache;", count);
}

int eventlogcache_get_oldest(EventLogCacheRow **rows, int *count, int limit) {
  if (limit < 1) {
    if (rows != nullptr) *rows = nullptr;
    if (count != nullptr) *count = 0;
    return -1;
  }
  return db_read_upto(rows, count, limit,
                      db_select<128>(kEventLogCache, " order by id limit %d;", limit));
}

int eventlist_get_all(EventListRow **rows, int *count) {
  const auto layout = event_list_layout();
  return db_read_list(rows, count, "select count(*) from eventlist;", db_select<512>(layout, ";"));
}

int eventlist_set_latestthreshold(const EventListRow *row) {
  if (row == nullptr) return -1;
  DbStatement<1536> sql;
  sql.format("update eventlist set latestthreshold='%s' where eventid='%s';", row->latestthreshold,
             row->eventid);
  return db_write(sql.c_str());
}

int eventlog_get(EventLogRow **row, const char *eventid) {
  return db_read_row(row, db_select<256>(kEventLog, " where eventid='%s';", eventid),
                     kDbReadResults, eventid != nullptr);
}

int eventlog_has_unread_system(void) {
  DbStatement<512> sql;
  sql.copy(
      "select * from eventlog where type='system' and readstatus='no' limit "
      "0,1");
  return db_test(sql.c_str());
}

int eventlogcache_clear(void) {
  DbStatement<128> sql;
  sql.copy("delete from eventlogcache;");
  return db_write(sql.c_str());
}

int event_tables_init(EventListRow **rows, int *count) {
  if (rows != nullptr) *rows = nullptr;
  if (rows == nullptr || count == nullptr) return -1;
  *count = 0;
  DbSession session;
  if (!session.is_open()) return -1;
  for (const char *create : {kCreateEventList, kCreateEventLogCache, kCreateEventLog}) {
    session.exec(create);
  }
  if (session.count("select count(*) from eventlist;", count) != 0) return -2;
  db_trace("count %d\n", *count);
  if (*count <= 0) return -3;
  int filled = 0;
  const auto layout = event_list_layout(false);
  int result =
      db_read_records(&session, nullptr, *count, db_select<512>(layout, ";"), rows, &filled);
  if (result != 0) return result;
  db_trace("id\teventid\teventname\ttype\t\n");
  for (int i = 0; i < *count; ++i) {
    const EventListRow &row = (*rows)[i];
    db_trace("%s\t%s\t%s\t%s\n", row.id, row.eventid, row.eventname, row.type);
  }
  return 0;
}
