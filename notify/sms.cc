#include "notify/sms.h"

#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "notify/alarm.h"
#include "notify/channel.h"
#include "utils/command.h"
#include "utils/paths.h"

namespace {

constexpr int kTextSize = 512;
constexpr int kGroupLineSize = 256;
constexpr int kCommandSize = 256;

ChannelQueue sms_queue(kNotifySms, sms_send);

[[gnu::constructor(kRegisterPrioritySms)]] void register_sms() {
  channel_register("SMS", kNotifySms, sms_submit, sms_start);
}

// The service is told the bare name; it looks in /tmp itself.
const char *sms_file_name() {
  const char *slash = std::strrchr(paths::kEventSendSms, '/');
  return slash != nullptr ? slash + 1 : paths::kEventSendSms;
}

}  // namespace

int sms_submit(const NotifyData *data) { return channel_submit(&sms_queue, data); }

void sms_start(void) { channel_start(&sms_queue, sms_worker); }

void *sms_worker(void *) { channel_work_forever(&sms_queue); }

int sms_send(const NotifyData *data) {
  if (auto end = channel_delivery_gate(data, kNotifySms, "sms")) return *end;
  if (auto end = channel_announce_delivery(data, kNotifySms, "sms")) return *end;
  if (sms_write_file(data->subject, data->context) != 0) return 0;
  std::printf("--------- send sms ddddd------\n");
  int result = sms_send_to_group();
  sms_remove_file();
  return result;
}

int sms_write_file(const char *subject, const char *context) {
  UniqueFile file(std::fopen(utils_path(paths::kEventSendSms).c_str(), "we"));
  if (!file) return -1;
  char text[kTextSize];
  format_alarm_text(text, sizeof text, subject, context, kNotifySms);
  std::fputs(text, file.get());
  return 0;
}

int sms_send_to_group(void) {
  std::optional<int> group = notify_read_group(paths::kAlarmSmsGroup, kGroupLineSize);
  if (!group) return -1;
  if (*group < kGroupMin || *group > kGroupMax) return 0;

  char command[kCommandSize];
  std::snprintf(command, sizeof command,
                "ubus call zelk_other sendsms '{\"group\":%d, \"file\":\"%s\"}'", *group,
                sms_file_name());
  char output[kTextSize];
  utils_run_command(output, sizeof output, "%s", command);
  syslog(LOG_INFO, "sending event sms..");
  if (std::strstr(output, "error") != nullptr) {
    syslog(LOG_ERR, "send event sms failed");
    return -1;
  }
  return 0;
}

int sms_remove_file(void) {
  std::string path = utils_path(paths::kEventSendSms);
  if (access(path.c_str(), F_OK) == 0) std::remove(path.c_str());
  return 0;
}
