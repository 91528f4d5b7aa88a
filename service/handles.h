// Owners for the descriptors and streams the service opens, so every early
// return closes them.
#ifndef ALERTMILL_SERVICE_HANDLES_H_
#define ALERTMILL_SERVICE_HANDLES_H_

#include <unistd.h>

#include <cstdio>
#include <memory>

#include "utils/alloc.h"

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor &) = delete;
  Descriptor &operator=(const Descriptor &) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

struct PipeCloser {
  void operator()(FILE *pipe) const { pclose(pipe); }
};
using Pipe = std::unique_ptr<FILE, PipeCloser>;

struct FileCloser {
  void operator()(FILE *file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// A block from utils_malloc.
struct FreeDeleter {
  void operator()(char *block) const { utils_free(&block); }
};
using Buffer = std::unique_ptr<char, FreeDeleter>;

#endif  // ALERTMILL_SERVICE_HANDLES_H_
