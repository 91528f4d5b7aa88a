#include "tests/support/sandbox_root.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "db/event_tables.h"

namespace {

std::string read_whole(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The pieces of text between separators (a last empty one left out).
std::vector<std::string> split(const std::string &text, char separator) {
  std::vector<std::string> pieces;
  std::istringstream in(text);
  for (std::string piece; std::getline(in, piece, separator);) pieces.push_back(piece);
  return pieces;
}

// Undoes the stand-in ubus's escaping of one logged line.
std::string unescape(const std::string &line) {
  std::string out;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (c == '\\' && i + 1 < line.size()) {
      c = line[++i];
      c = c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
    }
    out += c;
  }
  return out;
}

std::vector<std::string> unescaped_lines(const std::string &path) {
  std::vector<std::string> lines = split(read_whole(path), '\n');
  for (std::string &line : lines) line = unescape(line);
  return lines;
}

std::string env_or(const char *name, const std::string &fallback) {
  const char *value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

std::string bin_dir() { return env_or("ALERTMILL_BIN_DIR", sandbox_dev_dir() + "/../bin"); }

// A database operation holds the lock for milliseconds. A holder that never
// lets go fails the test, naming it, instead of hanging it until ctest's
// time-out.
constexpr auto kLockDeadline = std::chrono::seconds(30);

// Ends the test (thrown: whichever wait of its own it was in) with what
// waited and who holds the lock file.
[[noreturn]] void fail_on_lock(const std::string &lock_file, const std::string &what) {
  std::string holder = "no process now";
  int fd = open(lock_file.c_str(), O_RDWR | O_CLOEXEC);
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  if (fd >= 0 && fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK) {
    std::string command = read_whole("/proc/" + std::to_string(probe.l_pid) + "/cmdline");
    std::replace(command.begin(), command.end(), '\0', ' ');
    holder = "process " + std::to_string(probe.l_pid) + " (" + command + ")";
  }
  if (fd >= 0) close(fd);
  throw std::runtime_error(what + " waited " + std::to_string(kLockDeadline.count()) +
                           " s; the database lock " + lock_file + " is held by " + holder);
}

// One connection to the events database, under the daemon's lock file when
// asked.
struct Session {
  Session(const SandboxRoot &root, bool lock)
      : lock_fd(lock ? open(root.path("tmp/syscore.fl").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)
                     : -1) {
    if (lock_fd >= 0 &&
        !sandbox_wait_until([&] { return lockf(lock_fd, F_TLOCK, 0) == 0; }, kLockDeadline)) {
      close(lock_fd);
      fail_on_lock(root.path("tmp/syscore.fl"), "the test's database session");
    }
    EXPECT_EQ(sqlite3_open(root.path("etc/events.sqlite3").c_str(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 10000);
  }
  ~Session() {
    sqlite3_close(db);
    if (lock_fd >= 0) close(lock_fd);
  }
  int lock_fd;
  sqlite3 *db = nullptr;
};

constexpr char kDefinitions[] =
    "insert into eventlist(eventid,eventname,type,enablerecord,emailnotify,smsnotify,snmpnotify,"
    "subject,prompt,context_en) values"
    "(100,'port','port','no','yes','on','1','Port ${port} ${state}','check the cable',"
    "'Port ${port} is ${state}'),"
    "(101,'probe','test','no','yes','no','no','last=${last}','','len=${len}'),"
    "(102,'silent','test','no','no','','NO','quiet','',''),"
    "(103,'text','test','no','no','yes','no','sms ${x}','','sms ${x}'),"
    "(4013,'login','user','yes','yes','no','no','Login ${user}','','User ${user} logged in'),"
    "(4019,'start','system','yes','yes','yes','yes','Service started','','Start after boot'),"
    "(4020,'reboot','system','yes','yes','yes','yes','Device rebooted','','Start after reboot');";

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
  for (const char *sub : {"etc", "tmp"}) {
    if (dirs) mkdir(path(sub).c_str(), 0755);
  }
  const char *saved = std::getenv("ALERTMILL_ROOT");
  had_root_ = saved != nullptr;
  if (had_root_) saved_root_ = saved;
  setenv("ALERTMILL_ROOT", dir_.c_str(), 1);
  // Children find the stand-ins first, programs and library alike.
  for (const char *variable : {"PATH", "LD_LIBRARY_PATH"}) {
    std::string dev = sandbox_dev_dir(), current = env_or(variable, "");
    if (current.rfind(dev, 0) != 0) {
      setenv(variable, (current.empty() ? dev : dev + ":" + current).c_str(), 1);
    }
  }
}

SandboxRoot::~SandboxRoot() {
  daemons_.clear();
  agent_.stop();
  had_root_ ? setenv("ALERTMILL_ROOT", saved_root_.c_str(), 1) : unsetenv("ALERTMILL_ROOT");
  std::error_code ignored;
  if (!::testing::Test::HasFailure()) std::filesystem::remove_all(dir_, ignored);
  if (::testing::Test::HasFailure()) std::fprintf(stderr, "sandbox kept: %s\n", dir_.c_str());
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
  std::vector<std::vector<std::string>> messages;
  for (const std::string &line : split(read("ubus.messages"), '\n')) {
    // Tabs inside the fields are escaped: a raw one separates them.
    messages.push_back(split(line + '\t', '\t'));
    for (std::string &field : messages.back()) field = unescape(field);
  }
  return messages;
}

int SandboxRoot::exec(const std::string &sql) const {
  Session session(*this, !daemons_.empty());
  return sqlite3_exec(session.db, sql.c_str(), nullptr, nullptr, nullptr);
}

std::vector<std::vector<std::string>> SandboxRoot::rows(const std::string &sql) const {
  std::vector<std::vector<std::string>> table;
  Session session(*this, !daemons_.empty());
  sqlite3_stmt *statement = nullptr;
  int result = sqlite3_prepare_v2(session.db, sql.c_str(), -1, &statement, nullptr);
  EXPECT_EQ(result, SQLITE_OK) << sql << ": " << sqlite3_errmsg(session.db);
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
  std::string program = sandbox_dev_dir() + "/snmp-mib";
  if (!agent_.running()) agent_.start(dir_, "", program, {program});
}

void SandboxRoot::prepare_service() const {
  mkdir(path("etc/quagga").c_str(), 0755);
  for (const auto &[file, content] : {std::pair{"hostname", "gw-test\n"},
                                      {"serial", "SN-0042\n"},
                                      {"etc/alarm_email_group", "7\n"},
                                      {"etc/alarm_sms_group", "3\n"},
                                      {"tmp/.reboot_flag", ""}}) {
    write(file, content);
  }
  create_event_tables();
  EXPECT_EQ(exec(kDefinitions), SQLITE_OK);
}

std::string SandboxRoot::add_pending(int eventid, const std::string &context,
                                     const std::string &happentime, int notifyflag) const {
  EXPECT_EQ(exec("insert into eventlogcache(eventid,notifyflag,context,happentime) values(" +
                 std::to_string(eventid) + ",'" + std::to_string(notifyflag) + "','" + context +
                 "','" + happentime + "');"),
            SQLITE_OK);
  return value("select max(id) from eventlogcache;");
}

SandboxProcess &SandboxRoot::start_daemon(bool wait_bound) {
  sandbox_own_network();
  std::string program = bin_dir() + "/alertmill";
  daemons_.push_back(std::make_unique<SandboxProcess>());
  daemons_.back()->start(dir_, "daemon" + std::to_string(daemons_.size() - 1), program, {program});
  // The channels' start line follows the bind: no datagram is lost after it.
  EXPECT_TRUE(!wait_bound || sandbox_wait_until([&] {
    return daemon_out().find("notifymethodcounts") != std::string::npos;
  })) << "the daemon did not start";
  return *daemons_.back();
}

std::string SandboxRoot::daemon_out() const {
  return read("daemon" + std::to_string(daemons_.size() - 1) + ".out");
}

SandboxRoot::Run SandboxRoot::eventadd(const std::vector<std::string> &args,
                                       const std::vector<std::string> &wrapper) const {
  std::string program = bin_dir() + "/eventadd";
  std::vector<std::string> argv = wrapper;
  argv.push_back(wrapper.empty() ? "eventadd" : program);
  argv.insert(argv.end(), args.begin(), args.end());
  SandboxProcess process;
  process.start(dir_, "eventadd", wrapper.empty() ? program : wrapper[0], argv);
  // eventadd waits for the database lock as long as it is held.
  if (!sandbox_wait_until([&] { return !process.running(); }, kLockDeadline)) {
    fail_on_lock(path("tmp/syscore.fl"), "eventadd");
  }
  int status = process.wait();
  return {status, read("eventadd.out"), read("eventadd.err")};
}

void SandboxProcess::start(const std::string &root, const std::string &name,
                           const std::string &program, const std::vector<std::string> &argv) {
  stop();
  std::vector<std::string> args = argv;
  std::vector<char *> arg_list;
  for (std::string &arg : args) arg_list.push_back(arg.data());
  arg_list.push_back(nullptr);
  std::string out = name.empty() ? "/dev/null" : root + "/" + name + ".out";
  std::string err = name.empty() ? "/dev/null" : root + "/" + name + ".err";
  pid_t parent = getpid();
  // The write end closes at exec: end of file says the program replaced the
  // copy, an errno written says exec failed. /proc's cmdline cannot tell: a
  // program run by qemu-arm shows the emulator's command line there.
  int exec_pipe[2];
  ASSERT_EQ(pipe2(exec_pipe, O_CLOEXEC), 0) << std::strerror(errno);
  pid_ = fork();
  if (pid_ == 0) {
    // Only async-signal-safe calls between fork and exec.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The programs must not depend on the SIGCHLD they inherit: give them
    // the worst, ignored (which exec keeps).
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGCHLD, &ignore, nullptr);
    // dup2 clears close-on-exec on 0-2 only: nothing else leaks into the program.
    int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    int out_fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int err_fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (getppid() != parent || chdir(root.c_str()) != 0 || in < 0 || out_fd < 0 || err_fd < 0 ||
        dup2(in, 0) < 0 || dup2(out_fd, 1) < 0 || dup2(err_fd, 2) < 0) {
      _exit(127);
    }
    execv(program.c_str(), arg_list.data());
    int error = errno;
    if (write(exec_pipe[1], &error, sizeof error) < 0) _exit(126);
    _exit(127);
  }
  int fork_error = errno;
  close(exec_pipe[1]);
  ended_ = false;
  pollfd exec_end{exec_pipe[0], POLLIN, 0};
  bool ended = pid_ > 0 && sandbox_wait_until([&] { return poll(&exec_end, 1, 0) > 0; });
  int exec_error = 0;
  bool failed = ended && read(exec_pipe[0], &exec_error, sizeof exec_error) > 0;
  close(exec_pipe[0]);
  ASSERT_GT(pid_, 0) << std::strerror(fork_error);
  ASSERT_TRUE(ended) << program << " neither ran nor ended";
  EXPECT_FALSE(failed) << program << ": " << std::strerror(exec_error);
}

bool SandboxProcess::running() {
  if (pid_ <= 0 || ended_) return false;
  int status;
  if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
  ended_ = true;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  return false;
}

int SandboxProcess::wait() {
  EXPECT_TRUE(sandbox_wait_until([&] { return !running(); }));
  return status_;
}

void SandboxProcess::stop() {
  if (running()) kill(pid_, SIGKILL);
  wait();
}

bool sandbox_own_network() {
  static const bool own = [] {
    if (geteuid() == 0 && unshare(CLONE_NEWNET) == 0) {
      int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
      ifreq request{};
      std::snprintf(request.ifr_name, sizeof request.ifr_name, "lo");
      ioctl(fd, SIOCGIFFLAGS, &request);
      request.ifr_flags |= IFF_UP | IFF_RUNNING;
      EXPECT_EQ(ioctl(fd, SIOCSIFFLAGS, &request), 0) << "loopback: " << std::strerror(errno);
      close(fd);
      return true;
    }
    // Held until the program ends.
    int lock = open("/tmp/alertmill-service-tests.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (lock >= 0) flock(lock, LOCK_EX);
    return false;
  }();
  return own;
}

void sandbox_send(const std::string &bytes, int sender) {
  static std::map<int, int> sockets;
  if (sockets.count(sender) == 0) sockets[sender] = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const int fd = sockets[sender];
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(9001);
  to.sin_addr.s_addr = inet_addr("127.0.0.1");
  ssize_t sent =
      sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
  EXPECT_EQ(sent, static_cast<ssize_t>(bytes.size())) << std::strerror(errno);
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
