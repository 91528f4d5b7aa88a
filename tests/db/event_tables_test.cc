// The event tables against real SQLite files in a sandbox root.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "db/db.h"
#include "tests/support/db_sandbox.h"
#include "utils/alloc.h"
#include "utils/paths.h"

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

constexpr char kSelectList[] =
    "select id,eventid,eventname,type,cycle,cycleunit,threshold,"
    "latestthreshold,enablerecord,emailnotify,subject,prompt,logcontext,"
    "repeatcount,context_en,context_ch,smsnotify,snmpnotify from eventlist";

EventLogCacheRow pending(const char *eventid, const std::string &context) {
  EventLogCacheRow row{};
  snprintf(row.eventid, sizeof row.eventid, "%s", eventid);
  snprintf(row.context, sizeof row.context, "%s", context.c_str());
  snprintf(row.happentime, sizeof row.happentime, "2026-12-06 01:02:03");
  return row;
}

class EventTables : public testing::Test {
 protected:
  void SetUp() override { sandbox_.create_event_tables(); }

  // Inserts a definition whose every column holds its own name followed by
  // the eventid, so that a field filled from the wrong column shows.
  void define(const std::string &eventid) {
    std::string sql =
        "insert into eventlist (eventid,eventname,type,cycle,cycleunit,"
        "threshold,latestthreshold,enablerecord,emailnotify,subject,"
        "notifycontext,prompt,logcontext,repeatcount,smsnotify,snmpnotify,"
        "context_en,context_ch) values('" +
        eventid + "','name" + eventid + "','type" + eventid + "','cy" + eventid + "','cu" +
        eventid + "','th" + eventid + "','lt" + eventid + "','er" + eventid + "','em" + eventid +
        "','subject" + eventid + "','nc','prompt" + eventid + "','log" + eventid + "','rc" +
        eventid + "','sm" + eventid + "','sn" + eventid + "','en" + eventid + "','ch" + eventid +
        "');";
    ASSERT_EQ(sandbox_.exec(sql), SQLITE_OK);
  }

  std::string add(const EventLogCacheRow &row) {
    char id[16] = "stale";
    EXPECT_EQ(eventlogcache_add(&row, id, sizeof id), 0);
    return id;
  }

  std::string cache_count() { return sandbox_.value("select count(*) from eventlogcache;"); }

  DbSandbox sandbox_;
};

// Runs an operation with stdout captured into *out.
template <typename Operation>
auto traced(std::string *out, Operation operation) {
  CaptureStdout();
  auto result = operation();
  *out = GetCapturedStdout();
  return result;
}

