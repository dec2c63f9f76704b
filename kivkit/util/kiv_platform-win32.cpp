// Windows layer under the driver: file status, directories, atomic saves, environment directories, stop requests
// from the console, threads and the URL opener. UTF-8 paths become wide-character calls here and nowhere else.
#include "kiv_platform.h"
#include "kiv_platform_int.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <locale.h>
#include <system_error>
#include <thread>
#include <vector>

#include "kiv_printf.h"

// --- constants

// `timeout`-like tools send a stop twice: what comes within this time of the first is the same request.
static const ULONGLONG _KIV_PLATFORM_STOP_REPEAT_MS = 1000;
// Closing the console leaves the handler about 5 s before the system ends the process: the orderly shutdown gets
// most of it.
static const DWORD _KIV_PLATFORM_CLOSE_WAIT_MS = 4500;
// Seconds between 1601-01-01 (FILETIME) and 1970-01-01, in 100-ns units.
static const long long _KIV_PLATFORM_EPOCH_DIFF = 116444736000000000LL;

// --- state

static std::atomic<int> _kiv_platform_stop_flag{0};
static std::atomic<ULONGLONG> _kiv_platform_stop_first_ms{0};
static HANDLE _kiv_platform_stop_done_event = nullptr;

// --- internal helpers

// UTF-8 to UTF-16; false (errno EINVAL) for bytes that are not UTF-8, so a bad name never reaches another file.
static bool _kiv_platform_wide(const char *s, std::wstring *out) {
    out->clear();
    if (!s) {
        errno = EINVAL;
        return false;
    }
    if (!*s)
        return true;
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s, -1, nullptr, 0);
    if (n <= 0) {
        errno = EINVAL;
        return false;
    }
    out->resize((size_t)n);
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s, -1, &(*out)[0], n);
    out->resize((size_t)n - 1);
    return true;
}

static std::string _kiv_platform_utf8(const wchar_t *w) {
    if (!w || !*w)
        return "";
    int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return "";
    std::string s((size_t)n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w, -1, &s[0], n, nullptr, nullptr);
    s.resize((size_t)n - 1);
    return s;
}

// errno for the last Win32 failure, so the driver's log lines name the cause as on POSIX.
static int _kiv_platform_errno_of(DWORD e) {
    switch (e) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EBUSY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_INVALID_NAME:
        return EINVAL;
    default:
        return EIO;
    }
}

static void _kiv_platform_set_errno() {
    errno = _kiv_platform_errno_of(GetLastError());
}

static bool _kiv_platform_attrs(const char *path, WIN32_FILE_ATTRIBUTE_DATA *a) {
    std::wstring w;
    if (!path || !*path || !_kiv_platform_wide(path, &w))
        return false;
    return GetFileAttributesExW(w.c_str(), GetFileExInfoStandard, a) != 0;
}

static bool _kiv_platform_is_sep(wchar_t c) {
    return c == L'/' || c == L'\\';
}

size_t _kiv_platform_base_at(const std::string &path) {
    size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos)
        return path.size() >= 2 && path[1] == ':' ? 2 : 0;
    return slash + 1;
}

size_t _kiv_platform_name_units(const std::string &name) {
    std::wstring w;
    return _kiv_platform_wide(name.c_str(), &w) ? w.size() : name.size();
}

// One name may have 255 UTF-16 units.
size_t _kiv_platform_name_max(const std::string &) {
    return 255;
}

unsigned long _kiv_platform_pid() {
    return (unsigned long)GetCurrentProcessId();
}

