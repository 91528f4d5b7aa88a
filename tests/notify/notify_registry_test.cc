// Registry behaviour with the real channels registered: dispatch order,
// refusals before start, start with a channel that has no start operation.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "notify/notify.h"
#include "tests/support/notify_pending_db.h"
#include "tests/support/sandbox_root.h"

namespace {

struct Submission {
  int slot;
  const NotifyData *data;
};
std::vector<Submission> submissions;

template <int kSlot>
int recording_submit(const NotifyData *data) {
  submissions.push_back({kSlot, data});
  return -1;
}

NotifyData record(const char *subject, int needflag, const std::string &sqlid) {
  NotifyData data{};
  std::snprintf(data.subject, sizeof data.subject, "%s", subject);
  std::snprintf(data.sqlid, sizeof data.sqlid, "%s", sqlid.c_str());
  data.needflag = needflag;
  return data;
}

// The tests run in this order in one process: the channels can be started
// only once.
TEST(NotifyRegistryTest, DispatchBeforeStartIsRefusedByEveryChannel) {
  NotifyData data = record("early", 7, "");
  EXPECT_EQ(email_submit(&data), -1);
  EXPECT_EQ(sms_submit(&data), -1);
  EXPECT_EQ(snmp_submit(&data), -1);
  EXPECT_EQ(email_submit(nullptr), -1);
  EXPECT_EQ(notify_method_dispatch(&data), 0);
}

TEST(NotifyRegistryTest, DispatchHandsTheSameRecordToEverySlotInOrder) {
  NotifyMethod saved[3];
  std::memcpy(saved, notify_method_table, sizeof saved);
  notify_method_table[0].submit = recording_submit<0>;
  notify_method_table[1].submit = nullptr;  // skipped
  notify_method_table[2].submit = recording_submit<2>;

  submissions.clear();
  NotifyData data = record("order", 7, "");
  EXPECT_EQ(notify_method_dispatch(&data), 0);
  std::memcpy(notify_method_table, saved, sizeof saved);

  ASSERT_EQ(submissions.size(), 2u);
  EXPECT_EQ(submissions[0].slot, 0);
  EXPECT_EQ(submissions[1].slot, 2);
  EXPECT_EQ(submissions[0].data, &data);
  EXPECT_EQ(submissions[1].data, &data);
}

TEST(NotifyRegistryTest, RegisterRefusesBeyondTheTable) {
  NotifyMethod none{};
  std::snprintf(none.name, sizeof none.name, "SPARE");
  none.flag = 0;
  int before = notifymethodcounts;
  int accepted = 0;
  for (int i = 0; i < 2 * kNotifyMethodSlots; ++i) accepted += notify_method_register(&none) == 0;
  EXPECT_EQ(accepted, kNotifyMethodSlots - before);
  EXPECT_EQ(notifymethodcounts, kNotifyMethodSlots);
  EXPECT_EQ(notify_method_register(nullptr), -1);
  // Back to the three channels for the start below.
  std::memset(&notify_method_table[3], 0, sizeof(NotifyMethod) * (kNotifyMethodSlots - 3));
  notifymethodcounts = 3;
}

TEST(NotifyRegistryTest, StartWithoutOneWorkerStillAddsItsFlag) {
  SandboxRoot root;
  notify_create_pending_table();
  root.write("etc/alarm_email_group", "0\n");  // nothing to send
  root.write("etc/alarm_sms_group", "0\n");

  NotifyMethod extra{};
  std::snprintf(extra.name, sizeof extra.name, "EXTRA");
  extra.flag = 8;
  ASSERT_EQ(notify_method_register(&extra), 0);
  notify_method_table[2].start = nullptr;  // SNMP: no worker

  testing::internal::CaptureStdout();
  EXPECT_EQ(notify_method_start_all(), 0);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.rfind("notifymethodcounts 4\n", 0), 0u) << out;
  EXPECT_EQ(notify_enabled_mask, 15);

  // E-mail and SMS accept and finish the event; SNMP, without worker,
  // refuses it, so its bit never arrives.
  std::string id = notify_insert_pending("4019", 0);
  NotifyData data = record("partial", 7, id);
  EXPECT_EQ(email_submit(&data), 0);
  EXPECT_EQ(sms_submit(&data), 0);
  EXPECT_EQ(snmp_submit(&data), -1);
  EXPECT_EQ(notify_method_dispatch(&data), 0);
  EXPECT_TRUE(sandbox_wait_until([&] { return notify_pending_flag(id) == "3"; }));
  // A second record after the first, per channel: once it is done, the first
  // one is too; its row must still hold 3.
  std::string later = notify_insert_pending("4019", 0);
  data = record("later", 0, later);
  notify_method_dispatch(&data);
  EXPECT_TRUE(sandbox_wait_until([&] { return notify_pending_flag(later) == "3"; }));
  EXPECT_EQ(notify_pending_flag(id), "3");
  EXPECT_TRUE(root.ubus_calls().empty());
}

}  // namespace
