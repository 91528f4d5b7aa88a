// The sending side through build/bin/eventadd: what each enable value writes
// and sends, the cloud FIFO record, the timed variant, the exit status and
// the listing of pending rows. The test listens on the service port itself.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tests/support/sandbox_root.h"

namespace {

using Strings = std::vector<std::string>;
using Table = std::vector<Strings>;

// Every datagram that reached the service port since the last call.
Strings received() {
  static const int fd = [] {
    sandbox_own_network();
    int socket_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_port = htons(9001);
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(bind(socket_fd, reinterpret_cast<sockaddr *>(&self), sizeof self), 0);
    return socket_fd;
  }();
  Strings datagrams;
  char buffer[65536];
  for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) >= 0;) {
    datagrams.emplace_back(buffer, static_cast<size_t>(n));
  }
  return datagrams;
}

std::string record_of(const std::string &request) {
  return "Korvane Alarm " + request + std::string(1, '\0');
}

// A sandbox for eventadd whose cloud client listens (unless told not to).
struct Scene {
  explicit Scene(const char *switch_file = "alarm\n", bool cloud_listens = true) {
    received();
    box.prepare_service();
    if (switch_file != nullptr) box.write("etc/quagga/events_alarm.conf", switch_file);
    if (!cloud_listens) return;
    mkfifo(box.path("tmp/cloudclient.fifo").c_str(), 0600);
    cloud = open(box.path("tmp/cloudclient.fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  }
  ~Scene() { close(cloud); }
  std::string cloud_records() {
    std::string bytes;
    char buffer[4096];
    for (ssize_t n; (n = read(cloud, buffer, sizeof buffer)) > 0;) bytes.append(buffer, n);
    return bytes;
  }
  Table pending() { return box.rows("select eventid,notifyflag,context from eventlogcache"); }

  SandboxRoot box;
  int cloud = -1;
};

TEST(Eventadd, EnableValueDecidesRowLogDatagramAndFifo) {
  const struct {
    const char *switch_file;  // null: none
    bool service_running;
    int enable;
  } cases[] = {{nullptr, false, 0}, {nullptr, true, 0},       {"off\nalarms\n", false, 0},
               {"off\n", true, 1},  {"x\nalarm\n", false, 1}, {"alarm\n", true, 2},
               {"alarm", false, 0}, {" alarm \n", true, 1}};
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.switch_file ? c.switch_file : "none") +
                 (c.service_running ? "+running" : ""));
    Scene scene(c.switch_file);
    SandboxProcess fake;  // listed as alertmill, no daemon behind it
    if (c.service_running)
      fake.start(scene.box.dir(), "", sandbox_dev_dir() + "/snmp-mib", {"alertmill"});
    SandboxRoot::Run run = scene.box.eventadd({"4019"});
    EXPECT_EQ(run.status, 0) << run.err;
    std::string request = "&eventid=4019&sqlid=" + std::string(c.enable == 1 ? "1" : "") + "&";
    std::string said = "= eventadd 4019  =\nalertmill enable " + std::to_string(c.enable) + "\n";
    EXPECT_EQ(run.out.substr(0, said.size()), said);
    EXPECT_EQ(received(), c.enable ? Strings{request} : Strings{});
    EXPECT_EQ(scene.pending(), (c.enable == 1 ? Table{{"4019", "0", ""}} : Table{}));
    EXPECT_EQ(scene.box.rows("select eventid,type,loginfo,readstatus from eventlog"),
              (c.enable ? Table{{"4019", "system", "", "no"}} : Table{}));
    EXPECT_EQ(scene.cloud_records(), record_of(request));  // the cloud hears of every event
  }
}

TEST(Eventadd, LoginTextsStayOutOfTheCloudRecord) {
  Scene scene;
  for (const char *id : {"4013", "4014", "4015"}) scene.box.eventadd({id, "user=bob&text=hi&b=2"});
  EXPECT_EQ(received().at(0), "&eventid=4013&sqlid=1&user=bob&text=hi&b=2");
  EXPECT_EQ(scene.cloud_records(), record_of("&eventid=4013&sqlid=1&user=bob") +
                                       record_of("&eventid=4014&sqlid=2&user=bob") +
                                       record_of("&eventid=4015&sqlid=3&user=bob&text=hi&b=2"));
  EXPECT_EQ(scene.box.rows("select eventid,type,loginfo from eventlog"),
            (Table{{"4013", "user", "user=bob&text=hi&b=2"}}));
}

