// Configuration table accessors on a sandbox database whose tables each test
// creates with the columns the statements name.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "db/db.h"
#include "tests/support/db_sandbox.h"
#include "utils/alloc.h"
#include "utils/paths.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

// A field holds its column's text cut to the field's width - 1.
template <size_t Width>
void expect_field(const char (&field)[Width], const std::string &text) {
  EXPECT_EQ(std::string(field), text.substr(0, Width - 1)) << "text " << text;
}

class ConfigTables : public testing::Test {
 protected:
  void SetUp() override { CaptureStdout(); }
  // The traces are kept out of the way unless a test fails (its messages
  // went to the captured stdout too).
  void TearDown() override {
    std::string trace = GetCapturedStdout();
    if (HasFailure()) fputs(trace.c_str(), stdout);
  }

  // Creates table with columns (comma-separated names).
  void create(const std::string &table, const std::string &columns) {
    ASSERT_EQ(sandbox_.exec("create table " + table + "(" + columns + ");"), SQLITE_OK) << table;
  }
  void insert(const std::string &table, const std::string &values) {
    ASSERT_EQ(sandbox_.exec("insert into " + table + " values(" + values + ");"), SQLITE_OK)
        << values;
  }
  // Creates table with one row in which every column holds its own name, so
  // a field shows which column filled it.
  void create_named(const std::string &table, const std::string &columns) {
    create(table, columns);
    std::string values;
    size_t from = 0;
    for (size_t comma; (comma = columns.find(',', from)) != std::string::npos; from = comma + 1) {
      values += "'" + columns.substr(from, comma - from) + "',";
    }
    insert(table, values + "'" + columns.substr(from) + "'");
  }
  std::string value(const std::string &sql) { return sandbox_.value(sql); }

  struct Free {
    template <typename Row>
    void operator()(Row *row) const {
      utils_free(&row);
    }
  };
  template <typename Row>
  using Owned = std::unique_ptr<Row, Free>;

  // Creates table by create_named and reads it back with get.
  template <typename Row>
  Owned<Row> named_row(const std::string &table, const std::string &columns, int (*get)(Row **)) {
    create_named(table, columns);
    Row *row = nullptr;
    EXPECT_EQ(get(&row), 0) << table;
    return Owned<Row>(row);
  }

  DbSandbox sandbox_;
};

TEST_F(ConfigTables, RowReadCutsTextAndConvertsIntegers) {
  create("dhcpserver",
         "enable,routers,subnetmask,dns1,dns2,ipfrom,ipto,ntpserver,tftpserver,"
         "default_leasetime,max_leasetime");
  const std::string long_text(100, 'r');
  insert("dhcpserver",
         "'true','" + long_text +
             "','255.255.255.0',NULL,'8.8.4.4','10.0.0.2','10.0.0.200','pool.ntp.org',"
             "'tftp','86400','3600s'");
  insert("dhcpserver", "'no','second','','','','','','','','1','1'");
  DhcpServerRow *row = nullptr;
  ASSERT_EQ(dhcpserver_get(&row), 0);
  ASSERT_NE(row, nullptr);
  expect_field(row->enable, "true");
  expect_field(row->routers, long_text);
  EXPECT_EQ(strlen(row->routers), sizeof row->routers - 1);
  EXPECT_STREQ(row->subnetmask, "255.255.255.0");
  EXPECT_STREQ(row->dns1, "");  // NULL
  EXPECT_STREQ(row->ntpserver, "pool.ntp.org");
  EXPECT_STREQ(row->tftpserver, "tftp");
  EXPECT_EQ(row->default_leasetime, 86400);
  EXPECT_EQ(row->max_leasetime, 3600);  // atoi stops at the unit
  utils_free(&row);

  ASSERT_EQ(sandbox_.exec("delete from dhcpserver;"), SQLITE_OK);
  row = reinterpret_cast<DhcpServerRow *>(this);
  EXPECT_EQ(dhcpserver_get(&row), -2);
  EXPECT_EQ(row, nullptr);
  EXPECT_EQ(dhcpserver_get(nullptr), -1);
}