FILE *_kiv_platform_create_new(const std::string &path) {
    std::wstring w;
    if (!_kiv_platform_wide(path.c_str(), &w))
        return nullptr;
    int fd = _wopen(w.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return nullptr;
    FILE *f = _fdopen(fd, "wb");
    if (!f) {
        int err = errno;
        _close(fd);
        DeleteFileW(w.c_str());
        errno = err;
    }
    return f;
}

bool _kiv_platform_write_synced(FILE *f, const void *data, size_t len) {
    bool ok = len == 0 || fwrite(data, 1, len, f) == len;
    ok = fflush(f) == 0 && ok;
    HANDLE h = (HANDLE)_get_osfhandle(_fileno(f));
    return ok && h != INVALID_HANDLE_VALUE && FlushFileBuffers(h);
}

// A rename here is written through (MOVEFILE_WRITE_THROUGH): there is no folder to sync.
void _kiv_platform_sync_dir(const char *) {}

static std::string _kiv_platform_env(const wchar_t *name) {
    const wchar_t *v = _wgetenv(name);
    return v ? _kiv_platform_utf8(v) : std::string();
}

// Writes all of data through h and flushes it to the disk; false with errno.
static bool _kiv_platform_write_all(HANDLE h, const void *data, size_t len) {
    const char *p = (const char *)data;
    while (len > 0) {
        DWORD chunk = len > (1u << 30) ? (1u << 30) : (DWORD)len, n = 0;
        if (!WriteFile(h, p, chunk, &n, nullptr) || n == 0) {
            _kiv_platform_set_errno();
            return false;
        }
        p += n;
        len -= n;
    }
    if (!FlushFileBuffers(h)) {
        _kiv_platform_set_errno();
        return false;
    }
    return true;
}

static bool _kiv_platform_move_over(const std::wstring &from, const std::wstring &to) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    _kiv_platform_set_errno();
    return false;
}

// --- public functions

KivFileKind kiv_platform_file_kind(const char *path) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!_kiv_platform_attrs(path, &a))
        return KIV_FILE_NONE;
    if (a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return KIV_FILE_DIR;
    if (a.dwFileAttributes & FILE_ATTRIBUTE_DEVICE)
        return KIV_FILE_OTHER;
    return KIV_FILE_REGULAR;
}

FILE *kiv_platform_fopen(const char *path, const char *mode) {
    std::wstring wp, wm;
    if (!path || !mode || !_kiv_platform_wide(path, &wp) || !_kiv_platform_wide(mode, &wm)) {
        errno = EINVAL;
        return nullptr;
    }
    return _wfopen(wp.c_str(), wm.c_str());
}

bool kiv_platform_file_replace(const char *from, const char *to) {
    std::wstring wf, wt;
    if (!from || !to || !_kiv_platform_wide(from, &wf) || !_kiv_platform_wide(to, &wt))
        return false;
    return _kiv_platform_move_over(wf, wt);
}

bool kiv_platform_file_remove(const char *path) {
    std::wstring w;
    if (!path || !_kiv_platform_wide(path, &w))
        return false;
    if (DeleteFileW(w.c_str()))
        return true;
    _kiv_platform_set_errno();
    return false;
}

bool kiv_platform_file_regular(const char *path) {
    return kiv_platform_file_kind(path) == KIV_FILE_REGULAR;
}

bool kiv_platform_file_stat(const char *path, long long *size, time_t *mtime, long long *mtime_ns) {
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!_kiv_platform_attrs(path, &a) || (a.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)))
        return false;
    long long ticks = ((long long)a.ftLastWriteTime.dwHighDateTime << 32) | a.ftLastWriteTime.dwLowDateTime;
    ticks -= _KIV_PLATFORM_EPOCH_DIFF; // 100-ns units since 1970
    if (size)
        *size = ((long long)a.nFileSizeHigh << 32) | a.nFileSizeLow;
    if (mtime)
        *mtime = (time_t)(ticks >= 0 ? ticks / 10000000 : (ticks - 9999999) / 10000000);
    if (mtime_ns)
        *mtime_ns = ticks * 100;
    return true;
}

bool kiv_platform_mkdir_p(const char *path) {
    std::wstring w;
    if (!path || !*path || !_kiv_platform_wide(path, &w))
        return false;
    while (w.size() > 1 && _kiv_platform_is_sep(w.back()) && !(w.size() == 3 && w[1] == L':'))
        w.pop_back();
    // Past a drive ("C:", "C:\") or a server and share ("\\server\share\"), which are never made.
    size_t start = 1;
    if (w.size() >= 2 && w[1] == L':')
        start = 3;
    else if (w.size() >= 2 && _kiv_platform_is_sep(w[0]) && _kiv_platform_is_sep(w[1])) {
        size_t seps = 0;
        for (start = 2; start < w.size() && seps < 2; start++)
            if (_kiv_platform_is_sep(w[start]))
                seps++;
    }
    for (size_t i = start; i <= w.size(); i++) {
        if (i < w.size() && !_kiv_platform_is_sep(w[i]))
            continue;
        std::wstring part = w.substr(0, i);
        if (_wmkdir(part.c_str()) != 0 && errno != EEXIST)
            return false;
    }
    return kiv_platform_file_kind(path) == KIV_FILE_DIR;
}

