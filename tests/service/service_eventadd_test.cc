// The sending side through build/bin/eventadd: what each enable value writes
// and sends, the cloud FIFO record, the timed variant and the command line.
// The test itself listens on the service port, so every datagram is seen.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "tests/service/service_harness.h"

namespace {

using harness::count_of;
using harness::RunResult;
using harness::Sandbox;

class ServicePort {
 public:
  ServicePort() {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_port = htons(9001);
    self.sin_addr.s_addr = inet_addr("127.0.0.1");
    bound_ = bind(fd_, reinterpret_cast<sockaddr *>(&self), sizeof self) == 0;
  }
  ~ServicePort() { close(fd_); }
  bool bound() const { return bound_; }

  // Every datagram that has arrived.
  std::vector<std::string> received() {
    std::vector<std::string> datagrams;
    char buffer[65536];
    for (;;) {
      ssize_t n = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n < 0) break;
      datagrams.emplace_back(buffer, static_cast<size_t>(n));
    }
    return datagrams;
  }

 private:
  int fd_;
  bool bound_ = false;
};

// The cloud client's end of the FIFO.
class CloudReader {
 public:
  explicit CloudReader(const std::string &path) {
    mkfifo(path.c_str(), 0600);
    fd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  }
  ~CloudReader() { close(fd_); }
  std::string drain() {
    std::string bytes;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd_, buffer, sizeof buffer)) > 0) bytes.append(buffer, n);
    return bytes;
  }

 private:
  int fd_;
};

std::string record_of(const std::string &request) {
  return "Korvane Alarm " + request + std::string(1, '\0');
}

// Every test listens on the service port of its own network namespace.
class ServiceEventadd : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(port.bound()); }
  // Opens the cloud client's end of the FIFO.
  CloudReader &listen_to_cloud() {
    cloud_end = std::make_unique<CloudReader>(box.path("tmp/cloudclient.fifo"));
    return *cloud_end;
  }

  Sandbox box;
  ServicePort port;
  std::unique_ptr<CloudReader> cloud_end;
};

struct EnableCase {
  const char *name;
  const char *switch_file;  // null: no file
  bool service_running;
  int enable;
};

class EnableValues : public ServiceEventadd, public ::testing::WithParamInterface<EnableCase> {};

TEST_P(EnableValues, DecideRowLogDatagramAndFifo) {
  const EnableCase &c = GetParam();
  CloudReader &cloud = listen_to_cloud();
  if (c.switch_file != nullptr) box.write("etc/quagga/events_alarm.conf", c.switch_file);
  if (c.service_running) box.start_fake_service();

  RunResult run = box.eventadd({"4019"});
  ASSERT_EQ(run.exit.status, 0) << run.err;

  std::string sqlid = c.enable == 1 ? "1" : "";
  std::string request = "&eventid=4019&sqlid=" + sqlid + "&";
  std::string expected_out =
      "= eventadd 4019  =\nalertmill enable " + std::to_string(c.enable) + "\n";
  EXPECT_EQ(run.out.substr(0, expected_out.size()), expected_out);
  auto rows = box.db().pending();
  auto logged = box.db().query("select eventid,type,loginfo,readstatus from eventlog");
  if (c.enable == 0) {
    EXPECT_TRUE(port.received().empty());
    EXPECT_TRUE(rows.empty());
    EXPECT_TRUE(logged.empty());
    EXPECT_EQ(count_of(run.out, "@@@@@"), 0);
    EXPECT_TRUE(run.out.size() >= 2 && run.out.substr(run.out.size() - 2) == "0\n") << run.out;
  } else {
    EXPECT_EQ(port.received(), std::vector<std::string>{request});
    ASSERT_EQ(rows.size(), c.enable == 1 ? 1u : 0u);
    if (c.enable == 1) {
      EXPECT_EQ(rows[0].eventid, "4019");
      EXPECT_EQ(rows[0].notifyflag, "0");
      EXPECT_EQ(rows[0].context, "");
      EXPECT_EQ(rows[0].happentime.size(), 19u);
    }
    EXPECT_EQ(logged, (std::vector<std::vector<std::string>>{{"4019", "system", "", "no"}}));
    EXPECT_EQ(count_of(run.out, "@@@@@ ready to write eventlog @@@@@\n"), 1);
    EXPECT_NE(run.out.find("\n" + std::to_string(request.size()) + "\n"), std::string::npos)
        << run.out;
  }
  // The cloud client hears of every event.
  EXPECT_EQ(cloud.drain(), record_of(request));
}

