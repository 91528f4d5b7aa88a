#include "notify/email.h"

#include <syslog.h>

#include <cstdio>

#include "notify/alarm.h"
#include "notify/channel.h"
#include "utils/command.h"
#include "utils/paths.h"

namespace {

constexpr int kTextSize = 512;

ChannelQueue email_queue(kNotifyEmail, email_send);

[[gnu::constructor(kRegisterPriorityEmail)]] void register_email() {
  channel_register("EMAIL", kNotifyEmail, email_submit, email_start);
}

}  // namespace

int email_submit(const NotifyData *data) { return channel_submit(&email_queue, data); }

void email_start(void) { channel_start(&email_queue, email_worker); }

void *email_worker(void *) { channel_work_forever(&email_queue); }

int email_send(const NotifyData *data) {
  if (auto end = channel_delivery_gate(data, kNotifyEmail, "email")) return *end;
  if ((data->notifyflag & kNotifyEmail) != 0) {
    syslog(LOG_ERR, "the email of event has send ..\n");
    return 0;
  }
  // A missing or invalid group means nobody wants the mail: done, silently.
  std::optional<int> group = notify_read_group(paths::kAlarmEmailGroup, kTextSize);
  if (!group || *group < kGroupMin || *group > kGroupMax) return 0;

  char body[kTextSize];
  format_alarm_text(body, sizeof body, data->subject, data->context, kNotifyEmail);
  char command[kTextSize];
  std::snprintf(command, sizeof command,
                "ubus call zelk_emaild putmail '{\"head\":\"%s\", "
                "\"body\":\"%s\", \"group\":%d}'",
                notify_shell_quoted(data->subject).c_str(), notify_shell_quoted(body).c_str(),
                *group);
  syslog(LOG_DEBUG, "%s", command);
  utils_system(command);
  return 0;
}
