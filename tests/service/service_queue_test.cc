// Event messages and the event queue between the receiver and the main loop.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "service/event_queue.h"

namespace {

TEST(EventMessage, CopiesExactlyTheGivenBytes) {
  EXPECT_EQ(event_message_new("abcdefgh", 0), nullptr);
  EXPECT_EQ(event_message_new("abcdefgh", -1), nullptr);
  EXPECT_EQ(event_message_new(nullptr, 5), nullptr);

  std::string text = "abcdefgh";
  EventMessage *message = event_message_new(text.c_str(), 5);
  ASSERT_NE(message, nullptr);
  text[0] = 'X';  // the message holds its own copy
  EXPECT_EQ(message->length, 5);
  EXPECT_STREQ(message->text, "abcde");
  EXPECT_EQ(message->next, nullptr);
  event_message_free(&message);
  EXPECT_EQ(message, nullptr);
  event_message_free(&message);  // freeing twice is harmless
}

TEST(EventQueue, HandsMessagesOutOldestFirst) {
  EXPECT_EQ(event_queue_take(), nullptr);
  for (const char *text : {"&eventid=1", "&eventid=2", "&eventid=3"}) {
    event_queue_append(event_message_new(text, static_cast<int>(std::string(text).size())));
  }
  event_queue_append(nullptr);  // a failed message is not queued
  for (const char *expected : {"&eventid=1", "&eventid=2"}) {
    EventMessage *message = event_queue_take();
    ASSERT_NE(message, nullptr);
    EXPECT_STREQ(message->text, expected);
    EXPECT_EQ(message->next, nullptr);
    event_message_free(&message);
  }
  // Emptied and refilled, the tail is right again.
  event_queue_append(event_message_new("&eventid=4", 10));
  for (const char *expected : {"&eventid=3", "&eventid=4"}) {
    EventMessage *message = event_queue_take();
    ASSERT_NE(message, nullptr);
    EXPECT_STREQ(message->text, expected);
    event_message_free(&message);
  }
  EXPECT_EQ(event_queue_take(), nullptr);
}

TEST(EventQueue, ProducersAndOneConsumerLoseNothing) {
  constexpr int kProducers = 3;
  constexpr int kEach = 2000;
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([p] {
      for (int i = 0; i < kEach; ++i) {
        std::string text = std::to_string(p) + ":" + std::to_string(i);
        event_queue_append(event_message_new(text.c_str(), static_cast<int>(text.size())));
      }
    });
  }
  std::vector<int> next(kProducers, 0);
  int taken = 0;
  while (taken < kProducers * kEach) {
    EventMessage *message = event_queue_take();
    if (message == nullptr) {
      std::this_thread::yield();
      continue;
    }
    std::string text = message->text;
    int producer = std::stoi(text.substr(0, text.find(':')));
    // Each producer's messages come out in the order it queued them.
    EXPECT_EQ(std::stoi(text.substr(text.find(':') + 1)), next[producer]++);
    event_message_free(&message);
    ++taken;
  }
  for (auto &producer : producers) producer.join();
  EXPECT_EQ(event_queue_take(), nullptr);
}

}  // namespace