bool kiv_platform_file_write_atomic(const char *path, const void *data, size_t len) {
    if (!_kiv_platform_write_target_ok(path, data, len))
        return false;
    std::string tmp = kiv_platform_tmp_name(path);
    std::wstring wtmp, wpath;
    if (!_kiv_platform_wide(tmp.c_str(), &wtmp) || !_kiv_platform_wide(path, &wpath))
        return false;
    // Held without read or write sharing, so a second writer of the same name waits here instead of truncating
    // this one's file; shared for delete, so the finished file can be renamed while still held.
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int tries = 0; tries < 1000 && h == INVALID_HANDLE_VALUE; tries++) {
        h = CreateFileW(wtmp.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_SHARING_VIOLATION)
            break;
        if (h == INVALID_HANDLE_VALUE)
            Sleep(10);
    }
    if (h == INVALID_HANDLE_VALUE) {
        _kiv_platform_set_errno();
        return false;
    }
    bool written = _kiv_platform_write_all(h, data, len);
    bool ok = written && _kiv_platform_move_over(wtmp, wpath);
    // A target still held open (by a reader, a scanner, or another writer in the moment between its own replace and
    // letting go) cannot be replaced yet: sharing violation or access denied for that moment.
    for (int tries = 0; written && !ok && (errno == EBUSY || errno == EACCES) && tries < 200; tries++) {
        Sleep(10);
        ok = _kiv_platform_move_over(wtmp, wpath);
    }
    int err = errno;
    if (!ok)
        DeleteFileW(wtmp.c_str());
    CloseHandle(h);
    if (!ok)
        errno = err;
    return ok;
}

std::string kiv_platform_appdata_dir() {
    return _kiv_platform_env(L"APPDATA");
}

const char *kiv_platform_appdata_vars() {
    return "APPDATA";
}

std::string kiv_platform_temp_dir() {
    std::string t = _kiv_platform_env(L"TEMP");
    if (!t.empty())
        return t;
    wchar_t buf[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, buf);
    if (n == 0 || n > MAX_PATH)
        return ".";
    std::string s = _kiv_platform_utf8(buf);
    while (s.size() > 3 && (s.back() == '\\' || s.back() == '/'))
        s.pop_back();
    return s;
}

std::string kiv_platform_home_dir() {
    return _kiv_platform_env(L"HOMEPATH");
}

const char *kiv_platform_osinfo() {
    return "Windows";
}

std::string kiv_platform_exe_dir() {
    std::vector<wchar_t> buf(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buf.data(), (DWORD)buf.size());
        if (n == 0)
            return "";
        if (n < buf.size())
            break;
        if (buf.size() >= 32768)
            return "";
        buf.resize(buf.size() * 2);
    }
    std::string s = _kiv_platform_utf8(buf.data());
    size_t slash = s.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : s.substr(0, slash + 1);
}

bool kiv_platform_path_sep(char c) {
    return c == '/' || c == '\\';
}

bool kiv_platform_path_absolute(const char *name) {
    if (!name || !*name)
        return false;
    if (kiv_platform_path_sep(name[0]))
        return true;
    unsigned char c = (unsigned char)name[0];
    return ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) && name[1] == ':';
}

// ShellExecute runs whatever a name names (a program, a local file, a share), so only web and mail links go to
// it, and only in plain printable ASCII (the "A" call reads the ANSI code page, and a quote would end the
// argument that the handler's command line puts the link in).
static const char *_kiv_platform_url_refusal(const char *url) {
    if (url[0] == '-')
        return "starts with '-'";
    static const char *schemes[] = {"http://", "https://", "mailto:"};
    bool known = false;
    for (const char *s : schemes)
        known = known || _strnicmp(url, s, strlen(s)) == 0;
    if (!known)
        return "not an http, https or mailto link";
    for (const char *p = url; *p; p++) {
        unsigned char c = (unsigned char)*p;
        if (c <= 0x20 || c >= 0x7f || c == '"')
            return "not plain printable ASCII";
    }
    return nullptr;
}

