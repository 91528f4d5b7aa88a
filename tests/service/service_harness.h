// End-to-end harness for the daemon: each test program runs in network and
// mount namespaces of its own (port 9001 is fixed, so programs would collide
// otherwise), with a private /dev whose /dev/log is a socket read by this
// program, so the daemon's syslog lines can be asserted. Each test gets a
// fresh sandbox root with an events database, group files, host name and
// serial number for the stand-ins, and runs the real build/bin/alertmill and
// build/bin/eventadd in it with the stand-ins first on PATH.
//
// Without root (no namespaces) the programs take a lock file instead and run
// one at a time; syslog lines are then not captured.
#ifndef ALERTMILL_TESTS_SERVICE_SERVICE_HARNESS_H_
#define ALERTMILL_TESTS_SERVICE_SERVICE_HARNESS_H_

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/sandbox_root.h"

extern char **environ;

namespace harness {

using namespace std::chrono_literals;

// Syslog levels the daemon logs at.
inline constexpr int kLogErr = 3;
inline constexpr int kLogInfo = 6;
inline constexpr int kLogDebug = 7;

// Conditions are waited for, never timed: sanitizer builds are slow.
inline constexpr auto kDeadline = 90s;

// ---------------------------------------------------------------------------
// Isolation and syslog capture

class SyslogCollector {
 public:
  explicit SyslogCollector(int fd) : fd_(fd) {
    std::thread([this] { run(); }).detach();
  }

  // Messages of the process pid: priority and text (after "name[pid]: ",
  // without the line end). The C libraries end records differently (musl
  // adds a line feed where the message has none, glibc sends the message as
  // it is); a log daemon shows neither.
  struct Line {
    int priority;
    std::string text;
  };
  std::vector<Line> lines_of(pid_t pid) {
    std::string tag = "[" + std::to_string(pid) + "]: ";
    std::vector<Line> found;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string &raw : raw_) {
      size_t at = raw.find(tag);
      if (raw.size() < 3 || raw[0] != '<' || at == std::string::npos) continue;
      std::string text = raw.substr(at + tag.size());
      if (!text.empty() && text.back() == '\n') text.pop_back();
      found.push_back({std::atoi(raw.c_str() + 1), text});
    }
    return found;
  }

