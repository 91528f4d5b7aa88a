#include "notify/alarm.h"

#include <dlfcn.h>
#include <syslog.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "db/db.h"
#include "utils/utils.h"

namespace {

constexpr int kSerialSize = 128;
constexpr int kHostNameSize = 64;
constexpr char kHostNameCommand[] = "uci get system.@system[0].hostname";

using GetInfoByName = int (*)(const char *name, char *value);

// The device-information library is closed and may be missing; it is looked
// up once and kept for the life of the process.
GetInfoByName info_function() {
  static const GetInfoByName function = []() -> GetInfoByName {
    void *library = dlopen("libbrindell_info.so", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return nullptr;
    void *symbol = dlsym(library, "get_info_by_name");
    if (symbol == nullptr) {
      dlclose(library);
      return nullptr;
    }
    return reinterpret_cast<GetInfoByName>(symbol);
  }();
  return function;
}

size_t character_size(std::string_view text, size_t at) {
  return utils_utf8_char_bytes(text.data() + at, text.size() - at);
}

// Bytes that the character of size bytes at text[at] takes once quoted.
size_t quoted_character_size(std::string_view text, size_t at, size_t size, Quoting quoting) {
  if (size > 1 || quoting == Quoting::kPlain) return size;
  if (text[at] == '"' || text[at] == '\\') return 2;
  return quoting == Quoting::kJsonInShell && text[at] == '\'' ? 4 : 1;
}

// Bytes of text's longest prefix of whole characters that takes at most room
// bytes once quoted.
size_t fitting_prefix(std::string_view text, size_t room, Quoting quoting) {
  size_t used = 0;
  size_t at = 0;
  while (at < text.size()) {
    size_t size = character_size(text, at);
    size_t quoted = quoted_character_size(text, at, size, quoting);
    if (used + quoted > room) break;
    used += quoted;
    at += size;
  }
  return at;
}

// Each channel's layout, by the slot of its flag (kinds are flags).
std::optional<AlarmLayout> layouts[kChannelSlots];

std::optional<AlarmLayout> *layout_slot(int kind) {
  for (int slot = 0; slot < kChannelSlots; ++slot) {
    if (catalogue_flag(slot) == kind) return &layouts[slot];
  }
  return nullptr;
}

std::optional<AlarmLayout> alarm_layout(int kind) {
  std::optional<AlarmLayout> *slot = layout_slot(kind);
  return slot != nullptr ? *slot : std::nullopt;
}

}  // namespace

void notify_set_alarm_layout(int kind, const AlarmLayout &layout) {
  if (std::optional<AlarmLayout> *slot = layout_slot(kind)) *slot = layout;
}

std::string notify_serial_number(void) {
  GetInfoByName function = info_function();
  if (function == nullptr) return {};
  char serial[kSerialSize] = {};
  function("sn", serial);
  serial[kSerialSize - 1] = '\0';
  return serial;
}

std::string get_hostname(void) {
  ChildCapture capture;
  capture.output = true;
  capture.output_limit = kHostNameSize - 1;
  ChildResult run = utils_run_child(kHostNameCommand, capture);
  if (!run.started || run.timed_out) return "unknown";
  return utils_first_line(run.output);
}

int format_alarm_text(char *dest, int size, const char *subject, const char *context, int kind) {
  if (dest == nullptr || size < 1) return 0;
  if (!alarm_layout(kind)) return 0;
  std::string text = notify_alarm_text(subject, context, kind, static_cast<size_t>(size) - 1);
  std::memcpy(dest, text.c_str(), text.size() + 1);
  return 0;
}

std::string notify_quoted(std::string_view text, Quoting quoting) {
  std::string quoted;
  for (char c : text) {
    if (quoting != Quoting::kPlain && (c == '"' || c == '\\')) {
      quoted += '\\';
      quoted += c;
    } else if (quoting == Quoting::kJsonInShell && c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted;
}

void notify_fit_texts(std::string *message, std::string *subject, size_t room, Quoting quoting) {
  size_t subject_size = notify_quoted(*subject, quoting).size();
  if (subject_size + notify_quoted(*message, quoting).size() <= room) return;
  if (subject_size <= room) {
    message->resize(fitting_prefix(*message, room - subject_size, quoting));
    return;
  }
  message->clear();
  subject->resize(fitting_prefix(*subject, room, quoting));
}

std::string notify_alarm_text(const char *subject, const char *context, int kind, size_t limit,
                              Quoting members) {
  std::optional<AlarmLayout> layout = alarm_layout(kind);
  if (!layout) return {};
  const Quoting quoting = layout->json ? members : Quoting::kPlain;
  std::string title = layout->subject && subject != nullptr ? subject : "";
  std::string serial = notify_serial_number();
  std::string message = "receive alarm from [" + get_hostname() + "](sn:" + serial + ")\n" +
                        (context != nullptr ? context : "");
  size_t fixed =
      std::strlen(layout->before) + std::strlen(layout->between) + std::strlen(layout->after);
  if (fixed <= limit) {
    notify_fit_texts(&message, &title, limit - fixed, quoting);
  } else {
    message.clear();
    title.clear();
  }
  std::string text = layout->before + notify_quoted(title, quoting) + layout->between +
                     notify_quoted(message, quoting) + layout->after;
  // Only a buffer too small for the fixed pieces cuts here, and they are ASCII.
  text.resize(std::min(text.size(), limit));
  return text;
}
