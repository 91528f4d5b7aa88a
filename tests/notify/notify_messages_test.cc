// What the channels write to the system log, with its level. This program
// defines syslog itself, so the channels' calls land here instead of in the
// C library. <syslog.h> stays out: a fortified build declares syslog there
// as an inline wrapper, which this definition would clash with.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "notify/notify.h"
#include "tests/support/sandbox_root.h"

namespace {

using Message = std::pair<int, std::string>;

constexpr int kSyslogErr = 3;
constexpr int kSyslogInfo = 6;
constexpr int kSyslogDebug = 7;

std::mutex messages_mutex;
std::vector<Message> messages;

__attribute__((format(printf, 2, 0))) void record_message(int priority, const char *format,
                                                          va_list arguments) {
  char text[1024];
  std::vsnprintf(text, sizeof text, format, arguments);
  std::lock_guard<std::mutex> hold(messages_mutex);
  messages.emplace_back(priority, text);
}

// Everything logged since the last call.
std::vector<Message> take_messages() {
  std::lock_guard<std::mutex> hold(messages_mutex);
  std::vector<Message> taken;
  taken.swap(messages);
  return taken;
}

}  // namespace

extern "C" void syslog(int priority, const char *format, ...) __attribute__((format(printf, 2, 3)));
extern "C" void __syslog_chk(int priority, int flag, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

extern "C" void syslog(int priority, const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  record_message(priority, format, arguments);
  va_end(arguments);
}

// The name a fortified build calls instead.
extern "C" void __syslog_chk(int priority, int, const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  record_message(priority, format, arguments);
  va_end(arguments);
}

namespace {

constexpr char kNoRecord[] = "notifydata is null,so we can't send notify.\n";
constexpr char kContext[] = "[2026-01-02 03:04:05]\r\nport 5 is down";

NotifyData record(int needflag, int notifyflag = 0) {
  NotifyData data{};
  std::snprintf(data.subject, sizeof data.subject, "Link down");
  std::snprintf(data.context, sizeof data.context, "%s", kContext);
  data.needflag = needflag;
  data.notifyflag = notifyflag;
  return data;
}

// The text of the one message logged since the last take, which must have
// this level.
std::string single_message(int level) {
  std::vector<Message> logged = take_messages();
  EXPECT_EQ(logged.size(), 1u);
  if (logged.empty()) return {};
  EXPECT_EQ(logged[0].first, level);
  return logged[0].second;
}

class MessagesTest : public testing::Test {
 protected:
  void SetUp() override {
    root_.write("hostname", "gw\n");
    root_.write("etc/alarm_email_group", "7\n");
    root_.write("etc/alarm_sms_group", "3\n");
    take_messages();
  }
  SandboxRoot root_;
};

TEST_F(MessagesTest, NoRecordIsAnError) {
  EXPECT_EQ(email_send(nullptr), -1);
  EXPECT_EQ(sms_send(nullptr), -1);
  EXPECT_EQ(snmp_send(nullptr), -1);
  EXPECT_EQ(take_messages(),
            (std::vector<Message>{
                {kSyslogErr, kNoRecord}, {kSyslogErr, kNoRecord}, {kSyslogErr, kNoRecord}}));
}

TEST_F(MessagesTest, SubmitWithoutWorkerIsAnError) {
  ChannelQueue queue(kNotifyEmail, email_send);
  NotifyData data = record(kNotifyEmail);
  EXPECT_EQ(channel_submit(&queue, &data), -1);
  EXPECT_EQ(email_submit(nullptr), -1);
  const Message refused{kSyslogErr, "param is null or handle business thead create fail.\n"};
  EXPECT_EQ(take_messages(), (std::vector<Message>{refused, refused}));
}

TEST_F(MessagesTest, EmailLogsItsCommandForDebugging) {
  NotifyData data = record(kNotifyEmail);
  EXPECT_EQ(email_send(&data), 0);
  std::string command = single_message(kSyslogDebug);
  EXPECT_EQ(command.rfind("ubus call zelk_emaild putmail '{\"head\":\"Link down\", ", 0), 0u)
      << command;
}

TEST_F(MessagesTest, EmailAlreadySentIsAnErrorAndNotNeededIsSilent) {
  NotifyData data = record(kNotifyEmail, kNotifyEmail);
  EXPECT_EQ(email_send(&data), 0);
  EXPECT_EQ(take_messages(),
            (std::vector<Message>{{kSyslogErr, "the email of event has send ..\n"}}));
  data = record(kNotifySms);
  testing::internal::CaptureStdout();
  EXPECT_EQ(email_send(&data), 0);
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(take_messages().empty());
}

TEST_F(MessagesTest, SmsLogsTheSendingThenTheFailure) {
  NotifyData data = record(kNotifySms);
  testing::internal::CaptureStdout();
  EXPECT_EQ(sms_send(&data), 0);
  EXPECT_EQ(take_messages(), (std::vector<Message>{{kSyslogInfo, "sending event sms.."}}));
  root_.write("sendsms.reply", "error\n");
  EXPECT_EQ(sms_send(&data), -1);
  EXPECT_EQ(take_messages(), (std::vector<Message>{{kSyslogInfo, "sending event sms.."},
                                                   {kSyslogErr, "send event sms failed"}}));
  // Without a group nothing is sent, and nothing is logged.
  std::remove(root_.path("etc/alarm_sms_group").c_str());
  EXPECT_EQ(sms_send(&data), -1);
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(take_messages().empty());
}

TEST_F(MessagesTest, SnmpLogsTheMissingAgentOrTheCommand) {
  NotifyData data = record(kNotifySnmp);
  testing::internal::CaptureStdout();
  EXPECT_EQ(snmp_send(&data), -1);
  EXPECT_EQ(take_messages(),
            (std::vector<Message>{{kSyslogErr, "snmp is not running, store the alarm..."}}));
  root_.start_snmp_agent();
  EXPECT_EQ(snmp_send(&data), 0);
  std::string out = testing::internal::GetCapturedStdout();
  std::string command = single_message(kSyslogInfo);
  EXPECT_EQ(command.rfind("ubus call zelk_snmp eventtrap '{\"head\":\"Link down\",", 0), 0u)
      << command;
  // The same command, as a line of its own on standard output.
  EXPECT_NE(out.find("\n" + command + "\n"), std::string::npos) << out;
}

}  // namespace
