#include "utils/thread.h"

#include <syslog.h>

int utils_thread_start(void *(*body)(void *), void *argument, size_t stack_size,
                       pthread_t *thread) {
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) {
    syslog(LOG_ERR, "init pthread attr fail.\n");
    return -1;
  }
  pthread_attr_setstacksize(&attributes, stack_size);
  pthread_t created{};
  int result = pthread_create(&created, &attributes, body, argument);
  pthread_attr_destroy(&attributes);
  if (result != 0) {
    syslog(LOG_ERR, "create pthread fail.\n");
    return -1;
  }
  if (thread != nullptr) *thread = created;
  return 0;
}
