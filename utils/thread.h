// Starting the daemon's long-lived threads.
#ifndef ALERTMILL_UTILS_THREAD_H_
#define ALERTMILL_UTILS_THREAD_H_

#include <pthread.h>

#include <cstddef>

// Runs body(argument) on a new thread with a stack of stack_size bytes; the
// thread is neither detached nor joined. 0, with its handle in *thread when
// thread is not null; -1 after logging "init pthread attr fail.\n" or
// "create pthread fail.\n" at LOG_ERR (*thread is then left as it was).
int utils_thread_start(void *(*body)(void *), void *argument, size_t stack_size,
                       pthread_t *thread = nullptr);

#endif  // ALERTMILL_UTILS_THREAD_H_
