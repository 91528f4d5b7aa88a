// The accessor procedure: the one way every table operation reaches the
// event database.
//
// An operation is one self-contained pass: take the lockf lock on
// utils_path(paths::kDbLock) (a lock file that cannot be opened lets the
// operation run unlocked), open utils_path(paths::kEventsDb) (-1 on failure),
// run its statement or query from a zeroed fixed-size buffer, copy cells into
// the fixed-width fields of a new record, then release the query, close the
// connection and unlock, in that order. Nothing survives the call.
//
// A table operation only describes itself:
//   - its statement, formatted into a DbStatement<buffer size>;
//   - its record layout, a constexpr array of DbField<Record> telling which
//     select column fills which field;
//   - its result scheme (DbResults / DbWriteResults) when it differs from the
//     usual one;
// and hands them to db_read_row, db_read_list, db_read_upto, db_write,
// db_test or db_count. Operations of several steps on one connection (an
// insert and the query of its id, a query that picks the next one) open a
// DbSession themselves and use the same pieces.
//
// Example, a single-row read with a text argument:
//
//   constexpr DbField<DateRow> kDateFields[] = {
//       db_text<&DateRow::timezone>(0), db_text<&DateRow::ntpserver>(1)};
//   int date_get(DateRow **row, const char *name) {
//     if (row != nullptr) *row = nullptr;
//     if (row == nullptr || name == nullptr) return -1;
//     DbStatement<256> sql;
//     sql.format("select timezone,ntpserver from date where name='%s';", name);
//     return db_read_row(sql.c_str(), kDateFields, row);
//   }
#ifndef ALERTMILL_DB_ACCESSOR_H_
#define ALERTMILL_DB_ACCESSOR_H_

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <type_traits>

#include "db/core.h"

// Statements.

// Formats a statement into buffer (size bytes, zero-filled first).
// Conversions are %s and %d (SQLite's printf). A '%s' written between single
// quotes is a text value: a quote in it is doubled, so it can neither end its
// literal early nor add a statement; a text without quotes comes out exactly
// as snprintf would write it. A %s without quotes around it is pasted as SQL
// (table names, conditions, expressions built by the caller).
//
// True when the whole statement fits in size - 1 characters. One that does
// not is never cut: a cut can fall right after a closing quote and drop the
// rest of the statement, its WHERE clause with it. The buffer is left empty
// and the reason goes to stderr and the system log (LOG_ERR), naming the
// format but no value.
bool db_vformat(char *buffer, int size, const char *format, va_list args)
    __attribute__((format(printf, 3, 0)));

// An operation's zeroed statement buffer of Size bytes.
//
// A statement that does not fit leaves the buffer without statement: format
// and c_str() return null, and the procedures below run nothing for a null
// statement but fail with the operation's error result (see db_last_error).
template <int Size>
class DbStatement {
  static_assert(Size > 1);

 public:
  // Formats into the buffer as db_vformat does; returns the statement, or
  // null when it does not fit.
  const char *format(const char *format, ...) __attribute__((format(printf, 2, 3))) {
    va_list args;
    va_start(args, format);
    const char *statement = vformat(format, args);
    va_end(args);
    return statement;
  }

  const char *vformat(const char *format, va_list args) __attribute__((format(printf, 2, 0))) {
    fits_ = db_vformat(text_, Size, format, args);
    return c_str();
  }

  // Copies a fixed statement.
  const char *copy(const char *statement) { return format("%s", statement); }

  const char *c_str() const { return fits_ ? text_ : nullptr; }

 private:
  char text_[Size] = {};
  bool fits_ = true;
};

// Record layouts.

// One field of a record and the select column that fills it.
template <typename Record>
struct DbField {
  int column;
  void (*copy)(DbQuery *query, int column, Record *record);
};