TEST(EventTablesInit, CreatesTheTablesOnAnEmptyDatabase) {
  DbSandbox sandbox;
  EventListRow *rows = reinterpret_cast<EventListRow *>(&sandbox);
  int count = -1;
  std::string out;
  EXPECT_EQ(traced(&out, [&] { return event_tables_init(&rows, &count); }), -3);
  EXPECT_EQ(rows, nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(out, std::string("~~~~~~~~ excute: ") + kCreateEventList + "\n~~~~~~~~ excute: " +
                     kCreateEventLogCache + "\n~~~~~~~~ excute: " + kCreateEventLog +
                     "\nquery:select count(*) from eventlist;\ncount 0\n");
  EXPECT_EQ(sandbox.value("select group_concat(name, ',') from (select name "
                          "from sqlite_master where type='table' and name "
                          "like 'event%' order by name);"),
            "eventlist,eventlog,eventlogcache");
  EXPECT_EQ(event_tables_init(&rows, nullptr), -1);
}

TEST_F(EventTables, InitListsTheDefinitionsWithoutChannelColumns) {
  define("4019");
  define("4020");
  EventListRow *rows = nullptr;
  int count = 0;
  std::string out;
  ASSERT_EQ(traced(&out, [&] { return event_tables_init(&rows, &count); }), 0);
  ASSERT_EQ(count, 2);
  EXPECT_STREQ(rows[1].eventid, "4020");
  EXPECT_STREQ(rows[1].context_ch, "ch4020");
  EXPECT_STREQ(rows[1].smsnotify, "");
  EXPECT_STREQ(rows[1].snmpnotify, "");
  const std::string listing =
      "count 2\n"
      "query:select id,eventid,eventname,type,cycle,cycleunit,threshold,"
      "latestthreshold,enablerecord,emailnotify,subject,prompt,logcontext,"
      "repeatcount,context_en,context_ch from eventlist;\n"
      "id\teventid\teventname\ttype\t\n"
      "1\t4019\tname4019\ttype4019\n"
      "2\t4020\tname4020\ttype4020\n";
  ASSERT_GE(out.size(), listing.size());
  EXPECT_EQ(out.substr(out.size() - listing.size()), listing);
  utils_free(&rows);
}

TEST_F(EventTables, EventListGetFillsEveryField) {
  define("4019");
  define("4021");
  EventListRow *row = nullptr;
  std::string out;
  ASSERT_EQ(traced(&out, [&] { return eventlist_get(&row, "4021"); }), 0);
  EXPECT_EQ(out, std::string("query:") + kSelectList + " where eventid='4021';\n");
  ASSERT_NE(row, nullptr);
  EXPECT_STREQ(row->id, "2");
  EXPECT_STREQ(row->eventid, "4021");
  EXPECT_STREQ(row->eventname, "name4021");
  EXPECT_STREQ(row->type, "type4021");
  EXPECT_STREQ(row->cycle, "cy4021");
  EXPECT_STREQ(row->cycleunit, "cu4021");
  EXPECT_STREQ(row->threshold, "th4021");
  EXPECT_STREQ(row->latestthreshold, "lt4021");
  EXPECT_STREQ(row->enablerecord, "er4021");
  EXPECT_STREQ(row->emailnotify, "em4021");
  EXPECT_STREQ(row->smsnotify, "sm4021");
  EXPECT_STREQ(row->snmpnotify, "sn4021");
  EXPECT_STREQ(row->subject, "subject4021");
  EXPECT_STREQ(row->prompt, "prompt4021");
  EXPECT_STREQ(row->logcontext, "log4021");
  EXPECT_STREQ(row->repeatcount, "rc4021");
  EXPECT_STREQ(row->context_en, "en4021");
  EXPECT_STREQ(row->context_ch, "ch4021");
  utils_free(&row);
}

TEST_F(EventTables, EventListGetCutsLongAndSkipsNullCells) {
  ASSERT_EQ(sandbox_.exec("insert into eventlist (eventid,eventname,subject,"
                          "emailnotify) values('7','" +
                          std::string(100, 'n') + "',NULL,'12345678');"),
            SQLITE_OK);
  EventListRow *row = nullptr;
  CaptureStdout();
  ASSERT_EQ(eventlist_get(&row, "7"), 0);
  GetCapturedStdout();
  EXPECT_EQ(std::string(row->eventname), std::string(63, 'n'));
  EXPECT_STREQ(row->emailnotify, "1234567");
  EXPECT_STREQ(row->subject, "");
  EXPECT_STREQ(row->repeatcount, "1");  // the column's default
  utils_free(&row);
}

TEST_F(EventTables, EventListGetFailures) {
  define("4019");
  EventListRow *row = reinterpret_cast<EventListRow *>(this);
  CaptureStdout();
  EXPECT_EQ(eventlist_get(&row, "4000"), -2);
  EXPECT_EQ(row, nullptr);
  row = reinterpret_cast<EventListRow *>(this);
  EXPECT_EQ(eventlist_get(&row, nullptr), -1);
  EXPECT_EQ(row, nullptr);
  EXPECT_EQ(eventlist_get(nullptr, "4019"), -1);
  // Not a statement of its own, not a match.
  EXPECT_EQ(eventlist_get(&row, "x'; DROP TABLE eventlist; --"), -2);
  EXPECT_EQ(eventlist_get(&row, "4019' OR '1'='1"), -2);
  GetCapturedStdout();
  EXPECT_EQ(sandbox_.value("select count(*) from eventlist;"), "1");
}

TEST_F(EventTables, EventListGetAll) {
  EventListRow *rows = reinterpret_cast<EventListRow *>(this);
  int count = -1;
  CaptureStdout();
  EXPECT_EQ(eventlist_get_all(&rows, &count), -3);
  EXPECT_EQ(rows, nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(eventlist_get_all(&rows, nullptr), -1);
  define("1");
  define("2");
  define("3");
  ASSERT_EQ(eventlist_get_all(&rows, &count), 0);
  GetCapturedStdout();
  ASSERT_EQ(count, 3);
  EXPECT_STREQ(rows[0].eventid, "1");
  EXPECT_STREQ(rows[2].snmpnotify, "sn3");
  utils_free(&rows);
}

TEST_F(EventTables, LatestThresholdTouchesOnlyItsColumnAndEvent) {
  define("4019");
  define("4020");
  EventListRow row{};
  snprintf(row.eventid, sizeof row.eventid, "4019");
  const std::string injected = "5',cycle='9";
  snprintf(row.latestthreshold, sizeof row.latestthreshold, "%s", injected.c_str());
  std::string out;
  EXPECT_EQ(traced(&out, [&] { return eventlist_set_latestthreshold(&row); }), SQLITE_OK);
  EXPECT_EQ(sandbox_.value("select latestthreshold from eventlist where "
                           "eventid='4019';"),
            "5',cycl");  // as held in memory: 7 characters
  EXPECT_EQ(sandbox_.value("select cycle from eventlist where eventid='4019';"), "cy4019");
  EXPECT_EQ(sandbox_.value("select latestthreshold from eventlist where "
                           "eventid='4020';"),
            "lt4020");
  snprintf(row.latestthreshold, sizeof row.latestthreshold, "3");
  EXPECT_EQ(traced(&out, [&] { return eventlist_set_latestthreshold(&row); }), SQLITE_OK);
  EXPECT_EQ(out,
            "~~~~~~~~ excute: update eventlist set latestthreshold='3' where "
            "eventid='4019';\n");
  EXPECT_EQ(eventlist_set_latestthreshold(nullptr), -1);
}

TEST_F(EventTables, AddHandsBackTheNewId) {
  EventLogCacheRow row = pending("4019", "&eventid=4019&port=5&");
  char id[16] = "stale";
  std::string out;
  EXPECT_EQ(traced(&out, [&] { return eventlogcache_add(&row, id, sizeof id); }), 0);
  EXPECT_STREQ(id, "1");
  EXPECT_EQ(out,
            "~~~~~~~~ excute: insert into eventlogcache "
            "(eventid,context,happentime) values('4019','&eventid=4019&port=5&',"
            "'2026-12-06 01:02:03');\n"
            "query:select id from eventlogcache order by id desc limit 1;\n");
  EXPECT_EQ(add(row), "2");
  EXPECT_EQ(sandbox_.rows("select eventid,notifyflag,context,happentime from "
                          "eventlogcache where id=2;"),
            (std::vector<std::vector<std::string>>{
                {"4019", "0", "&eventid=4019&port=5&", "2026-12-06 01:02:03"}}));

  // The id is cut to the buffer's width - 1.
  ASSERT_EQ(sandbox_.exec("update sqlite_sequence set seq=12344 where "
                          "name='eventlogcache';"),
            SQLITE_OK);
  char small[3] = "zz";
  CaptureStdout();
  EXPECT_EQ(eventlogcache_add(&row, small, sizeof small), 0);
  GetCapturedStdout();
  EXPECT_STREQ(small, "12");
  EXPECT_EQ(sandbox_.value("select max(id) from eventlogcache;"), "12345");
}

TEST_F(EventTables, AddFailures) {
  char id[16] = "stale";
  EXPECT_EQ(eventlogcache_add(nullptr, id, sizeof id), -1);
  EXPECT_STREQ(id, "");

  // A refused insert must not hand out the id of a row already there.
  EventLogCacheRow row = pending("1", "first");
  add(row);
  ASSERT_EQ(sandbox_.exec("create trigger refuse before insert on "
                          "eventlogcache begin select raise(abort, 'full'); "
                          "end;"),
            SQLITE_OK);
  snprintf(id, sizeof id, "stale");
  CaptureStdout();
  CaptureStderr();
  EXPECT_EQ(eventlogcache_add(&row, id, sizeof id), SQLITE_CONSTRAINT);
  EXPECT_EQ(GetCapturedStderr(), "error:full\n");
  GetCapturedStdout();
  EXPECT_STREQ(id, "");

  // Insert and id query both failing: the query decides.
  ASSERT_EQ(sandbox_.exec("drop table eventlogcache;"), SQLITE_OK);
  CaptureStdout();
  CaptureStderr();
  EXPECT_EQ(eventlogcache_add(&row, id, sizeof id), -2);
  GetCapturedStderr();
  GetCapturedStdout();
}

TEST_F(EventTables, ContextFullOfQuotesComesBackUnchanged) {
  const std::string context =
      "&eventid=4019&text=it's a ''test''', '');DELETE FROM eventlogcache;--&";
  std::string id = add(pending("4019", context));
  EventLogCacheRow *row = nullptr;
  CaptureStdout();
  ASSERT_EQ(eventlogcache_get(id.c_str(), &row), 0);
  GetCapturedStdout();
  EXPECT_EQ(row->context, context);
  EXPECT_STREQ(row->id, id.c_str());
  utils_free(&row);
  EXPECT_EQ(cache_count(), "1");
}

TEST_F(EventTables, PendingEventLifeCycle) {
  CaptureStdout();
  std::string id = add(pending("4019", "&eventid=4019&"));
  add(pending("4020", "&eventid=4020&"));
  EXPECT_EQ(eventlogcache_exists(id.c_str()), 1);
  EXPECT_EQ(eventlogcache_set_notifyflag(id.c_str(), 3), SQLITE_OK);
  EventLogCacheRow *row = nullptr;
  ASSERT_EQ(eventlogcache_get(id.c_str(), &row), 0);
  EXPECT_STREQ(row->notifyflag, "3");
  EXPECT_STREQ(row->eventid, "4019");
  EXPECT_STREQ(row->context, "&eventid=4019&");
  EXPECT_STREQ(row->happentime, "2026-12-06 01:02:03");
  utils_free(&row);
  GetCapturedStdout();

  std::string out;
  EXPECT_EQ(traced(&out, [&] { return eventlogcache_delete(id.c_str()); }), SQLITE_OK);
  EXPECT_EQ(out, "~~~~~~~~ excute: delete from eventlogcache where id ='" + id + "';\n");
  EXPECT_EQ(cache_count(), "1");
  // The look-up of a missing id still runs; the load finds nothing.
  EXPECT_EQ(traced(&out, [&] { return eventlogcache_exists(id.c_str()); }), 1);
  EXPECT_EQ(out, "query:select * from eventlogcache where id='" + id + "'\n");
  row = reinterpret_cast<EventLogCacheRow *>(this);
  EXPECT_EQ(traced(&out, [&] { return eventlogcache_get(id.c_str(), &row); }), -2);
  EXPECT_EQ(out,
            "query:select id,eventid,context,notifyflag,happentime from "
            "eventlogcache where id='" +
                id + "'\n");
  EXPECT_EQ(row, nullptr);
  EXPECT_EQ(traced(&out, [&] { return eventlogcache_set_notifyflag(id.c_str(), 7); }), SQLITE_OK);
  EXPECT_EQ(out,
            "~~~~~~~~ excute: update eventlogcache set notifyflag='7' "
            "where id ='" +
                id + "';\n");
  EXPECT_EQ(sandbox_.value("select notifyflag from eventlogcache;"), "0");
}

TEST_F(EventTables, PendingEventArgumentChecks) {
  EventLogCacheRow *row = reinterpret_cast<EventLogCacheRow *>(this);
  EXPECT_EQ(eventlogcache_get(nullptr, &row), -1);
  EXPECT_EQ(row, nullptr);
  EXPECT_EQ(eventlogcache_exists(nullptr), 0);
  EXPECT_EQ(eventlogcache_set_notifyflag(nullptr, 1), -1);
  EXPECT_EQ(eventlogcache_delete(nullptr), -1);
  EXPECT_EQ(eventlogcache_get_all(&row, nullptr), -1);
}

TEST_F(EventTables, InjectedIdsTouchNothing) {
  CaptureStdout();
  add(pending("1", "a"));
  add(pending("2", "b"));
  const char *sqlid = "1' OR '1'='1";
  EXPECT_EQ(eventlogcache_set_notifyflag(sqlid, 7), SQLITE_OK);
  EXPECT_EQ(eventlogcache_delete(sqlid), SQLITE_OK);
  EXPECT_EQ(eventlogcache_delete("1';DELETE FROM eventlogcache;--"), SQLITE_OK);
  EventLogCacheRow *row = nullptr;
  EXPECT_EQ(eventlogcache_get(sqlid, &row), -2);
  EXPECT_EQ(eventlogcache_exists(sqlid), 1);
  GetCapturedStdout();
  EXPECT_EQ(sandbox_.rows("select id,notifyflag from eventlogcache order by "
                          "id;"),
            (std::vector<std::vector<std::string>>{{"1", "0"}, {"2", "0"}}));
}

TEST_F(EventTables, GetAllPendingEvents) {
  EventLogCacheRow *rows = reinterpret_cast<EventLogCacheRow *>(this);
  int count = -1;
  std::string out;
  EXPECT_EQ(traced(&out, [&] { return eventlogcache_get_all(&rows, &count); }), -3);
  EXPECT_EQ(out, "ready to conn sql\nquery:select count(*) from eventlogcache;\n");
  EXPECT_EQ(rows, nullptr);
  EXPECT_EQ(count, 0);

  CaptureStdout();
  for (int i = 0; i < 4; ++i) add(pending("40", "c" + std::to_string(i)));
  eventlogcache_set_notifyflag("2", 5);
  ASSERT_EQ(eventlogcache_get_all(&rows, &count), 0);
  GetCapturedStdout();
  ASSERT_EQ(count, 4);
  for (int i = 0; i < count; ++i) {
    EXPECT_EQ(rows[i].id, std::to_string(i + 1));
    EXPECT_EQ(rows[i].context, "c" + std::to_string(i));
  }
  EXPECT_STREQ(rows[1].notifyflag, "5");
  EXPECT_STREQ(rows[0].notifyflag, "0");
  utils_free(&rows);

  CaptureStdout();
  EXPECT_EQ(eventlogcache_clear(), SQLITE_OK);
  out = GetCapturedStdout();
  EXPECT_EQ(out, "~~~~~~~~ excute: delete from eventlogcache;\n");
  EXPECT_EQ(cache_count(), "0");
}

TEST_F(EventTables, EventLog) {
  EventLogRow line{};
  snprintf(line.datetime, sizeof line.datetime, "2026-12-06 01:02:03");
  snprintf(line.type, sizeof line.type, "system");
  snprintf(line.eventid, sizeof line.eventid, "4019");
  snprintf(line.loginfo, sizeof line.loginfo, "&eventid=4019&who='me'");
  std::string out;
  EXPECT_EQ(traced(&out, [&] { return eventlog_has_unread_system(); }), 1);
  EXPECT_EQ(out,
            "query:select * from eventlog where type='system' and "
            "readstatus='no' limit 0,1\n");
  EXPECT_EQ(traced(&out, [&] { return eventlog_add(&line); }), SQLITE_OK);
  EXPECT_EQ(out,
            "~~~~~~~~ excute: insert into eventlog (datetime,type,eventid,"
            "loginfo) values('2026-12-06 01:02:03','system','4019',"
            "'&eventid=4019&who=''me''');\n");
  EXPECT_EQ(sandbox_.value("select readstatus from eventlog;"), "no");
  EventLogRow *row = nullptr;
  EXPECT_EQ(traced(&out, [&] { return eventlog_get(&row, "4019"); }), 0);
  EXPECT_EQ(out,
            "query:select id,datetime,type,eventid,loginfo from eventlog where "
            "eventid='4019';\n");
  ASSERT_NE(row, nullptr);
  EXPECT_STREQ(row->id, "1");
  EXPECT_STREQ(row->datetime, line.datetime);
  EXPECT_STREQ(row->type, "system");
  EXPECT_STREQ(row->eventid, "4019");
  EXPECT_STREQ(row->loginfo, line.loginfo);
  utils_free(&row);
  CaptureStdout();
  EXPECT_EQ(eventlog_get(&row, "4020"), -2);
  EXPECT_EQ(eventlog_get(&row, nullptr), -1);
  EXPECT_EQ(eventlog_add(nullptr), -1);
  ASSERT_EQ(sandbox_.exec("drop table eventlog;"), SQLITE_OK);
  EXPECT_EQ(eventlog_has_unread_system(), 0);
  GetCapturedStdout();
}

TEST(EventTablesUnopenable, EveryOperationReportsTheFailedOpen) {
  DbSandbox sandbox(false);  // no etc/: the database cannot be created
  const std::string message =
      "open database " + sandbox.path(paths::kEventsDb) + " : unable to open database file\n";
  EventListRow *definition = nullptr;
  EventListRow *definitions = nullptr;
  EventLogCacheRow *cached = nullptr;
  EventLogRow *line = nullptr;
  EventLogCacheRow row = pending("1", "x");
  EventLogRow log_line{};
  EventListRow threshold{};
  char id[16] = "stale";
  int count = 0;
  std::string out;
  EXPECT_EQ(traced(&out, [&] { return eventlist_get(&definition, "1"); }), -1);
  EXPECT_EQ(out, message);
  EXPECT_EQ(traced(&out, [&] { return eventlogcache_add(&row, id, 16); }), -1);
  EXPECT_EQ(out, message);
  EXPECT_STREQ(id, "");
  EXPECT_EQ(traced(&out, [&] { return eventlogcache_get_all(&cached, &count); }), -1);
  EXPECT_EQ(out, "ready to conn sql\n" + message);
  CaptureStdout();
  EXPECT_EQ(eventlog_add(&log_line), -1);
  EXPECT_EQ(eventlogcache_get("1", &cached), -1);
  EXPECT_EQ(eventlogcache_exists("1"), 0);
  EXPECT_EQ(eventlogcache_set_notifyflag("1", 1), -1);
  EXPECT_EQ(eventlogcache_delete("1"), -1);
  EXPECT_EQ(eventlist_get_all(&definitions, &count), -1);
  EXPECT_EQ(eventlist_set_latestthreshold(&threshold), -1);
  EXPECT_EQ(eventlog_get(&line, "1"), -1);
  EXPECT_EQ(eventlog_has_unread_system(), 0);
  EXPECT_EQ(eventlogcache_clear(), -1);
  EXPECT_EQ(event_tables_init(&definitions, &count), -1);
  GetCapturedStdout();
}

// The lock file cannot be created (its directory is missing) but the
// database opens: the operation runs unlocked.
TEST(EventTablesUnlocked, OperationRunsWithoutTheLock) {
  DbSandbox sandbox;
  sandbox.create_event_tables();
  ASSERT_EQ(rmdir((sandbox.root() + "/tmp").c_str()), 0);
  char id[16] = {};
  EventLogCacheRow row = pending("4019", "unlocked");
  CaptureStdout();
  EXPECT_EQ(eventlogcache_add(&row, id, sizeof id), 0);
  GetCapturedStdout();
  EXPECT_STREQ(id, "1");
}

// No busy handler: while another connection holds the database, writes
// report SQLITE_BUSY and reads find nothing, without waiting.
TEST_F(EventTables, BusyDatabaseFailsAtOnce) {
  add(pending("4019", "held"));
  sqlite3 *holder = nullptr;
  ASSERT_EQ(sqlite3_open(sandbox_.path(paths::kEventsDb).c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "begin exclusive;", nullptr, nullptr, nullptr), SQLITE_OK);
  EventLogCacheRow *row = nullptr;
  CaptureStdout();
  CaptureStderr();
  EXPECT_EQ(eventlogcache_delete("1"), SQLITE_BUSY);
  EXPECT_EQ(eventlogcache_set_notifyflag("1", 1), SQLITE_BUSY);
  EXPECT_EQ(eventlogcache_get("1", &row), -2);
  EXPECT_EQ(eventlogcache_exists("1"), 0);
  std::string err = GetCapturedStderr();
  std::string out = GetCapturedStdout();
  EXPECT_EQ(err, "error:database is locked\nerror:database is locked\n");
  EXPECT_NE(out.find("&&&&&&&&&& excute sql select id,eventid,context,notifyflag,happentime from "
                     "eventlogcache where id='1' : database is locked\n"),
            std::string::npos);
  sqlite3_exec(holder, "rollback;", nullptr, nullptr, nullptr);
  sqlite3_close(holder);
  EXPECT_EQ(cache_count(), "1");
}

// A process that holds the lock makes an operation wait until it lets go:
// the child writes a row just before releasing, so an operation that did not
// wait would not see it.
TEST_F(EventTables, OperationWaitsForAnotherProcessHoldingTheLock) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  fflush(stdout);
  pid_t child = fork();
  if (child == 0) {
    close(ready[0]);
    int fd = db_lock(sandbox_.path(paths::kDbLock).c_str());
    if (write(ready[1], "x", 1) != 1) _exit(2);
    usleep(400 * 1000);
    int result = sandbox_.exec("insert into eventlogcache (eventid,context) values('9','child');");
    db_unlock(fd);
    _exit(fd >= 0 && result == SQLITE_OK ? 0 : 1);
  }
  close(ready[1]);
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  close(ready[0]);
  EventLogCacheRow *rows = nullptr;
  int count = 0;
  CaptureStdout();
  int result = eventlogcache_get_all(&rows, &count);
  GetCapturedStdout();
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_EQ(result, 0);
  ASSERT_EQ(count, 1);
  EXPECT_STREQ(rows[0].context, "child");
  utils_free(&rows);
}

// Threads of one process are not kept apart by the lock: SQLite's own
// locking decides, and a collision fails with SQLITE_BUSY. Whatever each
// call reports must be true of the table.
TEST_F(EventTables, TwoThreadsHammeringInsertsAndDeletes) {
  constexpr int kRounds = 150;
  struct Outcome {
    std::vector<std::string> inserted;  // ids handed back for our rows
    std::vector<std::string> deleted;
    std::vector<std::string> unexpected;
  };
  Outcome outcomes[2];
  auto hammer = [&](int worker) {
    Outcome &outcome = outcomes[worker];
    for (int i = 0; i < kRounds; ++i) {
      std::string context = "w" + std::to_string(worker) + "-" + std::to_string(i);
      EventLogCacheRow row = pending("4019", context);
      char id[16] = "stale";
      int added = eventlogcache_add(&row, id, sizeof id);
      if (added == SQLITE_BUSY) {
        if (id[0] != '\0') outcome.unexpected.push_back("busy add named a row");
        continue;
      }
      if (added != 0 && added != -2) {
        outcome.unexpected.push_back("add " + std::to_string(added));
        continue;
      }
      if (id[0] == '\0') {
        // -2 after a refused insert: nothing to track.
        if (added == 0) outcome.unexpected.push_back("inserted without id");
        continue;
      }
      outcome.inserted.push_back(id);
      EventLogCacheRow *loaded = nullptr;
      int got = eventlogcache_get(id, &loaded);
      if (got == 0 && context != loaded->context) {
        outcome.unexpected.push_back(std::string("id ") + id + " is " + loaded->context + ", not " +
                                     context);
      } else if (got != 0 && got != -2) {
        outcome.unexpected.push_back("get " + std::to_string(got));
      }
      utils_free(&loaded);
      if (i % 3 == 2) continue;  // leave some rows behind
      int deleted = eventlogcache_delete(id);
      if (deleted == SQLITE_OK) {
        outcome.deleted.push_back(id);
      } else if (deleted != SQLITE_BUSY) {
        outcome.unexpected.push_back("delete " + std::to_string(deleted));
      }
    }
  };
  fflush(stdout);
  int saved_stdout = dup(1);
  ASSERT_TRUE(freopen("/dev/null", "w", stdout) != nullptr);
  std::thread first(hammer, 0);
  std::thread second(hammer, 1);
  first.join();
  second.join();
  fflush(stdout);
  dup2(saved_stdout, 1);
  close(saved_stdout);

  std::set<std::string> expected;
  size_t inserted = 0;
  for (const Outcome &outcome : outcomes) {
    EXPECT_TRUE(outcome.unexpected.empty()) << outcome.unexpected.front();
    inserted += outcome.inserted.size();
    expected.insert(outcome.inserted.begin(), outcome.inserted.end());
  }
  EXPECT_EQ(expected.size(), inserted) << "an id was handed out twice";
  EXPECT_GT(inserted, 0u);
  for (const Outcome &outcome : outcomes) {
    for (const std::string &id : outcome.deleted) expected.erase(id);
  }
  std::set<std::string> present;
  for (const auto &row : sandbox_.rows("select id from eventlogcache;")) {
    present.insert(row[0]);
  }
  EXPECT_EQ(present, expected);
}

}  // namespace
