#include "db/config_tables.h"

#include <strings.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include "db/accessor.h"

namespace {

// Result schemes.

constexpr DbResults kRowRead = kDbReadResults;
constexpr DbResults kListRead = kDbReadResults;
constexpr DbResults kNumberedListRead = kDbNumberedReadResults;
// Reads that number a failed query -4.
constexpr DbResults kNumberedRowRead{-1, -2, -3, -4, -3};
// A failed query counts as a failed open.
constexpr DbResults kOpenvpnRead{-1, -2, -3, -1, -3};
// A failed open counts as a failed query.
constexpr DbResults kUserRead{-2, -2, -3, -2, -3};

constexpr DbWriteResults kWrite = kDbWriteResults;
constexpr DbWriteResults kUnreportedWrite = kDbBlindWriteResults;
constexpr DbWriteResults kUnreportedWriteOpen3{-3, false};

// The operations: each formats its statement into a zeroed buffer of Size
// bytes and hands it, with its record layout and result scheme, to the
// accessor procedure.

// Loads the first row into a new *row; -1 before the lock when row is null or
// a required argument is missing (arguments_given false).
template <int Size, typename Record, size_t N>
__attribute__((format(printf, 5, 6))) int read_row(Record **row, bool arguments_given,
                                                   const DbResults &results,
                                                   const DbField<Record> (&fields)[N],
                                                   const char *format, ...) {
  if (row != nullptr) *row = nullptr;
  if (row == nullptr || !arguments_given) return -1;
  DbStatement<Size> sql;
  va_list args;
  va_start(args, format);
  sql.vformat(format, args);
  va_end(args);
  return db_read_row(sql.c_str(), fields, row, results);
}

// Loads count_sql's count of records from sql into a new array.
template <typename Record, size_t N>
int read_list(Record **rows, int *count, const DbResults &results, const char *count_sql,
              const char *sql, const DbField<Record> (&fields)[N]) {
  if (rows != nullptr) *rows = nullptr;
  if (count != nullptr) *count = 0;
  if (rows == nullptr || count == nullptr) return -1;
  return db_read_list(count_sql, sql, fields, rows, count, results);
}

// MySQL's DATE_ADD(column,INTERVAL interval), in a buffer sized from its
// parts.
std::string date_add(const char *column, const char *interval) {
  static constexpr char kFormat[] = "DATE_%s(%s,INTERVAL %s)";
  static constexpr char kAdd[] = "ADD";
  const size_t size =
      sizeof kFormat - 3 * strlen("%s") + strlen(kAdd) + strlen(column) + strlen(interval);
  std::string operand(size, '\0');
  snprintf(&operand[0], size, kFormat, kAdd, column, interval);
  operand.resize(size - 1);
  return operand;
}

// MySQL's current time, where a statement takes it.
constexpr char kNow[] = "now()";

// Record layouts: each field and the select column that fills it, in record
// order.

constexpr DbField<DhcpServerRow> kDhcpServerFields[] = {
    db_text<&DhcpServerRow::enable>(0),
    db_text<&DhcpServerRow::routers>(1),
    db_text<&DhcpServerRow::subnetmask>(2),
    db_text<&DhcpServerRow::dns1>(3),
    db_text<&DhcpServerRow::dns2>(4),
    db_text<&DhcpServerRow::ipfrom>(5),
    db_text<&DhcpServerRow::ipto>(6),
    db_text<&DhcpServerRow::ntpserver>(7),
    db_text<&DhcpServerRow::tftpserver>(8),
    db_integer<&DhcpServerRow::default_leasetime>(9),
    db_integer<&DhcpServerRow::max_leasetime>(10),
};

constexpr DbField<MailboxSettingRow> kMailboxSettingFields[] = {
    db_text<&MailboxSettingRow::email>(0),         db_text<&MailboxSettingRow::secret>(1),
    db_text<&MailboxSettingRow::smtpserver>(2),    db_text<&MailboxSettingRow::port>(3),
    db_text<&MailboxSettingRow::usessl>(4),        db_text<&MailboxSettingRow::fromlineoverride>(5),
    db_text<&MailboxSettingRow::root>(6),          db_text<&MailboxSettingRow::rewritedomain>(7),
    db_text<&MailboxSettingRow::pop3server>(8),    db_text<&MailboxSettingRow::pop3port>(9),
    db_text<&MailboxSettingRow::pop3interval>(10), db_text<&MailboxSettingRow::pop3delemail>(11),
    db_text<&MailboxSettingRow::sendername>(12),   db_text<&MailboxSettingRow::needauth>(13),
};

constexpr DbField<DdnsSettingRow> kDdnsSettingFields[] = {
    db_text<&DdnsSettingRow::enableddns>(0),  db_text<&DdnsSettingRow::domain>(1),
    db_text<&DdnsSettingRow::username>(2),    db_text<&DdnsSettingRow::password>(3),
    db_text<&DdnsSettingRow::freednshash>(4), db_text<&DdnsSettingRow::ddnsserver>(5),
};

constexpr DbField<DateAndTimeRow> kDateAndTimeFields[] = {
    db_text<&DateAndTimeRow::timezone>(0),
    db_text<&DateAndTimeRow::enabledst>(1),
    db_text<&DateAndTimeRow::enablentp>(2),
    db_text<&DateAndTimeRow::ntpserver>(3),
};

constexpr DbField<NetworkServiceRow> kNetworkServiceFields[] = {
    db_text<&NetworkServiceRow::enablessh>(0),      db_text<&NetworkServiceRow::sshport>(1),
    db_text<&NetworkServiceRow::enableftp>(2),      db_text<&NetworkServiceRow::ftpport>(3),
    db_text<&NetworkServiceRow::enabletftp>(4),     db_text<&NetworkServiceRow::tftpport>(5),
    db_text<&NetworkServiceRow::httpscert>(6),      db_text<&NetworkServiceRow::webprotocol>(7),
    db_text<&NetworkServiceRow::webport>(8),        db_text<&NetworkServiceRow::redirecturl>(9),
    db_text<&NetworkServiceRow::webexpiretime>(10), db_text<&NetworkServiceRow::extloginmode>(11),
    db_text<&NetworkServiceRow::emlloginmode>(12),
};

constexpr DbField<L2tpSettingRow> kL2tpSettingFields[] = {
    db_text<&L2tpSettingRow::type>(0),       db_text<&L2tpSettingRow::enable>(1),
    db_text<&L2tpSettingRow::serveraddr>(2), db_text<&L2tpSettingRow::port>(3),
    db_text<&L2tpSettingRow::username>(4),   db_text<&L2tpSettingRow::password>(5),
    db_text<&L2tpSettingRow::maxmtu>(6),     db_text<&L2tpSettingRow::maxmru>(7),
    db_text<&L2tpSettingRow::useprofile>(8),
};

constexpr DbField<OpenvpnSettingRow> kOpenvpnSettingFields[] = {
    db_text<&OpenvpnSettingRow::type>(0),        db_text<&OpenvpnSettingRow::serveraddr>(2),
    db_text<&OpenvpnSettingRow::serverport>(3),  db_text<&OpenvpnSettingRow::protocol>(4),
    db_text<&OpenvpnSettingRow::device>(5),      db_text<&OpenvpnSettingRow::username>(6),
    db_text<&OpenvpnSettingRow::password>(7),    db_text<&OpenvpnSettingRow::encryption>(8),
    db_text<&OpenvpnSettingRow::compression>(9), db_text<&OpenvpnSettingRow::proxyserver>(10),
    db_text<&OpenvpnSettingRow::proxyport>(11),  db_text<&OpenvpnSettingRow::enable>(1),
    db_text<&OpenvpnSettingRow::useprofile>(12), db_text<&OpenvpnSettingRow::tlsauth>(13),
    db_text<&OpenvpnSettingRow::cacrt>(14),      db_text<&OpenvpnSettingRow::clientcrt>(15),
    db_text<&OpenvpnSettingRow::clientkey>(16),  db_text<&OpenvpnSettingRow::takey>(17),
    db_text<&OpenvpnSettingRow::tarname>(18),
};

constexpr DbField<IpsecSettingRow> kIpsecSettingFields[] = {
    db_text<&IpsecSettingRow::type>(0),           db_text<&IpsecSettingRow::enable>(1),
    db_text<&IpsecSettingRow::negotiation>(2),    db_text<&IpsecSettingRow::verification>(3),
    db_text<&IpsecSettingRow::encryption>(4),     db_text<&IpsecSettingRow::dhgroup>(5),
    db_text<&IpsecSettingRow::authentimodle>(6),  db_text<&IpsecSettingRow::privatekey>(7),
    db_text<&IpsecSettingRow::sharekey>(8),       db_text<&IpsecSettingRow::leftkey>(9),
    db_text<&IpsecSettingRow::rightkey>(10),      db_text<&IpsecSettingRow::ikelifetime>(11),
    db_text<&IpsecSettingRow::dpdenable>(12),     db_text<&IpsecSettingRow::dpdchktimes>(13),
    db_text<&IpsecSettingRow::dpdretrycount>(22), db_text<&IpsecSettingRow::dpdtimeout>(23),
    db_text<&IpsecSettingRow::remoteip>(14),      db_text<&IpsecSettingRow::remotesubnet>(15),
    db_text<&IpsecSettingRow::safeprotocol>(16),  db_text<&IpsecSettingRow::espverify>(17),
    db_text<&IpsecSettingRow::espencryption>(18), db_text<&IpsecSettingRow::pfsenable>(19),
    db_text<&IpsecSettingRow::ipseclifetime>(20), db_text<&IpsecSettingRow::localid>(24),
    db_text<&IpsecSettingRow::remoteid>(25),      db_text<&IpsecSettingRow::useprofile>(21),
};

// Also the layout of storage_get_last's "select *", by column position.
constexpr DbField<StorageRow> kStorageFields[] = {
    db_text<&StorageRow::id>(0),        db_text<&StorageRow::name>(6),
    db_text<&StorageRow::enable>(1),    db_text<&StorageRow::host>(2),
    db_text<&StorageRow::sharename>(3), db_text<&StorageRow::username>(4),
    db_text<&StorageRow::password>(5),
};

constexpr DbField<BasicNetworkRow> kBasicNetworkFields[] = {
    db_text<&BasicNetworkRow::hostname>(0),
    db_text<&BasicNetworkRow::mode>(1),
    db_text<&BasicNetworkRow::gwnic>(2),
};

constexpr DbField<FwGeneralRow> kFwGeneralFields[] = {
    db_text<&FwGeneralRow::enable>(0),
    db_text<&FwGeneralRow::disableping>(1),
    db_text<&FwGeneralRow::dropall>(2),
};

constexpr DbField<SysDataLocationRow> kSysDataLocationFields[] = {
    db_text<&SysDataLocationRow::id>(0),
    db_text<&SysDataLocationRow::datatype>(1),
    db_text<&SysDataLocationRow::storagetype>(2),
    db_text<&SysDataLocationRow::storageslotid>(3),
};

constexpr DbField<SysAutoCleanRow> kSysAutoCleanFields[] = {
    db_text<&SysAutoCleanRow::maxnumberlog>(0),
    db_text<&SysAutoCleanRow::keeplogday>(1),
};

constexpr DbField<FirmwareUpgradeRow> kFirmwareUpgradeFields[] = {
    db_text<&FirmwareUpgradeRow::autoupgrademode>(0),
    db_text<&FirmwareUpgradeRow::autoupgradeweek>(1),
    db_text<&FirmwareUpgradeRow::autoupgradehour>(2),
};

constexpr DbField<SyslogModeRow> kSyslogModeFields[] = {
    db_text<&SyslogModeRow::syslogmode>(0),
};

constexpr DbField<DatabaseGrantRow> kDatabaseGrantFields[] = {
    db_text<&DatabaseGrantRow::id>(3),
    db_text<&DatabaseGrantRow::username>(0),
    db_text<&DatabaseGrantRow::password>(1),
    db_text<&DatabaseGrantRow::host>(2),
};

constexpr DbField<UserManagementRow> kUserManagementFields[] = {
    db_text<&UserManagementRow::username>(2),       db_text<&UserManagementRow::password>(3),
    db_text<&UserManagementRow::login>(4),          db_text<&UserManagementRow::email>(5),
    db_text<&UserManagementRow::type>(1),           db_integer<&UserManagementRow::id>(0),
    db_integer<&UserManagementRow::extensionid>(6),
};

constexpr DbField<LoginManageRow> kLoginManageFields[] = {
    db_text<&LoginManageRow::remoteip>(0),
    db_text<&LoginManageRow::trytimes>(1),
    db_text<&LoginManageRow::date>(2),
    db_text<&LoginManageRow::state>(3),
};

// The permission columns' numbers in their select, generated from the one
// list of names with the records and select lists.
#define ALERTMILL_PERMISSION_NUMBER(name) name,
#define ALERTMILL_SUMMARY_FIELD(name) db_text<&UserPermissionsRow::name>(permission::name + 1),
#define ALERTMILL_FULL_FIELD(name) db_text<&UserPermissionRow::name>(permission::name),

namespace permission {
enum Column : int {
  ALERTMILL_SUMMARY_PERMISSIONS(ALERTMILL_PERMISSION_NUMBER)
      ALERTMILL_FURTHER_PERMISSIONS(ALERTMILL_PERMISSION_NUMBER)
};
}  // namespace permission

constexpr DbField<UserPermissionsRow> kUserPermissionsFields[] = {
    db_text<&UserPermissionsRow::username>(0),
    ALERTMILL_SUMMARY_PERMISSIONS(ALERTMILL_SUMMARY_FIELD)};
constexpr DbField<UserPermissionRow> kUserPermissionFields[] = {ALERTMILL_SUMMARY_PERMISSIONS(
    ALERTMILL_FULL_FIELD) ALERTMILL_FURTHER_PERMISSIONS(ALERTMILL_FULL_FIELD)};

#undef ALERTMILL_PERMISSION_NUMBER
#undef ALERTMILL_SUMMARY_FIELD
#undef ALERTMILL_FULL_FIELD

static_assert(std::size(kUserPermissionsFields) == 40);
static_assert(std::size(kUserPermissionFields) == 53);
// A summary statement for the longest user name (63 characters) still fits.
static_assert(sizeof "select username from usermanagement where username='';" +
                  sizeof kSummaryPermissionColumns + 63 <=
              512 + 2);

constexpr DbField<AppSettingRow> kAppSettingFields[] = {
    db_text<&AppSettingRow::autoupgradeweek>(0),
    db_text<&AppSettingRow::autoupgradehour>(1),
};

constexpr DbField<HostStandbyRow> kHostStandbyFields[] = {
    db_text<&HostStandbyRow::enable>(0),      db_text<&HostStandbyRow::mode>(1),
    db_text<&HostStandbyRow::hostname>(2),    db_text<&HostStandbyRow::ipaddress>(3),
    db_text<&HostStandbyRow::authkeys>(4),    db_text<&HostStandbyRow::vipaddress>(5),
    db_text<&HostStandbyRow::vnetmask>(6),    db_text<&HostStandbyRow::pingnodes>(7),
    db_text<&HostStandbyRow::keepalive>(8),   db_text<&HostStandbyRow::deadtime>(9),
    db_text<&HostStandbyRow::reboottime>(10), db_text<&HostStandbyRow::synctime>(11),
    db_text<&HostStandbyRow::hbudpport>(12),  db_text<&HostStandbyRow::stoption>(15),
    db_text<&HostStandbyRow::syncuser>(13),   db_text<&HostStandbyRow::syncpass>(14),
};

constexpr DbField<ShareSettingRow> kShareSettingFields[] = {
    db_text<&ShareSettingRow::enable>(0),       db_text<&ShareSettingRow::sharename>(1),
    db_text<&ShareSettingRow::username>(2),     db_text<&ShareSettingRow::password>(3),
    db_text<&ShareSettingRow::enabledelete>(4),
};

constexpr DbField<BackupScheduleRow> kBackupScheduleFields[] = {
    db_text<&BackupScheduleRow::enable>(0),        db_text<&BackupScheduleRow::backuptime>(1),
    db_text<&BackupScheduleRow::storagetype>(2),   db_text<&BackupScheduleRow::backupmaxnumber>(3),
    db_text<&BackupScheduleRow::backupidx>(4),     db_text<&BackupScheduleRow::prefixfile>(5),
    db_text<&BackupScheduleRow::storagetypeid>(6), db_text<&BackupScheduleRow::setbackuptime>(7),
};

constexpr DbField<StaticRouteRow> kStaticRouteFields[] = {
    db_text<&StaticRouteRow::id>(0),          db_text<&StaticRouteRow::destination>(1),
    db_text<&StaticRouteRow::subnet>(2),      db_text<&StaticRouteRow::gateway>(3),
    db_text<&StaticRouteRow::metric>(4),      db_text<&StaticRouteRow::iface>(5),
    db_text<&StaticRouteRow::description>(6),
};

constexpr DbField<NicSettingRow> kNicSettingFields[] = {
    db_text<&NicSettingRow::id>(0),
    db_text<&NicSettingRow::iface>(1),
    db_text<&NicSettingRow::type>(2),
    db_text<&NicSettingRow::ipaddress>(3),
    db_text<&NicSettingRow::netmask>(4),
    db_text<&NicSettingRow::gateway>(5),
    db_text<&NicSettingRow::dns1>(6),
    db_text<&NicSettingRow::dns2>(7),
    db_text<&NicSettingRow::ipaddress2>(8),
    db_text<&NicSettingRow::netmask2>(9),
    db_text<&NicSettingRow::pppoeusername>(10),
    db_text<&NicSettingRow::pppoepassword>(11),
    db_text<&NicSettingRow::enablevlan>(12),
    db_text<&NicSettingRow::vlanid>(13),
    db_text<&NicSettingRow::vlanpriority>(14),
};

constexpr DbField<FwCommonRuleRow> kFwCommonRuleFields[] = {
    db_text<&FwCommonRuleRow::id>(0),       db_text<&FwCommonRuleRow::pos>(1),
    db_text<&FwCommonRuleRow::rulename>(2), db_text<&FwCommonRuleRow::fwdescribe>(3),
    db_text<&FwCommonRuleRow::protocol>(4), db_text<&FwCommonRuleRow::port>(5),
    db_text<&FwCommonRuleRow::ip>(6),       db_text<&FwCommonRuleRow::mac>(7),
    db_text<&FwCommonRuleRow::action>(8),
};

constexpr DbField<FwIpBlacklistRuleRow> kFwIpBlacklistRuleFields[] = {
    db_text<&FwIpBlacklistRuleRow::id>(0),         db_text<&FwIpBlacklistRuleRow::rulename>(1),
    db_text<&FwIpBlacklistRuleRow::type>(2),       db_text<&FwIpBlacklistRuleRow::port>(3),
    db_text<&FwIpBlacklistRuleRow::protocol>(4),   db_text<&FwIpBlacklistRuleRow::packets>(5),
    db_text<&FwIpBlacklistRuleRow::fwinterval>(6),
};

constexpr DbField<FwIpBlacklistRow> kFwIpBlacklistFields[] = {
    db_text<&FwIpBlacklistRow::id>(0),       db_text<&FwIpBlacklistRow::datetime>(1),
    db_text<&FwIpBlacklistRow::protocol>(2), db_text<&FwIpBlacklistRow::srcip>(3),
    db_text<&FwIpBlacklistRow::dstport>(4),  db_text<&FwIpBlacklistRow::interface>(5),
    db_text<&FwIpBlacklistRow::macaddr>(6),  db_text<&FwIpBlacklistRow::sourceflag>(7),
};

constexpr DbField<EventContactRow> kEventContactFields[] = {
    db_text<&EventContactRow::id>(0),
    db_text<&EventContactRow::contact>(2),
    db_text<&EventContactRow::extensionid>(1),
    db_text<&EventContactRow::enableemail>(3),
    db_text<&EventContactRow::enablesms>(4),
    db_text<&EventContactRow::enablemobile>(5),
    db_text<&EventContactRow::enableextension>(6),
    db_text<&EventContactRow::enablewechat>(7),
    db_text<&EventContactRow::email>(8),
    db_text<&EventContactRow::mobileprefix>(9),
    db_text<&EventContactRow::mobile>(10),
    db_text<&EventContactRow::wechat>(11),
};

constexpr DbField<AppCenterRow> kAppCenterFields[] = {
    db_text<&AppCenterRow::app>(0),
    db_text<&AppCenterRow::autoupgrade>(1),
};

constexpr DbField<WebPrivilegeRow> kWebPrivilegeFields[] = {
    db_text<&WebPrivilegeRow::id>(0),     db_text<&WebPrivilegeRow::name>(1),
    db_text<&WebPrivilegeRow::frame>(2),  db_text<&WebPrivilegeRow::privilege>(3),
    db_text<&WebPrivilegeRow::level1>(4), db_text<&WebPrivilegeRow::level2>(5),
    db_text<&WebPrivilegeRow::level3>(6), db_text<&WebPrivilegeRow::privilegetab>(7),
};

}  // namespace