// Where the record's order differs from the select's, each field still gets
// its own column.
TEST_F(ConfigTables, FieldsTakeTheirOwnColumns) {
  auto vpn = named_row("openvpnsetting",
                       "type,enable,serveraddr,serverport,protocol,device,username,password,"
                       "encryption,compression,proxyserver,proxyport,useprofile,tlsauth,cacrt,"
                       "clientcrt,clientkey,takey,tarname",
                       openvpnsetting_get);
  ASSERT_NE(vpn, nullptr);
  EXPECT_STREQ(vpn->type, "type");
  EXPECT_STREQ(vpn->serveraddr, "serveraddr");
  EXPECT_STREQ(vpn->proxyport, "proxypo");
  EXPECT_STREQ(vpn->enable, "ena");
  EXPECT_STREQ(vpn->useprofile, "useprof");
  EXPECT_STREQ(vpn->tarname, "tarname");

  auto ipsec = named_row("ipsecsetting",
                         "type,enable,negotiation,verification,encryption,dhgroup,authentimodle,"
                         "privatekey,sharekey,leftkey,rightkey,ikelifetime,dpdenable,dpdchktimes,"
                         "remoteip,remotesubnet,safeprotocol,espverify,espencryption,pfsenable,"
                         "ipseclifetime,useprofile,dpdretrycount,dpdtimeout,localid,remoteid",
                         ipsecsetting_get);
  ASSERT_NE(ipsec, nullptr);
  EXPECT_STREQ(ipsec->sharekey, "sharekey");
  EXPECT_STREQ(ipsec->espencryption, "espencr");  // cut to 8 - 1
  EXPECT_STREQ(ipsec->dpdchktimes, "dpdchkt");
  EXPECT_STREQ(ipsec->dpdretrycount, "dpdretr");
  EXPECT_STREQ(ipsec->dpdtimeout, "dpdtime");
  EXPECT_STREQ(ipsec->remoteip, "remoteip");
  EXPECT_STREQ(ipsec->localid, "localid");
  EXPECT_STREQ(ipsec->remoteid, "remoteid");
  EXPECT_STREQ(ipsec->useprofile, "useprof");

  auto standby = named_row("hoststandby",
                           "enable,mode,hostname,ipaddress,authkeys,vipaddress,vnetmask,pingnodes,"
                           "keepalive,deadtime,reboottime,synctime,hbudpport,syncuser,syncpass,"
                           "stoption",
                           hoststandby_get);
  ASSERT_NE(standby, nullptr);
  EXPECT_STREQ(standby->hbudpport, "hbudppo");
  EXPECT_STREQ(standby->stoption, "stoptio");
  EXPECT_STREQ(standby->syncuser, "syncuser");
  EXPECT_STREQ(standby->syncpass, "syncpass");

  auto grant = named_row("databasegrant", "username,password,host,id", databasegrant_get_last);
  ASSERT_NE(grant, nullptr);
  EXPECT_STREQ(grant->id, "id");
  EXPECT_STREQ(grant->username, "username");
  EXPECT_STREQ(grant->host, "host");
  insert("databasegrant", "'second','p','h','zz'");
  DatabaseGrantRow *row = nullptr;
  ASSERT_EQ(databasegrant_get_last(&row), 0);
  EXPECT_STREQ(row->username, "second");
  utils_free(&row);
  ASSERT_EQ(databasegrant_get(&row, "id"), 0);
  EXPECT_STREQ(row->username, "username");
  utils_free(&row);
  EXPECT_EQ(databasegrant_get(&row, "none"), -2);
  EXPECT_EQ(databasegrant_get(&row, nullptr), -1);

  create_named("eventcontact",
               "id,extensionid,contact,enableemail,enablesms,enablemobile,enableextension,"
               "enablewechat,email,mobileprefix,mobile,wechat");
  EventContactRow *contacts = nullptr;
  int count = 0;
  ASSERT_EQ(eventcontact_get_all(&contacts, &count), 0);
  ASSERT_EQ(count, 1);
  EXPECT_STREQ(contacts[0].contact, "contact");
  EXPECT_STREQ(contacts[0].extensionid, "extensionid");
  EXPECT_STREQ(contacts[0].wechat, "wechat");
  utils_free(&contacts);
}

