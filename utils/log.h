// System log set-up and the levelled logger.
#ifndef ALERTMILL_UTILS_LOG_H_
#define ALERTMILL_UTILS_LOG_H_

// Levels of the levelled logger: bits, not syslog priorities (where info
// is 6), hence the names.
inline constexpr int kLogMaskInfo = 1;
inline constexpr int kLogMaskNotice = 2;
inline constexpr int kLogMaskWarning = 4;
inline constexpr int kLogMaskError = 8;
inline constexpr int kLogMaskDebug = 16;

// openlog(ident, LOG_PID | LOG_CONS, LOG_DAEMON); null does nothing. The
// ident must live as long as the process.
void utils_log_init(const char *ident);

// One line with the caller's position: to the log file when one is open
// (time stamp, flushed), else to the console - standard output in green for
// levels of kLogMaskDebug and above, standard error in red below.
void utils_log_write(const char *file, int line, const char *function, int level,
                     const char *format, ...) __attribute__((format(printf, 5, 6)));

// Sends the levelled logger to path (stored when non-null, at most 127
// characters), opened for appending. 0, or -1 after perror("fopen") with the
// lines going on to the console.
int utils_log_set_file(const char *path);

// Local time as "YYYY-MM-DD hh:mm:ss" (compact == 0) or "YYYYMMDD_hhmmss", in
// one process-wide buffer valid until the next call.
const char *utils_log_timestamp(int compact);

#endif  // ALERTMILL_UTILS_LOG_H_
