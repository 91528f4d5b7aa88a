#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/support/sandbox_root.h"
#include "utils/utils.h"

namespace {

std::string run(const std::string &command, size_t size) {
  std::vector<char> output(size + 16, 'Z');
  EXPECT_EQ(utils_run_command(output.data(), int(size), "%s", command.c_str()), 0);
  for (size_t i = size; i < output.size(); ++i) EXPECT_EQ(output[i], 'Z') << "past the buffer";
  return std::string(output.data(), strnlen(output.data(), size));
}

std::string drain(int fd) {
  std::string text;
  char chunk[4096];
  for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;) text.append(chunk, size_t(n));
  close(fd);
  return text;
}

// Runs body in a forked child whose standard output and error are kept.
class Child {
 public:
  explicit Child(const std::function<int()> &body) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      dup2(err[1], STDERR_FILENO);
      const int status = body();
      std::fflush(nullptr);
      _exit(status);
    }
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
  }
  pid_t pid() const { return pid_; }
  struct Result {
    int status = -1;
    std::string out, err;
  };
  Result wait() {
    Result result{-1, drain(out_), drain(err_)};
    int status = 0;
    if (waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status)) result.status = WEXITSTATUS(status);
    return result;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
};

TEST(Command, OutputStatusAndCuts) {
  const std::string letters =
      "awk 'BEGIN { for (i = 0; i < 2000; i++) printf \"%c\", 65 + i % 26 }'";
  const std::string full = run(letters, 4096);
  ASSERT_EQ(full.size(), 2000u);
  const struct {
    std::string command;
    size_t size;
    std::string output;
  } cases[] = {
      {"echo out; echo err >&2", 64, "out\n"},  // standard output only
      {"printf 'a\\r\\nb'", 64, "a\r\nb"},
      {"echo partial; exit 7", 64, "partial\n"},
      {"no-such-command-alertmill 2>/dev/null", 64, ""},
      {letters, 512, full.substr(0, 511)},
      {letters, 1, ""},
      {"echo " + std::string(20000, 'x'), 32768, std::string(16383 - 5, 'x') + "\n"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(run(c.command, c.size), c.output) << c.command.substr(0, 40);
  const std::pair<const char *, int> statuses[] = {
      {"exit 0", 0},      {"exit 255", 255},
      {"exit 258", 2},    {"no-such-command-alertmill 2>/dev/null", 127},
      {"kill -9 $$", -1}, {"kill -TERM $$; sleep 5", -1}};
  for (const auto &[command, status] : statuses)
    EXPECT_EQ(utils_system(command), status) << command;
  SandboxRoot root;
  EXPECT_EQ(utils_run_command(nullptr, 0, "touch '%s'; exit 3", root.path("ran").c_str()), 0);
  EXPECT_TRUE(root.exists("ran"));
}

TEST(Command, CommandsInheritNoPipeButTheirOutput) {
  const std::string listing = run("ls -l /proc/$$/fd/", 8192);
  std::smatch match;
  ASSERT_TRUE(std::regex_search(listing, match, std::regex(" 1 -> (pipe:\\[\\d+\\])"))) << listing;
  size_t seen = 0;
  for (size_t at = 0; (at = listing.find(match.str(1), at)) != std::string::npos; ++at) ++seen;
  EXPECT_EQ(seen, 1u) << listing;
}

TEST(Command, RunsOnTheSmsWorkerStack) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 204800);
  pthread_t thread;
  static char text[64];
  auto body = [](void *) -> void * {
    utils_run_command(text, sizeof text, "echo %s", "small stack");
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, body, nullptr), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
  EXPECT_STREQ(text, "small stack\n");
}

TEST(Command, ChildKeepsStatusOutputAndFirstErrorLine) {
  ChildCapture capture;
  capture.output = true;
  capture.output_limit = 4;
  capture.error = true;
  ChildResult run =
      utils_run_child("echo output; echo first >&2; echo second >&2; exit 3", capture);
  EXPECT_TRUE(run.started && !run.timed_out);
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.output, "outp");
  EXPECT_EQ(run.error_line, "first");
  EXPECT_EQ(utils_first_line("\ntwo"), "");
}

