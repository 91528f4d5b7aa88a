// The database core against real SQLite files in a sandbox root.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
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

// In a forked child, whether the lock file can be locked right now; the
// child is another process, so it sees this process's lockf locks.
bool other_process_can_lock(const std::string &path) {
  pid_t child = fork();
  if (child == 0) {
    int fd = open(path.c_str(), O_RDWR);
    _exit(fd >= 0 && lockf(fd, F_TLOCK, 0) == 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The descriptors of this process that name a file under prefix.
std::vector<int> descriptors_of(const std::string &prefix) {
  std::vector<int> found;
  for (int fd = 0; fd < 1024; ++fd) {
    char link[64];
    char target[4096] = {};
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    if (readlink(link, target, sizeof target - 1) < 0) continue;
    if (strncmp(target, prefix.c_str(), prefix.size()) == 0) found.push_back(fd);
  }
  return found;
}

bool close_on_exec(int fd) { return (fcntl(fd, F_GETFD) & FD_CLOEXEC) != 0; }

class DbCore : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(db_open(sandbox_.path(paths::kEventsDb).c_str(), &connection_), SQLITE_OK);
    ASSERT_EQ(sandbox_.exec("create table t(a text, b text);"
                            "insert into t values('one', NULL);"
                            "insert into t values('two', 'second');"
                            "insert into t values('three', '0123456789');"),
              SQLITE_OK);
  }
  void TearDown() override { db_close(connection_); }

  // Runs sql with db_query, keeping its stdout.
  int query(const char *sql, DbQuery **result, int *rows) {
    CaptureStdout();
    int code = db_query(connection_, sql, result, rows);
    trace_ = GetCapturedStdout();
    return code;
  }

  DbSandbox sandbox_;
  sqlite3 *connection_ = nullptr;
  std::string trace_;
};

TEST(DbLock, CreatesLocksAndReleasesTheFile) {
  DbSandbox sandbox;
  std::string path = sandbox.path(paths::kDbLock);
  int fd = db_lock(path.c_str());
  ASSERT_GE(fd, 0);
  EXPECT_EQ(access(path.c_str(), F_OK), 0);
  EXPECT_TRUE(close_on_exec(fd));
  EXPECT_FALSE(other_process_can_lock(path));
  EXPECT_EQ(db_unlock(fd), 0);
  EXPECT_TRUE(other_process_can_lock(path));
}

// Other programs that take the lock follow a symlinked lock file; so must we.
TEST(DbLock, FollowsASymlinkedLockFile) {
  DbSandbox sandbox;
  std::string path = sandbox.path(paths::kDbLock);
  std::string target = sandbox.root() + "/tmp/real.fl";
  ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0);
  int fd = db_lock(path.c_str());
  ASSERT_GE(fd, 0);
  EXPECT_EQ(access(target.c_str(), F_OK), 0);
  EXPECT_FALSE(other_process_can_lock(target));
  EXPECT_EQ(db_unlock(fd), 0);
  EXPECT_TRUE(other_process_can_lock(target));
}

TEST(DbLock, MissingOrUnopenablePathAndNegativeDescriptor) {
  DbSandbox sandbox(false);
  EXPECT_EQ(db_lock(nullptr), -1);
  EXPECT_EQ(db_lock(sandbox.path(paths::kDbLock).c_str()), -1);
  EXPECT_EQ(db_unlock(-1), -1);
  EXPECT_EQ(db_unlock(-7), -7);
}

// Releasing one of two descriptors must not drop the lock the other still
// holds, though lockf locks belong to the whole process.
TEST(DbLock, ReleasingOneDescriptorKeepsTheOthersLock) {
  DbSandbox sandbox;
  std::string path = sandbox.path(paths::kDbLock);
  int first = db_lock(path.c_str());
  int second = db_lock(path.c_str());
  ASSERT_GE(first, 0);
  ASSERT_GE(second, 0);
  EXPECT_EQ(db_unlock(second), 0);
  EXPECT_FALSE(other_process_can_lock(path));
  EXPECT_EQ(db_unlock(first), 0);
  EXPECT_TRUE(other_process_can_lock(path));
  // Both descriptors are closed now.
  EXPECT_EQ(fcntl(first, F_GETFD), -1);
  EXPECT_EQ(fcntl(second, F_GETFD), -1);
}

