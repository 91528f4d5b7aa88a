#include "notify/registry.h"

#include <pthread.h>

#include <cstdio>

NotifyMethod notify_method_table[kNotifyMethodSlots];
int32_t notifymethodcounts;
int32_t notify_enabled_mask;

namespace {

pthread_mutex_t registry_mutex = PTHREAD_MUTEX_INITIALIZER;

}  // namespace

int notify_method_register(const NotifyMethod *method) {
  if (method == nullptr || notifymethodcounts < 0 || notifymethodcounts >= kNotifyMethodSlots) {
    return -1;
  }
  notify_method_table[notifymethodcounts] = *method;
  ++notifymethodcounts;
  return 0;
}

int notify_method_start_all(void) {
  std::printf("notifymethodcounts %d\n", notifymethodcounts);
  for (int slot = 0; slot < notifymethodcounts; ++slot) {
    const NotifyMethod &method = notify_method_table[slot];
    if (method.start != nullptr) method.start();
    // Added even when the worker could not be created: its rows then stay
    // pending and are offered again at the next start.
    notify_enabled_mask |= static_cast<int32_t>(method.flag);
  }
  return 0;
}

int notify_method_dispatch(const NotifyData *data) {
  for (int slot = 0; slot < notifymethodcounts; ++slot) {
    const NotifyMethod &method = notify_method_table[slot];
    if (method.submit != nullptr) method.submit(data);
  }
  return 0;
}

int notify_method_lock(void) { return pthread_mutex_lock(&registry_mutex); }

int notify_method_unlock(void) { return pthread_mutex_unlock(&registry_mutex); }
