// alertmill: the event-notification daemon. No options, no configuration
// file, no shutdown: it serves until it is killed.
#include <signal.h>
#include <syslog.h>

#include <cstdio>
#include <cstdlib>

#include "notify/notify.h"
#include "service/service.h"
#include "utils/utils.h"

int main(int, char **) {
  // An ignored SIGCHLD survives exec and would hide every command's exit
  // status: each delivery would stay pending and be sent again at start.
  signal(SIGCHLD, SIG_DFL);
  // Progress lines must reach a pipe or a log file as they happen.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  utils_log_init("alertmill");
  notify_register_channels();

  // Lives for the whole process: the receiver thread reads it through its
  // address.
  static int service_fd = udp_open(service_port());
  if (service_fd <= 0) {
    syslog(LOG_ERR, "udp open fail.\n");
    return -1;
  }
  notify_method_start_all();
  if (start_receiver_thread(&service_fd) == -1) return -1;
  wait_system_ready();
  raise_start_event();
  replay_pending_events();
  event_main_loop();
}
