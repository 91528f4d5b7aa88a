// A locked first-in first-out queue of nodes linked through their own next
// field. The queue owns a node from push until pop hands it back.
#ifndef ALERTMILL_UTILS_QUEUE_H_
#define ALERTMILL_UTILS_QUEUE_H_

#include <mutex>

// Node is any record with a `Node *next` field. The mutex guards head and
// tail only and is held for a few pointer updates, never while anything else
// is locked (see the lock order in notify/registry.h).
template <typename Node>
class LockedFifo {
 public:
  constexpr LockedFifo() = default;
  LockedFifo(const LockedFifo &) = delete;
  LockedFifo &operator=(const LockedFifo &) = delete;

  // Appends node at the tail; a null node is not queued. No length limit.
  void push(Node *node) {
    if (node == nullptr) return;
    std::lock_guard<std::mutex> hold(mutex_);
    if (head_ == nullptr) {
      head_ = node;
    } else {
      tail_->next = node;
    }
    tail_ = node;
  }

  // Unlinks the oldest node; null when the queue is empty.
  Node *pop() {
    std::lock_guard<std::mutex> hold(mutex_);
    Node *node = head_;
    if (node == nullptr) return nullptr;
    head_ = node->next;
    node->next = nullptr;
    if (tail_ == node) tail_ = nullptr;
    return node;
  }

  bool empty() {
    std::lock_guard<std::mutex> hold(mutex_);
    return head_ == nullptr;
  }

 private:
  std::mutex mutex_;
  Node *head_ = nullptr;
  Node *tail_ = nullptr;
};

#endif  // ALERTMILL_UTILS_QUEUE_H_