// storage_get_last reads "select *" by position: id, enable, host,
// sharename, username, password, name.
TEST_F(ConfigTables, StorageReadsByIdAndByColumnPosition) {
  create("storage", "id integer primary key,enable,host,sharename,username,password,name");
  insert("storage", "1,'1','10.0.0.5','backup','admin','secret','nas'");
  insert("storage", "7,'0','10.0.0.7','media','guest','','archive'");
  insert("storage", "3,'1','10.0.0.3','logs','ops','pw','logstore'");
  StorageRow *row = nullptr;
  ASSERT_EQ(storage_get_last(&row), 0);
  EXPECT_STREQ(row->id, "7");
  EXPECT_STREQ(row->enable, "0");
  EXPECT_STREQ(row->host, "10.0.0.7");
  EXPECT_STREQ(row->sharename, "media");
  EXPECT_STREQ(row->username, "guest");
  EXPECT_STREQ(row->password, "");
  EXPECT_STREQ(row->name, "archive");
  utils_free(&row);

  ASSERT_EQ(storage_get(&row, 3), 0);
  EXPECT_STREQ(row->host, "10.0.0.3");
  EXPECT_STREQ(row->name, "logstore");
  utils_free(&row);
  EXPECT_EQ(storage_get(&row, 99), -4);
  EXPECT_EQ(row, nullptr);

  EXPECT_EQ(storage_delete(7), SQLITE_OK);
  EXPECT_EQ(value("select count(*) from storage;"), "2");
  ASSERT_EQ(storage_get_last(&row), 0);
  EXPECT_STREQ(row->id, "3");
  utils_free(&row);
  ASSERT_EQ(sandbox_.exec("delete from storage;"), SQLITE_OK);
  EXPECT_EQ(storage_get_last(&row), -4);
}

TEST_F(ConfigTables, NumberedListRead) {
  StaticRouteRow *rows = reinterpret_cast<StaticRouteRow *>(this);
  int count = -1;
  EXPECT_EQ(staticroute_get_all(&rows, &count), -2);  // no table: the count query fails
  EXPECT_EQ(rows, nullptr);

  create("staticroute", "id integer primary key,destination,subnet,gateway,metric,iface");
  EXPECT_EQ(staticroute_get_all(&rows, &count), -3);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(rows, nullptr);
  insert("staticroute", "1,'10.1.0.0','255.255.0.0','192.168.1.1','1','eth0'");
  EXPECT_EQ(staticroute_get_all(&rows, &count), -4);  // the select names description
  EXPECT_EQ(count, 1);
  EXPECT_EQ(rows, nullptr);

  ASSERT_EQ(sandbox_.exec("alter table staticroute add column description;"), SQLITE_OK);
  insert("staticroute", "2,'10.2.0.0','255.255.0.0','192.168.1.2','20','eth1','office'");
  insert("staticroute",
         "3,'10.3.0.0','255.255.255.0','192.168.1.3','5','wwan0','a long description'");
  ASSERT_EQ(staticroute_get_all(&rows, &count), 0);
  ASSERT_EQ(count, 3);
  EXPECT_STREQ(rows[0].destination, "10.1.0.0");
  EXPECT_STREQ(rows[0].description, "");
  EXPECT_STREQ(rows[1].id, "2");
  EXPECT_STREQ(rows[1].metric, "20");
  EXPECT_STREQ(rows[1].description, "office");
  EXPECT_STREQ(rows[2].iface, "wwan0");
  expect_field(rows[2].description, "a long description");
  utils_free(&rows);

  EXPECT_EQ(staticroute_get_all(&rows, nullptr), -1);
  EXPECT_EQ(rows, nullptr);
  EXPECT_EQ(staticroute_get_all(nullptr, &count), -1);
}

TEST_F(ConfigTables, ListRead) {
  FwIpBlacklistRow *rows = nullptr;
  int count = -1;
  create("fwipblacklist", "id integer primary key,datetime,protocol,srcip,dstport,interface");
  EXPECT_EQ(fwipblacklist_get_all(&rows, &count), -3);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(rows, nullptr);
  insert("fwipblacklist", "1,'2024-05-01 10:00:00','tcp','203.0.113.9','22','wan'");
  EXPECT_EQ(fwipblacklist_get_all(&rows, &count), -2);  // macaddr, sourceflag missing
  EXPECT_EQ(rows, nullptr);

  ASSERT_EQ(sandbox_.exec("alter table fwipblacklist add column macaddr;"
                          "alter table fwipblacklist add column sourceflag;"),
            SQLITE_OK);
  FwIpBlacklistRow entry{};
  strcpy(entry.datetime, "2024-05-02 11:00:00");
  strcpy(entry.protocol, "udp");
  strcpy(entry.srcip, "198.51.100.4");
  strcpy(entry.dstport, "5060");
  strcpy(entry.interface, "wan");
  strcpy(entry.macaddr, "00:11:22:33:44:55");
  strcpy(entry.sourceflag, "1");
  EXPECT_EQ(fwipblacklist_exists(&entry), -1);
  EXPECT_EQ(fwipblacklist_add(&entry), SQLITE_OK);
  EXPECT_EQ(fwipblacklist_exists(&entry), 0);
  EXPECT_EQ(fwipblacklist_exists(nullptr), -2);
  ASSERT_EQ(fwipblacklist_get_all(&rows, &count), 0);
  ASSERT_EQ(count, 2);
  EXPECT_STREQ(rows[0].macaddr, "");
  EXPECT_STREQ(rows[1].id, "2");
  EXPECT_STREQ(rows[1].srcip, "198.51.100.4");
  EXPECT_STREQ(rows[1].macaddr, "00:11:22:33:44:55");
  EXPECT_STREQ(rows[1].sourceflag, "1");
  utils_free(&rows);
}

