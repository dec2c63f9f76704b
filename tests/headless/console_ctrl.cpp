// Windows only: starts a program with its output piped, copies its lines into a log file, and once a line equals
// the cue sends it a console control event (Ctrl+C or Ctrl+Break, to every process of the console),
// then writes "exit status: N" when it ends. Used by test_console_ctrl.py, which cannot send console events itself.
// Usage: kiv_console_ctrl c|break|twice <cue> <log file> <program> [arguments...]
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

static std::wstring widen(const char *s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
    std::wstring w(n > 0 ? n - 1 : 0, L'\0');
    if (n > 1)
        MultiByteToWideChar(CP_UTF8, 0, s, -1, &w[0], n);
    return w;
}

static std::wstring quote(const std::wstring &a) {
    std::wstring q = L"\"";
    for (wchar_t c : a)
        q += c == L'"' ? std::wstring(L"\\\"") : std::wstring(1, c);
    return q + L"\"";
}

static BOOL WINAPI ignore_all(DWORD) {
    return TRUE;
}

int main(int argc, char **argv) {
    if (argc < 5) {
        fprintf(stderr, "usage: %s c|break|twice <cue> <log file> <program> [arguments...]\n", argv[0]);
        return 2;
    }
    FILE *log = fopen(argv[3], "wb");
    if (!log)
        return 2;
    const std::string how = argv[1], cue = argv[2];
    bool brk = how == "break", twice = how == "twice";
    DWORD ev = brk ? CTRL_BREAK_EVENT : CTRL_C_EVENT;
    std::wstring cmd;
    for (int i = 4; i < argc; i++)
        cmd += (i > 4 ? L" " : L"") + quote(widen(argv[i]));
    // Console events travel only inside a console: one of our own when we were started without one (a pipe).
    AllocConsole();
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    HANDLE rd, wr;
    if (!CreatePipe(&rd, &wr, &sa, 0))
        return 2;
    SetHandleInformation(rd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = si.hStdError = wr;
    PROCESS_INFORMATION pi = {};
    // The program shares this console and its process group, as a program started from a console window does (a new
    // group would ignore Ctrl+C).
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        fprintf(stderr, "cannot start the program (%lu)\n", GetLastError());
        return 2;
    }
    CloseHandle(wr);
    // Set after the start, so the child does not inherit it: this relay itself outlives the events it sends.
    SetConsoleCtrlHandler(nullptr, TRUE);
    SetConsoleCtrlHandler(ignore_all, TRUE);
    std::string line;
    bool sent = false;
    char buf[4096];
    DWORD n;
    while (ReadFile(rd, buf, sizeof(buf), &n, nullptr) && n > 0) {
        fwrite(buf, 1, n, log);
        fflush(log);
        for (DWORD i = 0; i < n; i++) {
            if (buf[i] != '\n') {
                line += buf[i];
                continue;
            }
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (!sent && line == cue) {
                sent = true;
                GenerateConsoleCtrlEvent(ev, 0);
                if (twice) {
                    // Past the second in which a repeat is the same request: this one ends the program at once.
                    Sleep(1500);
                    GenerateConsoleCtrlEvent(ev, 0);
                }
            }
            line.clear();
        }
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    fprintf(log, "exit status: %lu\n", code);
    fclose(log);
    return 0;
}
