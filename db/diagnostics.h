// What the database layer says about itself to its callers: why an
// operation failed, and whether it writes traces to standard output.
#ifndef ALERTMILL_DB_DIAGNOSTICS_H_
#define ALERTMILL_DB_DIAGNOSTICS_H_

// Why the last table operation of the calling thread (see db/accessor.h)
// failed inside the database: SQLite's message of a failed open, query or
// statement, or why a statement was not run at all. "" when the operation
// succeeded or merely found no row. Valid until the thread's next table
// operation.
const char *db_last_error(void);

// Whether the layer writes to stdout at all: its traces and the failures it
// reports there. On by default; a command whose standard output is its
// result turns it off. Standard error and the system log are unaffected.
void db_set_stdout_traces(bool enabled);

#endif  // ALERTMILL_DB_DIAGNOSTICS_H_
