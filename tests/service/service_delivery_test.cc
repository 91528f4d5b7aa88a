// The road of an event through the channels, and what survives a crash.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "tests/service/service_harness.h"

namespace {

using harness::alarm_body;
using harness::count_of;
using harness::kLogDebug;
using harness::kLogErr;
using harness::kLogInfo;
using harness::Sandbox;
using harness::send_datagram;
using harness::start_idle;
using harness::wait_for;

constexpr char kStamp[] = "2024-03-05 07:08:09";

TEST(ServiceDelivery, OneRequestThroughAllThreeChannels) {
  Sandbox box;
  box.start_agent();
  start_idle(box);
  std::string row = box.db().add_pending(100, "port=5&state=down", kStamp);

  send_datagram("&eventid=100&sqlid=" + row + "&port=5&state=down");
  ASSERT_TRUE(wait_for([&] { return box.pending_empty(); })) << box.daemon_out();

  std::string body = alarm_body(kStamp, "Port 5 is down");
  auto calls = box.ubus_calls();
  EXPECT_EQ(count_of(calls, harness::putmail_line("Port 5 down", body, 7)), 1);
  EXPECT_EQ(count_of(calls, harness::sendsms_line(3)), 1);
  EXPECT_EQ(count_of(calls, harness::eventtrap_line("Port 5 down", body)), 1);
  EXPECT_EQ(calls.size(), 4u);  // the readiness probe and the three deliveries
  EXPECT_EQ(box.sms_texts(), std::vector<std::string>{"Subject: Port 5 down\\n" + body});
  EXPECT_FALSE(box.has("tmp/eventsendsms.txt"));
  harness::expect_healthy(box);
}

TEST(ServiceDelivery, RequestWithoutRowGetsTheCurrentTime) {
  Sandbox box;
  box.start_daemon();
  send_datagram("&eventid=101&sqlid=&last=x&len=3");
  ASSERT_TRUE(wait_for([&] { return count_of(box.ubus_calls(), "putmail") == 1; }));
  std::string line = box.ubus_calls().back();
  // "[YYYY-MM-DD hh:mm:ss]" of now, not of any row.
  size_t open = line.find("\\n[");
  ASSERT_NE(open, std::string::npos) << line;
  std::string stamp = line.substr(open + 3, 19);
  EXPECT_EQ(line.substr(open + 22, 10), "]\\r\\nlen=3") << line;
  for (size_t i : {4u, 7u}) EXPECT_EQ(stamp[i], '-') << stamp;
  EXPECT_EQ(stamp[10], ' ') << stamp;
  EXPECT_NE(stamp, kStamp);
  harness::expect_healthy(box);
}

TEST(ServiceDelivery, AgentDownKeepsTheRowAndTheNextStartDeliversIt) {
  Sandbox box;
  auto &first = start_idle(box);
  std::string row = box.db().add_pending(100, "port=7&state=flapping", kStamp);
  send_datagram("&eventid=100&sqlid=" + row + "&port=7&state=flapping");

  // E-mail and SMS finish; the trap is held back.
  ASSERT_TRUE(wait_for([&] {
    auto rows = box.db().pending();
    return rows.size() == 1 && rows[0].notifyflag == "3";
  })) << box.daemon_out();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(count_of(box.ubus_calls(), "eventtrap"), 0);
  if (Sandbox::syslog_captured()) {
    EXPECT_EQ(count_of(box.syslog(first, kLogErr), "snmp is not running, store the alarm..."), 1);
  }
  first.kill_now();

  box.start_agent();
  auto &second = box.start_daemon();
  ASSERT_TRUE(wait_for([&] { return box.pending_empty(); })) << box.daemon_out();
  std::string body = alarm_body(kStamp, "Port 7 is flapping");
  auto calls = box.ubus_calls();
  EXPECT_EQ(count_of(calls, harness::eventtrap_line("Port 7 flapping", body)), 1);
  // The channels that had finished skip the replayed request.
  EXPECT_EQ(count_of(calls, "putmail"), 1);
  EXPECT_EQ(count_of(calls, "sendsms"), 1);
  if (Sandbox::syslog_captured()) {
    EXPECT_EQ(box.syslog(second, kLogInfo).front(),
              "&eventid=100&sqlid=" + row + "&notifyflag=3&port=7&state=flapping");
  }
  harness::expect_healthy(box);
}

// Ports whose event reached a channel, from the ubus and SMS logs.
std::map<std::string, std::set<int>> delivered_ports(const Sandbox &box) {
  std::map<std::string, std::set<int>> ports;
  auto scan = [&](const std::vector<std::string> &lines, const std::string &marker,
                  const std::string &channel) {
    for (const std::string &line : lines) {
      if (line.find(marker) == std::string::npos) continue;
      size_t at = line.find("Port ");
      if (at != std::string::npos) ports[channel].insert(std::atoi(line.c_str() + at + 5));
    }
  };
  scan(box.ubus_calls(), "putmail", "email");
  scan(box.sms_texts(), "Subject: ", "sms");
  scan(box.ubus_calls(), "eventtrap", "snmp");
  return ports;
}

TEST(ServiceDelivery, SigkillMidDeliveryLosesNothing) {
  Sandbox box;
  box.start_agent();
  // Enable value 1 while the daemon runs: every event gets its pending row.
  box.write("etc/quagga/events_alarm.conf", "\n");
  box.start_daemon();
  constexpr int kEvents = 12;
  for (int port = 1; port <= kEvents; ++port) {
    auto result = box.eventadd({"100", "port=" + std::to_string(port) + "&state=down"});
    ASSERT_EQ(result.exit.status, 0) << result.out << result.err;
  }
  // Kill while requests are queued, half delivered and being marked.
  ASSERT_TRUE(wait_for([&] { return count_of(box.ubus_calls(), "putmail") >= 3; }));
  box.daemon().signal(SIGKILL);
  harness::Exit exit = box.daemon().wait_exit();
  EXPECT_EQ(exit.status, -SIGKILL);
  auto left = box.db().pending();
  EXPECT_FALSE(left.empty());

  box.start_daemon();
  ASSERT_TRUE(wait_for([&] { return box.pending_empty(); })) << box.daemon_out();
  auto ports = delivered_ports(box);
  for (const char *channel : {"email", "sms", "snmp"}) {
    EXPECT_EQ(ports[channel].size(), static_cast<size_t>(kEvents)) << channel;
  }
  harness::expect_healthy(box);
}

// The stricter stand-in ubus refuses any command that is not whole JSON, so
// every message counted here reached its service.
TEST(ServiceDelivery, QuotesOverflowAndLongRequestsArriveWhole) {
  Sandbox box;
  box.start_agent();
  box.write("etc/quagga/events_alarm.conf", "\n");
  start_idle(box);
  // Quotes and backslashes in the subject; subject and message together
  // overflow every command; a request of 600 bytes, then another at once.
  std::string port = "a\"b\\c" + std::string(100, 'P');
  std::string state(120, 'S');
  std::string first = "port=" + port + "&state=" + state + "&pad=";
  first += std::string(600 - first.size() - 21, 'x');  // 21: "&eventid=100&sqlid=1&"
  ASSERT_EQ(box.eventadd({"100", first}).exit.status, 0);
  ASSERT_EQ(box.eventadd({"100", "port=2&state=up"}).exit.status, 0);
  ASSERT_TRUE(wait_for([&] { return box.pending_empty() && box.sms_texts().size() == 2; }))
      << box.daemon_out();

  const std::string subject = "Port " + port + " " + state;
  const std::string message = "Port " + port + " is " + state;
  const std::string identity = "receive alarm from [gw-test](sn:SN-0042)\n[";
  std::map<std::string, std::vector<std::vector<std::string>>> by_call;
  for (auto &fields : box.ubus_messages()) by_call[fields[0]].push_back(fields);
  for (const char *call : {"zelk_emaild putmail", "zelk_snmp eventtrap"}) {
    const auto &got = by_call[call];
    ASSERT_EQ(got.size(), 2u) << call;
    EXPECT_EQ(got[0][2], subject) << call;
    // The message is shortened from its end; its start is intact.
    const std::string &body = got[0][4];
    ASSERT_EQ(body.rfind(identity, 0), 0u) << body;
    size_t text = body.find("]\r\n") + 3;
    EXPECT_EQ(message.rfind(body.substr(text), 0), 0u) << body;
    EXPECT_LT(body.size() - text, message.size()) << body;
    EXPECT_EQ(got[1][2], "Port 2 up") << call;
    EXPECT_EQ(got[1][4].substr(got[1][4].rfind("]\r\n")), "]\r\nPort 2 is up") << call;
  }
  auto sms = box.sms_texts();
  EXPECT_EQ(sandbox_unescape(sms[0]).rfind("Subject: " + subject + "\n", 0), 0u) << sms[0];
  EXPECT_EQ(sms[1].rfind("Subject: Port 2 up\\n", 0), 0u) << sms[1];
  harness::expect_healthy(box);
}

// A ubus that fails or hangs for one method: that channel's bit stays unset
// while the others deliver, the channel goes on with the next event, and the
// next start delivers what it missed.
struct UbusFault {
  const char *name;
  const char *file;  // ubus.fail or ubus.hang
  const char *method;
  const char *notifyflag;  // the row's value with the other channels done
  const char *logged;      // start of the LOG_ERR line
};

class ServiceUbusFault : public ::testing::TestWithParam<UbusFault> {};

TEST_P(ServiceUbusFault, ChannelNotDoneUntilTheNextStart) {
  const UbusFault &fault = GetParam();
  Sandbox box;
  box.start_agent();
  setenv("ALERTMILL_CHILD_TIME_LIMIT", "5", 1);
  auto &first = start_idle(box);
  unsetenv("ALERTMILL_CHILD_TIME_LIMIT");
  box.write(fault.file, std::string(fault.method) + "\n");
  std::string row = box.db().add_pending(100, "port=8&state=down", kStamp);
  send_datagram("&eventid=100&sqlid=" + row + "&port=8&state=down");
  ASSERT_TRUE(wait_for([&] {
    auto rows = box.db().pending();
    return rows.size() == 1 && rows[0].notifyflag == fault.notifyflag;
  })) << box.daemon_out();
  if (Sandbox::syslog_captured()) {
    ASSERT_TRUE(wait_for([&] { return count_of(box.syslog(first, kLogErr), fault.logged) == 1; }));
  }

  std::remove(box.path(fault.file).c_str());
  std::string next = box.db().add_pending(100, "port=9&state=up", kStamp);
  send_datagram("&eventid=100&sqlid=" + next + "&port=9&state=up");
  ASSERT_TRUE(wait_for([&] { return box.db().pending().size() == 1; })) << box.daemon_out();
  EXPECT_EQ(box.db().pending()[0].id, row);
  first.kill_now();

  box.start_daemon();
  ASSERT_TRUE(wait_for([&] { return box.pending_empty(); })) << box.daemon_out();
  int delivered = 0;
  for (auto &fields : box.ubus_messages())
    delivered += fields[0].find(fault.method) != std::string::npos;
  EXPECT_EQ(delivered, 2);
  harness::expect_healthy(box);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ServiceUbusFault,
    ::testing::Values(UbusFault{"EventtrapFails", "ubus.fail", "eventtrap", "3",
                                "eventtrap failed with exit status 4: Command failed: Not found"},
                      UbusFault{"PutmailHangs", "ubus.hang", "putmail", "6",
                                "command killed after 5 s: ubus call zelk_emaild putmail"}),
    [](const ::testing::TestParamInfo<UbusFault> &info) { return info.param.name; });

// The SMS file on a full disk is not sent, and the SMS stays pending.
TEST(ServiceDelivery, FullDiskKeepsTheSmsPending) {
  if (!harness::isolation().namespaces) {
    GTEST_SKIP() << "needs root for a small tmpfs in a private mount namespace";
  }
  Sandbox box;
  std::string tmp = box.path("tmp");
  ASSERT_EQ(mount("tmpfs", tmp.c_str(), "tmpfs", 0, "size=4k"), 0) << strerror(errno);
  struct Unmount {
    std::string path;
    ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
  } unmount{tmp};
  box.write("tmp/.reboot_flag", "");
  box.write("tmp/filler", std::string(1 << 16, 'f'));  // cut short where the disk is full
  box.start_agent();
  auto &daemon = start_idle(box);
  std::string row = box.db().add_pending(100, "port=4&state=down", kStamp);
  send_datagram("&eventid=100&sqlid=" + row + "&port=4&state=down");
  ASSERT_TRUE(wait_for([&] {
    auto rows = box.db().pending();
    return rows.size() == 1 && rows[0].notifyflag == "5";
  })) << box.daemon_out();
  EXPECT_TRUE(box.sms_texts().empty());
  if (Sandbox::syslog_captured()) {
    EXPECT_TRUE(wait_for([&] {
      return count_of(
                 box.syslog(daemon, kLogErr),
                 "write sms file " + tmp + "/eventsendsms.txt fail: No space left on device") == 1;
    }));
  }
  harness::expect_healthy(box);
}

}  // namespace
