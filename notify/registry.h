// The registry of notification channels and the record handed to each.
#ifndef ALERTMILL_NOTIFY_REGISTRY_H_
#define ALERTMILL_NOTIFY_REGISTRY_H_

#include <cstdint>
#include <type_traits>

// A channel's notify flag is a bit given by its slot in the channel catalogue
// (db/catalogue.h). The same bits are used in the records, in the
// "&notifyflag=" request parameter and in eventlogcache.notifyflag.

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

// Filled in registration order on the main thread before the start; only
// read once threads run.
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

// The registry mutex: a channel worker holds it around the bookkeeping of
// one delivery (eventlogcache_finish), so the bookkeeping of two channels
// never overlaps. Where it sits among the other locks: db/accessor.h.
//
// Results of pthread_mutex_lock / _unlock.
int notify_method_lock(void);
int notify_method_unlock(void);

#endif  // ALERTMILL_NOTIFY_REGISTRY_H_
