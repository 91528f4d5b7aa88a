// Stand-in for the appliance's device-information library. Knows one value:
// "sn", the first line of $ALERTMILL_ROOT/serial (at most 127 characters).
// Returns 0 when it wrote a value, -1 otherwise (value left untouched).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
constexpr int kValueSize = 128;
}

extern "C" __attribute__((visibility("default"))) int get_info_by_name(const char *name,
                                                                       char *value) {
  if (name == nullptr || value == nullptr || std::strcmp(name, "sn") != 0) return -1;
  const char *root = std::getenv("ALERTMILL_ROOT");
  if (root == nullptr || *root == '\0') return -1;
  std::string path = std::string(root) + "/serial";
  FILE *file = std::fopen(path.c_str(), "re");
  if (file == nullptr) return -1;
  char line[kValueSize] = {};
  bool read = std::fgets(line, sizeof line, file) != nullptr;
  std::fclose(file);
  if (!read) return -1;
  line[std::strcspn(line, "\r\n")] = '\0';
  std::memcpy(value, line, std::strlen(line) + 1);
  return 0;
}
