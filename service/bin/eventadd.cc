// eventadd: raises one event from a shell script.
//   eventadd ID [TEXT]
//   eventadd -t 'YYYY-MM-DD HH:MM:SS' ID TEXT
// Exit status 0 when the event was recorded or sent as the enable switch
// asks (events switched off is a warning); 1 when it was not, with one line
// on stderr saying why; 2 for bad arguments.
#include "service/eventadd.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "service/bin/eventadd_options.h"
#include "utils/utils.h"

namespace {

int usage() {
  std::fputs(
      "usage: eventadd ID [TEXT]\n"
      "       eventadd -t 'YYYY-MM-DD HH:MM:SS' ID TEXT\n"
      "Raises event ID with TEXT, further request parameters such as "
      "'port=5&state=down'.\n"
      "With -t the pending event carries the given time stamp.\n",
      stderr);
  return 2;
}

__attribute__((format(printf, 1, 2))) void say(const char *format, ...) {
  std::fputs("eventadd: ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
}

// "YYYY-MM-DD HH:MM:SS" naming a real day and time of day.
bool valid_stamp(const char *stamp) {
  static constexpr char kShape[] = "dddd-dd-dd dd:dd:dd";
  if (std::strlen(stamp) != sizeof kShape - 1) return false;
  for (size_t i = 0; kShape[i] != '\0'; ++i) {
    bool digit = std::isdigit(static_cast<unsigned char>(stamp[i])) != 0;
    if (kShape[i] == 'd' ? !digit : stamp[i] != kShape[i]) return false;
  }
  int year, month, day, hour, minute, second;
  std::sscanf(stamp, "%d-%d-%d %d:%d:%d", &year, &month, &day, &hour, &minute, &second);
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month >= 1 && month <= 12 && day >= 1 &&
         day <= kDays[month - 1] - (month == 2 && !leap ? 1 : 0) && hour <= 23 && minute <= 59 &&
         second <= 59;
}

// One line on stderr for each way the event fell short; 1 when it was not
// recorded or sent as the enable switch asks, else 0.
int report(int id, const EventaddOutcome &outcome) {
  int status = 0;
  if (!outcome.definition_found && outcome.definition_error[0] == '\0') {
    say("unknown event id %d", id);
    status = 1;
  } else if (!outcome.definition_found) {
    say("warning: the definition of event %d cannot be read: %s", id, outcome.definition_error);
  }
  if (outcome.row_due && !outcome.row_written) {
    say("event %d not recorded: the database refused its row: %s", id, outcome.row_error);
    status = 1;
  }
  if (outcome.send_due && outcome.sent < 0) {
    say("event %d not sent to alertmill: %s", id, std::strerror(outcome.send_errno));
    status = 1;
  }
  if (outcome.enable == 0) {
    const std::string conf = utils_path(paths::kEventsAlarmConf);
    if (!outcome.switch_read) {
      say("warning: events are off (%s cannot be read): event %d neither recorded nor sent",
          conf.c_str(), id);
    } else {
      say("warning: alertmill is not running and %s has no alarm line: event %d neither "
          "recorded nor sent",
          conf.c_str(), id);
    }
  }
  return status;
}

bool parse_id(const char *text, int *id) {
  if (text == nullptr || *text == '\0') return false;
  errno = 0;
  char *end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || value < INT_MIN || value > INT_MAX) return false;
  *id = static_cast<int>(value);
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  int status = 0;
  if (eventadd_option(argc, argv, &status)) return status;
  int id = 0;
  int result;
  EventaddOutcome outcome{};
  if (argc == 5 && std::strcmp(argv[1], "-t") == 0) {
    if (!parse_id(argv[3], &id)) return usage();
    if (!valid_stamp(argv[2])) {
      say("bad time stamp '%s': want YYYY-MM-DD HH:MM:SS", argv[2]);
      return 2;
    }
    result = eventadd_time_report(id, argv[4], argv[2], &outcome);
  } else if ((argc == 2 || argc == 3) && argv[1][0] != '-') {
    if (!parse_id(argv[1], &id)) return usage();
    result = eventadd_report(id, argc == 3 ? argv[2] : "", &outcome);
  } else {
    return usage();
  }
  std::printf("%d\n", result);
  return report(id, outcome);
}
