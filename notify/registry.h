// The registry of notification channels and the record handed to each.
#ifndef ALERTMILL_NOTIFY_REGISTRY_H_
#define ALERTMILL_NOTIFY_REGISTRY_H_

#include <cstdint>
#include <type_traits>

// Notify flag bits, one per channel. The same bits are used in the records,
// in the "&notifyflag=" request parameter and in eventlogcache.notifyflag.
inline constexpr int kNotifyEmail = 1;
inline constexpr int kNotifySms = 2;
inline constexpr int kNotifySnmp = 4;

// One event as event processing hands it to every channel. Text fields are
// NUL-terminated and zero-filled behind the text; each channel works on its
// own copy.
struct NotifyData {
  char subject[256];
  char context[512];
  char prompt[128];
  char eventid[16];
  char sqlid[16];      // the event's eventlogcache row; may be empty
  int32_t notifyflag;  // channels that have delivered already
  int32_t needflag;    // channels the event's definition enables
};

// One channel: its submit queues a copy of a record for the channel's worker
// (0 accepted, -1 refused); its start creates that worker. Either may be null.
struct NotifyMethod {
  char name[16];
  uint32_t flag;
  int (*submit)(const NotifyData *data);
  void (*start)(void);
};

static_assert(std::is_trivially_copyable_v<NotifyData>);
static_assert(std::is_trivially_copyable_v<NotifyMethod>);

inline constexpr int kNotifyMethodSlots = 10;

// Filled in registration order before main; only read once threads run.
extern NotifyMethod notify_method_table[kNotifyMethodSlots];
extern int32_t notifymethodcounts;
// OR of every registered flag, set by notify_method_start_all; a pending row
// whose collected flags reach it is done with.
extern int32_t notify_enabled_mask;

// Copies *method into the next slot. 0; -1, registering nothing, for a null
// method or when all slots are taken.
int notify_method_register(const NotifyMethod *method);

// Prints the channel count, starts every channel and builds
// notify_enabled_mask. 0. Main thread, once, before the first dispatch.
int notify_method_start_all(void);

// Hands data to the submit of every channel in slot order; refusals are the
// channels' own business. 0. Main thread only.
int notify_method_dispatch(const NotifyData *data);

// Mutex rules. The daemon's locks, and what may be taken while each is held:
//
//   registry mutex (below)  A channel worker holds it around the read and
//       update of an event's pending row, so that two channels finishing the
//       same event cannot both start from the old notifyflag and lose a bit.
//       Event processing on the main thread holds it around each of its own
//       table operations: no busy handler is set, so otherwise its look-up
//       could meet a worker's statement and fail with SQLITE_BUSY. Never held
//       around dispatch. Under it the database layer takes, per operation,
//       its lock-table mutexes and the inter-process lock file.
//   lock table (db/core.cc)  Its table mutex is held only while the list of
//       held lock files is looked up or changed; a file's locking mutex only
//       while its first holder waits in lockf. Never both at once, and
//       nothing else is taken under either.
//   queue mutexes (LockedFifo: the event queue, each channel's queue)  Held
//       for a few pointer updates and never together with any other mutex:
//       submit and the worker's take run outside the registry mutex.
//   backlog mutexes (ChannelBacklog, one per channel)  Held for one look-up
//       or change of the rows a channel holds, by submit and by the worker
//       outside every other mutex.
//
// So the only nesting is registry mutex -> locking mutex -> lockf; no other
// two mutexes are ever held together, and none is held while waiting on a
// queue or running a command.
//
// Results of pthread_mutex_lock / _unlock.
int notify_method_lock(void);
int notify_method_unlock(void);

#endif  // ALERTMILL_NOTIFY_REGISTRY_H_
