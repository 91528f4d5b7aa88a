#include "utils/command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "utils/handles.h"
#include "utils/strings.h"

namespace {

constexpr size_t kCommandSize = 16384;
constexpr size_t kProcessCommandSize = 256;
constexpr size_t kProcessLineSize = 128;
constexpr size_t kErrorLineLimit = 255;
// A child is looked at again after 1 ms, then ever less often up to every
// 50 ms: quick commands end quickly, long ones cost no CPU.
constexpr int kFirstLookMillis = 1;
constexpr int kLastLookMillis = 50;

// The read end of one of a child's streams, and what is kept of it.
struct ChildStream {
  int fd = -1;
  std::string *kept = nullptr;
  size_t limit = 0;
  bool pass_on = false;  // copy every byte to our standard error

  ~ChildStream() { close_end(); }
  void close_end() {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  // Reads what is there without waiting; closes at the end of the stream.
  void read_available() {
    char chunk[4096];
    while (fd >= 0) {
      ssize_t n = read(fd, chunk, sizeof chunk);
      if (n > 0) {
        size_t room = limit > kept->size() ? limit - kept->size() : 0;
        kept->append(chunk, std::min(room, static_cast<size_t>(n)));
        if (pass_on && write(STDERR_FILENO, chunk, static_cast<size_t>(n)) < 0) pass_on = false;
      } else if (n == 0 || errno != EINTR) {
        if (n == 0 || errno != EAGAIN) close_end();
        return;
      }
    }
  }
};

// A pipe for one of the child's streams: both ends close-on-exec and above
// the standard descriptors, so that the child's dup2 never meets one of them.
bool open_stream(ChildStream *stream, int *write_end) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  for (int &end : ends) {
    if (end > STDERR_FILENO) continue;
    int moved = fcntl(end, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    close(end);
    end = moved;
  }
  if (ends[0] < 0 || ends[1] < 0) {
    for (int end : ends) {
      if (end >= 0) close(end);
    }
    return false;
  }
  fcntl(ends[0], F_SETFL, O_NONBLOCK);
  stream->fd = ends[0];
  *write_end = ends[1];
  return true;
}

// Waits for child while reading its streams; kills its group at the limit.
void await_child(pid_t child, const char *command, ChildStream *streams, size_t count,
                 ChildResult *result) {
  using Clock = std::chrono::steady_clock;
  const int limit = utils_child_time_limit();
  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline = start + std::chrono::seconds(limit);
  bool slow_logged = false;
  int look_millis = kFirstLookMillis;
  int status = 0;
  for (;;) {
    for (size_t i = 0; i < count; ++i) {
      bool was_open = streams[i].fd >= 0;
      streams[i].read_available();
      // A stream closes as the command ends: look again soon.
      if (was_open && streams[i].fd < 0) look_millis = kFirstLookMillis;
    }
    pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) break;
    if (done < 0 && errno != EINTR) {
      // ECHILD: reaped already, by the kernel when SIGCHLD is ignored. The
      // command may well have succeeded; its status is unknown, not -1.
      result->unreaped = true;
      syslog(LOG_ERR, "exit status unknown (%s, SIGCHLD ignored?): %s", strerror(errno), command);
      break;
    }
    Clock::time_point now = Clock::now();
    const auto waited = std::chrono::duration_cast<std::chrono::seconds>(now - start).count();
    if (!slow_logged && waited >= kChildSlowSeconds) {
      slow_logged = true;
      syslog(LOG_WARNING, "command still running after %d s: %s", static_cast<int>(waited),
             command);
    }
    if (now >= deadline) {
      kill(-child, SIGKILL);
      kill(child, SIGKILL);
      while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
      }
      result->timed_out = true;
      syslog(LOG_ERR, "command killed after %d s: %s", limit, command);
      return;
    }
    pollfd open_ends[2];
    nfds_t watched = 0;
    for (size_t i = 0; i < count; ++i) {
      if (streams[i].fd >= 0) open_ends[watched++] = {streams[i].fd, POLLIN, 0};
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
    poll(open_ends, watched, static_cast<int>(std::min<long long>(look_millis, left)));
    look_millis = std::min(look_millis * 2, kLastLookMillis);
  }
  // What it wrote before it ended is in the pipes; children it left behind
  // may hold them open, so nothing waits for their end.
  for (size_t i = 0; i < count; ++i) streams[i].read_available();
  if (!result->unreaped && WIFEXITED(status)) result->status = WEXITSTATUS(status);
}

// vfork's child borrows the frame of this function until it execs. Nothing
// the caller keeps lives here, so the child cannot clobber it, and the
// child only makes async-signal-safe calls.
__attribute__((noinline)) pid_t spawn_shell(const char *command, int output_end, int error_end) {
  pid_t child = vfork();
  if (child == 0) {
    setpgid(0, 0);
    if (output_end >= 0) dup2(output_end, STDOUT_FILENO);
    if (error_end >= 0) dup2(error_end, STDERR_FILENO);
    execl("/bin/sh", "/bin/sh", "-c", command, static_cast<char *>(nullptr));
    _exit(1);
  }
  return child;
}

}  // namespace

