// Miscellaneous helpers.
#ifndef ALERTMILL_UTILS_MISC_H_
#define ALERTMILL_UTILS_MISC_H_

#endif  // ALERTMILL_UTILS_MISC_H_
