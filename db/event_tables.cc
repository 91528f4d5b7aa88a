#include "db/event_tables.h"

#include <sqlite3.h>

#include <cstdio>
#include <initializer_list>

#include "db/accessor.h"

namespace {

constexpr DbLayout kEventList{
    "select id,eventid,eventname,type,cycle,cycleunit,threshold,latestthreshold,enablerecord,"
    "emailnotify,subject,prompt,logcontext,repeatcount,context_en,context_ch,smsnotify,"
    "snmpnotify from eventlist",
    {ALERTMILL_DB_TEXT(EventListRow, id), ALERTMILL_DB_TEXT(EventListRow, eventid),
     ALERTMILL_DB_TEXT(EventListRow, eventname), ALERTMILL_DB_TEXT(EventListRow, type),
     ALERTMILL_DB_TEXT(EventListRow, cycle), ALERTMILL_DB_TEXT(EventListRow, cycleunit),
     ALERTMILL_DB_TEXT(EventListRow, threshold), ALERTMILL_DB_TEXT(EventListRow, latestthreshold),
     ALERTMILL_DB_TEXT(EventListRow, enablerecord), ALERTMILL_DB_TEXT(EventListRow, emailnotify),
     ALERTMILL_DB_TEXT(EventListRow, subject), ALERTMILL_DB_TEXT(EventListRow, prompt),
     ALERTMILL_DB_TEXT(EventListRow, logcontext), ALERTMILL_DB_TEXT(EventListRow, repeatcount),
     ALERTMILL_DB_TEXT(EventListRow, context_en), ALERTMILL_DB_TEXT(EventListRow, context_ch),
     ALERTMILL_DB_TEXT(EventListRow, smsnotify), ALERTMILL_DB_TEXT(EventListRow, snmpnotify)}};
// The listing at start-up selects the first 16 columns only, on purpose:
// smsnotify and snmpnotify stay empty in its records.
constexpr DbLayout<EventListRow, 16> kEventListInit{
    "select id,eventid,eventname,type,cycle,cycleunit,threshold,latestthreshold,enablerecord,"
    "emailnotify,subject,prompt,logcontext,repeatcount,context_en,context_ch from eventlist;",
    kEventList};

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

}  // namespace

int eventlist_get(EventListRow **row, const char *eventid) {
  return db_read_row(row, db_select<512>(kEventList, " where eventid='%s';", eventid),
                     kDbReadResults, eventid != nullptr);
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
  DbStatement<256> sql;
  sql.format("update eventlogcache set notifyflag='%d' where id ='%s';", notifyflag, id);
  return db_write(sql.c_str());
}

int eventlogcache_delete(const char *id) {
  if (id == nullptr) return -1;
  DbStatement<128> sql;
  sql.format("delete from eventlogcache where id ='%s';", id);
  return db_write(sql.c_str());
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
  return db_read_list(rows, count, "select count(*) from eventlist;",
                      db_select<512>(kEventList, ";"));
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
  int result = db_read_records(&session, nullptr, *count, kEventListInit, rows, &filled);
  if (result != 0) return result;
  db_trace("id\teventid\teventname\ttype\t\n");
  for (int i = 0; i < *count; ++i) {
    const EventListRow &row = (*rows)[i];
    db_trace("%s\t%s\t%s\t%s\n", row.id, row.eventid, row.eventname, row.type);
  }
  return 0;
}
