#include "tests/support/sandbox_root.h"

#include <ftw.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "db/event_tables.h"

extern char **environ;

namespace {

std::string read_whole(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

std::vector<std::string> unescaped_lines(const std::string &path) {
  std::vector<std::string> lines;
  std::istringstream in(read_whole(path));
  std::string line;
  while (std::getline(in, line)) lines.push_back(sandbox_unescape(line));
  return lines;
}

int remove_entry(const char *path, const struct stat *, int, struct FTW *) {
  return std::remove(path);
}

void put_dev_dir_first_on_path() {
  std::string dev = sandbox_dev_dir();
  const char *path = std::getenv("PATH");
  std::string current = path != nullptr ? path : "/usr/bin:/bin";
  if (current.rfind(dev + ":", 0) != 0) setenv("PATH", (dev + ":" + current).c_str(), 1);
}

struct CloseConnection {
  void operator()(sqlite3 *connection) const { sqlite3_close(connection); }
};
using Connection = std::unique_ptr<sqlite3, CloseConnection>;

Connection open_events_db(const std::string &path) {
  sqlite3 *connection = nullptr;
  int result = sqlite3_open(path.c_str(), &connection);
  Connection owned(connection);
  EXPECT_EQ(result, SQLITE_OK) << path;
  if (result != SQLITE_OK) return nullptr;
  sqlite3_busy_timeout(connection, 10000);
  return owned;
}

}  // namespace

std::string sandbox_dev_dir() {
  const char *dev = std::getenv("ALERTMILL_DEV_DIR");
  EXPECT_NE(dev, nullptr) << "ALERTMILL_DEV_DIR is not set; run the tests through ctest";
  return dev != nullptr ? dev : "";
}

SandboxRoot::SandboxRoot(bool dirs) {
  char pattern[] = "/tmp/alertmill-sandbox-XXXXXX";
  char *made = mkdtemp(pattern);
  EXPECT_NE(made, nullptr);
  dir_ = made != nullptr ? made : "/nonexistent";
  if (dirs) {
    mkdir(path("etc").c_str(), 0755);
    mkdir(path("tmp").c_str(), 0755);
  }
  const char *saved = std::getenv("ALERTMILL_ROOT");
  had_root_ = saved != nullptr;
  if (had_root_) saved_root_ = saved;
  setenv("ALERTMILL_ROOT", dir_.c_str(), 1);
  put_dev_dir_first_on_path();
}

SandboxRoot::~SandboxRoot() {
  stop_snmp_agent();
  if (had_root_) {
    setenv("ALERTMILL_ROOT", saved_root_.c_str(), 1);
  } else {
    unsetenv("ALERTMILL_ROOT");
  }
  nftw(dir_.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string SandboxRoot::path(const std::string &relative) const { return dir_ + "/" + relative; }

void SandboxRoot::write(const std::string &relative, const std::string &content) const {
  std::ofstream out(path(relative), std::ios::binary | std::ios::trunc);
  out << content;
  EXPECT_TRUE(out.good()) << path(relative);
}

bool SandboxRoot::exists(const std::string &relative) const {
  return access(path(relative).c_str(), F_OK) == 0;
}

std::string SandboxRoot::read(const std::string &relative) const {
  return read_whole(path(relative));
}

std::vector<std::string> SandboxRoot::ubus_calls() const {
  return unescaped_lines(path("ubus.log"));
}

std::vector<std::string> SandboxRoot::sms_files() const { return unescaped_lines(path("sms.log")); }

std::vector<std::vector<std::string>> SandboxRoot::ubus_messages() const {
  return sandbox_ubus_messages(path("ubus.messages"));
}

int SandboxRoot::exec(const std::string &sql) const {
  Connection connection = open_events_db(path("etc/events.sqlite3"));
  if (!connection) return SQLITE_CANTOPEN;
  return sqlite3_exec(connection.get(), sql.c_str(), nullptr, nullptr, nullptr);
}

std::vector<std::vector<std::string>> SandboxRoot::rows(const std::string &sql) const {
  std::vector<std::vector<std::string>> table;
  Connection connection = open_events_db(path("etc/events.sqlite3"));
  if (!connection) return table;
  sqlite3_stmt *statement = nullptr;
  int result = sqlite3_prepare_v2(connection.get(), sql.c_str(), -1, &statement, nullptr);
  EXPECT_EQ(result, SQLITE_OK) << sql << ": " << sqlite3_errmsg(connection.get());
  while (result == SQLITE_OK && sqlite3_step(statement) == SQLITE_ROW) {
    std::vector<std::string> row;
    for (int column = 0; column < sqlite3_column_count(statement); ++column) {
      const unsigned char *text = sqlite3_column_text(statement, column);
      row.emplace_back(text ? reinterpret_cast<const char *>(text) : "<null>");
    }
    table.push_back(std::move(row));
  }
  sqlite3_finalize(statement);
  return table;
}

std::string SandboxRoot::value(const std::string &sql) const {
  auto table = rows(sql);
  return table.empty() || table[0].empty() ? "" : table[0][0];
}

void SandboxRoot::create_event_tables() const {
  for (const char *create : {kCreateEventList, kCreateEventLogCache, kCreateEventLog}) {
    EXPECT_EQ(exec(create), SQLITE_OK) << create;
  }
}

void SandboxRoot::start_snmp_agent() {
  if (agent_ > 0) return;
  std::string program = sandbox_dev_dir() + "/snmp-mib";
  char *argv[] = {program.data(), nullptr};
  ASSERT_EQ(posix_spawn(&agent_, program.c_str(), nullptr, nullptr, argv, environ), 0);
  // Visible once exec has replaced the spawned copy of this program.
  ASSERT_TRUE(sandbox_wait_until([&] {
    return read_whole("/proc/" + std::to_string(agent_) + "/cmdline").find("snmp-mib") !=
           std::string::npos;
  }));
}

void SandboxRoot::stop_snmp_agent() {
  if (agent_ <= 0) return;
  kill(agent_, SIGTERM);
  waitpid(agent_, nullptr, 0);
  agent_ = -1;
}

bool sandbox_wait_until(const std::function<bool()> &condition,
                        std::chrono::milliseconds deadline) {
  auto end = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

std::string sandbox_unescape(const std::string &line) {
  std::string out;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '\\' || i + 1 == line.size()) {
      out += line[i];
      continue;
    }
    switch (line[++i]) {
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      default:
        out += line[i];
    }
  }
  return out;
}

std::vector<std::vector<std::string>> sandbox_ubus_messages(const std::string &path) {
  std::vector<std::vector<std::string>> messages;
  std::istringstream in(read_whole(path));
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    // Tabs inside the fields are escaped: a raw one separates them.
    for (size_t start = 0, tab = 0; tab != std::string::npos; start = tab + 1) {
      tab = line.find('\t', start);
      fields.push_back(sandbox_unescape(line.substr(start, tab - start)));
    }
    messages.push_back(fields);
  }
  return messages;
}

void sandbox_restart_with_dev_libraries() {
  const char *dev = std::getenv("ALERTMILL_DEV_DIR");
  if (dev == nullptr || *dev == '\0' || std::getenv("SANDBOX_NO_DEV_LIBRARIES") != nullptr) return;
  const char *current = std::getenv("LD_LIBRARY_PATH");
  std::string wanted = std::string(dev) + (current != nullptr && *current != '\0' ? ":" : "");
  if (current != nullptr && std::string(current).rfind(wanted, 0) == 0) return;
  setenv("LD_LIBRARY_PATH", (wanted + (current != nullptr ? current : "")).c_str(), 1);

  std::string cmdline = read_whole("/proc/self/cmdline");
  std::vector<char *> argv;
  for (size_t start = 0; start < cmdline.size(); start = cmdline.find('\0', start) + 1) {
    argv.push_back(&cmdline[start]);
  }
  argv.push_back(nullptr);
  execv("/proc/self/exe", argv.data());
}
