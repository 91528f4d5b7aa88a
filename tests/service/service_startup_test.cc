// The daemon's start-up: start markers and start events, a second instance,
// the order of queued requests.
#include <gtest/gtest.h>

#include "tests/service/service_harness.h"

namespace {

using harness::count_of;
using harness::kLogDebug;
using harness::kLogErr;
using harness::kLogInfo;
using harness::Sandbox;
using harness::wait_for;

// Putmail lines whose subject is the given one.
int mails_with_subject(const Sandbox &box, const std::string &subject) {
  return count_of(box.ubus_calls(), "putmail {\"head\":\"" + subject + "\"");
}

TEST(ServiceStartup, StartMarkersAcrossRestarts) {
  Sandbox box;
  // Pending rows are written for start events (switch present, no alarm
  // line, service running: enable value 1).
  box.write("etc/quagga/events_alarm.conf", "# managed elsewhere\n");
  std::remove(box.path("tmp/.reboot_flag").c_str());
  box.write("etc/.reboot_flag", "");
  box.start_agent();

  // After a marked reboot: 4020, the /etc marker gone, the /tmp one untouched.
  auto &first = box.start_daemon();
  ASSERT_TRUE(wait_for([&] { return mails_with_subject(box, "Device rebooted") >= 1; }))
      << box.daemon_out();
  EXPECT_NE(box.daemon_out().find("= eventadd 4020  =\n"), std::string::npos);
  EXPECT_FALSE(box.has("etc/.reboot_flag"));
  EXPECT_FALSE(box.has("tmp/.reboot_flag"));
  EXPECT_EQ(count_of(box.daemon_out(), "= eventadd 4019"), 0);
  ASSERT_TRUE(wait_for([&] { return box.pending_empty(); }));
  first.kill_now();

  // Neither marker: the service's first start since boot raises 4019 and
  // leaves an empty /tmp marker.
  box.start_daemon();
  ASSERT_TRUE(wait_for([&] { return mails_with_subject(box, "Service started") >= 1; }))
      << box.daemon_out();
  EXPECT_NE(box.daemon_out().find("= eventadd 4019  =\n"), std::string::npos);
  EXPECT_TRUE(box.has("tmp/.reboot_flag"));
  EXPECT_EQ(box.read("tmp/.reboot_flag"), "");
  ASSERT_TRUE(wait_for([&] { return box.pending_empty(); }));
  box.daemon().kill_now();

  // A restart within the same boot raises nothing. The replay's "no last
  // event" line comes after the start-event step.
  auto &third = box.start_daemon();
  ASSERT_TRUE(wait_for([&] { return count_of(box.daemon_out(), "no last event") == 1; }))
      << box.daemon_out();
  EXPECT_EQ(count_of(box.daemon_out(), "= eventadd"), 0);
  EXPECT_TRUE(third.running());
  // The start events wrote their event-log lines.
  auto logged = box.db().query("select eventid, type, loginfo from eventlog order by id");
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_EQ(logged[0], (std::vector<std::string>{"4020", "system", ""}));
  EXPECT_EQ(logged[1], (std::vector<std::string>{"4019", "system", ""}));
}

TEST(ServiceStartup, StartEventWithoutSwitchFileWritesNothing) {
  Sandbox box;
  std::remove(box.path("tmp/.reboot_flag").c_str());
  box.start_daemon();
  ASSERT_TRUE(wait_for([&] { return count_of(box.daemon_out(), "no last event") == 1; }))
      << box.daemon_out();
  EXPECT_NE(box.daemon_out().find("= eventadd 4019  =\nalertmill enable 0\n"), std::string::npos);
  EXPECT_TRUE(box.has("tmp/.reboot_flag"));
  EXPECT_TRUE(box.pending_empty());
  EXPECT_TRUE(box.db().query("select * from eventlog").empty());
  EXPECT_NE(box.daemon_err().find("no cloudclient running\n"), std::string::npos);
  // The readiness probe is the first ubus call of every start.
  ASSERT_FALSE(box.ubus_calls().empty());
  EXPECT_EQ(box.ubus_calls()[0], "call zelk_system get {\"base\":\"general\"}");
}

TEST(ServiceStartup, WaitsUntilTheSystemServiceAnswers) {
  Sandbox box;
  // A hung probe is killed at the time limit, and the next one follows.
  box.write("ubus.hang", "get\n");
  std::remove(box.path("tmp/.reboot_flag").c_str());
  setenv("ALERTMILL_CHILD_TIME_LIMIT", "2", 1);
  auto &daemon = box.start_daemon();
  unsetenv("ALERTMILL_CHILD_TIME_LIMIT");
  const std::string probe = "call zelk_system get {\"base\":\"general\"}";
  ASSERT_TRUE(wait_for([&] { return count_of(box.ubus_calls(), probe) >= 2; }));
  if (Sandbox::syslog_captured()) {
    EXPECT_GE(count_of(box.syslog(daemon, kLogErr),
                       "command killed after 2 s: ubus call zelk_system get"),
              1);
  }
  // The ubus object is not there yet: the probe prints nothing, so the
  // daemon keeps probing and raises nothing.
  box.write("ubus.zelk_system", "");
  std::remove(box.path("ubus.hang").c_str());
  ASSERT_TRUE(wait_for([&] { return count_of(box.ubus_calls(), probe) >= 5; }));
  EXPECT_EQ(count_of(box.daemon_out(), "= eventadd"), 0);
  EXPECT_FALSE(box.has("tmp/.reboot_flag"));

  // A multi-line reply: the brace on its first line counts as an answer,
  // the later "ssh" line as ready; the daemon then settles and goes on.
  box.write("ubus.zelk_system", "{\n\t\"remote\": \"ssh\"\n}\n");
  ASSERT_TRUE(wait_for([&] { return count_of(box.daemon_out(), "= eventadd 4019") == 1; }))
      << box.daemon_out();
  int probes = count_of(box.ubus_calls(), probe);
  ASSERT_TRUE(wait_for([&] { return count_of(box.daemon_out(), "no last event") == 1; }));
  EXPECT_EQ(count_of(box.ubus_calls(), probe), probes);
  harness::expect_healthy(box);
}

TEST(ServiceStartup, SecondInstanceIsRefused) {
  Sandbox box;
  auto &first = box.start_daemon();
  ASSERT_TRUE(wait_for([&] { return count_of(box.daemon_out(0), "notifymethodcounts 3\n") == 1; }));

  auto &second = box.start_daemon(false);
  harness::Exit exit = second.wait_exit();
  ASSERT_TRUE(exit.exited);
  EXPECT_EQ(exit.status, 255);
  EXPECT_EQ(count_of(box.daemon_out(1), "notifymethodcounts"), 0);
  if (harness::isolation().namespaces) {
    ASSERT_TRUE(Sandbox::syslog_captured());
  }
  if (Sandbox::syslog_captured()) {
    ASSERT_TRUE(wait_for([&] { return box.syslog(second, kLogErr).size() >= 2; }));
    EXPECT_EQ(box.syslog(second, kLogErr),
              (std::vector<std::string>{"udp bind fail.", "udp open fail."}));
  }
  EXPECT_TRUE(first.running());
}

TEST(ServiceStartup, QueuedRequestsAreProcessedOldestFirst) {
  Sandbox box;
  box.start_daemon();
  // Sent before the daemon has finished starting: they wait in the socket
  // and the queue, and are handled in order.
  for (int port = 1; port <= 10; ++port) {
    harness::send_datagram("&eventid=100&port=" + std::to_string(port) + "&state=up");
  }
  // The stand-in records the call before the message it received.
  ASSERT_TRUE(wait_for([&] { return harness::mail_subjects(box).size() == 10; }))
      << box.daemon_out();
  std::vector<std::string> subjects = harness::mail_subjects(box);
  ASSERT_EQ(subjects.size(), 10u);
  for (int port = 1; port <= 10; ++port) {
    EXPECT_EQ(subjects[port - 1], "Port " + std::to_string(port) + " up");
  }
  harness::expect_healthy(box);
}

}  // namespace
