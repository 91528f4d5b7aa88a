#include "db/config_tables.h"

#include <strings.h>

#include <cstdio>
#include <cstring>
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

// Record layouts.

constexpr DbLayout kDhcpServer{
    "select enable,routers,subnetmask,dns1,dns2,ipfrom,ipto,ntpserver,tftpserver,"
    "default_leasetime,max_leasetime from dhcpserver",
    {ALERTMILL_DB_TEXT(DhcpServerRow, enable), ALERTMILL_DB_TEXT(DhcpServerRow, routers),
     ALERTMILL_DB_TEXT(DhcpServerRow, subnetmask), ALERTMILL_DB_TEXT(DhcpServerRow, dns1),
     ALERTMILL_DB_TEXT(DhcpServerRow, dns2), ALERTMILL_DB_TEXT(DhcpServerRow, ipfrom),
     ALERTMILL_DB_TEXT(DhcpServerRow, ipto), ALERTMILL_DB_TEXT(DhcpServerRow, ntpserver),
     ALERTMILL_DB_TEXT(DhcpServerRow, tftpserver),
     ALERTMILL_DB_INTEGER(DhcpServerRow, default_leasetime),
     ALERTMILL_DB_INTEGER(DhcpServerRow, max_leasetime)}};

constexpr DbLayout kMailboxSetting{
    "select email ,secret,smtpserver,port ,usessl ,fromlineoverride ,root "
    ",rewritedomain,pop3server ,pop3port,pop3interval,pop3delemail,sendername,"
    "needauth from mailboxsetting",
    {ALERTMILL_DB_TEXT(MailboxSettingRow, email), ALERTMILL_DB_TEXT(MailboxSettingRow, secret),
     ALERTMILL_DB_TEXT(MailboxSettingRow, smtpserver), ALERTMILL_DB_TEXT(MailboxSettingRow, port),
     ALERTMILL_DB_TEXT(MailboxSettingRow, usessl),
     ALERTMILL_DB_TEXT(MailboxSettingRow, fromlineoverride),
     ALERTMILL_DB_TEXT(MailboxSettingRow, root),
     ALERTMILL_DB_TEXT(MailboxSettingRow, rewritedomain),
     ALERTMILL_DB_TEXT(MailboxSettingRow, pop3server),
     ALERTMILL_DB_TEXT(MailboxSettingRow, pop3port),
     ALERTMILL_DB_TEXT(MailboxSettingRow, pop3interval),
     ALERTMILL_DB_TEXT(MailboxSettingRow, pop3delemail),
     ALERTMILL_DB_TEXT(MailboxSettingRow, sendername),
     ALERTMILL_DB_TEXT(MailboxSettingRow, needauth)}};

constexpr DbLayout kDdnsSetting{
    "select enableddns,domain,username,password,freednshash,ddnsserver from ddnssetting",
    {ALERTMILL_DB_TEXT(DdnsSettingRow, enableddns), ALERTMILL_DB_TEXT(DdnsSettingRow, domain),
     ALERTMILL_DB_TEXT(DdnsSettingRow, username), ALERTMILL_DB_TEXT(DdnsSettingRow, password),
     ALERTMILL_DB_TEXT(DdnsSettingRow, freednshash),
     ALERTMILL_DB_TEXT(DdnsSettingRow, ddnsserver)}};

constexpr DbLayout kDateAndTime{
    "select timezone,enabledst,enablentp,ntpserver from dateandtime",
    {ALERTMILL_DB_TEXT(DateAndTimeRow, timezone), ALERTMILL_DB_TEXT(DateAndTimeRow, enabledst),
     ALERTMILL_DB_TEXT(DateAndTimeRow, enablentp), ALERTMILL_DB_TEXT(DateAndTimeRow, ntpserver)}};