// Installed applications only; the double-quoted strings are taken as
// literals by SQLite as well.
TEST_F(ConfigTables, AppCenterListsInstalledApplications) {
  create("appcenter", "app,autoupgrade,type,localversion");
  insert("appcenter", "'voicemail','1',0,'1.2.0'");
  insert("appcenter", "'recorder','0',1,'0.0.0'");
  insert("appcenter", "'fax','1',1,''");
  insert("appcenter", "'crm','1',1,NULL");
  insert("appcenter", "'plugin','1',2,'3.0.0'");
  insert("appcenter", "'wallboard','0',1,'2.0.1'");
  AppCenterRow *rows = nullptr;
  int count = 0;
  ASSERT_EQ(appcenter_get_all(&rows, &count), 0);
  ASSERT_EQ(count, 2);
  EXPECT_STREQ(rows[0].app, "voicemail");
  EXPECT_STREQ(rows[1].app, "wallboard");
  EXPECT_STREQ(rows[1].autoupgrade, "0");
  utils_free(&rows);
}

class WebPrivileges : public ConfigTables {
 protected:
  void SetUp() override {
    ConfigTables::SetUp();
    create("webprivilege",
           "id integer primary key,name,frame,privilege,level1,level2,level3,"
           "privilegetab");
  }
  void add(int id, int level1, int level2, int level3) {
    insert("webprivilege", std::to_string(id) + ",'m" + std::to_string(id) + "','f','p'," +
                               std::to_string(level1) + "," + std::to_string(level2) + "," +
                               std::to_string(level3) + ",'tab'");
  }
  std::vector<std::string> names(int level1, int level2, int level3, int expected_result = 0) {
    WebPrivilegeRow *rows = nullptr;
    int count = -1;
    std::vector<std::string> found;
    EXPECT_EQ(webprivilege_get_all(&rows, &count, level1, level2, level3), expected_result);
    for (int i = 0; i < count; ++i) found.emplace_back(rows[i].name);
    utils_free(&rows);
    return found;
  }
};

TEST_F(WebPrivileges, ThreeSelections) {
  add(1, 3, 0, 0);
  add(2, 1, 0, 0);
  add(3, 1, 2, 0);
  add(4, 1, 1, 0);
  add(5, 1, 1, 4);
  add(6, 2, 0, 5);
  using Names = std::vector<std::string>;
  EXPECT_EQ(names(-1, 0, 0), (Names{"m2", "m1"}));         // top entries by level1
  EXPECT_EQ(names(1, -1, -1), (Names{"m4", "m5", "m3"}));  // level1's entries by level2, level3
  EXPECT_EQ(names(2, -1, -1), (Names{"m6"}));
  EXPECT_EQ(names(0, -1, -1).size(), 6u);  // anything else: every entry
  EXPECT_EQ(names(-1, 0, 1).size(), 6u);
  EXPECT_EQ(names(9, -1, -1, -4), Names{});  // nothing found
}

TEST_F(WebPrivileges, AtMost128Records) {
  ASSERT_EQ(sandbox_.exec("with recursive n(i) as (select 1 union all select i+1 from n where "
                          "i<130) insert into webprivilege select i,'m'||i,'f','p',i,0,0,'t' "
                          "from n;"),
            SQLITE_OK);
  std::vector<std::string> found = names(-1, 0, 0);
  ASSERT_EQ(found.size(), 128u);
  EXPECT_EQ(found.front(), "m1");
  EXPECT_EQ(found.back(), "m128");
}

