// Configuration table accessors.
#ifndef ALERTMILL_DB_CONFIG_TABLES_H_
#define ALERTMILL_DB_CONFIG_TABLES_H_

#endif  // ALERTMILL_DB_CONFIG_TABLES_H_