INSTANTIATE_TEST_SUITE_P(Switch, EnableValues,
                         ::testing::Values(EnableCase{"NoFile", nullptr, false, 0},
                                           EnableCase{"NoFileRunning", nullptr, true, 0},
                                           EnableCase{"NoAlarmLine", "off\nalarms\n", false, 0},
                                           EnableCase{"NoAlarmLineRunning", "off\n", true, 1},
                                           EnableCase{"Alarm", "x\nalarm\n", false, 1},
                                           EnableCase{"AlarmRunning", "alarm\n", true, 2},
                                           EnableCase{"AlarmWithoutNewline", "alarm", false, 0},
                                           EnableCase{"AlarmWithBlanks", " alarm \n", true, 1}),
                         [](const ::testing::TestParamInfo<EnableCase> &info) {
                           return info.param.name;
                         });

TEST_F(ServiceEventadd, LoginEventsLeaveTheirTextOutOfTheCloudRecord) {
  CloudReader &cloud = listen_to_cloud();
  box.write("etc/quagga/events_alarm.conf", "alarm\n");
  for (const char *id : {"4013", "4014", "4015"}) {
    RunResult run = box.eventadd({id, "user=bob&a=1&text=hello&b=2"});
    // Raised all the same, but only 4013 has a definition.
    ASSERT_EQ(run.exit.status, std::string(id) == "4013" ? 0 : 1) << run.err;
  }
  auto received = port.received();
  ASSERT_EQ(received.size(), 3u);
  EXPECT_EQ(received[0], "&eventid=4013&sqlid=1&user=bob&a=1&text=hello&b=2");
  EXPECT_EQ(cloud.drain(), record_of("&eventid=4013&sqlid=1&user=bob&a=1") +
                               record_of("&eventid=4014&sqlid=2&user=bob&a=1") +
                               record_of("&eventid=4015&sqlid=3&user=bob&a=1&text=hello&b=2"));
  // Only 4013 has a definition asking for the event log.
  auto logged = box.db().query("select eventid,type,loginfo from eventlog");
  EXPECT_EQ(
      logged,
      (std::vector<std::vector<std::string>>{{"4013", "user", "user=bob&a=1&text=hello&b=2"}}));
}

TEST_F(ServiceEventadd, HostileAndLongTextsArriveIntact) {
  CloudReader &cloud = listen_to_cloud();
  box.write("etc/quagga/events_alarm.conf", "alarm\n");

  std::string hostile = "a='1';drop table eventlist;--&b=\"$(touch PWN1)\"&c=`touch PWN2`|;<>\\";
  RunResult run = box.eventadd({"100", hostile});
  ASSERT_EQ(run.exit.status, 0) << run.err;
  std::string request = "&eventid=100&sqlid=1&" + hostile;
  EXPECT_EQ(port.received(), std::vector<std::string>{request});
  EXPECT_EQ(cloud.drain(), record_of(request));
  auto rows = box.db().pending();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].context, hostile);
  EXPECT_EQ(box.db().query("select count(*) from eventlist")[0][0], "6");
  EXPECT_FALSE(box.has("PWN1"));
  EXPECT_FALSE(box.has("PWN2"));

  // Long requests go out the way the receiver joins them: 511-byte pieces,
  // then a shorter or empty one; past its 2047 bytes they are cut. The row
  // keeps the first 511 characters of the text.
  const std::string prefix = "&eventid=100&sqlid=2&";
  for (size_t length : {600u, 1022u, 2100u}) {
    std::string long_text = "x=" + std::string(length - prefix.size() - 2, 'L');
    std::string request = prefix + long_text;
    run = box.eventadd({"100", long_text});
    ASSERT_EQ(run.exit.status, 0) << run.err;
    std::vector<std::string> pieces;
    for (size_t at = 0; at <= std::min<size_t>(request.size(), 2047); at += 511) {
      pieces.push_back(request.substr(at, std::min<size_t>(511, 2047 - at)));
    }
    EXPECT_EQ(port.received(), pieces) << length;
    EXPECT_EQ(cloud.drain(), record_of(request));
    rows = box.db().pending();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].context, long_text.substr(0, 511));
    box.db().exec(
        "delete from eventlogcache where id=2;"
        "update sqlite_sequence set seq=1 where name='eventlogcache';");
  }
}

