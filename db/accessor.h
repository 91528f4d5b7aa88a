// The accessor procedure: the one way every table operation reaches the
// event database.
//
// An operation is one self-contained pass: take the lockf lock on
// utils_path(paths::kDbLock) (a lock file that cannot be opened lets the
// operation run unlocked; a lock that lockf refuses fails it as a database
// that cannot be opened), open utils_path(paths::kEventsDb) (-1 on failure),
// run its statement or query from a zeroed fixed-size buffer, copy cells into
// the fixed-width fields of a new record, then release the query, close the
// connection and unlock, in that order. Nothing survives the call.
//
// A table operation only describes itself:
//   - its statement, formatted into a DbStatement<buffer size>, or, for a
//     read, its record layout (a constexpr DbLayout: the select and the
//     fields its columns fill, in select order), alone or with a tail
//     formatted by db_select<buffer size>;
//   - its result scheme (DbResults / DbWriteResults) when it differs from the
//     usual one;
// and hands them to db_read_row, db_read_list, db_read_upto, db_write,
// db_test or db_count. Operations of several steps on one connection (an
// insert and the query of its id, a query that picks the next one) open a
// DbSession themselves and use the same pieces.
//
// Example, a single-row read with a text argument:
//
//   constexpr DbLayout kDate{"select timezone,ntpserver from date",
//                            {ALERTMILL_DB_TEXT(DateRow, timezone),
//                             ALERTMILL_DB_TEXT(DateRow, ntpserver)}};
//   int date_get(DateRow **row, const char *name) {
//     return db_read_row(row, db_select<256>(kDate, " where name='%s';", name),
//                        kDbReadResults, name != nullptr);
//   }
#ifndef ALERTMILL_DB_ACCESSOR_H_
#define ALERTMILL_DB_ACCESSOR_H_

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

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