TEST(Command, AtTheTimeLimitTheWholeGroupIsKilled) {
  SandboxRoot root;
  const std::pair<const char *, int> limits[] = {{"5", 5}, {"0", 60}, {"600", 60}, {"x", 60}};
  for (const auto &[wanted, limit] : limits) {
    setenv("ALERTMILL_CHILD_TIME_LIMIT", wanted, 1);
    EXPECT_EQ(utils_child_time_limit(), limit) << wanted;
  }
  setenv("ALERTMILL_CHILD_TIME_LIMIT", "1", 1);
  ChildCapture capture;
  capture.output = true;
  capture.output_limit = 64;
  const ChildResult run = utils_run_child(
      ("sleep 300 & echo $! > '" + root.path("pid") + "'; echo started; wait").c_str(), capture);
  unsetenv("ALERTMILL_CHILD_TIME_LIMIT");
  EXPECT_TRUE(run.timed_out);
  EXPECT_EQ(run.status, -1);
  EXPECT_EQ(run.output, "started\n");
  // The shell's own child goes too (gone, or a zombie left to init).
  const std::string stat = "/proc/" + utils_first_line(root.read("pid")) + "/stat";
  EXPECT_TRUE(sandbox_wait_until([&] {
    const int fd = open(stat.c_str(), O_RDONLY | O_CLOEXEC);
    const std::string state = fd < 0 ? "" : drain(fd);
    return state.empty() || state.find(") Z") != std::string::npos;
  }));
}

TEST(Command, Files) {
  SandboxRoot root;
  const std::string a = root.path("a"), b = root.path("b"), c = root.path("c");
  EXPECT_EQ(utils_file_size(a.c_str()), -1);
  EXPECT_EQ(utils_write_file(a.c_str(), "%s=%d\n", "count", 12), 0);
  EXPECT_EQ(utils_file_size(a.c_str()), 9);
  char small[5] = {};
  EXPECT_EQ(utils_read_file(a.c_str(), small, sizeof small), 0);
  EXPECT_STREQ(small, "coun");
  EXPECT_EQ(utils_read_file(b.c_str(), small, sizeof small), -2);
  EXPECT_EQ(utils_write_file(root.path("no/dir").c_str(), "x"), -2);
  EXPECT_EQ(utils_write_file(a.c_str(), "payload"), 0);
  EXPECT_EQ(utils_copy_file(a.c_str(), b.c_str()), 0);
  EXPECT_EQ(utils_copy_file(c.c_str(), b.c_str()), -1);
  EXPECT_EQ(utils_rename_file(b.c_str(), c.c_str()), 0);
  EXPECT_EQ(utils_rename_file(b.c_str(), c.c_str()), -1);
  EXPECT_EQ(root.read("c"), "payload");
  EXPECT_EQ(utils_remove_file(c.c_str()), 0);
  EXPECT_EQ(utils_remove_file(c.c_str()), 0);  // rm -f
  EXPECT_EQ(utils_file_exists(c.c_str()), 0);
  EXPECT_EQ(utils_remove_file(root.dir().c_str()), -1);
  ASSERT_EQ(symlink(root.dir().c_str(), root.path("link").c_str()), 0);
  EXPECT_EQ(utils_is_dir(root.path("link").c_str()), 0);  // links are not followed
  EXPECT_EQ(utils_mkdir_p(root.path("x/y/").c_str()), 0);
  EXPECT_EQ(utils_mkdir_p(root.path("a/d").c_str()), 0);  // a file in the way stays
  EXPECT_EQ(utils_is_dir(root.path("x/y").c_str()), 1);
  // Walking skips dot names and entries whose path would be cut.
  std::string deep = root.path("x");
  while (deep.size() < 250) deep += "/" + std::string(std::min<size_t>(40, 249 - deep.size()), 'd');
  ASSERT_EQ(utils_mkdir_p(deep.c_str()), 0);
  for (const std::string &name :
       {root.path("x/y/f"), root.path("x/.h"), deep + "/ok", deep + "/long-name"}) {
    ASSERT_EQ(utils_write_file(name.c_str(), "x"), 0);
  }
  static std::set<std::string> walked;
  const auto collect = [](const char *path) { return walked.insert(path), 0; };
  EXPECT_EQ(utils_walk_dir(root.path("x").c_str(), collect, 0), 0);
  EXPECT_EQ(walked,
            (std::set<std::string>{root.path("x/y"), deep.substr(0, root.path("x").size() + 41)}));
  walked.clear();
  EXPECT_EQ(utils_walk_dir(root.path("x").c_str(), collect, 1), 0);
  EXPECT_EQ(walked, (std::set<std::string>{root.path("x/y/f"), deep + "/ok"}));
}

