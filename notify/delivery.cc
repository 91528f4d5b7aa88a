#include "notify/delivery.h"

#include <syslog.h>

#include <cstdio>

#include "utils/utils.h"

bool notify_run_command(const char *command, const char *what, std::string *output,
                        size_t output_limit) {
  ChildCapture capture;
  capture.output = output != nullptr;
  capture.output_limit = output_limit;
  capture.error = true;
  ChildResult run = utils_run_child(command, capture);
  if (output != nullptr) *output = run.output;
  if (!run.started) {
    syslog(LOG_ERR, "%s could not be run", what);
  } else if (run.unreaped) {
    // At least once: a delivery that cannot be proved done is offered again.
    syslog(LOG_ERR, "%s exit status unknown: taken as not done, the event stays pending", what);
  } else if (!run.timed_out && run.status < 0) {
    syslog(LOG_ERR, "%s ended by a signal", what);
  } else if (!run.timed_out && run.status != 0) {
    syslog(LOG_ERR, "%s failed with exit status %d: %s", what, run.status, run.error_line.c_str());
  }
  return run.started && !run.timed_out && run.status == 0;
}

std::optional<int> notify_read_group(const char *fixed_path, int line_size) {
  UniqueFile file(std::fopen(utils_path(fixed_path).c_str(), "re"));
  if (!file) return std::nullopt;
  std::string line(static_cast<size_t>(line_size > 1 ? line_size : 2), '\0');
  if (std::fgets(line.data(), static_cast<int>(line.size()), file.get()) == nullptr) return 0;
  return utils_atoi(line.c_str());
}
