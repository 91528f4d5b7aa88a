#include "tests/support/db_sandbox.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "db/event_tables.h"
#include "utils/paths.h"

namespace {

struct CloseConnection {
  void operator()(sqlite3 *connection) const { sqlite3_close(connection); }
};
using Connection = std::unique_ptr<sqlite3, CloseConnection>;

Connection open_events_db() {
  sqlite3 *connection = nullptr;
  int result = sqlite3_open(utils_path(paths::kEventsDb).c_str(), &connection);
  Connection owned(connection);
  EXPECT_EQ(result, SQLITE_OK) << utils_path(paths::kEventsDb);
  if (result != SQLITE_OK) owned.reset();
  return owned;
}

}  // namespace

DbSandbox::DbSandbox(bool create_dirs) {
  const char *tmp = getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/alertmill-db-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr) {
    ADD_FAILURE() << "mkdtemp " << pattern;
  }
  root_ = pattern;
  if (create_dirs) {
    mkdir((root_ + "/etc").c_str(), 0755);
    mkdir((root_ + "/tmp").c_str(), 0755);
  }
  const char *saved = getenv("ALERTMILL_ROOT");
  had_root_ = saved != nullptr;
  if (had_root_) saved_root_ = saved;
  setenv("ALERTMILL_ROOT", root_.c_str(), 1);
}

DbSandbox::~DbSandbox() {
  if (had_root_) {
    setenv("ALERTMILL_ROOT", saved_root_.c_str(), 1);
  } else {
    unsetenv("ALERTMILL_ROOT");
  }
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

std::string DbSandbox::path(const char *fixed_path) const { return root_ + fixed_path; }

int DbSandbox::exec(const std::string &sql) const {
  Connection connection = open_events_db();
  if (!connection) return SQLITE_CANTOPEN;
  return sqlite3_exec(connection.get(), sql.c_str(), nullptr, nullptr, nullptr);
}

std::vector<std::vector<std::string>> DbSandbox::rows(const std::string &sql) const {
  std::vector<std::vector<std::string>> table;
  Connection connection = open_events_db();
  if (!connection) return table;
  sqlite3_stmt *statement = nullptr;
  int result = sqlite3_prepare_v2(connection.get(), sql.c_str(), -1, &statement, nullptr);
  EXPECT_EQ(result, SQLITE_OK) << sql << ": " << sqlite3_errmsg(connection.get());
  while (result == SQLITE_OK && sqlite3_step(statement) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int column = 0; column < sqlite3_column_count(statement); ++column) {
      const unsigned char *text = sqlite3_column_text(statement, column);
      row.emplace_back(text ? reinterpret_cast<const char *>(text) : "<null>");
    }
    table.push_back(std::move(row));
  }
  sqlite3_finalize(statement);
  return table;
}

std::string DbSandbox::value(const std::string &sql) const {
  auto table = rows(sql);
  return table.empty() || table[0].empty() ? "" : table[0][0];
}

void DbSandbox::create_event_tables() const {
  for (const char *create : {kCreateEventList, kCreateEventLogCache, kCreateEventLog}) {
    EXPECT_EQ(exec(create), SQLITE_OK) << create;
  }
}
