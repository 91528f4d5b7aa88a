// The three delivery routines on the test's thread against the stand-ins, and
// what they log: this program defines syslog, so the channels' calls land here.
// <syslog.h> stays out: a fortified build declares syslog there as an inline
// wrapper, which this definition would clash with.
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <regex>
#include <utility>
#include <vector>

#include "tests/notify/notify_fixture.h"

namespace {

using Message = std::pair<int, std::string>;
constexpr int kErr = 3, kWarning = 4, kInfo = 6, kDebug = 7;
std::vector<Message> logged;

__attribute__((format(printf, 2, 0))) void log_message(int priority, const char *format,
                                                       va_list arguments) {
  char text[1024];
  std::vsnprintf(text, sizeof text, format, arguments);
  logged.emplace_back(priority, text);
}

// Everything logged since the last call.
std::vector<Message> take_logged() { return std::exchange(logged, {}); }

}  // namespace

extern "C" void syslog(int priority, const char *format, ...) __attribute__((format(printf, 2, 3)));
extern "C" void __syslog_chk(int priority, int flag, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

extern "C" void syslog(int priority, const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  log_message(priority, format, arguments);
  va_end(arguments);
}

// The name a fortified build calls instead.
extern "C" void __syslog_chk(int priority, int, const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  log_message(priority, format, arguments);
  va_end(arguments);
}

namespace {

struct Channel {
  const char *method;  // its ubus method
  int (*send)(const NotifyData *data);
  int flag;
  const char *word;
  int done_result;             // for a record that says it has delivered already
  const char *before, *after;  // its alarm text around identity and context
};

const Channel kChannels[] = {
    {"putmail", email_send, kNotifyEmail, "email", 0, "", ""},
    {"sendsms", sms_send, kNotifySms, "sms", -1, "Subject: Link down\n", ""},
    {"eventtrap", snmp_send, kNotifySnmp, "snmp", -1, "\"head\":\"Link down\",\"body\":\"", "\""},
};

bool has(const std::vector<Message> &log, int level, const std::string &start) {
  return std::any_of(log.begin(), log.end(), [&](const Message &m) {
    return m.first == level && m.second.rfind(start, 0) == 0;
  });
}

using ChannelsTest = NotifyTest;

TEST_F(ChannelsTest, EachChannelKeepsToItsBitsAndFailsVisibly) {
  root_.start_snmp_agent();
  for (const Channel &c : kChannels) {
    SCOPED_TRACE(c.word);
    std::remove(root_.path("ubus.messages").c_str());
    char text[512];
    format_alarm_text(text, sizeof text, "Link down", kContext, c.flag);
    EXPECT_EQ(text, c.before + std::string(kIdentity) + kContext + c.after);
    NotifyData data = notify_record("Link down", 7 & ~c.flag);
    testing::internal::CaptureStdout();
    EXPECT_EQ(c.send(&data), 0);  // not enabled: done, without a word to the service
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "### event Link down no need to send " + std::string(c.word) + " ###\n");
    data = notify_record("Link down", 7, c.flag);
    EXPECT_EQ(c.send(&data), c.done_result);
    EXPECT_EQ(c.send(nullptr), -1);
    EXPECT_TRUE(root_.ubus_messages().empty());
    // A call the service refuses is not done, and the log says why.
    root_.write("ubus.fail", std::string(c.method) + "\n");
    data.notifyflag = 0;
    take_logged();
    EXPECT_EQ(c.send(&data), -1);
    EXPECT_TRUE(
        has(take_logged(), kErr,
            c.method + std::string(" failed with exit status 4: Command failed: Not found")));
    std::remove(root_.path("ubus.fail").c_str());
    EXPECT_EQ(c.send(&data), 0);
    EXPECT_EQ(root_.ubus_messages().size(), 1u);
  }
}

TEST_F(ChannelsTest, HungOrImpossibleDeliveriesAreNotDone) {
  NotifyData data = notify_record("Link down", 7);
  take_logged();
  EXPECT_EQ(snmp_send(&data), -1);
  EXPECT_TRUE(has(take_logged(), kErr, "snmp is not running, store the alarm..."));
  // Without ps the check has no answer, and says so.
  const std::string path = std::getenv("PATH");
  EXPECT_EQ(symlink("/bin/grep", root_.path("grep").c_str()), 0);
  setenv("PATH", root_.dir().c_str(), 1);
  EXPECT_EQ(snmp_send(&data), -1);
  setenv("PATH", path.c_str(), 1);
  EXPECT_TRUE(has(take_logged(), kErr,
                  "snmp agent check failed (ps | grep snmp-mib | grep -v grep: /bin/sh: "));
  // Warned of once after 10 s, killed at the limit.
  root_.write("ubus.hang", "putmail\n");
  setenv("ALERTMILL_CHILD_TIME_LIMIT", "11", 1);
  EXPECT_EQ(email_send(&data), -1);
  unsetenv("ALERTMILL_CHILD_TIME_LIMIT");
  const std::vector<Message> log = take_logged();
  const std::regex warning("^command still running after 1[01] s: ubus call zelk_emaild putmail ");
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [&](const Message &m) {
                            return m.first == kWarning && std::regex_search(m.second, warning);
                          }),
            1);
  EXPECT_TRUE(has(log, kErr, "command killed after 11 s: ubus call zelk_emaild putmail"));
  std::remove(root_.path("tmp").c_str());
  EXPECT_EQ(sms_send(&data), -1);
  EXPECT_TRUE(has(take_logged(), kErr,
                  "create sms file " + root_.path("tmp/eventsendsms.txt") +
                      " fail: No such file or directory"));
  EXPECT_TRUE(root_.ubus_messages().empty());
}

