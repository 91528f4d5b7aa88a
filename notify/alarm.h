// What the three channels share to build their messages: the alarm text with
// the appliance's identity, the recipient group files, quoting and running
// the commands.
#ifndef ALERTMILL_NOTIFY_ALARM_H_
#define ALERTMILL_NOTIFY_ALARM_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Writes the alarm text of kind (kNotifyEmail, kNotifySms or kNotifySnmp)
// into dest, at most size - 1 bytes (see notify_alarm_text). Fetches the
// serial number and the host name afresh. Any other kind, a null dest or
// size < 1 leaves dest as it was. Null texts count as empty. Always 0.
int format_alarm_text(char *dest, int size, const char *subject, const char *context, int kind);

// How a text is written where it is placed: as it is; inside a JSON string
// (" and \ escaped); or inside a JSON string within a single-quoted shell
// argument (then every ' also becomes '\'': close the quote, an escaped
// quote, reopen). Text without those characters is written unchanged.
enum class Quoting { kPlain, kJson, kJsonInShell };

std::string notify_quoted(std::string_view text, Quoting quoting);

// Shortens message, then subject, from their ends and only between whole
// characters (never inside an escape nor a UTF-8 sequence), until both take
// at most room bytes together once quoted. Texts that fit are unchanged.
void notify_fit_texts(std::string *message, std::string *subject, size_t room, Quoting quoting);

// The alarm text of kind, at most limit bytes: the message (identity line and
// context) is shortened first, then the subject, as notify_fit_texts does.
// The kind-4 text is the members of a JSON object; members says how its
// texts are quoted (kJson or kJsonInShell). Empty for any other kind.
std::string notify_alarm_text(const char *subject, const char *context, int kind, size_t limit,
                              Quoting members = Quoting::kJson);

// Runs a channel's command; what names it in the log ("putmail"). With
// output, its standard output is kept there (at most output_limit bytes).
// True when it exited with status 0. Otherwise false, logged at LOG_ERR with
// the exit status and the first line of its error output, or that it could
// not be run (the time limit is logged where the command is killed).
bool notify_run_command(const char *command, const char *what, std::string *output = nullptr,
                        size_t output_limit = 0);

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
// utils_atoi (so huge values fall outside every valid group); 0 for an
// empty file. Nothing when the file cannot be opened.
std::optional<int> notify_read_group(const char *fixed_path, int line_size);

inline constexpr int kGroupMin = 1;
inline constexpr int kGroupMax = 100;

#endif  // ALERTMILL_NOTIFY_ALARM_H_