TEST(Eventadd, HostileAndLongTextsArriveIntact) {
  Scene scene;
  std::string hostile = "a='1';drop table eventlist;--&b=\"$(touch PWN1)\"&c=`touch PWN2`|;<>\\";
  ASSERT_EQ(scene.box.eventadd({"100", hostile}).status, 0);
  EXPECT_EQ(received(), Strings{"&eventid=100&sqlid=1&" + hostile});
  EXPECT_EQ(scene.cloud_records(), record_of("&eventid=100&sqlid=1&" + hostile));
  EXPECT_EQ(scene.pending(), (Table{{"100", "0", hostile}}));
  EXPECT_FALSE(scene.box.exists("PWN1") || scene.box.exists("PWN2"));
  // In 511-byte pieces, then a shorter or empty one; cut past 2047 bytes.
  // The row keeps the first 511 characters.
  for (size_t length : {1022u, 2100u}) {
    scene.box.exec("delete from eventlogcache; delete from sqlite_sequence;");
    std::string text = "x=" + std::string(length - 23, 'L');
    std::string request = "&eventid=100&sqlid=1&" + text;
    ASSERT_EQ(scene.box.eventadd({"100", text}).status, 0);
    Strings pieces;
    for (size_t at = 0; at <= std::min<size_t>(request.size(), 2047); at += 511) {
      pieces.push_back(request.substr(at, std::min<size_t>(511, 2047 - at)));
    }
    EXPECT_EQ(received(), pieces) << length;
    EXPECT_EQ(scene.cloud_records(), record_of(request));
    EXPECT_EQ(scene.pending(), (Table{{"100", "0", text.substr(0, 511)}}));
  }
  // Cuts fall between whole characters: the request's at 2047 bytes, the
  // row's at 511. With the client behind, the cloud record is written whole,
  // kept within what a pipe takes at once.
  scene.box.exec("delete from eventlogcache; delete from sqlite_sequence;");
  const int writer =
      open(scene.box.path("tmp/cloudclient.fifo").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  const std::string page(4096, 'F');
  size_t filled = 0;
  while (write(writer, page.data(), page.size()) == 4096) filled += 4096;
  close(writer);
  char room[4096];
  ASSERT_EQ(read(scene.cloud, room, sizeof room), 4096);
  std::string text = "x=";
  for (int i = 0; i < 2000; ++i) text += "\xe6\x97\xa5";
  const std::string request = "&eventid=100&sqlid=1&" + text;
  const auto run = scene.box.eventadd({"100", text});
  std::string joined;
  for (const std::string &piece : received()) joined += piece;
  EXPECT_EQ(joined, request.substr(0, 2045));
  EXPECT_EQ(scene.pending(), (Table{{"100", "0", text.substr(0, 509)}}));
  EXPECT_EQ(scene.cloud_records(),
            std::string(filled - 4096, 'F') + record_of(request.substr(0, 4079)));
  EXPECT_NE(run.err.find("cloud record cut"), std::string::npos) << run.err;
}

Strings args_of(const std::string &line) {  // '|' between arguments
  Strings args;
  for (size_t start = 0, bar = 0; !line.empty() && bar != std::string::npos; start = bar + 1) {
    bar = line.find('|', start);
    args.push_back(line.substr(start, bar - start));
  }
  return args;
}

// The exit status and what stderr says for each way an event falls short.
TEST(Eventadd, ExitStatusAndWhy) {
  const struct {
    const char *switch_file, *args;
    int status;
    std::string setup;  // "no cloud", "no reader", "offline" or SQL
    std::string said;   // ROOT stands for the root, CONF for the switch file
  } cases[] = {
      {"alarm\n", "100|port=1", 0, "", ""},
      {nullptr, "-t|2024-02-29 23:59:59|100|", 0, "", ""},  // the switch is not asked
      {nullptr, "100", 0, "no cloud",
       "no cloudclient running\neventadd: warning: events are off (CONF cannot be read): event "
       "100 neither recorded nor sent\n"},
      {"off\n", "100", 0, "",
       "eventadd: warning: alertmill is not running and CONF has no alarm line: event 100 neither "
       "recorded nor sent\n"},
      {"alarm\n", "999", 1, "no reader",
       "open ROOT/tmp/cloudclient.fifo error: no reading process\neventadd: unknown event id "
       "999\n"},
      {nullptr, "-t|2023-02-29 07:08:09|100|", 2, "",
       "eventadd: bad time stamp '2023-02-29 07:08:09': want YYYY-MM-DD HH:MM:SS\n"},
      {"alarm\n", "100", 1,
       "create trigger refuse before insert on eventlogcache begin select raise(abort, 'full'); "
       "end",
       "error:full\neventadd: event 100 not recorded: the database refused its row: full\n"},
      {"alarm\n", "100", 1, "offline", "eventadd: event 100 not sent to alertmill: NOROUTE\n"},
      {"alarm\n", "", 2, "", "usage: eventadd ID [TEXT]\n"},
      {"alarm\n", "12x", 2, "", "usage: eventadd ID [TEXT]\n"},
      {"alarm\n", "1|2|3", 2, "", "usage: eventadd ID [TEXT]\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.said);
    Scene scene(c.switch_file, c.setup.find("no ") != 0);
    if (c.setup == "no reader") mkfifo(scene.box.path("tmp/cloudclient.fifo").c_str(), 0600);
    if (c.setup.rfind("create", 0) == 0) scene.box.exec(c.setup);
    if (c.setup == "offline" && !sandbox_own_network()) continue;
    SandboxRoot::Run run = scene.box.eventadd(
        args_of(c.args), c.setup == "offline" ? Strings{"/usr/bin/unshare", "-n"} : Strings{});
    std::string said = c.said;
    for (const auto &[name, value] :
         {std::pair<std::string, std::string>{"CONF", "ROOT/etc/quagga/events_alarm.conf"},
          {"ROOT", scene.box.dir()},
          {"NOROUTE", std::strerror(ENETUNREACH)}}) {  // the C libraries' words differ
      for (size_t at; (at = said.find(name)) != std::string::npos;)
        said.replace(at, name.size(), value);
    }
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(c.status == 2 ? run.err.substr(0, said.size()) : run.err, said);  // usage goes on
  }
}

// The timed variant records and sends whatever the switch says, with the
// time given, and leaves the event log and the cloud alone.
TEST(Eventadd, TimedVariantRecordsItsTime) {
  Scene scene(nullptr);
  scene.box.eventadd({"-t", "2024-03-05 07:08:09", "100", "port=9"});
  EXPECT_EQ(received(), Strings{"&eventid=100&sqlid=1&port=9"});
  EXPECT_EQ(scene.box.rows("select happentime,context from eventlogcache"),
            (Table{{"2024-03-05 07:08:09", "port=9"}}));
  EXPECT_TRUE(scene.box.rows("select * from eventlog").empty());
  EXPECT_EQ(scene.cloud_records(), "");
}

TEST(Eventadd, PendingListsOneLinePerRowOldestFirst) {
  Scene scene;
  unsetenv("COLUMNS");  // cut to the terminal's width otherwise
  EXPECT_EQ(scene.box.eventadd({"--pending"}).out, "no pending events\n");
  scene.box.add_pending(100, "port=3&state=up", "2024-03-05 07:08:08", 3);
  scene.box.add_pending(999, "a=1\tb\n", "2024-03-05 07:08:06", 1);
  EXPECT_EQ(scene.box.eventadd({"--pending"}).out,
            "1\t100\t2024-03-05 07:08:08\twaiting\temail,sms,snmp\temail,sms\tsnmp\tport\t"
            "Port ${port} ${state}\tport=3&state=up\n"
            "2\t999\t2024-03-05 07:08:06\tdiscard:no-definition\t-\t-\t-\t-\t-\ta=1\\tb\\n\n");
  // On a terminal a line ends within its width, fixed fields and all, and
  // never inside an escape or a character.
  scene.box.add_pending(100, "a\x01\xe6\x97\xa5", "2024-03-05 07:08:07");
  const std::string head = "\t100\t2024-03-05 07:08:0", all = "\twaiting\temail,sms,snmp";
  const std::pair<const char *, std::string> widths[] = {
      {"63", "1" + head + "8" + all + "\n2\t999\t2024-03-05 07:08:06\tdiscard:no-definition\n3" +
                 head + "7" + all + "\n"},
      {"124",
       "1" + head + "8" + all + "\temail,sms\tsnmp\tport\tPort ${port} ${state}\tport\n2" +
           "\t999\t2024-03-05 07:08:06\tdiscard:no-definition\t-\t-\t-\t-\t-\ta=1\\tb\\n\n3" +
           head + "7" + all + "\t-\temail,sms,snmp\tport\tPort ${port} ${state}\ta\n"}};
  for (const auto &[columns, out] : widths) {
    setenv("COLUMNS", columns, 1);
    EXPECT_EQ(scene.box.eventadd({"--pending"}).out, out) << columns;
  }
  unsetenv("COLUMNS");
}

}  // namespace
