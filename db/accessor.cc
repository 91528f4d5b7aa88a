#include "db/accessor.h"

#include <sqlite3.h>
#include <syslog.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "utils/utils.h"

namespace {

// '%s' between quotes becomes SQLite's %q, which doubles the quotes of the
// value and writes a quote-free value unchanged.
std::string quote_text_values(const char *format) {
  static constexpr char kQuotedText[] = "'%s'";
  std::string quoted(format);
  for (size_t at = quoted.find(kQuotedText); at != std::string::npos;
       at = quoted.find(kQuotedText, at + sizeof kQuotedText - 1)) {
    quoted[at + 2] = 'q';
  }
  return quoted;
}

// The failure of this thread's current table operation, for db_last_error.
thread_local char last_error[256];

void note_error(const char *cause) {
  snprintf(last_error, sizeof last_error, "%s", cause != nullptr ? cause : "");
}

constexpr char kNotRun[] = "statement longer than its buffer, not run";

void *allocate_records(size_t size, int count) {
  if (count <= 0 || size == 0 || size > static_cast<size_t>(INT_MAX) / static_cast<size_t>(count)) {
    return nullptr;
  }
  return utils_malloc(static_cast<int>(size * static_cast<size_t>(count)));
}

// db_vformat's work; format is not a literal when a head is joined to it.
bool format_statement(char *buffer, int size, const char *format, va_list args) {
  if (buffer == nullptr || size < 1 || size == INT_MAX) return false;
  memset(buffer, 0, static_cast<size_t>(size));
  if (format == nullptr) return true;
  const std::string quoted = quote_text_values(format);
  // sqlite3_vmprintf does not initialise the library itself, and statements
  // are formatted before the first connection of a process opens: %q of a
  // long value would allocate through a null allocator then.
  sqlite3_initialize();
  char *full = sqlite3_vmprintf(quoted.c_str(), args);
  size_t length = full != nullptr ? strlen(full) : 0;
  bool fits = full != nullptr && length < static_cast<size_t>(size);
  if (fits) {
    memcpy(buffer, full, length);
  } else if (full == nullptr) {
    fprintf(stderr, "statement not formatted (out of memory), not run: %s\n", format);
    syslog(LOG_ERR, "statement not formatted (out of memory), not run: %s", format);
  } else {
    fprintf(stderr, "statement of %zu characters does not fit its %d-byte buffer, not run: %s\n",
            length, size, format);
    syslog(LOG_ERR, "statement of %zu characters does not fit its %d-byte buffer, not run: %s",
           length, size, format);
  }
  sqlite3_free(full);
  return fits;
}

}  // namespace

bool db_vformat(char *buffer, int size, const char *format, va_list args) {
  return format_statement(buffer, size, format, args);
}

bool db_vformat_after(char *buffer, int size, const char *head, const char *format, va_list args) {
  return format_statement(buffer, size, (std::string(head) + format).c_str(), args);
}

const char *db_last_error(void) { return last_error; }

namespace {

std::mutex &session_mutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

DbSession::DbSession(const char *locked_trace, DbAccess access) : threads_(session_mutex()) {
  note_error("");
  lock_fd_ = db_lock(utils_path(paths::kDbLock).c_str());
  if (lock_fd_ == kDbLockFailed) {
    note_error("the lock file cannot be locked");
    return;
  }
  if (locked_trace != nullptr) db_trace("%s", locked_trace);
  const std::string database = utils_path(paths::kEventsDb);
  int result = access == DbAccess::kReadOnly ? db_open_read_only(database.c_str(), &connection_)
                                             : db_open(database.c_str(), &connection_);
  if (result != SQLITE_OK) note_error(sqlite3_errstr(result));
}

DbSession::~DbSession() {
  release_query();
  db_close(connection_);
  db_unlock(lock_fd_);
}

int DbSession::exec(const char *sql) {
  if (sql == nullptr) {
    note_error(kNotRun);
    return SQLITE_TOOBIG;
  }
  int result = db_exec(connection_, sql);
  if (result != SQLITE_OK && connection_ != nullptr) note_error(sqlite3_errmsg(connection_));
  return result;
}

int DbSession::query(const char *sql) {
  release_query();
  if (sql == nullptr) {
    note_error(kNotRun);
    return SQLITE_TOOBIG;
  }
  int rows = 0;
  int result = db_query(connection_, sql, &query_, &rows);
  if (result != SQLITE_OK && connection_ != nullptr) note_error(sqlite3_errmsg(connection_));
  return result;
}

int DbSession::count(const char *sql, int *count) {
  if (!found(sql)) return -1;
  *count = db_get_count(query_);
  release_query();
  return 0;
}

void DbSession::release_query() {
  db_free_result(query_);
  query_ = nullptr;
}

int db_session_read(DbSession *session, const DbRead &read, const DbRecordType &type,
                    void **records, int *count) {
  *records = nullptr;
  const DbResults &results = read.results;
  if (!session->is_open()) return results.open_failed;
  int wanted = read.max_rows;
  if (read.count_sql != nullptr) {
    if (session->count(read.count_sql, count) != 0) {
      return results.count_failed;
    }
    if (*count <= 0) return results.count_empty;
    wanted = *count;
  }
  if (!session->found(read.sql)) return results.query_failed;
  auto *block = static_cast<unsigned char *>(allocate_records(type.size, wanted));
  if (block == nullptr) {
    note_error(sqlite3_errstr(SQLITE_NOMEM));
    return results.alloc_failed;
  }
  DbQuery *query = session->result();
  int filled = 0;
  while (filled < wanted) {
    type.fill(query, type.layout, block + type.size * filled);
    ++filled;
    if (db_next_row(query) != 0) break;
  }
  if (read.count_sql == nullptr) *count = filled;
  session->release_query();
  *records = block;
  return 0;
}

int db_read(const DbRead &read, const DbRecordType &type, void **records, int *count) {
  *records = nullptr;
  DbSession session;
  return db_session_read(&session, read, type, records, count);
}

int db_write(const char *sql, const DbWriteResults &results) {
  DbSession session;
  if (!session.is_open()) return results.open_failed;
  int result = session.exec(sql);
  if (results.statement_result) return result;
  return sql == nullptr ? -1 : 0;
}

int db_test(const char *sql, int open_failed) {
  DbSession session;
  if (!session.is_open()) return open_failed;
  return session.query(sql) == SQLITE_OK ? 1 : 0;
}

int db_count(const char *sql, int *count) {
  DbSession session;
  if (!session.is_open()) return -1;
  return session.count(sql, count) == 0 ? 0 : -2;
}
