// The receiver thread: reads request datagrams from the service socket, joins
// requests that span several datagrams and queues every complete text.
#ifndef ALERTMILL_SERVICE_RECEIVER_H_
#define ALERTMILL_SERVICE_RECEIVER_H_

#include "service/udp.h"

// A datagram carries at most kChunkBytes of request text. One of exactly that
// size not beginning with NUL announces that the request goes on in the next
// datagram; pieces are joined up to kRequestBytes - 1 bytes.
inline constexpr int kChunkBytes = kDatagramTextBytes;
inline constexpr int kRequestBytes = kRequestTextBytes + 1;
// Pause after each complete request; the kernel queue buffers meanwhile.
inline constexpr unsigned kReceiverPauseMicros = 100000;
inline constexpr unsigned long kReceiverStackBytes = 2048000;

// Thread body. fd_variable points to the variable holding the service socket.
// Returns (null) only when it cannot start: a null argument, a descriptor not
// greater than 0, or no memory for its buffer.
void *event_receiver(void *fd_variable);

// Starts event_receiver on its own thread with a 2048000-byte stack and
// fd_variable as its argument. 0, or -1 after logging why.
int start_receiver_thread(int *fd_variable);

#endif  // ALERTMILL_SERVICE_RECEIVER_H_
