// The queue-and-worker machinery that every channel runs: submit queues a
// copy, one worker thread delivers one record per pass and records in the
// event's pending row that this channel is done with it. Each channel module
// holds one ChannelQueue; its submit, start and worker are thin entries into
// channel_submit, channel_start and channel_work_forever.
#ifndef ALERTMILL_NOTIFY_CHANNEL_H_
#define ALERTMILL_NOTIFY_CHANNEL_H_

#include <pthread.h>

#include <chrono>
#include <cstdint>
#include <optional>

#include "notify/alarm.h"
#include "notify/backlog.h"
#include "notify/registry.h"
#include "utils/utils.h"

inline constexpr int kChannelWorkerStackSize = 204800;
// A channel delivers no sooner than this after its previous delivery ended.
inline constexpr std::chrono::milliseconds kChannelSpacing{200};

struct NotifyNode {
  NotifyData *data;  // owned
  NotifyNode *next;
};

// One channel's queue and worker. The channels differ only in flag and
// deliver, which returns 0 when the channel is done with the event. A module
// allocates its queue once and never frees it: the worker uses it until the
// process ends, and static destruction at exit would pull the backlog from
// under a worker still running.
struct ChannelQueue {
  explicit ChannelQueue(int (*deliver_routine)(const NotifyData *)) : deliver(deliver_routine) {}

  // The catalogue's flag of the channel, set by channel_register.
  uint32_t flag = 0;
  int (*const deliver)(const NotifyData *data);

  LockedFifo<NotifyNode> fifo;
  ChannelBacklog backlog;
  // Zero until the worker exists. Written by start on the main thread before
  // any dispatch, read by submit on that same thread.
  pthread_t worker{};
};

// Queues a copy of *data. 0, also when the channel holds the record's row
// already (queued, being delivered or waiting for a retry) and queues
// nothing; -1 for a null record, a channel without worker or a failed
// allocation (each logged).
int channel_submit(ChannelQueue *queue, const NotifyData *data);

// Creates the worker thread running body (which gets a null argument) with a
// kChannelWorkerStackSize stack. Failures are logged and leave it without.
void channel_start(ChannelQueue *queue, void *(*body)(void *));

// One pass of the worker without its pause: takes the oldest record or a
// retry that is due (in turns when both wait) and tries it. A record whose
// row holds the channel's bit already is skipped as done. When the channel
// is done, the pending row is marked or deleted; a failure waits for its
// next try on the retry schedule, or is given up at its limits. False when
// there was nothing to do.
bool channel_work_once(ChannelQueue *queue);

// The worker's loop, for ever: sleeps until a record is queued or a retry is
// due, then makes a pass, kChannelSpacing after the previous one.
[[noreturn]] void channel_work_forever(ChannelQueue *queue);

// Registers the catalogue's channel name: its queue takes the catalogue's
// flag, layout becomes its alarm text, and a NotifyMethod of submit and
// start goes into the next slot of the registry. 0; -1 when the catalogue
// has no such channel or the registry is full.
int channel_register(const char *name, ChannelQueue *queue, int (*submit)(const NotifyData *),
                     void (*start)(void), const AlarmLayout &layout);

// The first step of every delivery routine: a null record ends it with -1
// (logged), an event that does not enable the channel of flag with 0
// (printed with the channel's word). Nothing when it goes on.
std::optional<int> channel_delivery_gate(const NotifyData *data, int flag);

// The SMS and SNMP deliveries announce themselves, then end with -1 when the
// record says the channel has delivered already. Nothing when they go on.
std::optional<int> channel_announce_delivery(const NotifyData *data, int flag);

#endif  // ALERTMILL_NOTIFY_CHANNEL_H_
