#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "utils/utils.h"

extern char **environ;

namespace {

// A fresh directory per test, removed with everything in it.
class Sandbox {
 public:
  Sandbox() {
    char name[] = "/tmp/commandtestXXXXXX";
    EXPECT_NE(mkdtemp(name), nullptr);
    path_ = name;
  }
  ~Sandbox() { utils_system(("rm -rf '" + path_ + "'").c_str()); }
  std::string operator/(const std::string &name) const { return path_ + "/" + name; }
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

std::string run(const std::string &command, int size, int *result = nullptr) {
  std::vector<char> output(static_cast<size_t>(size) + 16, 'Z');
  int ran = utils_run_command(output.data(), size, "%s", command.c_str());
  if (result != nullptr) *result = ran;
  for (size_t i = static_cast<size_t>(size); i < output.size(); ++i) {
    EXPECT_EQ(output[i], 'Z') << "written past the output buffer";
  }
  return std::string(output.data(), strnlen(output.data(), static_cast<size_t>(size)));
}

std::string contents(const std::string &path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::set<std::string> walked;
int collect(const char *path) {
  walked.insert(path);
  return 0;
}

}  // namespace

TEST(RunCommand, ReadsStandardOutputOnlyAndKeepsLineEnds) {
  int result = -9;
  EXPECT_EQ(run("echo out; echo err >&2", 64, &result), "out\n");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(run("printf 'a\\r\\nb'", 64), "a\r\nb");
}

TEST(RunCommand, CutsOutputToTheBuffer) {
  const std::string command =
      "awk 'BEGIN { for (i = 0; i < 2000; i++) printf \"%c\", 65 + i % 26 }'";
  std::string full = run(command, 4096);
  ASSERT_EQ(full.size(), 2000u);
  int result = -9;
  std::string cut = run(command, 512, &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(cut, full.substr(0, 511));
  EXPECT_EQ(run(command, 1), "");
}

TEST(RunCommand, ExitStatusDoesNotMatter) {
  int result = -9;
  EXPECT_EQ(run("true", 64, &result), "");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(run("echo partial; exit 7", 64, &result), "partial\n");
  EXPECT_EQ(result, 0);
  EXPECT_EQ(run("no-such-command-alertmill 2>/dev/null", 64, &result), "");
  EXPECT_EQ(result, 0);
}

TEST(RunCommand, WithoutBufferRunsThroughTheShell) {
  Sandbox box;
  std::string marker = box / "ran";
  EXPECT_EQ(utils_run_command(nullptr, 0, "touch '%s'; exit 3", marker.c_str()), 0);
  EXPECT_EQ(utils_file_exists(marker.c_str()), 1);
}

TEST(RunCommand, RefusesEmptyFormatAndEmptyBuffer) {
  char output[8] = "keep";
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-zero-length"
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
  // Empty and null command texts are exactly what is refused here.
  EXPECT_EQ(utils_run_command(output, sizeof output, ""), -1);
  const char *no_format = nullptr;
  EXPECT_EQ(utils_run_command(output, sizeof output, no_format), -1);
  EXPECT_EQ(utils_run_command(nullptr, 0, no_format), -1);
#pragma GCC diagnostic pop
  EXPECT_STREQ(output, "keep");
  EXPECT_EQ(utils_run_command(output, 0, "%s", "echo x"), -1);
  EXPECT_STREQ(output, "keep");
}

TEST(RunCommand, OverlongCommandRunsCut) {
  // "echo " and 20000 x's: the command is cut to 16383 characters.
  std::string xs(20000, 'x');
  std::string output = run("echo " + xs, 32768);
  EXPECT_EQ(output, std::string(16383 - 5, 'x') + "\n");
}

TEST(RunCommand, WorksOnTheSmsWorkerStack) {
  struct Result {
    std::string output;
    int status = -9;
  } result;
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 204800);
  pthread_t thread;
  auto body = [](void *argument) -> void * {
    auto *out = static_cast<Result *>(argument);
    char text[64] = {};
    utils_run_command(text, sizeof text, "echo %s", "small stack");
    out->output = text;
    out->status = utils_system("exit 4");
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, body, &result), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
  EXPECT_EQ(result.output, "small stack\n");
  EXPECT_EQ(result.status, 4);
}

TEST(System, ReturnsTheShellExitStatus) {
  EXPECT_EQ(utils_system("exit 0"), 0);
  EXPECT_EQ(utils_system("exit 2"), 2);
  EXPECT_EQ(utils_system("exit 255"), 255);
  EXPECT_EQ(utils_system("exit 258"), 2);
  EXPECT_EQ(utils_system("no-such-command-alertmill 2>/dev/null"), 127);
  EXPECT_EQ(utils_system(nullptr), -1);
}

TEST(System, DeathBySignalIsMinusOne) {
  EXPECT_EQ(utils_system("kill -9 $$"), -1);
  EXPECT_EQ(utils_system("kill -TERM $$; sleep 5"), -1);
}

TEST(RunChild, KeepsStatusOutputAndFirstErrorLine) {
  ChildCapture capture;
  capture.output = true;
  capture.output_limit = 4;
  capture.error = true;
  ChildResult run =
      utils_run_child("echo output; echo first >&2; echo second >&2; exit 3", capture);
  EXPECT_TRUE(run.started);
  EXPECT_FALSE(run.timed_out);
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.output, "outp");
  EXPECT_EQ(run.error_line, "first");
  EXPECT_FALSE(utils_run_child(nullptr, capture).started);
}

TEST(RunChild, TimeLimitIsShortenedOnlyInASandbox) {
  const std::pair<const char *, int> cases[] = {{"5", 5}, {"0", 60}, {"600", 60}, {"x", 60}};
  setenv("ALERTMILL_ROOT", "/nonexistent", 1);
  for (const auto &[wanted, limit] : cases) {
    setenv("ALERTMILL_CHILD_TIME_LIMIT", wanted, 1);
    EXPECT_EQ(utils_child_time_limit(), limit) << wanted;
  }
  unsetenv("ALERTMILL_ROOT");
  EXPECT_EQ(utils_child_time_limit(), kChildTimeLimitSeconds);
  unsetenv("ALERTMILL_CHILD_TIME_LIMIT");
}

TEST(RunChild, AtTheLimitTheWholeGroupIsKilled) {
  Sandbox box;
  setenv("ALERTMILL_ROOT", box.path().c_str(), 1);
  setenv("ALERTMILL_CHILD_TIME_LIMIT", "1", 1);
  std::string pid_file = box / "pid";
  ChildCapture capture;
  capture.output = true;
  capture.output_limit = 64;
  ChildResult run = utils_run_child(
      ("sleep 300 & echo $! > '" + pid_file + "'; echo started; wait").c_str(), capture);
  unsetenv("ALERTMILL_CHILD_TIME_LIMIT");
  unsetenv("ALERTMILL_ROOT");
  EXPECT_TRUE(run.timed_out);
  EXPECT_EQ(run.status, -1);
  EXPECT_EQ(run.output, "started\n");
  // The shell's own child goes with it (gone, or a zombie left to init);
  // the signal may take a moment to land.
  std::string stat =
      "/proc/" + contents(pid_file).substr(0, contents(pid_file).find('\n')) + "/stat";
  auto dead = [&] {
    std::string state = contents(stat);
    return state.empty() || state.find(") Z") != std::string::npos;
  };
  for (int i = 0; i < 1000 && !dead(); ++i) usleep(10000);
  EXPECT_TRUE(dead()) << contents(stat);
  EXPECT_EQ(utils_system("exit 5"), 5);
}

TEST(Files, WriteReadSizeExists) {
  Sandbox box;
  std::string path = box / "note";
  EXPECT_EQ(utils_file_exists(path.c_str()), 0);
  EXPECT_EQ(utils_file_size(path.c_str()), -1);
  EXPECT_EQ(utils_write_file(path.c_str(), "%s=%d\n", "count", 12), 0);
  EXPECT_EQ(utils_file_exists(path.c_str()), 1);
  EXPECT_EQ(utils_file_size(path.c_str()), 9);
  char buffer[32] = {};
  EXPECT_EQ(utils_read_file(path.c_str(), buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "count=12\n");
  char small[5] = {};
  EXPECT_EQ(utils_read_file(path.c_str(), small, sizeof small), 0);
  EXPECT_STREQ(small, "coun");
  // Writing again empties the file first.
  EXPECT_EQ(utils_write_file(path.c_str(), "x"), 0);
  EXPECT_EQ(contents(path), "x");
}

TEST(Files, BadPathsAndArguments) {
  Sandbox box;
  char buffer[8] = {};
  EXPECT_EQ(utils_read_file(nullptr, buffer, 8), -1);
  EXPECT_EQ(utils_read_file("", buffer, 8), -1);
  EXPECT_EQ(utils_read_file((box / "missing").c_str(), buffer, 8), -2);
  EXPECT_EQ(utils_write_file(nullptr, "x"), -1);
  EXPECT_EQ(utils_write_file("", "x"), -1);
  EXPECT_EQ(utils_write_file((box / "no/such/dir").c_str(), "x"), -2);
  EXPECT_EQ(utils_file_size(nullptr), -1);
  EXPECT_EQ(utils_file_size(""), -1);
  EXPECT_EQ(utils_file_exists(nullptr), 0);
  EXPECT_EQ(utils_file_exists(""), 0);
  EXPECT_EQ(utils_is_dir(nullptr), 0);
  EXPECT_EQ(utils_is_dir(""), 0);
  EXPECT_EQ(utils_rename_file(nullptr, "x"), -1);
  EXPECT_EQ(utils_rename_file("x", nullptr), -1);
  EXPECT_EQ(utils_copy_file(nullptr, "x"), -1);
  EXPECT_EQ(utils_copy_file("x", nullptr), -1);
  EXPECT_EQ(utils_remove_file(nullptr), -1);
  EXPECT_EQ(utils_mkdir_p(nullptr), -1);
  EXPECT_EQ(utils_mkdir_p(""), -1);
}

TEST(Files, CopyRemoveRename) {
  Sandbox box;
  std::string source = box / "a";
  std::string copy = box / "b";
  std::string renamed = box / "c";
  ASSERT_EQ(utils_write_file(source.c_str(), "payload"), 0);
  EXPECT_EQ(utils_copy_file(source.c_str(), copy.c_str()), 0);
  EXPECT_EQ(contents(copy), "payload");
  EXPECT_EQ(utils_copy_file((box / "missing").c_str(), copy.c_str()), -1);
  EXPECT_EQ(utils_rename_file(copy.c_str(), renamed.c_str()), 0);
  EXPECT_EQ(utils_file_exists(copy.c_str()), 0);
  EXPECT_EQ(contents(renamed), "payload");
  EXPECT_EQ(utils_rename_file(copy.c_str(), renamed.c_str()), -1);
  EXPECT_EQ(utils_remove_file(renamed.c_str()), 0);
  EXPECT_EQ(utils_file_exists(renamed.c_str()), 0);
  // rm -f of a missing file still reports 0; one it may not remove does not.
  EXPECT_EQ(utils_remove_file(renamed.c_str()), 0);
  EXPECT_EQ(utils_remove_file(box.path().c_str()), -1);
}

TEST(Files, IsDirDoesNotFollowLinks) {
  Sandbox box;
  std::string link = box / "link";
  ASSERT_EQ(symlink(box.path().c_str(), link.c_str()), 0);
  EXPECT_EQ(utils_is_dir(box.path().c_str()), 1);
  EXPECT_EQ(utils_is_dir(link.c_str()), 0);
  EXPECT_EQ(utils_file_exists(link.c_str()), 1);
  ASSERT_EQ(utils_write_file((box / "f").c_str(), "x"), 0);
  EXPECT_EQ(utils_is_dir((box / "f").c_str()), 0);
}

TEST(Files, MkdirCreatesEveryMissingLevel) {
  Sandbox box;
  ASSERT_EQ(mkdir((box / "a").c_str(), 0700), 0);
  EXPECT_EQ(utils_mkdir_p((box / "a/b/c").c_str()), 0);
  EXPECT_EQ(utils_is_dir((box / "a/b/c").c_str()), 1);
  EXPECT_EQ(utils_mkdir_p((box / "x/y/").c_str()), 0);
  EXPECT_EQ(utils_is_dir((box / "x/y").c_str()), 1);
  // Relative paths start from the working directory.
  char *previous = getcwd(nullptr, 0);
  ASSERT_EQ(chdir(box.path().c_str()), 0);
  EXPECT_EQ(utils_mkdir_p("r/s"), 0);
  ASSERT_EQ(chdir(previous), 0);
  std::free(previous);
  EXPECT_EQ(utils_is_dir((box / "r/s").c_str()), 1);
  // A file in the way is not replaced, and that is not reported.
  ASSERT_EQ(utils_write_file((box / "file").c_str(), "x"), 0);
  EXPECT_EQ(utils_mkdir_p((box / "file/d").c_str()), 0);
  EXPECT_EQ(utils_is_dir((box / "file").c_str()), 0);
}

TEST(Files, WalkSkipsDotNamesAndDescendsOnRequest) {
  Sandbox box;
  ASSERT_EQ(utils_mkdir_p((box / "sub/deeper").c_str()), 0);
  for (const char *name : {"f1", ".hidden", "sub/f2", "sub/.h2", "sub/deeper/f3"}) {
    ASSERT_EQ(utils_write_file((box / name).c_str(), "x"), 0);
  }
  walked.clear();
  EXPECT_EQ(utils_walk_dir(box.path().c_str(), collect, 0), 0);
  EXPECT_EQ(walked, (std::set<std::string>{box / "f1", box / "sub"}));
  walked.clear();
  EXPECT_EQ(utils_walk_dir(box.path().c_str(), collect, 1), 0);
  EXPECT_EQ(walked, (std::set<std::string>{box / "f1", box / "sub/f2", box / "sub/deeper/f3"}));
  EXPECT_EQ(utils_walk_dir((box / "missing").c_str(), collect, 1), -1);
  EXPECT_EQ(utils_walk_dir(nullptr, collect, 1), -1);
}

TEST(Files, WalkSkipsEntriesWhosePathWouldBeCut) {
  Sandbox box;
  // A directory path of 250 characters whose entries no longer fit.
  std::string deep = box.path();
  while (deep.size() < 250) deep += "/" + std::string(std::min<size_t>(40, 249 - deep.size()), 'd');
  ASSERT_EQ(utils_mkdir_p(deep.c_str()), 0);
  ASSERT_EQ(utils_is_dir(deep.c_str()), 1);
  ASSERT_EQ(utils_write_file((deep + "/ok").c_str(), "x"), 0);
  ASSERT_EQ(utils_write_file((deep + "/long-name").c_str(), "x"), 0);
  walked.clear();
  EXPECT_EQ(utils_walk_dir(box.path().c_str(), collect, 1), 0);
  EXPECT_EQ(walked, (std::set<std::string>{deep + "/ok"}));
}

TEST(FirstLine, StopsAtTheFirstLineEnd) {
  for (const auto &[text, line] : std::vector<std::pair<std::string, std::string>>{
           {"", ""}, {"one", "one"}, {"one\n", "one"}, {"one\ntwo\n", "one"}, {"\ntwo", ""}}) {
    EXPECT_EQ(utils_first_line(text), line) << text;
  }
}

class Processes : public ::testing::Test {
 protected:
  void SetUp() override {
    const char *dev = std::getenv("ALERTMILL_DEV_DIR");
    if (dev == nullptr || access((std::string(dev) + "/ps").c_str(), X_OK) != 0) {
      GTEST_SKIP() << "needs the ps stand-in (ALERTMILL_DEV_DIR)";
    }
    saved_path_ = std::getenv("PATH");
    setenv("PATH", (std::string(dev) + ":" + saved_path_).c_str(), 1);
    setenv("ALERTMILL_ROOT", box_.path().c_str(), 1);
  }
  void TearDown() override {
    if (!saved_path_.empty()) setenv("PATH", saved_path_.c_str(), 1);
    unsetenv("ALERTMILL_ROOT");
  }
  // A sleeping process listed under `name`.
  pid_t Start(const char *name) {
    char *argv[] = {const_cast<char *>(name), const_cast<char *>("30"), nullptr};
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, "/bin/sleep", nullptr, nullptr, argv, environ), 0);
    return pid;
  }
  // What utils_print_runstatus writes to standard output.
  std::string RunStatus(const char *name) {
    int ends[2];
    EXPECT_EQ(pipe2(ends, O_CLOEXEC), 0);
    pid_t child = fork();
    if (child == 0) {
      dup2(ends[1], STDOUT_FILENO);
      utils_print_runstatus(name);
      std::fflush(stdout);
      _exit(0);
    }
    close(ends[1]);
    std::string text;
    char chunk[256];
    for (ssize_t n; (n = read(ends[0], chunk, sizeof chunk)) > 0;) text.append(chunk, n);
    close(ends[0]);
    waitpid(child, nullptr, 0);
    return text;
  }
  Sandbox box_;
  std::string saved_path_;
};

