// UDP socket routines of the event protocol: the service's bound socket and
// the sending side's unbound one.
#ifndef ALERTMILL_SERVICE_UDP_H_
#define ALERTMILL_SERVICE_UDP_H_

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// Where every event request goes. The port travels as text and is reduced to
// 16 bits the same way on both sides.
inline constexpr char kServiceAddress[] = "127.0.0.1";
inline constexpr char kServicePortText[] = "9001";
inline uint16_t service_port() {
  return static_cast<uint16_t>(std::atoi(kServicePortText) & 0xFFFF);
}

// Kernel receive queue asked for on the service socket. The receiver pauses
// 100 ms after every request, so a burst waits in this queue: it must hold a
// thousand small requests (each costs a few KiB of kernel accounting).
inline constexpr int kServiceReceiveBuffer = 4 * 1024 * 1024;

// A close-on-exec UDP socket. Port 0: unbound (the sending side). Otherwise
// bound to 127.0.0.1:port without address reuse, so a second service cannot
// bind it. -1 after logging "udp socket create fail.\n" or "udp bind fail.\n".
int udp_open(uint16_t port);

// One datagram of at most size bytes into buffer; the sender's address goes to
// *from. The byte count, or -1 on an error other than EINTR (which retries).
int udp_recv(int fd, void *buffer, size_t size, struct sockaddr_in *from);

// As udp_recv, but a datagram longer than size is consumed whole all the
// same and its whole length returned (MSG_TRUNC): more than size says that
// only its first size bytes are in buffer.
int udp_recv_datagram(int fd, void *buffer, size_t size, struct sockaddr_in *from);

// One datagram of length bytes to address:port, retried on EINTR. The result of
// the last sendto.
int udp_send(int fd, const void *data, size_t length, const char *address, uint16_t port);

// A request text travels in datagrams of at most kDatagramTextBytes; the
// receiver joins them into at most kRequestTextBytes.
inline constexpr int kDatagramTextBytes = 511;
inline constexpr int kRequestTextBytes = 2047;

// Sends a request text of length bytes the way the receiver joins it: full
// pieces of kDatagramTextBytes, each announcing the next, then a shorter one,
// empty when the length is a multiple of the piece, so that the request never
// runs on into another sender's. A text longer than kRequestTextBytes is cut
// there, between whole characters: the receiver could not hold the rest and
// would take it for a request of its own. The bytes sent, or -1 when a piece could not be sent.
int udp_send_request(int fd, const char *request, size_t length, const char *address,
                     uint16_t port);

#endif  // ALERTMILL_SERVICE_UDP_H_
