// File and system helpers: the GSM WAV check, directory and disk queries and
// the pid-file lock.
#ifndef ALERTMILL_UTILS_MISC_H_
#define ALERTMILL_UTILS_MISC_H_

#include <cstdint>

// 1 when path names a regular file that starts as a mono 8000 Hz GSM 6.10
// WAV file ("RIFF"/"WAVE", 20-byte "fmt " chunk with tag 49, an optional
// "fact" chunk, then "data"); else 0.
int utils_wav_is_gsm(const char *path);

// Number of entries of the directory whose names begin with a decimal digit;
// 0 for a null path or a directory that cannot be opened.
int utils_count_numeric_entries(const char *dir_path);

// Free space and space available to unprivileged users of the file system
// holding path, in MiB. 0; -1 for a null argument or when statfs fails.
int utils_disk_space(const char *path, uint64_t *free_mib, uint64_t *available_mib);

// Creates (mode 0644) and write-locks the pid file, writes "<pid>\n" into it
// and keeps it open for the life of the process. Ends the process with status
// 1 when the file cannot be created or another process holds the lock.
// Returns the process id; -1 for a null path.
int utils_pidfile_lock(const char *path);

#endif  // ALERTMILL_UTILS_MISC_H_
