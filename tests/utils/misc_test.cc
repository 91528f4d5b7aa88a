#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "tests/support/sandbox_root.h"
#include "utils/utils.h"

namespace {

class MiscTest : public ::testing::Test {
 protected:
  SandboxRoot root_;
};

int open_descriptors() {
  int count = 0;
  DIR *dir = opendir("/proc/self/fd");
  while (dirent *entry = readdir(dir)) count += entry->d_name[0] != '.';
  closedir(dir);
  return count;
}

// ---- GSM WAV ----

void put32(std::string *out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}
void put16(std::string *out, uint16_t v) {
  for (int i = 0; i < 2; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

// The header fields of a WAV file, each one a variant can change.
struct WavFields {
  std::string riff = "RIFF";
  std::string wave = "WAVE";
  std::string fmt = "fmt ";
  uint32_t fmt_size = 20;
  uint16_t format = 49;
  uint16_t channels = 1;
  uint32_t rate = 8000;
  bool fact = false;
  std::string data = "data";
};

std::string build_wav(const WavFields &f) {
  std::string out = f.riff;
  put32(&out, 1000);
  out += f.wave + f.fmt;
  put32(&out, f.fmt_size);
  put16(&out, f.format);
  put16(&out, f.channels);
  put32(&out, f.rate);
  put32(&out, 1625);  // bytes per second
  put16(&out, 65);    // block align
  put16(&out, 0);     // bits per sample
  put16(&out, 2);     // extra size
  put16(&out, 320);   // samples per block
  if (f.fact) {
    out += "fact";
    put32(&out, 4);
    put32(&out, 16000);
  }
  out += f.data;
  put32(&out, 650);
  out += std::string(65, '\x55');
  return out;
}

// Header bytes up to and including the data chunk's size.
size_t header_length(const WavFields &f) { return 12 + 8 + 20 + (f.fact ? 12 : 0) + 8; }

TEST_F(MiscTest, WavGsmAcceptedWithAndWithoutFact) {
  const int before = open_descriptors();
  root_.write("plain.wav", build_wav({}));
  EXPECT_EQ(utils_wav_is_gsm(root_.path("plain.wav").c_str()), 1);
  WavFields with_fact;
  with_fact.fact = true;
  root_.write("fact.wav", build_wav(with_fact));
  EXPECT_EQ(utils_wav_is_gsm(root_.path("fact.wav").c_str()), 1);
  // Only the header counts: a file ending right after the data size passes.
  root_.write("header.wav", build_wav({}).substr(0, header_length({})));
  EXPECT_EQ(utils_wav_is_gsm(root_.path("header.wav").c_str()), 1);
  EXPECT_EQ(open_descriptors(), before);
}

TEST_F(MiscTest, WavVariantsDifferingInOneFieldAreRefused) {
  std::vector<std::pair<const char *, std::function<void(WavFields *)>>> variants = {
      {"riff", [](WavFields *f) { f->riff = "RIFX"; }},
      {"wave", [](WavFields *f) { f->wave = "AVI "; }},
      {"fmt", [](WavFields *f) { f->fmt = "fmt\t"; }},
      {"fmt size", [](WavFields *f) { f->fmt_size = 16; }},
      {"pcm", [](WavFields *f) { f->format = 1; }},
      {"alaw", [](WavFields *f) { f->format = 6; }},
      {"wav49 big endian", [](WavFields *f) { f->format = 49 << 8; }},
      {"stereo", [](WavFields *f) { f->channels = 2; }},
      {"rate", [](WavFields *f) { f->rate = 16000; }},
      {"data", [](WavFields *f) { f->data = "LIST"; }},
  };
  const int before = open_descriptors();
  for (const auto &[name, change] : variants) {
    WavFields fields;
    change(&fields);
    root_.write("variant.wav", build_wav(fields));
    EXPECT_EQ(utils_wav_is_gsm(root_.path("variant.wav").c_str()), 0) << name;
  }
  // A second fact chunk is not skipped.
  WavFields fact;
  fact.fact = true;
  std::string twice = build_wav(fact);
  twice.insert(12 + 8 + 20, twice.substr(12 + 8 + 20, 12));
  root_.write("twice.wav", twice);
  EXPECT_EQ(utils_wav_is_gsm(root_.path("twice.wav").c_str()), 0);
  EXPECT_EQ(open_descriptors(), before);
}

TEST_F(MiscTest, WavTruncatedAnywhereIsRefused) {
  const int before = open_descriptors();
  for (bool fact : {false, true}) {
    WavFields fields;
    fields.fact = fact;
    const std::string whole = build_wav(fields);
    for (size_t length = 0; length < header_length(fields); ++length) {
      root_.write("cut.wav", whole.substr(0, length));
      ASSERT_EQ(utils_wav_is_gsm(root_.path("cut.wav").c_str()), 0) << length;
    }
  }
  EXPECT_EQ(open_descriptors(), before);
}

TEST_F(MiscTest, WavOddPathsAreRefused) {
  const int before = open_descriptors();
  EXPECT_EQ(utils_wav_is_gsm(nullptr), 0);
  EXPECT_EQ(utils_wav_is_gsm(root_.path("missing.wav").c_str()), 0);
  EXPECT_EQ(utils_wav_is_gsm(root_.dir().c_str()), 0);
  ASSERT_EQ(mkfifo(root_.path("fifo.wav").c_str(), 0600), 0);
  EXPECT_EQ(utils_wav_is_gsm(root_.path("fifo.wav").c_str()), 0);  // must not block
  EXPECT_EQ(open_descriptors(), before);
}

// ---- Directories and disk ----

TEST_F(MiscTest, CountsEntriesStartingWithADigit) {
  for (const char *name : {"1abc", "22", "x1", ".5", "-3", "abc"}) root_.write(name, "");
  ASSERT_EQ(mkdir(root_.path("9dir").c_str(), 0700), 0);
  EXPECT_EQ(utils_count_numeric_entries(root_.dir().c_str()), 3);
  EXPECT_EQ(utils_count_numeric_entries(root_.path("9dir").c_str()), 0);
  EXPECT_EQ(utils_count_numeric_entries(root_.path("22").c_str()), 0);
  EXPECT_EQ(utils_count_numeric_entries(root_.path("missing").c_str()), 0);
  EXPECT_EQ(utils_count_numeric_entries(nullptr), 0);
}

TEST_F(MiscTest, DiskSpaceInMebibytes) {
  uint64_t free_mib = 0, available_mib = 0;
  ASSERT_EQ(utils_disk_space(root_.dir().c_str(), &free_mib, &available_mib), 0);
  struct statvfs fs;
  ASSERT_EQ(statvfs(root_.dir().c_str(), &fs), 0);
  const double expected_free = static_cast<double>(fs.f_bfree) * fs.f_frsize / 1048576.0;
  const double expected_available = static_cast<double>(fs.f_bavail) * fs.f_frsize / 1048576.0;
  // Other programs write meanwhile: allow a little drift.
  EXPECT_NEAR(static_cast<double>(free_mib), expected_free, 64.0);
  EXPECT_NEAR(static_cast<double>(available_mib), expected_available, 64.0);
  EXPECT_GE(free_mib, available_mib);
  EXPECT_EQ(utils_disk_space(root_.path("missing").c_str(), &free_mib, &available_mib), -1);
  EXPECT_EQ(utils_disk_space(nullptr, &free_mib, &available_mib), -1);
  EXPECT_EQ(utils_disk_space(root_.dir().c_str(), nullptr, &available_mib), -1);
  EXPECT_EQ(utils_disk_space(root_.dir().c_str(), &free_mib, nullptr), -1);
}

// ---- Pid-file lock ----

struct ChildResult {
  int status = -1;
  std::string err;
};

// Runs body in a forked child whose standard error is captured; body's
// result is the child's exit status unless it exits by itself.
class Child {
 public:
  explicit Child(const std::function<int()> &body) {
    int err_pipe[2];
    if (pipe(err_pipe) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(err_pipe[1], STDERR_FILENO);
      close(err_pipe[0]);
      close(err_pipe[1]);
      std::fflush(stderr);
      _exit(body());
    }
    close(err_pipe[1]);
    err_fd_ = err_pipe[0];
  }
  pid_t pid() const { return pid_; }
  ChildResult wait() {
    ChildResult result;
    char buffer[256];
    ssize_t got;
    while ((got = read(err_fd_, buffer, sizeof buffer)) > 0) result.err.append(buffer, got);
    close(err_fd_);
    int status = 0;
    if (waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status)) result.status = WEXITSTATUS(status);
    return result;
  }

 private:
  pid_t pid_ = -1;
  int err_fd_ = -1;
};

// The descriptor this process holds on path, or -1.
int descriptor_of(const std::string &path) {
  for (int fd = 0; fd < 1024; ++fd) {
    char link[64], target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n > 0 && std::string(target, n) == path) return fd;
  }
  return -1;
}

TEST_F(MiscTest, PidFileLockWritesPidAndHoldsTheLock) {
  const std::string pidfile = root_.path("daemon.pid");
  root_.write("daemon.pid", "123456789 stale contents\n");
  int go[2], ready[2];
  ASSERT_EQ(pipe(go), 0);
  ASSERT_EQ(pipe(ready), 0);
  Child holder([&] {
    umask(0);
    if (utils_pidfile_lock(pidfile.c_str()) != getpid()) return 2;
    const int fd = descriptor_of(pidfile);
    if (fd < 0 || (fcntl(fd, F_GETFD) & FD_CLOEXEC) == 0) return 3;
    char byte = 'r';
    if (write(ready[1], &byte, 1) != 1) return 4;
    close(go[1]);
    while (read(go[0], &byte, 1) > 0) {
    }
    return 0;
  });
  close(ready[1]);
  char byte;
  ASSERT_EQ(read(ready[0], &byte, 1), 1) << "holder failed to lock";

  EXPECT_EQ(root_.read("daemon.pid"), std::to_string(holder.pid()) + "\n");

  Child second([&] { return utils_pidfile_lock(pidfile.c_str()) > 0 ? 0 : 5; });
  const ChildResult refused = second.wait();
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "Could not lock pid_file " + pidfile + ", exiting\n");
  EXPECT_EQ(root_.read("daemon.pid"), std::to_string(holder.pid()) + "\n");

