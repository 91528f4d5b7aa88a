// The daemon end to end: build/bin/alertmill in a fresh sandbox root, fed
// with datagrams and pending rows, watched through what reaches the services.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <regex>

#include "tests/support/sandbox_root.h"

namespace {

using Strings = std::vector<std::string>;
using Table = std::vector<Strings>;

int count(const Strings &lines, const std::string &piece) {
  return std::count_if(lines.begin(), lines.end(), [&](const std::string &line) {
    return line.find(piece) != std::string::npos;
  });
}

constexpr char kStamp[] = "2024-03-05 07:08:09";
constexpr char kFrom[] = "receive alarm from [gw-test](sn:SN-0042)\n[";

struct Start;

class Daemon : public ::testing::Test {
 protected:
  // Starts with the start markers given and checks what is raised.
  void starts_with(const Start &start);
  void SetUp() override { box.prepare_service(); }

  // The mails' subjects, once the last one is subject.
  Strings subjects_until(const std::string &subject) {
    Strings subjects;
    EXPECT_TRUE(sandbox_wait_until([&] {
      subjects.clear();
      for (auto &message : box.ubus_messages()) {
        if (message[0] == "zelk_emaild putmail") subjects.push_back(message.at(2));
      }
      return !subjects.empty() && subjects.back() == subject;
    })) << seen();
    return subjects;
  }
  // What the daemon did, for a wait that ran out.
  std::string seen() {
    std::string text = "ubus calls:\n";
    for (const std::string &call : box.ubus_calls()) text += "  " + call + "\n";
    text += "pending rows (id, notifyflag):";
    for (const Strings &row : pending()) text += " " + row[0] + "," + row[1];
    return text + "\ndaemon output:\n" + box.daemon_out();
  }
  // The start's replay of pending rows is done: a row added now is not
  // offered twice, by its datagram and by the replay.
  bool replayed() {
    return sandbox_wait_until(
        [&] { return box.daemon_out().find("no last event") != std::string::npos; });
  }
  int calls(const std::string &piece) { return count(box.ubus_calls(), piece); }
  Table pending() { return box.rows("select id,notifyflag from eventlogcache order by id"); }

