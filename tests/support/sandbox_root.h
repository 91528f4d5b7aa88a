// A fresh sandbox root for one test: ALERTMILL_ROOT points at a new temporary
// directory (with etc/ and tmp/) and the stand-ins of <build>/dev come first
// on PATH. The stand-ins' files in the root are described in dev/README.md.
// The previous ALERTMILL_ROOT comes back when it goes.
#ifndef ALERTMILL_TESTS_SUPPORT_SANDBOX_ROOT_H_
#define ALERTMILL_TESTS_SUPPORT_SANDBOX_ROOT_H_

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

class SandboxRoot {
 public:
  // With dirs false the root is left empty, so nothing can be created in
  // etc/ or tmp/.
  explicit SandboxRoot(bool dirs = true);
  ~SandboxRoot();
  SandboxRoot(const SandboxRoot &) = delete;
  SandboxRoot &operator=(const SandboxRoot &) = delete;

  const std::string &dir() const { return dir_; }
  // relative is taken inside the root ("etc/alarm_sms_group").
  std::string path(const std::string &relative) const;
  void write(const std::string &relative, const std::string &content) const;
  bool exists(const std::string &relative) const;
  std::string read(const std::string &relative) const;

  // The calls the stand-in ubus logged, unescaped: each the call's arguments
  // joined by single blanks.
  std::vector<std::string> ubus_calls() const;
  // The SMS file contents the stand-in ubus saw at each sendsms call.
  std::vector<std::string> sms_files() const;
  // The messages that reached their services (see sandbox_ubus_messages).
  std::vector<std::vector<std::string>> ubus_messages() const;

  // The events database, straight through SQLite: no lock, no traces, and a
  // busy database is waited for. exec gives SQLite's result; rows every row
  // as texts (NULL reads "<null>"), failing the test when the query fails;
  // value the first cell ("" when none).
  int exec(const std::string &sql) const;
  std::vector<std::vector<std::string>> rows(const std::string &sql) const;
  std::string value(const std::string &sql) const;
  // Creates eventlist, eventlogcache and eventlog.
  void create_event_tables() const;

  // Starts / stops the stand-in SNMP agent of this sandbox.
  void start_snmp_agent();
  void stop_snmp_agent();

 private:
  std::string dir_;
  std::string saved_root_;
  bool had_root_ = false;
  pid_t agent_ = -1;
};

// The directory of the stand-ins (ALERTMILL_DEV_DIR); fails the test when
// unset.
std::string sandbox_dev_dir();

// Polls condition until it holds or the deadline passes; its last result.
bool sandbox_wait_until(const std::function<bool()> &condition,
                        std::chrono::milliseconds deadline = std::chrono::seconds(120));

// Undoes the stand-in ubus's escaping of one logged line.
std::string sandbox_unescape(const std::string &line);

// The messages in a ubus.messages file, one per call that reached its
// service: "object method", then each member's key and decoded value.
std::vector<std::vector<std::string>> sandbox_ubus_messages(const std::string &path);

// The loader reads LD_LIBRARY_PATH once, when a process starts, so a test
// program that needs the stand-in libraries calls this first thing (from a
// static initialiser): it restarts the program with <build>/dev at the front
// of LD_LIBRARY_PATH, unless that is done already or SANDBOX_NO_DEV_LIBRARIES
// is set.
void sandbox_restart_with_dev_libraries();

#endif  // ALERTMILL_TESTS_SUPPORT_SANDBOX_ROOT_H_
