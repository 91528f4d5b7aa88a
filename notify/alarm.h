// The alarm text that every channel builds its message from: the
// appliance's identity, the event's texts in the channel's own layout, and
// their quoting.
#ifndef ALERTMILL_NOTIFY_ALARM_H_
#define ALERTMILL_NOTIFY_ALARM_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Writes the alarm text of kind (a channel's flag; see notify_set_alarm_layout)
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

// A channel's alarm text: the subject (when it has one) and the message sit
// between fixed pieces. Quoted as the caller's members say (json), or not.
struct AlarmLayout {
  const char *before, *between, *after;
  bool subject;
  bool json;
};

// Gives kind (a channel's flag) its layout; a kind without one has no alarm
// text. At the channel's registration.
void notify_set_alarm_layout(int kind, const AlarmLayout &layout);

// Shortens message, then subject, from their ends and only between whole
// characters (never inside an escape nor a UTF-8 sequence), until both take
// at most room bytes together once quoted. Texts that fit are unchanged.
void notify_fit_texts(std::string *message, std::string *subject, size_t room, Quoting quoting);

// The alarm text of kind, at most limit bytes: the message (identity line and
// context) is shortened first, then the subject, as notify_fit_texts does.
// A json layout (the kind-4 text: the members of a JSON object) has its
// texts quoted as members says (kJson or kJsonInShell). Empty for a kind
// without layout.
std::string notify_alarm_text(const char *subject, const char *context, int kind, size_t limit,
                              Quoting members = Quoting::kJson);

// The first line of "uci get system.@system[0].hostname", at most 63
// characters; "unknown" when the command cannot be started, empty when it
// prints nothing. Each call has its own buffer, so workers calling it at the
// same time never see each other's text.
std::string get_hostname(void);

// The serial number from the device-information library ("sn"); empty when
// the library or its function is missing or answers nothing.
std::string notify_serial_number(void);

#endif  // ALERTMILL_NOTIFY_ALARM_H_