TEST_F(ServiceEventadd, CloudFifoMissingOrWithoutReader) {
  box.write("etc/quagga/events_alarm.conf", "alarm\n");

  RunResult run = box.eventadd({"100", "port=1"});
  ASSERT_EQ(run.exit.status, 0);
  EXPECT_NE(run.err.find("no cloudclient running\n"), std::string::npos) << run.err;

  std::string fifo = box.path("tmp/cloudclient.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  run = box.eventadd({"100", "port=2"});
  ASSERT_EQ(run.exit.status, 0);
  EXPECT_NE(run.err.find("open " + fifo + " error: no reading process\n"), std::string::npos)
      << run.err;
  // Both requests still reached the service.
  EXPECT_EQ(port.received().size(), 2u);
}

TEST_F(ServiceEventadd, FullCloudFifoIsWaitedForAsleep) {
  listen_to_cloud();
  box.write("etc/quagga/events_alarm.conf", "alarm\n");
  // The client has stopped reading and its pipe is full.
  int fill = open(box.path("tmp/cloudclient.fifo").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(fill, 0);
  std::string block(4096, 'f');
  while (write(fill, block.data(), block.size()) > 0) {
  }
  close(fill);
  RunResult run = box.eventadd({"100", "port=1"});
  EXPECT_EQ(run.exit.status, 0) << run.err;
  // It gives up after 10 s; spinning for them would cost as much CPU time.
  EXPECT_LT(run.exit.cpu_seconds, 3.0);
}

TEST_F(ServiceEventadd, TimedVariantAlwaysRecordsAndSends) {
  CloudReader &cloud = listen_to_cloud();
  // No switch file: the timed variant does not ask.
  RunResult run = box.eventadd({"-t", "2024-03-05 07:08:09", "100", "port=9&state=up"});
  ASSERT_EQ(run.exit.status, 0) << run.err;
  std::string request = "&eventid=100&sqlid=1&port=9&state=up";
  std::string result_line = "\n" + std::to_string(request.size()) + "\n";
  ASSERT_GE(run.out.size(), result_line.size());
  EXPECT_EQ(run.out.substr(run.out.size() - result_line.size()), result_line);
  EXPECT_EQ(count_of(run.out, "= eventadd"), 0);
  EXPECT_EQ(port.received(), std::vector<std::string>{request});
  auto rows = box.db().pending();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].happentime, "2024-03-05 07:08:09");
  EXPECT_EQ(rows[0].context, "port=9&state=up");
  EXPECT_TRUE(box.db().query("select * from eventlog").empty());
  EXPECT_EQ(cloud.drain(), "");
}

