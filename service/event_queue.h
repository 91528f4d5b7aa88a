// The event queue: received (and replayed) request texts on their way from the
// receiver thread to the main loop.
#ifndef ALERTMILL_SERVICE_EVENT_QUEUE_H_
#define ALERTMILL_SERVICE_EVENT_QUEUE_H_

#include <cstdint>
#include <optional>
#include <type_traits>

#include "utils/utils.h"

// One request text and its queue link. The message owns text (length + 1
// bytes, always NUL-terminated); free the text, then the message.
struct EventMessage {
  int32_t length;
  char *text;
  EventMessage *next;
};

static_assert(std::is_trivially_copyable_v<EventMessage>);

// A new message holding a copy of the first length bytes of text, with no
// successor; null for a null text, a length below 1 or no memory.
EventMessage *event_message_new(const char *text, int length);

// Frees the message's text and the message, and clears *message.
void event_message_free(EventMessage **message);

// Appends message at the tail, under the queue mutex. The queue owns it from
// here; it has no length limit.
void event_queue_append(EventMessage *message);

// Unlinks the oldest message under the queue mutex; null when the queue is
// empty. The caller owns the result.
EventMessage *event_queue_take();

bool event_queue_empty();

// Sleeps until a message is queued or, when until is given, that moment has
// passed. True when a message is queued.
bool event_queue_wait(const std::optional<SteadyTime> &until = std::nullopt);

#endif  // ALERTMILL_SERVICE_EVENT_QUEUE_H_