namespace db_detail {

template <typename Member>
struct MemberTraits;
template <typename Record, typename Type>
struct MemberTraits<Type Record::*> {
  using record = Record;
  using type = Type;
};

template <auto Member>
using RecordOf = typename MemberTraits<decltype(Member)>::record;
template <auto Member>
using TypeOf = typename MemberTraits<decltype(Member)>::type;

template <auto Member>
void copy_text(DbQuery *query, int column, RecordOf<Member> *record) {
  auto &field = record->*Member;
  db_get_value(query, column, field, static_cast<int>(sizeof field));
}

template <auto Member, int Width>
void copy_integer(DbQuery *query, int column, RecordOf<Member> *record) {
  char text[Width] = {};
  db_get_value(query, column, text, Width);
  record->*Member = atoi(text);
}

}  // namespace db_detail

// A text field: the cell, cut to the field's width - 1; a NULL cell leaves
// the field as the zeroing allocation left it.
template <auto Member>
constexpr DbField<db_detail::RecordOf<Member>> db_text(int column) {
  using Type = db_detail::TypeOf<Member>;
  static_assert(std::is_array_v<Type> && std::is_same_v<std::remove_extent_t<Type>, char>,
                "a text field is a char array");
  return {column, &db_detail::copy_text<Member>};
}

// An integer field: the cell read through a text buffer of Width bytes and
// converted with atoi.
template <auto Member, int Width = 16>
constexpr DbField<db_detail::RecordOf<Member>> db_integer(int column) {
  static_assert(std::is_same_v<db_detail::TypeOf<Member>, int32_t>,
                "an integer field is a signed 32-bit int");
  return {column, &db_detail::copy_integer<Member, Width>};
}

// Copies the current row of query into record, field by field.
template <typename Record, size_t N>
void db_fill(DbQuery *query, const DbField<Record> (&fields)[N], Record *record) {
  for (const DbField<Record> &field : fields) {
    field.copy(query, field.column, record);
  }
}

// Result schemes.

// Results of a read: 0 on success, these on failure.
struct DbResults {
  int open_failed;   // the database did not open
  int count_failed;  // the count query failed or returned no row
  int count_empty;   // the count is not greater than 0
  int query_failed;  // the select failed or returned no row
  int alloc_failed;  // the record or array could not be allocated
};

// The usual scheme of single-row and list reads.
inline constexpr DbResults kDbReadResults{-1, -2, -3, -2, -3};
// List reads that number every failure apart.
inline constexpr DbResults kDbNumberedReadResults{-1, -2, -3, -4, -5};

// Results of a write.
struct DbWriteResults {
  int open_failed;
  bool statement_result;  // SQLite's code of the statement, else 0
};

// SQLite's result code; -1 when the database did not open.
inline constexpr DbWriteResults kDbWriteResults{-1, true};
// 0 once the database is open, whatever the statement did, except -1 for a
// statement that did not fit its buffer and so never ran. Other schemes are
// data too: {-3, false} reports a failed open as -3.
inline constexpr DbWriteResults kDbBlindWriteResults{-1, false};

// The session: lock, connection and at most one query.
//
// A null statement (one that did not fit its buffer) is not run: exec and
// query return SQLITE_TOOBIG for it.

class DbSession {
 public:
  // Takes the lock and opens the database; locked_trace, when given, goes
  // to stdout between the two. Starts the thread's db_last_error afresh.
  explicit DbSession(const char *locked_trace = nullptr);
  // Releases the query, closes the connection, unlocks.
  ~DbSession();
  DbSession(const DbSession &) = delete;
  DbSession &operator=(const DbSession &) = delete;

  bool is_open() const { return connection_ != nullptr; }
  sqlite3 *connection() const { return connection_; }

  // db_exec of sql.
  int exec(const char *sql);

  // Runs the query sql with db_query, releasing the query held before.
  // SQLite's result code; result() is then null unless it succeeded with at
  // least one row.
  int query(const char *sql);
  DbQuery *result() const { return query_; }
  // True when sql ran and returned at least one row.
  bool found(const char *sql) { return query(sql) == 0 && query_ != nullptr; }

