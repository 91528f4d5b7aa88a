// What the notify tests share: a sandbox root holding the appliance's host
// name, serial number, recipient groups and events database, and records.
#ifndef ALERTMILL_TESTS_NOTIFY_NOTIFY_FIXTURE_H_
#define ALERTMILL_TESTS_NOTIFY_NOTIFY_FIXTURE_H_

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "db/db.h"
#include "notify/alarm.h"
#include "notify/email.h"
#include "notify/notify.h"
#include "notify/sms.h"
#include "notify/snmp.h"
#include "tests/support/sandbox_root.h"

constexpr char kContext[] = "[2026-01-02 03:04:05]\r\nport 5 is down";
constexpr char kIdentity[] = "receive alarm from [gw](sn:SN1)\n";
// The appliance's channels' flags, from their catalogue slots.
constexpr int kNotifyEmail = catalogue_flag(0), kNotifySms = catalogue_flag(1),
              kNotifySnmp = catalogue_flag(2);

// Within one process SQLite's locking is all that separates connections, and
// the database layer does not wait on a busy database: a test reading while a
// worker marks a row would make the worker's update fail and lose its bit.
// The registry mutex keeps the workers' bookkeeping and the test's apart.
class RegistryHold {
 public:
  RegistryHold() { notify_method_lock(); }
  ~RegistryHold() { notify_method_unlock(); }
  RegistryHold(const RegistryHold &) = delete;
  RegistryHold &operator=(const RegistryHold &) = delete;
};

inline NotifyData notify_record(const std::string &subject, int needflag, int notifyflag = 0,
                                const std::string &sqlid = "",
                                const std::string &context = kContext) {
  NotifyData data{};
  std::snprintf(data.subject, sizeof data.subject, "%s", subject.c_str());
  std::snprintf(data.context, sizeof data.context, "%s", context.c_str());
  std::snprintf(data.sqlid, sizeof data.sqlid, "%s", sqlid.c_str());
  data.needflag = needflag;
  data.notifyflag = notifyflag;
  return data;
}

class NotifyTest : public testing::Test {
 protected:
  void SetUp() override {
    static const int registered = notify_register_channels();  // once per program, as main does
    ASSERT_EQ(registered, 0);
    root_.write("hostname", "gw\n");
    root_.write("serial", "SN1\n");
    root_.write("etc/alarm_email_group", "7\n");
    root_.write("etc/alarm_sms_group", "3\n");
    RegistryHold hold;
    root_.create_event_tables();
  }
  void add_pending(int id, int notifyflag) const {
    RegistryHold hold;
    EXPECT_EQ(
        root_.exec("insert into eventlogcache values(" + std::to_string(id) + ",4019,'" +
                   std::to_string(notifyflag) + "','&eventid=4019&',datetime('now','localtime'))"),
        0);
  }
  // A value of eventlogcache: pending("notifyflag", 3) the flags of row 3 ("" once the
  // row is gone), pending("count(*)") how many rows are left.
  std::string pending(const std::string &column, int id = 0) const {
    RegistryHold hold;
    return root_.value("select " + column + " from eventlogcache" +
                       (id > 0 ? " where id=" + std::to_string(id) : ""));
  }
  SandboxRoot root_;
};

#endif  // ALERTMILL_TESTS_NOTIFY_NOTIFY_FIXTURE_H_
