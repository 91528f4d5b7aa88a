#include "service/main_loop.h"

#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "service/event_queue.h"
#include "service/eventadd.h"
#include "service/process.h"
#include "utils/handles.h"
#include "utils/paths.h"

namespace {

inline constexpr char kReadinessProbe[] = "ubus call zelk_system get '{\"base\":\"general\"}'";
inline constexpr unsigned kProbePauseSeconds = 3;
inline constexpr unsigned kSettlingSeconds = 10;
inline constexpr unsigned kMainLoopMicros = 100000;

}  // namespace

void wait_system_ready(void) {
  bool ready = false;
  bool answered = false;
  while (!ready) {
    UniquePipe probe(utils_popen(kReadinessProbe));
    if (probe != nullptr) {
      char line[256];
      while (std::fgets(line, sizeof line, probe.get()) != nullptr) {
        if (std::strstr(line, "ssh") != nullptr || std::strstr(line, "http") != nullptr) {
          ready = true;
          break;
        }
        answered = true;
      }
    }
    probe.reset();
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
  for (;;) {
    EventMessage *message = event_queue_take();
    if (message != nullptr) {
      event_process(message);
      event_message_free(&message);
    }
    usleep(kMainLoopMicros);
  }
}
