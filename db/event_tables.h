// Event tables: eventlist, eventlogcache, eventlog.
#ifndef ALERTMILL_DB_EVENT_TABLES_H_
#define ALERTMILL_DB_EVENT_TABLES_H_

#endif  // ALERTMILL_DB_EVENT_TABLES_H_
