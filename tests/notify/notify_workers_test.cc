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

[[gnu::constructor]] void use_dev_libraries() { sandbox_restart_with_dev_libraries(); }

std::vector<std::string> delivered;  // subjects, in delivery order
int delivery_result = 0;

int recording_delivery(const NotifyData *data) {
  delivered.emplace_back(data->subject);
  return delivery_result;
}

// A queue whose worker counts as running, so that submit accepts.
struct TestQueue : ChannelQueue {
  explicit TestQueue(uint32_t flag) : ChannelQueue(flag, recording_delivery) {
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
  }
};

TEST_F(WorkersTest, ChannelsAreRegisteredBeforeMainAndRefuseBeforeTheirStart) {
  ASSERT_EQ(notifymethodcounts, 3);
  const std::pair<const char *, uint32_t> table[] = {{"EMAIL", 1}, {"SMS", 2}, {"SNMP", 4}};
  for (int slot = 0; slot < 3; ++slot) {
    EXPECT_STREQ(notify_method_table[slot].name, table[slot].first);
    EXPECT_EQ(notify_method_table[slot].flag, table[slot].second);
  }
  NotifyData data = notify_record("early", 7);
  for (auto submit : {email_submit, sms_submit, snmp_submit}) EXPECT_EQ(submit(&data), -1);
  TestQueue queue(kNotifyEmail);
  EXPECT_EQ(channel_submit(&queue, nullptr), -1);
  EXPECT_FALSE(channel_work_once(&queue));
}

TEST_F(WorkersTest, NeedflagReadsEachChannelsOwnColumn) {
  const struct {
    const char *email, *sms, *snmp;
    int needflag;
  } cases[] = {{"", "", "", 0},
               {"no", "yes", "", kNotifySms},
               {"1", "", "no", kNotifyEmail},
               {"", "", "on", kNotifySnmp},
               {"yes", "1", "on", 7}};
  for (const auto &c : cases) {
    EventListRow definition{};
    std::snprintf(definition.emailnotify, sizeof definition.emailnotify, "%s", c.email);
    std::snprintf(definition.smsnotify, sizeof definition.smsnotify, "%s", c.sms);
    std::snprintf(definition.snmpnotify, sizeof definition.snmpnotify, "%s", c.snmp);
    EXPECT_EQ(notify_needflag(definition), c.needflag) << c.email << "/" << c.sms << "/" << c.snmp;
  }
}

TEST_F(WorkersTest, QueueDeliversCopiesInOrderWithinTheirFields) {
  TestQueue queue(kNotifySms);
  NotifyData data;
  std::memset(&data, 'x', sizeof data);  // no text terminated
  ASSERT_EQ(channel_submit(&queue, &data), 0);
  for (const char *subject : {"first", "second"}) {
    data = notify_record(subject, 7);
    ASSERT_EQ(channel_submit(&queue, &data), 0);
  }
  std::memset(&data, 'y', sizeof data);  // the caller's record is its own again
  while (channel_work_once(&queue)) {
  }
  EXPECT_EQ(delivered, (std::vector<std::string>{std::string(255, 'x'), "first", "second"}));
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
      for (int result : {-1, 0}) {
        delivery_result = result;
        ASSERT_EQ(channel_submit(queue, &data), 0);
        ASSERT_TRUE(channel_work_once(queue));
        if (result == 0) collected |= queue->flag;
        EXPECT_EQ(pending("notifyflag", id), collected == 7 ? "" : std::to_string(collected));
      }
    }
  } while (std::next_permutation(order.begin(), order.end()));
  // Records naming no row change nothing.
  add_pending(100, 2);
  for (const char *sqlid : {"", "999", "1 or 1=1"}) {
    NotifyData data = notify_record("orphan", 7, 0, sqlid);
    ASSERT_EQ(channel_submit(&email, &data), 0);
    ASSERT_TRUE(channel_work_once(&email));
  }
  EXPECT_EQ(pending("count(*)"), "1");
  EXPECT_EQ(pending("notifyflag", 100), "2");
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
  for (const auto &message : root_.ubus_messages()) {
    heads[message[0]].push_back(message.size() > 2 && message[1] == "head" ? message[2] : "");
  }
  for (const std::string &file : root_.sms_files()) {
    heads["sms file"].push_back(file.substr(9, file.find('\n') - 9));  // after "Subject: "
  }
  EXPECT_EQ(heads["zelk_emaild putmail"], subjects);
  EXPECT_EQ(heads["zelk_snmp eventtrap"], subjects);
  EXPECT_EQ(heads["sms file"], subjects);
  EXPECT_EQ(heads["zelk_other sendsms"].size(), 10u);
}

}  // namespace