TEST(Command, ProcessesAreCountedInTheListing) {
  SandboxRoot root;  // the stand-in ps first on PATH
  const char *name = "alertmill-probe-sleeper";
  const auto status = [&] {
    return Child([&] { return utils_print_runstatus(name), 0; }).wait().out;
  };
  EXPECT_EQ(utils_process_running(name), 0);
  EXPECT_EQ(utils_process_listed(name), 0);
  EXPECT_EQ(status(), "<runstatus>\n\t<result>0</result>\n</runstatus>\n");
  const pid_t sleeper = fork();
  if (sleeper == 0) execl("/bin/sleep", name, "30", static_cast<char *>(nullptr)), _exit(1);
  ASSERT_TRUE(sandbox_wait_until([&] { return utils_process_listed(name) == 1; }));
  EXPECT_EQ(utils_process_running(name), 1);
  EXPECT_EQ(status(), "<runstatus>\n\t<result>1</result>\n</runstatus>\n");
  kill(sleeper, SIGKILL);
  waitpid(sleeper, nullptr, 0);
  EXPECT_EQ(utils_process_running(name), 0);
}

// ---- WAV, directories, pid file, random texts ----

void put(std::string *out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

// A GSM 6.10 WAV header; change(field) may replace one field.
std::string wav(const std::function<void(const char *, std::string *)> &change, bool fact = false) {
  std::string out;
  const auto field = [&](const char *name, std::string value) {
    change(name, &value);
    out += value;
  };
  const auto num = [](uint32_t v, int bytes) {
    std::string s;
    put(&s, v, bytes);
    return s;
  };
  field("riff", "RIFF");
  out += num(1000, 4);
  field("wave", "WAVE");
  field("fmt", "fmt ");
  field("fmt size", num(20, 4));
  field("format", num(49, 2));
  field("channels", num(1, 2));
  field("rate", num(8000, 4));
  out += num(1625, 4) + num(65, 2) + num(0, 2) + num(2, 2) + num(320, 2);
  if (fact) out += "fact" + num(4, 4) + num(16000, 4);
  field("data", "data");
  return out + num(650, 4);
}

TEST(Misc, GsmWavHeaders) {
  SandboxRoot root;
  const auto same = [](const char *, std::string *) {};
  const auto is_gsm = [&](const std::string &bytes) {
    root.write("x.wav", bytes);
    return utils_wav_is_gsm(root.path("x.wav").c_str());
  };
  EXPECT_EQ(is_gsm(wav(same)), 1);
  EXPECT_EQ(is_gsm(wav(same, true)), 1);
  const std::pair<const char *, std::string> variants[] = {
      {"riff", "RIFX"},
      {"wave", "AVI "},
      {"fmt", "fmt\t"},
      {"fmt size", std::string("\x10\0\0\0", 4)},
      {"format", std::string("\x01\0", 2)},
      {"format", std::string("\0\x31", 2)},
      {"channels", std::string("\x02\0", 2)},
      {"rate", std::string("\x80\x3e\0\0", 4)},
      {"data", "LIST"}};
  for (const auto &[name, value] : variants) {
    EXPECT_EQ(is_gsm(wav([&](const char *f, std::string *v) {
                if (name == std::string(f)) *v = value;
              })),
              0)
        << name;
  }
  for (bool fact : {false, true}) {
    const std::string whole = wav(same, fact);
    for (size_t length = 0; length < whole.size(); ++length)
      ASSERT_EQ(is_gsm(whole.substr(0, length)), 0) << length;
  }
  ASSERT_EQ(mkfifo(root.path("fifo.wav").c_str(), 0600), 0);
  EXPECT_EQ(utils_wav_is_gsm(root.path("fifo.wav").c_str()), 0);  // must not block
  EXPECT_EQ(utils_wav_is_gsm(root.dir().c_str()), 0);
}

TEST(Misc, NumericEntriesAndDiskSpace) {
  SandboxRoot root(false);
  for (const char *name : {"1abc", "22", "x1", ".5", "-3"}) root.write(name, "");
  ASSERT_EQ(mkdir(root.path("9dir").c_str(), 0700), 0);
  EXPECT_EQ(utils_count_numeric_entries(root.dir().c_str()), 3);
  EXPECT_EQ(utils_count_numeric_entries(root.path("22").c_str()), 0);
  uint64_t free_mib = 0, available_mib = 0;
  ASSERT_EQ(utils_disk_space(root.dir().c_str(), &free_mib, &available_mib), 0);
  struct statvfs fs;
  ASSERT_EQ(statvfs(root.dir().c_str(), &fs), 0);
  EXPECT_NEAR(double(free_mib), double(fs.f_bfree) * fs.f_frsize / 1048576.0, 64.0);
  EXPECT_NEAR(double(available_mib), double(fs.f_bavail) * fs.f_frsize / 1048576.0, 64.0);
  EXPECT_EQ(utils_disk_space(root.path("missing").c_str(), &free_mib, &available_mib), -1);
}

TEST(Misc, PidFileLockKeepsASecondDaemonOut) {
  SandboxRoot root;
  const std::string pidfile = root.path("daemon.pid");
  root.write("daemon.pid", "123456789 stale contents\n");
  int go[2];
  ASSERT_EQ(pipe2(go, O_CLOEXEC), 0);
  Child holder([&] {
    umask(0);
    if (utils_pidfile_lock(pidfile.c_str()) != getpid() || umask(0) != 0) return 2;
    close(go[1]);
    char byte;
    return int(read(go[0], &byte, 1));
  });
  close(go[0]);
  EXPECT_TRUE(sandbox_wait_until(
      [&] { return root.read("daemon.pid") == std::to_string(holder.pid()) + "\n"; }));
  const auto second = Child([&] { return utils_pidfile_lock(pidfile.c_str()) > 0 ? 0 : 5; }).wait();
  EXPECT_EQ(second.status, 1);
  EXPECT_EQ(second.err, "Could not lock pid_file " + pidfile + ", exiting\n");
  close(go[1]);
  EXPECT_EQ(holder.wait().status, 0);
  Child third([&] { return utils_pidfile_lock(pidfile.c_str()) == getpid() ? 0 : 6; });
  EXPECT_EQ(third.wait().status, 0);  // free once the holder is gone
  const std::string missing = root.path("no/dir.pid");
  EXPECT_EQ(Child([&] { return utils_pidfile_lock(missing.c_str()), 0; }).wait().err,
            "Can't create pid lock file " + missing + " (No such file or directory), exiting\n");
}

TEST(Misc, RandomTexts) {
  for (;;) {  // until two calls fall in one second, which reseeds them alike
    const time_t before = std::time(nullptr);
    char hexid[40], again[40], text[80];
    utils_gen_hexid(hexid, sizeof hexid);
    utils_gen_hexid(again, sizeof again);
    std::memset(text, 'x', sizeof text);
    utils_gen_randstr(text, sizeof text);
    if (std::time(nullptr) != before) continue;
    EXPECT_STREQ(hexid, again);
    std::srand(unsigned(before));
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(std::stoul(std::string(hexid + 8 * i, 8), nullptr, 16), unsigned(rand()));
    std::srand(unsigned(before));
    EXPECT_EQ(std::strlen(text), size_t((rand() % 128 + 1) % 57 + 5));
    EXPECT_TRUE(std::regex_match(text, std::regex("[A-Za-z0-9]+"))) << text;
    break;
  }
  char out[13];
  std::memset(out, '#', sizeof out);
  ASSERT_EQ(utils_gen_alnum(out, 12), 0);
  EXPECT_TRUE(std::regex_match(std::string(out, 13), std::regex("[a-zA-WYZ0-9]{12}#")));
}

// ---- Log lines ----

TEST(Log, ConsoleLinesByLevel) {
  const struct {
    int level;
    const char *file;
    const char *out, *err;
  } cases[] = {
      {kLogMaskDebug, "src/util/utils", "\033[1;32;40mutils(probe) 42 [DEBUG] : \033[0mv=7\n", ""},
      {32, "src/util/utils", "\033[1;32;40mutils(probe) 42 [UNKNOWN] : \033[0mv=7\n", ""},
      {kLogMaskInfo, "utils", "", "\033[1;31;40mutils(probe) 42 [INFO] : \033[0mv=7\n"},
      {kLogMaskNotice, "a/utils", "", "\033[1;31;40mutils(probe) 42 [NOTICE] : \033[0mv=7\n"},
      {kLogMaskWarning, "a/utils", "", "\033[1;31;40mutils(probe) 42 [WARNING] : \033[0mv=7\n"},
      {kLogMaskError, "dir/", "", "\033[1;31;40m(probe) 42 [ERROR] : \033[0mv=7\n"},
      {3, "a/utils", "", "\033[1;31;40mutils(probe) 42 [UNKNOWN] : \033[0mv=7\n"},
  };
  for (const auto &c : cases) {
    const auto written =
        Child([&] { return utils_log_write(c.file, 42, "probe", c.level, "v=%d", 7), 0; }).wait();
    EXPECT_EQ(written.out, c.out) << c.level;
    EXPECT_EQ(written.err, c.err) << c.level;
  }
}

TEST(Log, TimestampsAreLocalTime) {
  for (;;) {
    const time_t now = time(nullptr);
    const std::string compact = utils_log_timestamp(1), full = utils_log_timestamp(0);
    if (time(nullptr) != now) continue;
    struct tm local = {};
    localtime_r(&now, &local);
    char expected[64];
    strftime(expected, sizeof expected, "%Y%m%d_%H%M%S %Y-%m-%d %H:%M:%S", &local);
    EXPECT_EQ(compact + " " + full, expected);
    return;
  }
}

TEST(Log, LinesGoToTheFileWithWholeSourceName) {
  SandboxRoot root;
  EXPECT_EQ(utils_log_set_file(root.path("no/x.log").c_str()), -1);
  ASSERT_EQ(utils_log_set_file(root.path("alertmill.log").c_str()), 0);
  const auto written = Child([] {
                         utils_log_write("src/util/utils", 42, "probe", kLogMaskDebug, "n=%d", 1);
                         utils_log_write("src/util/utils", 43, "probe", 3, "n=%d", 2);
                         return utils_system(("ls -l /proc/$$/fd/ | grep -c alertmill.log"));
                       }).wait();
  EXPECT_EQ(written.out + written.err, "0\n");  // commands do not inherit the file
  const std::string stamp = "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d";
  const std::string text = root.read("alertmill.log");
  EXPECT_TRUE(std::regex_match(
      text,
      std::regex(stamp + " \\[DEBUG\\]: src/util/utils\\(probe\\) 42 \\[DEBUG\\] : n=1\n" + stamp +
                 " \\[UNKNOWN\\]: src/util/utils\\(probe\\) 43 \\[UNKNOWN\\] : n=2\n")))
      << text;
}

}  // namespace
