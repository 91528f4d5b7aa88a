// The event database: everything the other subsystems use from db. The
// database core, the accessor procedure and the channel switch columns serve
// db alone; the configuration tables, which nothing else in this system
// uses, have their own public header (db/config_tables.h).
#ifndef ALERTMILL_DB_DB_H_
#define ALERTMILL_DB_DB_H_

#include "db/catalogue.h"
#include "db/diagnostics.h"
#include "db/event_tables.h"
#include "db/pending.h"
#include "db/pending_report.h"

#endif  // ALERTMILL_DB_DB_H_