constexpr DbLayout kNetworkService{
    "select enablessh,sshport,enableftp,ftpport,enabletftp,tftpport,httpscert,"
    "webprotocol,webport,redirecturl,webexpiretime,extloginmode,emlloginmode "
    "from networkservice",
    {ALERTMILL_DB_TEXT(NetworkServiceRow, enablessh), ALERTMILL_DB_TEXT(NetworkServiceRow, sshport),
     ALERTMILL_DB_TEXT(NetworkServiceRow, enableftp), ALERTMILL_DB_TEXT(NetworkServiceRow, ftpport),
     ALERTMILL_DB_TEXT(NetworkServiceRow, enabletftp),
     ALERTMILL_DB_TEXT(NetworkServiceRow, tftpport),
     ALERTMILL_DB_TEXT(NetworkServiceRow, httpscert),
     ALERTMILL_DB_TEXT(NetworkServiceRow, webprotocol),
     ALERTMILL_DB_TEXT(NetworkServiceRow, webport),
     ALERTMILL_DB_TEXT(NetworkServiceRow, redirecturl),
     ALERTMILL_DB_TEXT(NetworkServiceRow, webexpiretime),
     ALERTMILL_DB_TEXT(NetworkServiceRow, extloginmode),
     ALERTMILL_DB_TEXT(NetworkServiceRow, emlloginmode)}};

constexpr DbLayout kL2tpSetting{
    "select type,enable,serveraddr,port,username,password,maxmtu,maxmru,"
    "useprofile from l2tpsetting",
    {ALERTMILL_DB_TEXT(L2tpSettingRow, type), ALERTMILL_DB_TEXT(L2tpSettingRow, enable),
     ALERTMILL_DB_TEXT(L2tpSettingRow, serveraddr), ALERTMILL_DB_TEXT(L2tpSettingRow, port),
     ALERTMILL_DB_TEXT(L2tpSettingRow, username), ALERTMILL_DB_TEXT(L2tpSettingRow, password),
     ALERTMILL_DB_TEXT(L2tpSettingRow, maxmtu), ALERTMILL_DB_TEXT(L2tpSettingRow, maxmru),
     ALERTMILL_DB_TEXT(L2tpSettingRow, useprofile)}};

constexpr DbLayout kOpenvpnSetting{
    "select type,enable,serveraddr,serverport,protocol,device,username,"
    "password,encryption,compression,proxyserver,proxyport,useprofile,"
    "tlsauth,cacrt,clientcrt,clientkey,takey,tarname from openvpnsetting",
    {ALERTMILL_DB_TEXT(OpenvpnSettingRow, type), ALERTMILL_DB_TEXT(OpenvpnSettingRow, enable),
     ALERTMILL_DB_TEXT(OpenvpnSettingRow, serveraddr),
     ALERTMILL_DB_TEXT(OpenvpnSettingRow, serverport),
     ALERTMILL_DB_TEXT(OpenvpnSettingRow, protocol), ALERTMILL_DB_TEXT(OpenvpnSettingRow, device),
     ALERTMILL_DB_TEXT(OpenvpnSettingRow, username), ALERTMILL_DB_TEXT(OpenvpnSettingRow, password),
     ALERTMILL_DB_TEXT(OpenvpnSettingRow, encryption),
     ALERTMILL_DB_TEXT(OpenvpnSettingRow, compression),
     ALERTMILL_DB_TEXT(OpenvpnSettingRow, proxyserver),
     ALERTMILL_DB_TEXT(OpenvpnSettingRow, proxyport),
     ALERTMILL_DB_TEXT(OpenvpnSettingRow, useprofile),
     ALERTMILL_DB_TEXT(OpenvpnSettingRow, tlsauth), ALERTMILL_DB_TEXT(OpenvpnSettingRow, cacrt),
     ALERTMILL_DB_TEXT(OpenvpnSettingRow, clientcrt),
     ALERTMILL_DB_TEXT(OpenvpnSettingRow, clientkey), ALERTMILL_DB_TEXT(OpenvpnSettingRow, takey),
     ALERTMILL_DB_TEXT(OpenvpnSettingRow, tarname)}};