  close(go[1]);
  close(go[0]);
  close(ready[0]);
  EXPECT_EQ(holder.wait().status, 0);

  // Once the holder is gone the lock is free again.
  Child third([&] { return utils_pidfile_lock(pidfile.c_str()) == getpid() ? 0 : 6; });
  const ChildResult taken = third.wait();
  EXPECT_EQ(taken.status, 0);
  EXPECT_EQ(taken.err, "");
  EXPECT_EQ(root_.read("daemon.pid"), std::to_string(third.pid()) + "\n");
}

TEST_F(MiscTest, PidFileCreatedWithMode0644) {
  const std::string pidfile = root_.path("fresh.pid");
  Child child([&] {
    umask(0);
    utils_pidfile_lock(pidfile.c_str());
    return umask(0) == 0 ? 0 : 7;  // the caller's mask is put back
  });
  EXPECT_EQ(child.wait().status, 0);
  struct stat st;
  ASSERT_EQ(stat(pidfile.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST_F(MiscTest, PidFileThatCannotBeCreatedEndsTheProcess) {
  const std::string pidfile = root_.path("no/such/dir.pid");
  Child child([&] { return utils_pidfile_lock(pidfile.c_str()) > 0 ? 0 : 8; });
  const ChildResult result = child.wait();
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err,
            "Can't create pid lock file " + pidfile + " (No such file or directory), exiting\n");
  EXPECT_EQ(utils_pidfile_lock(nullptr), -1);
}

// ---- Random texts ----

// Runs gen until two calls fall in one second (the reseed makes them equal
// then); returns the second's seed and the text.
template <typename Gen>
std::pair<unsigned, std::string> in_one_second(Gen gen) {
  for (;;) {
    const time_t before = std::time(nullptr);
    const std::string first = gen();
    const std::string second = gen();
    if (std::time(nullptr) == before) {
      EXPECT_EQ(first, second);
      return {static_cast<unsigned>(before), second};
    }
  }
}

TEST(RandomText, HexidIsFourRandWordsSeededBySeconds) {
  const auto [seed, text] = in_one_second([] {
    char out[40];
    std::memset(out, 'x', sizeof out);
    return std::string(utils_gen_hexid(out, sizeof out));
  });
  ASSERT_EQ(text.size(), 32u);
  std::srand(seed);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(std::stoul(text.substr(8 * i, 8), nullptr, 16), static_cast<unsigned long>(rand()));
  }
  char small[9];
  EXPECT_EQ(utils_gen_hexid(small, sizeof small), small);
  EXPECT_EQ(std::strlen(small), 8u);
}

TEST(RandomText, RandstrLengthRuleAndCharacters) {
  const auto [seed, text] = in_one_second([] {
    char out[80];
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(utils_gen_randstr(out, sizeof out), out);
    for (size_t i = std::strlen(out); i < sizeof out; ++i) EXPECT_EQ(out[i], 0) << i;
    return std::string(out);
  });
  std::srand(seed);
  const int n = ((rand() % 128) + 1) % 57 + 6;
  EXPECT_EQ(text.size(), static_cast<size_t>(n - 1));
  EXPECT_GE(text.size(), 5u);
  EXPECT_LE(text.size(), 61u);
  for (char c : text) EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << c;

  char small[4];
  EXPECT_EQ(utils_gen_randstr(small, sizeof small), small);
  EXPECT_EQ(std::string(small), text.substr(0, 3));
  EXPECT_EQ(utils_gen_randstr(nullptr, 10), nullptr);
}

TEST(RandomText, AlnumDrawsFromItsAlphabetWithoutTerminator) {
  const std::string alphabet = "bcdReWSpSTwxfgqhijkl4YZ0167mno23PQ5KLMNOCDEuvraHIJFGUVyzAB9st8";
  std::set<char> seen;
  for (int i = 0; i < 200; ++i) {
    char out[13];
    std::memset(out, '#', sizeof out);
    ASSERT_EQ(utils_gen_alnum(out, 12), 0);
    EXPECT_EQ(out[12], '#');
    const std::string text(out, 12);
    bool lower = false, upper = false, digit = false;
    for (char c : text) {
      EXPECT_NE(alphabet.find(c), std::string::npos) << c;
      lower |= std::islower(static_cast<unsigned char>(c)) != 0;
      upper |= std::isupper(static_cast<unsigned char>(c)) != 0;
      digit |= std::isdigit(static_cast<unsigned char>(c)) != 0;
      seen.insert(c);
    }
    EXPECT_TRUE(lower && upper && digit) << text;
  }
  EXPECT_EQ(seen.count('X'), 0u);
  EXPECT_GT(seen.size(), 50u);
  EXPECT_EQ(utils_gen_alnum(nullptr, 4), -1);
}

}  // namespace
