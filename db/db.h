// The event database: everything the other subsystems use from db. accessor.h
// serves the table operations inside db alone and stays out.
#ifndef ALERTMILL_DB_DB_H_
#define ALERTMILL_DB_DB_H_

#include "db/catalogue.h"
#include "db/config_tables.h"
#include "db/core.h"
#include "db/event_tables.h"
#include "db/pending.h"
#include "db/pending_report.h"

#endif  // ALERTMILL_DB_DB_H_
