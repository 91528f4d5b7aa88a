// Owners for the C library's handles, so every exit path closes them.
#ifndef ALERTMILL_UTILS_HANDLES_H_
#define ALERTMILL_UTILS_HANDLES_H_

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "utils/alloc.h"

struct FileCloser {
  void operator()(FILE *file) const { std::fclose(file); }
};
struct DirCloser {
  void operator()(DIR *directory) const { closedir(directory); }
};

using UniqueFile = std::unique_ptr<FILE, FileCloser>;  // from fopen
using UniqueDir = std::unique_ptr<DIR, DirCloser>;     // from opendir

// A text block from utils_malloc.
struct BlockFreer {
  void operator()(char *block) const { utils_free(&block); }
};
using UniqueBlock = std::unique_ptr<char, BlockFreer>;

// A descriptor closed when the owner goes; -1 (or any negative) owns nothing.
class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : fd_(fd) {}
  UniqueFd(const UniqueFd &) = delete;
  UniqueFd &operator=(const UniqueFd &) = delete;
  ~UniqueFd() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

#endif  // ALERTMILL_UTILS_HANDLES_H_
