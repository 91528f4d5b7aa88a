#include "notify/channel.h"

#include <syslog.h>
#include <unistd.h>

#include <cstdio>

#include "db/event_tables.h"
#include "notify/alarm.h"
#include "utils/alloc.h"

namespace {

// ORs flag into the pending row of sqlid, or deletes the row once every
// enabled channel is done. The caller holds the registry mutex, so two
// workers finishing the same event cannot both start from the old value.
void mark_pending_row(const char *sqlid, uint32_t flag) {
  if (eventlogcache_exists(sqlid) == 0) return;
  EventLogCacheRow *row = nullptr;
  if (eventlogcache_get(sqlid, &row) == 0 && row != nullptr) {
    int value = notify_atoi(row->notifyflag) | static_cast<int>(flag);
    if (value < notify_enabled_mask) {
      eventlogcache_set_notifyflag(sqlid, value);
    } else {
      eventlogcache_delete(sqlid);
    }
  }
  utils_free(&row);
}

}  // namespace

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

  std::lock_guard<std::mutex> hold(queue->mutex);
  if (queue->head != nullptr) {
    queue->tail->next = node;
  } else {
    queue->head = node;
  }
  queue->tail = node;
  return 0;
}

void channel_start(ChannelQueue *queue, void *(*body)(void *)) {
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) {
    syslog(LOG_ERR, "init pthread attr fail.\n");
    return;
  }
  pthread_attr_setstacksize(&attributes, kChannelWorkerStackSize);
  pthread_t worker{};
  if (pthread_create(&worker, &attributes, body, nullptr) != 0) {
    syslog(LOG_ERR, "create pthread fail.\n");
  } else {
    queue->worker = worker;
  }
  pthread_attr_destroy(&attributes);
}

bool channel_work_once(ChannelQueue *queue) {
  NotifyNode *node = nullptr;
  {
    std::lock_guard<std::mutex> hold(queue->mutex);
    node = queue->head;
    if (node == nullptr) return false;
    queue->head = node->next;
    node->next = nullptr;
    if (queue->tail == node) queue->tail = nullptr;
  }

  int result = queue->deliver(node->data);

  notify_method_lock();
  if (result == 0) mark_pending_row(node->data->sqlid, queue->flag);
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

std::optional<int> channel_delivery_gate(const NotifyData *data, int flag, const char *word) {
  if (data == nullptr) {
    syslog(LOG_ERR, "notifydata is null,so we can't send notify.\n");
    return -1;
  }
  if ((data->needflag & flag) == 0) {
    std::printf("### event %s no need to send %s ###\n", data->subject, word);
    return 0;
  }
  return std::nullopt;
}

std::optional<int> channel_announce_delivery(const NotifyData *data, int flag, const char *word) {
  std::printf("--- event %s will send %s ---\n", data->subject, word);
  if ((data->notifyflag & flag) != 0) return -1;
  return std::nullopt;
}

void channel_register(const char *name, uint32_t flag, int (*submit)(const NotifyData *),
                      void (*start)(void)) {
  NotifyMethod method{};
  std::snprintf(method.name, sizeof method.name, "%s", name);
  method.flag = flag;
  method.submit = submit;
  method.start = start;
  notify_method_register(&method);
}
