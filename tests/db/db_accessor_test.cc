// The accessor procedure: statement formatting, record layouts and result
// schemes, on a table of its own.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "db/accessor.h"
#include "db/db.h"
#include "tests/support/db_sandbox.h"
#include "utils/alloc.h"
#include "utils/paths.h"

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

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
constexpr bool names_route(const char *select, size_t count = 3) {
  return db_detail::selects_columns(select, &kRoute.field(0), count);
}
static_assert(names_route("SELECT Name , metric,\tgateway  FROM route"));
static_assert(names_route("select name,metric from route", 2));
static_assert(!names_route("select metric,name,gateway from route"));
static_assert(!names_route("select name,metric from route"));
static_assert(!names_route("select name,metric,gateway,x from route"));
static_assert(!names_route("select names,metric,gateway from route"));
static_assert(!names_route("select name,metric,gateways from route"));
static_assert(!names_route("select name metric,gateway from route"));
static_assert(!names_route("select name,metric,gateway where"));
static_assert(!names_route("select name,metric,gateway from t%s"));
static_assert(db_detail::selects_all("SELECT * FROM route"));

constexpr DbResults kCustom{-11, -12, -13, -14, -15};

// Fills a text field to its width with quotes, which a statement doubles.
template <size_t N>
void quotes(char (&field)[N]) {
  memset(field, '\'', N - 1);
  field[N - 1] = '\0';
}

TEST(DbStatement, TextWithoutQuotesComesOutAsSnprintfWritesIt) {
  DbStatement<64> sql;
  EXPECT_STREQ(sql.format("delete from t where id ='%s' and n=%d;", "12", 3),
               "delete from t where id ='12' and n=3;");
  EXPECT_STREQ(sql.format("select count(*) from %s where %s;", "staticroute", "metric='1'"),
               "select count(*) from staticroute where metric='1';");
  EXPECT_STREQ(sql.copy("select 100% from t"), "select 100% from t");
}

TEST(DbStatement, QuotesInTextValuesAreDoubled) {
  DbStatement<128> sql;
  EXPECT_STREQ(sql.format("select * from t where id='%s'", "1' OR '1'='1"),
               "select * from t where id='1'' OR ''1''=''1'");
  EXPECT_STREQ(sql.format("update t set v='%s';", "''"), "update t set v='''''';");
}

TEST(DbStatement, OneThatDoesNotFitIsNeverCut) {
  DbStatement<12> sql;
  EXPECT_STREQ(sql.format("id='%s';", "123'"), "id='123''';");  // 11 characters
  CaptureStderr();
  EXPECT_EQ(sql.format("id='%s';", "1234'"), nullptr);
  EXPECT_EQ(sql.c_str(), nullptr);
  EXPECT_EQ(GetCapturedStderr(),
            "statement of 12 characters does not fit its 12-byte buffer, not run: id='%s';\n");
  EXPECT_STREQ(sql.copy("select 1;"), "select 1;");
}

class DbAccessor : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sandbox_.exec("create table route(name text, metric text, "
                            "gateway text);"),
              SQLITE_OK);
    CaptureStdout();
  }
  void TearDown() override { trace_ = GetCapturedStdout(); }

  void add(const std::string &values) {
    ASSERT_EQ(sandbox_.exec("insert into route values(" + values + ");"), SQLITE_OK);
  }

  DbSandbox sandbox_;
  std::string trace_;
};

TEST_F(DbAccessor, RowReadFillsFieldsByColumn) {
  add("'lan-default', '20', '192.168.100.254'");
  add("'second', '30', 'x'");
  RouteRow *row = nullptr;
  EXPECT_EQ(db_read_row(&row, db_select<64>(kRoute, " order by rowid;")), 0);
  ASSERT_NE(row, nullptr);
  EXPECT_STREQ(row->name, "lan-def");  // cut to width - 1
  EXPECT_EQ(row->metric, 20);
  EXPECT_STREQ(row->gateway, "192.168.100.254");
  utils_free(&row);
}

TEST_F(DbAccessor, NullCellsLeaveFieldsEmpty) {
  add("NULL, NULL, NULL");
  RouteRow *row = nullptr;
  EXPECT_EQ(db_read_row(&row, kRoute), 0);
  ASSERT_NE(row, nullptr);
  EXPECT_STREQ(row->name, "");
  EXPECT_EQ(row->metric, 0);
  EXPECT_STREQ(row->gateway, "");
  utils_free(&row);
}

TEST_F(DbAccessor, RowReadFailures) {
  RouteRow *row = reinterpret_cast<RouteRow *>(this);
  EXPECT_EQ(db_read_row(&row, kRoute), -2);
  EXPECT_EQ(row, nullptr);
  EXPECT_EQ(db_read_row(&row, kNowhere, kCustom), -14);
  EXPECT_EQ(row, nullptr);
}

