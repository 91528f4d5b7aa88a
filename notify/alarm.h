// What the three channels share to build their messages: the alarm text with
// the appliance's identity, the recipient group files and shell quoting.
#ifndef ALERTMILL_NOTIFY_ALARM_H_
#define ALERTMILL_NOTIFY_ALARM_H_

#include <optional>
#include <string>

#include "utils/handles.h"

// Writes the alarm text of kind (kNotifyEmail, kNotifySms or kNotifySnmp)
// into dest, cut to size - 1 characters. Fetches the serial number and the
// host name afresh. Any other kind, a null dest or size < 1 leaves dest as it
// was. Null texts count as empty. Always 0.
int format_alarm_text(char *dest, int size, const char *subject, const char *context, int kind);

// The first line of "uci get system.@system[0].hostname", at most 63
// characters; "unknown" when the command cannot be started, empty when it
// prints nothing. Each call has its own buffer, so workers calling it at the
// same time never see each other's text.
std::string get_hostname(void);

// The serial number from the device-information library ("sn"); empty when
// the library or its function is missing or answers nothing.
std::string notify_serial_number(void);

// The recipient group on the first line of the group file (a fixed path,
// resolved with utils_path), read with a line_size buffer and converted with
// notify_atoi (so huge values fall outside every valid group); 0 for an
// empty file. Nothing when the file cannot be opened.
std::optional<int> notify_read_group(const char *fixed_path, int line_size);

// atoi as glibc computes it on the 32-bit appliance, where it is strtol and
// long is as wide as int: values beyond int clamp to INT_MAX / INT_MIN
// instead of overflowing. Null reads as 0.
int notify_atoi(const char *text);

inline constexpr int kGroupMin = 1;
inline constexpr int kGroupMax = 100;

// text for use inside a single-quoted shell argument: every ' becomes '\''
// (close the quote, an escaped quote, reopen). Text without ' is unchanged.
std::string notify_shell_quoted(const char *text);

#endif  // ALERTMILL_NOTIFY_ALARM_H_
