// The operating-system layer under the driver: file status, directories, atomic saves,
// environment directories, stop requests, threads' set-up and the URL opener. The only place with OS
// specifics: one source per system (kiv_platform-posix.cpp, kiv_platform-win32.cpp) under the rules that are the
// same on both (kiv_platform.cpp).
#pragma once

#include <cstddef>
#include <cstdio>
#include <ctime>
#include <string>

// Paths are UTF-8 everywhere in the engine; each system's source converts them at its own calls.

// What a path names.
enum KivFileKind { KIV_FILE_NONE, KIV_FILE_REGULAR, KIV_FILE_DIR, KIV_FILE_OTHER };
KivFileKind kiv_platform_file_kind(const char *path);
// fopen for a UTF-8 path (non-ASCII names reach the file system on Windows too); null with errno.
FILE *kiv_platform_fopen(const char *path, const char *mode);
// Renames from over to, replacing a file there in one step; false with errno.
bool kiv_platform_file_replace(const char *from, const char *to);
// Removes a file; false with errno.
bool kiv_platform_file_remove(const char *path);

// Status of a regular file; false for missing files, directories and other non-regular entries.
bool kiv_platform_file_regular(const char *path);
// Size in bytes and modification time (whole seconds, and in nanoseconds since the epoch as finely as the file
// system keeps it) of a regular file; false when it cannot be examined. Any output may be null.
bool kiv_platform_file_stat(const char *path, long long *size, time_t *mtime, long long *mtime_ns = nullptr);

// Creates the directory and its missing parents; true when it exists afterwards.
bool kiv_platform_mkdir_p(const char *path);

// Writes len bytes to the target's one temporary file in the same directory, syncs it and renames it over
// path, so a failed write never destroys the previous file and a killed one leaves at most that temporary
// file, which the next save of the name takes over. False (and nothing replaced) on any failure, with errno.
bool kiv_platform_file_write_atomic(const char *path, const void *data, size_t len);
// The temporary file of a save of path (kiv_platform_file_write_atomic): ".<name>.kivtmp" beside it, or, where
// that would be too long a name for the file system, ".<hash of name>.kivtmp".
std::string kiv_platform_tmp_name(const std::string &path);
// Creates a new, empty file beside path under a short name of its own (".kiv<pid>-<n>.part"), whatever the
// length of path's name, open for writing ("wb"), and the name in *tmp; null with errno.
FILE *kiv_platform_tmp_create(const char *path, std::string *tmp);
// As kiv_platform_file_write_atomic, for one-off files (screenshots): through a temporary file of this call
// alone (kiv_platform_tmp_create), which is removed on failure. False with errno on failure.
bool kiv_platform_file_write_new(const char *path, const void *data, size_t len);

// Per-user data root (XDG_DATA_HOME, else $HOME/.local/share; on Windows APPDATA); "" when none is known.
std::string kiv_platform_appdata_dir();
// The environment variables kiv_platform_appdata_dir reads, for the log line when none is set.
const char *kiv_platform_appdata_vars();
// Temporary directory (TMPDIR, else /tmp; on Windows TEMP, else the system's temporary folder).
std::string kiv_platform_temp_dir();
// The user's home directory (HOME; on Windows HOMEPATH); "" when unset.
std::string kiv_platform_home_dir();
// Name of the operating system.
const char *kiv_platform_osinfo();
// The program's own folder with its trailing separator; "" when the system cannot tell.
std::string kiv_platform_exe_dir();

// Whether c separates the parts of a path ('/'; on Windows '\\' too).
bool kiv_platform_path_sep(char c);
// Whether a name is absolute (or drive-relative) on this system: a leading separator; on Windows also a drive
// letter and colon ("C:x", "C:\\x"). Names relative to the data and document directories refuse these.
bool kiv_platform_path_absolute(const char *name);

// Opens the link with the desktop's default handler (xdg-open, no shell; on Windows ShellExecuteA "open", for
// http, https and mailto links only); false, with a log line, when it is refused or could not start.
bool kiv_platform_open_url(const char *url);

// Stop requests from outside (SIGTERM and SIGINT; on Windows Ctrl+C, Ctrl+Break and closing the console): the
// first asks for the orderly shutdown, a repeat within a second is the same request, a later one ends the program at
// once. Init once before anything else starts; stop requests ignored by whoever started us stay ignored.
void kiv_platform_stop_init();
// The request that came since the last call, then cleared; false when none.
bool kiv_platform_stop_requested();
// The orderly shutdown is over and the log flushed: a console close waiting for it may let the process end.
void kiv_platform_stop_done();

// Starts fn(arg) on a detached thread that takes no stop requests (they reach the frame thread); false when no
// thread can be had.
bool kiv_platform_thread_start(void (*fn)(void *), void *arg);

// strtod in the "C" locale whatever the process's locale (a decimal point, never a comma).
double kiv_platform_strtod_c(const char *s, char **end);
// The local time of t; false when the system cannot give it.
bool kiv_platform_localtime(time_t t, struct tm *out);

// The command line as UTF-8 (Windows hands main the ANSI code page); left as it is where it already is UTF-8.
void kiv_platform_main_args(int *argc, char ***argv);

// Path separator that the system itself writes.
#ifdef _WIN32
constexpr char KIV_PLATFORM_SEP = '\\';
#else
constexpr char KIV_PLATFORM_SEP = '/';
#endif