constexpr DbLayout kIpsecSetting{
    "select type,enable, negotiation , verification ,encryption ,dhgroup "
    ",authentimodle ,privatekey,\t\tsharekey ,leftkey,rightkey,ikelifetime,"
    "dpdenable ,dpdchktimes ,remoteip ,remotesubnet ,safeprotocol ,espverify "
    ",\t\tespencryption , pfsenable ,ipseclifetime,useprofile ,dpdretrycount "
    ",dpdtimeout,localid,remoteid from ipsecsetting",
    {ALERTMILL_DB_TEXT(IpsecSettingRow, type),
     ALERTMILL_DB_TEXT(IpsecSettingRow, enable),
     ALERTMILL_DB_TEXT(IpsecSettingRow, negotiation),
     ALERTMILL_DB_TEXT(IpsecSettingRow, verification),
     ALERTMILL_DB_TEXT(IpsecSettingRow, encryption),
     ALERTMILL_DB_TEXT(IpsecSettingRow, dhgroup),
     ALERTMILL_DB_TEXT(IpsecSettingRow, authentimodle),
     ALERTMILL_DB_TEXT(IpsecSettingRow, privatekey),
     ALERTMILL_DB_TEXT(IpsecSettingRow, sharekey),
     ALERTMILL_DB_TEXT(IpsecSettingRow, leftkey),
     ALERTMILL_DB_TEXT(IpsecSettingRow, rightkey),
     ALERTMILL_DB_TEXT(IpsecSettingRow, ikelifetime),
     ALERTMILL_DB_TEXT(IpsecSettingRow, dpdenable),
     ALERTMILL_DB_TEXT(IpsecSettingRow, dpdchktimes),
     ALERTMILL_DB_TEXT(IpsecSettingRow, remoteip),
     ALERTMILL_DB_TEXT(IpsecSettingRow, remotesubnet),
     ALERTMILL_DB_TEXT(IpsecSettingRow, safeprotocol),
     ALERTMILL_DB_TEXT(IpsecSettingRow, espverify),
     ALERTMILL_DB_TEXT(IpsecSettingRow, espencryption),
     ALERTMILL_DB_TEXT(IpsecSettingRow, pfsenable),
     ALERTMILL_DB_TEXT(IpsecSettingRow, ipseclifetime),
     ALERTMILL_DB_TEXT(IpsecSettingRow, useprofile),
     ALERTMILL_DB_TEXT(IpsecSettingRow, dpdretrycount),
     ALERTMILL_DB_TEXT(IpsecSettingRow, dpdtimeout),
     ALERTMILL_DB_TEXT(IpsecSettingRow, localid),
     ALERTMILL_DB_TEXT(IpsecSettingRow, remoteid)}};

constexpr DbLayout kStorage{
    "select id,enable,host,sharename,username,password,name from storage",
    {ALERTMILL_DB_TEXT(StorageRow, id), ALERTMILL_DB_TEXT(StorageRow, enable),
     ALERTMILL_DB_TEXT(StorageRow, host), ALERTMILL_DB_TEXT(StorageRow, sharename),
     ALERTMILL_DB_TEXT(StorageRow, username), ALERTMILL_DB_TEXT(StorageRow, password),
     ALERTMILL_DB_TEXT(StorageRow, name)}};

// storage_get_last reads "select *": the columns of storage in table order,
// which kStorage names.
constexpr DbLayout kStorageLast{"SELECT * FROM storage  WHERE 1 ORDER BY `id` DESC LIMIT 0,1 ",
                                kStorage};

constexpr DbLayout kBasicNetwork{
    "select hostname,mode,gwnic from basicnetwork",
    {ALERTMILL_DB_TEXT(BasicNetworkRow, hostname), ALERTMILL_DB_TEXT(BasicNetworkRow, mode),
     ALERTMILL_DB_TEXT(BasicNetworkRow, gwnic)}};

constexpr DbLayout kFwGeneral{
    "select enable,disableping,dropall from fwgeneral;",
    {ALERTMILL_DB_TEXT(FwGeneralRow, enable), ALERTMILL_DB_TEXT(FwGeneralRow, disableping),
     ALERTMILL_DB_TEXT(FwGeneralRow, dropall)}};

constexpr DbLayout kSysDataLocation{
    "select id,datatype,storagetype,storageslotid from sysdatalocation",
    {ALERTMILL_DB_TEXT(SysDataLocationRow, id), ALERTMILL_DB_TEXT(SysDataLocationRow, datatype),
     ALERTMILL_DB_TEXT(SysDataLocationRow, storagetype),
     ALERTMILL_DB_TEXT(SysDataLocationRow, storageslotid)}};

