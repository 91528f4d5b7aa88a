#include "utils/queue.h"

#include <ctime>
#include <thread>

QueueWake::QueueWake() {
  pthread_condattr_t attributes;
  pthread_condattr_init(&attributes);
  pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
  pthread_cond_init(&cond_, &attributes);
  pthread_condattr_destroy(&attributes);
}

void QueueWake::wait(const std::optional<SteadyTime> &until) {
  if (!until) {
    pthread_cond_wait(&cond_, &mutex_);
    return;
  }
  // The deadline as an offset from now on CLOCK_MONOTONIC itself: the steady
  // clock's epoch is its library's business.
  auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
      *until - std::chrono::steady_clock::now());
  if (left.count() <= 0) return;
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  constexpr int64_t kNanosPerSecond = 1000000000;
  int64_t nanos = deadline.tv_nsec + left.count() % kNanosPerSecond;
  deadline.tv_sec += static_cast<time_t>(left.count() / kNanosPerSecond + nanos / kNanosPerSecond);
  deadline.tv_nsec = static_cast<long>(nanos % kNanosPerSecond);
  pthread_cond_timedwait(&cond_, &mutex_, &deadline);
}

void QueuePace::wait_turn() const {
  if (last_end_) std::this_thread::sleep_until(*last_end_ + spacing_);
}