// The exit status and the one line on stderr for each way an event can fall
// short of what the enable switch asks; warnings leave the status 0.
TEST_F(ServiceEventadd, ExitStatusTellsWhetherTheEventWasRecordedOrSent) {
  const struct {
    const char *name;
    const char *switch_file;  // null: none
    std::vector<std::string> args;
    const char *sql;  // run on the database first, when given
    bool offline;     // run without a network (loopback down)
    int status;
    const char *line;  // the "eventadd: " line, "" for none
  } cases[] = {
      {"recorded", "alarm\n", {"100", "port=1"}, nullptr, false, 0, ""},
      {"timed", nullptr, {"-t", "2024-02-29 23:59:59", "100", "port=1"}, nullptr, false, 0, ""},
      {"events off",
       nullptr,
       {"100"},
       nullptr,
       false,
       0,
       "warning: events are off (ROOT/etc/quagga/events_alarm.conf cannot be read): event 100 "
       "neither recorded nor sent"},
      {"daemon down, no alarm line",
       "off\n",
       {"100"},
       nullptr,
       false,
       0,
       "warning: alertmill is not running and ROOT/etc/quagga/events_alarm.conf has no alarm "
       "line: event 100 neither recorded nor sent"},
      {"unknown id", "alarm\n", {"999"}, nullptr, false, 1, "unknown event id 999"},
      {"unknown id, timed",
       nullptr,
       {"-t", "2024-03-05 07:08:09", "999", ""},
       nullptr,
       false,
       1,
       "unknown event id 999"},
      {"bad stamp",
       nullptr,
       {"-t", "2023-02-29 07:08:09", "100", ""},
       nullptr,
       false,
       2,
       "bad time stamp '2023-02-29 07:08:09': want YYYY-MM-DD HH:MM:SS"},
      {"bad stamp shape",
       nullptr,
       {"-t", "2024-3-5 7:08:09", "100", ""},
       nullptr,
       false,
       2,
       "bad time stamp '2024-3-5 7:08:09': want YYYY-MM-DD HH:MM:SS"},
      {"row refused",
       "alarm\n",
       {"100"},
       "create trigger refuse before insert on eventlogcache begin "
       "select raise(abort, 'disk is full'); end;",
       false,
       1,
       "event 100 not recorded: the database refused its row: disk is full"},
      {"not sent",
       "alarm\n",
       {"100"},
       nullptr,
       true,
       1,
       "event 100 not sent to alertmill: ENETUNREACH"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox sandbox;
    if (c.switch_file != nullptr) sandbox.write("etc/quagga/events_alarm.conf", c.switch_file);
    if (c.sql != nullptr) sandbox.db().exec(c.sql);
    RunResult run;
    if (c.offline) {
      if (geteuid() != 0) {
        std::fprintf(stderr, "skipped \"%s\": unshare needs root\n", c.name);
        continue;
      }
      harness::Process process;
      std::vector<std::string> argv = {"unshare", "-n", harness::bin_dir() + "/eventadd"};
      argv.insert(argv.end(), c.args.begin(), c.args.end());
      process.start("/usr/bin/unshare", argv, sandbox.environment(), sandbox.path("out"),
                    sandbox.path("err"));
      run = {process.wait_exit(), sandbox.read("out"), sandbox.read("err")};
    } else {
      run = sandbox.eventadd(c.args);
    }
    EXPECT_EQ(run.exit.status, c.status) << run.err;
    std::string line = c.line;
    for (size_t at = line.find("ROOT"); at != std::string::npos; at = line.find("ROOT")) {
      line.replace(at, 4, sandbox.root());
    }
    // The C library's own words for the error: glibc's and musl's differ.
    if (size_t at = line.find("ENETUNREACH"); at != std::string::npos) {
      line.replace(at, 11, std::strerror(ENETUNREACH));
    }
    std::vector<std::string> said;
    for (const std::string &text : harness::lines_of(run.err)) {
      if (text.rfind("eventadd: ", 0) == 0) said.push_back(text.substr(10));
    }
    EXPECT_EQ(said, line.empty() ? std::vector<std::string>{} : std::vector<std::string>{line});
    port.received();
  }
}

TEST_F(ServiceEventadd, BadArgumentsPrintUsage) {
  for (const std::vector<std::string> &args :
       std::vector<std::vector<std::string>>{{},
                                             {"abc"},
                                             {"12x", "text"},
                                             {"1", "2", "3"},
                                             {"-t", "2024-03-05 07:08:09", "100"},
                                             {"-x", "a", "1", "b"}}) {
    RunResult run = box.eventadd(args);
    EXPECT_EQ(run.exit.status, 2);
    EXPECT_NE(run.err.find("usage: eventadd ID [TEXT]"), std::string::npos);
    EXPECT_EQ(run.out, "");
  }
  EXPECT_TRUE(box.db().pending().empty());
}

}  // namespace
