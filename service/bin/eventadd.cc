// eventadd: raises one event from a shell script, or lists the pending
// events; its forms are the table below. Exit status 0 when the event was
// recorded or sent as the enable switch asks (events switched off is a
// warning); 1 when it was not, with one line on stderr saying why; 2 for bad
// arguments.
#include "service/eventadd.h"

#include <signal.h>

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
  if (outcome.probe_failure[0] != '\0') {
    say("warning: cannot tell whether alertmill runs (%s): event %d recorded and sent",
        outcome.probe_failure, id);
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

int usage();

bool raise_form(int argc, char **argv, int *status) {
  if ((argc != 2 && argc != 3) || argv[1][0] == '-') return false;
  int id = 0;
  if (!parse_id(argv[1], &id)) {
    *status = usage();
    return true;
  }
  EventaddOutcome outcome{};
  std::printf("%d\n", eventadd_report(id, argc == 3 ? argv[2] : "", &outcome));
  *status = report(id, outcome);
  return true;
}

bool timed_form(int argc, char **argv, int *status) {
  if (argc != 5 || std::strcmp(argv[1], "-t") != 0) return false;
  int id = 0;
  if (!parse_id(argv[3], &id)) {
    *status = usage();
  } else if (!valid_stamp(argv[2])) {
    say("bad time stamp '%s': want YYYY-MM-DD HH:MM:SS", argv[2]);
    *status = 2;
  } else {
    EventaddOutcome outcome{};
    std::printf("%d\n", eventadd_time_report(id, argv[4], argv[2], &outcome));
    *status = report(id, outcome);
  }
  return true;
}

bool help_form(int argc, char **argv, int *status);

struct Form {
  const char *arguments;  // as usage shows them
  const char *what;       // for --help, lines after the first indented by four
  const char *example;
  // False when argv is not this form; else runs it and sets *status.
  bool (*run)(int argc, char **argv, int *status);
};

constexpr Form kForms[] = {
    {"ID [TEXT]", "Raises event ID with TEXT, further request parameters.",
     "eventadd 2001 'port=3&state=down'", raise_form},
    {"-t 'YYYY-MM-DD HH:MM:SS' ID TEXT",
     "Raises event ID with TEXT; the pending event carries the time stamp given.",
     "eventadd -t '2024-03-05 07:08:09' 2001 'port=3&state=up'", timed_form},
    {"--pending [--wide]",
     "Lists the events whose delivery is not finished, oldest first. Reads the\n"
     "    database under its lock and never writes to it.",
     "eventadd --pending | cut -f 1,4,7", eventadd_pending_form},
    {"--help", "Prints this text.", "eventadd --help", help_form},
};

std::string usage_lines() {
  std::string text;
  for (const Form &form : kForms) {
    text += (text.empty() ? "usage: eventadd " : "       eventadd ") + std::string(form.arguments) +
            "\n";
  }
  return text;
}

int usage() {
  std::fputs((usage_lines() + "Run eventadd --help for what each form does.\n").c_str(), stderr);
  return 2;
}

bool help_form(int argc, char **argv, int *status) {
  if (argc != 2 || std::strcmp(argv[1], "--help") != 0) return false;
  std::string text = usage_lines() + "\n";
  for (const Form &form : kForms) {
    text += "eventadd " + std::string(form.arguments) + "\n    " + form.what +
            "\n    example: " + form.example + "\n";
  }
  std::fputs((text + "\n" + eventadd_pending_fields()).c_str(), stdout);
  *status = std::fflush(stdout) == 0 ? 0 : 1;
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  // An ignored SIGCHLD survives exec and would hide the exit status of the
  // commands it runs.
  signal(SIGCHLD, SIG_DFL);
  int status = 2;
  for (const Form &form : kForms) {
    if (form.run(argc, argv, &status)) return status;
  }
  return usage();
}
