// Levelled logger and system log set-up.
#ifndef ALERTMILL_UTILS_LOG_H_
#define ALERTMILL_UTILS_LOG_H_

#endif  // ALERTMILL_UTILS_LOG_H_
