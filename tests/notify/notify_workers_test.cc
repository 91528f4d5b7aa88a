// The three real channels with their worker threads, started once for the
// whole program as the daemon does, delivering through the stand-ins and
// keeping the pending rows of a real database.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "notify/notify.h"
#include "tests/support/notify_pending_db.h"
#include "tests/support/sandbox_root.h"

namespace {

[[gnu::constructor]] void use_dev_libraries() { sandbox_restart_with_dev_libraries(); }

NotifyData record(const std::string &subject, const std::string &sqlid, int needflag,
                  int notifyflag = 0) {
  NotifyData data{};
  std::snprintf(data.subject, sizeof data.subject, "%s", subject.c_str());
  std::snprintf(data.context, sizeof data.context, "[2026-01-02 03:04:05]\r\n%s body",
                subject.c_str());
  std::snprintf(data.sqlid, sizeof data.sqlid, "%s", sqlid.c_str());
  data.needflag = needflag;
  data.notifyflag = notifyflag;
  return data;
}

// The subjects each ubus method was called with, in call order.
std::map<std::string, std::vector<std::string>> subjects_by_method(
    const std::vector<std::string> &calls, const std::vector<std::string> &sms_files) {
  std::map<std::string, std::vector<std::string>> by_method;
  for (const std::string &call : calls) {
    std::string method = call.substr(0, call.find(' ', 5));  // "call <object>"
    size_t head = call.find("\"head\":\"");
    if (head == std::string::npos) continue;
    head += 8;
    by_method[method].push_back(call.substr(head, call.find('"', head) - head));
  }
  for (const std::string &file : sms_files) {
    size_t end = file.find('\n');
    by_method["sms file"].push_back(file.substr(9, end - 9));  // after "Subject: "
  }
  return by_method;
}

class WorkersTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    testing::internal::CaptureStdout();
    notify_method_start_all();
    start_output_ = new std::string(testing::internal::GetCapturedStdout());
  }
  static void TearDownTestSuite() {
    delete start_output_;
    start_output_ = nullptr;
  }
  void SetUp() override {
    notify_create_pending_table();
    root_.write("hostname", "gw\n");
    root_.write("serial", "SN1\n");
    root_.write("etc/alarm_email_group", "2\n");
    root_.write("etc/alarm_sms_group", "4\n");
  }
  // The workers outlive every test. A record still queued, or a worker still
  // busy with one, when the sandbox root changes would deliver into the next
  // test's root and mark that test's rows (ids start at 1 in every root); with
  // no root at all it would open the system's own paths.
  void TearDown() override { wait_for_quiet_channels(); }
  // Every channel has handled every record submitted before this call: a
  // marker event enabling no channel goes through each queue after them.
  void wait_for_quiet_channels() {
    std::string marker = notify_insert_pending("0", 0);
    NotifyData data = record("marker", marker, 0);
    notify_method_dispatch(&data);
    ASSERT_TRUE(sandbox_wait_until([&] { return !notify_pending_flag(marker).has_value(); }));
  }

  static std::string *start_output_;
  SandboxRoot root_;
};
std::string *WorkersTest::start_output_ = nullptr;

TEST_F(WorkersTest, StartRunsAllThreeChannels) {
  EXPECT_EQ(*start_output_, "notifymethodcounts 3\n");
  EXPECT_EQ(notify_enabled_mask, 7);
}

TEST_F(WorkersTest, HundredEventsThroughAllChannelsLoseNothing) {
  constexpr int kEvents = 100;
  root_.start_snmp_agent();
  std::vector<std::string> subjects;
  for (int i = 0; i < kEvents; ++i) {
    subjects.push_back("event-" + std::to_string(i));
    NotifyData data = record(subjects.back(), notify_insert_pending("4019", 0), 7);
    ASSERT_EQ(notify_method_dispatch(&data), 0);
  }
  ASSERT_TRUE(
      sandbox_wait_until([] { return notify_pending_count() == 0; }, std::chrono::seconds(300)))
      << notify_pending_count() << " rows left";

  auto by_method = subjects_by_method(root_.ubus_calls(), root_.sms_files());
  EXPECT_EQ(by_method["call zelk_emaild"], subjects);
  EXPECT_EQ(by_method["call zelk_snmp"], subjects);
  EXPECT_EQ(by_method["sms file"], subjects);
  std::vector<std::string> calls = root_.ubus_calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(),
                       "call zelk_other sendsms {\"group\":4, \"file\":\"eventsendsms.txt\"}"),
            kEvents);
}

TEST_F(WorkersTest, RowWaitsForTheAgentAndGoesOnReplay) {
  std::string id = notify_insert_pending("4019", 0);
  NotifyData data = record("agent down", id, 7);
  notify_method_dispatch(&data);
  wait_for_quiet_channels();
  EXPECT_EQ(notify_pending_flag(id), "3");
  auto by_method = subjects_by_method(root_.ubus_calls(), root_.sms_files());
  EXPECT_EQ(by_method.count("call zelk_snmp"), 0u);

  // Offered again, as the replay does, with the bits already collected: only
  // the trap goes out, and its bit completes the row.
  root_.start_snmp_agent();
  data = record("agent down", id, 7, 3);
  notify_method_dispatch(&data);
  ASSERT_TRUE(sandbox_wait_until([&] { return !notify_pending_flag(id).has_value(); }));
  by_method = subjects_by_method(root_.ubus_calls(), root_.sms_files());
  EXPECT_EQ(by_method["call zelk_emaild"], std::vector<std::string>{"agent down"});
  EXPECT_EQ(by_method["sms file"], std::vector<std::string>{"agent down"});
  EXPECT_EQ(by_method["call zelk_snmp"], std::vector<std::string>{"agent down"});
}

TEST_F(WorkersTest, ChannelsTheEventDoesNotUseMarkTheirBitsToo) {
  std::string id = notify_insert_pending("4019", 0);
  NotifyData data = record("mail only", id, kNotifyEmail);
  notify_method_dispatch(&data);
  ASSERT_TRUE(sandbox_wait_until([&] { return !notify_pending_flag(id).has_value(); }));
  auto by_method = subjects_by_method(root_.ubus_calls(), root_.sms_files());
  EXPECT_EQ(by_method["call zelk_emaild"], std::vector<std::string>{"mail only"});
  EXPECT_EQ(by_method.size(), 1u);
}

TEST_F(WorkersTest, EventWithoutRowIsDeliveredAndNothingIsWritten) {
  root_.start_snmp_agent();
  std::string other = notify_insert_pending("4019", 1);
  for (const char *sqlid : {"", "424242"}) {
    NotifyData data = record(std::string("orphan ") + sqlid, sqlid, 7);
    notify_method_dispatch(&data);
  }
  wait_for_quiet_channels();
  auto by_method = subjects_by_method(root_.ubus_calls(), root_.sms_files());
  EXPECT_EQ(by_method["call zelk_emaild"].size(), 2u);
  EXPECT_EQ(by_method["call zelk_snmp"].size(), 2u);
  EXPECT_EQ(by_method["sms file"].size(), 2u);
  EXPECT_EQ(notify_pending_flag(other), "1");
  EXPECT_EQ(notify_pending_count(), 1);
}

TEST_F(WorkersTest, FailedSmsKeepsItsBitOpen) {
  root_.start_snmp_agent();
  root_.write("sendsms.reply", "error: modem busy\n");
  std::string id = notify_insert_pending("4019", 0);
  NotifyData data = record("sms fails", id, 7);
  notify_method_dispatch(&data);
  wait_for_quiet_channels();
  EXPECT_EQ(notify_pending_flag(id), "5");
}

}  // namespace