// Row reads.

int dhcpserver_get(DhcpServerRow **row) {
  return read_row<256>(row, true, kRowRead, kDhcpServerFields,
                       "select enable,routers,subnetmask,dns1,dns2,ipfrom,ipto,ntpserver,"
                       "tftpserver,default_leasetime,max_leasetime from dhcpserver");
}

int mailboxsetting_get(MailboxSettingRow **row) {
  return read_row<512>(row, true, kRowRead, kMailboxSettingFields,
                       "select email ,secret,smtpserver,port ,usessl ,fromlineoverride ,root "
                       ",rewritedomain,pop3server ,pop3port,pop3interval,pop3delemail,sendername,"
                       "needauth from mailboxsetting");
}

int ddnssetting_get(DdnsSettingRow **row) {
  return read_row<256>(
      row, true, kRowRead, kDdnsSettingFields,
      "select enableddns,domain,username,password,freednshash,ddnsserver from ddnssetting");
}

int dateandtime_get(DateAndTimeRow **row) {
  return read_row<256>(row, true, kRowRead, kDateAndTimeFields,
                       "select timezone,enabledst,enablentp,ntpserver from dateandtime");
}

int networkservice_get(NetworkServiceRow **row) {
  return read_row<256>(row, true, kRowRead, kNetworkServiceFields,
                       "select enablessh,sshport,enableftp,ftpport,enabletftp,tftpport,httpscert,"
                       "webprotocol,webport,redirecturl,webexpiretime,extloginmode,emlloginmode "
                       "from networkservice");
}

