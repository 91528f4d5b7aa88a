#include "service/receiver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <vector>

#include "service/event_queue.h"
#include "service/udp.h"
#include "utils/utils.h"

namespace {

using Clock = std::chrono::steady_clock;

// The receive buffer: a whole request, and a character's worth more to judge
// where a longer datagram is cut.
constexpr size_t kReadBytes = kRequestBytes + 3;

// Logs a failing receive once per distinct errno, so a persistent error
// cannot flood the log at ten lines a second.
void report_receive_error(int error, int *last_error) {
  if (error == *last_error) return;
  *last_error = error;
  syslog(LOG_ERR, "udp recv fail: %s\n", strerror(error));
}

// A request text complete: queued, then the pause that lets the main loop
// keep up.
void finish(const char *text, size_t length) {
  event_queue_append(event_message_new(text, static_cast<int>(length)));
  usleep(kReceiverPauseMicros);
}

// One sender's request in the gathering: NUL-terminated text, and the
// receiver's waiting time when its last piece came.
struct Gathering {
  std::vector<char> text = std::vector<char>(kRequestBytes, '\0');
  Clock::duration waited_at{};
};

// The requests being gathered, by sender, and the time the receiver has
// spent waiting for datagrams.
class Gatherings {
 public:
  static uint64_t key(const sockaddr_in &from) {
    return uint64_t{ntohl(from.sin_addr.s_addr)} << 16 | ntohs(from.sin_port);
  }
  Gathering *find(uint64_t sender) {
    auto found = senders_.find(sender);
    return found != senders_.end() ? &found->second : nullptr;
  }
  Gathering &begin(uint64_t sender) {
    if (senders_.size() >= kMaxGatheringSenders) drop(stalest());
    Gathering &made = senders_[sender];
    made.waited_at = waited_;
    return made;
  }
  void end(uint64_t sender) { senders_.erase(sender); }
  void note_piece(Gathering *gathering) const { gathering->waited_at = waited_; }

  // Blocks until a datagram is there, and while requests are gathered at
  // most until the stalest of them times out; true when one is there.
  bool wait(int fd) {
    int timeout = -1;
    if (!senders_.empty()) {
      auto left = std::chrono::milliseconds(kPieceTimeoutMillis) -
                  (waited_ - senders_.at(stalest()).waited_at);
      timeout = static_cast<int>(
          std::max<long long>(0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
    }
    pollfd readable{fd, POLLIN, 0};
    const Clock::time_point start = Clock::now();
    const int ready = poll(&readable, 1, timeout);
    waited_ += Clock::now() - start;
    return ready > 0;
  }

  void drop_timed_out() {
    for (auto at = senders_.begin(); at != senders_.end();) {
      auto next = std::next(at);
      if (waited_ - at->second.waited_at >= std::chrono::milliseconds(kPieceTimeoutMillis)) {
        drop(at->first);
      }
      at = next;
    }
  }

 private:
  uint64_t stalest() const {
    return std::min_element(
               senders_.begin(), senders_.end(),
               [](const auto &a, const auto &b) { return a.second.waited_at < b.second.waited_at; })
        ->first;
  }
  void drop(uint64_t sender) {
    in_addr address{htonl(static_cast<uint32_t>(sender >> 16))};
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &address, text, sizeof text);
    const auto port = static_cast<unsigned>(sender & 0xFFFF);
    const auto bytes = std::strlen(senders_.at(sender).text.data());
    std::printf("request from %s:%u incomplete, %zu bytes dropped\n", text, port, bytes);
    syslog(LOG_ERR, "request from %s:%u incomplete, %zu bytes dropped", text, port, bytes);
    senders_.erase(sender);
  }

  std::map<uint64_t, Gathering> senders_;
  Clock::duration waited_{};
};

// A datagram longer than a piece: a request of its own, cut between whole
// characters where the request buffer ends.
void finish_whole(const char *chunk, int received) {
  const size_t known = strnlen(chunk, std::min(static_cast<size_t>(received), kReadBytes - 1));
  finish(chunk, utils_utf8_cut(chunk, known, static_cast<size_t>(kRequestBytes) - 1));
}

// Adds a piece of received bytes to the gathering's text; false when it
// does not fit and the request ends with what was gathered.
bool add_piece(Gathering *gathering, const char *chunk, int received) {
  char *request = gathering->text.data();
  const size_t gathered = std::strlen(request);
  const size_t piece = static_cast<size_t>(received);
  if (gathered + piece < static_cast<size_t>(kRequestBytes)) {
    // Only the piece's own bytes: after a NUL inside an earlier piece, the
    // bytes of that piece beyond this one's end stay and join the text.
    // Index kRequestBytes - 1 is never written, so the text stays
    // terminated.
    std::memcpy(request + gathered, chunk, piece);
    return true;
  }
  // The piece does not fit and is dropped; what it begins with still says
  // whether the last character gathered is whole.
  const size_t peek = std::min(piece, static_cast<size_t>(kRequestBytes) - 1 - gathered);
  std::memcpy(request + gathered, chunk, peek);
  const size_t kept =
      utils_utf8_cut(request, gathered + strnlen(request + gathered, peek), gathered);
  std::memset(request + kept, 0, kRequestBytes - kept);
  return false;
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
  UniqueBlock buffer(static_cast<char *>(utils_malloc(kReadBytes)));
  if (buffer == nullptr) {
    syslog(LOG_ERR, "malloc fail\n");
    close(fd);
    pthread_detach(pthread_self());
    return nullptr;
  }

  char *chunk = buffer.get();
  Gatherings gatherings;
  sockaddr_in sender{};
  int last_error = 0;
  for (;;) {
    if (!gatherings.wait(fd)) {
      gatherings.drop_timed_out();
      continue;
    }
    std::memset(chunk, 0, kReadBytes);
    int received = udp_recv_datagram(fd, chunk, kReadBytes - 1, &sender);
    if (received < 0) {
      report_receive_error(errno, &last_error);
      usleep(kReceiverPauseMicros);
      continue;
    }
    last_error = 0;
    if (received > kChunkBytes) {
      finish_whole(chunk, received);
      continue;
    }
    const uint64_t key = Gatherings::key(sender);
    Gathering *gathering = gatherings.find(key);
    const bool goes_on = chunk[0] != '\0' && received == kChunkBytes;
    if (gathering == nullptr && !goes_on) {
      finish(chunk, std::strlen(chunk));
      continue;
    }
    if (gathering == nullptr) gathering = &gatherings.begin(key);
    if (add_piece(gathering, chunk, received) && goes_on) {
      gatherings.note_piece(gathering);
      continue;
    }
    const char *request = gathering->text.data();
    finish(request, std::strlen(request));
    gatherings.end(key);
  }
}

int start_receiver_thread(int *fd_variable) {
  return utils_thread_start(event_receiver, fd_variable, kReceiverStackBytes);
}
