// Configuration table accessors: the appliance's network, service, firewall,
// storage, user, login, upgrade and backup settings that live in the events
// database next to the event tables.
//
// Every operation is one self-contained locked pass over the database (see
// db/accessor.h). Reads hand out new records of fixed-width NUL-terminated
// text fields (at most width - 1 characters each; a NULL column leaves its
// field empty) and a few int32_t fields converted with atoi; the caller frees
// them with utils_free (an array from a list read is one block). Text
// arguments are placed between single quotes with their quotes doubled, so
// a value never ends its literal early. A missing argument or out pointer
// ends the operation before the lock; out pointers are null (counts 0) on
// every failure.
//
// Results, by kind, unless an operation says otherwise:
//   row read:           0 with the record; -1 missing out pointer or
//                       argument, or the database did not open; -2 the query
//                       failed or found no row; -3 the record could not be
//                       allocated.
//   list read:          0 with the array and its count; -1 missing out
//                       pointer or open failed; -2 the count query or the
//                       select failed; -3 the count is not greater than 0
//                       or the array could not be allocated.
//   numbered list read: as a list read, but -4 the select failed and -5 the
//                       array could not be allocated.
//   write:              SQLite's result code; -1 a missing argument or open
//                       failed.
//   unreported write:   0 once the database is open, whatever the statement
//                       did; -1 a missing argument or open failed (-3 for
//                       open failed where marked).
//   test:               1 when the query ran, whether or not a row matched;
//                       0 when it failed.
// A statement that does not fit its buffer is not run at all: it fails as a
// failed query of its kind, and a write gives SQLITE_TOOBIG (unreported
// writes: -1).
//
// Several statements are written in MySQL's dialect (value(, now(),
// DATE_ADD(... INTERVAL ...), binary comparisons) and are sent to SQLite as
// they are. SQLite rejects them: such writes change nothing and the reads
// and tests report failure, each as its kind says.
#ifndef ALERTMILL_DB_CONFIG_TABLES_H_
#define ALERTMILL_DB_CONFIG_TABLES_H_

#include <cstdint>

// Single-row settings.

struct DhcpServerRow {
  char enable[4];
  char routers[64];
  char subnetmask[64];
  char dns1[64];
  char dns2[64];
  char ipfrom[64];
  char ipto[64];
  char ntpserver[64];
  char tftpserver[64];
  int32_t default_leasetime;
  int32_t max_leasetime;
};

struct MailboxSettingRow {
  char email[64];
  char secret[32];
  char smtpserver[64];
  char port[8];
  char usessl[8];
  char fromlineoverride[8];
  char root[16];
  char rewritedomain[32];
  char pop3server[64];
  char pop3port[8];
  char pop3interval[8];
  char pop3delemail[8];
  char sendername[64];
  char needauth[8];
};

struct DdnsSettingRow {
  char enableddns[8];
  char domain[64];
  char username[64];
  char password[64];
  char freednshash[128];
  char ddnsserver[128];
};

struct DateAndTimeRow {
  char timezone[64];
  char enabledst[8];
  char enablentp[8];
  char ntpserver[64];
};

struct NetworkServiceRow {
  char enablessh[8];
  char sshport[8];
  char enableftp[8];
  char ftpport[8];
  char enabletftp[8];
  char tftpport[8];
  char httpscert[64];
  char webprotocol[8];
  char webport[8];
  char redirecturl[8];
  char webexpiretime[8];
  char extloginmode[8];
  char emlloginmode[8];
};

struct L2tpSettingRow {
  char type[8];
  char enable[4];
  char serveraddr[64];
  char port[8];
  char username[64];
  char password[64];
  char maxmtu[8];
  char maxmru[8];
  char useprofile[8];
};

struct OpenvpnSettingRow {
  char type[8];
  char serveraddr[64];
  char serverport[8];
  char protocol[16];
  char device[16];
  char username[64];
  char password[64];
  char encryption[16];
  char compression[8];
  char proxyserver[64];
  char proxyport[8];
  char enable[4];
  char useprofile[8];
  char tlsauth[8];
  char cacrt[32];
  char clientcrt[32];
  char clientkey[32];
  char takey[32];
  char tarname[32];
};