int l2tpsetting_get(L2tpSettingRow **row) {
  return read_row<512>(row, true, kRowRead, kL2tpSettingFields,
                       "select type,enable,serveraddr,port,username,password,maxmtu,maxmru,"
                       "useprofile from l2tpsetting");
}

int openvpnsetting_get(OpenvpnSettingRow **row) {
  return read_row<512>(row, true, kOpenvpnRead, kOpenvpnSettingFields,
                       "select type,enable,serveraddr,serverport,protocol,device,username,"
                       "password,encryption,compression,proxyserver,proxyport,useprofile,"
                       "tlsauth,cacrt,clientcrt,clientkey,takey,tarname from openvpnsetting");
}

int ipsecsetting_get(IpsecSettingRow **row) {
  return read_row<512>(row, true, kRowRead, kIpsecSettingFields,
                       "select type,enable, negotiation , verification ,encryption ,dhgroup "
                       ",authentimodle ,privatekey,\t\tsharekey ,leftkey,rightkey,ikelifetime,"
                       "dpdenable ,dpdchktimes ,remoteip ,remotesubnet ,safeprotocol ,espverify "
                       ",\t\tespencryption , pfsenable ,ipseclifetime,useprofile ,dpdretrycount "
                       ",dpdtimeout,localid,remoteid from ipsecsetting");
}

