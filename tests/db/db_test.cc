// The database layer on sandbox databases: the lock, the core, the accessor
// procedure, and the configuration and event tables.
#include "db/db.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "db/accessor.h"
#include "db/config_tables.h"
#include "db/core.h"
#include "tests/support/sandbox_root.h"
#include "utils/alloc.h"
#include "utils/paths.h"

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

using Texts = std::vector<std::string>;
using Table = std::vector<Texts>;

// Whether another process can take the lock file now.
bool other_process_can_lock(const std::string &path) {
  const pid_t child = fork();
  if (child == 0) {
    const int fd = open(path.c_str(), O_RDWR);
    _exit(fd >= 0 && lockf(fd, F_TLOCK, 0) == 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Whether process pid waits in lockf (a blocked request in /proc/locks).
bool waits_for_lock(pid_t pid) {
  std::ifstream locks("/proc/locks");
  const std::regex waiter("-> POSIX +ADVISORY +WRITE +" + std::to_string(pid) + " ");
  for (std::string line; std::getline(locks, line);) {
    if (std::regex_search(line, waiter)) return true;
  }
  return false;
}

// A record's fields in order: records are zero-filled char arrays, so with
// every cell non-empty its non-empty NUL-separated texts are its fields.
template <typename Row>
Texts fields(const Row &row, size_t size = sizeof(Row)) {
  Texts texts;
  for (size_t at = 0; at < size; ++at) {
    const char *text = reinterpret_cast<const char *>(&row) + at;
    if (*text == '\0') continue;
    texts.emplace_back(text, strnlen(text, size - at));
    at += texts.back().size();
  }
  return texts;
}
Texts fields(const DhcpServerRow &row) {
  Texts texts = fields(row, offsetof(DhcpServerRow, default_leasetime));
  texts.push_back(std::to_string(row.default_leasetime));
  texts.push_back(std::to_string(row.max_leasetime));
  return texts;
}
// The switches by slot repeat the named fields of the catalogue's channels.
Texts fields(const EventListRow &row) {
  for (int slot = 0; slot < catalogue_count(); ++slot) {
    EXPECT_STREQ(row.switches[slot], row.*catalogue_entry(slot).field);
  }
  return fields(row, offsetof(EventListRow, switches));
}

// A read: its result, and its records' fields in *texts.
using Read = std::function<int(Texts *texts)>;

template <typename Row, typename... Args>
Read one(int (*get)(Row **, Args...), Args... args) {
  return [=](Texts *texts) {
    Row *row = nullptr;
    const int result = get(&row, args...);
    *texts = row != nullptr ? fields(*row) : Texts{};
    utils_free(&row);
    return result;
  };
}

template <typename Row, typename... Args>
Read all(int (*get)(Row **, int *, Args...), Args... args) {
  return [=](Texts *texts) {
    Row *rows = nullptr;
    int count = 0;
    const int result = get(&rows, &count, args...);
    texts->clear();
    for (int i = 0; rows != nullptr && i < count; ++i) {
      const Texts more = fields(rows[i]);
      texts->insert(texts->end(), more.begin(), more.end());
    }
    utils_free(&rows);
    return result;
  };
}

// The stdout traces of an operation that gives expected.
std::string traced(const std::function<int()> &operation, int expected) {
  db_set_stdout_traces(true);
  CaptureStdout();
  EXPECT_EQ(operation(), expected);
  db_set_stdout_traces(false);
  return GetCapturedStdout();
}

// Each test has a root with the event tables; traces stay off but where a
// test reads them.
class Db : public testing::Test {
 protected:
  void SetUp() override {
    db_set_stdout_traces(false);
    root_.create_event_tables();
  }
  void TearDown() override { db_set_stdout_traces(true); }
  void given(const std::string &sql) { EXPECT_EQ(root_.exec(sql), SQLITE_OK) << sql; }
  SandboxRoot root_;
};

// Every holder of the lock file shares one descriptor, and only the last
// release unlocks it: lockf locks belong to the process, so an early unlock
// or close would drop the lock under another thread. A symlinked lock file
// is followed, as the appliance's other lockers do.
TEST_F(Db, LockHoldersShareOneLockThatTheLastReleases) {
  const std::string path = utils_path(paths::kDbLock), file = root_.path("tmp/real.fl");
  ASSERT_EQ(symlink(file.c_str(), path.c_str()), 0);
  const int first = db_lock(path.c_str()), second = db_lock(path.c_str());
  ASSERT_GE(first, 0);
  EXPECT_EQ(second, first);
  EXPECT_NE(fcntl(first, F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_EQ(db_unlock(second), 0);
  EXPECT_FALSE(other_process_can_lock(file));
  auto churn = [&] {
    for (int i = 0; i < 300; ++i) db_unlock(db_lock(path.c_str()));
  };
  std::thread one(churn), other(churn);
  one.join();
  other.join();
  EXPECT_FALSE(other_process_can_lock(file));
  EXPECT_EQ(db_unlock(first), 0);
  EXPECT_TRUE(other_process_can_lock(file));
  SandboxRoot empty(false);
  EXPECT_EQ(db_lock(utils_path(paths::kDbLock).c_str()), -1);
}

// An operation waits while another process holds the lock: the holder adds a
// row just before it lets go, which the waiting read must see. A wait past
// the report time is reported once, and once more when it ends, on stderr
// and in the system log at LOG_WARNING (LOG_PERROR copies what the mask lets
// through to stderr).
// ThreadSanitizer runs a signal's handler only once the interrupted call has
// returned for good: there the handler is seen after the lock is released.
#if defined(__SANITIZE_THREAD__)
constexpr bool kHandlersDeferred = true;
#elif defined(__has_feature)
constexpr bool kHandlersDeferred = __has_feature(thread_sanitizer);
#else
constexpr bool kHandlersDeferred = false;
#endif

TEST_F(Db, AnOperationWaitsForAnotherProcessAndReportsTheWait) {
  const std::string path = utils_path(paths::kDbLock);
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready) + pipe(release), 0);
  const pid_t holder = fork();
  char byte = 0;
  if (holder == 0) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT, 0644);
    const bool held = fd >= 0 && lockf(fd, F_LOCK, 0) == 0 && write(ready[1], &byte, 1) == 1 &&
                      read(release[0], &byte, 1) == 1;
    _exit(held && root_.exec("insert into eventlogcache(context) values('held');") == 0 ? 0 : 1);
  }
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  const int saved_stderr = dup(2), log = open(root_.path("log").c_str(), O_WRONLY | O_CREAT, 0644);
  dup2(log, 2);
  openlog("dbtest", LOG_PERROR, LOG_USER);
  const int saved_mask = setlogmask(LOG_MASK(LOG_WARNING));
  db_set_lock_wait_report(50);
  Texts texts;
  int result = -9, status = -1;
  // A signal whose handler does not restart calls only interrupts the wait.
  static std::atomic<bool> interrupted{false};
  struct sigaction interrupt {};
  interrupt.sa_handler = [](int) { interrupted = true; };
  sigaction(SIGUSR1, &interrupt, nullptr);
  std::thread waiter([&] { result = all(eventlogcache_get_all)(&texts); });
  EXPECT_TRUE(sandbox_wait_until([&] { return waits_for_lock(getpid()); }));
  pthread_kill(waiter.native_handle(), SIGUSR1);
  EXPECT_TRUE(sandbox_wait_until([&] {
    return (kHandlersDeferred || interrupted) && (waits_for_lock(getpid()) || result != -9);
  }));
  EXPECT_EQ(write(release[1], &byte, 1), 1);
  waiter.join();
  EXPECT_TRUE(interrupted);
  db_set_lock_wait_report(0);
  setlogmask(saved_mask);
  openlog(nullptr, 0, LOG_USER);  // no more copies on stderr
  closelog();
  dup2(saved_stderr, 2);
  waitpid(holder, &status, 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(texts, (Texts{"1", "0", "held"}));
  std::istringstream in(root_.read("log"));
  std::string lines[5];
  for (std::string &line : lines) std::getline(in, line);
  const std::string self = "db_test[" + std::to_string(getpid()) + "] ";
  EXPECT_EQ(lines[0].find(self + "has waited "), 0u) << lines[0];
  EXPECT_NE(
      lines[0].find(" s for the lock file " + path + " held by process " + std::to_string(holder)),
      std::string::npos);
  EXPECT_EQ(lines[2].find(self + "got the lock file " + path + " after "), 0u) << lines[2];
  EXPECT_EQ(lines[1] + lines[3] + lines[4], "dbtest: " + lines[0] + "dbtest: " + lines[2]);
  for (int fd : {log, saved_stderr, ready[0], ready[1], release[0], release[1]}) close(fd);
}

// A lock that lockf refuses (EDEADLK: its holder waits for a lock of ours)
// fails the operation, reported, instead of running it unlocked.
TEST_F(Db, ARefusedLockFailsTheOperation) {
  const std::string path = utils_path(paths::kDbLock), other = root_.path("tmp/other.fl");
  const int mine = open(other.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  int ready[2];
  ASSERT_TRUE(pipe(ready) == 0 && lockf(mine, F_LOCK, 0) == 0);
  const pid_t holder = fork();
  char byte = 0;
  if (holder == 0) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT, 0644), wanted = open(other.c_str(), O_RDWR);
    const bool held = lockf(fd, F_LOCK, 0) == 0 && write(ready[1], &byte, 1) == 1;
    _exit(held && lockf(wanted, F_LOCK, 0) == 0 ? 0 : 1);
  }
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  ASSERT_TRUE(sandbox_wait_until([&] { return waits_for_lock(holder); }));
  db_set_lock_wait_report(1);
  CaptureStderr();
  Texts texts;
  EXPECT_EQ(all(eventlogcache_get_all)(&texts), -1);
  db_set_lock_wait_report(0);
  const std::string cause = " cannot be locked, operation not run: ";
  EXPECT_NE(GetCapturedStderr().find(path + cause + std::strerror(EDEADLK)), std::string::npos);
  int status = -1;
  close(mine), close(ready[0]), close(ready[1]), waitpid(holder, &status, 0);
  EXPECT_EQ(status, 0);
}

struct RouteRow {
  char name[8];
  int32_t metric;
  char gateway[16];
};
constexpr DbLayout kRoute{
    "select name,metric,gateway from route",
    {ALERTMILL_DB_TEXT(RouteRow, name), ALERTMILL_DB_INTEGER(RouteRow, metric),
     ALERTMILL_DB_TEXT(RouteRow, gateway)}};
constexpr DbLayout kNowhere{"select name,metric,gateway from nowhere", kRoute};
struct BigRow {
  char text[4096];
};
constexpr DbLayout kBig{"select text from (select 'x' as text)", {ALERTMILL_DB_TEXT(BigRow, text)}};

// A '%s' between quotes is a text value, its quotes doubled; a statement is
// never cut: one that does not fit is not made at all.
TEST_F(Db, Statements) {
  DbStatement<12> sql;
  EXPECT_STREQ(sql.format("%d %s", 3, "a'b"), "3 a'b");
  EXPECT_STREQ(sql.format("id='%s';", "123'"), "id='123''';");  // 11 characters
  CaptureStderr();
  EXPECT_EQ(sql.format("id='%s';", "1234'"), nullptr);
  EXPECT_EQ(GetCapturedStderr(),
            "statement of 12 characters does not fit its 12-byte buffer, not run: id='%s';\n");
  EXPECT_EQ(sql.c_str(), nullptr);
}

// Reads fill records through their layouts and report by their result
// schemes; a session runs several steps on one connection, and a read-only
// one changes nothing.
TEST_F(Db, ReadsAndSessions) {
  given(
      "create table route(name, metric, gateway); insert into route values"
      "('lan-default','20','192.168.100.254'),('r1',NULL,NULL),('r2','3s','g');");
  constexpr DbResults kCustom{-11, -12, -13, -14, -15};
  RouteRow *rows = nullptr;
  int count = 0;
  ASSERT_EQ(db_read_row(&rows, kRoute), 0);
  EXPECT_EQ(rows->name + std::to_string(rows->metric) + rows->gateway, "lan-def20192.168.100.254");
  utils_free(&rows);
  // A count above the rows found leaves the records after them empty.
  ASSERT_EQ(db_read_list(&rows, &count, "select 4;", db_select<64>(kRoute, " order by name;")), 0);
  ASSERT_EQ(count, 4);
  EXPECT_EQ(std::string(rows[1].name) + rows[1].gateway + rows[3].name, "r1");
  EXPECT_EQ(rows[1].metric + rows[2].metric, 3);
  utils_free(&rows);
  EXPECT_EQ(db_read_row(&rows, db_select<64>(kRoute, " where name='x';"), kCustom), -14);
  EXPECT_EQ(db_read_list(&rows, &count, "select count(*) from nowhere;", kRoute, kCustom), -12);
  EXPECT_EQ(db_read_list(&rows, &count, "select 0;", kRoute, kCustom), -13);
  EXPECT_EQ(db_read_list(&rows, &count, "select 2;", kNowhere, kCustom), -14);
  BigRow *big = nullptr;  // more records than one allocation holds
  EXPECT_EQ(db_read_list(&big, &count, "select 9999999;", kBig, kCustom), -15);
  {
    DbSession session;
    EXPECT_TRUE(session.found("select name from route;"));
    EXPECT_FALSE(session.found("select name from route where name='x';"));
    EXPECT_EQ(session.count("select count(*) from route;", &count), 0);
    EXPECT_EQ(count, 3);
  }
  EXPECT_EQ(DbSession(nullptr, DbAccess::kReadOnly).exec("delete from route;"), SQLITE_READONLY);
  SandboxRoot empty(false);
  EXPECT_EQ(db_read_row(&rows, kRoute, kCustom), -11);
}

// What a read gives with one row, with an empty table, without the table,
// and when the database does not open.
struct Results {
  int row, empty, missing, unopened;
};
constexpr Results kRow{0, -2, -2, -1}, kList{0, -3, -2, -1}, kUser{-2, -2, -2, -2},
    kOpenvpn{0, -1, -1, -1}, kWeb{0, -4, -4, -1}, kReport{0, -3, -1, -1};
constexpr char kEventList[] =
    "eventlist:id,eventid,eventname,type,cycle,cycleunit,threshold,latestthreshold,enablerecord,"
    "emailnotify,smsnotify,snmpnotify,subject,prompt,logcontext,repeatcount,context_en,context_ch";
constexpr char kEventLogCache[] = "eventlogcache:id,eventid,notifyflag,context,happentime";

// "table:column,...": the table is made of these columns and one row in
// which each cell holds its column's name, or the text after a '='; they are
// listed in the order of the record's fields. setup runs after the table is
// made.
struct TableRead {
  std::string columns;
  Read read;
  Results results = kRow;
  const char *setup = "";
};

// Every read of a configuration or event table: each field holds the start
// (its width allows no more) of its own column's cell, so a swapped, shifted
// or missing column shows.
TEST_F(Db, EveryReadFillsEachFieldFromItsOwnColumn) {
  const TableRead reads[] = {
      {"dhcpserver:enable,routers,subnetmask,dns1,dns2,ipfrom,ipto,ntpserver,tftpserver,"
       "default_leasetime=86400,max_leasetime=3600s",
       one(dhcpserver_get)},
      {"mailboxsetting:email,secret,smtpserver,port,usessl,fromlineoverride,root,rewritedomain,"
       "pop3server,pop3port,pop3interval,pop3delemail,sendername,needauth",
       one(mailboxsetting_get)},
      {"ddnssetting:enableddns,domain,username,password,freednshash,ddnsserver",
       one(ddnssetting_get)},
      {"dateandtime:timezone,enabledst,enablentp,ntpserver", one(dateandtime_get)},
      {"networkservice:enablessh,sshport,enableftp,ftpport,enabletftp,tftpport,httpscert,"
       "webprotocol,webport,redirecturl,webexpiretime,extloginmode,emlloginmode",
       one(networkservice_get)},
      {"l2tpsetting:type,enable,serveraddr,port,username,password,maxmtu,maxmru,useprofile",
       one(l2tpsetting_get)},
      {"openvpnsetting:type,serveraddr,serverport,protocol,device,username,password,encryption,"
       "compression,proxyserver,proxyport,enable,useprofile,tlsauth,cacrt,clientcrt,clientkey,"
       "takey,tarname",
       one(openvpnsetting_get), kOpenvpn},
      {"ipsecsetting:type,enable,negotiation,verification,encryption,dhgroup,authentimodle,"
       "privatekey,sharekey,leftkey,rightkey,ikelifetime,dpdenable,dpdchktimes,dpdretrycount,"
       "dpdtimeout,remoteip,remotesubnet,safeprotocol,espverify,espencryption,pfsenable,"
       "ipseclifetime,localid,remoteid,useprofile",
       one(ipsecsetting_get)},
      {"basicnetwork:hostname,mode,gwnic", one(basicnetwork_get)},
      {"fwgeneral:enable,disableping,dropall", one(fwgeneral_get)},
      {"sysdatalocation:id,datatype,storagetype,storageslotid",
       one(sysdatalocation_get, "datatype")},
      {"sysautoclean:maxnumberlog,keeplogday", one(sysautoclean_get)},
      {"firmwareupgrade:autoupgrademode,autoupgradeweek,autoupgradehour", one(firmwareupgrade_get)},
      {"syslog:syslogmode", one(syslogmode_get)},
      {"databasegrant:id,username,password,host", one(databasegrant_get, "id")},
      {"databasegrant:id,username,password,host", one(databasegrant_get_last)},
      // MySQL's "binary": SQLite refuses the select, and a failed open reads -2 too.
      {"usermanagement:username,email", one(usermanagement_get_by_username, "username"), kUser},
      {"usermanagement:username,email", one(usermanagement_get_by_email, "email"), kUser},
      {"loginmanage:remoteip,trytimes,date,state", one(loginmanage_get, "remoteip")},
      {"usermanagement:username" ALERTMILL_SUMMARY_PERMISSIONS(ALERTMILL_PERMISSION_COLUMN),
       one(usermanagement_get_permissions, "username")},
      {"appsetting:autoupgradeweek,autoupgradehour", one(appsetting_get)},
      {"hoststandby:enable,mode,hostname,ipaddress,authkeys,vipaddress,vnetmask,pingnodes,"
       "keepalive,deadtime,reboottime,synctime,hbudpport,stoption,syncuser,syncpass",
       one(hoststandby_get)},
      {"sharesetting:enable,sharename,username,password,enabledelete", one(sharesetting_get)},
      {"backupschedule:enable,backuptime,storagetype,backupmaxnumber,backupidx,prefixfile,"
       "storagetypeid,setbackuptime",
       one(backupschedule_get)},
      {"staticroute:id,destination,subnet,gateway,metric,iface,description",
       all(staticroute_get_all), kList},
      {"storage:id,name,enable,host,sharename,username,password", all(storage_get_all), kList},
      {"nicsetting:id,iface,type,ipaddress,netmask,gateway,dns1,dns2,ipaddress2,netmask2,"
       "pppoeusername,pppoepassword,enablevlan,vlanid,vlanpriority",
       all(nicsetting_get_all), kList},
      {"fwcommonrule:id,pos,rulename,fwdescribe,protocol,port,ip,mac,action",
       all(fwcommonrule_get_all), kList},
      {"fwipblacklistrule:id,rulename,type,port,protocol,packets,fwinterval",
       all(fwipblacklistrule_get_all), kList},
      {"fwipblacklist:id,datetime,protocol,srcip,dstport,interface,macaddr,sourceflag",
       all(fwipblacklist_get_all), kList},
      {"eventcontact:id,contact,extensionid,enableemail,enablesms,enablemobile,enableextension,"
       "enablewechat,email,mobileprefix,mobile,wechat",
       all(eventcontact_get_all), kList},
      {"sysdatalocation:id,datatype,storagetype,storageslotid", all(sysdatalocation_get_all),
       kList},
      // Installed applications only.
      {"appcenter:app,autoupgrade", all(appcenter_get_all), kList,
       "alter table appcenter add type default 1; alter table appcenter add localversion default "
       "'1.2.0'; insert into appcenter values('a','a',2,'3.0'),('b','b',1,'0.0.0'),"
       "('c','c',1,''),('d','d',1,NULL);"},
      {"webprivilege:id,name,frame,privilege,level1,level2,level3,privilegetab",
       all(webprivilege_get_all, 0, 0, 0), kWeb},
      {std::string("usermanagement:") + (kAllPermissionColumns + 1),
       [](Texts *texts) {
         UserPermissionRow permission{};
         const int result = user_permission_get(&permission, "u");
         *texts = fields(permission);
         return result;
       },
       kRow,
       "alter table usermanagement add type; alter table usermanagement add username "
       "default 'u';"},
      {kEventList, one(eventlist_get, "eventid")},
      {kEventList, all(eventlist_get_all), kList},
      {"eventlog:id,datetime,type,eventid,loginfo", one(eventlog_get, "eventid")},
      {kEventLogCache, one(+[](EventLogCacheRow **row) { return eventlogcache_get("id", row); })},
      {kEventLogCache, all(eventlogcache_get_all), kList},
      // Read-only: no database file is made for it.
      {kEventLogCache, all(eventlogcache_get_report), kReport,
       "create table eventlist(id,eventid,eventname,subject,emailnotify,smsnotify,snmpnotify);"},
  };
  for (const TableRead &read : reads) {
    SCOPED_TRACE(read.columns.substr(0, 40));
    auto run = [&](int expected) {
      Texts texts;
      EXPECT_EQ(read.read(&texts), expected);
      EXPECT_TRUE(expected == 0 || texts.empty());  // no record on failure
      return texts;
    };
    {
      SandboxRoot unopenable(false);
      run(read.results.unopened);
    }
    SandboxRoot root;
    run(read.results.missing);
    std::istringstream in(read.columns);
    std::string table, names, values, column;
    std::getline(in, table, ':');
    Texts cells;
    while (std::getline(in, column, ',')) {
      const size_t equals = column.find('=');
      cells.push_back(column.substr(equals == std::string::npos ? 0 : equals + 1));
      names += "," + column.substr(0, equals);
      values += ",'" + cells.back() + "'";
    }
    ASSERT_EQ(root.exec("create table " + table + "(" + names.substr(1) + ");" + read.setup), 0);
    run(read.results.empty);
    ASSERT_EQ(root.exec("insert into " + table + "(" + names.substr(1) + ") values(" +
                        values.substr(1) + ");"),
              0);
    const Texts texts = run(read.results.row);
    if (read.results.row != 0) continue;
    ASSERT_EQ(texts.size(), cells.size()) << testing::PrintToString(texts);
    for (size_t i = 0; i < cells.size(); ++i) {
      EXPECT_EQ(texts[i], cells[i].substr(0, texts[i].size())) << cells[i];
    }
  }
}

// storage_get_last reads "select *" by position: the table's columns are id,
// enable, host, sharename, username, password, name.
TEST_F(Db, StorageByIdAndLast) {
  given(
      "create table storage(id integer primary key,enable,host,sharename,username,password,"
      "name); insert into storage values(1,'1','h1','s1','u1','p1','n1'),"
      "(7,'0','h7','s7','u7','p7','n7'),(3,'1','h3','s3','u3','p3','n3');");
  Texts texts;
  EXPECT_EQ(one(storage_get_last)(&texts), 0);
  EXPECT_EQ(texts, (Texts{"7", "n7", "0", "h7", "s7", "u7", "p7"}));
  EXPECT_EQ(one(storage_get, 3)(&texts), 0);
  EXPECT_EQ(texts[1], "n3");
  EXPECT_EQ(one(storage_get, 9)(&texts), -4);
}

TEST_F(Db, ConfigurationWrites) {
  given(
      "create table staticroute(id,destination,subnet,gateway,metric,iface,description);"
      "insert into staticroute values('4','10.9.0.0','255.255.0.0','192.168.1.9','1','eth0',"
      "'lab'); create table backupschedule(backupidx,setbackuptime); insert into backupschedule "
      "values('0','none'); create table sysdatalocation(datatype,storagetype,storageslotid);"
      "insert into sysdatalocation values('recording','local','0'),('voicemail','nas','3');");
  StaticRouteRow route{"4", "10.9.0.0", "255.255.0.0", "192.168.1.9", "1", "eth0", "moved"};
  int count = -1;
  EXPECT_EQ(staticroute_count_same(&route, &count), 0);
  snprintf(route.gateway, sizeof route.gateway, "192.168.1.10");
  EXPECT_EQ(staticroute_count_same(&route, &count), -3);
  EXPECT_EQ(staticroute_set(&route), 0);
  EXPECT_EQ(staticroute_add(&route), 0);  // MySQL's "value(": refused, reported as done
  EXPECT_EQ(root_.rows("select gateway,description from staticroute;"),
            (Table{{"192.168.1.10", "moved"}}));
  EXPECT_EQ(backupschedule_set("3", "-1"), 0);
  EXPECT_EQ(backupschedule_set("4", "06-01 03:00"), 0);
  EXPECT_EQ(root_.rows("select * from backupschedule;"), (Table{{"3", "06-01 03:00"}}));
  const SysDataLocationRow location{"", "", "usb", "1"};
  EXPECT_EQ(sysdatalocation_set(&location, "voicemail"), SQLITE_OK);
  EXPECT_EQ(table_count("sysdatalocation", "storagetype='usb' and storageslotid='1'", &count), 0);
  EXPECT_EQ(count, 1);
  given("drop table staticroute; drop table sysdatalocation;");
  EXPECT_EQ(staticroute_count_same(&route, &count), -2);
  EXPECT_EQ(staticroute_set(&route), 0);
  EXPECT_EQ(sysdatalocation_set(&location, "voicemail"), SQLITE_ERROR);
}

EventLogCacheRow pending(const char *eventid, const char *context) {
  EventLogCacheRow row{};
  snprintf(row.eventid, sizeof row.eventid, "%s", eventid);
  snprintf(row.context, sizeof row.context, "%s", context);
  snprintf(row.happentime, sizeof row.happentime, "2026-12-06 01:02:03");
  return row;
}

// Only the listing at start-up leaves the channel columns out.
TEST_F(Db, EventDefinitions) {
  EventListRow *rows = nullptr;
  int count = -1;
  {
    SandboxRoot empty;
    EXPECT_EQ(event_tables_init(&rows, &count), -3);
    EXPECT_EQ(empty.rows("select name from sqlite_master where name like 'event%' order by name;"),
              (Table{{"eventlist"}, {"eventlog"}, {"eventlogcache"}}));
  }
  given(
      "insert into eventlist(eventid,eventname,type,cycle,latestthreshold,smsnotify) values"
      "('19','n19','t19','c','l','1'),('20','n20','t20','c','l','1');");
  const std::string out = traced([&] { return event_tables_init(&rows, &count); }, 0);
  ASSERT_EQ(count, 2);
  EXPECT_EQ(rows[1].cycle + std::string("|") + rows[1].smsnotify, "c|");
  utils_free(&rows);
  EXPECT_NE(out.find("count 2\n"), std::string::npos);
  EXPECT_EQ(out.substr(out.find("id\t")),
            "id\teventid\teventname\ttype\t\n1\t19\tn19\tt19\n2\t20\tn20\tt20\n");
  EventListRow row{};
  snprintf(row.eventid, sizeof row.eventid, "19");
  snprintf(row.latestthreshold, sizeof row.latestthreshold, "5',cycl");
  EXPECT_EQ(eventlist_set_latestthreshold(&row), SQLITE_OK);  // its column and event only
  EXPECT_EQ(root_.rows("select eventid,cycle,latestthreshold from eventlist;"),
            (Table{{"19", "c", "5',cycl"}, {"20", "c", "l"}}));
}

TEST_F(Db, PendingEvents) {
  const char *quotes = "&text=it's a ''test''', '');DELETE FROM eventlogcache;--&";
  const EventLogCacheRow first = pending("4019", quotes), second = pending("4020", "b");
  char id[16] = "stale";
  EXPECT_EQ(eventlogcache_add(&first, id, sizeof id), 0);
  EXPECT_STREQ(id, "1");
  EXPECT_EQ(eventlogcache_add(&second, id, sizeof id), 0);
  EXPECT_STREQ(id, "2");
  EXPECT_EQ(eventlogcache_set_notifyflag("1", 3), SQLITE_OK);
  for (const char *injected : {"1' OR '1'='1", "1';DELETE FROM eventlogcache;--"}) {
    EXPECT_EQ(eventlogcache_set_notifyflag(injected, 7), SQLITE_OK);
    EXPECT_EQ(eventlogcache_delete(injected), SQLITE_OK);
    EXPECT_EQ(eventlogcache_exists(injected), 1);  // the look-up ran
  }
  EXPECT_EQ(root_.rows("select * from eventlogcache;"),
            (Table{{"1", "4019", "3", quotes, first.happentime},
                   {"2", "4020", "0", "b", second.happentime}}));
  EXPECT_EQ(eventlogcache_delete("1"), SQLITE_OK);
  EXPECT_EQ(root_.rows("select id from eventlogcache;"), Table{{"2"}});
  EXPECT_EQ(eventlogcache_clear(), SQLITE_OK);
  Texts texts;
  EXPECT_EQ(traced([&] { return all(eventlogcache_get_all)(&texts); }, -3),
            "ready to conn sql\nquery:select count(*) from eventlogcache;\n");
}

// A refused insert hands out no id, not even that of the last row.
TEST_F(Db, AddNamesOnlyTheRowItInserted) {
  const EventLogCacheRow row = pending("1", "x");
  char id[16] = "stale";
  EXPECT_EQ(eventlogcache_add(&row, id, sizeof id), 0);
  given(
      "create trigger refuse before insert on eventlogcache begin select raise(abort, 'full');"
      "end;");
  CaptureStderr();
  EXPECT_EQ(eventlogcache_add(&row, id, sizeof id), SQLITE_CONSTRAINT);
  EXPECT_EQ(GetCapturedStderr(), "error:full\n");
  EXPECT_STREQ(id, "");
  given("drop table eventlogcache;");
  EXPECT_EQ(eventlogcache_add(&row, id, sizeof id), -2);  // the id query failed too
}

// Without the database an operation fails as it says; without the lock file
// it runs unlocked. No busy handler: while another connection holds the
// database, a write reports SQLITE_BUSY and a look-up fails, at once.
TEST_F(Db, UnavailableDatabaseOrLockFile) {
  {
    SandboxRoot unopenable(false);
    const EventLogCacheRow row = pending("1", "x");
    char id[16] = "stale";
    EXPECT_EQ(
        traced([&] { return eventlogcache_add(&row, id, sizeof id); }, -1),
        "open database " + utils_path(paths::kEventsDb) + " : unable to open database file\n");
    EXPECT_STREQ(id, "");
    EXPECT_EQ(backupschedule_set("1", "-1"), -3);
  }
  ASSERT_EQ(rmdir(root_.path("tmp").c_str()), 0);
  given("insert into eventlogcache(eventid) values(1);");
  sqlite3 *holder = nullptr;
  ASSERT_EQ(sqlite3_open(utils_path(paths::kEventsDb).c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(holder, "begin exclusive;", nullptr, nullptr, nullptr), SQLITE_OK);
  CaptureStderr();
  EXPECT_EQ(eventlogcache_delete("1"), SQLITE_BUSY);
  EXPECT_EQ(eventlogcache_exists("1"), 0);
  EXPECT_EQ(GetCapturedStderr(), "error:database is locked\n");
  sqlite3_close(holder);
  EXPECT_EQ(eventlogcache_clear(), SQLITE_OK);
}

// Fills a text field to its width with quotes, which a statement doubles.
template <size_t N>
void quotes(char (&field)[N]) {
  memset(field, '\'', N - 1);
  field[N - 1] = '\0';
}

// Every statement with a WHERE clause whose values can outgrow its buffer,
// at its worst (fields full of quotes, texts longer than any buffer): cut, it
// could end after a closing quote and run without the rest of its WHERE
// clause, so it must not run at all.
TEST_F(Db, StatementsThatDoNotFitNeverRun) {
  given(
      "create table staticroute(id,destination,subnet,gateway,metric,iface,description);"
      "insert into staticroute values(1,'a','b','c','1','l','x');");
  const std::string longest(2100, '\'');
  const char *text = longest.c_str();
  StaticRouteRow route;
  quotes(route.id), quotes(route.destination), quotes(route.subnet), quotes(route.gateway);
  quotes(route.metric), quotes(route.iface), quotes(route.description);
  SysDataLocationRow location;
  quotes(location.storagetype), quotes(location.storageslotid);
  UserPermissionRow permission{};
  EventLogCacheRow *row = nullptr;
  Texts texts;
  int count = 0;
  const std::pair<std::function<int()>, int> cases[] = {
      {[&] { return one(eventlist_get, text)(&texts); }, -2},
      {[&] { return one(eventlog_get, text)(&texts); }, -2},
      {[&] { return eventlogcache_get(text, &row); }, -2},
      {[&] { return eventlogcache_exists(text); }, 0},
      {[&] { return eventlogcache_set_notifyflag(text, 7); }, SQLITE_TOOBIG},
      {[&] { return eventlogcache_delete(text); }, SQLITE_TOOBIG},
      {[&] { return one(sysdatalocation_get, text)(&texts); }, -2},
      {[&] { return one(databasegrant_get, text)(&texts); }, -2},
      {[&] { return one(usermanagement_get_by_username, text)(&texts); }, -2},
      {[&] { return one(usermanagement_get_by_email, text)(&texts); }, -2},
      {[&] { return one(loginmanage_get, text)(&texts); }, -2},
      {[&] { return one(usermanagement_get_permissions, text)(&texts); }, -2},
      {[&] { return user_permission_get(&permission, text); }, -2},
      {[&] { return staticroute_count_same(&route, &count); }, -2},
      {[&] { return table_count("staticroute", text, &count); }, -2},
      {[&] { return forgetpwd_check(text, "1"); }, 0},
      {[&] { return forgetpwd_exists(text); }, 0},
      {[&] { return loginmanage_exists(text); }, 0},
      {[&] { return loginmanage_locked(text); }, 0},
      {[&] { return staticroute_set(&route); }, -1},
      {[&] { return forgetpwd_delete(text); }, -1},
      {[&] { return loginmanage_delete(text); }, -1},
      {[&] { return sysdatalocation_set(&location, text); }, SQLITE_TOOBIG},
  };
  db_set_stdout_traces(true);
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    CaptureStdout();
    CaptureStderr();
    EXPECT_EQ(cases[i].first(), cases[i].second);
    EXPECT_EQ(GetCapturedStdout(), "");  // no query, no statement
    EXPECT_NE(GetCapturedStderr().find("does not fit its"), std::string::npos);
    EXPECT_STREQ(db_last_error(), "statement longer than its buffer, not run");
  }
  EXPECT_EQ(root_.rows("select * from staticroute;"), (Table{{"1", "a", "b", "c", "1", "l", "x"}}));
}

}  // namespace
