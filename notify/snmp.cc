#include "notify/snmp.h"

#include <syslog.h>

#include <cstdio>

#include "notify/alarm.h"
#include "notify/channel.h"
#include "utils/command.h"

namespace {

constexpr int kTextSize = 512;
constexpr int kProcessLineSize = 128;

ChannelQueue snmp_queue(kNotifySnmp, snmp_send);

[[gnu::constructor(kRegisterPrioritySnmp)]] void register_snmp() {
  channel_register("SNMP", kNotifySnmp, snmp_submit, snmp_start);
}

}  // namespace

int snmp_submit(const NotifyData *data) { return channel_submit(&snmp_queue, data); }

void snmp_start(void) { channel_start(&snmp_queue, snmp_worker); }

void *snmp_worker(void *) { channel_work_forever(&snmp_queue); }

int snmp_send(const NotifyData *data) {
  if (auto end = channel_delivery_gate(data, kNotifySnmp, "snmp")) return *end;
  if (auto end = channel_announce_delivery(data, kNotifySnmp, "snmp")) return *end;
  // Not done: the pending row keeps the alarm for the next start.
  if (snmp_agent_running() == 0) {
    syslog(LOG_ERR, "snmp is not running, store the alarm...");
    return -1;
  }
  std::printf("-- subject %s, context %s\n", data->subject, data->context);

  char members[kTextSize];
  format_alarm_text(members, sizeof members, data->subject, data->context, kNotifySnmp);
  char command[kTextSize];
  std::snprintf(command, sizeof command, "ubus call zelk_snmp eventtrap '{%s}'",
                notify_shell_quoted(members).c_str());
  syslog(LOG_INFO, "%s", command);
  std::printf("%s\n", command);
  utils_system(command);
  return 0;
}

int snmp_agent_running(void) {
  UniquePipe pipe(utils_popen("ps | grep snmp-mib | grep -v grep"));
  if (!pipe) return 0;
  char line[kProcessLineSize];
  return std::fgets(line, sizeof line, pipe.get()) != nullptr ? 1 : 0;
}
