// The registry, the queue-and-worker machinery and the pending rows: private
// queues with scripted deliveries whose passes the test runs itself, then the
// three real channels with their worker threads, started as the daemon does.
#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include "notify/channel.h"
#include "tests/notify/notify_fixture.h"

namespace {

std::vector<std::string> delivered;  // subjects, in delivery order
int delivery_result = 0;

int recording_delivery(const NotifyData *data) {
  delivered.emplace_back(data->subject);
  return delivery_result;
}

// A queue whose worker counts as running, so that submit accepts.
struct TestQueue : ChannelQueue {
  explicit TestQueue(int channel_flag) : ChannelQueue(recording_delivery) {
    flag = static_cast<uint32_t>(channel_flag);
    worker = pthread_self();
  }
};

class WorkersTest : public NotifyTest {
 protected:
  void SetUp() override {
    NotifyTest::SetUp();
    delivered.clear();
    delivery_result = 0;
    notify_enabled_mask = 7;
    setenv("ALERTMILL_RETRY_DIVISOR", "100000", 1);  // retries in a millisecond
  }
};

// Before the start: the table's channels in its order, refusing every record;
// a queue hands out copies in order, their texts cut within their fields.
TEST_F(WorkersTest, RegisteredChannelsAndQueues) {
  std::string table;
  for (int slot = 0; slot < notifymethodcounts; ++slot) {
    table += notify_method_table[slot].name + std::to_string(notify_method_table[slot].flag) + " ";
  }
  EXPECT_EQ(table, "EMAIL1 SMS2 SNMP4 ");
  NotifyData data = notify_record("early", 7);
  for (auto submit : {email_submit, sms_submit, snmp_submit}) EXPECT_EQ(submit(&data), -1);
  TestQueue queue(kNotifySms);
  EXPECT_EQ(channel_submit(&queue, nullptr), -1);
  std::memset(&data, 'x', sizeof data);  // no text terminated
  ASSERT_EQ(channel_submit(&queue, &data), 0);
  data = notify_record("second", 7);
  ASSERT_EQ(channel_submit(&queue, &data), 0);
  std::memset(&data, 'y', sizeof data);  // the caller's record is its own again
  while (channel_work_once(&queue)) {
  }
  EXPECT_EQ(delivered, (std::vector<std::string>{std::string(255, 'x'), "second"}));
}

// Each channel done with an event ORs its bit into the row and the last one
// deletes it, in whatever order they finish; one not done leaves it alone.
TEST_F(WorkersTest, PendingRowCollectsTheBitsAndGoesWithTheLast) {
  TestQueue email(kNotifyEmail), sms(kNotifySms), snmp(kNotifySnmp);
  std::vector<TestQueue *> order = {&email, &sms, &snmp};
  std::sort(order.begin(), order.end());
  int id = 0;
  do {
    add_pending(++id, 0);
    NotifyData data = notify_record("bits", 7, 0, std::to_string(id));
    uint32_t collected = 0;
    for (TestQueue *queue : order) {
      // A failure leaves the row alone and holds it: the same record is not
      // queued again, and its retry marks the row.
      delivery_result = -1;
      for (int copy = 0; copy < 2; ++copy) ASSERT_EQ(channel_submit(queue, &data), 0);
      ASSERT_TRUE(channel_work_once(queue));
      EXPECT_EQ(pending("notifyflag", id), std::to_string(collected));
      delivery_result = 0;
      ASSERT_TRUE(sandbox_wait_until([&] { return channel_work_once(queue); }));
      EXPECT_FALSE(channel_work_once(queue));
      collected |= queue->flag;
      EXPECT_EQ(pending("notifyflag", id), collected == 7 ? "" : std::to_string(collected));
    }
  } while (std::next_permutation(order.begin(), order.end()));
  add_pending(100, 2);  // records naming no row change nothing
  for (const char *sqlid : {"", "999", "1 or 1=1"}) {
    NotifyData data = notify_record("orphan", 7, 0, sqlid);
    ASSERT_EQ(channel_submit(&email, &data), 0);
    ASSERT_TRUE(channel_work_once(&email));
  }
  EXPECT_EQ(pending("group_concat(id || ':' || notifyflag)"), "100:2");
}

// Last in this program: the workers outlive the test that starts them.
TEST_F(WorkersTest, TenEventsThroughTheStartedChannelsLoseNothing) {
  notify_enabled_mask = 0;
  testing::internal::CaptureStdout();
  notify_method_start_all();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "notifymethodcounts 3\n");
  EXPECT_EQ(notify_enabled_mask, 7);
  root_.start_snmp_agent();
  std::vector<std::string> subjects;
  for (int id = 1; id <= 10; ++id) {
    subjects.push_back("event-" + std::to_string(id));
    add_pending(id, 0);
    NotifyData data = notify_record(subjects.back(), 7, 0, std::to_string(id));
    ASSERT_EQ(notify_method_dispatch(&data), 0);
  }
  // The last bit deletes a row: then every worker is done with the database.
  EXPECT_TRUE(sandbox_wait_until([&] { return pending("count(*)") == "0"; }));
  std::map<std::string, std::vector<std::string>> heads;  // per service, in call order
  for (const auto &m : root_.ubus_messages()) heads[m[0]].push_back(m[1] == "head" ? m[2] : "");
  for (const std::string &file : root_.sms_files())  // "Subject: <subject>\n..."
    heads["sms file"].push_back(file.substr(9, file.find('\n') - 9));
  EXPECT_EQ(heads["zelk_emaild putmail"], subjects);
  EXPECT_EQ(heads["zelk_snmp eventtrap"], subjects);
  EXPECT_EQ(heads["sms file"], subjects);
  EXPECT_EQ(heads["zelk_other sendsms"].size(), 10u);
}

}  // namespace
