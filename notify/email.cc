#include "notify/email.h"

#include <syslog.h>

#include <cstdio>
#include <string>

#include "notify/alarm.h"
#include "notify/channel.h"
#include "utils/command.h"
#include "utils/paths.h"

namespace {

constexpr int kTextSize = 512;
constexpr char kPutmailFormat[] =
    "ubus call zelk_emaild putmail '{\"head\":\"%s\", \"body\":\"%s\", \"group\":%d}'";

}  // namespace

int email_send(const NotifyData *data) {
  if (auto end = channel_delivery_gate(data, kNotifyEmail)) return *end;
  if ((data->notifyflag & kNotifyEmail) != 0) {
    syslog(LOG_ERR, "the email of event has send ..\n");
    return 0;
  }
  // A missing or invalid group means nobody wants the mail: done, silently.
  std::optional<int> group = notify_read_group(paths::kAlarmEmailGroup, kTextSize);
  if (!group || *group < kGroupMin || *group > kGroupMax) return 0;

  std::string body = notify_alarm_text(data->subject, data->context, kNotifyEmail, kTextSize - 1);
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
