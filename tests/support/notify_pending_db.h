// A real events database in the sandbox with rows of eventlogcache, read and
// written straight through SQLite so that tests check the channels against
// the database itself rather than against the layer the channels use. Each
// operation holds the registry mutex, so it never collides with a worker.
#ifndef ALERTMILL_TESTS_SUPPORT_NOTIFY_PENDING_DB_H_
#define ALERTMILL_TESTS_SUPPORT_NOTIFY_PENDING_DB_H_

#include <optional>
#include <string>

// Creates the eventlogcache table in $ALERTMILL_ROOT/etc/events.sqlite3.
void notify_create_pending_table();

// Inserts a pending row with this notifyflag; its id as text.
std::string notify_insert_pending(const std::string &eventid, int notifyflag);

// The stored notifyflag of row id, or nothing when the row is gone.
std::optional<std::string> notify_pending_flag(const std::string &id);

// Number of rows in eventlogcache.
int notify_pending_count();

#endif  // ALERTMILL_TESTS_SUPPORT_NOTIFY_PENDING_DB_H_
