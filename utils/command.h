// Shell commands, processes and files.
#ifndef ALERTMILL_UTILS_COMMAND_H_
#define ALERTMILL_UTILS_COMMAND_H_

#endif  // ALERTMILL_UTILS_COMMAND_H_
