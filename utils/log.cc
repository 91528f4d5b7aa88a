#include "utils/log.h"

#include <syslog.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "utils/strings.h"

namespace {

constexpr size_t kLogPathSize = 128;
constexpr size_t kTimestampSize = 20;

// Process-wide and unlocked on purpose: the logger is a debugging aid and a
// torn time stamp is an accepted price for not serialising every caller.
struct LoggerState {
  bool file_logging = false;
  char path[kLogPathSize] = {};
  FILE *file = nullptr;
  char timestamp[kTimestampSize] = {};
  time_t timestamp_second = -1;  // second of the long form in `timestamp`
};

LoggerState &logger() {
  static LoggerState state;
  return state;
}

const char *level_name(int level) {
  switch (level) {
    case kLogMaskInfo:
      return "INFO";
    case kLogMaskNotice:
      return "NOTICE";
    case kLogMaskWarning:
      return "WARNING";
    case kLogMaskError:
      return "ERROR";
    case kLogMaskDebug:
      return "DEBUG";
    default:
      return "UNKNOWN";
  }
}

const char *base_name(const char *file) {
  const char *slash = strrchr(file, '/');
  return slash != nullptr ? slash + 1 : file;
}

}  // namespace

void utils_log_init(const char *ident) {
  if (ident == nullptr) return;
  openlog(ident, LOG_PID | LOG_CONS, LOG_DAEMON);
}

void utils_log_write(const char *file, int line, const char *function, int level,
                     const char *format, ...) {
  if (file == nullptr) file = "";
  if (function == nullptr) function = "";
  if (format == nullptr) format = "";
  const char *name = level_name(level);
  LoggerState &state = logger();
  va_list arguments;
  va_start(arguments, format);
  if (state.file_logging && state.file != nullptr) {
    fprintf(state.file, "%s [%s]: ", utils_log_timestamp(0), name);
    fprintf(state.file, "%s(%s) %d [%s] : ", file, function, line, name);
    vfprintf(state.file, format, arguments);
    fputc('\n', state.file);
    fflush(state.file);
  } else {
    const bool debug = level >= kLogMaskDebug;
    FILE *stream = debug ? stdout : stderr;
    fprintf(
        stream,
        debug ? "\033[1;32;40m%s(%s) %d [%s] : \033[0m" : "\033[1;31;40m%s(%s) %d [%s] : \033[0m",
        base_name(file), function, line, name);
    vfprintf(stream, format, arguments);
    fputc('\n', stream);
  }
  va_end(arguments);
}

int utils_log_set_file(const char *path) {
  LoggerState &state = logger();
  state.file_logging = true;
  if (path != nullptr) snprintf(state.path, sizeof state.path, "%s", path);
  // A second call moves the log rather than leaking the first stream.
  if (state.file != nullptr) {
    fclose(state.file);
    state.file = nullptr;
  }
  state.file = fopen(state.path, "ae");
  if (state.file == nullptr) {
    perror("fopen");
    return -1;
  }
  return 0;
}

const char *utils_log_timestamp(int compact) {
  LoggerState &state = logger();
  const time_t now = time(nullptr);
  if (compact == 0 && now == state.timestamp_second) return state.timestamp;
  struct tm local = {};
  localtime_r(&now, &local);
  // Formatted wide, then cut to the 19 characters: only a year past 9999
  // would not fit, and the compiler cannot know the fields' ranges.
  char text[80];
  snprintf(text, sizeof text,
           compact == 0 ? "%.4d-%.2d-%.2d %.2d:%.2d:%.2d" : "%.4d%.2d%.2d_%.2d%.2d%.2d",
           local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
           local.tm_sec);
  utils_str_copy(state.timestamp, text, sizeof state.timestamp);
  // Only the long form is reused within its second; the compact form
  // overwrites the buffer, so it also ends the reuse.
  state.timestamp_second = compact == 0 ? now : -1;
  return state.timestamp;
}