struct IpsecSettingRow {
  char type[8];
  char enable[4];
  char negotiation[8];
  char verification[8];
  char encryption[16];
  char dhgroup[16];
  char authentimodle[16];
  char privatekey[64];
  char sharekey[128];
  char leftkey[1024];
  char rightkey[1024];
  char ikelifetime[8];
  char dpdenable[4];
  char dpdchktimes[8];
  char dpdretrycount[8];
  char dpdtimeout[8];
  char remoteip[64];
  char remotesubnet[128];
  char safeprotocol[8];
  char espverify[16];
  char espencryption[8];
  char pfsenable[4];
  char ipseclifetime[8];
  char localid[128];
  char remoteid[128];
  char useprofile[8];
};

// One network share used for storage. The storage table's columns are, in
// this order, id, enable, host, sharename, username, password, name:
// storage_get_last reads "select *" by position.
struct StorageRow {
  char id[8];
  char name[64];
  char enable[8];
  char host[64];
  char sharename[64];
  char username[64];
  char password[64];
};

struct BasicNetworkRow {
  char hostname[64];
  char mode[32];
  char gwnic[8];
};

struct FwGeneralRow {
  char enable[4];
  char disableping[8];
  char dropall[8];
};

struct SysDataLocationRow {
  char id[8];
  char datatype[16];
  char storagetype[8];
  char storageslotid[8];
};

struct SysAutoCleanRow {
  char maxnumberlog[8];
  char keeplogday[8];
};

struct FirmwareUpgradeRow {
  char autoupgrademode[16];
  char autoupgradeweek[16];
  char autoupgradehour[16];
};

struct SyslogModeRow {
  char syslogmode[8];
};

struct DatabaseGrantRow {
  char id[16];
  char username[64];
  char password[64];
  char host[256];
};

struct UserManagementRow {
  char username[64];
  char password[64];
  char login[8];
  char email[64];
  char type[16];
  int32_t id;
  int32_t extensionid;
};

struct LoginManageRow {
  char remoteip[64];
  char trytimes[4];
  char date[32];
  char state[4];
};

// The per-module permission columns of usermanagement, each a short flag
// text ("yes" / "no"), listed once here: the records, the select lists and
// the record layouts are all generated from these lists, which is why they
// are macros. The first list makes a user's permission summary; both lists
// together make the full permission record. Keep the names short: the
// summary's select with a 63-character user name must fit its 512-byte
// statement.
// clang-format off
#define ALERTMILL_SUMMARY_PERMISSIONS(X)                                         \
  X(mesetting) X(dashboard) X(extension) X(trunk) X(inroute) X(outroute) X(ivr)  \
  X(ringgroup) X(queue) X(conference) X(voicemail) X(callpark) X(paging)         \
  X(blacklist) X(cdr) X(recording) X(network) X(dhcp) X(vpn) X(firewall)         \
  X(ddns) X(routing) X(usermgmt) X(storage) X(backup) X(upgrade) X(syslog)       \
  X(eventlog) X(eventset) X(emailset) X(sms) X(snmp) X(datetime) X(netservice)   \
  X(appcenter) X(hastandby) X(share) X(reboot) X(factory)
#define ALERTMILL_FURTHER_PERMISSIONS(X)                                         \
  X(callback) X(speeddial) X(fax) X(intercom) X(pickup) X(moh) X(prompts)        \
  X(cert) X(dbgrant) X(autoclean) X(sysdata) X(webpriv) X(emergency)             \
  X(diagnose)
// clang-format on

#define ALERTMILL_PERMISSION_FIELD(name) char name[8];
#define ALERTMILL_PERMISSION_COLUMN(name) "," #name

// ",mesetting,...,diagnose": every permission column, each after a comma.
inline constexpr char kAllPermissionColumns[] =
    ALERTMILL_SUMMARY_PERMISSIONS(ALERTMILL_PERMISSION_COLUMN)
        ALERTMILL_FURTHER_PERMISSIONS(ALERTMILL_PERMISSION_COLUMN);

// A user's name and permission summary.
struct UserPermissionsRow {
  char username[64];
  ALERTMILL_SUMMARY_PERMISSIONS(ALERTMILL_PERMISSION_FIELD)
};

// A user's full permission record, filled in place by user_permission_get.
struct UserPermissionRow {
  ALERTMILL_SUMMARY_PERMISSIONS(ALERTMILL_PERMISSION_FIELD)
  ALERTMILL_FURTHER_PERMISSIONS(ALERTMILL_PERMISSION_FIELD)
};

struct AppSettingRow {
  char autoupgradeweek[16];
  char autoupgradehour[16];
};

