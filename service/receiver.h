// The receiver thread: reads request datagrams from the service socket, joins
// requests that span several datagrams and queues every complete text.
#ifndef ALERTMILL_SERVICE_RECEIVER_H_
#define ALERTMILL_SERVICE_RECEIVER_H_

#include "service/udp.h"

// A datagram carries at most kChunkBytes of request text. One of exactly that
// size not beginning with NUL announces that the request goes on in the next
// datagram from the same sender (address and port); a sender's pieces are
// joined up to kRequestBytes - 1 bytes and never with another's. A longer
// datagram, from a program that does not split, is a request of its own,
// read up to kRequestBytes - 1 bytes.
inline constexpr int kChunkBytes = kDatagramTextBytes;
inline constexpr int kRequestBytes = kRequestTextBytes + 1;
// A sender whose next piece has not come once the receiver has waited this
// long for datagrams loses the request it began ("request from %s:%u
// incomplete, %zu bytes dropped" on stdout and at LOG_ERR). Only waiting
// counts: pieces queued behind other requests are not late. At most
// kMaxGatheringSenders requests are gathered at once; a new sender beyond
// them drops the stalest.
inline constexpr int kPieceTimeoutMillis = 2000;
inline constexpr size_t kMaxGatheringSenders = 256;
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
