// The three delivery routines against the stand-in ubus, uci, ps, SNMP agent
// and device-information library, run straight on the test's thread.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "notify/notify.h"
#include "tests/support/sandbox_root.h"
#include "utils/command.h"

namespace {

[[gnu::constructor]] void use_dev_libraries() { sandbox_restart_with_dev_libraries(); }

constexpr char kHost[] = "gw-east";
constexpr char kSerial[] = "ZK2024000123";
constexpr char kContext[] = "[2026-01-02 03:04:05]\r\nport 5 is down";

NotifyData record(const std::string &subject, const std::string &context, int needflag,
                  int notifyflag = 0) {
  NotifyData data{};
  std::snprintf(data.subject, sizeof data.subject, "%s", subject.c_str());
  std::snprintf(data.context, sizeof data.context, "%s", context.c_str());
  data.needflag = needflag;
  data.notifyflag = notifyflag;
  return data;
}

std::string identity() {
  return std::string("receive alarm from [") + kHost + "](sn:" + kSerial + ")\n";
}

std::string putmail_call(const std::string &subject, const std::string &body, int group) {
  return "call zelk_emaild putmail {\"head\":\"" + subject + "\", \"body\":\"" + body +
         "\", \"group\":" + std::to_string(group) + "}";
}

std::string eventtrap_call(const std::string &subject, const std::string &context) {
  return "call zelk_snmp eventtrap {\"head\":\"" + subject + "\",\"body\":\"" + identity() +
         context + "\"}";
}

// What the mail and trap services receive, decoded.
std::vector<std::string> mail_message(const std::string &subject, const std::string &body) {
  return {"zelk_emaild putmail", "head", subject, "body", body, "group", "7"};
}
std::vector<std::string> trap_message(const std::string &subject, const std::string &context) {
  return {"zelk_snmp eventtrap", "head", subject, "body", identity() + context};
}

class ChannelsTest : public testing::Test {
 protected:
  void SetUp() override {
    root_.write("hostname", std::string(kHost) + "\n");
    root_.write("serial", std::string(kSerial) + "\n");
    root_.write("etc/alarm_email_group", "7\n");
    root_.write("etc/alarm_sms_group", "3\n");
  }
  std::vector<std::string> calls() const { return root_.ubus_calls(); }
  SandboxRoot root_;
};

// ---- alarm text ----

TEST_F(ChannelsTest, AlarmTextKinds) {
  char text[512];
  format_alarm_text(text, sizeof text, "Link down", kContext, kNotifyEmail);
  EXPECT_EQ(std::string(text), identity() + kContext);
  format_alarm_text(text, sizeof text, "Link down", kContext, kNotifySms);
  EXPECT_EQ(std::string(text), "Subject: Link down\n" + identity() + kContext);
  format_alarm_text(text, sizeof text, "Link down", kContext, kNotifySnmp);
  EXPECT_EQ(std::string(text), "\"head\":\"Link down\",\"body\":\"" + identity() + kContext + "\"");
}

TEST_F(ChannelsTest, AlarmTextOtherKindLeavesDestination) {
  char text[16] = "untouched";
  for (int kind : {0, 3, 8, -1}) {
    EXPECT_EQ(format_alarm_text(text, sizeof text, "s", "c", kind), 0);
    EXPECT_STREQ(text, "untouched");
  }
}

TEST_F(ChannelsTest, AlarmTextIsCutToTheBuffer) {
  char text[21];
  std::memset(text, 'x', sizeof text);
  format_alarm_text(text, sizeof text, "s", kContext, kNotifyEmail);
  EXPECT_EQ(std::string(text), identity().substr(0, 20));
}

TEST_F(ChannelsTest, HostNameIsTheFirstLineCutTo63) {
  root_.write("hostname", std::string(70, 'h') + "\n");
  EXPECT_EQ(get_hostname(), std::string(63, 'h'));
  root_.write("hostname", "first\nsecond\n");
  EXPECT_EQ(get_hostname(), "first");
  // uci runs but prints nothing: an empty name, not an earlier one.
  std::remove(root_.path("hostname").c_str());
  EXPECT_EQ(get_hostname(), "");
}

TEST_F(ChannelsTest, SerialNumberComesFromTheLibrary) {
  EXPECT_EQ(notify_serial_number(), kSerial);
  std::remove(root_.path("serial").c_str());
  EXPECT_EQ(notify_serial_number(), "");
}

// Run in a copy of this program that was started without the stand-in
// library on the loader's path.
TEST_F(ChannelsTest, MissingLibraryGivesEmptySerialAndDeliveryGoesOn) {
  if (std::getenv("SANDBOX_NO_DEV_LIBRARIES") != nullptr) {
    EXPECT_EQ(notify_serial_number(), "");
    NotifyData data = record("no library", kContext, kNotifyEmail);
    EXPECT_EQ(email_send(&data), 0);
    std::string body = std::string("receive alarm from [") + kHost + "](sn:)\n" + kContext;
    EXPECT_EQ(calls(), std::vector<std::string>{putmail_call("no library", body, 7)});
    return;
  }
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    setenv("SANDBOX_NO_DEV_LIBRARIES", "1", 1);
    setenv("LD_LIBRARY_PATH", "", 1);
    std::string filter =
        "--gtest_filter=ChannelsTest.MissingLibraryGivesEmptySerialAndDeliveryGoesOn";
    execl("/proc/self/exe", "notify_channels_test", filter.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(ChannelsTest, NumbersReadLikeAtoiWithoutOverflow) {
  EXPECT_EQ(notify_atoi("  12 apples"), 12);
  EXPECT_EQ(notify_atoi("-3"), -3);
  EXPECT_EQ(notify_atoi("x7"), 0);
  EXPECT_EQ(notify_atoi(""), 0);
  EXPECT_EQ(notify_atoi(nullptr), 0);
  // A stored notifyflag this large has every channel's bit: the row goes.
  EXPECT_EQ(notify_atoi("99999999999"), INT_MAX);
  EXPECT_EQ(notify_atoi("-99999999999"), INT_MIN);
}

// ---- the stand-in ubus, as strict as the appliance's ----

TEST_F(ChannelsTest, StandInUbusTakesOnlyAJsonObject) {
  const std::pair<std::string, bool> messages[] = {
      {"{\"head\":\"a\\\"b\", \"n\":[1,{\"x\":null}], \"g\":-1.5e3}", true},
      {"{\"raw\":\"line\nfeed\ttab\x01\"}", true},
      {"{\"u\":\"\\u00e9\\ud83d\\ude00\"}", true},
      {"{\"head\":\"a\"b\"}", false},
      {"{\"a\":\"\\x\"}", false},
      {"{\"a\":1,}", false},
      {"[1]", false},
      {"{} x", false},
      {"", false},
  };
  size_t accepted = 0;
  for (const auto &[message, valid] : messages) {
    ChildCapture capture;
    capture.error = true;
    ChildResult run =
        utils_run_child(("ubus call zelk_snmp eventtrap '" + message + "'").c_str(), capture);
    EXPECT_EQ(run.status, valid ? 0 : 255) << message;
    EXPECT_EQ(run.error_line, valid ? "" : "Failed to parse message data") << message;
    accepted += valid;
    EXPECT_EQ(calls().size(), accepted) << message;
    EXPECT_EQ(root_.ubus_messages().size(), accepted) << message;
  }
  EXPECT_EQ(root_.ubus_messages()[2],
            (std::vector<std::string>{"zelk_snmp eventtrap", "u", "\u00e9\U0001F600"}));
}

// ---- e-mail ----

TEST_F(ChannelsTest, EmailCommandIsExact) {
  NotifyData data = record("Link down", kContext, kNotifyEmail);
  EXPECT_EQ(email_send(&data), 0);
  EXPECT_EQ(calls(), std::vector<std::string>{putmail_call("Link down", identity() + kContext, 7)});
}

TEST_F(ChannelsTest, EmailGroupOutOfRangeSendsNothing) {
  const char *groups[] = {"0\n", "101\n", "mail\n", "", "-3\n", "99999999999999999999\n"};
  for (const char *group : groups) {
    root_.write("etc/alarm_email_group", group);
    NotifyData data = record("ignored", kContext, kNotifyEmail);
    EXPECT_EQ(email_send(&data), 0) << group;
  }
  std::remove(root_.path("etc/alarm_email_group").c_str());
  NotifyData data = record("ignored", kContext, kNotifyEmail);
  EXPECT_EQ(email_send(&data), 0);
  EXPECT_TRUE(calls().empty());
}

TEST_F(ChannelsTest, EmailGroupReadsLikeAtoi) {
  root_.write("etc/alarm_email_group", "  100 recipients\nsecond line 5\n");
  NotifyData data = record("bounds", "", kNotifyEmail);
  EXPECT_EQ(email_send(&data), 0);
  root_.write("etc/alarm_email_group", "1");
  EXPECT_EQ(email_send(&data), 0);
  EXPECT_EQ(calls(), (std::vector<std::string>{putmail_call("bounds", identity(), 100),
                                               putmail_call("bounds", identity(), 1)}));
}

TEST_F(ChannelsTest, EmailNotNeededOrDoneSendsNothing) {
  NotifyData data = record("Link down", kContext, kNotifySms | kNotifySnmp);
  testing::internal::CaptureStdout();
  EXPECT_EQ(email_send(&data), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "### event Link down no need to send email ###\n");
  data = record("Link down", kContext, 7, kNotifyEmail);
  EXPECT_EQ(email_send(&data), 0);
  EXPECT_EQ(email_send(nullptr), -1);
  EXPECT_TRUE(calls().empty());
}

TEST_F(ChannelsTest, TextsWithQuotesAndLineFeedsArriveUnchanged) {
  root_.start_snmp_agent();
  std::string subject = "say \"hi\"\nnow \\ \\n";
  std::string context = "[t]\r\nq\" $HOME `id` $(id) \\\" end\t\x01";
  NotifyData data = record(subject, context, kNotifyEmail | kNotifySnmp);
  EXPECT_EQ(email_send(&data), 0);
  EXPECT_EQ(snmp_send(&data), 0);
  EXPECT_EQ(root_.ubus_messages(),
            (std::vector<std::vector<std::string>>{mail_message(subject, identity() + context),
                                                   trap_message(subject, context)}));
}

TEST_F(ChannelsTest, SingleQuotesCannotBreakOutOfTheShellArgument) {
  // The shell runs in the working directory: that is where a file would appear.
  char *previous = getcwd(nullptr, 0);
  ASSERT_NE(previous, nullptr);
  ASSERT_EQ(chdir(root_.dir().c_str()), 0);
  root_.start_snmp_agent();
  // Each text holds its quotes in pairs, so that without protection the
  // whole command would still parse and run what sits between them.
  const std::pair<std::string, std::string> texts[] = {
      {"a'; touch HACKED1; echo '", "[t]\r\nplain"},
      {"ok", "[t]\r\nx' $(touch HACKED2) `touch HACKED3` '"},
      {"q'\"$(touch HACKED4)\"'", "[t]\r\n\\' \"$(touch HACKED5)\"\nnext line ' \\n end"},
  };
  std::vector<std::vector<std::string>> expected;
  for (const auto &[subject, context] : texts) {
    NotifyData data = record(subject, context, kNotifyEmail | kNotifySnmp);
    EXPECT_EQ(email_send(&data), 0);
    EXPECT_EQ(snmp_send(&data), 0);
    expected.push_back(mail_message(subject, identity() + context));
    expected.push_back(trap_message(subject, context));
  }
  EXPECT_EQ(root_.ubus_messages(), expected);
  for (int i = 1; i <= 5; ++i) EXPECT_FALSE(root_.exists("HACKED" + std::to_string(i))) << i;
  EXPECT_EQ(chdir(previous), 0);
  std::free(previous);
}

TEST_F(ChannelsTest, QuotingEscapesOnlyWhatItMust) {
  const std::tuple<const char *, Quoting, const char *> cases[] = {
      {"plain $x `id` \n", Quoting::kJsonInShell, "plain $x `id` \n"},
      {"say \"hi\" \\", Quoting::kJson, "say \\\"hi\\\" \\\\"},
      {"it's \"x\"", Quoting::kJsonInShell, "it'\\''s \\\"x\\\""},
      {"it's", Quoting::kJson, "it's"},
      {"a\"\\'", Quoting::kPlain, "a\"\\'"},
  };
  for (const auto &[text, quoting, quoted] : cases) EXPECT_EQ(notify_quoted(text, quoting), quoted);
}

TEST_F(ChannelsTest, FittingCutsMessageThenSubjectBetweenCharacters) {
  struct Fit {
    std::string message, subject;
    size_t room;
    Quoting quoting;
    std::string fitted_message, fitted_subject;
  };
  const Fit cases[] = {
      {"abc", "de", 5, Quoting::kPlain, "abc", "de"},
      {"abcdef", "de", 5, Quoting::kPlain, "abc", "de"},
      {"a\"b", "s", 3, Quoting::kJson, "a", "s"},
      {"it's", "", 5, Quoting::kJsonInShell, "it", ""},
      {"端口", "", 5, Quoting::kPlain, "端", ""},
      {"x", "端口", 4, Quoting::kPlain, "", "端"},
      // A byte that starts no whole sequence counts as a character of its own.
      {"\xE7"
       "ab",
       "", 2, Quoting::kPlain,
       "\xE7"
       "a",
       ""},
  };
  for (const Fit &c : cases) {
    std::string message = c.message, subject = c.subject;
    notify_fit_texts(&message, &subject, c.room, c.quoting);
    EXPECT_EQ(message, c.fitted_message) << c.message;
    EXPECT_EQ(subject, c.fitted_subject) << c.message;
  }
}

// ---- SMS ----

TEST_F(ChannelsTest, SmsCommandAndFileAreExact) {
  NotifyData data = record("Link down", kContext, kNotifySms);
  EXPECT_EQ(sms_send(&data), 0);
  EXPECT_EQ(calls(), std::vector<std::string>{
                         "call zelk_other sendsms {\"group\":3, \"file\":\"eventsendsms.txt\"}"});
  EXPECT_EQ(root_.sms_files(),
            std::vector<std::string>{"Subject: Link down\n" + identity() + kContext});
  EXPECT_FALSE(root_.exists("tmp/eventsendsms.txt"));
}

TEST_F(ChannelsTest, SmsFileIsCutAt511BetweenCharacters) {
  const std::string header = "Subject: long\n" + identity();
  const size_t room = 511 - header.size();
  ASSERT_NE(room % 3, 0u) << "the cut must meet a character";
  std::string wide;
  while (wide.size() < 500) wide += "端";
  // Context and the file's text. Lone lead bytes are characters of their own.
  const std::pair<std::string, std::string> cases[] = {
      {std::string(511, 'L'), header + std::string(room, 'L')},
      {std::string(480, '\xE5'), header + std::string(room, '\xE5')},
      {wide, header + wide.substr(0, room / 3 * 3)},
  };
  for (const auto &[context, file] : cases) {
    NotifyData data = record("long", context, kNotifySms);
    EXPECT_EQ(sms_send(&data), 0);
    EXPECT_EQ(root_.sms_files().back(), file);
  }
}

TEST_F(ChannelsTest, SmsErrorInTheReplyFailsCaseSensitively) {
  NotifyData data = record("Link down", kContext, kNotifySms);
  root_.write("sendsms.reply", "{\"result\":\"modem error: no carrier\"}\n");
  EXPECT_EQ(sms_send(&data), -1);
  root_.write("sendsms.reply", "Error\n");
  EXPECT_EQ(sms_send(&data), 0);
  root_.write("sendsms.reply", "");
  EXPECT_EQ(sms_send(&data), 0);
  EXPECT_EQ(calls().size(), 3u);
  EXPECT_FALSE(root_.exists("tmp/eventsendsms.txt"));
}

TEST_F(ChannelsTest, SmsWithoutGroupFileIsNotDone) {
  std::remove(root_.path("etc/alarm_sms_group").c_str());
  NotifyData data = record("Link down", kContext, kNotifySms);
  testing::internal::CaptureStdout();
  EXPECT_EQ(sms_send(&data), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "--- event Link down will send sms ---\n--------- send sms ddddd------\n");
  EXPECT_TRUE(calls().empty());
  EXPECT_FALSE(root_.exists("tmp/eventsendsms.txt"));
}

TEST_F(ChannelsTest, SmsInvalidGroupIsDoneWithoutSending) {
  NotifyData data = record("Link down", kContext, kNotifySms);
  for (const char *group : {"0\n", "101\n", "phone\n", ""}) {
    root_.write("etc/alarm_sms_group", group);
    EXPECT_EQ(sms_send(&data), 0) << group;
  }
  EXPECT_TRUE(calls().empty());
  EXPECT_FALSE(root_.exists("tmp/eventsendsms.txt"));
}

TEST_F(ChannelsTest, SmsAlreadySentLeavesTheFileAlone) {
  root_.write("tmp/eventsendsms.txt", "someone else's");
  NotifyData data = record("Link down", kContext, kNotifySms, kNotifySms);
  testing::internal::CaptureStdout();
  EXPECT_EQ(sms_send(&data), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "--- event Link down will send sms ---\n");
  EXPECT_EQ(root_.read("tmp/eventsendsms.txt"), "someone else's");
  data = record("Link down", kContext, kNotifyEmail);
  testing::internal::CaptureStdout();
  EXPECT_EQ(sms_send(&data), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "### event Link down no need to send sms ###\n");
  EXPECT_EQ(sms_send(nullptr), -1);
  EXPECT_TRUE(calls().empty());
}

// ---- SNMP ----

TEST_F(ChannelsTest, SnmpCommandIsExact) {
  root_.start_snmp_agent();
  EXPECT_EQ(snmp_agent_running(), 1);
  NotifyData data = record("Link down", "", kNotifySnmp);
  EXPECT_EQ(snmp_send(&data), 0);
  // An empty context: the body ends in the line feed after the serial number.
  EXPECT_EQ(calls(), std::vector<std::string>{eventtrap_call("Link down", "")});
}

TEST_F(ChannelsTest, SnmpWithoutAgentIsNotDone) {
  EXPECT_EQ(snmp_agent_running(), 0);
  NotifyData data = record("Link down", kContext, kNotifySnmp);
  EXPECT_EQ(snmp_send(&data), -1);
  root_.start_snmp_agent();
  root_.stop_snmp_agent();
  EXPECT_EQ(snmp_send(&data), -1);
  EXPECT_TRUE(calls().empty());
}

TEST_F(ChannelsTest, SnmpNotNeededOrDoneSendsNothing) {
  root_.start_snmp_agent();
  NotifyData data = record("Link down", kContext, kNotifyEmail);
  testing::internal::CaptureStdout();
  EXPECT_EQ(snmp_send(&data), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "### event Link down no need to send snmp ###\n");
  data = record("Link down", kContext, kNotifySnmp, kNotifySnmp);
  testing::internal::CaptureStdout();
  EXPECT_EQ(snmp_send(&data), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "--- event Link down will send snmp ---\n");
  EXPECT_EQ(snmp_send(nullptr), -1);
  EXPECT_TRUE(calls().empty());
}

}  // namespace
