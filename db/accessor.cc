#include "db/accessor.h"

#include <sqlite3.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "utils/alloc.h"
#include "utils/paths.h"

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

// Where to cut text (longer than keep) so that the kept part does not end
// with the first quote of a doubled pair: that would close the literal the
// value was escaped inside, and the statement would run on a shortened
// value instead of failing.
size_t cut_outside_pair(const std::string &text, size_t keep) {
  bool in_literal = false;
  for (size_t at = 0; at < keep; ++at) {
    if (text[at] != '\'') continue;
    if (in_literal && text[at + 1] == '\'') {
      if (at + 1 == keep) return at;
      ++at;
      continue;
    }
    in_literal = !in_literal;
  }
  return keep;
}

void *allocate_records(size_t size, int count) {
  if (count <= 0 || size == 0 || size > static_cast<size_t>(INT_MAX) / static_cast<size_t>(count)) {
    return nullptr;
  }
  return utils_malloc(static_cast<int>(size * static_cast<size_t>(count)));
}

// db_vformat's work; format is not a literal when a head is joined to it.
void format_statement(char *buffer, int size, const char *format, va_list args) {
  if (buffer == nullptr || size < 1 || size == INT_MAX) return;
  memset(buffer, 0, static_cast<size_t>(size));
  if (format == nullptr) return;
  const std::string quoted = quote_text_values(format);
  // One character more than fits shows whether, and where, the cut falls.
  std::string full(static_cast<size_t>(size) + 1, '\0');
  // Statements are formatted before the first connection of a process opens,
  // and sqlite3_vsnprintf does not initialise the library itself: %q of a
  // long value allocates a scratch buffer, through a null allocator then.
  sqlite3_initialize();
  sqlite3_vsnprintf(size + 1, &full[0], quoted.c_str(), args);
  size_t length = strlen(full.c_str());
  size_t keep = std::min(length, static_cast<size_t>(size) - 1);
  if (length > keep) keep = cut_outside_pair(full, keep);
  memcpy(buffer, full.data(), keep);
}

}  // namespace

void db_vformat(char *buffer, int size, const char *format, va_list args) {
  format_statement(buffer, size, format, args);
}

void db_vformat_after(char *buffer, int size, const char *head, const char *format, va_list args) {
  format_statement(buffer, size, (std::string(head) + format).c_str(), args);
}

DbSession::DbSession(const char *locked_trace, DbAccess access) {
  lock_fd_ = db_lock(utils_path(paths::kDbLock).c_str());
  if (locked_trace != nullptr) db_trace("%s", locked_trace);
  const std::string database = utils_path(paths::kEventsDb);
  if (access == DbAccess::kReadOnly) {
    db_open_read_only(database.c_str(), &connection_);
  } else {
    db_open(database.c_str(), &connection_);
  }
}

DbSession::~DbSession() {
  release_query();
  db_close(connection_);
  db_unlock(lock_fd_);
}

int DbSession::exec(const char *sql) { return db_exec(connection_, sql); }

int DbSession::query(const char *sql) {
  release_query();
  int rows = 0;
  return db_query(connection_, sql, &query_, &rows);
}

int DbSession::count(const char *sql, int *count) {
  if (!found(sql)) return -1;
  char number[8] = {};
  db_get_value(query_, 0, number, sizeof number);
  *count = atoi(number);
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
  if (block == nullptr) return results.alloc_failed;
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
  return results.statement_result ? result : 0;
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