int storage_get(StorageRow **row, int id) {
  return read_row<256>(row, true, kNumberedRowRead, kStorageFields,
                       "select id,enable,host,sharename,username,password,name from storage "
                       "where id=%d",
                       id);
}

int storage_get_last(StorageRow **row) {
  return read_row<256>(row, true, kNumberedRowRead, kStorageFields,
                       "SELECT * FROM storage  WHERE 1 ORDER BY `id` DESC LIMIT 0,1 ");
}

int basicnetwork_get(BasicNetworkRow **row) {
  return read_row<256>(row, true, kRowRead, kBasicNetworkFields,
                       "select hostname,mode,gwnic from basicnetwork");
}

int fwgeneral_get(FwGeneralRow **row) {
  return read_row<256>(row, true, kRowRead, kFwGeneralFields,
                       "select enable,disableping,dropall from fwgeneral;");
}

int sysdatalocation_get(SysDataLocationRow **row, const char *datatype) {
  return read_row<256>(row, datatype != nullptr, kRowRead, kSysDataLocationFields,
                       "select id,datatype,storagetype,storageslotid from sysdatalocation where "
                       "datatype='%s';",
                       datatype);
}

int sysautoclean_get(SysAutoCleanRow **row) {
  return read_row<512>(row, true, kRowRead, kSysAutoCleanFields,
                       "select  maxnumberlog,keeplogday from sysautoclean");
}

