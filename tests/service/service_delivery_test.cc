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

}  // namespace