constexpr DbLayout kSysAutoClean{"select  maxnumberlog,keeplogday from sysautoclean",
                                 {ALERTMILL_DB_TEXT(SysAutoCleanRow, maxnumberlog),
                                  ALERTMILL_DB_TEXT(SysAutoCleanRow, keeplogday)}};

constexpr DbLayout kFirmwareUpgrade{
    "select autoupgrademode,autoupgradeweek,autoupgradehour from firmwareupgrade ",
    {ALERTMILL_DB_TEXT(FirmwareUpgradeRow, autoupgrademode),
     ALERTMILL_DB_TEXT(FirmwareUpgradeRow, autoupgradeweek),
     ALERTMILL_DB_TEXT(FirmwareUpgradeRow, autoupgradehour)}};

constexpr DbLayout kSyslogMode{"select syslogmode from syslog ",
                               {ALERTMILL_DB_TEXT(SyslogModeRow, syslogmode)}};

constexpr DbLayout kDatabaseGrant{
    "select username,password,host,id from databasegrant",
    {ALERTMILL_DB_TEXT(DatabaseGrantRow, username), ALERTMILL_DB_TEXT(DatabaseGrantRow, password),
     ALERTMILL_DB_TEXT(DatabaseGrantRow, host), ALERTMILL_DB_TEXT(DatabaseGrantRow, id)}};

constexpr DbLayout kUserManagement{
    "select id,type,username,password,login,email,extensionid from usermanagement",
    {ALERTMILL_DB_INTEGER(UserManagementRow, id), ALERTMILL_DB_TEXT(UserManagementRow, type),
     ALERTMILL_DB_TEXT(UserManagementRow, username), ALERTMILL_DB_TEXT(UserManagementRow, password),
     ALERTMILL_DB_TEXT(UserManagementRow, login), ALERTMILL_DB_TEXT(UserManagementRow, email),
     ALERTMILL_DB_INTEGER(UserManagementRow, extensionid)}};

constexpr DbLayout kLoginManage{
    "select remoteIp,trytimes, date, state from loginmanage",
    {ALERTMILL_DB_TEXT(LoginManageRow, remoteip), ALERTMILL_DB_TEXT(LoginManageRow, trytimes),
     ALERTMILL_DB_TEXT(LoginManageRow, date), ALERTMILL_DB_TEXT(LoginManageRow, state)}};

// The permission layouts and their selects come from the one list of
// names in config_tables.h.
#define ALERTMILL_SUMMARY_FIELD(name) ALERTMILL_DB_TEXT(UserPermissionsRow, name),
#define ALERTMILL_FULL_FIELD(name) ALERTMILL_DB_TEXT(UserPermissionRow, name),

constexpr DbLayout kUserPermissions{"select username" ALERTMILL_SUMMARY_PERMISSIONS(
                                        ALERTMILL_PERMISSION_COLUMN) " from usermanagement",
                                    {ALERTMILL_DB_TEXT(UserPermissionsRow, username),
                                     ALERTMILL_SUMMARY_PERMISSIONS(ALERTMILL_SUMMARY_FIELD)}};

// "select mesetting,...,diagnose from usermanagement": every permission
// column, the list's leading comma left out.
struct AllPermissionsSelect {
  char text[sizeof "select " + sizeof kAllPermissionColumns + sizeof " from usermanagement"] = {};
  constexpr AllPermissionsSelect() {
    size_t at = 0;
    for (const char *part : {"select ", kAllPermissionColumns + 1, " from usermanagement"}) {
      while (*part != '\0') text[at++] = *part++;
    }
  }
};
constexpr AllPermissionsSelect kAllPermissionsSelect;

constexpr DbLayout kUserPermission{kAllPermissionsSelect.text,
                                   {ALERTMILL_SUMMARY_PERMISSIONS(ALERTMILL_FULL_FIELD)
                                        ALERTMILL_FURTHER_PERMISSIONS(ALERTMILL_FULL_FIELD)}};

#undef ALERTMILL_SUMMARY_FIELD
#undef ALERTMILL_FULL_FIELD

// A summary statement for the longest user name (63 characters) still fits.
static_assert(std::char_traits<char>::length(kUserPermissions.sql()) +
                  sizeof " where username='';" - 1 + 63 <
              512);

