// Datagram intake and processing as seen from outside: how requests are
// joined from datagrams, and that no input stops the service.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <functional>
#include <random>

#include "tests/service/service_harness.h"

namespace {

using harness::count_of;
using harness::kLogDebug;
using harness::kLogErr;
using harness::kLogInfo;
using harness::mail_subjects;
using harness::Sandbox;
using harness::send_datagram;
using harness::start_idle;
using harness::wait_for;

constexpr size_t kPiece = 511;

// "&eventid=101&pad=xxx...": exactly size bytes, ending with tail.
std::string request_of_size(size_t size, const std::string &tail) {
  std::string head = "&eventid=101&pad=";
  return head + std::string(size - head.size() - tail.size(), 'x') + tail;
}

// Waits for the n-th putmail and returns all subjects.
std::vector<std::string> subjects_after(Sandbox &box, size_t n) {
  EXPECT_TRUE(wait_for([&] { return mail_subjects(box).size() >= n; })) << box.daemon_out();
  return mail_subjects(box);
}

TEST(ServiceIntake, RequestsAreJoinedFromDatagrams) {
  Sandbox box;
  box.start_daemon();

  // A short request is one message.
  send_datagram(request_of_size(100, "&last=short"));

  // 511 + 511 + 20 bytes: one request of 1042 bytes.
  send_datagram(request_of_size(kPiece, ""));
  send_datagram(std::string(kPiece, 'y'));
  send_datagram("zzzzzzzzz&last=A1042");

  // Four pieces reach 2044 bytes; a fifth of 10 would pass the limit and is
  // dropped, the 2044 bytes are the request.
  send_datagram(request_of_size(kPiece, ""));
  send_datagram(std::string(kPiece, 'y'));
  send_datagram(std::string(kPiece, 'y'));
  send_datagram(std::string(kPiece - 7, 'y') + "&last=Q");
  send_datagram("ZZZZZZZZZZ");

  // A 600-byte datagram keeps its first 511 bytes and goes on in the next.
  send_datagram(request_of_size(kPiece, "") + "&last=LOST" + std::string(79, 'w'));
  send_datagram("&last=NEXT");

  // A NUL inside a piece that goes on: the next piece is written from the
  // NUL on, and the rest of the first piece beyond it stays in the text.
  std::string nul_inside("&eventid=101\0", 13);
  nul_inside += std::string(kPiece - nul_inside.size() - 10, 'x') + "&last=TAIL";
  send_datagram(nul_inside);
  send_datagram("&len=7");

  // A NUL ends the text.
  send_datagram(std::string("&eventid=101&last=abc\0def", 25));

  // A 511-byte datagram beginning with NUL ends the request gathered so far.
  send_datagram(request_of_size(kPiece, "&last=P"));
  send_datagram(std::string(1, '\0') + std::string(kPiece - 1, 'q'));
  send_datagram("&eventid=101&last=NEW");

  std::vector<std::string> expected = {"last=short", "last=A1042", "last=Q", "last=NEXT",
                                       "last=TAIL",  "last=abc",   "last=P", "last=NEW"};
  EXPECT_EQ(subjects_after(box, expected.size()), expected);
  harness::expect_healthy(box);
}

TEST(ServiceIntake, EmptyDatagramsMakeNoRequestAndMissingEventidKeepsTheRow) {
  Sandbox box;
  auto &daemon = start_idle(box);
  std::string row = box.db().add_pending(100, "port=2", "2024-03-05 07:08:10");

  send_datagram("");
  send_datagram("");
  // No leading ampersand: not a request, and its sqlid is left alone.
  send_datagram("eventid=5&sqlid=" + row);
  send_datagram("&eventid=101&last=after");
  EXPECT_EQ(subjects_after(box, 1), std::vector<std::string>{"last=after"});
  auto rows = box.db().pending();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].id, row);
  if (Sandbox::syslog_captured()) {
    auto debug = box.syslog(daemon, kLogDebug);
    EXPECT_EQ(count_of(debug, "the parameters do not include the '&eventid=' header"), 1);
  }
  harness::expect_healthy(box);
}

