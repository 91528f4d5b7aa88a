// What the channels write to the system log, with its level. This program
// defines syslog itself, so the channels' calls land here instead of in the
// C library. <syslog.h> stays out: a fortified build declares syslog there
// as an inline wrapper, which this definition would clash with.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "notify/channel.h"
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

// ---- the commands' bytes ----

constexpr char kIdentity[] = "receive alarm from [gw](sn:)\n";
constexpr char kMailHead[] = "ubus call zelk_emaild putmail '{\"head\":\"";
constexpr char kTrapHead[] = "ubus call zelk_snmp eventtrap '{\"head\":\"";

std::string repeat(const std::string &piece, size_t times) {
  std::string text;
  while (times-- > 0) text += piece;
  return text;
}

// The putmail and eventtrap commands for subject and body, already quoted
// for JSON inside the shell argument.
std::string mail_command(const std::string &head, const std::string &body) {
  return kMailHead + head + "\", \"body\":\"" + body + "\", \"group\":7}'";
}
std::string trap_command(const std::string &head, const std::string &body) {
  return kTrapHead + head + "\",\"body\":\"" + body + "\"}'";
}

// A text of 511 - length(command with an empty body) bytes, the room a body
// has, filled with as many whole pieces as fit.
std::string filling(const std::string &command_without_body, const std::string &piece) {
  return repeat(piece, (511 - command_without_body.size()) / piece.size());
}

// As much of "端口端口..." as fits behind command_without_body in whole
// three-byte characters.
std::string whole_characters(const std::string &command_without_body) {
  size_t room = 511 - command_without_body.size();
  return repeat("端口", room).substr(0, room / 3 * 3);
}

struct CommandCase {
  const char *name;
  std::string subject, context;
  std::string mail, trap;  // the exact commands
};

std::vector<CommandCase> command_cases() {
  const std::string identity = kIdentity;
  const std::string long_context = "[t]\r\n" + std::string(506, 'c');
  const std::string wide_context = "[t]\r\n" + repeat("端口", 85);
  const std::string fixed_context = identity + "[t]\r\n";
  const std::string quotes(200, '\'');
  return {
      {"FitsUnchanged", "Link down", kContext, mail_command("Link down", identity + kContext),
       trap_command("Link down", identity + kContext)},
      {"QuoteAndBackslash", "Port \"WAN\" \\ down", "[t]\r\nsaid \"x\" it's \\",
       mail_command("Port \\\"WAN\\\" \\\\ down", identity + "[t]\r\nsaid \\\"x\\\" it'\\''s \\\\"),
       trap_command("Port \\\"WAN\\\" \\\\ down",
                    identity + "[t]\r\nsaid \\\"x\\\" it'\\''s \\\\")},
      {"ContextOverflows", "cut", long_context,
       mail_command("cut", fixed_context + filling(mail_command("cut", fixed_context), "c")),
       trap_command("cut", fixed_context + filling(trap_command("cut", fixed_context), "c"))},
      {"Utf8ContextOverflows", "端口", wide_context,
       mail_command("端口", fixed_context + whole_characters(mail_command("端口", fixed_context))),
       trap_command("端口", fixed_context + whole_characters(trap_command("端口", fixed_context)))},
      {"QuotedSubjectOverflows", quotes, kContext,
       mail_command(filling(mail_command("", ""), "'\\''"), ""),
       trap_command(filling(trap_command("", ""), "'\\''"), "")},
  };
}

TEST_F(MessagesTest, CommandsFitWholeAndTheServiceReadsThem) {
  root_.start_snmp_agent();
  for (const CommandCase &c : command_cases()) {
    NotifyData data = record(kNotifyEmail | kNotifySnmp);
    std::snprintf(data.subject, sizeof data.subject, "%s", c.subject.c_str());
    std::snprintf(data.context, sizeof data.context, "%s", c.context.c_str());
    std::remove(root_.path("ubus.messages").c_str());
    testing::internal::CaptureStdout();
    EXPECT_EQ(email_send(&data), 0) << c.name;
    EXPECT_EQ(snmp_send(&data), 0) << c.name;
    testing::internal::GetCapturedStdout();
    std::vector<Message> logged = take_messages();
    ASSERT_EQ(logged.size(), 2u) << c.name;
    EXPECT_EQ(logged[0], Message(kSyslogDebug, c.mail)) << c.name;
    EXPECT_EQ(logged[1], Message(kSyslogInfo, c.trap)) << c.name;
    EXPECT_LE(c.mail.size(), 511u);
    EXPECT_LE(c.trap.size(), 511u);
    // Both reached their services: the stand-in parsed them as JSON.
    EXPECT_EQ(root_.ubus_messages().size(), 2u) << c.name;
  }
}

TEST_F(MessagesTest, FailedCommandsAreNotDoneAndSayWhy) {
  root_.start_snmp_agent();
  struct Failure {
    const char *method;
    int (*send)(const NotifyData *);
    int flag;
  };
  for (const Failure &f :
       {Failure{"putmail", email_send, kNotifyEmail}, Failure{"sendsms", sms_send, kNotifySms},
        Failure{"eventtrap", snmp_send, kNotifySnmp}}) {
    NotifyData data = record(f.flag);
    root_.write("ubus.fail", std::string(f.method) + "\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(f.send(&data), -1) << f.method;
    std::vector<Message> logged = take_messages();
    EXPECT_EQ(std::count(logged.begin(), logged.end(),
                         Message(kSyslogErr, std::string(f.method) +
                                                 " failed with exit status 4: Command failed: "
                                                 "Not found")),
              1)
        << f.method;

    // A command that hangs is killed at the limit, and is not done either.
    std::remove(root_.path("ubus.fail").c_str());
    root_.write("ubus.hang", std::string(f.method) + "\n");
    setenv("ALERTMILL_CHILD_TIME_LIMIT", "1", 1);
    EXPECT_EQ(f.send(&data), -1) << f.method;
    unsetenv("ALERTMILL_CHILD_TIME_LIMIT");
    logged = take_messages();
    EXPECT_EQ(std::count_if(logged.begin(), logged.end(),
                            [&](const Message &m) {
                              return m.first == kSyslogErr &&
                                     m.second.rfind("command killed after 1 s: ubus call ", 0) ==
                                         0 &&
                                     m.second.find(f.method) != std::string::npos;
                            }),
              1)
        << f.method;
    std::remove(root_.path("ubus.hang").c_str());
    EXPECT_EQ(f.send(&data), 0) << f.method;
    testing::internal::GetCapturedStdout();
    take_messages();
  }
  EXPECT_EQ(root_.ubus_messages().size(), 3u);
}

TEST_F(MessagesTest, SmsFileNotWrittenIsNotDone) {
  std::remove(root_.path("tmp").c_str());
  NotifyData data = record(kNotifySms);
  testing::internal::CaptureStdout();
  EXPECT_EQ(sms_send(&data), -1);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(take_messages(),
            (std::vector<Message>{{kSyslogErr, "create sms file " + root_.path("tmp") +
                                                   "/eventsendsms.txt fail: No such file or "
                                                   "directory"}}));
  EXPECT_TRUE(root_.ubus_calls().empty());
}

}  // namespace