 private:
  void run() {
    std::vector<char> buffer(65536);
    for (;;) {
      ssize_t n = recv(fd_, buffer.data(), buffer.size(), 0);
      if (n < 0) {
        if (errno == EINTR) continue;
        return;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      raw_.emplace_back(buffer.data(), static_cast<size_t>(n));
    }
  }

  int fd_;
  std::mutex mutex_;
  std::vector<std::string> raw_;
};

struct Isolation {
  bool namespaces = false;
  SyslogCollector *syslog = nullptr;  // null when not captured
};

inline void loopback_up() {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  ifreq request{};
  std::snprintf(request.ifr_name, sizeof request.ifr_name, "lo");
  if (ioctl(fd, SIOCGIFFLAGS, &request) == 0) {
    request.ifr_flags |= IFF_UP | IFF_RUNNING;
    ioctl(fd, SIOCSIFFLAGS, &request);
  }
  close(fd);
}

// A tmpfs /dev holding links to every entry of the real one plus our own
// /dev/log; the real /dev stays reachable under a private bind mount.
inline SyslogCollector *private_dev_log() {
  struct stat info;
  std::string holder = "/mnt";
  if (stat(holder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    holder = "/tmp/.alertmill-test-dev";
    mkdir(holder.c_str(), 0700);
  }
  if (mount("/dev", holder.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0) return nullptr;
  if (mount("tmpfs", "/dev", "tmpfs", MS_NOSUID, "mode=0755") != 0) return nullptr;
  if (DIR *old = opendir(holder.c_str())) {
    while (dirent *entry = readdir(old)) {
      std::string name = entry->d_name;
      if (name == "." || name == ".." || name == "log") continue;
      std::string from = holder + "/" + name;
      char target[4096];
      ssize_t length = readlink(from.c_str(), target, sizeof target - 1);
      if (length > 0) {
        target[length] = '\0';
        symlink(target, ("/dev/" + name).c_str());
      } else {
        symlink(from.c_str(), ("/dev/" + name).c_str());
      }
    }
    closedir(old);
  }
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "/dev/log");
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
    if (fd >= 0) close(fd);
    return nullptr;
  }
  int size = 4 * 1024 * 1024;
  setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
  return new SyslogCollector(fd);
}

// Runs before main, on the main thread: the namespaces then belong to the
// thread that runs the tests and starts every daemon.
inline Isolation isolate_program() {
  Isolation result;
  if (geteuid() == 0 && unshare(CLONE_NEWNET | CLONE_NEWNS) == 0 &&
      mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0) {
    result.namespaces = true;
    loopback_up();
    result.syslog = private_dev_log();
    return result;
  }
  // No namespaces: one daemon test program at a time on this machine.
  int lock = open("/tmp/alertmill-service-tests.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (lock >= 0) flock(lock, LOCK_EX);
  return result;
}

inline Isolation &isolation() {
  static Isolation instance = isolate_program();
  return instance;
}

inline const bool kIsolated = (isolation(), true);

// ---------------------------------------------------------------------------
// Small helpers

inline std::string env_or(const char *name, const std::string &fallback) {
  const char *value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}
inline std::string bin_dir() { return env_or("ALERTMILL_BIN_DIR", "build/bin"); }
inline std::string dev_dir() { return env_or("ALERTMILL_DEV_DIR", "build/dev"); }

inline bool wait_for(const std::function<bool()> &condition,
                     std::chrono::milliseconds deadline = kDeadline) {
  auto until = std::chrono::steady_clock::now() + deadline;
  while (std::chrono::steady_clock::now() < until) {
    if (condition()) return true;
    std::this_thread::sleep_for(50ms);
  }
  return condition();
}

inline std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void write_file(const std::string &path, const std::string &content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

inline bool exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

inline std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

inline int count_of(const std::vector<std::string> &lines, const std::string &piece) {
  int count = 0;
  for (const std::string &line : lines) count += line.find(piece) != std::string::npos;
  return count;
}

inline int count_of(const std::string &text, const std::string &piece) {
  int count = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) {
    ++count;
  }
  return count;
}

// One datagram to the service port.
inline void send_datagram(const std::string &bytes) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(9001);
  to.sin_addr.s_addr = inet_addr("127.0.0.1");
  ssize_t sent =
      sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
  close(fd);
  ASSERT_EQ(sent, static_cast<ssize_t>(bytes.size())) << strerror(errno);
}

// Removes a sandbox tree (only ever one we made under /tmp).
inline void remove_tree(const std::string &path) {
  if (path.rfind("/tmp/alertmill-e2e-", 0) != 0) return;
  std::string command = "rm -rf '" + path + "'";
  int ignored = std::system(command.c_str());
  (void)ignored;
}

// ---------------------------------------------------------------------------
// Processes

struct Exit {
  bool exited = false;
  int status = -1;         // exit status, or -signal
  double cpu_seconds = 0;  // user and system time it used
};

inline Exit decode(int status) {
  Exit result;
  result.exited = true;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  return result;
}

class Process {
 public:
  Process() = default;
  Process(const Process &) = delete;
  Process &operator=(const Process &) = delete;
  ~Process() { kill_now(); }

