#include "service/udp.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "utils/utils.h"

namespace {

// Root may go past net.core.rmem_max; anyone else gets what the limit allows.
void size_receive_queue(int fd) {
  int size = kServiceReceiveBuffer;
  if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) == 0) return;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
}

sockaddr_in ipv4_address(const char *address, uint16_t port) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = inet_addr(address);
  return to;
}

}  // namespace

int udp_open(uint16_t port) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd == -1) {
    syslog(LOG_ERR, "udp socket create fail.\n");
    return -1;
  }
  if (port == 0) return fd;

  int reuse = 0;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  size_receive_queue(fd);
  sockaddr_in self = ipv4_address(kServiceAddress, port);
  if (bind(fd, reinterpret_cast<sockaddr *>(&self), sizeof self) == -1) {
    syslog(LOG_ERR, "udp bind fail.\n");
    close(fd);
    return -1;
  }
  return fd;
}

namespace {

int receive(int fd, void *buffer, size_t size, struct sockaddr_in *from, int flags) {
  socklen_t length = sizeof(sockaddr_in);
  ssize_t received;
  do {
    received = recvfrom(fd, buffer, size, flags, reinterpret_cast<sockaddr *>(from),
                        from != nullptr ? &length : nullptr);
  } while (received == -1 && errno == EINTR);
  return static_cast<int>(received);
}

}  // namespace

int udp_recv(int fd, void *buffer, size_t size, struct sockaddr_in *from) {
  return receive(fd, buffer, size, from, 0);
}

int udp_recv_datagram(int fd, void *buffer, size_t size, struct sockaddr_in *from) {
  return receive(fd, buffer, size, from, MSG_TRUNC);
}

int udp_send(int fd, const void *data, size_t length, const char *address, uint16_t port) {
  sockaddr_in to = ipv4_address(address, port);
  ssize_t sent;
  do {
    sent = sendto(fd, data, length, 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
  } while (sent == -1 && errno == EINTR);
  return static_cast<int>(sent);
}

int udp_send_request(int fd, const char *request, size_t length, const char *address,
                     uint16_t port) {
  constexpr auto kPiece = static_cast<size_t>(kDatagramTextBytes);
  length = utils_utf8_cut(request, length, kRequestTextBytes);
  size_t sent = 0;
  for (;;) {
    size_t piece = std::min(length - sent, kPiece);
    if (udp_send(fd, request + sent, piece, address, port) < 0) return -1;
    sent += piece;
    if (piece < kPiece) return static_cast<int>(sent);
  }
}
