#include "notify/snmp.h"

#include <syslog.h>

#include <cstdio>
#include <string>

#include "notify/alarm.h"
#include "notify/channel.h"
#include "notify/delivery.h"
#include "utils/utils.h"

namespace {

constexpr char kName[] = "SNMP";
// Its alarm text: the layout of format_alarm_text's kind for this channel.
constexpr AlarmLayout kLayout{"\"head\":\"", "\",\"body\":\"", "\"", true, true};
constexpr int kTextSize = 512;
constexpr char kAgentName[] = "snmp-mib";
constexpr char kEventtrapFormat[] = "ubus call zelk_snmp eventtrap '{%s}'";
// The command's own bytes, all but its "%s".
constexpr size_t kEventtrapFixed = sizeof kEventtrapFormat - 1 - 2;

// Never destroyed: see ChannelQueue.
ChannelQueue &queue = *new ChannelQueue(snmp_send);

// The catalogue's flag of the channel, once it is registered.
int flag() { return static_cast<int>(queue.flag); }

}  // namespace

int snmp_submit(const NotifyData *data) { return channel_submit(&queue, data); }
void snmp_start(void) { channel_start(&queue, snmp_worker); }
void *snmp_worker(void *) { channel_work_forever(&queue); }

int snmp_register(void) {
  return channel_register(kName, &queue, snmp_submit, snmp_start, kLayout);
}

int snmp_send(const NotifyData *data) {
  if (auto end = channel_delivery_gate(data, flag())) return *end;
  if (auto end = channel_announce_delivery(data, flag())) return *end;
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
      notify_alarm_text(data->subject, data->context, flag(), sizeof command - 1 - kEventtrapFixed,
                        Quoting::kJsonInShell);
  std::snprintf(command, sizeof command, kEventtrapFormat, members.c_str());
  syslog(LOG_INFO, "%s", command);
  std::printf("%s\n", command);
  // A trap the agent did not take is not done: the replay offers it again.
  return notify_run_command(command, "eventtrap") ? 0 : -1;
}

int snmp_agent_running(void) { return utils_process_listed(kAgentName) == 1 ? 1 : 0; }
