// The database core and the accessor procedure on sandbox databases.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cstring>
#include <sstream>
#include <string>
#include <thread>

#include "db/accessor.h"
#include "db/db.h"
#include "tests/support/sandbox_root.h"
#include "utils/alloc.h"
#include "utils/paths.h"

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

// Whether another process can take the lock file now.
bool other_process_can_lock(const std::string &path) {
  const pid_t child = fork();
  if (child == 0) {
    const int fd = open(path.c_str(), O_RDWR);
    _exit(fd >= 0 && lockf(fd, F_TLOCK, 0) == 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// How many descriptors of this process name path.
size_t descriptors_of(const std::string &path) {
  size_t found = 0;
  for (int fd = 0; fd < 1024; ++fd) {
    char target[4096] = {};
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    found += readlink(link.c_str(), target, sizeof target - 1) > 0 && target == path;
  }
  return found;
}

// Every holder of the lock file shares one descriptor, and only the last
// release unlocks it: lockf locks belong to the process, so an early unlock
// or close would drop the lock under another thread. A symlinked lock file
// is followed, as the appliance's other lockers do.
TEST(DbLock, HoldersShareOneLockThatTheLastReleases) {
  SandboxRoot root;
  const std::string path = utils_path(paths::kDbLock), file = root.path("tmp/real.fl");
  ASSERT_EQ(symlink(file.c_str(), path.c_str()), 0);
  const int first = db_lock(path.c_str()), second = db_lock(path.c_str());
  ASSERT_GE(first, 0);
  EXPECT_EQ(second, first);
  EXPECT_NE(fcntl(first, F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_EQ(db_unlock(second), 0);
  EXPECT_FALSE(other_process_can_lock(file));
  auto churn = [&] {
    for (int i = 0; i < 300; ++i) db_unlock(db_lock(path.c_str()));
  };
  std::thread one(churn), other(churn);
  one.join();
  other.join();
  EXPECT_EQ(descriptors_of(file), 1u);
  EXPECT_FALSE(other_process_can_lock(file));
  EXPECT_EQ(db_unlock(first), 0);
  EXPECT_TRUE(other_process_can_lock(file));
  EXPECT_EQ(descriptors_of(file), 0u);
  SandboxRoot empty(false);
  EXPECT_EQ(db_lock(utils_path(paths::kDbLock).c_str()), -1);
}

// An operation waits while another process holds the lock: the holder adds a
// row just before it lets go, which the waiting read must see. A wait past
// the report time is reported once, and once more when it ends, on stderr
// and in the system log at LOG_WARNING (LOG_PERROR copies what the mask lets
// through to stderr).
TEST(DbLock, AnOperationWaitsForAnotherProcessAndReportsTheWait) {
  SandboxRoot root;
  root.create_event_tables();
  const std::string path = utils_path(paths::kDbLock);
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready) + pipe(release), 0);
  const pid_t holder = fork();
  if (holder == 0) {
    char byte = 0;
    const int fd = open(path.c_str(), O_RDWR | O_CREAT, 0644);
    const bool held = fd >= 0 && lockf(fd, F_LOCK, 0) == 0 && write(ready[1], &byte, 1) == 1 &&
                      read(release[0], &byte, 1) == 1;
    _exit(held && root.exec("insert into eventlogcache(context) values('held');") == 0 ? 0 : 1);
  }
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  const int saved_stderr = dup(2), log = open(root.path("log").c_str(), O_WRONLY | O_CREAT, 0644);
  dup2(log, 2);
  openlog("dbtest", LOG_PERROR, LOG_USER);
  const int saved_mask = setlogmask(LOG_MASK(LOG_WARNING));
  db_set_lock_wait_report(50);
  EventLogCacheRow *rows = nullptr;
  int count = 0, result = -9, status = -1;
  std::thread waiter([&] { result = eventlogcache_get_all(&rows, &count); });
  EXPECT_TRUE(
      sandbox_wait_until([&] { return root.read("log").find("waited") != std::string::npos; }));
  EXPECT_EQ(write(release[1], &byte, 1), 1);
  waiter.join();
  db_set_lock_wait_report(0);
  setlogmask(saved_mask);
  openlog(nullptr, 0, LOG_USER);  // no more copies on stderr
  closelog();
  dup2(saved_stderr, 2);
  close(saved_stderr);
  waitpid(holder, &status, 0);
  EXPECT_EQ(status, 0);
  ASSERT_EQ(result, 0);
  ASSERT_EQ(count, 1);
  EXPECT_STREQ(rows[0].context, "held");
  utils_free(&rows);
  std::istringstream in(root.read("log"));
  std::string lines[5];
  for (std::string &line : lines) std::getline(in, line);
  const std::string self = "db_core_test[" + std::to_string(getpid()) + "] ";
  EXPECT_EQ(lines[0].rfind(self + "has waited ", 0), 0u) << lines[0];
  EXPECT_NE(
      lines[0].find(" s for the lock file " + path + " held by process " + std::to_string(holder)),
      std::string::npos)
      << lines[0];
  EXPECT_EQ(lines[2].rfind(self + "got the lock file " + path + " after ", 0), 0u) << lines[2];
  EXPECT_EQ(lines[1] + lines[3] + lines[4], "dbtest: " + lines[0] + "dbtest: " + lines[2]);
}

TEST(DbCore, QueriesAndCells) {
  SandboxRoot root;
  ASSERT_EQ(root.exec("create table t(a, b); insert into t values('one', NULL), ('two', '0123');"),
            SQLITE_OK);
  sqlite3 *connection = nullptr;
  ASSERT_EQ(db_open(utils_path(paths::kEventsDb).c_str(), &connection), SQLITE_OK);
  DbQuery *query = nullptr;
  int rows = 0;
  CaptureStdout();
  ASSERT_EQ(db_query(connection, "select a,b from t;", &query, &rows), SQLITE_OK);
  EXPECT_EQ(db_query(connection, "select a from nowhere;", nullptr, &rows), SQLITE_ERROR);
  EXPECT_EQ(GetCapturedStdout(),
            "query:select a,b from t;\nquery:select a from nowhere;\n"
            "&&&&&&&&&& excute sql select a from nowhere; : no such table: nowhere\n");
  char a[4] = {}, b[5] = "keep";
  EXPECT_EQ(db_get_value(query, 0, a, sizeof a) + db_get_value(query, 1, b, sizeof b), 0);
  EXPECT_EQ(a + std::string("|") + b, "one|keep");  // a NULL cell leaves its buffer
  EXPECT_EQ(db_next_row(query), 0);
  EXPECT_EQ(db_get_value(query, 1, a, sizeof a) + db_get_value(query, 1, b, sizeof b), 0);
  EXPECT_EQ(a + std::string("|") + b, "012|0123");  // cut to the width
  EXPECT_EQ(db_get_value(query, 2, a, sizeof a), -1);
  char *copy = nullptr;
  EXPECT_EQ(db_get_value_dup(query, 1, &copy), 0);
  EXPECT_STREQ(copy, "0123");
  utils_free(&copy);
  EXPECT_EQ(db_next_row(query), 1);  // no row after the last
  EXPECT_EQ(db_free_result(query), 0);
  db_close(connection);
}

TEST(DbCore, HandleLifeCycle) {
  SandboxRoot root;
  const std::string lock = utils_path(paths::kDbLock), db = utils_path(paths::kEventsDb);
  CaptureStdout();
  DbHandle *handle = db_handle_open(lock.c_str(), db.c_str());
  ASSERT_NE(handle, nullptr);
  EXPECT_FALSE(other_process_can_lock(lock));
  db_handle_set_sql(handle, "create table h(v); insert into h values('7'),('9');");
  EXPECT_EQ(db_handle_exec(handle), SQLITE_OK);
  db_handle_set_sql(handle, "select count(*) from h;");
  EXPECT_EQ(db_handle_count(handle), 2);
  db_handle_set_sql(handle, "select v from h where v='0';");
  EXPECT_EQ(db_handle_query(handle), -2);
  EXPECT_EQ(db_handle_reset(handle), 0);
  EXPECT_EQ(db_handle_close(handle), 0);
  EXPECT_TRUE(other_process_can_lock(lock));
  db_handle_destroy(&handle);
  SandboxRoot empty(false);
  EXPECT_EQ(db_handle_open(lock.c_str(), utils_path(paths::kEventsDb).c_str()), nullptr);
  GetCapturedStdout();
}

struct RouteRow {
  char name[8];
  int32_t metric;
  char gateway[16];
};
constexpr DbLayout kRoute{
    "select name,metric,gateway from route",
    {ALERTMILL_DB_TEXT(RouteRow, name), ALERTMILL_DB_INTEGER(RouteRow, metric),
     ALERTMILL_DB_TEXT(RouteRow, gateway)}};
constexpr DbLayout kNowhere{"select name,metric,gateway from nowhere", kRoute};
struct BigRow {
  char text[4096];
};
constexpr DbLayout kBig{"select text from (select 'x' as text)", {ALERTMILL_DB_TEXT(BigRow, text)}};

// A layout compiles only when its select names its fields' columns, in order.
constexpr bool names_route(const char *select) {
  return db_detail::selects_columns(select, &kRoute.field(0), 3);
}
static_assert(names_route("SELECT Name , metric,\tgateway  FROM route"));
static_assert(!names_route("select metric,name,gateway from route"));
static_assert(!names_route("select name,metric from route"));
static_assert(!names_route("select names,metric,gateway from route"));

// A '%s' between quotes is a text value, its quotes doubled; a statement is
// never cut: one that does not fit is not made at all.
TEST(DbAccessor, Statements) {
  DbStatement<12> sql;
  EXPECT_STREQ(sql.format("%d %s", 3, "a'b"), "3 a'b");
  EXPECT_STREQ(sql.format("id='%s';", "123'"), "id='123''';");  // 11 characters
  CaptureStderr();
  EXPECT_EQ(sql.format("id='%s';", "1234'"), nullptr);
  EXPECT_EQ(GetCapturedStderr(),
            "statement of 12 characters does not fit its 12-byte buffer, not run: id='%s';\n");
  EXPECT_EQ(sql.c_str(), nullptr);
}

TEST(DbAccessor, ReadsWritesAndResultSchemes) {
  SandboxRoot root;
  ASSERT_EQ(root.exec("create table route(name, metric, gateway); insert into route values"
                      "('lan-default','20','192.168.100.254'),('r1',NULL,NULL),('r2','3s','g');"),
            SQLITE_OK);
  CaptureStdout();
  constexpr DbResults kCustom{-11, -12, -13, -14, -15};
  RouteRow *rows = nullptr;
  int count = 0;
  ASSERT_EQ(db_read_row(&rows, kRoute), 0);
  EXPECT_EQ(rows->name + std::to_string(rows->metric) + rows->gateway, "lan-def20192.168.100.254");
  utils_free(&rows);
  // A count above the rows found leaves the records after them empty.
  ASSERT_EQ(db_read_list(&rows, &count, "select 4;", db_select<64>(kRoute, " order by name;")), 0);
  ASSERT_EQ(count, 4);
  EXPECT_EQ(std::string(rows[1].name) + rows[1].gateway + rows[3].name, "r1");
  EXPECT_EQ(rows[1].metric + rows[2].metric, 3);
  utils_free(&rows);
  ASSERT_EQ(db_read_upto(&rows, &count, 2, kRoute), 0);
  EXPECT_EQ(count, 2);
  utils_free(&rows);
  EXPECT_EQ(db_read_row(&rows, db_select<64>(kRoute, " where name='x';"), kCustom), -14);
  EXPECT_EQ(db_read_list(&rows, &count, "select count(*) from nowhere;", kRoute, kCustom), -12);
  EXPECT_EQ(db_read_list(&rows, &count, "select 0;", kRoute, kCustom), -13);
  EXPECT_EQ(db_read_list(&rows, &count, "select 2;", kNowhere, kCustom), -14);
  BigRow *big = nullptr;  // more records than one allocation holds
  EXPECT_EQ(db_read_list(&big, &count, "select 9999999;", kBig, kCustom), -15);
  EXPECT_EQ(db_write("delete from route where name='r2';"), SQLITE_OK);
  EXPECT_EQ(db_write("delete from nowhere;"), SQLITE_ERROR);
  EXPECT_EQ(db_write("delete from nowhere;", kDbBlindWriteResults), 0);
  EXPECT_EQ(db_test("select * from route where name='x'") + db_test("select * from nowhere"), 1);
  EXPECT_EQ(db_count("select count(*) from route;", &count), 0);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(db_count("select count(*) from nowhere;", &count), -2);
  SandboxRoot empty(false);
  EXPECT_EQ(db_read_row(&rows, kRoute, kCustom), -11);
  EXPECT_EQ(db_write("delete from route;", {-3, false}), -3);
  EXPECT_EQ(db_test("select 1", -1) + db_count("select 1", &count), -2);
  GetCapturedStdout();
}

// Several steps on one connection; a read-only session neither makes a
// missing database nor changes one.
TEST(DbAccessor, Sessions) {
  SandboxRoot root;
  CaptureStdout();
  EXPECT_FALSE(DbSession(nullptr, DbAccess::kReadOnly).is_open());
  EXPECT_FALSE(root.exists("etc/events.sqlite3"));
  DbSession session;
  EXPECT_EQ(session.exec("create table t(v); insert into t values(1);"), SQLITE_OK);
  EXPECT_TRUE(session.found("select v from t;"));
  EXPECT_FALSE(session.found("select v from t where v=2;"));
  int count = 0;
  EXPECT_EQ(session.count("select count(*) from t;", &count), 0);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(DbSession(nullptr, DbAccess::kReadOnly).exec("delete from t;"), SQLITE_READONLY);
  GetCapturedStdout();
}

}  // namespace