int firmwareupgrade_get(FirmwareUpgradeRow **row) {
  return read_row<256>(row, true, kRowRead, kFirmwareUpgradeFields,
                       "select autoupgrademode,autoupgradeweek,autoupgradehour from "
                       "firmwareupgrade ");
}

int syslogmode_get(SyslogModeRow **row) {
  return read_row<256>(row, true, kRowRead, kSyslogModeFields, "select syslogmode from syslog ");
}

int databasegrant_get(DatabaseGrantRow **row, const char *id) {
  return read_row<256>(row, id != nullptr, kRowRead, kDatabaseGrantFields,
                       "select username,password,host,id from databasegrant where id='%s' ", id);
}

int databasegrant_get_last(DatabaseGrantRow **row) {
  return read_row<256>(row, true, kRowRead, kDatabaseGrantFields,
                       "select username,password,host,id from databasegrant order by id desc "
                       "limit 0,1;");
}

int usermanagement_get_by_username(UserManagementRow **row, const char *username) {
  return read_row<512>(row, username != nullptr, kUserRead, kUserManagementFields,
                       "select id,type,username,password,login,email,extensionid from "
                       "usermanagement where binary username='%s';",
                       username);
}

int usermanagement_get_by_email(UserManagementRow **row, const char *email) {
  return read_row<512>(row, email != nullptr, kUserRead, kUserManagementFields,
                       "select id,type,username,password,login,email,extensionid from "
                       "usermanagement where binary email='%s';",
                       email);
}

