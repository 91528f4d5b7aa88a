// The shared queue-and-worker machinery on private channels with scripted
// deliveries, against a real pending-events table.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "notify/channel.h"
#include "notify/notify.h"
#include "tests/support/notify_pending_db.h"
#include "tests/support/sandbox_root.h"

namespace {

std::mutex delivered_mutex;
std::vector<std::string> delivered;  // subjects, in delivery order
std::atomic<int> delivery_result{0};

int recording_delivery(const NotifyData *data) {
  std::lock_guard<std::mutex> hold(delivered_mutex);
  delivered.push_back(data->subject);
  return delivery_result.load();
}

int done_delivery(const NotifyData *) { return 0; }

std::vector<std::string> delivered_subjects() {
  std::lock_guard<std::mutex> hold(delivered_mutex);
  return delivered;
}

NotifyData record(const std::string &subject, const std::string &sqlid = "") {
  NotifyData data{};
  std::snprintf(data.subject, sizeof data.subject, "%s", subject.c_str());
  std::snprintf(data.sqlid, sizeof data.sqlid, "%s", sqlid.c_str());
  data.needflag = 7;
  return data;
}

// A queue whose worker counts as running, so that submit accepts, while the
// test itself runs the passes.
void pretend_started(ChannelQueue *queue) { queue->worker = pthread_self(); }

class ChannelQueueTest : public testing::Test {
 protected:
  void SetUp() override {
    notify_create_pending_table();
    notify_enabled_mask = 7;
    delivery_result = 0;
    std::lock_guard<std::mutex> hold(delivered_mutex);
    delivered.clear();
  }
  SandboxRoot root_;
};

TEST_F(ChannelQueueTest, SubmitRefusesWithoutWorkerOrRecord) {
  ChannelQueue queue(kNotifyEmail, recording_delivery);
  NotifyData data = record("refused");
  EXPECT_EQ(channel_submit(&queue, &data), -1);
  pretend_started(&queue);
  EXPECT_EQ(channel_submit(&queue, nullptr), -1);
  EXPECT_FALSE(channel_work_once(&queue));
  EXPECT_TRUE(delivered_subjects().empty());
}

TEST_F(ChannelQueueTest, SubmitQueuesACopyAndDeliversInSubmissionOrder) {
  ChannelQueue queue(kNotifySms, recording_delivery);
  pretend_started(&queue);
  NotifyData data{};
  for (int i = 0; i < 10; ++i) {
    data = record("event " + std::to_string(i));
    ASSERT_EQ(channel_submit(&queue, &data), 0);
  }
  // The caller's record is its own again as soon as submit returns.
  std::memset(&data, 'x', sizeof data);
  while (channel_work_once(&queue)) {
  }
  std::vector<std::string> expected;
  for (int i = 0; i < 10; ++i) expected.push_back("event " + std::to_string(i));
  EXPECT_EQ(delivered_subjects(), expected);
  EXPECT_TRUE(queue.fifo.empty());
}

TEST_F(ChannelQueueTest, UnterminatedTextsAreCutInsideTheirFields) {
  ChannelQueue queue(kNotifySms, recording_delivery);
  pretend_started(&queue);
  NotifyData data;
  std::memset(&data, 'x', sizeof data);
  ASSERT_EQ(channel_submit(&queue, &data), 0);
  ASSERT_TRUE(channel_work_once(&queue));
  EXPECT_EQ(delivered_subjects(), std::vector<std::string>{std::string(255, 'x')});
}

TEST_F(ChannelQueueTest, RowCollectsBitsAndGoesInAnyCompletionOrder) {
  ChannelQueue email(kNotifyEmail, done_delivery);
  ChannelQueue sms(kNotifySms, done_delivery);
  ChannelQueue snmp(kNotifySnmp, done_delivery);
  std::vector<ChannelQueue *> order = {&email, &sms, &snmp};
  for (ChannelQueue *queue : order) pretend_started(queue);
  std::sort(order.begin(), order.end());
  do {
    std::string id = notify_insert_pending("4019", 0);
    NotifyData data = record("bits", id);
    for (ChannelQueue *queue : order) ASSERT_EQ(channel_submit(queue, &data), 0);
    uint32_t collected = 0;
    for (size_t done = 0; done < order.size(); ++done) {
      ASSERT_TRUE(channel_work_once(order[done]));
      collected |= order[done]->flag;
      if (done + 1 < order.size()) {
        EXPECT_EQ(notify_pending_flag(id), std::to_string(collected));
      } else {
        EXPECT_EQ(notify_pending_flag(id), std::nullopt) << "the last channel deletes the row";
      }
    }
  } while (std::next_permutation(order.begin(), order.end()));
}

TEST_F(ChannelQueueTest, UnfinishedDeliveryLeavesTheRowAsItWas) {
  ChannelQueue queue(kNotifySnmp, recording_delivery);
  pretend_started(&queue);
  std::string id = notify_insert_pending("4019", 3);
  NotifyData data = record("not done", id);
  delivery_result = -1;
  ASSERT_EQ(channel_submit(&queue, &data), 0);
  ASSERT_TRUE(channel_work_once(&queue));
  EXPECT_EQ(notify_pending_flag(id), "3");
  // Done at a later try: 3 | 4 reaches the mask.
  delivery_result = 0;
  ASSERT_EQ(channel_submit(&queue, &data), 0);
  ASSERT_TRUE(channel_work_once(&queue));
  EXPECT_EQ(notify_pending_flag(id), std::nullopt);
}

TEST_F(ChannelQueueTest, BitAlreadyStoredIsWrittenAgain) {
  ChannelQueue queue(kNotifySms, done_delivery);
  pretend_started(&queue);
  std::string id = notify_insert_pending("4019", 2);
  NotifyData data = record("again", id);
  ASSERT_EQ(channel_submit(&queue, &data), 0);
  ASSERT_TRUE(channel_work_once(&queue));
  EXPECT_EQ(notify_pending_flag(id), "2");
}

TEST_F(ChannelQueueTest, SqlidNamingNoRowChangesNothing) {
  ChannelQueue queue(kNotifyEmail, recording_delivery);
  pretend_started(&queue);
  std::string other = notify_insert_pending("4019", 2);
  for (std::string sqlid : {"", "999", "1 or 1=1", "abc"}) {
    NotifyData data = record("orphan " + sqlid, sqlid);
    ASSERT_EQ(channel_submit(&queue, &data), 0);
    ASSERT_TRUE(channel_work_once(&queue));
  }
  EXPECT_EQ(delivered_subjects().size(), 4u);
  EXPECT_EQ(notify_pending_flag(other), "2");
  EXPECT_EQ(notify_pending_count(), 1);
}

TEST_F(ChannelQueueTest, MissingDatabaseIsNoObstacleToDelivery) {
  std::remove(root_.path("etc/events.sqlite3").c_str());
  ChannelQueue queue(kNotifyEmail, recording_delivery);
  pretend_started(&queue);
  NotifyData data = record("no database", "1");
  ASSERT_EQ(channel_submit(&queue, &data), 0);
  ASSERT_TRUE(channel_work_once(&queue));
  EXPECT_EQ(delivered_subjects(), std::vector<std::string>{"no database"});
}

// Three channels finishing the same events at the same time must not lose a
// bit: every row ends deleted.
TEST_F(ChannelQueueTest, ConcurrentCompletionsLoseNoBit) {
  constexpr int kEvents = 60;
  ChannelQueue email(kNotifyEmail, done_delivery);
  ChannelQueue sms(kNotifySms, done_delivery);
  ChannelQueue snmp(kNotifySnmp, done_delivery);
  ChannelQueue *queues[] = {&email, &sms, &snmp};
  for (ChannelQueue *queue : queues) pretend_started(queue);
  for (int i = 0; i < kEvents; ++i) {
    NotifyData data = record("race", notify_insert_pending("4019", 0));
    for (ChannelQueue *queue : queues) ASSERT_EQ(channel_submit(queue, &data), 0);
  }
  std::vector<std::thread> workers;
  for (ChannelQueue *queue : queues) {
    workers.emplace_back([queue] {
      while (channel_work_once(queue)) {
      }
    });
  }
  for (std::thread &worker : workers) worker.join();
  EXPECT_EQ(notify_pending_count(), 0);
}

ChannelQueue threaded_queue(kNotifySnmp, recording_delivery);
void *threaded_worker(void *) { channel_work_forever(&threaded_queue); }

TEST_F(ChannelQueueTest, StartedWorkerDeliversInOrder) {
  // Not done, so the worker never opens a database: it outlives this test,
  // and bookkeeping after the sandbox root is gone would reach the system's
  // own paths.
  delivery_result = -1;
  NotifyData data = record("before start");
  EXPECT_EQ(channel_submit(&threaded_queue, &data), -1);
  channel_start(&threaded_queue, threaded_worker);
  ASSERT_NE(threaded_queue.worker, pthread_t{});
  std::vector<std::string> expected;
  for (int i = 0; i < 5; ++i) {
    expected.push_back("threaded " + std::to_string(i));
    data = record(expected.back());
    ASSERT_EQ(channel_submit(&threaded_queue, &data), 0);
  }
  EXPECT_TRUE(sandbox_wait_until([] { return delivered_subjects().size() == 5; }));
  EXPECT_EQ(delivered_subjects(), expected);
}

}  // namespace
