// A fresh sandbox root for one test: ALERTMILL_ROOT names a new temporary
// directory (with etc/ and tmp/, kept when the test fails), the stand-ins of
// <build>/dev (see dev/README.md) come first on PATH and LD_LIBRARY_PATH of
// the programs it starts. The previous ALERTMILL_ROOT comes back when it goes.
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
// copy of this program (a process list shows argv[0], under qemu-arm among the
// emulator's arguments) or the copy ended; a failed exec fails the test.
class SandboxProcess {
 public:
  SandboxProcess() = default;
  ~SandboxProcess() { stop(); }
  SandboxProcess(const SandboxProcess &) = delete;
  SandboxProcess &operator=(const SandboxProcess &) = delete;

  void start(const std::string &root, const std::string &name, const std::string &program,
             const std::vector<std::string> &argv);
  bool running();
  int wait();   // the exit status, or minus the signal
  void stop();  // kills and waits

 private:
  pid_t pid_ = -1;
  bool ended_ = false;
  int status_ = -1;
};

class SandboxRoot {
 public:
  // With dirs false the root is left empty: nothing can be made in etc/ or tmp/.
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
  // The messages that reached their services, one per call: "object
  // method", then each member's key and decoded value.
  std::vector<std::vector<std::string>> ubus_messages() const;

  // The events database, straight through SQLite: no traces, a busy database
  // waited for, and once a daemon was started, under its lock file, so none
  // of its statements fails for a test's (a lock not free within 30 s ends
  // the test, naming its holder; so does an eventadd run that long). exec gives SQLite's result;
  // rows every row as texts (NULL reads "<null>"), failing the test when the query fails; value the
  // first cell ("" when none).
  int exec(const std::string &sql) const;
  std::vector<std::vector<std::string>> rows(const std::string &sql) const;
  std::string value(const std::string &sql) const;
  // Creates eventlist, eventlogcache and eventlog.
  void create_event_tables() const;

  // Starts the stand-in SNMP agent of this sandbox; it stops with the root.
  void start_snmp_agent();

  // For the daemon and eventadd: host gw-test, serial SN-0042, e-mail group
  // 7, SMS group 3, the /tmp start marker (a restart within the same boot),
  // the event tables and definitions 100 (all channels, "Port ${port}
  // ${state}" / "Port ${port} is ${state}"), 101 (e-mail, "last=${last}" /
  // "len=${len}"), 102 (none), 103 (SMS), 4013 (e-mail), 4019 and 4020 (all).
  void prepare_service() const;
  // Inserts a pending row; its id.
  std::string add_pending(int eventid, const std::string &context, const std::string &happentime,
                          int notifyflag = 0) const;
  // build/bin/alertmill as daemon<N> (N from 0), once its service socket is
  // bound unless told not to wait; daemon_out is the last one's output.
  SandboxProcess &start_daemon(bool wait_bound = true);
  std::string daemon_out() const;
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
  SandboxProcess agent_;
  std::vector<std::unique_ptr<SandboxProcess>> daemons_;
};

// The directory of the stand-ins (ALERTMILL_DEV_DIR); fails the test if unset.
std::string sandbox_dev_dir();

// Polls condition until it holds or the deadline passes; its last result.
bool sandbox_wait_until(const std::function<bool()> &condition,
                        std::chrono::milliseconds deadline = std::chrono::seconds(120));

// Port 9001 is fixed: a test that serves or listens on it moves this process
// into a network namespace of its own with loopback up (as root; true then),
// or else waits for a lock file and runs alone.
bool sandbox_own_network();
// Sends one datagram to the service port from sender's socket: each number
// keeps its own (so its own port) for the life of the test program.
void sandbox_send(const std::string &bytes, int sender = 0);

#endif  // ALERTMILL_TESTS_SUPPORT_SANDBOX_ROOT_H_