int utils_child_time_limit(void) {
  const char *root = getenv("ALERTMILL_ROOT");
  const char *wanted = getenv("ALERTMILL_CHILD_TIME_LIMIT");
  if (root == nullptr || *root == '\0' || wanted == nullptr) return kChildTimeLimitSeconds;
  int seconds = atoi(wanted);
  return seconds >= 1 && seconds < kChildTimeLimitSeconds ? seconds : kChildTimeLimitSeconds;
}

ChildResult utils_run_child(const char *command, const ChildCapture &capture) {
  ChildResult result;
  if (command == nullptr) return result;
  ChildStream streams[2];
  int output_end = -1;
  int error_end = -1;
  size_t count = 0;
  if (capture.output) {
    streams[count].kept = &result.output;
    streams[count].limit = capture.output_limit;
    if (!open_stream(&streams[count++], &output_end)) return result;
  }
  if (capture.error) {
    streams[count].kept = &result.error_line;
    streams[count].limit = kErrorLineLimit;
    streams[count].pass_on = true;
    if (!open_stream(&streams[count++], &error_end)) {
      if (output_end >= 0) close(output_end);
      return result;
    }
  }
  pid_t child = spawn_shell(command, output_end, error_end);
  for (int end : {output_end, error_end}) {
    if (end >= 0) close(end);
  }
  if (child < 0) return result;
  result.started = true;
  await_child(child, command, streams, count, &result);
  result.error_line = utils_first_line(result.error_line);
  return result;
}

int utils_run_command(char *output, int output_size, const char *format, ...) {
  if (utils_str_is_empty(format)) return -1;
  if (output != nullptr && output_size < 1) return -1;
  // Heap, not stack: the SMS worker calls this on a 200 KiB thread stack.
  std::unique_ptr<char[]> command(new (std::nothrow) char[kCommandSize]);
  if (!command) return -1;
  va_list arguments;
  va_start(arguments, format);
  int formatted = vsnprintf(command.get(), kCommandSize, format, arguments);
  va_end(arguments);
  if (formatted < 0) return -1;
  if (static_cast<size_t>(formatted) >= kCommandSize) {
    syslog(LOG_DEBUG, "the format string overflow!!!\n");
  }
  if (output == nullptr) {
    utils_system(command.get());
    return 0;
  }
  output[0] = '\0';
  ChildCapture capture;
  capture.output = true;
  capture.output_limit = static_cast<size_t>(output_size) - 1;
  ChildResult run = utils_run_child(command.get(), capture);
  if (!run.started) return -1;
  std::memcpy(output, run.output.data(), run.output.size());
  output[run.output.size()] = '\0';
  return 0;
}

int utils_system(const char *command) { return utils_run_child(command, ChildCapture{}).status; }

std::string utils_first_line(const std::string &text) { return text.substr(0, text.find('\n')); }

namespace {

// The one way a probe runs its pipeline. Counted: the first line is the
// number of matches. Listed: any output means the process runs. Either is
// read even from a run killed at the time limit.
enum class ProbeAnswer { kCounted, kListed };

// Why a run that ended is no answer, "" when it is one. A pipeline's status
// is its last grep's, so only a missing or failing command's message on
// standard error, a kill or a signal tell that something in it broke.
std::string broken(const ChildResult &run) {
  if (!run.started) return "could not be started";
  if (run.timed_out) return "killed after " + std::to_string(utils_child_time_limit()) + " s";
  if (run.status < 0) return "ended by a signal";
  return run.error_line;
}

// An empty answer means "not running" only when ps works: ps alone must
// exit 0 and list something (itself at least).
std::string ps_broken() {
  ChildResult run = utils_run_child("ps", ChildCapture{true, 1, true});
  std::string why = broken(run);
  if (why.empty() && run.status != 0) why = "exit status " + std::to_string(run.status);
  if (why.empty() && run.output.empty()) why = "no output";
  return why.empty() ? why : "ps: " + why;
}

int probe(const char *command, ProbeAnswer answer, std::string *failure) {
  ChildCapture capture{true, kProcessLineSize - 1, true};
  ChildResult run = utils_run_child(command, capture);
  bool listed = answer == ProbeAnswer::kCounted ? atoi(utils_first_line(run.output).c_str()) > 0
                                                : !run.output.empty();
  if (listed) return 1;
  std::string why = broken(run);
  if (why.empty()) why = ps_broken();
  if (why.empty()) return 0;
  if (failure != nullptr) *failure = std::string(command) + ": " + why;
  return -1;
}

}  // namespace

int utils_process_running(const char *name) {
  if (utils_str_is_empty(name)) return -1;
  char command[kProcessCommandSize];
  snprintf(command, sizeof command, "ps | grep '%s' | grep -v grep | grep -v progrma='%s' | wc -l",
           name, name);
  return probe(command, ProbeAnswer::kCounted, nullptr);
}

int utils_process_listed(const char *name, std::string *failure) {
  if (utils_str_is_empty(name)) return -1;
  char command[kProcessCommandSize];
  snprintf(command, sizeof command, "ps | grep %s | grep -v grep", name);
  return probe(command, ProbeAnswer::kListed, failure);
}

void utils_print_runstatus(const char *name) {
  if (utils_str_is_empty(name)) return;
  printf("<runstatus>\n\t<result>%d</result>\n</runstatus>\n", utils_process_running(name));
}
