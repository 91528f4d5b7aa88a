#include "notify/sms.h"

#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "notify/alarm.h"
#include "notify/channel.h"
#include "notify/delivery.h"
#include "utils/utils.h"

namespace {

constexpr char kName[] = "SMS";
// Its alarm text: the layout of format_alarm_text's kind for this channel.
constexpr AlarmLayout kLayout{"Subject: ", "\n", "", true, false};
constexpr int kTextSize = 512;
constexpr int kGroupLineSize = 256;
constexpr int kCommandSize = 256;

// The service is told the bare name; it looks in /tmp itself.
const char *sms_file_name() {
  const char *slash = std::strrchr(paths::kEventSendSms, '/');
  return slash != nullptr ? slash + 1 : paths::kEventSendSms;
}

// Never destroyed: see ChannelQueue.
ChannelQueue &queue = *new ChannelQueue(sms_send);

// The catalogue's flag of the channel, once it is registered.
int flag() { return static_cast<int>(queue.flag); }

}  // namespace

int sms_submit(const NotifyData *data) { return channel_submit(&queue, data); }
void sms_start(void) { channel_start(&queue, sms_worker); }
void *sms_worker(void *) { channel_work_forever(&queue); }

int sms_register(void) { return channel_register(kName, &queue, sms_submit, sms_start, kLayout); }

int sms_send(const NotifyData *data) {
  if (auto end = channel_delivery_gate(data, flag())) return *end;
  if (auto end = channel_announce_delivery(data, flag())) return *end;
  // A file not wholly written would send a cut or empty text: not done.
  if (sms_write_file(data->subject, data->context) != 0) {
    sms_remove_file();
    return -1;
  }
  std::printf("--------- send sms ddddd------\n");
  int result = sms_send_to_group();
  sms_remove_file();
  return result;
}

int sms_write_file(const char *subject, const char *context) {
  std::string path = utils_path(paths::kEventSendSms);
  FILE *file = std::fopen(path.c_str(), "we");
  if (file == nullptr) {
    syslog(LOG_ERR, "create sms file %s fail: %s", path.c_str(), std::strerror(errno));
    return -1;
  }
  std::string text = notify_alarm_text(subject, context, flag(), kTextSize - 1);
  bool written = std::fputs(text.c_str(), file) >= 0;
  // A full disk often shows only when the buffered text is flushed.
  int error = errno;
  if (std::fclose(file) != 0 && written) {
    written = false;
    error = errno;
  }
  if (!written) {
    syslog(LOG_ERR, "write sms file %s fail: %s", path.c_str(), std::strerror(error));
    return -1;
  }
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
  std::string output;
  bool ran = notify_run_command(command, "sendsms", &output, kTextSize - 1);
  syslog(LOG_INFO, "sending event sms..");
  if (!ran) return -1;
  if (std::strstr(output.c_str(), "error") != nullptr) {
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
