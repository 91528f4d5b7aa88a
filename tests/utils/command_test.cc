#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
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
  for (ssize_t n; fd >= 0 && (n = read(fd, chunk, sizeof chunk)) > 0;)
    text.append(chunk, size_t(n));
  if (fd >= 0) close(fd);
  return text;
}

// Runs body in a forked child; wait() gives its exit status and what it
// wrote to standard output and error.
class Child {
 public:
  explicit Child(const std::function<int()> &body) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
    if ((pid_ = fork()) == 0) {
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
  std::string wait() {
    const std::string text = drain(out_) + "|" + drain(err_);
    int status = 0;
    waitpid(pid_, &status, 0);
    return std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + "|" + text;
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
  } cases[] = {{"echo out; echo err >&2", 64, "out\n"},
               {"printf 'a\\r\\nb'", 64, "a\r\nb"},
               {"echo partial; exit 7", 64, "partial\n"},
               {letters, 512, full.substr(0, 511)},
               {letters, 1, ""},
               {"echo " + std::string(20000, 'x'), 32768, std::string(16378, 'x') + "\n"}};
  for (const auto &c : cases)
    EXPECT_EQ(run(c.command, c.size), c.output) << c.command.substr(0, 40);
  const std::pair<const char *, int> statuses[] = {{"exit 0", 0},
                                                   {"exit 258", 2},
                                                   {"no-such-command-alertmill 2>/dev/null", 127},
                                                   {"kill -9 $$", -1}};
  for (const auto &[command, status] : statuses)
    EXPECT_EQ(utils_system(command), status) << command;
  ChildCapture capture;
  capture.output = capture.error = true;
  capture.output_limit = 4;
  ChildResult child =
      utils_run_child("echo output; echo first >&2; echo second >&2; exit 3", capture);
  EXPECT_EQ(std::to_string(child.status) + child.output + "|" + child.error_line, "3outp|first");
}

// Only its output pipe, as its standard output, reaches a command.
TEST(Command, CommandsInheritNoOtherPipeEnd) {
  const std::string listing = run("ls -l /proc/$$/fd/", 8192);
  std::smatch match;
  ASSERT_TRUE(std::regex_search(listing, match, std::regex(" 1 -> (pipe:\\[\\d+\\])"))) << listing;
  size_t seen = 0;
  for (size_t at = 0; (at = listing.find(match.str(1), at)) != std::string::npos; ++at) ++seen;
  EXPECT_EQ(seen, 1u) << listing;
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
    const std::string state = drain(open(stat.c_str(), O_RDONLY | O_CLOEXEC));
    return state.empty() || state.find(") Z") != std::string::npos;
  }));
}

TEST(Command, Files) {
  SandboxRoot root(false);
  const std::string a = root.path("a"), b = root.path("b"), deep = root.path("x/y");
  EXPECT_EQ(utils_write_file(a.c_str(), "%s=%d\n", "count", 12), 0);
  EXPECT_EQ(utils_file_size(a.c_str()), 9);
  char small[5] = {};
  EXPECT_EQ(utils_read_file(a.c_str(), small, sizeof small), 0);
  EXPECT_STREQ(small, "coun");
  EXPECT_EQ(utils_read_file(b.c_str(), small, sizeof small), -2);
  EXPECT_EQ(utils_copy_file(a.c_str(), b.c_str()), 0);
  EXPECT_EQ(utils_rename_file(b.c_str(), root.path("c").c_str()), 0);
  EXPECT_EQ(root.read("c"), "count=12\n");
  EXPECT_EQ(utils_remove_file(a.c_str()) + utils_remove_file(a.c_str()), 0);  // rm -f
  EXPECT_EQ(utils_file_exists(a.c_str()), 0);
  EXPECT_EQ(utils_mkdir_p((deep + "/").c_str()), 0);
  ASSERT_EQ(symlink(root.dir().c_str(), root.path("x/link").c_str()), 0);
  EXPECT_EQ(utils_is_dir(root.path("x/link").c_str()), 0);  // links are not followed
  for (const std::string &name :
       {deep + "/f", root.path("x/.h"), deep + "/" + std::string(250, 'n')}) {
    utils_write_file(name.c_str(), "x");
  }
  static std::set<std::string> walked;  // dot names and cut paths skipped
  EXPECT_EQ(utils_walk_dir(
                root.path("x").c_str(), [](const char *path) { return walked.insert(path), 0; }, 1),
            0);
  EXPECT_EQ(walked, (std::set<std::string>{deep + "/f", root.path("x/link")}));
}

