// Stand-in for the appliance's BusyBox `ps`: one line per process with its
// whole command line ("  PID USER       VSZ STAT COMMAND" columns).
//
// When ALERTMILL_ROOT is set and not empty, only processes whose environment
// holds the same ALERTMILL_ROOT are listed. Sandboxes of tests that run at
// the same time thus never see each other's agents or daemons; the caller's
// own pipeline (the shell, ps, grep) is listed like on the appliance.
#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

bool read_file(const std::string &path, std::string *content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *content = buffer.str();
  return true;
}

bool in_sandbox(const std::string &proc_dir, const std::string &wanted) {
  if (wanted.empty()) return true;
  std::string environ;
  if (!read_file(proc_dir + "/environ", &environ)) return false;
  size_t start = 0;
  while (start < environ.size()) {
    size_t end = environ.find('\0', start);
    if (end == std::string::npos) end = environ.size();
    if (environ.compare(start, end - start, wanted) == 0) return true;
    start = end + 1;
  }
  return false;
}

// The command line with NULs as blanks, or "[comm]" for kernel threads.
std::string command_line(const std::string &proc_dir) {
  std::string cmdline;
  if (read_file(proc_dir + "/cmdline", &cmdline) && !cmdline.empty()) {
    while (!cmdline.empty() && cmdline.back() == '\0') cmdline.pop_back();
    for (char &c : cmdline) {
      if (c == '\0') c = ' ';
    }
    return cmdline;
  }
  std::string comm;
  read_file(proc_dir + "/comm", &comm);
  while (!comm.empty() && comm.back() == '\n') comm.pop_back();
  return "[" + comm + "]";
}

struct StatFields {
  char state = '?';
  unsigned long vsize_kb = 0;
};

StatFields stat_fields(const std::string &proc_dir) {
  StatFields fields;
  std::string stat;
  if (!read_file(proc_dir + "/stat", &stat)) return fields;
  // The name in parentheses may hold blanks; fields follow the last ')'.
  size_t close = stat.rfind(')');
  if (close == std::string::npos) return fields;
  std::istringstream rest(stat.substr(close + 1));
  std::vector<std::string> values;
  std::string value;
  while (rest >> value) values.push_back(value);
  if (!values.empty()) fields.state = values[0][0];
  if (values.size() > 20) fields.vsize_kb = std::strtoul(values[20].c_str(), nullptr, 10) / 1024;
  return fields;
}

std::string user_of(const std::string &proc_dir) {
  struct stat info;
  if (stat(proc_dir.c_str(), &info) != 0) return "?";
  struct passwd *entry = getpwuid(info.st_uid);
  return entry != nullptr ? entry->pw_name : std::to_string(info.st_uid);
}

}  // namespace

int main() {
  const char *root = std::getenv("ALERTMILL_ROOT");
  std::string wanted =
      root != nullptr && *root != '\0' ? std::string("ALERTMILL_ROOT=") + root : "";

  std::vector<long> pids;
  if (DIR *proc = opendir("/proc")) {
    while (struct dirent *entry = readdir(proc)) {
      if (std::isdigit(static_cast<unsigned char>(entry->d_name[0]))) {
        pids.push_back(std::strtol(entry->d_name, nullptr, 10));
      }
    }
    closedir(proc);
  }
  std::sort(pids.begin(), pids.end());

  std::printf("  PID USER       VSZ STAT COMMAND\n");
  for (long pid : pids) {
    std::string dir = "/proc/" + std::to_string(pid);
    if (!in_sandbox(dir, wanted)) continue;
    StatFields fields = stat_fields(dir);
    std::string command = command_line(dir);
    std::printf("%5ld %-8.8s %5lu %c    %s\n", pid, user_of(dir).c_str(), fields.vsize_kb,
                fields.state, command.c_str());
  }
  return 0;
}