struct HostStandbyRow {
  char enable[8];
  char mode[16];
  char hostname[64];
  char ipaddress[64];
  char authkeys[128];
  char vipaddress[64];
  char vnetmask[64];
  char pingnodes[512];
  char keepalive[8];
  char deadtime[8];
  char reboottime[8];
  char synctime[8];
  char hbudpport[8];
  char stoption[8];
  char syncuser[64];
  char syncpass[64];
};

struct ShareSettingRow {
  char enable[8];
  char sharename[64];
  char username[64];
  char password[64];
  char enabledelete[8];
};

struct BackupScheduleRow {
  char enable[8];
  char backuptime[16];
  char storagetype[8];
  char backupmaxnumber[8];
  char backupidx[8];
  char prefixfile[64];
  char storagetypeid[8];
  char setbackuptime[16];
};

// Rows of list reads.

struct StaticRouteRow {
  char id[16];
  char destination[64];
  char subnet[64];
  char gateway[64];
  char metric[8];
  char iface[16];
  char description[16];
};

struct NicSettingRow {
  char id[16];
  char iface[8];
  char type[16];
  char ipaddress[64];
  char netmask[64];
  char gateway[64];
  char dns1[64];
  char dns2[64];
  char ipaddress2[64];
  char netmask2[64];
  char pppoeusername[128];
  char pppoepassword[128];
  char enablevlan[4];
  char vlanid[16];
  char vlanpriority[8];
};

struct FwCommonRuleRow {
  char id[16];
  char pos[16];
  char rulename[128];
  char fwdescribe[512];
  char protocol[16];
  char port[16];
  char ip[128];
  char mac[64];
  char action[32];
};

struct FwIpBlacklistRuleRow {
  char id[16];
  char rulename[128];
  char type[8];
  char port[8];
  char protocol[16];
  char packets[16];
  char fwinterval[8];
};

struct FwIpBlacklistRow {
  char id[16];
  char datetime[64];
  char protocol[16];
  char srcip[64];
  char dstport[16];
  char interface[16];
  char macaddr[32];
  char sourceflag[8];
};

struct EventContactRow {
  char id[16];
  char contact[64];
  char extensionid[32];
  char enableemail[8];
  char enablesms[8];
  char enablemobile[8];
  char enableextension[8];
  char enablewechat[8];
  char email[128];
  char mobileprefix[64];
  char mobile[128];
  char wechat[128];
};

struct AppCenterRow {
  char app[32];
  char autoupgrade[8];
};

struct WebPrivilegeRow {
  char id[16];
  char name[64];
  char frame[512];
  char privilege[512];
  char level1[8];
  char level2[8];
  char level3[8];
  char privilegetab[256];
};

// Row reads: each loads the first row of its table into a new *row.
int dhcpserver_get(DhcpServerRow **row);
int mailboxsetting_get(MailboxSettingRow **row);
int ddnssetting_get(DdnsSettingRow **row);
int dateandtime_get(DateAndTimeRow **row);
int networkservice_get(NetworkServiceRow **row);
int l2tpsetting_get(L2tpSettingRow **row);
// -1 also when the query failed or found no row.
int openvpnsetting_get(OpenvpnSettingRow **row);
int ipsecsetting_get(IpsecSettingRow **row);
// The share with this id; -4 (not -2) when the query failed or found none.
int storage_get(StorageRow **row, int id);
// The share with the largest id; results as storage_get.
int storage_get_last(StorageRow **row);
int basicnetwork_get(BasicNetworkRow **row);
int fwgeneral_get(FwGeneralRow **row);
int sysdatalocation_get(SysDataLocationRow **row, const char *datatype);
int sysautoclean_get(SysAutoCleanRow **row);
int firmwareupgrade_get(FirmwareUpgradeRow **row);
int syslogmode_get(SyslogModeRow **row);
int databasegrant_get(DatabaseGrantRow **row, const char *id);
// The grant with the largest id.
int databasegrant_get_last(DatabaseGrantRow **row);
// The user of this name (compared byte for byte) or e-mail address; -2 (not
// -1) when the database did not open. MySQL's dialect: -2 under SQLite.
int usermanagement_get_by_username(UserManagementRow **row, const char *username);
int usermanagement_get_by_email(UserManagementRow **row, const char *email);
int loginmanage_get(LoginManageRow **row, const char *remoteip);
int usermanagement_get_permissions(UserPermissionsRow **row, const char *username);
int appsetting_get(AppSettingRow **row);
int hoststandby_get(HostStandbyRow **row);
int sharesetting_get(ShareSettingRow **row);
int backupschedule_get(BackupScheduleRow **row);

