#include "utils/files.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "utils/command.h"
#include "utils/handles.h"
#include "utils/strings.h"

namespace {

constexpr size_t kProcessLineSize = 128;
constexpr size_t kPathSize = 256;
constexpr int kStatusOutputSize = 8;

// Whole text is a decimal number (leading blanks and a trailing line end
// allowed); false for empty or garbled output.
bool read_number(const char *text, long *number) {
  char *end = nullptr;
  errno = 0;
  long value = strtol(text, &end, 10);
  if (end == text || errno != 0) return false;
  while (*end == '\n' || *end == '\r' || *end == ' ') ++end;
  if (*end != '\0') return false;
  *number = value;
  return true;
}

// The shell helpers learn whether cp or rm worked only from the status the
// command line echoes ("...; echo $?").
int echoed_status(int run_result, const char *output) {
  long status = -1;
  return run_result == 0 && read_number(output, &status) && status == 0 ? 0 : -1;
}

// Walks one directory level; -1 when it cannot be opened.
int walk(const char *directory, int (*function)(const char *path), bool descend) {
  UniqueDir handle(opendir(directory));
  if (!handle) return -1;
  char path[kPathSize];
  while (const struct dirent *entry = readdir(handle.get())) {
    if (entry->d_name[0] == '.') continue;
    // A cut path names some other file, and walking a cut directory path can
    // lead back to the same directory for ever: such entries are skipped.
    int length = snprintf(path, sizeof path, "%s/%s", directory, entry->d_name);
    if (length < 0 || static_cast<size_t>(length) >= kPathSize) continue;
    if (descend && utils_is_dir(path)) {
      walk(path, function, descend);
    } else if (function != nullptr) {
      function(path);
    }
  }
  return 0;
}

}  // namespace

int32_t utils_file_size(const char *path) {
  if (utils_str_is_empty(path)) return -1;
  struct stat info;
  if (stat(path, &info) == 0) return static_cast<int32_t>(info.st_size);
  if (access(path, F_OK) != 0) return -1;
  // stat refuses some files that exist (sizes past 2 GiB on 32-bit builds);
  // ls still lists them.
  char output[kProcessLineSize] = {};
  if (utils_run_command(output, sizeof output, "ls %s -l | awk '{printf $3}'", path) != 0) {
    return -1;
  }
  long size = -1;
  if (!read_number(output, &size) || size < 0 || size > INT32_MAX) return -1;
  return static_cast<int32_t>(size);
}

int utils_copy_file(const char *source, const char *destination) {
  if (source == nullptr || destination == nullptr) return -1;
  char output[kStatusOutputSize] = {};
  int run = utils_run_command(output, sizeof output, "cp -f %s %s ; echo $?", source, destination);
  return echoed_status(run, output);
}

int utils_remove_file(const char *path) {
  if (path == nullptr) return -1;
  char output[kStatusOutputSize] = {};
  int run = utils_run_command(output, sizeof output, "rm -f %s ; echo $?", path);
  return echoed_status(run, output);
}

int utils_rename_file(const char *old_path, const char *new_path) {
  if (old_path == nullptr || new_path == nullptr) return -1;
  return rename(old_path, new_path) == 0 ? 0 : -1;
}

int utils_file_exists(const char *path) {
  return !utils_str_is_empty(path) && access(path, F_OK) == 0 ? 1 : 0;
}

int utils_is_dir(const char *path) {
  if (utils_str_is_empty(path)) return 0;
  struct stat info;
  return lstat(path, &info) == 0 && S_ISDIR(info.st_mode) ? 1 : 0;
}

int utils_mkdir_p(const char *path) {
  if (utils_str_is_empty(path)) return -1;
  char prefix[kPathSize];
  snprintf(prefix, sizeof prefix, "%s", path);
  auto make = [&prefix] {
    if (!utils_is_dir(prefix)) mkdir(prefix, 0775);
  };
  // Start past the first byte: a leading '/' separates nothing.
  for (char *slash = strchr(prefix + 1, '/'); slash != nullptr; slash = strchr(slash + 1, '/')) {
    *slash = '\0';
    make();
    *slash = '/';
  }
  make();
  return 0;
}

int utils_walk_dir(const char *directory, int (*function)(const char *path), int descend) {
  if (directory == nullptr) return -1;
  return walk(directory, function, descend != 0);
}

int utils_read_file(const char *path, char *buffer, int size) {
  if (utils_str_is_empty(path) || buffer == nullptr || size < 1) return -1;
  UniqueFile file(fopen(path, "re"));
  if (!file) return -2;
  fread(buffer, 1, static_cast<size_t>(size) - 1, file.get());
  return ferror(file.get()) ? -2 : 0;
}

int utils_write_file(const char *path, const char *format, ...) {
  if (utils_str_is_empty(path) || format == nullptr) return -1;
  UniqueFile file(fopen(path, "we"));
  if (!file) return -2;
  va_list arguments;
  va_start(arguments, format);
  vfprintf(file.get(), format, arguments);
  va_end(arguments);
  return 0;
}
