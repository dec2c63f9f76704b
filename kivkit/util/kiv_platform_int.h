// What the platform's sources share: the rules that are the same on every system (kiv_platform.cpp) over the
// steps each system's source (kiv_platform-posix.cpp, kiv_platform-win32.cpp) takes its own way.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

// --- given by each system's source

// Index just past the folder part of a path (its last separator; on Windows also a drive's "C:"); 0 for a bare name.
size_t _kiv_platform_base_at(const std::string &path);
// The length of a name as the file system counts it (bytes; UTF-16 units on Windows), and the most one name in the
// folder of path may have.
size_t _kiv_platform_name_units(const std::string &name);
size_t _kiv_platform_name_max(const std::string &path);
// This process's id, for file names no other process makes.
unsigned long _kiv_platform_pid();
// Creates path, which must not exist yet, open for writing ("wb"); null with errno (EEXIST when it exists).
FILE *_kiv_platform_create_new(const std::string &path);
// Writes len bytes to a file just opened by _kiv_platform_create_new and flushes them to the disk; false with errno.
bool _kiv_platform_write_synced(FILE *f, const void *data, size_t len);
// Makes a rename in path's folder durable, where the system needs to be asked for that.
void _kiv_platform_sync_dir(const char *path);

// --- kiv_platform.cpp

// The arguments of a whole-file write make sense and nothing but a regular file is in the way (a directory in the
// way is never replaced); false with errno set otherwise.
bool _kiv_platform_write_target_ok(const char *path, const void *data, size_t len);
