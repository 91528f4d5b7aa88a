#include "notify/email.h"

#include <syslog.h>

#include <cstdio>
#include <string>

#include "notify/alarm.h"
#include "notify/channel.h"
#include "notify/delivery.h"
#include "utils/utils.h"

namespace {

constexpr char kName[] = "EMAIL";
// Its alarm text: the layout of format_alarm_text's kind for this channel.
constexpr AlarmLayout kLayout{"", "", "", false, false};
constexpr int kTextSize = 512;
constexpr char kPutmailFormat[] =
    "ubus call zelk_emaild putmail '{\"head\":\"%s\", \"body\":\"%s\", \"group\":%d}'";

// Never destroyed: see ChannelQueue.
ChannelQueue &queue = *new ChannelQueue(email_send);

// The catalogue's flag of the channel, once it is registered.
int flag() { return static_cast<int>(queue.flag); }

}  // namespace

int email_submit(const NotifyData *data) { return channel_submit(&queue, data); }
void email_start(void) { channel_start(&queue, email_worker); }
void *email_worker(void *) { channel_work_forever(&queue); }

int email_register(void) {
  return channel_register(kName, &queue, email_submit, email_start, kLayout);
}

int email_send(const NotifyData *data) {
  if (auto end = channel_delivery_gate(data, flag())) return *end;
  if ((data->notifyflag & flag()) != 0) {
    syslog(LOG_ERR, "the email of event has send ..\n");
    return 0;
  }
  // A missing or invalid group means nobody wants the mail: done, silently.
  std::optional<int> group = notify_read_group(paths::kAlarmEmailGroup, kTextSize);
  if (!group || *group < kGroupMin || *group > kGroupMax) return 0;

  std::string body = notify_alarm_text(data->subject, data->context, flag(), kTextSize - 1);
  std::string subject = data->subject;
  char command[kTextSize];
  // Room for the texts: the command less its fixed pieces and the group.
  int fixed = std::snprintf(command, sizeof command, kPutmailFormat, "", "", *group);
  notify_fit_texts(&body, &subject, sizeof command - 1 - static_cast<size_t>(fixed),
                   Quoting::kJsonInShell);
  std::snprintf(command, sizeof command, kPutmailFormat,
                notify_quoted(subject, Quoting::kJsonInShell).c_str(),
                notify_quoted(body, Quoting::kJsonInShell).c_str(), *group);
  syslog(LOG_DEBUG, "%s", command);
  // A mail the service did not take is not done: the replay offers it again.
  return notify_run_command(command, "putmail") ? 0 : -1;
}
