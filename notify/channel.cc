#include "notify/channel.h"

#include <syslog.h>

#include <cstdio>

#include "db/db.h"
#include "utils/utils.h"

namespace {

// Records that the channel of flag finished with the pending row of sqlid
// (its bit ORed in, or the row deleted once every channel is done). The
// caller holds the registry mutex.
void mark_pending_row(const char *sqlid, uint32_t flag) {
  eventlogcache_finish(sqlid, static_cast<int>(flag), notify_enabled_mask);
}

void free_node(NotifyNode **node) {
  utils_free(&(*node)->data);
  utils_free(node);
}

using Attempt = RetrySchedule<ChannelBacklog::Waiting>::Entry;

// Reads the record's pending row, if any: its bits join the record's, so a
// channel that holds the row's bit skips it. False when the row existed at
// an earlier try and has gone: the bound gave it up, or it was finished.
bool read_row(Attempt *attempt) {
  NotifyData *data = attempt->item.node->data;
  bool first = attempt->failed_tries == 0;
  if (first) attempt->born = utils_retry_born(nullptr);
  if (data->sqlid[0] == '\0') return true;
  EventLogCacheRow *row = nullptr;
  const int read = eventlogcache_get(data->sqlid, &row);
  const bool found = read == 0 && row != nullptr;
  // A database that cannot answer says nothing about the row: try anyway.
  if (!found && (read != -2 || db_last_error()[0] != '\0')) {
    utils_free(&row);
    return true;
  }
  if (found) {
    data->notifyflag |= pending_flags(row->notifyflag);
    if (first) attempt->born = utils_retry_born(row->happentime);
    attempt->item.had_row = true;
  }
  utils_free(&row);
  return found || !attempt->item.had_row;
}

// Under the registry mutex: the channel stops trying; the row counts it as
// done, so the row goes once the other channels are done too.
void give_up(const ChannelQueue *queue, const Attempt &attempt) {
  const NotifyData *data = attempt.item.node->data;
  notify_give_up(data->sqlid, data->eventid, static_cast<int>(queue->flag), attempt.failed_tries);
  mark_pending_row(data->sqlid, queue->flag);
}

// The channel finished with the attempt's record: its row may come again.
void finish(ChannelQueue *queue, Attempt *attempt) {
  queue->backlog.release(attempt->item.node->data->sqlid);
  free_node(&attempt->item.node);
}

// Keeps the attempt for its next try; beyond the bound, the record that has
// waited since the oldest event is given up.
void schedule(ChannelQueue *queue, Attempt attempt) {
  RetrySchedule<ChannelBacklog::Waiting> &retries = queue->backlog.retries;
  retries.add(attempt);
  while (retries.size() > static_cast<size_t>(kRetryLimits.bound)) {
    Attempt oldest = retries.take_oldest();
    notify_method_lock();
    give_up(queue, oldest);
    notify_method_unlock();
    finish(queue, &oldest);
  }
}

// One try of the attempt's record. True when the channel has finished with
// it (done, skipped, gone or given up); false when it waits for another try.
bool try_delivery(ChannelQueue *queue, Attempt *attempt) {
  NotifyData *data = attempt->item.node->data;
  notify_method_lock();
  bool current = read_row(attempt);
  notify_method_unlock();
  if (!current) return true;

  // SMS and SNMP answer -1 to a record that holds their bit: not a failure.
  bool skipped = (data->notifyflag & static_cast<int>(queue->flag)) != 0;
  int result = queue->deliver(data);
  bool finished = result == 0 || skipped;

  notify_method_lock();
  if (result == 0) mark_pending_row(data->sqlid, queue->flag);
  if (!finished) {
    ++attempt->failed_tries;
    if (utils_retry_exhausted(attempt->failed_tries, attempt->born)) {
      give_up(queue, *attempt);
      finished = true;
    } else if (attempt->item.had_row) {
      notify_bound_pending_rows();
    }
  }
  notify_method_unlock();
  return finished;
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

  if (!queue->backlog.claim(copy.sqlid)) {
    std::printf("event %s (row %s) is already held by the %s channel\n", copy.eventid, copy.sqlid,
                catalogue_word(static_cast<int>(queue->flag)));
    free_node(&node);
    return 0;
  }
  queue->fifo.push(node);
  return 0;
}

void channel_start(ChannelQueue *queue, void *(*body)(void *)) {
  utils_thread_start(body, nullptr, kChannelWorkerStackSize, &queue->worker);
}

bool channel_work_once(ChannelQueue *queue) {
  RetrySchedule<ChannelBacklog::Waiting> &retries = queue->backlog.retries;
  bool retry = retries.retry_turn(!queue->fifo.empty());
  NotifyNode *node = retry ? nullptr : queue->fifo.pop();
  if (!retry && node == nullptr) return false;
  Attempt attempt = retry ? retries.take_due() : Attempt{{node, false}, 0, 0};
  if (try_delivery(queue, &attempt)) {
    finish(queue, &attempt);
  } else {
    schedule(queue, attempt);
  }
  return true;
}

void channel_work_forever(ChannelQueue *queue) {
  QueuePace pace(kChannelSpacing);
  for (;;) {
    queue->fifo.wait(queue->backlog.retries.next_due());
    pace.wait_turn();
    if (channel_work_once(queue)) pace.turn_done();
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