TEST_F(Processes, CountsListedProcesses) {
  const char *name = "alertmill-probe-sleeper";
  EXPECT_EQ(utils_process_running(name), 0);
  EXPECT_EQ(utils_process_listed(name), 0);
  EXPECT_EQ(RunStatus(name), "<runstatus>\n\t<result>0</result>\n</runstatus>\n");
  pid_t sleeper = Start(name);
  ASSERT_GT(sleeper, 0);
  EXPECT_EQ(utils_process_running(name), 1);
  EXPECT_EQ(utils_process_listed(name), 1);
  EXPECT_EQ(RunStatus(name), "<runstatus>\n\t<result>1</result>\n</runstatus>\n");
  kill(sleeper, SIGKILL);
  waitpid(sleeper, nullptr, 0);
  EXPECT_EQ(utils_process_running(name), 0);
  EXPECT_EQ(utils_process_listed(name), 0);
}

TEST_F(Processes, RefusesMissingNames) {
  EXPECT_EQ(utils_process_running(nullptr), -1);
  EXPECT_EQ(utils_process_running(""), -1);
  EXPECT_EQ(utils_process_listed(nullptr), -1);
  EXPECT_EQ(utils_process_listed(""), -1);
  EXPECT_EQ(RunStatus(nullptr), "");
  EXPECT_EQ(RunStatus(""), "");
}