int loginmanage_get(LoginManageRow **row, const char *remoteip) {
  return read_row<512>(row, remoteip != nullptr, kRowRead, kLoginManageFields,
                       "select remoteIp,trytimes, date, state from loginmanage where "
                       "remoteip='%s'",
                       remoteip);
}

int usermanagement_get_permissions(UserPermissionsRow **row, const char *username) {
  return read_row<512>(row, username != nullptr, kRowRead, kUserPermissionsFields,
                       "select username%s from usermanagement where username='%s';",
                       kSummaryPermissionColumns, username);
}

int appsetting_get(AppSettingRow **row) {
  return read_row<256>(row, true, kRowRead, kAppSettingFields,
                       "select autoupgradeweek,autoupgradehour from appsetting ");
}

int hoststandby_get(HostStandbyRow **row) {
  return read_row<512>(row, true, kRowRead, kHostStandbyFields,
                       "select enable,mode,hostname,ipaddress,authkeys,vipaddress,vnetmask,"
                       "pingnodes,keepalive,deadtime,reboottime,synctime,hbudpport,syncuser,"
                       "syncpass,stoption from hoststandby;");
}

int sharesetting_get(ShareSettingRow **row) {
  return read_row<256>(row, true, kRowRead, kShareSettingFields,
                       "select enable,sharename,username,password,enabledelete from sharesetting;");
}

int backupschedule_get(BackupScheduleRow **row) {
  return read_row<256>(row, true, kRowRead, kBackupScheduleFields,
                       "select enable,backuptime,storagetype,backupmaxnumber,backupidx,prefixfile,"
                       "storagetypeid,setbackuptime from backupschedule;");
}

// List reads.

int staticroute_get_all(StaticRouteRow **rows, int *count) {
  return read_list(rows, count, kNumberedListRead, "select count(*) from staticroute",
                   "select id,destination,subnet,gateway,metric,iface,description from staticroute",
                   kStaticRouteFields);
}

int storage_get_all(StorageRow **rows, int *count) {
  return read_list(rows, count, kNumberedListRead, "select count(*) from storage",
                   "select id,enable,host,sharename,username,password,name from storage",
                   kStorageFields);
}

int nicsetting_get_all(NicSettingRow **rows, int *count) {
  return read_list(rows, count, kNumberedListRead, "select count(*) from nicsetting",
                   "select id,iface,type,ipaddress,netmask,gateway,dns1,dns2,ipaddress2,netmask2,"
                   "pppoeusername,pppoepassword,enablevlan,vlanid,vlanpriority from nicsetting",
                   kNicSettingFields);
}

int fwcommonrule_get_all(FwCommonRuleRow **rows, int *count) {
  return read_list(rows, count, kListRead, "select count(*) from fwcommonrule;",
                   "select id,pos,rulename,fwdescribe,protocol,port,ip,mac,action from "
                   "fwcommonrule order by action,pos asc;",
                   kFwCommonRuleFields);
}

int fwipblacklistrule_get_all(FwIpBlacklistRuleRow **rows, int *count) {
  return read_list(rows, count, kListRead, "select count(*) from fwipblacklistrule;",
                   "select id,rulename,type,port,protocol,packets,fwinterval from "
                   "fwipblacklistrule order by protocol,port;",
                   kFwIpBlacklistRuleFields);
}

int fwipblacklist_get_all(FwIpBlacklistRow **rows, int *count) {
  return read_list(rows, count, kListRead, "select count(*) from fwipblacklist;",
                   "select id,datetime,protocol,srcip,dstport,interface,macaddr,sourceflag from "
                   "fwipblacklist",
                   kFwIpBlacklistFields);
}

