#include "service/event_queue.h"

#include <pthread.h>

#include <cstring>

#include "utils/alloc.h"

namespace {

// Held only for a few pointer updates; nothing blocks under it.
pthread_mutex_t queue_mutex = PTHREAD_MUTEX_INITIALIZER;
EventMessage *queue_head = nullptr;
EventMessage *queue_tail = nullptr;

class QueueLock {
 public:
  QueueLock() { pthread_mutex_lock(&queue_mutex); }
  ~QueueLock() { pthread_mutex_unlock(&queue_mutex); }
  QueueLock(const QueueLock &) = delete;
  QueueLock &operator=(const QueueLock &) = delete;
};

}  // namespace

EventMessage *event_message_new(const char *text, int length) {
  if (text == nullptr || length < 1 || length == INT32_MAX) return nullptr;
  auto *message = static_cast<EventMessage *>(utils_malloc(sizeof(EventMessage)));
  if (message == nullptr) return nullptr;
  message->text = static_cast<char *>(utils_malloc(length + 1));
  if (message->text == nullptr) {
    utils_free(&message);
    return nullptr;
  }
  std::memcpy(message->text, text, static_cast<size_t>(length));
  message->length = length;
  return message;
}

void event_message_free(EventMessage **message) {
  if (message == nullptr || *message == nullptr) return;
  utils_free(&(*message)->text);
  utils_free(message);
}

void event_queue_append(EventMessage *message) {
  if (message == nullptr) return;
  QueueLock lock;
  if (queue_head == nullptr) {
    queue_head = message;
  } else {
    queue_tail->next = message;
  }
  queue_tail = message;
}

EventMessage *event_queue_take() {
  QueueLock lock;
  EventMessage *message = queue_head;
  if (message == nullptr) return nullptr;
  queue_head = message->next;
  message->next = nullptr;
  if (queue_tail == message) queue_tail = nullptr;
  return message;
}