// As db_vformat, of head followed by format; head is statement text without
// conversions.
bool db_vformat_after(char *buffer, int size, const char *head, const char *format, va_list args)
    __attribute__((format(printf, 4, 0)));

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

  // Formats head, statement text without conversions, followed by format,
  // as db_vformat_after does.
  __attribute__((format(printf, 3, 0))) const char *vformat_after(const char *head,
                                                                  const char *format,
                                                                  va_list args) {
    fits_ = db_vformat_after(text_, Size, head, format, args);
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

// One field of a record: the name of the select column that fills it and
// the copy of that column's cell into it.
template <typename Record>
struct DbField {
  const char *column;
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

constexpr char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr bool is_name_char(char c) {
  return c == '_' || (c >= '0' && c <= '9') || (lower(c) >= 'a' && lower(c) <= 'z');
}

// Past word at text and the blanks after it; null when text (null too)
// does not start with the whole word. Case-blind, as SQL compares names.
constexpr const char *skip(const char *text, const char *word) {
  if (text == nullptr) return nullptr;
  const char *at = text;
  for (; *word != '\0'; ++at, ++word) {
    if (lower(*at) != lower(*word)) return nullptr;
  }
  if (at == text || (is_name_char(at[-1]) && is_name_char(*at))) return nullptr;
  while (*at == ' ' || *at == '\t' || *at == '\n') ++at;
  return at;
}

// True when select reads "select", the columns of the count fields in
// their order, comma-separated, then "from", and holds no '%' (a tail's
// format is appended to it).
template <typename Record>
constexpr bool selects_columns(const char *select, const DbField<Record> *fields, size_t count) {
  for (const char *c = select; *c != '\0'; ++c) {
    if (*c == '%') return false;
  }
  const char *at = skip(select, "select");
  for (size_t i = 0; i < count; ++i) {
    at = skip(i == 0 ? at : skip(at, ","), fields[i].column);
  }
  return skip(at, "from") != nullptr;
}

constexpr bool selects_all(const char *select) {
  return skip(skip(skip(select, "select"), "*"), "from") != nullptr;
}

// Not constexpr: reaching it while a constexpr layout is built stops the
// compilation.
inline void layout_does_not_match_its_select() { abort(); }
constexpr void require(bool layout_matches) {
  if (!layout_matches) layout_does_not_match_its_select();
}

}  // namespace db_detail

// A text field: the cell, cut to the field's width - 1; a NULL cell leaves
// the field as the zeroing allocation left it.
template <auto Member>
constexpr DbField<db_detail::RecordOf<Member>> db_text(const char *column) {
  using Type = db_detail::TypeOf<Member>;
  static_assert(std::is_array_v<Type> && std::is_same_v<std::remove_extent_t<Type>, char>,
                "a text field is a char array");
  return {column, &db_detail::copy_text<Member>};
}

// An integer field: the cell read through a text buffer of Width bytes and
// converted with atoi.
template <auto Member, int Width = 16>
constexpr DbField<db_detail::RecordOf<Member>> db_integer(const char *column) {
  static_assert(std::is_same_v<db_detail::TypeOf<Member>, int32_t>,
                "an integer field is a signed 32-bit int");
  return {column, &db_detail::copy_integer<Member, Width>};
}

// A field filled from the column of the member's own name. Macros, as only
// the preprocessor can spell a member's name: written once, the name cannot
// drift from the member.
#define ALERTMILL_DB_TEXT(Record, member) db_text<&Record::member>(#member)
#define ALERTMILL_DB_INTEGER(Record, member) db_integer<&Record::member>(#member)

// A record layout: the start of a select, "select <columns> from ...", and
// the fields its columns fill, listed in select order: a field's position
// is its column. Layouts are declared constexpr, so the constructor's check
// that the select names exactly the fields' columns runs at compile time: a
// swapped, missing or extra column does not compile.
template <typename Record, size_t N>
class DbLayout {
 public:
  constexpr DbLayout(const char *select, const DbField<Record> (&fields)[N]) : select_(select) {
    for (size_t i = 0; i < N; ++i) fields_[i] = fields[i];
    db_detail::require(db_detail::selects_columns(select_, fields_, N));
  }

  // The fields of another select over the same table: select names the
  // first N columns of other, or, with N equal to M, is "select *", which
  // reads the table's columns in the table's order (so other's select must
  // name them in that order).
  template <size_t M>
  constexpr DbLayout(const char *select, const DbLayout<Record, M> &other) : select_(select) {
    static_assert(N <= M);
    for (size_t i = 0; i < N; ++i) fields_[i] = other.field(i);
    db_detail::require(db_detail::selects_columns(select_, fields_, N) ||
                       (N == M && db_detail::selects_all(select_)));
  }

  constexpr const char *sql() const { return select_; }
  constexpr const DbField<Record> &field(size_t i) const { return fields_[i]; }
  constexpr const DbLayout &layout() const { return *this; }

  // Copies the current row of query into record, field by field.
  void fill(DbQuery *query, Record *record) const {
    for (size_t i = 0; i < N; ++i) fields_[i].copy(query, static_cast<int>(i), record);
  }

 private:
  const char *select_;
  DbField<Record> fields_[N] = {};
};

template <typename Record, size_t M>
DbLayout(const char *, const DbLayout<Record, M> &) -> DbLayout<Record, M>;

// A layout whose columns are known only at run time (the switch columns of
// the channel catalogue): the select is built as fields are added, so a
// field's position is still its column. Not checked at compile time.
template <typename Record>
class DbBuiltLayout {
 public:
  using Copy = void (*)(DbQuery *query, int column, Record *record);

  void add(const std::string &column, Copy copy) {
    select_ += copies_.empty() ? "select " : ",";
    select_ += column;
    copies_.push_back(copy);
  }
  // Fields first to end - 1 of a checked layout.
  template <size_t N>
  void add(const DbLayout<Record, N> &layout, size_t first, size_t end) {
    for (size_t i = first; i < end; ++i) add(layout.field(i).column, layout.field(i).copy);
  }
  // Ends the column list: " from " and the rest of the select's head.
  void from(const char *rest) {
    select_ += " from ";
    select_ += rest;
  }

  const char *sql() const { return select_.c_str(); }
  const DbBuiltLayout &layout() const { return *this; }

  void fill(DbQuery *query, Record *record) const {
    for (size_t i = 0; i < copies_.size(); ++i) copies_[i](query, static_cast<int>(i), record);
  }

 private:
  std::string select_;
  std::vector<Copy> copies_;
};

// A select of a layout with a tail ("where ...", "order by ...", ";"): the
// layout's select, then the tail formatted as db_vformat does, cut together
// to a zeroed statement of Size bytes. Made by db_select.
template <int Size, typename Layout>
class DbSelect {
 public:
  __attribute__((format(printf, 3, 0)))
  DbSelect(const Layout &layout, const char *tail, va_list args)
      : layout_(layout) {
    statement_.vformat_after(layout.sql(), tail, args);
  }

  const char *sql() const { return statement_.c_str(); }
  const Layout &layout() const { return layout_; }

 private:
  const Layout &layout_;
  DbStatement<Size> statement_;
};

template <int Size, typename Layout>
__attribute__((format(printf, 2, 3))) DbSelect<Size, Layout> db_select(const Layout &layout,
                                                                       const char *tail, ...) {
  va_list args;
  va_start(args, tail);
  DbSelect<Size, Layout> select(layout, tail, args);
  va_end(args);
  return select;
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

// How a session opens the database: read-only never creates a missing file
// and cannot change an existing one.
enum class DbAccess { kReadWrite, kReadOnly };

// Mutex rules. The daemon's locks, and what may be taken while each is held:
//
//   registry mutex (notify_method_lock)  Held by a channel worker around its
//       one eventlogcache_finish; never around dispatch. Under it: a session.
//   session mutex (below)  Held by a DbSession for its whole life, so that a
//       session is one pass for this program's threads as the lockf lock
//       makes it one for other programs: a read and the write that depends
//       on it cannot interleave with another thread's, and no statement of
//       ours meets SQLITE_BUSY from our own connections (no busy handler is
//       set). Under it: the lock table's mutexes and lockf. Sessions never
//       nest: a thread holding one must not open another.
//   lock table (db/core.cc)  Its table mutex is held only while the list of
//       held lock files is looked up or changed; a file's locking mutex only
//       while its first holder waits in lockf. Never both at once, and
//       nothing else is taken under either.
//   queue mutexes (LockedFifo: the event queue, each channel's queue)  Held
//       for a few pointer updates and never together with any other mutex;
//       a worker waits on its queue's condition with nothing else held.
//   backlog mutexes (ChannelBacklog, one per channel)  Held for one look-up
//       or change of the rows a channel holds, by submit and by the worker
//       outside every other mutex.
//
// So the only nesting is registry mutex -> session mutex -> locking mutex
// -> lockf; none is held while waiting on a queue or running a command.
// The handle-style interface of db/core.h takes no session mutex: it serves
// single-threaded tools.
class DbSession {
 public:
  // Takes the session mutex and the lock, and opens the database;
  // locked_trace, when given, goes to stdout between the two. Starts the
  // thread's db_last_error afresh.
  explicit DbSession(const char *locked_trace = nullptr, DbAccess access = DbAccess::kReadWrite);
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
  // First: taken before the lock file and released after it.
  std::unique_lock<std::mutex> threads_;
  int lock_fd_ = -1;
  sqlite3 *connection_ = nullptr;
  DbQuery *query_ = nullptr;
};

// Reads on an open session, by record type.

// How records of one type are made: their size and the copy of the current
// row into one of them.
struct DbRecordType {
  size_t size;
  const void *layout;
  void (*fill)(DbQuery *query, const void *layout, void *record);
};

template <typename Record, typename Layout>
DbRecordType db_record_type(const Layout &layout) {
  static_assert(std::is_trivially_copyable_v<Record>);
  return {sizeof(Record), &layout, [](DbQuery *query, const void *layout, void *record) {
            static_cast<const Layout *>(layout)->fill(query, static_cast<Record *>(record));
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

// Opens a session and runs read on it.
int db_read(const DbRead &read, const DbRecordType &type, void **records, int *count);

// Reads of a select: a layout (its select alone) or a db_select of one. Out
// pointers are cleared first; a null one gives -1 before the lock, and so
// does arguments_given false (an argument of the select was missing).

// Runs db_session_read on session, or db_read when session is null, of
// select into records of its layout: with count_sql as a list read, without
// it up to max_rows records.
template <typename Record, typename Select>
int db_read_records(DbSession *session, const char *count_sql, int max_rows, const Select &select,
                    Record **records, int *count, const DbResults &results = kDbReadResults) {
  const DbRecordType type = db_record_type<Record>(select.layout());
  const DbRead read{count_sql, select.sql(), max_rows, results};
  void *block = nullptr;
  int result = session != nullptr ? db_session_read(session, read, type, &block, count)
                                  : db_read(read, type, &block, count);
  *records = static_cast<Record *>(block);
  return result;
}

// Single-row read: the first row fills a new *row.
template <typename Record, typename Select>
int db_read_row(Record **row, const Select &select, const DbResults &results = kDbReadResults,
                bool arguments_given = true) {
  if (row != nullptr) *row = nullptr;
  if (row == nullptr || !arguments_given) return -1;
  int count = 0;
  return db_read_records(nullptr, nullptr, 1, select, row, &count, results);
}

// List read: count_sql gives the count, the select fills that many records
// of one new array.
template <typename Record, typename Select>
int db_read_list(Record **rows, int *count, const char *count_sql, const Select &select,
                 const DbResults &results = kDbReadResults) {
  if (rows != nullptr) *rows = nullptr;
  if (count != nullptr) *count = 0;
  if (rows == nullptr || count == nullptr) return -1;
  return db_read_records(nullptr, count_sql, 0, select, rows, count, results);
}

// Read without count query: room for max_rows records is allocated at once
// and filled from the rows of the select; *count receives how many were
// filled.
template <typename Record, typename Select>
int db_read_upto(Record **rows, int *count, int max_rows, const Select &select,
                 const DbResults &results = kDbReadResults) {
  if (rows != nullptr) *rows = nullptr;
  if (count != nullptr) *count = 0;
  if (rows == nullptr || count == nullptr) return -1;
  return db_read_records(nullptr, nullptr, max_rows, select, rows, count, results);
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
