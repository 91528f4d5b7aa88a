// The accessor procedure: statement formatting, record layouts and result
// schemes, on a table of its own.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "db/accessor.h"
#include "tests/support/db_sandbox.h"
#include "utils/alloc.h"
#include "utils/paths.h"

using testing::internal::CaptureStdout;
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

// db_vformat into a buffer of size bytes that starts out dirty.
__attribute__((format(printf, 2, 3))) std::string formatted(int size, const char *format, ...) {
  std::string buffer(static_cast<size_t>(size), 'x');
  va_list args;
  va_start(args, format);
  db_vformat(&buffer[0], size, format, args);
  va_end(args);
  return buffer.c_str();
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

TEST(DbStatement, CutAtTheBufferSize) {
  EXPECT_EQ(formatted(16, "id='%s';", "0123456789abcdef"), "id='0123456789a");
  EXPECT_EQ(formatted(1, "id='%s';", "1"), "");
  // The cut would keep the first quote of a doubled pair and close the
  // literal on a shortened value: it falls one character earlier instead.
  EXPECT_EQ(formatted(11, "id='%s';", "12345'9"), "id='12345");
  EXPECT_EQ(formatted(12, "id='%s';", "12345'9"), "id='12345''");
  EXPECT_EQ(formatted(10, "id='%s';", "12345'9"), "id='12345");
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