constexpr DbLayout kAppSetting{"select autoupgradeweek,autoupgradehour from appsetting ",
                               {ALERTMILL_DB_TEXT(AppSettingRow, autoupgradeweek),
                                ALERTMILL_DB_TEXT(AppSettingRow, autoupgradehour)}};

constexpr DbLayout kHostStandby{
    "select enable,mode,hostname,ipaddress,authkeys,vipaddress,vnetmask,"
    "pingnodes,keepalive,deadtime,reboottime,synctime,hbudpport,syncuser,"
    "syncpass,stoption from hoststandby;",
    {ALERTMILL_DB_TEXT(HostStandbyRow, enable), ALERTMILL_DB_TEXT(HostStandbyRow, mode),
     ALERTMILL_DB_TEXT(HostStandbyRow, hostname), ALERTMILL_DB_TEXT(HostStandbyRow, ipaddress),
     ALERTMILL_DB_TEXT(HostStandbyRow, authkeys), ALERTMILL_DB_TEXT(HostStandbyRow, vipaddress),
     ALERTMILL_DB_TEXT(HostStandbyRow, vnetmask), ALERTMILL_DB_TEXT(HostStandbyRow, pingnodes),
     ALERTMILL_DB_TEXT(HostStandbyRow, keepalive), ALERTMILL_DB_TEXT(HostStandbyRow, deadtime),
     ALERTMILL_DB_TEXT(HostStandbyRow, reboottime), ALERTMILL_DB_TEXT(HostStandbyRow, synctime),
     ALERTMILL_DB_TEXT(HostStandbyRow, hbudpport), ALERTMILL_DB_TEXT(HostStandbyRow, syncuser),
     ALERTMILL_DB_TEXT(HostStandbyRow, syncpass), ALERTMILL_DB_TEXT(HostStandbyRow, stoption)}};

constexpr DbLayout kShareSetting{
    "select enable,sharename,username,password,enabledelete from sharesetting;",
    {ALERTMILL_DB_TEXT(ShareSettingRow, enable), ALERTMILL_DB_TEXT(ShareSettingRow, sharename),
     ALERTMILL_DB_TEXT(ShareSettingRow, username), ALERTMILL_DB_TEXT(ShareSettingRow, password),
     ALERTMILL_DB_TEXT(ShareSettingRow, enabledelete)}};

constexpr DbLayout kBackupSchedule{
    "select enable,backuptime,storagetype,backupmaxnumber,backupidx,prefixfile,"
    "storagetypeid,setbackuptime from backupschedule;",
    {ALERTMILL_DB_TEXT(BackupScheduleRow, enable), ALERTMILL_DB_TEXT(BackupScheduleRow, backuptime),
     ALERTMILL_DB_TEXT(BackupScheduleRow, storagetype),
     ALERTMILL_DB_TEXT(BackupScheduleRow, backupmaxnumber),
     ALERTMILL_DB_TEXT(BackupScheduleRow, backupidx),
     ALERTMILL_DB_TEXT(BackupScheduleRow, prefixfile),
     ALERTMILL_DB_TEXT(BackupScheduleRow, storagetypeid),
     ALERTMILL_DB_TEXT(BackupScheduleRow, setbackuptime)}};

constexpr DbLayout kStaticRoute{
    "select id,destination,subnet,gateway,metric,iface,description from staticroute",
    {ALERTMILL_DB_TEXT(StaticRouteRow, id), ALERTMILL_DB_TEXT(StaticRouteRow, destination),
     ALERTMILL_DB_TEXT(StaticRouteRow, subnet), ALERTMILL_DB_TEXT(StaticRouteRow, gateway),
     ALERTMILL_DB_TEXT(StaticRouteRow, metric), ALERTMILL_DB_TEXT(StaticRouteRow, iface),
     ALERTMILL_DB_TEXT(StaticRouteRow, description)}};

