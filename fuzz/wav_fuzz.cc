// The GSM WAV check on arbitrary file contents, served from a memory file so
// no disk is touched. Also watches that no descriptor is left open.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "utils/utils.h"

namespace {

int lowest_free_descriptor() {
  const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  close(fd);
  return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const int baseline = lowest_free_descriptor();
  const int file = memfd_create("wav_fuzz", MFD_CLOEXEC);
  if (file < 0) return 0;
  const ssize_t written = size > 0 ? write(file, data, size) : 0;
  if (written == static_cast<ssize_t>(size)) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/fd/%d", file);
    const int result = utils_wav_is_gsm(path);
    if (result != 0 && result != 1) std::abort();
  }
  close(file);
  if (lowest_free_descriptor() != baseline) std::abort();
  return 0;
}