  // Runs a count query: column 0 of its first row, read into an 8-character
  // buffer and converted with atoi, goes to *count, and the query is
  // released. 0; -1 when it failed or returned no row (*count untouched).
  int count(const char *sql, int *count);

  // Releases the query held, if any.
  void release_query();

 private:
  int lock_fd_ = -1;
  sqlite3 *connection_ = nullptr;
  DbQuery *query_ = nullptr;
};

// Reads on an open session, by record type.

// How records of one type are made: their size and the copy of the current
// row into one of them.
struct DbRecordType {
  size_t size;
  const void *fields;
  void (*fill)(DbQuery *query, const void *fields, void *record);
};

template <typename Record, size_t N>
DbRecordType db_record_type(const DbField<Record> (&fields)[N]) {
  static_assert(std::is_trivially_copyable_v<Record>);
  return {sizeof(Record), &fields, [](DbQuery *query, const void *layout, void *record) {
            db_fill(query, *static_cast<const DbField<Record>(*)[N]>(layout),
                    static_cast<Record *>(record));
          }};
}

// What a read runs.
struct DbRead {
  const char *count_sql;  // list read: its count query; null otherwise
  const char *sql;        // the select
  int max_rows;           // without count query: records allocated at once
  DbResults results;
};

// Runs read on session and hands out one new block of records in *records.
// With a count query: the count goes to *count, is checked, then the select
// fills that many records from the cursor. Without: the select fills up to
// max_rows records and *count receives how many were filled.
int db_session_read(DbSession *session, const DbRead &read, const DbRecordType &type,
                    void **records, int *count);

// One-pass reads. Their out pointers must not be null: an operation checks
// its arguments before it gets here.

// Opens a session and runs read on it.
int db_read(const DbRead &read, const DbRecordType &type, void **records, int *count);

// Typed form of db_session_read on session, or of db_read when session is
// null.
template <typename Record, size_t N>
int db_read_records(DbSession *session, const DbRead &read, const DbField<Record> (&fields)[N],
                    Record **records, int *count) {
  const DbRecordType type = db_record_type(fields);
  void *block = nullptr;
  int result = session != nullptr ? db_session_read(session, read, type, &block, count)
                                  : db_read(read, type, &block, count);
  *records = static_cast<Record *>(block);
  return result;
}

// Single-row read: the first row of sql fills a new *row.
template <typename Record, size_t N>
int db_read_row(const char *sql, const DbField<Record> (&fields)[N], Record **row,
                const DbResults &results = kDbReadResults) {
  int count = 0;
  return db_read_records(nullptr, {nullptr, sql, 1, results}, fields, row, &count);
}

// List read: count_sql gives the count, sql fills that many records of one
// new array.
template <typename Record, size_t N>
int db_read_list(const char *count_sql, const char *sql, const DbField<Record> (&fields)[N],
                 Record **rows, int *count, const DbResults &results = kDbReadResults) {
  *count = 0;
  return db_read_records(nullptr, {count_sql, sql, 0, results}, fields, rows, count);
}

// Read without count query: room for max_rows records is allocated at once
// and filled from the rows of sql; *count receives how many were filled.
template <typename Record, size_t N>
int db_read_upto(const char *sql, int max_rows, const DbField<Record> (&fields)[N], Record **rows,
                 int *count, const DbResults &results = kDbReadResults) {
  *count = 0;
  return db_read_records(nullptr, {nullptr, sql, max_rows, results}, fields, rows, count);
}

// Write: runs sql with db_exec. A statement that did not fit gives
// SQLITE_TOOBIG, or -1 where the statement's own result is not reported.
int db_write(const char *sql, const DbWriteResults &results = kDbWriteResults);

// Query-ran test: 1 when sql ran without error, whether or not a row
// matched; 0 when it failed; open_failed when the database did not open.
int db_test(const char *sql, int open_failed = 0);

// Count: runs a count query into *count. 0; -1 the database did not open; -2
// the query failed or returned no row.
int db_count(const char *sql, int *count);

#endif  // ALERTMILL_DB_ACCESSOR_H_
