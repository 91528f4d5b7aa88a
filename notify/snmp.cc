#include "notify/snmp.h"

#include <syslog.h>

#include <cstdio>
#include <string>

#include "notify/alarm.h"
#include "notify/channel.h"
#include "utils/command.h"

namespace {

constexpr int kTextSize = 512;
constexpr char kAgentName[] = "snmp-mib";
constexpr char kEventtrapFormat[] = "ubus call zelk_snmp eventtrap '{%s}'";
// The command's own bytes, all but its "%s".
constexpr size_t kEventtrapFixed = sizeof kEventtrapFormat - 1 - 2;

}  // namespace

int snmp_send(const NotifyData *data) {
  if (auto end = channel_delivery_gate(data, kNotifySnmp)) return *end;
  if (auto end = channel_announce_delivery(data, kNotifySnmp)) return *end;
  // Not done: the pending row keeps the alarm for the next start. A check
  // that could not be made says so: the agent may well be running.
  std::string failure;
  int agent = utils_process_listed(kAgentName, &failure);
  if (agent < 0) {
    syslog(LOG_ERR, "snmp agent check failed (%s), store the alarm...", failure.c_str());
    return -1;
  }
  if (agent == 0) {
    syslog(LOG_ERR, "snmp is not running, store the alarm...");
    return -1;
  }
  std::printf("-- subject %s, context %s\n", data->subject, data->context);

  char command[kTextSize];
  std::string members =
      notify_alarm_text(data->subject, data->context, kNotifySnmp,
                        sizeof command - 1 - kEventtrapFixed, Quoting::kJsonInShell);
  std::snprintf(command, sizeof command, kEventtrapFormat, members.c_str());
  syslog(LOG_INFO, "%s", command);
  std::printf("%s\n", command);
  // A trap the agent did not take is not done: the replay offers it again.
  return notify_run_command(command, "eventtrap") ? 0 : -1;
}

int snmp_agent_running(void) { return utils_process_listed(kAgentName) == 1 ? 1 : 0; }