constexpr DbLayout kNicSetting{
    "select id,iface,type,ipaddress,netmask,gateway,dns1,dns2,ipaddress2,netmask2,"
    "pppoeusername,pppoepassword,enablevlan,vlanid,vlanpriority from nicsetting",
    {ALERTMILL_DB_TEXT(NicSettingRow, id), ALERTMILL_DB_TEXT(NicSettingRow, iface),
     ALERTMILL_DB_TEXT(NicSettingRow, type), ALERTMILL_DB_TEXT(NicSettingRow, ipaddress),
     ALERTMILL_DB_TEXT(NicSettingRow, netmask), ALERTMILL_DB_TEXT(NicSettingRow, gateway),
     ALERTMILL_DB_TEXT(NicSettingRow, dns1), ALERTMILL_DB_TEXT(NicSettingRow, dns2),
     ALERTMILL_DB_TEXT(NicSettingRow, ipaddress2), ALERTMILL_DB_TEXT(NicSettingRow, netmask2),
     ALERTMILL_DB_TEXT(NicSettingRow, pppoeusername),
     ALERTMILL_DB_TEXT(NicSettingRow, pppoepassword), ALERTMILL_DB_TEXT(NicSettingRow, enablevlan),
     ALERTMILL_DB_TEXT(NicSettingRow, vlanid), ALERTMILL_DB_TEXT(NicSettingRow, vlanpriority)}};

constexpr DbLayout kFwCommonRule{
    "select id,pos,rulename,fwdescribe,protocol,port,ip,mac,action from "
    "fwcommonrule order by action,pos asc;",
    {ALERTMILL_DB_TEXT(FwCommonRuleRow, id), ALERTMILL_DB_TEXT(FwCommonRuleRow, pos),
     ALERTMILL_DB_TEXT(FwCommonRuleRow, rulename), ALERTMILL_DB_TEXT(FwCommonRuleRow, fwdescribe),
     ALERTMILL_DB_TEXT(FwCommonRuleRow, protocol), ALERTMILL_DB_TEXT(FwCommonRuleRow, port),
     ALERTMILL_DB_TEXT(FwCommonRuleRow, ip), ALERTMILL_DB_TEXT(FwCommonRuleRow, mac),
     ALERTMILL_DB_TEXT(FwCommonRuleRow, action)}};

constexpr DbLayout kFwIpBlacklistRule{
    "select id,rulename,type,port,protocol,packets,fwinterval from "
    "fwipblacklistrule order by protocol,port;",
    {ALERTMILL_DB_TEXT(FwIpBlacklistRuleRow, id), ALERTMILL_DB_TEXT(FwIpBlacklistRuleRow, rulename),
     ALERTMILL_DB_TEXT(FwIpBlacklistRuleRow, type), ALERTMILL_DB_TEXT(FwIpBlacklistRuleRow, port),
     ALERTMILL_DB_TEXT(FwIpBlacklistRuleRow, protocol),
     ALERTMILL_DB_TEXT(FwIpBlacklistRuleRow, packets),
     ALERTMILL_DB_TEXT(FwIpBlacklistRuleRow, fwinterval)}};

constexpr DbLayout kFwIpBlacklist{
    "select id,datetime,protocol,srcip,dstport,interface,macaddr,sourceflag from "
    "fwipblacklist",
    {ALERTMILL_DB_TEXT(FwIpBlacklistRow, id), ALERTMILL_DB_TEXT(FwIpBlacklistRow, datetime),
     ALERTMILL_DB_TEXT(FwIpBlacklistRow, protocol), ALERTMILL_DB_TEXT(FwIpBlacklistRow, srcip),
     ALERTMILL_DB_TEXT(FwIpBlacklistRow, dstport), ALERTMILL_DB_TEXT(FwIpBlacklistRow, interface),
     ALERTMILL_DB_TEXT(FwIpBlacklistRow, macaddr),
     ALERTMILL_DB_TEXT(FwIpBlacklistRow, sourceflag)}};

constexpr DbLayout kEventContact{
    "select id,extensionid,contact,enableemail,enablesms,enablemobile,"
    "enableextension,enablewechat,email,mobileprefix,mobile,wechat from "
    "eventcontact;",
    {ALERTMILL_DB_TEXT(EventContactRow, id), ALERTMILL_DB_TEXT(EventContactRow, extensionid),
     ALERTMILL_DB_TEXT(EventContactRow, contact), ALERTMILL_DB_TEXT(EventContactRow, enableemail),
     ALERTMILL_DB_TEXT(EventContactRow, enablesms),
     ALERTMILL_DB_TEXT(EventContactRow, enablemobile),
     ALERTMILL_DB_TEXT(EventContactRow, enableextension),
     ALERTMILL_DB_TEXT(EventContactRow, enablewechat), ALERTMILL_DB_TEXT(EventContactRow, email),
     ALERTMILL_DB_TEXT(EventContactRow, mobileprefix), ALERTMILL_DB_TEXT(EventContactRow, mobile),
     ALERTMILL_DB_TEXT(EventContactRow, wechat)}};