TEST_F(DbAccessor, ListReadUsesTheCount) {
  for (int i = 0; i < 5; ++i) add("'r" + std::to_string(i) + "', '1', 'g'");
  RouteRow *rows = nullptr;
  int count = 0;
  ASSERT_EQ(db_read_list(&rows, &count, "select count(*) from route;",
                         db_select<64>(kRoute, " order by name;")),
            0);
  ASSERT_EQ(count, 5);
  for (int i = 0; i < count; ++i) {
    EXPECT_EQ(rows[i].name, "r" + std::to_string(i));
  }
  utils_free(&rows);

  // A count larger than the rows the select finds leaves the rest empty.
  ASSERT_EQ(db_read_list(&rows, &count, "select 7;", db_select<64>(kRoute, " order by name;")), 0);
  EXPECT_EQ(count, 7);
  EXPECT_STREQ(rows[4].name, "r4");
  EXPECT_STREQ(rows[5].name, "");
  EXPECT_STREQ(rows[6].name, "");
  utils_free(&rows);
}

TEST_F(DbAccessor, ListReadResultSchemes) {
  RouteRow *rows = reinterpret_cast<RouteRow *>(this);
  int count = -1;
  EXPECT_EQ(
      db_read_list(&rows, &count, "select count(*) from route;", kRoute, kDbNumberedReadResults),
      -3);
  EXPECT_EQ(rows, nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(
      db_read_list(&rows, &count, "select count(*) from nowhere;", kRoute, kDbNumberedReadResults),
      -2);
  EXPECT_EQ(db_read_list(&rows, &count, "select 2;", kNowhere, kDbNumberedReadResults), -4);
  EXPECT_EQ(db_read_list(&rows, &count, "select 2;", kRoute), -2);  // the select found no row
  // More records than one allocation can hold.
  BigRow *big = reinterpret_cast<BigRow *>(this);
  EXPECT_EQ(db_read_list(&big, &count, "select 9999999;", kBig, kDbNumberedReadResults), -5);
  EXPECT_EQ(big, nullptr);
  EXPECT_EQ(count, 9999999);
  EXPECT_EQ(db_read_list(&rows, &count, "select -4;", kRoute, kCustom), -13);
  EXPECT_EQ(rows, nullptr);
}

TEST_F(DbAccessor, ReadUpToAFixedNumberOfRecords) {
  for (int i = 0; i < 5; ++i) add("'r" + std::to_string(i) + "', '1', 'g'");
  RouteRow *rows = nullptr;
  int count = 0;
  const auto select = db_select<64>(kRoute, " order by name;");
  ASSERT_EQ(db_read_upto(&rows, &count, 3, select), 0);
  EXPECT_EQ(count, 3);
  EXPECT_STREQ(rows[2].name, "r2");
  utils_free(&rows);
  ASSERT_EQ(db_read_upto(&rows, &count, 128, select), 0);
  EXPECT_EQ(count, 5);
  utils_free(&rows);
  EXPECT_EQ(db_read_upto(&rows, &count, 128, kNowhere, kCustom), -14);
}

TEST_F(DbAccessor, WritesTestsAndCounts) {
  EXPECT_EQ(db_write("insert into route values('a','1','g');"), SQLITE_OK);
  EXPECT_EQ(db_write("insert into nowhere values(1);"), SQLITE_ERROR);
  EXPECT_EQ(db_write("insert into nowhere values(1);", kDbBlindWriteResults), 0);
  EXPECT_EQ(db_test("select * from route where name='none'"), 1);
  EXPECT_EQ(db_test("select * from nowhere"), 0);
  int count = -1;
  EXPECT_EQ(db_count("select count(*) from route;", &count), 0);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(db_count("select count(*) from nowhere;", &count), -2);
  EXPECT_EQ(count, 1);
}

TEST_F(DbAccessor, DatabaseThatDoesNotOpen) {
  DbSandbox unopenable(false);
  RouteRow *row = nullptr;
  int count = 0;
  const char *select = kRoute.sql();
  EXPECT_EQ(db_read_row(&row, kRoute), -1);
  EXPECT_EQ(db_read_row(&row, kRoute, kCustom), -11);
  EXPECT_EQ(db_read_list(&row, &count, "select 1;", kRoute), -1);
  EXPECT_EQ(db_write("delete from route;"), -1);
  EXPECT_EQ(db_write("delete from route;", {-3, false}), -3);
  EXPECT_EQ(db_test(select), 0);
  EXPECT_EQ(db_test(select, -1), -1);
  EXPECT_EQ(db_count("select count(*) from route;", &count), -1);
}

// Every statement with a WHERE clause whose values can outgrow its buffer,
// at its worst: text fields full of quotes, free texts longer than any
// buffer. Cut, such a statement could end right after a closing quote and
// run without the rest of its WHERE clause (staticroute_set rewrote every
// route); it must not run at all. Statements of integers only, and
// eventlist_set_latestthreshold, fwipblacklist_exists, usermanagement_set
// and loginmanage_set with their bounded fields, fit at their worst.
TEST_F(DbAccessor, StatementsThatDoNotFitNeverRun) {
  ASSERT_EQ(sandbox_.exec("create table staticroute(id,destination,subnet,gateway,metric,iface,"
                          "description);"
                          "insert into staticroute values(1,'a','b','c','1','lan','x'),"
                          "(2,'d','e','f','2','wan','y');"),
            SQLITE_OK);
  const std::string longest(2100, '\'');
  const char *text = longest.c_str();
  StaticRouteRow route{};
  quotes(route.id), quotes(route.destination), quotes(route.subnet), quotes(route.gateway);
  quotes(route.metric), quotes(route.iface), quotes(route.description);
  SysDataLocationRow location{};
  quotes(location.storagetype), quotes(location.storageslotid);
  EventListRow *definition = nullptr;
  EventLogCacheRow *pending = nullptr;
  EventLogRow *logged = nullptr;
  SysDataLocationRow *located = nullptr;
  DatabaseGrantRow *grant = nullptr;
  UserManagementRow *user = nullptr;
  LoginManageRow *login = nullptr;
  UserPermissionsRow *permissions = nullptr;
  UserPermissionRow permission{};
  int count = 0;
  const struct {
    const char *name;
    std::function<int()> call;
    int expected;
  } cases[] = {
      {"eventlist_get", [&] { return eventlist_get(&definition, text); }, -2},
      {"eventlog_get", [&] { return eventlog_get(&logged, text); }, -2},
      {"eventlogcache_get", [&] { return eventlogcache_get(text, &pending); }, -2},
      {"eventlogcache_exists", [&] { return eventlogcache_exists(text); }, 0},
      {"eventlogcache_set_notifyflag", [&] { return eventlogcache_set_notifyflag(text, 7); },
       SQLITE_TOOBIG},
      {"eventlogcache_delete", [&] { return eventlogcache_delete(text); }, SQLITE_TOOBIG},
      {"sysdatalocation_get", [&] { return sysdatalocation_get(&located, text); }, -2},
      {"databasegrant_get", [&] { return databasegrant_get(&grant, text); }, -2},
      {"usermanagement_get_by_username",
       [&] { return usermanagement_get_by_username(&user, text); }, -2},
      {"usermanagement_get_by_email", [&] { return usermanagement_get_by_email(&user, text); }, -2},
      {"loginmanage_get", [&] { return loginmanage_get(&login, text); }, -2},
      {"usermanagement_get_permissions",
       [&] { return usermanagement_get_permissions(&permissions, text); }, -2},
      {"user_permission_get", [&] { return user_permission_get(&permission, text); }, -2},
      {"staticroute_count_same", [&] { return staticroute_count_same(&route, &count); }, -2},
      {"table_count", [&] { return table_count("staticroute", text, &count); }, -2},
      {"forgetpwd_check", [&] { return forgetpwd_check(text, "1"); }, 0},
      {"forgetpwd_exists", [&] { return forgetpwd_exists(text); }, 0},
      {"loginmanage_exists", [&] { return loginmanage_exists(text); }, 0},
      {"loginmanage_locked", [&] { return loginmanage_locked(text); }, 0},
      {"staticroute_set", [&] { return staticroute_set(&route); }, -1},
      {"forgetpwd_delete", [&] { return forgetpwd_delete(text); }, -1},
      {"loginmanage_delete", [&] { return loginmanage_delete(text); }, -1},
      {"sysdatalocation_set", [&] { return sysdatalocation_set(&location, text); }, SQLITE_TOOBIG},
  };
  const auto routes = sandbox_.rows("select * from staticroute;");
  GetCapturedStdout();
  for (const auto &c : cases) {
    CaptureStdout();
    CaptureStderr();
    EXPECT_EQ(c.call(), c.expected) << c.name;
    EXPECT_EQ(GetCapturedStdout(), "") << c.name;  // no query, no statement
    EXPECT_NE(GetCapturedStderr().find("does not fit its"), std::string::npos) << c.name;
    EXPECT_STREQ(db_last_error(), "statement longer than its buffer, not run") << c.name;
  }
  EXPECT_EQ(sandbox_.rows("select * from staticroute;"), routes);
  CaptureStdout();
}

// A session keeps one query; releasing order is query, connection, lock.
TEST_F(DbAccessor, SessionRunsSeveralStepsOnOneConnection) {
  DbSession session("locked\n");
  ASSERT_TRUE(session.is_open());
  EXPECT_EQ(session.exec("insert into route values('s','2','g');"), 0);
  EXPECT_TRUE(session.found("select name from route;"));
  ASSERT_NE(session.result(), nullptr);
  EXPECT_EQ(session.query("select name from route where name='none';"), 0);
  EXPECT_EQ(session.result(), nullptr);
  int count = 0;
  EXPECT_EQ(session.count("select count(*) from route;", &count), 0);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(session.result(), nullptr);
}

}  // namespace
