#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <utility>

#include "utils/utils.h"

namespace {

// Captures what is written to stdout or stderr (descriptor and stdio stream)
// while it lives.
class Capture {
 public:
  explicit Capture(FILE *stream) : stream_(stream), fd_(fileno(stream)) {
    std::fflush(stream_);
    char name[] = "/tmp/logcaptureXXXXXX";
    int file = mkostemp(name, O_CLOEXEC);
    path_ = name;
    saved_ = fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    dup2(file, fd_);
    close(file);
  }
  ~Capture() {
    Restore();
    unlink(path_.c_str());
  }
  std::string Text() {
    Restore();
    std::ifstream in(path_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    std::fflush(stream_);
    dup2(saved_, fd_);
    close(saved_);
    saved_ = -1;
  }
  FILE *stream_;
  int fd_;
  int saved_ = -1;
  std::string path_;
};

struct Console {
  std::string out;
  std::string err;
};

Console write_to_console(int level, const char *file = "src/util/utils") {
  Capture out(stdout);
  Capture err(stderr);
  utils_log_write(file, 42, "probe", level, "value=%d text=%s", 7, "abc");
  return {out.Text(), err.Text()};
}

std::string red(const char *name) {
  return std::string("\033[1;31;40mutils(probe) 42 [") + name + "] : \033[0mvalue=7 text=abc\n";
}

std::string read_file(const std::string &path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

const std::regex kLongStamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)");
const std::regex kCompactStamp(R"(\d{8}_\d{6})");

}  // namespace

// The console suites run before any test switches the process to a file.
TEST(LogConsole, DebugGoesToStdoutInGreen) {
  Console console = write_to_console(kLogMaskDebug);
  EXPECT_EQ(console.out, "\033[1;32;40mutils(probe) 42 [DEBUG] : \033[0mvalue=7 text=abc\n");
  EXPECT_EQ(console.err, "");
  Console above = write_to_console(32);
  EXPECT_EQ(above.out, "\033[1;32;40mutils(probe) 42 [UNKNOWN] : \033[0mvalue=7 text=abc\n");
}

TEST(LogConsole, LowerLevelsGoToStderrInRed) {
  const std::pair<int, const char *> levels[] = {{kLogMaskInfo, "INFO"},
                                                 {kLogMaskNotice, "NOTICE"},
                                                 {kLogMaskWarning, "WARNING"},
                                                 {kLogMaskError, "ERROR"},
                                                 {3, "UNKNOWN"},
                                                 {0, "UNKNOWN"}};
  for (const auto &[level, name] : levels) {
    Console console = write_to_console(level);
    EXPECT_EQ(console.err, red(name)) << level;
    EXPECT_EQ(console.out, "") << level;
  }
}

TEST(LogConsole, ShortensOnlyPathsWithSlashes) {
  Console plain = write_to_console(kLogMaskError, "utils");
  EXPECT_EQ(plain.err, red("ERROR"));
  Console trailing = write_to_console(kLogMaskError, "dir/");
  EXPECT_EQ(trailing.err.find("\033[1;31;40m(probe) 42 [ERROR]"), 0u) << trailing.err;
}

TEST(LogConsole, NullArgumentsAreWrittenEmpty) {
  Capture err(stderr);
  utils_log_write(nullptr, 5, nullptr, kLogMaskError, "%s", "x");
  EXPECT_EQ(err.Text(), "\033[1;31;40m() 5 [ERROR] : \033[0mx\n");
}

TEST(LogConsole, InitAcceptsNullIdent) {
  utils_log_init(nullptr);
  utils_log_init("alertmill-log-test");
}

TEST(LogTimestamp, LongAndCompactForms) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    time_t before = time(nullptr);
    std::string first = utils_log_timestamp(0);
    std::string second = utils_log_timestamp(0);
    std::string compact = utils_log_timestamp(1);
    std::string after_compact = utils_log_timestamp(0);
    if (time(nullptr) != before) continue;  // crossed a second; try again
    EXPECT_TRUE(std::regex_match(first, kLongStamp)) << first;
    EXPECT_EQ(first, second);
    EXPECT_TRUE(std::regex_match(compact, kCompactStamp)) << compact;
    EXPECT_EQ(after_compact, first);
    // Same instant in both forms.
    std::string digits;
    for (char c : first) {
      if (c >= '0' && c <= '9') digits += c;
    }
    EXPECT_EQ(digits.substr(0, 8) + "_" + digits.substr(8), compact);
    return;
  }
  FAIL() << "never stayed within one second";
}

TEST(LogTimestamp, MatchesLocalTime) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    time_t now = time(nullptr);
    std::string stamp = utils_log_timestamp(1);
    if (time(nullptr) != now) continue;
    struct tm local = {};
    localtime_r(&now, &local);
    char expected[32];
    strftime(expected, sizeof expected, "%Y%m%d_%H%M%S", &local);
    EXPECT_EQ(stamp, expected);
    return;
  }
  FAIL() << "never stayed within one second";
}

TEST(LogFile, UnopenableFileKeepsConsole) {
  Capture err(stderr);
  EXPECT_EQ(utils_log_set_file(nullptr), -1);  // no path stored yet
  EXPECT_EQ(utils_log_set_file("/nonexistent-alertmill-dir/x.log"), -1);
  utils_log_write("a/b.cc", 1, "f", kLogMaskError, "still here");
  std::string text = err.Text();
  EXPECT_EQ(text.find("fopen: "), 0u) << text;
  EXPECT_NE(text.find("fopen: ", 1), std::string::npos) << text;
  EXPECT_NE(text.find("\033[1;31;40mb.cc(f) 1 [ERROR] : \033[0mstill here\n"), std::string::npos);
}

TEST(LogFile, LinesGoToTheFileWithWholeSourceName) {
  char dir[] = "/tmp/logtestXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string path = std::string(dir) + "/alertmill.log";
  ASSERT_EQ(utils_log_set_file(path.c_str()), 0);
  Capture out(stdout);
  Capture err(stderr);
  utils_log_write("src/util/utils", 42, "probe", kLogMaskDebug, "n=%d", 1);
  utils_log_write("src/util/utils", 43, "probe", 3, "n=%d", 2);
  EXPECT_EQ(out.Text(), "");
  EXPECT_EQ(err.Text(), "");

  const std::regex line(
      R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d) \[DEBUG\]: src/util/utils\(probe\) 42 \[DEBUG\] : n=1
(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d) \[UNKNOWN\]: src/util/utils\(probe\) 43 \[UNKNOWN\] : n=2
)");
  std::string text = read_file(path);
  EXPECT_TRUE(std::regex_match(text, line)) << text;

  // Commands the daemon runs must not inherit the log file.
  std::string listing = std::string(dir) + "/fds";
  std::string command = "ls -l /proc/$$/fd/ > '" + listing + "'";
  ASSERT_EQ(utils_system(command.c_str()), 0);
  std::string descriptors = read_file(listing);
  EXPECT_NE(descriptors.find(listing), std::string::npos) << descriptors;
  EXPECT_EQ(descriptors.find(path), std::string::npos) << descriptors;
  unlink(listing.c_str());

  // A null path reopens the stored one and appends.
  ASSERT_EQ(utils_log_set_file(nullptr), 0);
  utils_log_write("x", 1, "g", kLogMaskInfo, "third");
  text = read_file(path);
  EXPECT_EQ(text.rfind("x(g) 1 [INFO] : third\n"), text.size() - 22) << text;
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);
  unlink(path.c_str());
  rmdir(dir);
}
