#include "service/main_loop.h"

#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "db/db.h"
#include "notify/notify.h"
#include "service/event_queue.h"
#include "service/eventadd.h"
#include "service/process.h"
#include "utils/utils.h"

namespace {

inline constexpr char kReadinessProbe[] = "ubus call zelk_system get '{\"base\":\"general\"}'";
inline constexpr size_t kProbeLineSize = 256;
// The system service's reply is a few lines; the rest of a longer one is
// read and dropped.
inline constexpr size_t kProbeOutputLimit = 16384;
inline constexpr unsigned kProbePauseSeconds = 3;
inline constexpr unsigned kSettlingSeconds = 10;
inline constexpr std::chrono::milliseconds kMainLoopSpacing{100};

using Request = RetrySchedule<EventMessage *>::Entry;

// A request whose definition could not be read in time: on record like an
// undelivered event, on every channel it has not been delivered by. A row is
// named only when it can be read.
void give_up(Request *request) {
  const char *text = request->item->text;
  char eventid[64] = {}, notifyflag[8] = {}, sqlid[16] = {};
  utils_get_param_value(text, "&eventid=", eventid, sizeof eventid);
  utils_get_param_value(text, "&notifyflag=", notifyflag, sizeof notifyflag);
  utils_get_param_value(text, "&sqlid=", sqlid, sizeof sqlid);
  EventLogCacheRow *row = nullptr;
  if (sqlid[0] == '\0' || eventlogcache_get(sqlid, &row) != 0 || row == nullptr) sqlid[0] = '\0';
  utils_free(&row);
  notify_give_up(sqlid, eventid, notify_enabled_mask & ~pending_flags(notifyflag),
                 request->failed_tries);
  event_message_free(&request->item);
}

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
  RetrySchedule<EventMessage *> retries;
  for (;;) {
    event_queue_wait(retries.next_due());
    pace.wait_turn();
    bool retry = retries.retry_turn(!event_queue_empty());
    EventMessage *message = retry ? nullptr : event_queue_take();
    if (!retry && message == nullptr) continue;
    Request request = retry ? retries.take_due() : Request{message, 0, utils_retry_born(nullptr)};
    if (event_process_request(request.item, retry) != ProcessOutcome::kUnreadable) {
      event_message_free(&request.item);
    } else if (utils_retry_exhausted(++request.failed_tries, request.born)) {
      give_up(&request);
    } else {
      retries.add(request);
      if (retries.size() > static_cast<size_t>(kRetryLimits.bound)) {
        Request oldest = retries.take_oldest();
        give_up(&oldest);
      }
    }
    pace.turn_done();
  }
}
