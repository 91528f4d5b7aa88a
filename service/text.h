// Bounded formatting into fixed-width fields, where cutting a longer text is
// the intended behaviour.
#ifndef ALERTMILL_SERVICE_TEXT_H_
#define ALERTMILL_SERVICE_TEXT_H_

#include <cstdarg>
#include <cstddef>
#include <cstdio>

// snprintf that states the cut is wanted: at most size - 1 characters land in
// buffer, always terminated. The compiler's truncation warning does not see
// through the va_list, which is the point.
__attribute__((format(printf, 3, 4))) inline void format_cut(char *buffer, size_t size,
                                                             const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(buffer, size, format, arguments);
  va_end(arguments);
}

#endif  // ALERTMILL_SERVICE_TEXT_H_