constexpr DbLayout kAppCenter{
    "select app, autoupgrade from appcenter where type <2 and localversion != "
    "\"0.0.0\" and localversion is not null and localversion !=\"\";",
    {ALERTMILL_DB_TEXT(AppCenterRow, app), ALERTMILL_DB_TEXT(AppCenterRow, autoupgrade)}};

constexpr DbLayout kWebPrivilege{
    "select id,name,frame,privilege,level1,level2,level3,privilegetab from webprivilege",
    {ALERTMILL_DB_TEXT(WebPrivilegeRow, id), ALERTMILL_DB_TEXT(WebPrivilegeRow, name),
     ALERTMILL_DB_TEXT(WebPrivilegeRow, frame), ALERTMILL_DB_TEXT(WebPrivilegeRow, privilege),
     ALERTMILL_DB_TEXT(WebPrivilegeRow, level1), ALERTMILL_DB_TEXT(WebPrivilegeRow, level2),
     ALERTMILL_DB_TEXT(WebPrivilegeRow, level3), ALERTMILL_DB_TEXT(WebPrivilegeRow, privilegetab)}};

}  // namespace

// Row reads.

int dhcpserver_get(DhcpServerRow **row) { return db_read_row(row, kDhcpServer, kRowRead); }

int mailboxsetting_get(MailboxSettingRow **row) {
  return db_read_row(row, kMailboxSetting, kRowRead);
}

int ddnssetting_get(DdnsSettingRow **row) { return db_read_row(row, kDdnsSetting, kRowRead); }

int dateandtime_get(DateAndTimeRow **row) { return db_read_row(row, kDateAndTime, kRowRead); }

int networkservice_get(NetworkServiceRow **row) {
  return db_read_row(row, kNetworkService, kRowRead);
}

int l2tpsetting_get(L2tpSettingRow **row) { return db_read_row(row, kL2tpSetting, kRowRead); }

int openvpnsetting_get(OpenvpnSettingRow **row) {
  return db_read_row(row, kOpenvpnSetting, kOpenvpnRead);
}

int ipsecsetting_get(IpsecSettingRow **row) { return db_read_row(row, kIpsecSetting, kRowRead); }

int storage_get(StorageRow **row, int id) {
  return db_read_row(row, db_select<256>(kStorage, " where id=%d", id), kNumberedRowRead);
}

int storage_get_last(StorageRow **row) { return db_read_row(row, kStorageLast, kNumberedRowRead); }

int basicnetwork_get(BasicNetworkRow **row) { return db_read_row(row, kBasicNetwork, kRowRead); }

int fwgeneral_get(FwGeneralRow **row) { return db_read_row(row, kFwGeneral, kRowRead); }

int sysdatalocation_get(SysDataLocationRow **row, const char *datatype) {
  return db_read_row(row, db_select<256>(kSysDataLocation, " where datatype='%s';", datatype),
                     kRowRead, datatype != nullptr);
}

int sysautoclean_get(SysAutoCleanRow **row) { return db_read_row(row, kSysAutoClean, kRowRead); }

int firmwareupgrade_get(FirmwareUpgradeRow **row) {
  return db_read_row(row, kFirmwareUpgrade, kRowRead);
}

int syslogmode_get(SyslogModeRow **row) { return db_read_row(row, kSyslogMode, kRowRead); }

int databasegrant_get(DatabaseGrantRow **row, const char *id) {
  return db_read_row(row, db_select<256>(kDatabaseGrant, " where id='%s' ", id), kRowRead,
                     id != nullptr);
}

int databasegrant_get_last(DatabaseGrantRow **row) {
  return db_read_row(row, db_select<256>(kDatabaseGrant, " order by id desc limit 0,1;"), kRowRead);
}

