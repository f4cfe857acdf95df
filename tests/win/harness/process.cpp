/*
 * process.cpp: child processes of the tests and their windows (process.h).
 */
#include "tests/win/harness/process.h"

#include <stdio.h>

#include <vector>

/* The folder of this program, where the programs under test are built. */
std::string process_own_dir(void) {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(NULL, path, sizeof path);
    std::string dir(path);
    return dir.substr(0, dir.find_last_of("\\/"));
}

std::string process_read_file(const std::string &name) {
    std::string text;
    FILE *file = fopen(name.c_str(), "rb");
    char chunk[4096];
    size_t n;
    while (file && (n = fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, n);
    if (file)
        fclose(file);
    return text;
}

static std::string process_temp_name(const char *tag, const char *kind) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    return std::string(temp) + tag + kind;
}

static HANDLE process_output_file(const std::string &name) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    return CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
}

/* Starts command_line in dir, output to files named after tag; 0 on failure. */
HANDLE process_start(const std::string &command_line, const std::string &dir, const char *tag,
                     const std::string &input) {
    STARTUPINFOA startup = {};
    PROCESS_INFORMATION info = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = process_output_file(process_temp_name(tag, ".out"));
    startup.hStdError = process_output_file(process_temp_name(tag, ".err"));
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    if (!input.empty())
        startup.hStdInput = CreateFileA(input.c_str(), GENERIC_READ, FILE_SHARE_READ, &inherit,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    std::vector<char> line(command_line.begin(), command_line.end());
    line.push_back(0);
    BOOL started =
        CreateProcessA(NULL, line.data(), NULL, NULL, TRUE, 0, NULL, dir.c_str(), &startup, &info);
    CloseHandle(startup.hStdOutput);
    CloseHandle(startup.hStdError);
    if (startup.hStdInput)
        CloseHandle(startup.hStdInput);
    if (!started)
        return 0;
    CloseHandle(info.hThread);
    return info.hProcess;
}

/* Waits for the child at most ms (then ends it) and collects its output. */
ChildResult process_finish(HANDLE process, DWORD started, int ms, const char *tag) {
    ChildResult result;
    if (WaitForSingleObject(process, (DWORD)ms) == WAIT_OBJECT_0)
        GetExitCodeProcess(process, &result.status);
    else
        TerminateProcess(process, 0xFFFFFFFF);
    result.ms = GetTickCount() - started;
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
    result.out = process_read_file(process_temp_name(tag, ".out"));
    result.err = process_read_file(process_temp_name(tag, ".err"));
    DeleteFileA(process_temp_name(tag, ".out").c_str());
    DeleteFileA(process_temp_name(tag, ".err").c_str());
    return result;
}

ChildResult process_run(const std::string &command_line, const std::string &dir, int ms,
                        const std::string &input) {
    DWORD started = GetTickCount();
    HANDLE process = process_start(command_line, dir, "vorlane_child", input);
    return process ? process_finish(process, started, ms, "vorlane_child") : ChildResult();
}

/* A window of process pid with class class_name, top-level or below one. */
struct ProcessWindowFind {
    DWORD pid;
    const char *class_name;
    HWND found;
};

static BOOL CALLBACK process_find_class(HWND window, LPARAM param) {
    ProcessWindowFind *find = (ProcessWindowFind *)param;
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    if (lstrcmpiA(name, find->class_name) == 0)
        find->found = window;
    return find->found ? FALSE : TRUE;
}

static BOOL CALLBACK process_find_top(HWND window, LPARAM param) {
    ProcessWindowFind *find = (ProcessWindowFind *)param;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == find->pid && process_find_class(window, param))
        EnumChildWindows(window, process_find_class, param);
    return find->found ? FALSE : TRUE;
}

HWND process_find_window(DWORD pid, const char *class_name) {
    ProcessWindowFind find = {pid, class_name, 0};
    EnumWindows(process_find_top, (LPARAM)&find);
    return find.found;
}

/* WM_GETTEXT works across processes. */
std::string process_window_text(HWND window) {
    std::vector<char> text(1 << 20, 0);
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, (WPARAM)text.size(), (LPARAM)text.data(),
                             SMTO_ABORTIFHUNG, 5000, &copied))
        return std::string();
    return std::string(text.data(), copied);
}