TEST(Command, ProcessesAreCountedInTheListing) {
  SandboxRoot root;  // the stand-in ps first on PATH
  const char *name = "alertmill-probe-sleeper";
  const auto status = [&] { return Child([&] { return utils_print_runstatus(name), 0; }).wait(); };
  EXPECT_EQ(utils_process_running(name) + utils_process_listed(name), 0);
  EXPECT_EQ(status(), "0|<runstatus>\n\t<result>0</result>\n</runstatus>\n|");
  const pid_t sleeper = fork();
  if (sleeper == 0) execl("/bin/sleep", name, "30", static_cast<char *>(nullptr)), _exit(1);
  ASSERT_TRUE(sandbox_wait_until([&] { return utils_process_listed(name) == 1; }));
  EXPECT_EQ(utils_process_running(name), 1);
  EXPECT_EQ(status(), "0|<runstatus>\n\t<result>1</result>\n</runstatus>\n|");
  kill(sleeper, SIGKILL);
  waitpid(sleeper, nullptr, 0);
}

void put(std::string *out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

// A GSM 6.10 WAV header, with a fact chunk or not, one field changed.
std::string wav(bool fact, int field = -1, uint32_t value = 0) {
  const uint32_t fields[] = {0x46464952, 1000, 0x45564157, 0x20746d66, 20, 49, 1,
                             8000,       1625, 65,         0,          2,  320};
  const int widths[] = {4, 4, 4, 4, 4, 2, 2, 4, 4, 2, 2, 2, 2};
  std::string out;
  for (int i = 0; i < 13; ++i) put(&out, i == field ? value : fields[i], widths[i]);
  if (fact) out += std::string("fact\4\0\0\0\x80\x3e\0\0", 12);
  return out + (field == 13 ? "LIST" : "data") + std::string("\x8a\2\0\0", 4);
}

TEST(Misc, GsmWavHeadersNumericEntriesAndRandomTexts) {
  SandboxRoot root(false);
  const auto is_gsm = [&](const std::string &bytes) {
    root.write("x.wav", bytes);
    return utils_wav_is_gsm(root.path("x.wav").c_str());
  };
  EXPECT_EQ(is_gsm(wav(false)) + is_gsm(wav(true)), 2);
  const std::pair<int, uint32_t> variants[] = {
      {0, 0x58464952}, {2, 0x20495641}, {4, 16}, {5, 1}, {5, 49 << 8}, {6, 2}, {7, 16000}, {13, 0}};
  for (const auto &[field, value] : variants)
    EXPECT_EQ(is_gsm(wav(false, field, value)), 0) << field;
  for (size_t length = 0; length < wav(true).size(); ++length) {
    ASSERT_EQ(is_gsm(wav(true).substr(0, length)), 0) << length;
  }
  ASSERT_EQ(mkfifo(root.path("fifo").c_str(), 0600), 0);
  EXPECT_EQ(utils_wav_is_gsm(root.path("fifo").c_str()), 0);  // must not block
  for (const char *name : {"1abc", "22", "x1", ".5"}) root.write(name, "");
  EXPECT_EQ(utils_count_numeric_entries(root.dir().c_str()), 2);
  char text[80], out[13] = "############";
  EXPECT_TRUE(
      std::regex_match(utils_gen_randstr(text, sizeof text), std::regex("[A-Za-z0-9]{5,61}")));
  ASSERT_EQ(utils_gen_alnum(out, 11), 0);
  EXPECT_TRUE(std::regex_match(out, std::regex("[a-zA-WYZ0-9]{11}#"))) << out;
}

TEST(Misc, PidFileLockKeepsASecondDaemonOut) {
  SandboxRoot root;
  const std::string pidfile = root.path("daemon.pid");
  root.write("daemon.pid", "123456789 stale contents\n");
  int go[2];
  ASSERT_EQ(pipe2(go, O_CLOEXEC), 0);
  Child holder([&] {
    close(go[1]);
    char byte;
    return utils_pidfile_lock(pidfile.c_str()) == getpid() ? int(read(go[0], &byte, 1)) : 2;
  });
  close(go[0]);
  const std::string pid = std::to_string(holder.pid()) + "\n";
  EXPECT_TRUE(sandbox_wait_until([&] { return root.read("daemon.pid") == pid; }));
  EXPECT_EQ(Child([&] { return utils_pidfile_lock(pidfile.c_str()) > 0 ? 0 : 5; }).wait(),
            "1||Could not lock pid_file " + pidfile + ", exiting\n");
  close(go[1]);
  EXPECT_EQ(holder.wait(), "0||");
  EXPECT_EQ(Child([&] { return utils_pidfile_lock(pidfile.c_str()) == getpid() ? 0 : 6; }).wait(),
            "0||");
  const std::string missing = root.path("no/dir.pid");
  EXPECT_EQ(Child([&] { return utils_pidfile_lock(missing.c_str()), 0; }).wait(),
            "1||Can't create pid lock file " + missing + " (No such file or directory), exiting\n");
}

TEST(Log, ConsoleLinesByLevelAndTimestamps) {
  const std::pair<int, const char *> cases[] = {
      {kLogMaskDebug, "0|\033[1;32;40mutils(f) 4 [DEBUG] : \033[0mv=7\n|"},
      {32, "0|\033[1;32;40mutils(f) 4 [UNKNOWN] : \033[0mv=7\n|"},
      {kLogMaskInfo, "0||\033[1;31;40mutils(f) 4 [INFO] : \033[0mv=7\n"},
      {kLogMaskNotice, "0||\033[1;31;40mutils(f) 4 [NOTICE] : \033[0mv=7\n"},
      {kLogMaskWarning, "0||\033[1;31;40mutils(f) 4 [WARNING] : \033[0mv=7\n"},
      {kLogMaskError, "0||\033[1;31;40mutils(f) 4 [ERROR] : \033[0mv=7\n"},
      {3, "0||\033[1;31;40mutils(f) 4 [UNKNOWN] : \033[0mv=7\n"}};
  for (const auto &[level, lines] : cases) {
    EXPECT_EQ(
        Child([&] { return utils_log_write("src/utils", 4, "f", level, "v=%d", 7), 0; }).wait(),
        lines);
  }
  for (;;) {
    const time_t now = time(nullptr);
    const std::string compact = utils_log_timestamp(1),
                      stamps = compact + " " + utils_log_timestamp(0);
    if (time(nullptr) != now) continue;
    struct tm local = {};
    char expected[64];
    strftime(expected, sizeof expected, "%Y%m%d_%H%M%S %Y-%m-%d %H:%M:%S",
             localtime_r(&now, &local));
    EXPECT_EQ(stamps, expected);
    break;
  }
}

TEST(Log, LinesGoToTheFileWithWholeSourceName) {
  SandboxRoot root;
  EXPECT_EQ(utils_log_set_file(root.path("no/x.log").c_str()), -1);
  ASSERT_EQ(utils_log_set_file(root.path("alertmill.log").c_str()), 0);
  EXPECT_EQ(Child([] {
              utils_log_write("src/utils", 42, "f", kLogMaskDebug, "n=%d", 1);
              return utils_system("ls -l /proc/$$/fd/ | grep -c alertmill.log");
            }).wait(),
            "1|0\n|");  // commands do not inherit the file
  EXPECT_TRUE(std::regex_match(root.read("alertmill.log"),
                               std::regex("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\[DEBUG\\]: "
                                          "src/utils\\(f\\) 42 \\[DEBUG\\] : n=1\n")));
}

}  // namespace
