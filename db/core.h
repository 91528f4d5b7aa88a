// Database access core: lock, connection, queries and the accessor procedure.
#ifndef ALERTMILL_DB_CORE_H_
#define ALERTMILL_DB_CORE_H_

#endif  // ALERTMILL_DB_CORE_H_
