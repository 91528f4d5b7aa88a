#include "db/event_tables.h"

#include <sqlite3.h>

#include <cstdio>
#include <initializer_list>

#include "db/accessor.h"

namespace {

// The select lists below name the columns in the order these layouts number
// them.
constexpr DbField<EventListRow> kEventListFields[] = {
    db_text<&EventListRow::id>(0),           db_text<&EventListRow::eventid>(1),
    db_text<&EventListRow::eventname>(2),    db_text<&EventListRow::type>(3),
    db_text<&EventListRow::cycle>(4),        db_text<&EventListRow::cycleunit>(5),
    db_text<&EventListRow::threshold>(6),    db_text<&EventListRow::latestthreshold>(7),
    db_text<&EventListRow::enablerecord>(8), db_text<&EventListRow::emailnotify>(9),
    db_text<&EventListRow::subject>(10),     db_text<&EventListRow::prompt>(11),
    db_text<&EventListRow::logcontext>(12),  db_text<&EventListRow::repeatcount>(13),
    db_text<&EventListRow::context_en>(14),  db_text<&EventListRow::context_ch>(15),
    db_text<&EventListRow::smsnotify>(16),   db_text<&EventListRow::snmpnotify>(17),
};
constexpr char kSelectEventList[] =
    "select id,eventid,eventname,type,cycle,cycleunit,threshold,latestthreshold,enablerecord,"
    "emailnotify,subject,prompt,logcontext,repeatcount,context_en,context_ch,smsnotify,"
    "snmpnotify from eventlist";
// The listing at start-up selects the first 16 columns only: the layout's
// smsnotify and snmpnotify columns lie outside its result and stay empty.
constexpr char kSelectEventListInit[] =
    "select id,eventid,eventname,type,cycle,cycleunit,threshold,latestthreshold,enablerecord,"
    "emailnotify,subject,prompt,logcontext,repeatcount,context_en,context_ch from eventlist;";

constexpr DbField<EventLogCacheRow> kEventLogCacheFields[] = {
    db_text<&EventLogCacheRow::id>(0),         db_text<&EventLogCacheRow::eventid>(1),
    db_text<&EventLogCacheRow::context>(2),    db_text<&EventLogCacheRow::notifyflag>(3),
    db_text<&EventLogCacheRow::happentime>(4),
};

constexpr DbField<EventLogRow> kEventLogFields[] = {
    db_text<&EventLogRow::id>(0),      db_text<&EventLogRow::datetime>(1),
    db_text<&EventLogRow::type>(2),    db_text<&EventLogRow::eventid>(3),
    db_text<&EventLogRow::loginfo>(4),
};

}  // namespace

int eventlist_get(EventListRow **row, const char *eventid) {
  if (row != nullptr) *row = nullptr;
  if (row == nullptr || eventid == nullptr) return -1;
  DbStatement<512> sql;
  sql.format("%s where eventid='%s';", kSelectEventList, eventid);
  return db_read_row(sql.c_str(), kEventListFields, row);
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
  DbStatement<1024> sql;
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
  return db_read_records(
      &session,
      {"select count(*) from eventlogcache;",
       "select id,eventid,context,notifyflag,happentime from eventlogcache;", 0, kDbReadResults},
      kEventLogCacheFields, rows, count);
}

int eventlogcache_get(const char *id, EventLogCacheRow **row) {
  if (row != nullptr) *row = nullptr;
  if (row == nullptr || id == nullptr) return -1;
  DbStatement<256> sql;
  sql.format(
      "select id,eventid,context,notifyflag,happentime from eventlogcache "
      "where id='%s'",
      id);
  return db_read_row(sql.c_str(), kEventLogCacheFields, row);
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

int eventlist_get_all(EventListRow **rows, int *count) {
  if (rows != nullptr) *rows = nullptr;
  if (rows == nullptr || count == nullptr) return -1;
  DbStatement<512> sql;
  sql.format("%s;", kSelectEventList);
  return db_read_list("select count(*) from eventlist;", sql.c_str(), kEventListFields, rows,
                      count);
}

int eventlist_set_latestthreshold(const EventListRow *row) {
  if (row == nullptr) return -1;
  DbStatement<1536> sql;
  sql.format("update eventlist set latestthreshold='%s' where eventid='%s';", row->latestthreshold,
             row->eventid);
  return db_write(sql.c_str());
}

int eventlog_get(EventLogRow **row, const char *eventid) {
  if (row != nullptr) *row = nullptr;
  if (row == nullptr || eventid == nullptr) return -1;
  DbStatement<256> sql;
  sql.format(
      "select id,datetime,type,eventid,loginfo from eventlog where "
      "eventid='%s';",
      eventid);
  return db_read_row(sql.c_str(), kEventLogFields, row);
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
  int result = db_read_records(&session, {nullptr, kSelectEventListInit, *count, kDbReadResults},
                               kEventListFields, rows, &filled);
  if (result != 0) return result;
  db_trace("id\teventid\teventname\ttype\t\n");
  for (int i = 0; i < *count; ++i) {
    const EventListRow &row = (*rows)[i];
    db_trace("%s\t%s\t%s\t%s\n", row.id, row.eventid, row.eventname, row.type);
  }
  return 0;
}