int eventcontact_get_all(EventContactRow **rows, int *count) {
  return read_list(rows, count, kListRead, "select count(*) from eventcontact;",
                   "select id,extensionid,contact,enableemail,enablesms,enablemobile,"
                   "enableextension,enablewechat,email,mobileprefix,mobile,wechat from "
                   "eventcontact;",
                   kEventContactFields);
}

int sysdatalocation_get_all(SysDataLocationRow **rows, int *count) {
  return read_list(rows, count, kListRead, "select count(*) from sysdatalocation;",
                   "select id,datatype,storagetype,storageslotid from sysdatalocation;",
                   kSysDataLocationFields);
}

int appcenter_get_all(AppCenterRow **rows, int *count) {
  return read_list(rows, count, kListRead,
                   "select count(*) from  appcenter where type <2 and localversion != \"0.0.0\" "
                   "and localversion is not null and localversion !=\"\";",
                   "select app, autoupgrade from appcenter where type <2 and localversion != "
                   "\"0.0.0\" and localversion is not null and localversion !=\"\";",
                   kAppCenterFields);
}

int webprivilege_get_all(WebPrivilegeRow **rows, int *count, int level1, int level2, int level3) {
  if (rows != nullptr) *rows = nullptr;
  if (count != nullptr) *count = 0;
  if (rows == nullptr || count == nullptr) return -1;
  static constexpr char kSelect[] =
      "select id,name,frame,privilege,level1,level2,level3,privilegetab from webprivilege";
  DbStatement<256> sql;
  if (level1 == -1 && level2 == 0 && level3 == 0) {
    sql.format("%s where level2=%d and level3=%d order by level1", kSelect, level2, level3);
  } else if (level1 > 0 && level2 == -1 && level3 == -1) {
    sql.format("%s where level1=%d and (level2>0 or level3>0) order by level2,level3", kSelect,
               level1);
  } else {
    sql.copy(kSelect);
  }
  return db_read_upto(sql.c_str(), 128, kWebPrivilegeFields, rows, count, kNumberedRowRead);
}

int user_permission_get(UserPermissionRow *permission, const char *username) {
  if (permission == nullptr || username == nullptr) return -1;
  DbSession session;
  if (!session.is_open()) return -1;
  DbStatement<2048> sql;
  if (!session.found(
          sql.format("select type from usermanagement where username='%s';", username))) {
    return -2;
  }
  char type[64] = {};
  db_get_value(session.result(), 0, type, sizeof type);
  // An extension user manages only its own settings.
  if (strcmp(type, "extension") == 0) {
    snprintf(permission->mesetting, sizeof permission->mesetting, "%s", "yes");
    return 0;
  }
  // The list starts with a comma.
  if (!session.found(sql.format("select %s from usermanagement where username='%s';",
                                kAllPermissionColumns + 1, username))) {
    return -2;
  }
  db_fill(session.result(), kUserPermissionFields, permission);
  return 0;
}

// Counts and tests.

int staticroute_count_same(const StaticRouteRow *route, int *count) {
  if (count != nullptr) *count = 0;
  if (route == nullptr || count == nullptr) return -1;
  int result =
      db_count(DbStatement<256>().format(
                   "select count(*) from staticroute where destination='%s' and "
                   "subnet='%s' and gateway='%s' and metric='%s' and iface='%s'",
                   route->destination, route->subnet, route->gateway, route->metric, route->iface),
               count);
  if (result != 0) return result;
  return *count >= 1 ? 0 : -3;
}

int fwipblacklist_exists(const FwIpBlacklistRow *entry) {
  if (entry == nullptr) return -2;
  int count = 0;
  int result = db_count(DbStatement<256>().format(
                            "select count(*) from fwipblacklist where srcip='%s';", entry->srcip),
                        &count);
  return result == 0 && count >= 1 ? 0 : -1;
}

int table_count(const char *table, const char *condition, int *count) {
  if (count != nullptr) *count = 0;
  if (table == nullptr || count == nullptr) return -1;
  if (condition != nullptr && condition[0] != '\0') {
    return db_count(
        DbStatement<511>().format("select count(*) from %s where %s;", table, condition), count);
  }
  return db_count(DbStatement<511>().format("select count(*) from %s ;", table), count);
}

int forgetpwd_check(const char *username, const char *randomcode) {
  if (username == nullptr || randomcode == nullptr) return 0;
  return db_test(DbStatement<512>().format(
                     "select * from forgetpwd where %s>%s and username='%s' and randomcode='%s'",
                     date_add("expiretime", "30 MINUTE").c_str(), kNow, username, randomcode),
                 0);
}

int forgetpwd_exists(const char *username) {
  if (username == nullptr) return -1;
  return db_test(DbStatement<512>().format("select * from forgetpwd where username='%s'", username),
                 -1);
}

int loginmanage_exists(const char *remoteip) {
  if (remoteip == nullptr) return -1;
  return db_test(
      DbStatement<512>().format("select * from loginmanage where remoteip='%s'", remoteip), -1);
}

int loginmanage_locked(const char *remoteip) {
  if (remoteip == nullptr) return 0;
  return db_test(
      DbStatement<512>().format("select * from loginmanage where %s<%s and remoteip='%s';",
                                date_add("date", "10 MINUTE").c_str(), kNow, remoteip),
      0);
}