bool kiv_platform_open_url(const char *url) {
    if (!url || !*url)
        return false;
    if (const char *why = _kiv_platform_url_refusal(url)) {
        kiv_printf("open_url: link refused (%s): %s\n", why, url);
        return false;
    }
    kiv_printf("Win32:WebPage\n");
    INT_PTR rc = (INT_PTR)ShellExecuteA(nullptr, "open", url, nullptr, nullptr, SW_SHOWNORMAL);
    if (rc <= 32) {
        kiv_printf("open_url: ShellExecute failed (%d)\n", (int)rc);
        return false;
    }
    return true;
}

// True for the first request and its repeats within a second; false for a later one, which ends the program.
static bool _kiv_platform_stop_note() {
    ULONGLONG now = GetTickCount64() | 1; // never 0, the "no request yet" mark
    ULONGLONG first = 0;
    if (_kiv_platform_stop_first_ms.compare_exchange_strong(first, now)) {
        _kiv_platform_stop_flag.store(1);
        return true;
    }
    return now - first < _KIV_PLATFORM_STOP_REPEAT_MS;
}

// Runs on a thread of the system's own. Ctrl+C and Ctrl+Break only set the flag, as the POSIX signals do; a later
// one goes on to the default handler, which ends the process at once. A console close ends the process as soon as
// this returns, so it waits (bounded) until the frame loop has finished the orderly shutdown, then past it so the
// program's own exit, with its status, comes first.
static BOOL WINAPI _kiv_platform_on_console(DWORD type) {
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        return _kiv_platform_stop_note() ? TRUE : FALSE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: {
        _kiv_platform_stop_note();
        ULONGLONG start = GetTickCount64();
        if (_kiv_platform_stop_done_event)
            WaitForSingleObject(_kiv_platform_stop_done_event, _KIV_PLATFORM_CLOSE_WAIT_MS);
        ULONGLONG spent = GetTickCount64() - start;
        if (spent < _KIV_PLATFORM_CLOSE_WAIT_MS)
            Sleep((DWORD)(_KIV_PLATFORM_CLOSE_WAIT_MS - spent));
        return TRUE;
    }
    default:
        return FALSE;
    }
}

void kiv_platform_stop_init() {
    if (!_kiv_platform_stop_done_event)
        _kiv_platform_stop_done_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // A process started with Ctrl+C ignored (a new process group) never sees it here either: it stays ignored.
    SetConsoleCtrlHandler(_kiv_platform_on_console, TRUE);
}

bool kiv_platform_stop_requested() {
    return _kiv_platform_stop_flag.exchange(0) != 0;
}

void kiv_platform_stop_done() {
    if (_kiv_platform_stop_done_event)
        SetEvent(_kiv_platform_stop_done_event);
}

bool kiv_platform_thread_start(void (*fn)(void *), void *arg) {
    // Console events arrive on a thread of their own, so a worker needs nothing masked.
    try {
        std::thread(fn, arg).detach();
    } catch (const std::system_error &) {
        return false;
    }
    return true;
}

double kiv_platform_strtod_c(const char *s, char **end) {
    static _locale_t c_locale = _create_locale(LC_NUMERIC, "C");
    return c_locale ? _strtod_l(s, end, c_locale) : strtod(s, end);
}

bool kiv_platform_localtime(time_t t, struct tm *out) {
    return localtime_s(out, &t) == 0;
}

void kiv_platform_main_args(int *argc, char ***argv) {
    static std::vector<std::string> args;
    static std::vector<char *> ptrs;
    int n = 0;
    wchar_t **w = CommandLineToArgvW(GetCommandLineW(), &n);
    if (!w)
        return;
    args.clear();
    for (int i = 0; i < n; i++)
        args.push_back(_kiv_platform_utf8(w[i]));
    LocalFree(w);
    ptrs.clear();
    for (std::string &a : args)
        ptrs.push_back(&a[0]);
    ptrs.push_back(nullptr);
    *argc = n;
    *argv = ptrs.data();
}
