// Shell commands and process probes.
#ifndef ALERTMILL_UTILS_COMMAND_H_
#define ALERTMILL_UTILS_COMMAND_H_

#include <cstddef>
#include <string>

// Formats a command (at most 16383 characters; a longer one is cut and a
// debug message logged) and runs it. Without an output buffer it runs through
// utils_system and gives 0 whatever the exit status. With one, at most
// output_size-1 bytes of the command's standard output land there, terminated,
// and the result is 0 once the pipe opened; -1 when it could not (output then
// ""). -1, running nothing, for a null or empty format or an output_size < 1
// with a buffer. The command buffer is on the heap: callers may run on small
// thread stacks. Runs through utils_run_child, so under its time limit.
int utils_run_command(char *output, int output_size, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

// Runs command through "/bin/sh -c" and waits: the shell's exit status
// (0..255; 1 when the shell could not start), -1 for a null command, a failed
// fork or wait, or death by a signal (the time limit's included).
int utils_system(const char *command);

// The longest any command may run before it is killed together with its
// process group. A hung child must delay its caller by this much at most,
// never for ever.
inline constexpr int kChildTimeLimitSeconds = 60;
// A command still running after this long is logged once at LOG_WARNING:
// a service that hangs should show long before the limit takes its command.
inline constexpr int kChildSlowSeconds = 10;

// kChildTimeLimitSeconds; in a sandbox (ALERTMILL_ROOT set), tests may
// shorten it with ALERTMILL_CHILD_TIME_LIMIT=<seconds>, never lengthen it.
int utils_child_time_limit(void);

// What utils_run_child keeps of a command's streams. A stream not captured is
// shared with ours.
struct ChildCapture {
  bool output = false;      // standard output: its first output_limit bytes
  size_t output_limit = 0;  // are kept, the rest is read and dropped
  bool error = false;       // standard error: its first line is kept, and
                            // every byte is still passed on to ours
};

struct ChildResult {
  bool started = false;    // false when no pipe or process could be made
  bool timed_out = false;  // killed at the time limit (already logged)
  // The command ended but its status could not be learned: something else
  // reaped it (ECHILD; SIGCHLD ignored, which exec passes on). Logged at
  // LOG_ERR; status is then -1 and says nothing about success: a caller
  // must not count it as a failure of the command.
  bool unreaped = false;
  int status = -1;  // exit status 0..255; -1 unless it exited itself and was reaped
  std::string output;
  std::string error_line;  // without its line end
};

// The one way this system runs a command: "/bin/sh -c command" in a process
// group of its own, waited for until the shell exits, at most
// utils_child_time_limit() seconds; then the whole group is killed and the
// limit logged at LOG_ERR. A command still running after kChildSlowSeconds
// is logged once at LOG_WARNING with the time so far. Standard input is
// shared with ours. Programs using it set SIGCHLD to its default at start;
// where it is ignored all the same, every result comes back unreaped.
ChildResult utils_run_child(const char *command, const ChildCapture &capture);

// The text of the first line, without its line end.
std::string utils_first_line(const std::string &text);

// The process probes. utils_process_running counts the matching lines
// ("ps | grep 'name' | grep -v grep | grep -v progrma='name' | wc -l");
// utils_process_listed asks whether "ps | grep name | grep -v grep" prints
// anything within the time limit. 1 when the process list holds name, 0 when
// not, -1 for a null or empty name or when the probe itself did not work
// (ps missing, failing or killed; an empty answer counts only once ps alone
// is seen to list processes). Then *failure, when given, says which command
// failed and how.
int utils_process_running(const char *name);
int utils_process_listed(const char *name, std::string *failure = nullptr);

// Prints "<runstatus>...</runstatus>" with utils_process_running(name);
// nothing for a null or empty name.
void utils_print_runstatus(const char *name);

#endif  // ALERTMILL_UTILS_COMMAND_H_