// Threads locking and releasing all the time must never drop the lock that
// another thread still holds, nor leave descriptors behind meanwhile.
TEST(DbLock, ChurningThreadsKeepAHeldLock) {
  DbSandbox sandbox;
  std::string path = sandbox.path(paths::kDbLock);
  int held = db_lock(path.c_str());
  ASSERT_GE(held, 0);
  auto churn = [&] {
    for (int i = 0; i < 300; ++i) db_unlock(db_lock(path.c_str()));
  };
  std::thread first(churn);
  std::thread second(churn);
  first.join();
  second.join();
  EXPECT_EQ(descriptors_of(path).size(), 1u);
  EXPECT_FALSE(other_process_can_lock(path));
  EXPECT_EQ(db_unlock(held), 0);
  EXPECT_TRUE(other_process_can_lock(path));
  EXPECT_TRUE(descriptors_of(path).empty());
}

// A wait for the lock is reported once past the report time and once when
// it ends, on stderr and in the system log (LOG_PERROR copies what the mask
// lets through to stderr); the lock is taken all the same.
TEST(DbLock, ALongWaitIsReported) {
  DbSandbox sandbox;
  std::string path = sandbox.path(paths::kDbLock);
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  pid_t holder = fork();
  if (holder == 0) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT, 0644);
    char byte = 0;
    close(release[1]);
    if (fd < 0 || lockf(fd, F_LOCK, 0) != 0 || write(ready[1], &byte, 1) != 1) _exit(1);
    _exit(read(release[0], &byte, 1) >= 0 ? 0 : 1);
  }
  close(ready[1]);
  close(release[0]);
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);

  std::string err_path = sandbox.root() + "/stderr";
  int saved_err = dup(2);
  int err_file = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(err_file, 2);
  auto err = [&] {
    std::ifstream in(err_path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  openlog("dbtest", LOG_PERROR, LOG_DAEMON);
  int saved_mask = setlogmask(LOG_MASK(LOG_WARNING));
  db_set_lock_wait_report(50);
  int fd = -1;
  std::thread waiter([&] { fd = db_lock(path.c_str()); });
  bool reported = false;
  for (int i = 0; i < 9000 && !reported; ++i) {
    reported = err().find("has waited") != std::string::npos;
    if (!reported) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  close(release[1]);
  waiter.join();
  db_set_lock_wait_report(0);
  setlogmask(saved_mask);
  closelog();
  dup2(saved_err, 2);
  close(saved_err);
  close(err_file);
  close(ready[0]);
  waitpid(holder, nullptr, 0);

  EXPECT_TRUE(reported);
  // Each line, then its syslog copy.
  const std::string self = "db_core_test[" + std::to_string(getpid()) + "] ";
  std::vector<std::string> lines;
  std::istringstream in(err());
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 4u) << err();
  EXPECT_EQ(lines[1], "dbtest: " + lines[0]);
  EXPECT_EQ(lines[3], "dbtest: " + lines[2]);
  EXPECT_EQ(lines[0].rfind(self + "has waited ", 0), 0u) << lines[0];
  EXPECT_NE(
      lines[0].find(" s for the lock file " + path + " held by process " + std::to_string(holder)),
      std::string::npos)
      << lines[0];
  EXPECT_EQ(lines[2].rfind(self + "got the lock file " + path + " after ", 0), 0u) << lines[2];
  EXPECT_FALSE(other_process_can_lock(path));
  EXPECT_EQ(db_unlock(fd), 0);
}

TEST(DbOpen, MissingDirectoryFailsWithItsMessage) {
  DbSandbox sandbox(false);
  std::string path = sandbox.path(paths::kEventsDb);
  sqlite3 *connection = reinterpret_cast<sqlite3 *>(&sandbox);
  CaptureStdout();
  int result = db_open(path.c_str(), &connection);
  std::string out = GetCapturedStdout();
  EXPECT_EQ(result, SQLITE_CANTOPEN);
  EXPECT_EQ(connection, nullptr);
  EXPECT_EQ(out, "open database " + path + " : unable to open database file\n");
  EXPECT_EQ(db_close(nullptr), 0);
}

// The same text goes to the system log at LOG_ERR: LOG_PERROR copies what
// the mask lets through to stderr.
TEST(DbOpen, FailureIsLoggedAsAnError) {
  DbSandbox sandbox(false);
  std::string path = sandbox.path(paths::kEventsDb);
  const std::string message = "open database " + path + " : unable to open database file\n";
  openlog("dbtest", LOG_PERROR, LOG_DAEMON);
  int saved_mask = setlogmask(LOG_MASK(LOG_ERR));
  sqlite3 *connection = nullptr;
  CaptureStdout();
  CaptureStderr();
  db_open(path.c_str(), &connection);
  std::string logged = GetCapturedStderr();
  setlogmask(LOG_MASK(LOG_WARNING) | LOG_MASK(LOG_INFO) | LOG_MASK(LOG_DEBUG));
  CaptureStderr();
  db_open(path.c_str(), &connection);
  std::string other_levels = GetCapturedStderr();
  GetCapturedStdout();
  setlogmask(saved_mask);
  closelog();
  EXPECT_EQ(logged, "dbtest: " + message);
  EXPECT_EQ(other_levels, "");
}

TEST(DbOpen, DatabaseDescriptorsAreCloseOnExec) {
  DbSandbox sandbox;
  sandbox.create_event_tables();
  sqlite3 *connection = nullptr;
  ASSERT_EQ(db_open(sandbox.path(paths::kEventsDb).c_str(), &connection), SQLITE_OK);
  // The file is opened lazily; a statement makes SQLite open it.
  CaptureStdout();
  EXPECT_EQ(db_exec(connection, "begin; delete from eventlog;"), SQLITE_OK);
  GetCapturedStdout();
  std::vector<int> open_files = descriptors_of(sandbox.root());
  EXPECT_GE(open_files.size(), 2u);  // database and journal
  for (int fd : open_files) EXPECT_TRUE(close_on_exec(fd)) << fd;
  CaptureStdout();
  db_exec(connection, "rollback;");
  GetCapturedStdout();
  db_close(connection);
}

TEST_F(DbCore, QueryHoldsTheWholeResultAndWalksIt) {
  DbQuery *result = nullptr;
  int rows = 0;
  ASSERT_EQ(query("select a,b from t order by rowid;", &result, &rows), 0);
  EXPECT_EQ(trace_, "query:select a,b from t order by rowid;\n");
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(rows, 3);
  EXPECT_EQ(result->rows, 3);
  EXPECT_EQ(result->columns, 2);
  EXPECT_EQ(result->cursor, 1);
  EXPECT_EQ(result->connection, connection_);

  char a[16] = {};
  char b[16] = "untouched";
  EXPECT_EQ(db_get_value(result, 0, a, sizeof a), 0);
  EXPECT_EQ(db_get_value(result, 1, b, sizeof b), 0);
  EXPECT_STREQ(a, "one");
  EXPECT_STREQ(b, "untouched");  // NULL cell

  EXPECT_EQ(db_next_row(result), 0);
  EXPECT_EQ(db_get_value(result, 1, b, sizeof b), 0);
  EXPECT_STREQ(b, "second");
  EXPECT_EQ(db_next_row(result), 0);
  char cut[5] = {};
  EXPECT_EQ(db_get_value(result, 1, cut, sizeof cut), 0);
  EXPECT_STREQ(cut, "0123");
  char exact[11] = {};
  EXPECT_EQ(db_get_value(result, 1, exact, sizeof exact), 0);
  EXPECT_STREQ(exact, "0123456789");

  EXPECT_EQ(db_next_row(result), 1);
  EXPECT_EQ(result->cursor, 3);
  EXPECT_EQ(db_get_value(result, 2, a, sizeof a), -1);  // outside the result
  EXPECT_EQ(db_free_result(result), 0);
}

TEST_F(DbCore, QueryWithoutRowsOrFailingGivesNoResult) {
  DbQuery *result = reinterpret_cast<DbQuery *>(this);
  int rows = -1;
  EXPECT_EQ(query("select a from t where a='none';", &result, &rows), 0);
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(rows, 0);

  EXPECT_EQ(query("select a from nowhere;", &result, &rows), SQLITE_ERROR);
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(trace_,
            "query:select a from nowhere;\n"
            "&&&&&&&&&& excute sql select a from nowhere; : no such "
            "table: nowhere\n");
}

TEST_F(DbCore, QueryAndExecRejectMissingArguments) {
  DbQuery *result = nullptr;
  int rows = 0;
  CaptureStderr();
  EXPECT_EQ(db_query(nullptr, "select 1;", &result, &rows), -1);
  EXPECT_EQ(db_query(connection_, nullptr, &result, &rows), -1);
  EXPECT_EQ(db_query(connection_, "select 1;", &result, nullptr), -1);
  EXPECT_EQ(GetCapturedStderr(),
            "mysql execute param is invalid\n"
            "mysql execute param is invalid\n"
            "mysql execute param is invalid\n");
  EXPECT_EQ(db_exec(nullptr, "select 1;"), -1);
  EXPECT_EQ(db_exec(connection_, nullptr), -1);
}

TEST_F(DbCore, ExecRunsEveryStatementAndReportsErrors) {
  CaptureStdout();
  int result = db_exec(connection_,
                       "insert into t values('four', NULL);"
                       "insert into t values('five', NULL);");
  EXPECT_EQ(GetCapturedStdout(),
            "~~~~~~~~ excute: insert into t values('four', NULL);"
            "insert into t values('five', NULL);\n");
  EXPECT_EQ(result, SQLITE_OK);
  EXPECT_EQ(sandbox_.value("select count(*) from t;"), "5");

  CaptureStdout();
  CaptureStderr();
  result = db_exec(connection_, "insert into missing values(1);");
  std::string err = GetCapturedStderr();
  GetCapturedStdout();
  EXPECT_EQ(result, SQLITE_ERROR);
  EXPECT_EQ(err, "error:no such table: missing\n");
}

TEST_F(DbCore, CellOperationsWithoutResult) {
  DbQuery empty{};
  char buffer[8] = "keep";
  char *text = nullptr;
  CaptureStderr();
  EXPECT_EQ(db_get_value(&empty, 0, buffer, sizeof buffer), -1);
  EXPECT_EQ(db_get_value(nullptr, 0, buffer, sizeof buffer), -1);
  EXPECT_EQ(db_get_value_dup(&empty, 0, &text), -1);
  EXPECT_EQ(GetCapturedStderr(), "have no res!\nhave no res!\nhave no res\n");
  EXPECT_STREQ(buffer, "keep");
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(db_next_row(nullptr), -1);
  EXPECT_EQ(db_free_result(nullptr), -1);
}

TEST_F(DbCore, GetValueDupCopiesTheWholeCell) {
  ASSERT_EQ(sandbox_.exec("insert into t values('" + std::string(3000, 'x') + "', NULL);"),
            SQLITE_OK);
  DbQuery *result = nullptr;
  int rows = 0;
  ASSERT_EQ(query("select a,b from t where length(a) > 100;", &result, &rows), 0);
  ASSERT_NE(result, nullptr);
  char *text = nullptr;
  EXPECT_EQ(db_get_value_dup(result, 0, &text), 0);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::string(text), std::string(3000, 'x'));
  char *null_cell = nullptr;
  EXPECT_EQ(db_get_value_dup(result, 1, &null_cell), 0);
  EXPECT_EQ(null_cell, nullptr);
  utils_free(&text);
  db_free_result(result);
}

