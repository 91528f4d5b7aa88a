#include "service/event_queue.h"

#include <cstring>

#include "utils/utils.h"

namespace {

LockedFifo<EventMessage> queue;

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

void event_queue_append(EventMessage *message) { queue.push(message); }

EventMessage *event_queue_take() { return queue.pop(); }

bool event_queue_empty() { return queue.empty(); }

bool event_queue_wait(const std::optional<SteadyTime> &until) { return queue.wait(until); }
