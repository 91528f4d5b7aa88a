#include "db/core.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "utils/utils.h"

namespace {

// How long lockf may wait before the wait is reported.
constexpr int kLockWaitReportMs = 5000;
std::atomic<int> lock_wait_report_ms{kLockWaitReportMs};
// lockf cannot wait with a time limit: until the report is due, the lock is
// tried this often.
constexpr auto kLockRetry = std::chrono::milliseconds(10);

// The process holding a lock on fd's file, or 0 when none is known.
pid_t lock_holder(int fd) {
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  if (fcntl(fd, F_GETLK, &probe) != 0 || probe.l_type == F_UNLCK) return 0;
  return probe.l_pid;
}

__attribute__((format(printf, 1, 2))) void report_lock_wait(const char *format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  fprintf(stderr, "%s\n", text);
  syslog(LOG_WARNING, "%s", text);
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// lockf F_LOCK on fd, waiting as long as another process holds the file. A
// wait past the report time is reported once, and once more when it ends:
// a stalled database is otherwise silent. 0, or the errno of a lock that
// cannot be taken (EDEADLK, ENOLCK, ...; an interrupted wait is resumed),
// reported at LOG_ERR.
int lock_waiting(int fd, const char *path) {
  const auto start = std::chrono::steady_clock::now();
  const auto report_at = start + std::chrono::milliseconds(lock_wait_report_ms.load());
  for (;;) {
    if (lockf(fd, F_TLOCK, 0) == 0) return 0;
    if (errno == EINTR) continue;
    // Without a conflicting lock there is nothing to wait for; the blocking
    // call below gives the same answer as ever.
    if (errno != EACCES && errno != EAGAIN) break;
    if (std::chrono::steady_clock::now() >= report_at) break;
    std::this_thread::sleep_for(kLockRetry);
  }
  const bool waiting = std::chrono::steady_clock::now() >= report_at;
  if (waiting) {
    report_lock_wait("%s[%d] has waited %.0f s for the lock file %s held by process %d",
                     program_invocation_short_name, static_cast<int>(getpid()),
                     seconds_since(start), path, static_cast<int>(lock_holder(fd)));
  }
  // A handler installed without SA_RESTART by a program linking us ends the
  // wait with EINTR: that is no answer, wait on.
  int error = 0;
  while (lockf(fd, F_LOCK, 0) != 0) {
    if (errno != EINTR) {
      error = errno;
      break;
    }
  }
  if (error != 0) {
    syslog(LOG_ERR, "lock file %s cannot be locked, operation not run: %s", path, strerror(error));
    fprintf(stderr, "lock file %s cannot be locked, operation not run: %s\n", path,
            strerror(error));
  } else if (waiting) {
    report_lock_wait("%s[%d] got the lock file %s after %.1f s", program_invocation_short_name,
                     static_cast<int>(getpid()), path, seconds_since(start));
  }
  return error;
}

// lockf locks belong to the process, not to the descriptor: F_ULOCK through
// any descriptor, or closing ANY descriptor of the file, drops the lock that
// another thread of ours may still be working under. So the process keeps
// one descriptor per lock file, shared by all its holders: the first holder
// opens and locks it, the last one unlocks and closes it. A file already
// held is recognised by stat, never by opening it again.
using FileKey = std::pair<dev_t, ino_t>;

struct HeldFile {
  FileKey key;
  std::string path;  // as the first holder named it
  int fd = -1;
  int holders = 0;          // including threads still waiting in lock(); under the table's mutex
  std::mutex locking;       // held by the first holder while it waits for the lock
  bool locked = false;      // under locking
  std::vector<int> strays;  // see join()
};

// Where these mutexes sit in the daemon's lock order: db/accessor.h.
class LockTable {
 public:
  // Holders that join while the first one still waits in lockf wait for it
  // on the file's locking mutex.
  int lock(const char *path) {
    HeldFile *file = join(path);
    if (file == nullptr) return -1;
    {
      std::lock_guard<std::mutex> guard(file->locking);
      if (file->locked || lock_waiting(file->fd, file->path.c_str()) == 0) {
        file->locked = true;
        return file->fd;
      }
    }
    unlock(file->fd);
    return kDbLockFailed;
  }

  int unlock(int fd) {
    std::unique_lock<std::mutex> guard(mutex_);
    auto found = std::find_if(files_.begin(), files_.end(),
                              [fd](const auto &entry) { return entry.second->fd == fd; });
    if (found == files_.end()) {
      guard.unlock();
      lockf(fd, F_ULOCK, 0);
      return close(fd);
    }
    HeldFile &file = *found->second;
    if (--file.holders > 0) return 0;
    lockf(fd, F_ULOCK, 0);
    for (int stray : file.strays) close(stray);
    files_.erase(found);
    return close(fd);
  }

 private:
  HeldFile *join(const char *path) {
    std::lock_guard<std::mutex> guard(mutex_);
    struct stat status {};
    HeldFile *file = stat(path, &status) == 0 ? find({status.st_dev, status.st_ino}) : nullptr;
    if (file == nullptr) {
      // The daemon runs shell commands all day: the descriptor must not
      // leak. A symlinked lock file is followed like the appliance's other
      // lockers do; refusing it would leave this program running unlocked
      // beside them.
      int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
      if (fd < 0) return nullptr;
      FileKey key{0, 0};
      if (fstat(fd, &status) == 0) key = {status.st_dev, status.st_ino};
      file = find(key);
      if (file != nullptr) {
        // The path was switched to a file we hold between stat and open:
        // closing this descriptor now would drop that lock.
        file->strays.push_back(fd);
      } else {
        auto made = std::make_unique<HeldFile>();
        made->key = key;
        made->path = path;
        made->fd = fd;
        file = made.get();
        files_[key] = std::move(made);
      }
    }
    ++file->holders;
    return file;
  }

  HeldFile *find(const FileKey &key) {
    auto found = files_.find(key);
    return found != files_.end() ? found->second.get() : nullptr;
  }

  std::mutex mutex_;
  std::map<FileKey, std::unique_ptr<HeldFile>> files_;
};

std::atomic<bool> stdout_traces{true};

LockTable &lock_table() {
  static auto *table = new LockTable;  // outlives every static destructor
  return *table;
}

// The query a handle runs into handle->query, releasing the one before.
int handle_run_query(DbHandle *handle) {
  db_free_result(handle->query);
  handle->query = nullptr;
  handle->rows = 0;
  return db_query(handle->connection, handle->statement, &handle->query, &handle->rows);
}

// The cell of column in the current row; null for a NULL cell or a column
// outside the result.
const char *current_cell(const DbQuery *query, int column, bool *valid) {
  *valid =
      column >= 0 && column < query->columns && query->cursor >= 1 && query->cursor <= query->rows;
  if (!*valid) return nullptr;
  return query->result[query->cursor * query->columns + column];
}

// The end of both opens: the connection out, or the failure reported.
int opened_or_reported(int result, const char *path, sqlite3 *opened, sqlite3 **connection) {
  if (result != SQLITE_OK) {
    const char *message = opened ? sqlite3_errmsg(opened) : sqlite3_errstr(result);
    db_trace("open database %s : %s\n", path, message);
    syslog(LOG_ERR, "open database %s : %s\n", path, message);
    sqlite3_close(opened);
    return result;
  }
  *connection = opened;
  return result;
}

}  // namespace

int db_lock(const char *path) {
  if (path == nullptr) return -1;
  return lock_table().lock(path);
}

int db_unlock(int fd) {
  if (fd < 0) return fd;
  return lock_table().unlock(fd);
}

void db_set_stdout_traces(bool enabled) { stdout_traces = enabled; }

void db_trace(const char *format, ...) {
  if (!stdout_traces) return;
  va_list args;
  va_start(args, format);
  vprintf(format, args);
  va_end(args);
}

void db_set_lock_wait_report(int milliseconds) {
  lock_wait_report_ms = milliseconds > 0 ? milliseconds : kLockWaitReportMs;
}

int db_open(const char *path, sqlite3 **connection) {
  if (connection == nullptr) return SQLITE_MISUSE;
  *connection = nullptr;
  if (path == nullptr) return SQLITE_MISUSE;
  sqlite3 *opened = nullptr;
  int result = sqlite3_open(path, &opened);
  return opened_or_reported(result, path, opened, connection);
}

int db_open_read_only(const char *path, sqlite3 **connection) {
  if (connection == nullptr) return SQLITE_MISUSE;
  *connection = nullptr;
  if (path == nullptr) return SQLITE_MISUSE;
  sqlite3 *opened = nullptr;
  int result = sqlite3_open_v2(path, &opened, SQLITE_OPEN_READONLY, nullptr);
  return opened_or_reported(result, path, opened, connection);
}

int db_close(sqlite3 *connection) {
  if (connection != nullptr) sqlite3_close(connection);
  return 0;
}

int db_query(sqlite3 *connection, const char *sql, DbQuery **query, int *rows) {
  if (query != nullptr) *query = nullptr;
  if (connection == nullptr || sql == nullptr || rows == nullptr) {
    fputs("mysql execute param is invalid\n", stderr);
    return -1;
  }
  db_trace("query:%s\n", sql);
  *rows = 0;
  auto *held = static_cast<DbQuery *>(utils_malloc(sizeof(DbQuery)));
  if (held == nullptr) return SQLITE_NOMEM;
  held->connection = connection;
  int result = sqlite3_get_table(connection, sql, &held->result, &held->rows, &held->columns,
                                 &held->error_text);
  if (held->result != nullptr) held->cursor = 1;
  *rows = held->rows;
  if (result != SQLITE_OK) {
    db_trace("&&&&&&&&&& excute sql %s : %s\n", sql, sqlite3_errmsg(connection));
  }
  sqlite3_free(held->error_text);
  held->error_text = nullptr;
  if (held->rows == 0 || result != SQLITE_OK || query == nullptr) {
    db_free_result(held);
  } else {
    *query = held;
  }
  return result;
}

int db_exec(sqlite3 *connection, const char *sql) {
  if (connection == nullptr || sql == nullptr) return -1;
  db_trace("~~~~~~~~ excute: %s\n", sql);
  char *error = nullptr;
  int result = sqlite3_exec(connection, sql, nullptr, nullptr, &error);
  if (result != SQLITE_OK) {
    fprintf(stderr, "error:%s\n", error ? error : sqlite3_errstr(result));
  }
  sqlite3_free(error);
  return result;
}

int db_get_value(DbQuery *query, int column, char *buffer, int width) {
  if (query == nullptr || query->result == nullptr) {
    fputs("have no res!\n", stderr);
    return -1;
  }
  bool valid = false;
  const char *cell = current_cell(query, column, &valid);
  if (!valid || buffer == nullptr || width < 1) return -1;
  if (cell == nullptr) return 0;
  size_t length = utils_utf8_cut(cell, strlen(cell), static_cast<size_t>(width) - 1);
  memcpy(buffer, cell, length);
  buffer[length] = '\0';
  return 0;
}

int db_get_value_dup(DbQuery *query, int column, char **text) {
  if (query == nullptr || query->result == nullptr) {
    fputs("have no res\n", stderr);
    return -1;
  }
  bool valid = false;
  const char *cell = current_cell(query, column, &valid);
  if (!valid || text == nullptr) return -1;
  if (cell == nullptr) return 0;
  char *copy = utils_strdup(cell);
  if (copy == nullptr) return -3;
  *text = copy;
  return 0;
}

int db_get_count(DbQuery *query) {
  char number[8] = {};
  db_get_value(query, 0, number, sizeof number);
  return atoi(number);
}

int db_next_row(DbQuery *query) {
  if (query == nullptr) return -1;
  if (query->cursor >= query->rows) return 1;
  ++query->cursor;
  return 0;
}

int db_free_result(DbQuery *query) {
  if (query == nullptr) return -1;
  if (query->result != nullptr) sqlite3_free_table(query->result);
  query->result = nullptr;
  utils_free(&query);
  return 0;
}

DbHandle *db_handle_new(const char *lock_path, const char *db_path) {
  auto *handle = static_cast<DbHandle *>(utils_malloc(sizeof(DbHandle)));
  if (handle == nullptr) return nullptr;
  handle->lock_fd = -1;
  handle->lock_path = utils_strdup(lock_path);
  handle->db_path = utils_strdup(db_path);
  if ((lock_path != nullptr && handle->lock_path == nullptr) ||
      (db_path != nullptr && handle->db_path == nullptr)) {
    db_handle_destroy(&handle);
  }
  return handle;
}

DbHandle *db_handle_open(const char *lock_path, const char *db_path) {
  DbHandle *handle = db_handle_new(lock_path, db_path);
  if (handle == nullptr) return nullptr;
  handle->lock_fd = db_lock(handle->lock_path);
  if (handle->lock_fd == kDbLockFailed ||
      db_open(handle->db_path, &handle->connection) != SQLITE_OK) {
    db_handle_destroy(&handle);
  }
  return handle;
}

char *db_handle_set_sql(DbHandle *handle, const char *sql) {
  if (handle == nullptr) return nullptr;
  utils_free(&handle->statement);
  handle->statement = utils_strdup(sql);
  return handle->statement;
}

int db_handle_query(DbHandle *handle) {
  if (handle == nullptr) return -2;
  int result = handle_run_query(handle);
  return result == SQLITE_OK && handle->query != nullptr ? 0 : -2;
}

int db_handle_count(DbHandle *handle) {
  if (handle == nullptr) return -1;
  int result = handle_run_query(handle);
  if (result != SQLITE_OK || handle->query == nullptr) return -1;
  return db_get_count(handle->query);
}

int db_handle_exec(DbHandle *handle) {
  if (handle == nullptr) return -1;
  return db_exec(handle->connection, handle->statement);
}

int db_handle_reset(DbHandle *handle) {
  if (handle == nullptr) return -1;
  db_free_result(handle->query);
  handle->query = nullptr;
  handle->rows = 0;
  utils_free(&handle->statement);
  return 0;
}

int db_handle_close(DbHandle *handle) {
  if (handle == nullptr) return -1;
  db_free_result(handle->query);
  handle->query = nullptr;
  db_close(handle->connection);
  handle->connection = nullptr;
  db_unlock(handle->lock_fd);
  handle->lock_fd = -1;
  return 0;
}

void db_handle_destroy(DbHandle **handle) {
  if (handle == nullptr || *handle == nullptr) return;
  db_handle_close(*handle);
  utils_free(&(*handle)->lock_path);
  utils_free(&(*handle)->db_path);
  utils_free(&(*handle)->statement);
  utils_free(handle);
}
