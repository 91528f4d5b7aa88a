// Files and directories.
#ifndef ALERTMILL_UTILS_FILES_H_
#define ALERTMILL_UTILS_FILES_H_

#include <cstdint>

// Size in bytes, or -1 when path is null, empty or not accessible.
int32_t utils_file_size(const char *path);

// cp -f / rm -f through the shell: 0 when the command reported status 0,
// else -1.
int utils_copy_file(const char *source, const char *destination);
int utils_remove_file(const char *path);

// rename(2): 0, or -1 for a null path or a failure.
int utils_rename_file(const char *old_path, const char *new_path);

// 1 when path exists / is a directory itself (not a link to one), else 0.
int utils_file_exists(const char *path);
int utils_is_dir(const char *path);

// Creates every missing directory along path (mode 0775, at most 255
// characters); failures of mkdir are not reported. 0, or -1 for null or "".
int utils_mkdir_p(const char *path);

// Calls function with "directory/entry" for every entry not starting with
// '.'; with descend nonzero, sub-directories are walked instead of passed.
// Entries whose path would not fit in 255 characters are skipped. 0, or -1
// for a null path or a directory that cannot be opened.
int utils_walk_dir(const char *directory, int (*function)(const char *path), int descend);

// One read of at most size-1 bytes into buffer, no terminator added (pass a
// zeroed buffer). 0; -1 for a null or empty path, a null buffer or size < 1;
// -2 when the file cannot be opened or read.
int utils_read_file(const char *path, char *buffer, int size);

// Creates or empties path and writes the formatted text. 0; -1 for a null or
// empty path or a null format; -2 when the file cannot be opened.
int utils_write_file(const char *path, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

#endif  // ALERTMILL_UTILS_FILES_H_
