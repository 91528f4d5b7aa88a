#include "notify/alarm.h"

#include <dlfcn.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "notify/registry.h"
#include "utils/paths.h"

namespace {

constexpr int kSerialSize = 128;
constexpr int kHostNameSize = 64;

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

}  // namespace

std::string notify_serial_number(void) {
  GetInfoByName function = info_function();
  if (function == nullptr) return {};
  char serial[kSerialSize] = {};
  function("sn", serial);
  serial[kSerialSize - 1] = '\0';
  return serial;
}

std::string get_hostname(void) {
  UniquePipe pipe(utils_popen("uci get system.@system[0].hostname"));
  if (!pipe) return "unknown";
  char name[kHostNameSize] = {};
  if (std::fgets(name, sizeof name, pipe.get()) == nullptr) return {};
  name[std::strcspn(name, "\n")] = '\0';
  return name;
}

int format_alarm_text(char *dest, int size, const char *subject, const char *context, int kind) {
  if (dest == nullptr || size < 1) return 0;
  if (kind != kNotifyEmail && kind != kNotifySms && kind != kNotifySnmp) return 0;
  if (subject == nullptr) subject = "";
  if (context == nullptr) context = "";
  std::string serial = notify_serial_number();
  std::string host = get_hostname();
  auto bound = static_cast<size_t>(size);
  switch (kind) {
    case kNotifyEmail:
      std::snprintf(dest, bound, "receive alarm from [%s](sn:%s)\n%s", host.c_str(), serial.c_str(),
                    context);
      break;
    case kNotifySms:
      std::snprintf(dest, bound, "Subject: %s\nreceive alarm from [%s](sn:%s)\n%s", subject,
                    host.c_str(), serial.c_str(), context);
      break;
    case kNotifySnmp:
      std::snprintf(dest, bound, "\"head\":\"%s\",\"body\":\"receive alarm from [%s](sn:%s)\n%s\"",
                    subject, host.c_str(), serial.c_str(), context);
      break;
  }
  return 0;
}

std::optional<int> notify_read_group(const char *fixed_path, int line_size) {
  UniqueFile file(std::fopen(utils_path(fixed_path).c_str(), "re"));
  if (!file) return std::nullopt;
  std::string line(static_cast<size_t>(line_size > 1 ? line_size : 2), '\0');
  if (std::fgets(line.data(), static_cast<int>(line.size()), file.get()) == nullptr) return 0;
  return notify_atoi(line.c_str());
}

int notify_atoi(const char *text) {
  if (text == nullptr) return 0;
  long value = std::strtol(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

std::string notify_shell_quoted(const char *text) {
  std::string quoted;
  if (text == nullptr) return quoted;
  for (const char *c = text; *c != '\0'; ++c) {
    if (*c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += *c;
    }
  }
  return quoted;
}
