// String and parameter helpers.
#ifndef ALERTMILL_UTILS_STRINGS_H_
#define ALERTMILL_UTILS_STRINGS_H_

#endif  // ALERTMILL_UTILS_STRINGS_H_