  // argv[0] is what the process list shows; path is what runs.
  void start(const std::string &path, const std::vector<std::string> &argv,
             const std::vector<std::string> &environment, const std::string &out_path,
             const std::string &err_path) {
    kill_now();
    std::vector<char *> args;
    for (const std::string &arg : argv) args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    std::vector<char *> env;
    for (const std::string &entry : environment) env.push_back(const_cast<char *>(entry.c_str()));
    env.push_back(nullptr);
    // Whatever a process writes to its working directory lands in the sandbox.
    std::string cwd = out_path.substr(0, out_path.rfind('/'));
    pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
      // Only async-signal-safe calls between fork and exec.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(127);
      int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (chdir(cwd.c_str()) != 0) _exit(127);
      if (out >= 0) dup2(out, 1);
      if (err >= 0) dup2(err, 2);
      int in = open("/dev/null", O_RDONLY);
      if (in >= 0) dup2(in, 0);
      execve(path.c_str(), args.data(), env.data());
      _exit(127);
    }
    exit_ = Exit{};
  }

  pid_t pid() const { return pid_; }
  bool running() {
    poll();
    return pid_ > 0 && !exit_.exited;
  }

  Exit wait_exit(std::chrono::milliseconds deadline = kDeadline) {
    wait_for([this] { return !running(); }, deadline);
    return exit_;
  }

  void signal(int signal_number) {
    if (running()) ::kill(pid_, signal_number);
  }

  void kill_now() {
    if (pid_ <= 0) return;
    if (!exit_.exited) {
      ::kill(pid_, SIGKILL);
      int status;
      if (waitpid(pid_, &status, 0) == pid_) exit_ = decode(status);
    }
    pid_ = -1;
  }

 private:
  void poll() {
    if (pid_ <= 0 || exit_.exited) return;
    int status;
    rusage usage{};
    if (wait4(pid_, &status, WNOHANG, &usage) != pid_) return;
    exit_ = decode(status);
    exit_.cpu_seconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                        (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  }

  pid_t pid_ = -1;
  Exit exit_;
};

// ---------------------------------------------------------------------------
// Database

inline constexpr char kSchema[] =
    "CREATE TABLE IF NOT EXISTS eventlist(id integer primary key AUTOINCREMENT,eventid INT,"
    "eventname varchar(64),type varchar(16),cycle INT,cycleunit INT default 1,threshold INT,"
    "latestthreshold INT,enablerecord VARCHAR(8),emailnotify varchar(8),subject VARCHAR(256),"
    "notifycontext varchar(512),prompt VARCHAR(128),logcontext VARCHAR(512),"
    "repeatcount VARCHAR(8) default '1',smsnotify varchar(8),snmpnotify varchar(8),"
    "context_en varchar(512),context_ch varchar(512));"
    "CREATE TABLE IF NOT EXISTS eventlogcache(id integer  primary key AUTOINCREMENT,eventid INT,"
    "notifyflag varchar(8) default 0,context VARCHAR(512), happentime DATETIME);"
    "CREATE TABLE IF NOT EXISTS eventlog(id integer  primary key  AUTOINCREMENT,"
    "datetime DATETIME, type varchar(16), eventid INT, loginfo VARCHAR(512),"
    "readstatus VARCHAR(8) DEFAULT 'no');";

// Definitions every sandbox starts with.
//   100  all three channels, templates with ${port} and ${state}
//   101  e-mail only, subject "last=${last}" (reassembly probe)
//   102  no channel at all
//   4013 e-mail, 4019/4020 all channels, with event log lines
inline constexpr char kDefinitions[] =
    "insert into eventlist(eventid,eventname,type,enablerecord,emailnotify,smsnotify,snmpnotify,"
    "subject,prompt,context_en) values"
    "(100,'port','port','no','yes','on','1','Port ${port} ${state}','check the cable',"
    "'Port ${port} is ${state}'),"
    "(101,'probe','test','no','yes','no','no','last=${last}','','len=${len}'),"
    "(102,'silent','test','no','no','','NO','quiet','',''),"
    "(4013,'login','user','yes','yes','no','no','Login ${user}','','User ${user} logged in'),"
    "(4019,'start','system','yes','yes','yes','yes','Service started','','Start after boot'),"
    "(4020,'reboot','system','yes','yes','yes','yes','Device rebooted','','Start after reboot');";

struct PendingRow {
  std::string id, eventid, notifyflag, context, happentime;
};

// SQL from the test side, under the same lock file the daemon honours, so
// the test never makes one of the daemon's statements fail with BUSY.
class Database {
 public:
  explicit Database(std::string root) : root_(std::move(root)) {}