int usermanagement_get_by_username(UserManagementRow **row, const char *username) {
  return db_read_row(row, db_select<512>(kUserManagement, " where binary username='%s';", username),
                     kUserRead, username != nullptr);
}

int usermanagement_get_by_email(UserManagementRow **row, const char *email) {
  return db_read_row(row, db_select<512>(kUserManagement, " where binary email='%s';", email),
                     kUserRead, email != nullptr);
}

int loginmanage_get(LoginManageRow **row, const char *remoteip) {
  return db_read_row(row, db_select<512>(kLoginManage, " where remoteip='%s'", remoteip), kRowRead,
                     remoteip != nullptr);
}

int usermanagement_get_permissions(UserPermissionsRow **row, const char *username) {
  return db_read_row(row, db_select<512>(kUserPermissions, " where username='%s';", username),
                     kRowRead, username != nullptr);
}

int appsetting_get(AppSettingRow **row) { return db_read_row(row, kAppSetting, kRowRead); }

int hoststandby_get(HostStandbyRow **row) { return db_read_row(row, kHostStandby, kRowRead); }

int sharesetting_get(ShareSettingRow **row) { return db_read_row(row, kShareSetting, kRowRead); }

int backupschedule_get(BackupScheduleRow **row) {
  return db_read_row(row, kBackupSchedule, kRowRead);
}

// List reads.

int staticroute_get_all(StaticRouteRow **rows, int *count) {
  return db_read_list(rows, count, "select count(*) from staticroute", kStaticRoute,
                      kNumberedListRead);
}

int storage_get_all(StorageRow **rows, int *count) {
  return db_read_list(rows, count, "select count(*) from storage", kStorage, kNumberedListRead);
}

int nicsetting_get_all(NicSettingRow **rows, int *count) {
  return db_read_list(rows, count, "select count(*) from nicsetting", kNicSetting,
                      kNumberedListRead);
}

int fwcommonrule_get_all(FwCommonRuleRow **rows, int *count) {
  return db_read_list(rows, count, "select count(*) from fwcommonrule;", kFwCommonRule, kListRead);
}

int fwipblacklistrule_get_all(FwIpBlacklistRuleRow **rows, int *count) {
  return db_read_list(rows, count, "select count(*) from fwipblacklistrule;", kFwIpBlacklistRule,
                      kListRead);
}

int fwipblacklist_get_all(FwIpBlacklistRow **rows, int *count) {
  return db_read_list(rows, count, "select count(*) from fwipblacklist;", kFwIpBlacklist,
                      kListRead);
}

int eventcontact_get_all(EventContactRow **rows, int *count) {
  return db_read_list(rows, count, "select count(*) from eventcontact;", kEventContact, kListRead);
}

int sysdatalocation_get_all(SysDataLocationRow **rows, int *count) {
  return db_read_list(rows, count, "select count(*) from sysdatalocation;",
                      db_select<128>(kSysDataLocation, ";"), kListRead);
}

int appcenter_get_all(AppCenterRow **rows, int *count) {
  return db_read_list(rows, count,
                      "select count(*) from  appcenter where type <2 and localversion != "
                      "\"0.0.0\" and localversion is not null and localversion !=\"\";",
                      kAppCenter, kListRead);
}

int webprivilege_get_all(WebPrivilegeRow **rows, int *count, int level1, int level2, int level3) {
  if (level1 == -1 && level2 == 0 && level3 == 0) {
    return db_read_upto(
        rows, count, 128,
        db_select<256>(kWebPrivilege, " where level2=%d and level3=%d order by level1", level2,
                       level3),
        kNumberedRowRead);
  }
  if (level1 > 0 && level2 == -1 && level3 == -1) {
    return db_read_upto(
        rows, count, 128,
        db_select<256>(kWebPrivilege,
                       " where level1=%d and (level2>0 or level3>0) order by level2,level3",
                       level1),
        kNumberedRowRead);
  }
  return db_read_upto(rows, count, 128, kWebPrivilege, kNumberedRowRead);
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
  if (!session.found(db_select<2048>(kUserPermission, " where username='%s';", username).sql())) {
    return -2;
  }
  kUserPermission.fill(session.result(), permission);
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
