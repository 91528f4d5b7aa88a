// Database access core: the inter-process lock, connections, queries held in
// memory with a row cursor, statements without rows, and copying result
// cells into fixed-width fields. Table operations are built on it through
// db/accessor.h.
//
// Traces go to stdout ("query:%s\n" before every query, "~~~~~~~~ excute:
// %s\n" before every statement), errors to stderr. No busy handler and no
// busy time-out is ever set: a statement that meets the database locked by
// another connection fails at once with SQLITE_BUSY.
#ifndef ALERTMILL_DB_CORE_H_
#define ALERTMILL_DB_CORE_H_

#include <cstdint>
#include <type_traits>

#include "db/diagnostics.h"

typedef struct sqlite3 sqlite3;

// The whole result of one query, read row by row through cursor.
struct DbQuery {
  sqlite3 *connection;  // the connection the query ran on; not owned
  char **result;        // sqlite3_get_table's table; owned
  int32_t rows;         // result rows, the row of column names not counted
  int32_t cursor;       // current row counted from 1
  int32_t columns;
  char *error_text;  // the slot sqlite3_get_table fills with its error text
};

// One open database of the handle-style interface, holding its lock for its
// whole life.
struct DbHandle {
  int lock_fd;          // -1 when no lock is held
  sqlite3 *connection;  // null when none
  DbQuery *query;       // the last query's result; null when none; owned
  int rows;             // row count of the last query
  char *lock_path;      // owned copies
  char *db_path;
  char *statement;  // owned copy of the statement to run; null when none
};

static_assert(std::is_trivially_copyable_v<DbQuery>);
static_assert(std::is_trivially_copyable_v<DbHandle>);

// Opens (creating it 0644) and lockf-locks the lock file, waiting while
// another process holds it; a wait of more than 5 s is reported once on
// stderr and in the system log (LOG_WARNING), and once more when it ends.
// A wait that a signal interrupts goes on. The descriptor; -1 when path is
// null or the file cannot be opened; kDbLockFailed when lockf refuses the
// lock (EDEADLK, ENOLCK, ...), reported at LOG_ERR and on stderr with the
// file and the cause: the operation must then not run. The lock belongs to
// the process, so it does not keep this program's own threads apart: every
// holder of one file gets the same descriptor, and the lock stays held until
// the last of them is released.
//
// fork without exec while a holder holds the lock: record locks are not
// inherited, so the child does not hold it, whatever its copy of this
// layer's bookkeeping says. Its database operations would run unlocked
// beside everyone else's, and its releases would act on a lock that is not
// its own; a fork while another thread is inside db_lock or db_unlock may
// leave the child's copy of their mutexes locked for ever. Such a child must
// exec (or _exit) before it uses this layer; the parent keeps its lock.
inline constexpr int kDbLockFailed = -2;
int db_lock(const char *path);

// Releases a descriptor of db_lock: -1 (or any negative value) is returned
// unchanged; the last holder's release unlocks and closes it and returns the
// result of the close, the others return 0.
int db_unlock(int fd);

// For tests: how long db_lock waits before it reports the wait, instead of
// 5 s; 0 or less restores the 5 s.
void db_set_lock_wait_report(int milliseconds);

// Opens (creating) the database at path. SQLite's result code; on failure
// "open database %s : %s\n" goes to stdout and the system log (LOG_ERR) and
// *connection is null.
int db_open(const char *path, sqlite3 **connection);

// As db_open, but read-only: a missing file is not created (SQLITE_CANTOPEN)
// and no statement through the connection can change the database.
int db_open_read_only(const char *path, sqlite3 **connection);

// printf to stdout unless db_set_stdout_traces(false) was called: the one way
// the layer writes to standard output.
void db_trace(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Closes connection (null is ignored); 0.
int db_close(sqlite3 *connection);

// Runs query sql and keeps its whole result. On return *query is null unless
// the query succeeded with at least one row, and *rows holds the row count.
// SQLite's result code; -1 when connection, sql or rows is null.
int db_query(sqlite3 *connection, const char *sql, DbQuery **query, int *rows);

// Runs every statement of sql, ignoring rows. SQLite's result code ("error:%s\n"
// on stderr when it is not 0); -1 when connection or sql is null.
int db_exec(sqlite3 *connection, const char *sql);

// Copies the cell of column in the current row into buffer, cut to width - 1
// characters and terminated. A NULL cell leaves buffer untouched. 0; -1 when
// query holds no result, column is outside the result or buffer is unusable.
int db_get_value(DbQuery *query, int column, char *buffer, int width);

// As db_get_value, but stores a whole copy of the cell in *text (free with
// utils_free); a NULL cell leaves *text untouched. -3 when the copy cannot
// be allocated.
int db_get_value_dup(DbQuery *query, int column, char **text);

// The count a "select count(...)" answered: the first cell of the current
// row, cut to 7 characters, read with atoi (0 when it is missing).
int db_get_count(DbQuery *query);

// Moves the cursor to the next row: 0; 1 when it already stands on the last
// row; -1 for a null query.
int db_next_row(DbQuery *query);

// Releases query and its result table; 0; -1 for null.
int db_free_result(DbQuery *query);

// Handle-style interface. Calling order: db_handle_open, then for each
// statement db_handle_set_sql and one of db_handle_query, db_handle_count,
// db_handle_exec, reading cells of handle->query with db_get_value, then
// db_handle_reset; last db_handle_destroy.

// New handle with copies of both paths, nothing open; null when out of
// memory.
DbHandle *db_handle_new(const char *lock_path, const char *db_path);

// New handle with its lock taken (a lock file that cannot be opened is not
// fatal, a lock that lockf refuses is) and its database open; null on
// failure.
DbHandle *db_handle_open(const char *lock_path, const char *db_path);

// Replaces the handle's statement with a copy of sql and returns that copy.
char *db_handle_set_sql(DbHandle *handle, const char *sql);

// Runs the statement into handle->query and handle->rows (releasing the
// previous query first): 0 when it succeeded with rows, else -2.
int db_handle_query(DbHandle *handle);

// Runs the statement as db_handle_query does and returns the number in
// column 0 of the first row; -1 when the query failed or had no row.
int db_handle_count(DbHandle *handle);

// db_exec of the handle's statement.
int db_handle_exec(DbHandle *handle);

// Releases the query and the statement; the handle stays open. 0; -1 for
// null.
int db_handle_reset(DbHandle *handle);

// Releases the query, closes the connection and the lock; the handle and its
// texts stay. 0; -1 for null.
int db_handle_close(DbHandle *handle);

// db_handle_close, then frees the texts and the handle and clears *handle.
void db_handle_destroy(DbHandle **handle);

#endif  // ALERTMILL_DB_CORE_H_