TEST_F(WebPrivileges, Failures) {
  WebPrivilegeRow *rows = reinterpret_cast<WebPrivilegeRow *>(this);
  int count = -1;
  EXPECT_EQ(webprivilege_get_all(&rows, &count, 0, 0, 0), -4);  // empty table
  EXPECT_EQ(rows, nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(webprivilege_get_all(&rows, nullptr, 0, 0, 0), -1);
  EXPECT_EQ(webprivilege_get_all(nullptr, &count, 0, 0, 0), -1);
}

TEST_F(ConfigTables, StaticRouteWritesAndSameRouteCount) {
  create("staticroute",
         "id integer primary key,destination,subnet,gateway,metric,iface,description");
  insert("staticroute", "4,'10.9.0.0','255.255.0.0','192.168.1.9','1','eth0','lab'");
  StaticRouteRow route{};
  strcpy(route.id, "4");
  strcpy(route.destination, "10.9.0.0");
  strcpy(route.subnet, "255.255.0.0");
  strcpy(route.gateway, "192.168.1.9");
  strcpy(route.metric, "1");
  strcpy(route.iface, "eth0");
  strcpy(route.description, "moved");
  int count = -1;
  EXPECT_EQ(staticroute_count_same(&route, &count), 0);
  EXPECT_EQ(count, 1);

  strcpy(route.gateway, "192.168.1.10");
  EXPECT_EQ(staticroute_count_same(&route, &count), -3);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(staticroute_set(&route), 0);
  EXPECT_EQ(value("select gateway||','||description from staticroute where id=4;"),
            "192.168.1.10,moved");
  EXPECT_EQ(staticroute_count_same(&route, &count), 0);

  // MySQL's "value(": rejected by SQLite, reported as done all the same.
  EXPECT_EQ(staticroute_add(&route), 0);
  EXPECT_EQ(value("select count(*) from staticroute;"), "1");

  EXPECT_EQ(staticroute_count_same(nullptr, &count), -1);
  EXPECT_EQ(staticroute_count_same(&route, nullptr), -1);
  EXPECT_EQ(staticroute_set(nullptr), -1);
  ASSERT_EQ(sandbox_.exec("drop table staticroute;"), SQLITE_OK);
  EXPECT_EQ(staticroute_count_same(&route, &count), -2);
  EXPECT_EQ(staticroute_set(&route), 0);
}

TEST_F(ConfigTables, BackupScheduleSetWritesOneColumn) {
  create("backupschedule",
         "enable,backuptime,storagetype,backupmaxnumber,backupidx,prefixfile,storagetypeid,"
         "setbackuptime");
  insert("backupschedule", "'1','02:00','nas','5','0','cfg','2','none'");
  EXPECT_EQ(backupschedule_set("3", "-1"), 0);
  EXPECT_EQ(value("select backupidx||','||setbackuptime from backupschedule;"), "3,none");
  EXPECT_EQ(backupschedule_set("4", "06-01 03:00"), 0);
  EXPECT_EQ(value("select backupidx||','||setbackuptime from backupschedule;"), "3,06-01 03:00");
  EXPECT_EQ(backupschedule_set(nullptr, "-1"), -1);
  EXPECT_EQ(backupschedule_set("5", nullptr), -1);

  BackupScheduleRow *row = nullptr;
  ASSERT_EQ(backupschedule_get(&row), 0);
  EXPECT_STREQ(row->backupidx, "3");
  EXPECT_STREQ(row->prefixfile, "cfg");
  EXPECT_STREQ(row->setbackuptime, "06-01 03:00");
  utils_free(&row);
}

TEST_F(ConfigTables, TableCount) {
  create("nicsetting", "id,iface");
  insert("nicsetting", "1,'eth0'");
  insert("nicsetting", "2,'eth1'");
  insert("nicsetting", "3,'eth1'");
  int count = -1;
  EXPECT_EQ(table_count("nicsetting", "", &count), 0);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(table_count("nicsetting", nullptr, &count), 0);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(table_count("nicsetting", "iface='eth1'", &count), 0);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(table_count("nowhere", "", &count), -2);
  EXPECT_EQ(table_count(nullptr, "", &count), -1);
  EXPECT_EQ(table_count("nicsetting", "", nullptr), -1);
}

class Users : public ConfigTables {
 protected:
  void SetUp() override {
    ConfigTables::SetUp();
    create("usermanagement", std::string("id,type,username,password,login,email,extensionid") +
                                 kAllPermissionColumns);
    add(1, "admin", "admin", "'no'");
    add(2, "extension", "o'brien", "'yes'");
  }
  // A user whose every permission flag is flag (SQL text).
  void add(int id, const std::string &type, const std::string &name, const std::string &flag) {
    std::string values = std::to_string(id) + ",'" + type + "','" + quoted(name) + "','pw','1','" +
                         quoted(name) + "@example.com','10" + std::to_string(id) + "'";
    for (const char *c = kAllPermissionColumns; (c = strchr(c, ',')) != nullptr; ++c) {
      values += "," + flag;
    }
    insert("usermanagement", values);
  }
  static std::string quoted(const std::string &text) {
    std::string doubled;
    for (char c : text) doubled += c == '\'' ? "''" : std::string(1, c);
    return doubled;
  }
};

TEST_F(Users, PermissionSummary) {
  ASSERT_EQ(sandbox_.exec("update usermanagement set mesetting='yes',factory='maybe',"
                          "callback='x' where id=1;"),
            SQLITE_OK);
  UserPermissionsRow *row = nullptr;
  ASSERT_EQ(usermanagement_get_permissions(&row, "admin"), 0);
  EXPECT_STREQ(row->username, "admin");
  EXPECT_STREQ(row->mesetting, "yes");
  EXPECT_STREQ(row->dashboard, "no");
  EXPECT_STREQ(row->factory, "maybe");
  utils_free(&row);
  ASSERT_EQ(usermanagement_get_permissions(&row, "o'brien"), 0);
  EXPECT_STREQ(row->username, "o'brien");
  EXPECT_STREQ(row->factory, "yes");
  utils_free(&row);
  EXPECT_EQ(usermanagement_get_permissions(&row, "nobody"), -2);
  EXPECT_EQ(usermanagement_get_permissions(&row, nullptr), -1);
}

TEST_F(Users, FullPermissionRecord) {
  ASSERT_EQ(sandbox_.exec("update usermanagement set diagnose='yes',mesetting=NULL where id=1;"),
            SQLITE_OK);
  UserPermissionRow permission;
  memset(&permission, 0, sizeof permission);
  strcpy(permission.mesetting, "keep");
  ASSERT_EQ(user_permission_get(&permission, "admin"), 0);
  EXPECT_STREQ(permission.mesetting, "keep");  // NULL column
  EXPECT_STREQ(permission.dashboard, "no");
  EXPECT_STREQ(permission.factory, "no");
  EXPECT_STREQ(permission.callback, "no");
  EXPECT_STREQ(permission.diagnose, "yes");

  // An extension user gets its own settings and nothing else.
  memset(&permission, 0, sizeof permission);
  strcpy(permission.dashboard, "mine");
  ASSERT_EQ(user_permission_get(&permission, "o'brien"), 0);
  EXPECT_STREQ(permission.mesetting, "yes");
  EXPECT_STREQ(permission.dashboard, "mine");
  EXPECT_STREQ(permission.diagnose, "");

  EXPECT_EQ(user_permission_get(&permission, "nobody"), -2);
  EXPECT_EQ(user_permission_get(&permission, nullptr), -1);
  EXPECT_EQ(user_permission_get(nullptr, "admin"), -1);
}

// "binary" comparisons and now() are MySQL's: SQLite rejects those
// statements, and each operation reports that as its kind says.
TEST_F(Users, MySqlStatementsUnderSqlite) {
  UserManagementRow *user = reinterpret_cast<UserManagementRow *>(this);
  EXPECT_EQ(usermanagement_get_by_username(&user, "admin"), -2);
  EXPECT_EQ(user, nullptr);
  EXPECT_EQ(usermanagement_get_by_email(&user, "admin@example.com"), -2);
  EXPECT_EQ(usermanagement_get_by_username(&user, nullptr), -1);

  create("forgetpwd", "username,randomcode,expiretime");
  insert("forgetpwd", "'admin','R4ND0M',datetime('now')");
  EXPECT_EQ(forgetpwd_check("admin", "R4ND0M"), 0);
  EXPECT_EQ(forgetpwd_exists("admin"), 1);
  EXPECT_EQ(forgetpwd_exists("nobody"), 1);  // the query ran
  EXPECT_EQ(forgetpwd_add("o'brien", "C0DE"), 0);
  EXPECT_EQ(forgetpwd_delete("admin"), 0);
  EXPECT_EQ(value("select group_concat(username) from forgetpwd;"), "admin");

  create("loginmanage", "remoteip,trytimes,date,state");
  insert("loginmanage", "'192.0.2.7','3',datetime('now'),'1'");
  LoginManageRow login{};
  strcpy(login.remoteip, "192.0.2.7");
  strcpy(login.trytimes, "4");
  strcpy(login.state, "0");
  EXPECT_EQ(loginmanage_locked("192.0.2.7"), 0);
  EXPECT_EQ(loginmanage_set(&login), 0);
  strcpy(login.remoteip, "192.0.2.8");
  EXPECT_EQ(loginmanage_add(&login), 0);
  EXPECT_EQ(value("select group_concat(remoteip||'/'||trytimes) from loginmanage;"), "192.0.2.7/3");

  LoginManageRow *row = nullptr;
  ASSERT_EQ(loginmanage_get(&row, "192.0.2.7"), 0);
  EXPECT_STREQ(row->trytimes, "3");
  EXPECT_STREQ(row->state, "1");
  EXPECT_EQ(strlen(row->date), 19u);
  utils_free(&row);
  EXPECT_EQ(loginmanage_exists("192.0.2.7"), 1);
  EXPECT_EQ(loginmanage_delete("192.0.2.7"), 0);
  EXPECT_EQ(value("select count(*) from loginmanage;"), "0");
  EXPECT_EQ(loginmanage_get(&row, "192.0.2.7"), -2);

  ASSERT_EQ(sandbox_.exec("drop table forgetpwd;"), SQLITE_OK);
  EXPECT_EQ(forgetpwd_exists("admin"), 0);
}

TEST_F(Users, UnreportedUserWrites) {
  UserManagementRow user{};
  strcpy(user.username, "o'brien");
  strcpy(user.password, "n3w");
  strcpy(user.type, "admin");
  strcpy(user.email, "ob@example.com");
  strcpy(user.login, "0");
  user.extensionid = 205;
  EXPECT_EQ(usermanagement_set(&user), 0);
  EXPECT_EQ(value("select password||','||type||','||extensionid from usermanagement where id=2;"),
            "n3w,admin,205");

  user.id = 9;
  strcpy(user.username, "new");
  EXPECT_EQ(usermanagement_add(&user), 0);
  EXPECT_EQ(value("select type||','||email from usermanagement where id=9;"),
            "admin,ob@example.com");
  EXPECT_EQ(usermanagement_add(&user), 0);  // a duplicate id is not reported either
  EXPECT_EQ(usermanagement_set(nullptr), -1);
}

TEST_F(Users, QuotesInUserNamesStayInTheirLiterals) {
  const char *hostile[] = {"x' or '1'='1", "admin'--", "'; delete from usermanagement; --",
                           "admin' or username like '%"};
  for (const char *name : hostile) {
    SCOPED_TRACE(name);
    UserPermissionsRow *row = nullptr;
    EXPECT_EQ(usermanagement_get_permissions(&row, name), -2);
    UserPermissionRow permission{};
    EXPECT_EQ(user_permission_get(&permission, name), -2);
    UserManagementRow user{};
    snprintf(user.username, sizeof user.username, "%s", name);
    strcpy(user.password, "owned");
    EXPECT_EQ(usermanagement_set(&user), 0);
    EXPECT_EQ(loginmanage_delete(name), 0);
  }
  EXPECT_EQ(value("select count(*) from usermanagement where password='owned';"), "0");
  EXPECT_EQ(value("select count(*) from usermanagement;"), "2");

  // A user's own name with a quote works.
  UserManagementRow user{};
  strcpy(user.username, "o'brien");
  strcpy(user.password, "mine");
  EXPECT_EQ(usermanagement_set(&user), 0);
  EXPECT_EQ(value("select password from usermanagement where id=2;"), "mine");
}

TEST_F(ConfigTables, LocationReadAndWrite) {
  create("sysdatalocation", "id integer primary key,datatype,storagetype,storageslotid");
  insert("sysdatalocation", "1,'recording','local','0'");
  insert("sysdatalocation", "2,'voicemail','nas','3'");
  SysDataLocationRow location{};
  strcpy(location.storagetype, "usb");
  strcpy(location.storageslotid, "1");
  EXPECT_EQ(sysdatalocation_set(&location, "voicemail"), SQLITE_OK);
  SysDataLocationRow *row = nullptr;
  ASSERT_EQ(sysdatalocation_get(&row, "voicemail"), 0);
  EXPECT_STREQ(row->id, "2");
  EXPECT_STREQ(row->storagetype, "usb");
  EXPECT_STREQ(row->storageslotid, "1");
  utils_free(&row);
  SysDataLocationRow *rows = nullptr;
  int count = 0;
  ASSERT_EQ(sysdatalocation_get_all(&rows, &count), 0);
  ASSERT_EQ(count, 2);
  EXPECT_STREQ(rows[0].storagetype, "local");
  utils_free(&rows);

  EXPECT_EQ(sysdatalocation_set(&location, nullptr), -1);
  EXPECT_EQ(sysdatalocation_get(&row, nullptr), -1);
  ASSERT_EQ(sandbox_.exec("drop table sysdatalocation;"), SQLITE_OK);
  EXPECT_EQ(sysdatalocation_set(&location, "voicemail"), SQLITE_ERROR);
}

TEST_F(ConfigTables, CertificateNamesWrite) {
  create_named("openvpnsetting",
               "type,enable,serveraddr,serverport,protocol,device,username,password,encryption,"
               "compression,proxyserver,proxyport,useprofile,tlsauth,cacrt,clientcrt,clientkey,"
               "takey,tarname");
  OpenvpnSettingRow vpn{};
  strcpy(vpn.cacrt, "ca.crt");
  strcpy(vpn.clientcrt, "client.crt");
  strcpy(vpn.clientkey, "client.key");
  strcpy(vpn.takey, "ta.key");
  strcpy(vpn.tarname, "profile.tar");
  EXPECT_EQ(openvpnsetting_set_certs(&vpn), SQLITE_OK);
  EXPECT_EQ(value("select cacrt||clientcrt||clientkey||takey||tarname||type from openvpnsetting;"),
            "ca.crtclient.crtclient.keyta.keyprofile.tartype");
  EXPECT_EQ(openvpnsetting_set_certs(nullptr), -1);
}

// A missing argument ends the operation before the lock: the lock file is
// never even created.
TEST_F(ConfigTables, MissingArgumentsStopBeforeTheLock) {
  int count = 0;
  DhcpServerRow **no_row = nullptr;
  EXPECT_EQ(dhcpserver_get(no_row), -1);
  EXPECT_EQ(usermanagement_get_by_email(nullptr, "a@b"), -1);
  EXPECT_EQ(nicsetting_get_all(nullptr, &count), -1);
  EXPECT_EQ(fwipblacklist_exists(nullptr), -2);
  EXPECT_EQ(forgetpwd_check("admin", nullptr), 0);
  EXPECT_EQ(loginmanage_locked(nullptr), 0);
  EXPECT_EQ(forgetpwd_exists(nullptr), -1);
  EXPECT_EQ(loginmanage_exists(nullptr), -1);
  EXPECT_EQ(staticroute_add(nullptr), -1);
  EXPECT_EQ(fwipblacklist_add(nullptr), -1);
  EXPECT_EQ(forgetpwd_add("admin", nullptr), -1);
  EXPECT_EQ(forgetpwd_delete(nullptr), -1);
  EXPECT_EQ(loginmanage_add(nullptr), -1);
  EXPECT_EQ(loginmanage_set(nullptr), -1);
  EXPECT_EQ(usermanagement_add(nullptr), -1);
  EXPECT_EQ(access(sandbox_.path(paths::kDbLock).c_str(), F_OK), -1);
}

TEST_F(ConfigTables, DatabaseThatDoesNotOpen) {
  DbSandbox unopenable(false);
  DhcpServerRow *dhcp = nullptr;
  EXPECT_EQ(dhcpserver_get(&dhcp), -1);
  OpenvpnSettingRow *vpn = nullptr;
  EXPECT_EQ(openvpnsetting_get(&vpn), -1);
  UserManagementRow *user = nullptr;
  EXPECT_EQ(usermanagement_get_by_username(&user, "admin"), -2);
  StaticRouteRow *routes = nullptr;
  int count = 0;
  EXPECT_EQ(staticroute_get_all(&routes, &count), -1);
  EXPECT_EQ(table_count("staticroute", "", &count), -1);
  StaticRouteRow route{};
  EXPECT_EQ(staticroute_count_same(&route, &count), -1);
  EXPECT_EQ(staticroute_add(&route), -3);
  EXPECT_EQ(backupschedule_set("1", "-1"), -3);
  EXPECT_EQ(storage_delete(1), -1);
  EXPECT_EQ(forgetpwd_add("admin", "code"), -1);
  EXPECT_EQ(forgetpwd_check("admin", "code"), 0);
  EXPECT_EQ(forgetpwd_exists("admin"), -1);
  EXPECT_EQ(loginmanage_locked("192.0.2.1"), 0);
  UserPermissionRow permission{};
  EXPECT_EQ(user_permission_get(&permission, "admin"), -1);
  FwIpBlacklistRow entry{};
  EXPECT_EQ(fwipblacklist_exists(&entry), -1);
}

}  // namespace
