#include "tests/support/notify_pending_db.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <memory>

#include "notify/registry.h"

namespace {

struct Closer {
  void operator()(sqlite3 *db) const { sqlite3_close(db); }
};
using Db = std::unique_ptr<sqlite3, Closer>;

// Within one process SQLite's locking is all that separates connections,
// and the database layer does not wait on a busy database: a test reading
// while a channel worker marks a row would make the worker's operation fail
// and lose its bit. Holding the registry mutex keeps the workers' bookkeeping
// and the test's own accesses apart.
class RegistryHold {
 public:
  RegistryHold() { notify_method_lock(); }
  ~RegistryHold() { notify_method_unlock(); }
  RegistryHold(const RegistryHold &) = delete;
  RegistryHold &operator=(const RegistryHold &) = delete;
};

Db open_db() {
  const char *root = std::getenv("ALERTMILL_ROOT");
  EXPECT_NE(root, nullptr);
  std::string path = std::string(root != nullptr ? root : ".") + "/etc/events.sqlite3";
  sqlite3 *db = nullptr;
  EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_busy_timeout(db, 10000);
  return Db(db);
}

void exec(sqlite3 *db, const std::string &sql) {
  char *error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
      << sql << ": " << (error != nullptr ? error : "");
  sqlite3_free(error);
}

// The first column of the first row, or nothing.
std::optional<std::string> query_text(sqlite3 *db, const std::string &sql) {
  sqlite3_stmt *statement = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sql;
  std::optional<std::string> value;
  if (statement != nullptr && sqlite3_step(statement) == SQLITE_ROW) {
    const unsigned char *text = sqlite3_column_text(statement, 0);
    value = text != nullptr ? reinterpret_cast<const char *>(text) : "";
  }
  sqlite3_finalize(statement);
  return value;
}

}  // namespace

void notify_create_pending_table() {
  RegistryHold hold;
  exec(open_db().get(),
       "CREATE TABLE IF NOT EXISTS eventlogcache(id integer  "
       "primary key AUTOINCREMENT,eventid "
       "INT,notifyflag varchar(8) default 0,context "
       "VARCHAR(512), happentime DATETIME);");
}

std::string notify_insert_pending(const std::string &eventid, int notifyflag) {
  RegistryHold hold;
  Db db = open_db();
  exec(db.get(),
       "insert into eventlogcache "
       "(eventid,notifyflag,context,happentime) values('" +
           eventid + "','" + std::to_string(notifyflag) + "','&eventid=" + eventid +
           "&','2026-01-02 03:04:05');");
  return std::to_string(sqlite3_last_insert_rowid(db.get()));
}

std::optional<std::string> notify_pending_flag(const std::string &id) {
  RegistryHold hold;
  return query_text(open_db().get(), "select notifyflag from eventlogcache where id=" + id + ";");
}

int notify_pending_count() {
  RegistryHold hold;
  return std::atoi(
      query_text(open_db().get(), "select count(*) from eventlogcache;").value_or("-1").c_str());
}
