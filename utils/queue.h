// A locked first-in first-out queue of nodes linked through their own next
// field, whose consumer sleeps until there is work, and the pace at which a
// consumer takes it. The queue owns a node from push until pop hands it back.
#ifndef ALERTMILL_UTILS_QUEUE_H_
#define ALERTMILL_UTILS_QUEUE_H_

#include <pthread.h>

#include <chrono>
#include <optional>

using SteadyTime = std::chrono::steady_clock::time_point;

// The wake-up of a queue's consumer: a mutex and a condition variable that
// waits on the monotonic clock. std::condition_variable waits on the wall
// clock where the C library lacks pthread_cond_clockwait (musl), so a clock
// set back would stretch a timed wait by as much.
class QueueWake {
 public:
  QueueWake();
  // Nothing is destroyed: a worker may still be waiting when the process
  // exits, and glibc's pthread_cond_destroy would then wait for it for ever.
  // Neither object holds anything beyond its own bytes.
  ~QueueWake() = default;
  QueueWake(const QueueWake &) = delete;
  QueueWake &operator=(const QueueWake &) = delete;

  void lock() { pthread_mutex_lock(&mutex_); }
  void unlock() { pthread_mutex_unlock(&mutex_); }
  // With the mutex held: wakes the waiter.
  void signal() { pthread_cond_signal(&cond_); }
  // With the mutex held: sleeps until signalled or until passes (never
  // without until). May return early; the caller tests its condition again.
  void wait(const std::optional<SteadyTime> &until);

 private:
  pthread_mutex_t mutex_ = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t cond_;
};

// Node is any record with a `Node *next` field. The mutex guards head and
// tail only and is held for a few pointer updates, never while anything else
// is locked (see the lock order in notify/registry.h). One consumer.
template <typename Node>
class LockedFifo {
 public:
  LockedFifo() = default;
  LockedFifo(const LockedFifo &) = delete;
  LockedFifo &operator=(const LockedFifo &) = delete;

  // Appends node at the tail and wakes the consumer; a null node is not
  // queued. No length limit.
  void push(Node *node) {
    if (node == nullptr) return;
    Hold hold(&wake_);
    if (head_ == nullptr) {
      head_ = node;
    } else {
      tail_->next = node;
    }
    tail_ = node;
    wake_.signal();
  }

  // Unlinks the oldest node; null when the queue is empty.
  Node *pop() {
    Hold hold(&wake_);
    Node *node = head_;
    if (node == nullptr) return nullptr;
    head_ = node->next;
    node->next = nullptr;
    if (tail_ == node) tail_ = nullptr;
    return node;
  }

  bool empty() {
    Hold hold(&wake_);
    return head_ == nullptr;
  }

  // Sleeps until a node is queued or, when until is given, that moment has
  // passed. True when a node is queued.
  bool wait(const std::optional<SteadyTime> &until = std::nullopt) {
    Hold hold(&wake_);
    while (head_ == nullptr && (!until || std::chrono::steady_clock::now() < *until)) {
      wake_.wait(until);
    }
    return head_ != nullptr;
  }

 private:
  class Hold {
   public:
    explicit Hold(QueueWake *wake) : wake_(wake) { wake_->lock(); }
    ~Hold() { wake_->unlock(); }
    Hold(const Hold &) = delete;
    Hold &operator=(const Hold &) = delete;

   private:
    QueueWake *wake_;
  };

  QueueWake wake_;
  Node *head_ = nullptr;
  Node *tail_ = nullptr;
};

// A consumer's pace as a minimum spacing: a turn starts no sooner than
// spacing after the previous one ended, which paces a flood exactly as a
// sleep after every turn would, while an idle consumer does not wake.
class QueuePace {
 public:
  explicit QueuePace(std::chrono::milliseconds spacing) : spacing_(spacing) {}

  // Sleeps for what is left of the spacing since the last turn ended.
  void wait_turn() const;
  void turn_done() { last_end_ = std::chrono::steady_clock::now(); }

 private:
  std::chrono::milliseconds spacing_;
  std::optional<SteadyTime> last_end_;
};

#endif  // ALERTMILL_UTILS_QUEUE_H_
