// What the delivery routines share besides the alarm text: running their
// commands and reading their recipient groups.
#ifndef ALERTMILL_NOTIFY_DELIVERY_H_
#define ALERTMILL_NOTIFY_DELIVERY_H_

#include <cstddef>
#include <optional>
#include <string>

// Runs a channel's command; what names it in the log ("putmail"). With
// output, its standard output is kept there (at most output_limit bytes).
// True when it exited with status 0. Otherwise false, logged at LOG_ERR with
// the exit status and the first line of its error output, or that it could
// not be run (the time limit is logged where the command is killed). An
// exit status that could not be learned (ChildResult::unreaped) counts as
// not done, so the event is delivered at least once, maybe twice.
bool notify_run_command(const char *command, const char *what, std::string *output = nullptr,
                        size_t output_limit = 0);

// The recipient group on the first line of the group file (a fixed path,
// resolved with utils_path), read with a line_size buffer and converted with
// utils_atoi (so huge values fall outside every valid group); 0 for an
// empty file. Nothing when the file cannot be opened.
std::optional<int> notify_read_group(const char *fixed_path, int line_size);

inline constexpr int kGroupMin = 1;
inline constexpr int kGroupMax = 100;

#endif  // ALERTMILL_NOTIFY_DELIVERY_H_