  SandboxRoot box;
};

// Datagrams, and the mail subject they make ("" for none).
struct Sent {
  Strings datagrams;
  std::string subject;
};

TEST_F(Daemon, JoinsDatagramsAndSurvivesAnyInput) {
  SandboxProcess &daemon = box.start_daemon();
  const std::string head = "&eventid=101&pad=", y(511, 'y');
  auto sized = [&](size_t size, const std::string &tail) {
    return head + std::string(size - head.size() - tail.size(), 'x') + tail;
  };
  // Sent before the daemon is ready: they wait, and are joined and handled
  // in order.
  const Sent early[] = {
      {{sized(100, "&last=short")}, "last=short"},
      {{sized(511, ""), y, "zzzzzzzzz&last=A1042"}, "last=A1042"},  // 1042 bytes
      // 2044 bytes; a fifth piece would pass the limit and is dropped.
      {{sized(511, ""), y, y, std::string(504, 'y') + "&last=Q", "ZZZZZZZZZZ"}, "last=Q"},
      // 600 bytes from a program that does not split: a request of its own.
      {{sized(511, "") + "&last=LONG" + std::string(79, 'w'), "&last=NEXT"},
       "last=LONG" + std::string(79, 'w')},
      // After a NUL in a piece that goes on, its bytes beyond the next stay.
      {{std::string("&eventid=101\0", 13) + std::string(488, 'x') + "&last=TAIL", "&len=7"},
       "last=TAIL"},
      {{std::string("&eventid=101&last=abc\0def", 25)}, "last=abc"},
      // A full piece starting with NUL ends the request gathered so far.
      {{sized(511, "&last=P"), std::string(1, '\0') + std::string(510, 'q')}, "last=P"},
      {{"&eventid=101&last=NEW"}, "last=NEW"}};
  // Sent once the replay at the start is done, for rows 1 to 4 added then:
  // no requests, discarded ones (their rows go), hostile ones, templates.
  const Sent late[] = {
      {{"", "eventid=5&sqlid=1", std::string(65507, 'A'), "", std::string(511, '\0')}, ""},
      {{"&eventid=999&sqlid=2&", "&eventid=102&sqlid=3&", "&eventid=&sqlid=4&"}, ""},
      {{"&eventid=12345678901234567890&sqlid=15&", "&eventid=999&sqlid=1' or '1'='1&"}, ""},
      {{"&eventid=100&sqlid=$(touch PWN1)&port=\"'$(touch PWN2)'\"&state=;touch PWN3;|><\\"},
       "Port \"'$(touch PWN2)'\" ;touch PWN3;|><\\"},
      // An empty value leaves its placeholder.
      {{"&eventid=00000000000000000100&port=&state=padded"}, "Port ${port} padded"},
      {{"&eventid=100&port=${len}&len=9&state=up"}, "Port ${len} up"},  // not scanned again
      {{"&eventid=100&port=" + std::string(200, 'P') + "&state=cut"},
       "Port " + std::string(127, 'P') + " cut"}};
  Strings expected;
  auto send = [&](const auto &table) {
    for (const Sent &sent : table) {
      for (const std::string &datagram : sent.datagrams) sandbox_send(datagram);
      if (!sent.subject.empty()) expected.push_back(sent.subject);
    }
  };
  send(early);
  ASSERT_TRUE(replayed()) << seen();
  for (int eventid : {100, 999, 102, 100}) box.add_pending(eventid, "", kStamp);
  send(late);
  // Pieces are joined per sender: another's request in between stays whole,
  // and a sender whose last piece never comes loses only its own request.
  sandbox_send(sized(511, "&last=STALE"), 1);
  sandbox_send(sized(511, ""), 2);
  sandbox_send("&eventid=101&last=OTHER", 3);
  sandbox_send("&last=TWO", 2);
  ASSERT_TRUE(sandbox_wait_until(
      [&] { return box.daemon_out().find("511 bytes dropped") != std::string::npos; }));
  sandbox_send("&eventid=101&last=END", 1);
  expected.insert(expected.end(), {"last=OTHER", "last=TWO", "last=END"});

  EXPECT_EQ(subjects_until("last=END"), expected);
  EXPECT_EQ(pending(), (Table{{"1", "0"}}));
  for (const char *file : {"PWN1", "PWN2", "PWN3"}) EXPECT_FALSE(box.exists(file)) << file;
  EXPECT_EQ(box.value("select count(*) from eventlist"), "7");
  EXPECT_EQ(box.ubus_calls().at(0), "call zelk_system get {\"base\":\"general\"}");

  // A second instance finds the port taken.
  EXPECT_EQ(box.start_daemon(false).wait(), 255);
  EXPECT_TRUE(daemon.running());
}

TEST_F(Daemon, DeliversOnEveryChannel) {
  box.start_snmp_agent();
  box.start_daemon();
  ASSERT_TRUE(replayed()) << seen();
  std::string row = box.add_pending(100, "port=5&state=down", kStamp);
  sandbox_send("&eventid=100&sqlid=" + row + "&port=5&state=down");
  sandbox_send("&eventid=103&sqlid=&x=a\"b\\c");
  sandbox_send("&eventid=101&sqlid=&len=3");
  // The probe and five deliveries (ubus logs each call before its message),
  // the SMS file gone after each.
  ASSERT_TRUE(sandbox_wait_until([&] {
    return box.ubus_messages().size() == 6 && pending().empty() &&
           !box.exists("tmp/eventsendsms.txt");
  })) << seen();

  const std::string body = kFrom + std::string(kStamp) + "]\r\nPort 5 is down";
  auto all = box.ubus_calls();
  EXPECT_EQ(all.size(), 6u);
  for (const std::string &line :
       {"call zelk_emaild putmail {\"head\":\"Port 5 down\", \"body\":\"" + body +
            "\", \"group\":7}",
        std::string("call zelk_other sendsms {\"group\":3, \"file\":\"eventsendsms.txt\"}"),
        "call zelk_snmp eventtrap {\"head\":\"Port 5 down\",\"body\":\"" + body + "\"}"}) {
    EXPECT_EQ(count(all, line), line.find("sendsms") != std::string::npos ? 2 : 1) << line;
  }
  auto sms = box.sms_files();
  ASSERT_EQ(sms.size(), 2u);
  EXPECT_EQ(sms[0], "Subject: Port 5 down\n" + body);
  EXPECT_EQ(sms[1].substr(0, 27), "Subject: sms a\"b\\c\n" + std::string(kFrom).substr(0, 8));
  // Without a row the message carries the time it was handled.
  std::string mail;
  for (auto &message : box.ubus_messages()) {
    if (message[0] == "zelk_emaild putmail") mail = message.at(4);
  }
  EXPECT_TRUE(std::regex_match(
      mail, std::regex(R"(receive[^\n]*\n\[20\d\d-\d\d-\d\d \d\d:\d\d:\d\d\]\r\nlen=3)")))
      << mail;
  EXPECT_EQ(mail.find(kStamp), std::string::npos);
}

// Without ps eventadd cannot tell whether the daemon runs: it takes the path
// that loses nothing, records and sends, and says why.
TEST_F(Daemon, EventsGoOnWithoutPs) {
  box.write("etc/quagga/events_alarm.conf", "\n");  // no alarm line
  box.start_daemon();
  ASSERT_TRUE(replayed()) << seen();
  EXPECT_EQ(symlink("/bin/grep", box.path("grep").c_str()), 0);
  const std::string path = std::getenv("PATH");
  setenv("PATH", box.dir().c_str(), 1);
  SandboxRoot::Run run = box.eventadd({"101", "last=P"});
  setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(run.status, 0);
  const std::string recorded = "= eventadd 101 last=P =\nalertmill enable 1\n";
  ASSERT_EQ(run.out.substr(0, recorded.size()), recorded);
  EXPECT_NE(run.err.find("eventadd: warning: cannot tell whether alertmill runs (ps | grep "
                         "alertmill | grep -v grep: /bin/sh: "),
            std::string::npos)
      << run.err;
  EXPECT_EQ(subjects_until("last=P"), Strings{"last=P"});
  EXPECT_TRUE(sandbox_wait_until([&] { return pending().empty(); })) << seen();
}

// The start event each pair of start markers raises, and the replay of a
// row whose e-mail and SMS were done before a crash.
struct Start {
  bool etc_marker, tmp_marker;
  const char *raised, *subject;
};

void Daemon::starts_with(const Start &start) {
  box.write("etc/quagga/events_alarm.conf", "# managed elsewhere\n");  // rows for start events
  if (start.etc_marker) box.write("etc/.reboot_flag", "");
  if (!start.tmp_marker) std::remove(box.path("tmp/.reboot_flag").c_str());
  box.start_snmp_agent();
  box.add_pending(100, "port=7&state=flapping", kStamp, 3);
  box.start_daemon();
  const std::string trap = "call zelk_snmp eventtrap {\"head\":\"Port 7 flapping\",\"body\":\"" +
                           std::string(kFrom) + kStamp + "]\r\nPort 7 is flapping\"}";
  ASSERT_TRUE(sandbox_wait_until([&] { return calls(trap) == 1 && pending().empty(); })) << seen();

  EXPECT_EQ(calls("Port 7"), 1);
  EXPECT_EQ(count(box.sms_files(), "Port 7"), 0);
  std::string out = box.daemon_out();
  EXPECT_EQ(out.find("= eventadd"), out.rfind("= eventadd"));
  EXPECT_FALSE(box.exists("etc/.reboot_flag"));
  EXPECT_EQ(box.exists("tmp/.reboot_flag"),
            start.tmp_marker || std::string(start.raised) == "4019");
  if (*start.raised == '\0') {
    EXPECT_EQ(out.find("= eventadd"), std::string::npos);
    EXPECT_TRUE(box.rows("select * from eventlog").empty());
  } else {
    EXPECT_NE(out.find("= eventadd " + std::string(start.raised) + "  =\n"), std::string::npos);
    EXPECT_GE(calls("putmail {\"head\":\"" + std::string(start.subject) + "\""), 1);
    EXPECT_EQ(box.rows("select eventid,type,loginfo from eventlog"),
              (Table{{start.raised, "system", ""}}));
  }
}

TEST_F(Daemon, RebootMarkerRaises4020) { starts_with({true, true, "4020", "Device rebooted"}); }
TEST_F(Daemon, FirstStartRaises4019) { starts_with({false, false, "4019", "Service started"}); }
TEST_F(Daemon, RestartRaisesNothing) { starts_with({false, true, "", ""}); }

// Deliveries that fail are tried again in the run. A busy modem refuses the
// first SMS; a second request for the same row meanwhile (as a start event
// and its replay) and an event without row change nothing: each reaches each
// channel once, and the row goes.
TEST_F(Daemon, RetriesInTheRunDeliverOncePerChannel) {
  setenv("ALERTMILL_RETRY_DIVISOR", "100000", 1);  // backoff in milliseconds
  box.start_snmp_agent();
  box.write("ubus.fail_first", "sendsms 8\n");
  const std::string row = box.add_pending(100, "", box.value("select datetime('now')")),
                    request = "&eventid=100&sqlid=" + row + "&port=9&state=down";
  box.start_daemon();
  sandbox_send(request);
  sandbox_send("&eventid=103&sqlid=&x=kept");
  ASSERT_TRUE(sandbox_wait_until([&] { return calls("sendsms") >= 1; }));
  sandbox_send(request);
  ASSERT_TRUE(sandbox_wait_until([&] {
    const std::string out = box.daemon_out();
    return out.find("needflag is 7") != out.rfind("needflag is 7") && pending().empty() &&
           calls("sendsms") >= 10;
  })) << box.daemon_out();
  EXPECT_EQ(
      count(Strings{box.daemon_out()}, "event 100 (row " + row + ") is already held by the sms"),
      1);
  Strings delivered;
  for (auto &message : box.ubus_messages()) delivered.push_back(message[0]);
  std::sort(delivered.begin(), delivered.end());
  EXPECT_EQ(delivered, (Strings{"zelk_emaild putmail", "zelk_other sendsms", "zelk_other sendsms",
                                "zelk_snmp eventtrap", "zelk_system get"}));
}

// A trap agent that refuses for good: a replayed row older than the age
// limit is given up at once, a new one after the last attempt, and past the
// table's bound the oldest row goes first. Each leaves its line and entry.
TEST_F(Daemon, GivesUpAtTheLimitsWithinTheBound) {
  setenv("ALERTMILL_RETRY_DIVISOR", "100000", 1);
  box.start_snmp_agent();
  box.write("ubus.fail", "eventtrap\n");
  std::string old = box.add_pending(100, "port=1", kStamp, 3);
  box.start_daemon();
  auto given_up = [&](const std::string &row, const char *rest) {
    return sandbox_wait_until([&] {
      return box.daemon_out().find("delivery given up: row " + row + rest) != std::string::npos;
    });
  };
  ASSERT_TRUE(given_up(old, ", event 100, channels not done: snmp, attempts 1\n"));
  const std::string now = box.value("select datetime('now')"),
                    filler = std::to_string(std::stoi(old) + 1);
  ASSERT_EQ(box.exec("with recursive n(i) as (select 1 union all select i+1 from n where i<1000)"
                     " insert into eventlogcache(eventid,notifyflag,context,happentime) select "
                     "102,'0','','" +
                     now + "' from n"),
            0);
  std::string row = box.add_pending(100, "", now);
  sandbox_send("&eventid=100&sqlid=" + row + "&port=2&state=up");
  ASSERT_TRUE(given_up(row, ", event 100, channels not done: snmp, attempts 24\n"))
      << box.daemon_out();
  EXPECT_TRUE(given_up(filler, ", event 102, channels not done: email sms snmp, attempts 0\n"));
  EXPECT_EQ(calls("eventtrap"), 25);
  const Table left{{"999", std::to_string(std::stoi(filler) + 1)}};  // the new row goes too
  EXPECT_TRUE(sandbox_wait_until(
      [&] { return box.rows("select count(*),min(id) from eventlogcache") == left; }));
  auto entry = [](const char *eventid, const char *channels, int tries, std::string row) {
    return Strings{eventid, "system",
                   std::string("event ") + eventid + " not delivered by " + channels +
                       ": given up after " + std::to_string(tries) + " attempts (pending row " +
                       row + ")"};
  };
  EXPECT_EQ(box.rows("select eventid,type,loginfo from eventlog order by id"),
            (Table{entry("100", "snmp", 1, old), entry("102", "email sms snmp", 0, filler),
                   entry("100", "snmp", 24, row)}));
}

// With the database away, a request is kept and tried again until it is
// back: delivered without a restart.
TEST_F(Daemon, RequestsWaitForTheDatabase) {
  setenv("ALERTMILL_RETRY_DIVISOR", "100", 1);  // 0.3 s, 0.6 s, 1.2 s ...
  box.start_daemon();
  const std::string db = box.path("etc/events.sqlite3"), away = box.path("events.away");
  ASSERT_EQ(std::rename(db.c_str(), away.c_str()), 0);
  sandbox_send("&eventid=101&sqlid=&last=away");
  ASSERT_TRUE(sandbox_wait_until(
      [&] { return box.daemon_out().find("no such table: eventlist") != std::string::npos; }));
  ASSERT_EQ(std::rename(away.c_str(), db.c_str()), 0);
  EXPECT_EQ(subjects_until("last=away"), Strings{"last=away"});
}

}  // namespace
