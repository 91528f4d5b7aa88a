// eventadd: raises one event from a shell script.
//   eventadd ID [TEXT]
//   eventadd -t 'YYYY-MM-DD HH:MM:SS' ID TEXT
#include "service/eventadd.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "service/bin/eventadd_options.h"

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
  if (argc == 5 && std::strcmp(argv[1], "-t") == 0) {
    if (!parse_id(argv[3], &id)) return usage();
    result = eventadd_time(id, argv[4], argv[2]);
  } else if ((argc == 2 || argc == 3) && argv[1][0] != '-') {
    if (!parse_id(argv[1], &id)) return usage();
    result = eventadd(id, argc == 3 ? argv[2] : "");
  } else {
    return usage();
  }
  std::printf("%d\n", result);
  return result < 0 ? 1 : 0;
}