TEST_F(DbCore, OneRowResultStaysOnItsRow) {
  DbQuery *result = nullptr;
  int rows = 0;
  ASSERT_EQ(query("select a from t where a='two';", &result, &rows), 0);
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(db_next_row(result), 1);
  EXPECT_EQ(result->cursor, 1);
  db_free_result(result);
}

TEST(DbHandle, LifeCycle) {
  DbSandbox sandbox;
  std::string lock = sandbox.path(paths::kDbLock);
  std::string db = sandbox.path(paths::kEventsDb);
  DbHandle *fresh = db_handle_new(lock.c_str(), db.c_str());
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh->lock_fd, -1);
  EXPECT_EQ(fresh->connection, nullptr);
  EXPECT_EQ(fresh->query, nullptr);
  EXPECT_EQ(fresh->statement, nullptr);
  EXPECT_STREQ(fresh->lock_path, lock.c_str());
  EXPECT_STREQ(fresh->db_path, db.c_str());
  db_handle_destroy(&fresh);
  EXPECT_EQ(fresh, nullptr);
  db_handle_destroy(&fresh);

  CaptureStdout();
  DbHandle *handle = db_handle_open(lock.c_str(), db.c_str());
  ASSERT_NE(handle, nullptr);
  EXPECT_GE(handle->lock_fd, 0);
  EXPECT_FALSE(other_process_can_lock(lock));

  const char *sql = db_handle_set_sql(handle,
                                      "create table h(v text); insert into h values('7');"
                                      "insert into h values('9');");
  EXPECT_EQ(sql, handle->statement);
  EXPECT_EQ(db_handle_exec(handle), SQLITE_OK);
  db_handle_set_sql(handle, "select count(*) from h;");
  EXPECT_EQ(db_handle_count(handle), 2);
  db_handle_set_sql(handle, "select v from h order by v;");
  EXPECT_EQ(db_handle_query(handle), 0);
  EXPECT_EQ(handle->rows, 2);
  char value[4] = {};
  db_get_value(handle->query, 0, value, sizeof value);
  EXPECT_STREQ(value, "7");
  EXPECT_EQ(db_handle_reset(handle), 0);
  EXPECT_EQ(handle->query, nullptr);
  EXPECT_EQ(handle->statement, nullptr);

  db_handle_set_sql(handle, "select v from h where v='none';");
  EXPECT_EQ(db_handle_query(handle), -2);
  EXPECT_EQ(db_handle_count(handle), -1);
  db_handle_set_sql(handle, "select v from missing;");
  EXPECT_EQ(db_handle_query(handle), -2);

  EXPECT_EQ(db_handle_close(handle), 0);
  EXPECT_EQ(handle->lock_fd, -1);
  EXPECT_EQ(handle->connection, nullptr);
  EXPECT_TRUE(other_process_can_lock(lock));
  db_handle_destroy(&handle);
  GetCapturedStdout();
  EXPECT_EQ(handle, nullptr);
}

TEST(DbHandle, OpenFailsForAMissingDirectory) {
  DbSandbox sandbox(false);
  CaptureStdout();
  DbHandle *handle =
      db_handle_open(sandbox.path(paths::kDbLock).c_str(), sandbox.path(paths::kEventsDb).c_str());
  GetCapturedStdout();
  EXPECT_EQ(handle, nullptr);
}

}  // namespace
