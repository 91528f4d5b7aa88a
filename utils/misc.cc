// File and system helpers: the GSM WAV check, counting numbered directory
// entries, disk space and the pid-file lock.
#include "utils/misc.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "utils/handles.h"

namespace {

// Reads the WAV header piece by piece; any short read is a mismatch.
class WavReader {
 public:
  explicit WavReader(int fd) : fd_(fd) {}

  bool read(void *buffer, size_t size) {
    auto *at = static_cast<unsigned char *>(buffer);
    while (size > 0) {
      const ssize_t got = ::read(fd_, at, size);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      at += got;
      size -= static_cast<size_t>(got);
    }
    return true;
  }
  bool tag(const char (&expected)[5]) {
    char got[4];
    return read(got, sizeof got) && std::memcmp(got, expected, sizeof got) == 0;
  }
  bool u16(unsigned *value) { return number(value, 2); }
  bool u32(unsigned *value) { return number(value, 4); }
  bool skip32(int words) {
    unsigned ignored;
    for (int i = 0; i < words; ++i) {
      if (!u32(&ignored)) return false;
    }
    return true;
  }

 private:
  bool number(unsigned *value, int bytes) {
    unsigned char raw[4];
    if (!read(raw, static_cast<size_t>(bytes))) return false;
    *value = 0;
    for (int i = bytes - 1; i >= 0; --i) *value = (*value << 8) | raw[i];
    return true;
  }

  int fd_;
};

constexpr unsigned kFmtChunkSize = 20;
constexpr unsigned kFormatGsm610 = 49;
constexpr unsigned kMono = 1;
constexpr unsigned kRate = 8000;

bool is_gsm_wav(WavReader &wav) {
  unsigned value = 0;
  if (!wav.tag("RIFF") || !wav.skip32(1) || !wav.tag("WAVE")) return false;
  if (!wav.tag("fmt ") || !wav.u32(&value) || value != kFmtChunkSize) return false;
  if (!wav.u16(&value) || value != kFormatGsm610) return false;
  if (!wav.u16(&value) || value != kMono) return false;
  if (!wav.u32(&value) || value != kRate) return false;
  if (!wav.skip32(3)) return false;
  char id[4];
  if (!wav.read(id, sizeof id)) return false;
  if (std::memcmp(id, "fact", sizeof id) == 0) {
    if (!wav.skip32(2) || !wav.read(id, sizeof id)) return false;
  }
  return std::memcmp(id, "data", sizeof id) == 0 && wav.skip32(1);
}

}  // namespace

int utils_wav_is_gsm(const char *path) {
  if (path == nullptr) return 0;
  // Non-blocking so that a FIFO in place of the file cannot hang the caller;
  // only regular files are read.
  UniqueFd fd(open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  struct stat st;
  if (fd.get() < 0 || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  WavReader wav(fd.get());
  return is_gsm_wav(wav) ? 1 : 0;
}

int utils_count_numeric_entries(const char *dir_path) {
  if (dir_path == nullptr) return 0;
  // glibc and musl both open the directory close-on-exec.
  UniqueDir dir(opendir(dir_path));
  if (!dir) return 0;
  int count = 0;
  while (const dirent *entry = readdir(dir.get())) {
    if (std::isdigit(static_cast<unsigned char>(entry->d_name[0]))) ++count;
  }
  return count;
}

int utils_disk_space(const char *path, uint64_t *free_mib, uint64_t *available_mib) {
  if (path == nullptr || free_mib == nullptr || available_mib == nullptr) return -1;
  struct statfs fs;
  if (statfs(path, &fs) != 0) return -1;
  // Bytes first: dividing the block size down to KiB would lose sub-KiB sizes.
  const uint64_t block = static_cast<uint64_t>(fs.f_bsize);
  *free_mib = static_cast<uint64_t>(fs.f_bfree) * block / (1024 * 1024);
  *available_mib = static_cast<uint64_t>(fs.f_bavail) * block / (1024 * 1024);
  return 0;
}

int utils_pidfile_lock(const char *path) {
  if (path == nullptr) return -1;
  const mode_t old_mask = umask(0133);
  const int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  const int open_errno = errno;
  umask(old_mask);
  if (fd < 0) {
    std::fprintf(stderr, "Can't create pid lock file %s (%s), exiting\n", path,
                 std::strerror(open_errno));
    std::exit(1);
  }
  struct flock lock;
  std::memset(&lock, 0, sizeof lock);
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;  // start 0, length 0: the whole file, however long
  if (fcntl(fd, F_SETLK, &lock) != 0) {
    std::fprintf(stderr, "Could not lock pid_file %s, exiting\n", path);
    std::exit(1);
  }
  const int pid = static_cast<int>(getpid());
  char line[32];
  const int length = std::snprintf(line, sizeof line, "%d\n", pid);
  const ssize_t written = pwrite(fd, line, static_cast<size_t>(length), 0);
  if (written < length) {
    std::fprintf(stderr, "Could not write pid %d to pid_file %s, rc was %d: %s\n", pid, path,
                 static_cast<int>(written), std::strerror(errno));
  } else if (ftruncate(fd, length) != 0) {
    std::fprintf(stderr, "Could not truncate pid_file %s to %u bytes: %s\n", path,
                 static_cast<unsigned>(length), std::strerror(errno));
  }
  // fd stays open on purpose: closing any descriptor of the file would drop
  // the lock, which must last as long as the process.
  return pid;
}
