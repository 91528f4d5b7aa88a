// The system's fixed paths, all in one place.
//
// On the appliance every path is used exactly as written here. For tests and
// the demo, a non-empty ALERTMILL_ROOT moves them all into that directory:
// "/etc/events.sqlite3" becomes "$ALERTMILL_ROOT/etc/events.sqlite3".
#ifndef ALERTMILL_UTILS_PATHS_H_
#define ALERTMILL_UTILS_PATHS_H_

#include <string>

namespace paths {

inline constexpr char kEventsDb[] = "/etc/events.sqlite3";
inline constexpr char kDbLock[] = "/tmp/syscore.fl";
inline constexpr char kEventsAlarmConf[] = "/etc/quagga/events_alarm.conf";
inline constexpr char kRebootFlagEtc[] = "/etc/.reboot_flag";
inline constexpr char kRebootFlagTmp[] = "/tmp/.reboot_flag";
inline constexpr char kCloudFifo[] = "/tmp/cloudclient.fifo";
inline constexpr char kAlarmEmailGroup[] = "/etc/alarm_email_group";
inline constexpr char kAlarmSmsGroup[] = "/etc/alarm_sms_group";
inline constexpr char kEventSendSms[] = "/tmp/eventsendsms.txt";
inline constexpr char kLocaltime[] = "/etc/localtime";
inline constexpr char kZoneinfoDir[] = "/usr/share/zoneinfo";

}  // namespace paths

// The path to use for one of the fixed paths above (or any absolute path of
// the system): itself, or inside $ALERTMILL_ROOT when that is set and not
// empty. The variable is read at every call, so nothing is cached.
std::string utils_path(const char *fixed_path);

#endif  // ALERTMILL_UTILS_PATHS_H_
