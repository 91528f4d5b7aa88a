// A fresh sandbox root for one test: ALERTMILL_ROOT points at a new temporary
// directory (with etc/ and tmp/), and the stand-ins of <build>/dev come first
// on PATH and LD_LIBRARY_PATH for the programs the test starts. The
// stand-ins' files in the root are described in dev/README.md. The previous
// ALERTMILL_ROOT comes back when it goes; the directory goes unless the test
// failed.
#ifndef ALERTMILL_TESTS_SUPPORT_SANDBOX_ROOT_H_
#define ALERTMILL_TESTS_SUPPORT_SANDBOX_ROOT_H_

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// A program run in the sandbox root, its output in <name>.out and .err there
// (nowhere without a name). start returns once exec has replaced the spawned
// copy of this program, so a process list shows argv[0], or once it ended.
class SandboxProcess {
 public:
  SandboxProcess() = default;
  ~SandboxProcess() { stop(); }
  SandboxProcess(const SandboxProcess &) = delete;
  SandboxProcess &operator=(const SandboxProcess &) = delete;

  void start(const std::string &root, const std::string &name, const std::string &program,
             const std::vector<std::string> &argv);
  bool running();
  // Waits for the end: the exit status, or minus the signal.
  int wait();
  void stop();  // kills and waits

 private:
  pid_t pid_ = -1;
  bool ended_ = false;
  int status_ = -1;
};

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

  // The events database, straight through SQLite: no traces, a busy database
  // is waited for, and once a daemon was started, under the lock file it
  // honours, so none of its statements fails for a test's. exec gives
  // SQLite's result; rows every row as texts (NULL reads "<null>"), failing
  // the test when the query fails; value the first cell ("" when none).
  int exec(const std::string &sql) const;
  std::vector<std::vector<std::string>> rows(const std::string &sql) const;
  std::string value(const std::string &sql) const;
  // Creates eventlist, eventlogcache and eventlog.
  void create_event_tables() const;

  // Starts / stops the stand-in SNMP agent of this sandbox.
  void start_snmp_agent();
  void stop_snmp_agent();

  // What the daemon and eventadd need: host name gw-test, serial SN-0042,
  // e-mail group 7, SMS group 3, the /tmp start marker (a restart within the
  // same boot), the event tables and these definitions:
  //   100  all channels, "Port ${port} ${state}" / "Port ${port} is ${state}"
  //   101  e-mail, "last=${last}" / "len=${len}";  102 none;  103 SMS only
  //   4013 e-mail, event log;  4019 / 4020 all channels, event log
  void prepare_service() const;
  // Inserts a pending row; its id.
  std::string add_pending(int eventid, const std::string &context, const std::string &happentime,
                          int notifyflag = 0) const;
  // build/bin/alertmill as daemon<N>, N counting from 0; returns once its
  // service socket is bound unless told not to wait. Output of the last one.
  SandboxProcess &start_daemon(bool wait_bound = true);
  std::string daemon_out() const;
  // A process listed as alertmill without a daemon behind it.
  void start_fake_service();
  struct Run {
    int status;
    std::string out, err;
  };
  // build/bin/eventadd with args, run by the wrapper command if one is given.
  Run eventadd(const std::vector<std::string> &args,
               const std::vector<std::string> &wrapper = {}) const;

 private:
  std::string dir_;
  std::string saved_root_;
  bool had_root_ = false;
  SandboxProcess agent_, fake_;
  std::vector<std::unique_ptr<SandboxProcess>> daemons_;
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
// program that needs the stand-in libraries itself calls this first thing
// (from a static initialiser): it restarts the program with <build>/dev at
// the front of LD_LIBRARY_PATH, unless that is done already or
// SANDBOX_NO_DEV_LIBRARIES is set.
void sandbox_restart_with_dev_libraries();

// Port 9001 is fixed: a test that serves or listens on it moves this process
// into a network namespace of its own with loopback up (as root; true then),
// or else waits for a lock file and runs alone.
bool sandbox_own_network();
// Sends one datagram to the service port.
void sandbox_send(const std::string &bytes);
// How many lines hold piece.
int sandbox_count(const std::vector<std::string> &lines, const std::string &piece);

#endif  // ALERTMILL_TESTS_SUPPORT_SANDBOX_ROOT_H_
