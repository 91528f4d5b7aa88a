#include "notify/channel.h"

#include <syslog.h>

#include <cstdio>

#include "db/event_tables.h"
#include "notify/alarm.h"
#include "notify/channels.h"
#include "utils/alloc.h"
#include "utils/thread.h"

namespace {

// ORs flag into the pending row of sqlid, or deletes the row once every
// enabled channel is done. The caller holds the registry mutex (see the lock
// rules in notify/registry.h).
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
  if (result == 0) mark_pending_row(node->data->sqlid, queue->flag);
  notify_method_unlock();

  utils_free(&node->data);
  utils_free(&node);
  return true;
}

void channel_work_forever(ChannelQueue *queue) {
  QueuePace pace(kChannelSpacing);
  for (;;) {
    queue->fifo.wait();
    pace.wait_turn();
    if (channel_work_once(queue)) pace.turn_done();
  }
}

std::optional<int> channel_delivery_gate(const NotifyData *data, int flag) {
  if (data == nullptr) {
    syslog(LOG_ERR, "notifydata is null,so we can't send notify.\n");
    return -1;
  }
  if ((data->needflag & flag) == 0) {
    std::printf("### event %s no need to send %s ###\n", data->subject, notify_channel_word(flag));
    return 0;
  }
  return std::nullopt;
}

std::optional<int> channel_announce_delivery(const NotifyData *data, int flag) {
  std::printf("--- event %s will send %s ---\n", data->subject, notify_channel_word(flag));
  if ((data->notifyflag & flag) != 0) return -1;
  return std::nullopt;
}