  std::string path() const { return root_ + "/etc/events.sqlite3"; }

  bool exec(const std::string &sql) {
    return with_connection([&](sqlite3 *db) {
      char *error = nullptr;
      int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
      if (rc != SQLITE_OK) ADD_FAILURE() << sql << ": " << (error ? error : "?");
      sqlite3_free(error);
      return rc == SQLITE_OK;
    });
  }

  std::vector<std::vector<std::string>> query(const std::string &sql) {
    std::vector<std::vector<std::string>> rows;
    with_connection([&](sqlite3 *db) {
      auto collect = [](void *out, int columns, char **values, char **) {
        auto *table = static_cast<std::vector<std::vector<std::string>> *>(out);
        std::vector<std::string> row;
        for (int i = 0; i < columns; ++i) row.emplace_back(values[i] ? values[i] : "");
        table->push_back(std::move(row));
        return 0;
      };
      char *error = nullptr;
      int rc = sqlite3_exec(db, sql.c_str(), collect, &rows, &error);
      if (rc != SQLITE_OK) ADD_FAILURE() << sql << ": " << (error ? error : "?");
      sqlite3_free(error);
      return rc == SQLITE_OK;
    });
    return rows;
  }

  std::vector<PendingRow> pending() {
    std::vector<PendingRow> rows;
    for (auto &row :
         query("select id,eventid,notifyflag,context,happentime from eventlogcache order by id")) {
      rows.push_back({row[0], row[1], row[2], row[3], row[4]});
    }
    return rows;
  }

  // Inserts a pending row and returns its id.
  std::string add_pending(int eventid, const std::string &context, const std::string &happentime,
                          int notifyflag = 0) {
    exec("insert into eventlogcache(eventid,notifyflag,context,happentime) values(" +
         std::to_string(eventid) + ",'" + std::to_string(notifyflag) + "','" + context + "','" +
         happentime + "');");
    auto rows = query("select max(id) from eventlogcache;");
    return rows.empty() ? "" : rows[0][0];
  }

 private:
  bool with_connection(const std::function<bool(sqlite3 *)> &body) {
    std::string lock_path = root_ + "/tmp/syscore.fl";
    int lock = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock >= 0) lockf(lock, F_LOCK, 0);
    sqlite3 *db = nullptr;
    bool ok = sqlite3_open(path().c_str(), &db) == SQLITE_OK;
    if (ok) {
      sqlite3_busy_timeout(db, 10000);
      ok = body(db);
    } else {
      ADD_FAILURE() << "cannot open " << path();
    }
    sqlite3_close(db);
    if (lock >= 0) close(lock);
    return ok;
  }

  std::string root_;
};

// ---------------------------------------------------------------------------
// The sandbox

struct RunResult {
  Exit exit;
  std::string out, err;
};

class Sandbox {
 public:
  Sandbox() : db_(make_root()) {
    for (const char *dir : {"/etc", "/etc/quagga", "/tmp"}) mkdir((root_ + dir).c_str(), 0755);
    write("hostname", "gw-test\n");
    write("serial", "SN-0042\n");
    write("etc/alarm_email_group", "7\n");
    write("etc/alarm_sms_group", "3\n");
    // A restart within the same boot by default: no start event.
    write("tmp/.reboot_flag", "");
    db_.exec(kSchema);
    db_.exec(kDefinitions);
  }

  ~Sandbox() {
    agent_.kill_now();
    fake_.kill_now();
    for (auto &daemon : daemons_) daemon->kill_now();
    if (::testing::Test::HasFailure()) {
      dump_logs();
    } else {
      remove_tree(root_);
    }
  }

  Sandbox(const Sandbox &) = delete;
  Sandbox &operator=(const Sandbox &) = delete;

