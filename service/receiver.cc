#include "service/receiver.h"

#include <netinet/in.h>
#include <pthread.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "service/event_queue.h"
#include "service/udp.h"
#include "utils/utils.h"

namespace {

// Logs a failing receive once per distinct errno, so a persistent error
// cannot flood the log at ten lines a second.
void report_receive_error(int error, int *last_error) {
  if (error == *last_error) return;
  *last_error = error;
  syslog(LOG_ERR, "udp recv fail: %s\n", strerror(error));
}

}  // namespace

void *event_receiver(void *fd_variable) {
  if (fd_variable == nullptr) {
    syslog(LOG_ERR, "param is null\n");
    return nullptr;
  }
  int fd = *static_cast<int *>(fd_variable);
  if (fd <= 0) {
    syslog(LOG_ERR, "udp fd less than 0.\n");
    if (fd != 0) close(fd);
    pthread_detach(pthread_self());
    return nullptr;
  }
  auto *request = static_cast<char *>(utils_malloc(kRequestBytes));
  if (request == nullptr) {
    syslog(LOG_ERR, "malloc fail\n");
    close(fd);
    pthread_detach(pthread_self());
    return nullptr;
  }

  char chunk[kChunkBytes + 1];
  sockaddr_in sender{};
  int last_error = 0;
  for (;;) {
    std::memset(chunk, 0, sizeof chunk);
    int gathered = static_cast<int>(std::strlen(request));
    int received = udp_recv(fd, chunk, kChunkBytes, &sender);
    if (received < 0) {
      // Nothing arrived: the request ends with what has been gathered.
      report_receive_error(errno, &last_error);
      received = 0;
    } else {
      last_error = 0;
    }
    if (gathered + received < kRequestBytes) {
      // Only the piece's own bytes: after a NUL inside an earlier piece, the
      // bytes of that piece beyond this one's end stay and join the text.
      // Index kRequestBytes - 1 is never written, so the text stays
      // terminated.
      std::memcpy(request + gathered, chunk, static_cast<size_t>(received));
      if (chunk[0] != '\0' && received == kChunkBytes) continue;
    }
    int length = static_cast<int>(std::strlen(request));
    event_queue_append(event_message_new(request, length));
    std::memset(request, 0, kRequestBytes);
    usleep(kReceiverPauseMicros);
  }
}

int start_receiver_thread(int *fd_variable) {
  return utils_thread_start(event_receiver, fd_variable, kReceiverStackBytes);
}