TEST(ServiceIntake, DiscardedRequestsDeleteTheirRow) {
  Sandbox box;
  auto &daemon = start_idle(box);
  std::string unknown = box.db().add_pending(999, "", "2024-03-05 07:08:09");
  std::string silent = box.db().add_pending(102, "", "2024-03-05 07:08:09");
  std::string empty = box.db().add_pending(100, "", "2024-03-05 07:08:09");
  std::string keep = box.db().add_pending(100, "", "2024-03-05 07:08:09");

  send_datagram("&eventid=999&sqlid=" + unknown + "&");                 // no definition
  send_datagram("&eventid=102&sqlid=" + silent + "&");                  // no channel
  send_datagram("&eventid=&sqlid=" + empty + "&");                      // empty eventid
  send_datagram("&eventid=12345678901234567890&sqlid=" + keep + "5&");  // names no row
  send_datagram("&eventid=101&last=done");
  subjects_after(box, 1);
  auto rows = box.db().pending();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].id, keep);
  if (Sandbox::syslog_captured()) {
    auto debug = box.syslog(daemon, kLogDebug);
    EXPECT_EQ(count_of(debug, "eventid 999 is not in the database !"), 1);
    EXPECT_EQ(count_of(debug, "'eventid' is not in the list of parameters!"), 1);
    EXPECT_EQ(count_of(debug, "eventid 12345678901234567890 is not in the database !"), 1);
  }
  EXPECT_EQ(count_of(box.daemon_out(), "the needflag is 0\n"), 1);
  harness::expect_healthy(box);
}

// A definition look-up that fails inside the database is no answer about
// the event: the requests keep their rows, the cause is logged once, and the
// next start delivers them once the database is whole again.
TEST(ServiceIntake, UnreadableDefinitionsKeepTheirRows) {
  using Repair = std::function<void()>;
  const struct {
    const char *cause;
    std::function<Repair(Sandbox &)> damage;
  } faults[] = {
      {"no such table: eventlist",
       [](Sandbox &box) -> Repair {
         box.db().exec("drop table eventlist;");
         return [&box] { box.db().exec(std::string(harness::kSchema) + harness::kDefinitions); };
       }},
      {"database disk image is malformed",
       [](Sandbox &box) -> Repair {
         auto number = [&](const char *sql) { return std::stol(box.db().query(sql)[0][0]); };
         long size = number("pragma page_size;");
         long at =
             (number("select rootpage from sqlite_master where name='eventlist';") - 1) * size;
         std::fstream file(box.db().path(), std::ios::in | std::ios::out | std::ios::binary);
         std::string page(static_cast<size_t>(size), '\0');
         file.seekg(at).read(&page[0], size);
         file.seekp(at).write(std::string(page.size(), '\xff').data(), size);
         return [&box, page, at] {
           std::fstream(box.db().path(), std::ios::in | std::ios::out | std::ios::binary)
               .seekp(at)
               .write(page.data(), static_cast<std::streamsize>(page.size()));
         };
       }},
  };
  for (const auto &fault : faults) {
    SCOPED_TRACE(fault.cause);
    Sandbox box;
    box.start_agent();
    auto &daemon = start_idle(box);
    std::vector<std::string> rows;
    for (int port = 1; port <= 3; ++port) {
      rows.push_back(box.db().add_pending(100, "port=" + std::to_string(port), "2024-03-05"));
    }
    Repair repair = fault.damage(box);
    for (const std::string &row : rows) send_datagram("&eventid=100&sqlid=" + row + "&port=1");
    EXPECT_TRUE(wait_for([&] {
      return count_of(box.daemon_out(), "excute sql select id,eventid,eventname") == 3;
    })) << box.daemon_out();
    EXPECT_EQ(box.db().pending().size(), 3u);
    if (Sandbox::syslog_captured()) {
      EXPECT_EQ(box.syslog(daemon, kLogErr),
                std::vector<std::string>{"eventlist cannot be read: " + std::string(fault.cause) +
                                         "; events stay pending for the next start"});
    }
    daemon.kill_now();
    repair();
    box.start_daemon();
    EXPECT_TRUE(wait_for([&] { return box.pending_empty(); })) << box.daemon_out();
    EXPECT_EQ(count_of(box.ubus_calls(), "putmail"), 3);
    harness::expect_healthy(box);
  }
}