// Writes.

int staticroute_add(const StaticRouteRow *route) {
  if (route == nullptr) return -1;
  return db_write(DbStatement<512>().format(
                      "insert into staticroute(destination, subnet, gateway, metric, iface, "
                      "description) value('%s', '%s', '%s', '%s', '%s', '%s');",
                      route->destination, route->subnet, route->gateway, route->metric,
                      route->iface, route->description),
                  kUnreportedWriteOpen3);
}

int staticroute_set(const StaticRouteRow *route) {
  if (route == nullptr) return -1;
  return db_write(
      DbStatement<512>().format("update staticroute set destination='%s',subnet='%s',gateway='%s',"
                                "metric='%s',iface='%s',description='%s' where id='%s';",
                                route->destination, route->subnet, route->gateway, route->metric,
                                route->iface, route->description, route->id),
      kUnreportedWriteOpen3);
}

int backupschedule_set(const char *backupidx, const char *setbackuptime) {
  if (backupidx == nullptr || setbackuptime == nullptr) return -1;
  if (strcasecmp(setbackuptime, "-1") != 0) {
    return db_write(
        DbStatement<128>().format("update backupschedule set setbackuptime = '%s';", setbackuptime),
        kUnreportedWriteOpen3);
  }
  return db_write(
      DbStatement<128>().format("update backupschedule set backupidx = '%s';", backupidx),
      kUnreportedWriteOpen3);
}

int openvpnsetting_set_certs(const OpenvpnSettingRow *openvpn) {
  if (openvpn == nullptr) return -1;
  return db_write(
      DbStatement<1536>().format(
          "update openvpnsetting set cacrt='%s',clientcrt='%s',clientkey='%s',"
          "takey='%s',tarname='%s';",
          openvpn->cacrt, openvpn->clientcrt, openvpn->clientkey, openvpn->takey, openvpn->tarname),
      kWrite);
}

int storage_delete(int id) {
  return db_write(DbStatement<4096>().format("delete from storage where id='%d'", id), kWrite);
}

int fwipblacklist_add(const FwIpBlacklistRow *entry) {
  if (entry == nullptr) return -1;
  return db_write(
      DbStatement<256>().format("insert into fwipblacklist "
                                "(datetime,protocol,srcip,dstport,interface,macaddr,sourceflag) "
                                "values('%s','%s','%s','%s','%s','%s','%s');",
                                entry->datetime, entry->protocol, entry->srcip, entry->dstport,
                                entry->interface, entry->macaddr, entry->sourceflag),
      kWrite);
}

int sysdatalocation_set(const SysDataLocationRow *location, const char *datatype) {
  if (location == nullptr || datatype == nullptr) return -1;
  return db_write(DbStatement<4096>().format(
                      "UPDATE sysdatalocation SET storagetype = '%s',storageslotid='%s' WHERE "
                      "datatype = '%s' ",
                      location->storagetype, location->storageslotid, datatype),
                  kWrite);
}

int forgetpwd_add(const char *username, const char *randomcode) {
  if (username == nullptr || randomcode == nullptr) return -1;
  return db_write(DbStatement<1024>().format(
                      "insert into forgetpwd(username,randomcode,expiretime) values('%s','%s',%s);",
                      username, randomcode, kNow),
                  kUnreportedWrite);
}

int forgetpwd_delete(const char *username) {
  if (username == nullptr) return -1;
  return db_write(
      DbStatement<1024>().format("delete from forgetpwd where binary username='%s'", username),
      kUnreportedWrite);
}

int usermanagement_set(const UserManagementRow *user) {
  if (user == nullptr) return -1;
  return db_write(
      DbStatement<1024>().format(
          "update usermanagement set password='%s',type='%s',email='%s',login='%s',"
          "extensionid=%d where username='%s';",
          user->password, user->type, user->email, user->login, user->extensionid, user->username),
      kUnreportedWrite);
}

int usermanagement_add(const UserManagementRow *user) {
  if (user == nullptr) return -1;
  return db_write(
      DbStatement<1024>().format(
          "insert into usermanagement (id,type,username,password,login,email) "
          "values(%d,'%s','%s','%s','%s','%s')",
          user->id, user->type, user->username, user->password, user->login, user->email),
      kUnreportedWrite);
}

int loginmanage_set(const LoginManageRow *login) {
  if (login == nullptr) return -1;
  return db_write(DbStatement<1024>().format(
                      "update loginmanage set trytimes='%s',date=%s,state='%s' where remoteip='%s'",
                      login->trytimes, kNow, login->state, login->remoteip),
                  kUnreportedWrite);
}

int loginmanage_add(const LoginManageRow *login) {
  if (login == nullptr) return -1;
  return db_write(
      DbStatement<1024>().format("insert into loginmanage(remoteip,trytimes,date,state) "
                                 "values('%s','%s',%s,'%s')",
                                 login->remoteip, login->trytimes, kNow, login->state),
      kUnreportedWrite);
}

int loginmanage_delete(const char *remoteip) {
  if (remoteip == nullptr) return -1;
  return db_write(
      DbStatement<1024>().format("delete from loginmanage where remoteip='%s'", remoteip),
      kUnreportedWrite);
}
