#include "notify/channel.h"

#include <syslog.h>
#include <unistd.h>

#include <cstdio>

#include "db/db.h"
#include "utils/utils.h"

int channel_submit(ChannelQueue *queue, const NotifyData *data) {
  if (data == nullptr || queue == nullptr || queue->worker == pthread_t{}) {
    syslog(LOG_ERR, "param is null or handle business thead create fail.\n");
    return -1;
  }
  auto *node = static_cast<NotifyNode *>(utils_malloc(sizeof(NotifyNode)));
  if (node == nullptr) {
    syslog(LOG_ERR, "malloc data fail.\n");
    return -1;
  }
  node->data = static_cast<NotifyData *>(utils_malloc(sizeof(NotifyData)));
  if (node->data == nullptr) {
    utils_free(&node);
    syslog(LOG_ERR, "malloc data fail.\n");
    return -1;
  }
  *node->data = *data;
  // The worker prints and formats these texts: never past their fields.
  NotifyData &copy = *node->data;
  for (char *end : {&copy.subject[sizeof copy.subject - 1], &copy.context[sizeof copy.context - 1],
                    &copy.prompt[sizeof copy.prompt - 1], &copy.eventid[sizeof copy.eventid - 1],
                    &copy.sqlid[sizeof copy.sqlid - 1]}) {
    *end = '\0';
  }

  queue->fifo.push(node);
  return 0;
}

void channel_start(ChannelQueue *queue, void *(*body)(void *)) {
  utils_thread_start(body, nullptr, kChannelWorkerStackSize, &queue->worker);
}

bool channel_work_once(ChannelQueue *queue) {
  NotifyNode *node = queue->fifo.pop();
  if (node == nullptr) return false;

  int result = queue->deliver(node->data);

  notify_method_lock();
  if (result == 0) {
    eventlogcache_finish(node->data->sqlid, static_cast<int>(queue->flag), notify_enabled_mask);
  }
  notify_method_unlock();

  utils_free(&node->data);
  utils_free(&node);
  return true;
}

void channel_work_forever(ChannelQueue *queue) {
  for (;;) {
    channel_work_once(queue);
    usleep(kChannelPollMicroseconds);
  }
}

int channel_register(const char *name, ChannelQueue *queue, int (*submit)(const NotifyData *),
                     void (*start)(void), const AlarmLayout &layout) {
  const int flag = catalogue_flag_of(name);
  if (flag == 0 || queue == nullptr) return -1;
  NotifyMethod method{};
  std::snprintf(method.name, sizeof method.name, "%s", name);
  method.flag = static_cast<uint32_t>(flag);
  method.submit = submit;
  method.start = start;
  if (notify_method_register(&method) != 0) return -1;
  queue->flag = method.flag;
  notify_set_alarm_layout(flag, layout);
  return 0;
}

std::optional<int> channel_delivery_gate(const NotifyData *data, int flag) {
  if (data == nullptr) {
    syslog(LOG_ERR, "notifydata is null,so we can't send notify.\n");
    return -1;
  }
  if ((data->needflag & flag) == 0) {
    std::printf("### event %s no need to send %s ###\n", data->subject, catalogue_word(flag));
    return 0;
  }
  return std::nullopt;
}

std::optional<int> channel_announce_delivery(const NotifyData *data, int flag) {
  std::printf("--- event %s will send %s ---\n", data->subject, catalogue_word(flag));
  if ((data->notifyflag & flag) != 0) return -1;
  return std::nullopt;
}
