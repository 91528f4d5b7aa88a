#include "service/main_loop.h"

#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "service/event_queue.h"
#include "service/eventadd.h"
#include "service/process.h"
#include "utils/command.h"
#include "utils/paths.h"

namespace {

inline constexpr char kReadinessProbe[] = "ubus call zelk_system get '{\"base\":\"general\"}'";
inline constexpr size_t kProbeLineSize = 256;
// The system service's reply is a few lines; the rest of a longer one is
// read and dropped.
inline constexpr size_t kProbeOutputLimit = 16384;
inline constexpr unsigned kProbePauseSeconds = 3;
inline constexpr unsigned kSettlingSeconds = 10;
inline constexpr std::chrono::milliseconds kMainLoopSpacing{100};

}  // namespace

void wait_system_ready(void) {
  bool ready = false;
  bool answered = false;
  ChildCapture capture;
  capture.output = true;
  capture.output_limit = kProbeOutputLimit;
  while (!ready) {
    ChildResult probe = utils_run_child(kReadinessProbe, capture);
    // Read as lines of at most 255 characters, a longer one in pieces.
    const std::string &reply = probe.output;
    for (size_t at = 0; at < reply.size() && !ready;) {
      size_t line_end = reply.find('\n', at);
      line_end = line_end == std::string::npos ? reply.size() : line_end + 1;
      size_t end = std::min(line_end, at + kProbeLineSize - 1);
      std::string line = reply.substr(at, end - at);
      if (std::strstr(line.c_str(), "ssh") != nullptr ||
          std::strstr(line.c_str(), "http") != nullptr) {
        ready = true;
      } else {
        answered = true;
      }
      at = end;
    }
    syslog(LOG_DEBUG, "waiting vtysh_ubus start..");
    sleep(kProbePauseSeconds);
  }
  if (answered) sleep(kSettlingSeconds);
}

void raise_start_event(void) {
  std::string etc_marker = utils_path(paths::kRebootFlagEtc);
  if (access(etc_marker.c_str(), F_OK) == 0) {
    std::remove(etc_marker.c_str());
    eventadd(4020, "");
    return;
  }
  std::string tmp_marker = utils_path(paths::kRebootFlagTmp);
  if (access(tmp_marker.c_str(), F_OK) == 0) return;
  FILE *marker = std::fopen(tmp_marker.c_str(), "we");
  if (marker != nullptr) std::fclose(marker);
  eventadd(4019, "");
}

void event_main_loop(void) {
  QueuePace pace(kMainLoopSpacing);
  for (;;) {
    event_queue_wait();
    pace.wait_turn();
    EventMessage *message = event_queue_take();
    if (message == nullptr) continue;
    event_process(message);
    event_message_free(&message);
    pace.turn_done();
  }
}