  const std::string &root() const { return root_; }
  std::string path(const std::string &relative) const { return root_ + "/" + relative; }
  void write(const std::string &relative, const std::string &content) {
    write_file(path(relative), content);
  }
  std::string read(const std::string &relative) const { return read_file(path(relative)); }
  bool has(const std::string &relative) const { return exists(path(relative)); }
  Database &db() { return db_; }

  std::vector<std::string> environment() const {
    std::vector<std::string> env;
    for (char **entry = environ; *entry != nullptr; ++entry) {
      std::string item = *entry;
      if (item.rfind("ALERTMILL_ROOT=", 0) == 0 || item.rfind("PATH=", 0) == 0 ||
          item.rfind("LD_LIBRARY_PATH=", 0) == 0) {
        continue;
      }
      env.push_back(item);
    }
    env.push_back("ALERTMILL_ROOT=" + root_);
    env.push_back("PATH=" + dev_dir() + ":" + env_or("PATH", "/usr/sbin:/usr/bin:/sbin:/bin"));
    std::string libraries = env_or("LD_LIBRARY_PATH", "");
    env.push_back("LD_LIBRARY_PATH=" + dev_dir() + (libraries.empty() ? "" : ":" + libraries));
    return env;
  }

  // Starts build/bin/alertmill; its stdout and stderr go to daemon.N.out/err.
  // Unless told otherwise, returns once the service socket is bound (the
  // channels' start line follows the bind), so datagrams are not lost.
  Process &start_daemon(bool wait_bound = true) {
    int n = static_cast<int>(daemons_.size());
    daemons_.push_back(std::make_unique<Process>());
    daemons_.back()->start(bin_dir() + "/alertmill", {bin_dir() + "/alertmill"}, environment(),
                           path("daemon." + std::to_string(n) + ".out"),
                           path("daemon." + std::to_string(n) + ".err"));
    if (wait_bound) {
      EXPECT_TRUE(wait_for([&] { return count_of(daemon_out(n), "notifymethodcounts") > 0; }))
          << "the daemon did not start";
    }
    return *daemons_.back();
  }

  Process &daemon(int n = -1) { return *daemons_.at(n < 0 ? daemons_.size() - 1 : n); }

  // Standard output of the n-th daemon started (the last by default).
  std::string daemon_out(int n = -1) const {
    return read("daemon." + std::to_string(n < 0 ? daemons_.size() - 1 : n) + ".out");
  }
  std::string daemon_err(int n = -1) const {
    return read("daemon." + std::to_string(n < 0 ? daemons_.size() - 1 : n) + ".err");
  }

  // The stand-in SNMP agent (its line in the process list names snmp-mib).
  void start_agent() {
    agent_.start(dev_dir() + "/snmp-mib", {dev_dir() + "/snmp-mib"}, environment(),
                 path("agent.out"), path("agent.err"));
  }
  void stop_agent() { agent_.kill_now(); }

  // A process whose line in the process list names alertmill, for the
  // sending side's running check, without a daemon behind it.
  void start_fake_service() {
    fake_.start(dev_dir() + "/snmp-mib", {"alertmill"}, environment(), path("fake.out"),
                path("fake.err"));
  }

  // build/bin/eventadd with args; waits for it.
  RunResult eventadd(const std::vector<std::string> &args) {
    Process process;
    std::vector<std::string> argv = {"eventadd"};
    argv.insert(argv.end(), args.begin(), args.end());
    process.start(bin_dir() + "/eventadd", argv, environment(), path("eventadd.out"),
                  path("eventadd.err"));
    RunResult result;
    result.exit = process.wait_exit();
    result.out = read("eventadd.out");
    result.err = read("eventadd.err");
    return result;
  }

  std::vector<std::string> ubus_calls() const { return lines_of(read("ubus.log")); }
  std::vector<std::string> sms_texts() const { return lines_of(read("sms.log")); }
  // What the services received: "object method", then keys and values.
  std::vector<std::vector<std::string>> ubus_messages() const {
    return sandbox_ubus_messages(path("ubus.messages"));
  }