// The group is the number on the file's first line as atoi reads it (a value
// beyond int clamps rather than wrapping round to a valid group); outside
// 1..100, or without the file, nothing is mailed and the mail is done.
TEST_F(ChannelsTest, EmailGoesToTheGroupOfItsFile) {
  const std::pair<const char *, const char *> cases[] = {
      {"1", "1"},           {"0\n", ""},   {"101\n", ""},
      {"mail\n", ""},       {"", ""},      {"-3\n", ""},
      {"4294967297\n", ""}, {nullptr, ""}, {" 100 recipients\n5\n", "100"}};
  NotifyData data = notify_record("to the group", kNotifyEmail);
  for (const auto &[file, group] : cases) {
    SCOPED_TRACE(file != nullptr ? file : "no file");
    if (file != nullptr) root_.write("etc/alarm_email_group", file);
    if (file == nullptr) std::remove(root_.path("etc/alarm_email_group").c_str());
    std::remove(root_.path("ubus.messages").c_str());
    EXPECT_EQ(email_send(&data), 0);
    auto messages = root_.ubus_messages();
    EXPECT_EQ(messages.empty() ? "" : messages[0].back(), group);
  }
}

// The service gets the file's bare name; an "error" in its reply (lower case
// only) fails. An invalid group sends nothing and is done; no group file is not.
TEST_F(ChannelsTest, SmsSendsItsFileToTheGroupAndReadsTheReply) {
  NotifyData data = notify_record("Link down", kNotifySms);
  EXPECT_EQ(sms_send(&data), 0);
  EXPECT_EQ(root_.ubus_calls(), std::vector<std::string>{"call zelk_other sendsms {\"group\":3, "
                                                         "\"file\":\"eventsendsms.txt\"}"});
  EXPECT_EQ(root_.sms_files(),
            std::vector<std::string>{"Subject: Link down\n" + std::string(kIdentity) + kContext});
  const struct {
    const char *reply, *group;
    int result;
  } cases[] = {{"Error\n", "3\n", 0},
               {"", "0\n", 0},
               {"", "101\n", 0},
               {"", nullptr, -1},
               {"{\"result\":\"modem error\"}\n", "3\n", -1}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.reply + std::string(c.group != nullptr ? c.group : "no group file"));
    root_.write("sendsms.reply", c.reply);
    if (c.group != nullptr) root_.write("etc/alarm_sms_group", c.group);
    if (c.group == nullptr) std::remove(root_.path("etc/alarm_sms_group").c_str());
    EXPECT_EQ(sms_send(&data), c.result);
    EXPECT_FALSE(root_.exists("tmp/eventsendsms.txt"));
  }
  EXPECT_EQ(root_.ubus_calls().size(), 3u);  // none for an invalid group or without one
}

// The commands' exact bytes: JSON inside a single-quoted shell argument.
std::string mail(const std::string &head, const std::string &body) {
  return "ubus call zelk_emaild putmail '{\"head\":\"" + head + "\", \"body\":\"" + body +
         "\", \"group\":7}'";
}
std::string trap(const std::string &head, const std::string &body) {
  return "ubus call zelk_snmp eventtrap '{\"head\":\"" + head + "\",\"body\":\"" + body + "\"}'";
}

// As many whole pieces as fit behind command within 511 bytes.
std::string filling(const std::string &command, const std::string &piece) {
  std::string text;
  while (command.size() + text.size() + piece.size() <= 511) text += piece;
  return text;
}

TEST_F(ChannelsTest, CommandsAreExactAndCutToFitBetweenCharacters) {
  root_.start_snmp_agent();
  const std::string id = kIdentity, fixed = id + "[t]\r\n", quotes(200, '\'');
  const struct {
    std::string subject, context, mail, trap;
  } cases[] = {
      {"Link down", kContext, mail("Link down", id + kContext), trap("Link down", id + kContext)},
      {"Port \"WAN\" \\ down", "[t]\r\nsaid \"x\" it's \\",
       mail("Port \\\"WAN\\\" \\\\ down", id + "[t]\r\nsaid \\\"x\\\" it'\\''s \\\\"),
       trap("Port \\\"WAN\\\" \\\\ down", id + "[t]\r\nsaid \\\"x\\\" it'\\''s \\\\")},
      {"cut", "[t]\r\n" + std::string(506, 'c'),
       mail("cut", fixed + filling(mail("cut", fixed), "c")),
       trap("cut", fixed + filling(trap("cut", fixed), "c"))},
      // 3-byte characters with 2 bytes of room after the last whole one.
      {"端口 5", "[t]\r\n" + filling("", "端"),
       mail("端口 5", fixed + filling(mail("端口 5", fixed), "端")),
       trap("端口 5", fixed + filling(trap("端口 5", fixed), "端"))},
      {quotes, kContext, mail(filling(mail("", ""), "'\\''"), ""),
       trap(filling(trap("", ""), "'\\''"), "")},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.mail);
    NotifyData data = notify_record(c.subject, 7, 0, "", c.context);
    std::remove(root_.path("ubus.messages").c_str());
    take_logged();
    EXPECT_EQ(email_send(&data), 0);
    EXPECT_EQ(snmp_send(&data), 0);
    EXPECT_EQ(take_logged(), (std::vector<Message>{{kDebug, c.mail}, {kInfo, c.trap}}));
    // Both reached their services: the stand-in parsed them as JSON.
    EXPECT_EQ(root_.ubus_messages().size(), 2u);
  }
}

}  // namespace
