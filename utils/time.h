// Local time formatting.
#ifndef ALERTMILL_UTILS_TIME_H_
#define ALERTMILL_UTILS_TIME_H_

#endif  // ALERTMILL_UTILS_TIME_H_