  // The daemon's syslog lines at one priority (LOG_DAEMON | level).
  std::vector<std::string> syslog(const Process &process, int level) const {
    std::vector<std::string> found;
    if (isolation().syslog == nullptr) return found;
    for (auto &line : isolation().syslog->lines_of(process.pid())) {
      if (line.priority == (3 << 3 | level)) found.push_back(line.text);
    }
    return found;
  }
  static bool syslog_captured() { return isolation().syslog != nullptr; }

  bool pending_empty() { return db_.pending().empty(); }

 private:
  const std::string &make_root() {
    char pattern[] = "/tmp/alertmill-e2e-XXXXXX";
    const char *made = mkdtemp(pattern);
    root_ = made != nullptr ? made : "";
    return root_;
  }

  void dump_logs() const {
    std::fprintf(stderr, "sandbox kept for inspection: %s\n", root_.c_str());
    for (size_t n = 0; n < daemons_.size(); ++n) {
      std::fprintf(stderr, "--- daemon %zu stdout (tail)\n%s\n--- stderr\n%s\n", n,
                   tail(daemon_out(static_cast<int>(n))).c_str(),
                   tail(daemon_err(static_cast<int>(n))).c_str());
    }
    std::fprintf(stderr, "--- ubus.log\n%s\n", read("ubus.log").c_str());
  }

  static std::string tail(const std::string &text) {
    return text.size() > 6000 ? text.substr(text.size() - 6000) : text;
  }

  std::string root_;
  Database db_;
  std::vector<std::unique_ptr<Process>> daemons_;
  Process agent_;
  Process fake_;
};

// Starts the daemon and waits until its replay has found nothing, so rows
// inserted afterwards are only seen through requests.
inline Process &start_idle(Sandbox &box) {
  Process &daemon = box.start_daemon();
  EXPECT_TRUE(wait_for([&] { return count_of(box.daemon_out(), "no last event") == 1; }))
      << box.daemon_out();
  return daemon;
}

// Subjects of the mails delivered so far, in call order, as the mail
// service read them.
inline std::vector<std::string> mail_subjects(const Sandbox &box) {
  std::vector<std::string> subjects;
  for (const auto &message : box.ubus_messages()) {
    if (message.size() > 2 && message[0] == "zelk_emaild putmail") subjects.push_back(message[2]);
  }
  return subjects;
}

// The daemon still serves and no sanitizer has reported anything.
inline void expect_healthy(Sandbox &box) {
  EXPECT_TRUE(box.daemon().running());
  std::string err = box.daemon_err();
  for (const char *report :
       {"AddressSanitizer", "ThreadSanitizer", "LeakSanitizer", "runtime error"}) {
    EXPECT_EQ(err.find(report), std::string::npos) << err;
  }
}

// The ubus.log line of a channel command, as the stand-in writes it (line
// ends inside arguments escaped as \n and \r).
inline std::string putmail_line(const std::string &subject, const std::string &body, int group) {
  return "call zelk_emaild putmail {\"head\":\"" + subject + "\", \"body\":\"" + body +
         "\", \"group\":" + std::to_string(group) + "}";
}
inline std::string sendsms_line(int group) {
  return "call zelk_other sendsms {\"group\":" + std::to_string(group) +
         ", \"file\":\"eventsendsms.txt\"}";
}
inline std::string eventtrap_line(const std::string &subject, const std::string &body) {
  return "call zelk_snmp eventtrap {\"head\":\"" + subject + "\",\"body\":\"" + body + "\"}";
}
// "receive alarm from [host](sn:serial)\n" + context, escaped like ubus.log.
inline std::string alarm_body(const std::string &stamp, const std::string &message) {
  return "receive alarm from [gw-test](sn:SN-0042)\\n[" + stamp + "]\\r\\n" + message;
}

}  // namespace harness

#endif  // ALERTMILL_TESTS_SERVICE_SERVICE_HARNESS_H_