// List reads: each loads every row as one new array of *count records.
// Numbered list reads.
int staticroute_get_all(StaticRouteRow **rows, int *count);
int storage_get_all(StorageRow **rows, int *count);
int nicsetting_get_all(NicSettingRow **rows, int *count);
// List reads.
int fwcommonrule_get_all(FwCommonRuleRow **rows, int *count);
int fwipblacklistrule_get_all(FwIpBlacklistRuleRow **rows, int *count);
int fwipblacklist_get_all(FwIpBlacklistRow **rows, int *count);
int eventcontact_get_all(EventContactRow **rows, int *count);
int sysdatalocation_get_all(SysDataLocationRow **rows, int *count);
// Installed applications (type below 2 with a real local version).
int appcenter_get_all(AppCenterRow **rows, int *count);

// Web menu entries, at most 128, without a count query: level1 -1 with
// level2 and level3 0 selects the entries of that level2/level3 ordered by
// level1; level1 above 0 with level2 and level3 -1 selects the sub-entries
// of that level1; any other combination selects every entry. *count is the
// number filled. 0; -1 missing out pointer or open failed; -4 the query
// failed or found no row; -3 the array could not be allocated.
int webprivilege_get_all(WebPrivilegeRow **rows, int *count, int level1, int level2, int level3);

// Fills the caller's *permission from the user's row: for a user of type
// "extension" only mesetting is set, to "yes"; otherwise every permission
// column (a NULL column leaves its field as it was). 0; -1 missing argument
// or open failed; -2 a query failed or found no row.
int user_permission_get(UserPermissionRow *permission, const char *username);

// Counts and tests.

// How many routes equal route in destination, subnet, gateway, metric and
// iface, in *count: 0 when at least one, -3 when none; -2 the query failed;
// -1 missing argument or open failed.
int staticroute_count_same(const StaticRouteRow *route, int *count);
// 0 when an entry has entry->srcip; -1 when none has, or open or query
// failed; -2 for a null entry.
int fwipblacklist_exists(const FwIpBlacklistRow *entry);
// Counts the rows of table that match condition (all rows when condition is
// null or empty) into *count. table and condition are pasted into the
// statement as SQL, unquoted: callers must pass trusted text, never user
// input. 0; -2 the query failed; -1 open failed or table or count missing.
int table_count(const char *table, const char *condition, int *count);
// Tests. forgetpwd_check looks for username's reset code randomcode less
// than 30 minutes past its expiretime, loginmanage_locked for a login record
// of remoteip more than 10 minutes old; both are in MySQL's dialect (0 under
// SQLite) and give 0 for a missing argument or a database that did not open.
// forgetpwd_exists and loginmanage_exists give -1 for those.
int forgetpwd_check(const char *username, const char *randomcode);
int forgetpwd_exists(const char *username);
int loginmanage_exists(const char *remoteip);
int loginmanage_locked(const char *remoteip);

// Writes.

// Unreported writes that give -3 when the database did not open. route->id
// selects the row staticroute_set updates. staticroute_add is in MySQL's
// dialect: under SQLite it inserts nothing.
int staticroute_add(const StaticRouteRow *route);
int staticroute_set(const StaticRouteRow *route);
// Stores backupidx, or, when setbackuptime is not "-1" (in any case),
// setbackuptime instead.
int backupschedule_set(const char *backupidx, const char *setbackuptime);

// Writes reporting SQLite's result code.
// Stores the five certificate file names of openvpn.
int openvpnsetting_set_certs(const OpenvpnSettingRow *openvpn);
int storage_delete(int id);
int fwipblacklist_add(const FwIpBlacklistRow *entry);
// Stores location's storagetype and storageslotid for datatype.
int sysdatalocation_set(const SysDataLocationRow *location, const char *datatype);

// Unreported writes. The forgetpwd and loginmanage ones apart from
// loginmanage_delete are in MySQL's dialect: under SQLite they change
// nothing. usermanagement_set selects the user by user->username.
int forgetpwd_add(const char *username, const char *randomcode);
int forgetpwd_delete(const char *username);
int usermanagement_set(const UserManagementRow *user);
int usermanagement_add(const UserManagementRow *user);
int loginmanage_set(const LoginManageRow *login);
int loginmanage_add(const LoginManageRow *login);
int loginmanage_delete(const char *remoteip);

#endif  // ALERTMILL_DB_CONFIG_TABLES_H_