TEST(ServiceIntake, HostileDatagramsDoNotStopTheService) {
  Sandbox box;
  box.start_agent();
  start_idle(box);
  // Row 2, so a delete of row 1 that ran would not hide a delete of all.
  box.db().add_pending(100, "port=1", "2024-03-05 07:08:09");
  std::string victim = box.db().add_pending(100, "port=2", "2024-03-05 07:08:09");
  box.db().exec("delete from eventlogcache where id<" + victim);

  std::mt19937 random(20240305);
  for (int i = 0; i < 30; ++i) {
    std::string junk(1 + random() % 700, '\0');
    for (char &c : junk) c = static_cast<char>(random());
    send_datagram(junk);
  }
  send_datagram("");
  send_datagram(std::string(65507, 'A'));
  send_datagram("");
  send_datagram(std::string(kPiece, '\0'));
  send_datagram(std::string("&eventid=\0\0\0100", 14));
  send_datagram("sqlid=1&port=2");
  // Quotes and shell metacharacters in every parameter, the sqlid trying
  // to widen the discard path's delete to every row.
  send_datagram("&eventid=999'; delete from eventlogcache; --&sqlid=1' or '1'='1&");
  send_datagram("&eventid=1 or 1=1&sqlid=" + victim + "' or '1'='1&");
  send_datagram(
      "&eventid=100&sqlid=$(touch PWN1)&notifyflag=`touch PWN2`&port=\"'$(touch "
      "PWN3)'\"&state=;touch PWN4;|><\\");
  // Twenty characters, looked up whole: the leading zeros still name 100.
  send_datagram("&eventid=00000000000000000100&port=20&state=padded");
  send_datagram("&eventid=101&last=survived");

  std::vector<std::string> subjects = subjects_after(box, 3);
  ASSERT_EQ(subjects.size(), 3u);
  EXPECT_EQ(subjects[0], "Port \"'$(touch PWN3)'\" ;touch PWN4;|><\\");
  EXPECT_EQ(subjects[1], "Port 20 padded");
  EXPECT_EQ(subjects[2], "last=survived");
  ASSERT_TRUE(wait_for([&] { return count_of(box.ubus_calls(), "eventtrap") == 2; }));
  for (const char *file : {"PWN1", "PWN2", "PWN3", "PWN4"}) EXPECT_FALSE(box.has(file)) << file;
  auto rows = box.db().pending();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].id, victim);
  EXPECT_EQ(box.db().query("select count(*) from eventlist")[0][0], "6");
  harness::expect_healthy(box);
}

// Counts the event-definition look-ups of eventid the daemon has traced.
int lookups(Sandbox &box, const std::string &eventid) {
  return count_of(box.daemon_out(), "from eventlist where eventid='" + eventid + "';\n");
}

TEST(ServiceIntake, DatabaseMissingLockedOrWithoutTables) {
  Sandbox box;
  box.start_agent();
  start_idle(box);
  std::string db = box.db().path();
  std::string saved = box.path("saved.sqlite3");

  // Missing: the look-up fails, the next request after the database is back
  // goes through.
  ASSERT_EQ(std::rename(db.c_str(), saved.c_str()), 0);
  send_datagram("&eventid=100&port=31&state=missing");
  ASSERT_TRUE(wait_for([&] { return lookups(box, "100") == 1; }));

  // Without tables: an empty database file.
  std::remove(db.c_str());
  harness::write_file(db, "");
  send_datagram("&eventid=100&port=32&state=no-tables");
  ASSERT_TRUE(wait_for([&] { return lookups(box, "100") == 2; }));

  std::remove(db.c_str());
  ASSERT_EQ(std::rename(saved.c_str(), db.c_str()), 0);
  send_datagram("&eventid=100&port=33&state=back");
  EXPECT_EQ(subjects_after(box, 1), std::vector<std::string>{"Port 33 back"});

  // Locked by another process through the lock file: the daemon waits for
  // it and then serves.
  {
    int lock = open(box.path("tmp/syscore.fl").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(lockf(lock, F_LOCK, 0), 0);
    send_datagram("&eventid=100&port=34&state=waited");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(lookups(box, "100"), 3);
    close(lock);
  }
  EXPECT_EQ(subjects_after(box, 2).back(), "Port 34 waited");

  // Locked by another process inside SQLite: the look-up fails, and the row
  // stays for the next start.
  ASSERT_TRUE(wait_for([&] { return box.pending_empty(); }));
  std::string row = box.db().add_pending(100, "port=35&state=locked", "2024-03-05 07:08:09");
  sqlite3 *holder = nullptr;
  ASSERT_EQ(sqlite3_open(db.c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE;", nullptr, nullptr, nullptr), SQLITE_OK);
  send_datagram("&eventid=100&sqlid=" + row + "&port=35&state=locked");
  bool looked_up = wait_for([&] { return lookups(box, "100") == 5; });
  sqlite3_exec(holder, "COMMIT;", nullptr, nullptr, nullptr);
  sqlite3_close(holder);
  ASSERT_TRUE(looked_up);
  EXPECT_EQ(box.db().pending().size(), 1u);

  box.daemon().kill_now();
  box.start_daemon();
  EXPECT_EQ(subjects_after(box, 3).back(), "Port 35 locked");
  EXPECT_TRUE(wait_for([&] { return box.pending_empty(); }));
  harness::expect_healthy(box);
}

}  // namespace
