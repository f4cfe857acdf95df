/*
 * process_driver.h: what the tests of the shipped programs share: a program
 * started as a child process in a given folder with its standard output and
 * error in files, waited for with a limit, and its windows found from
 * outside the process.
 */
#ifndef VORLANE_PROCESS_DRIVER_H
#define VORLANE_PROCESS_DRIVER_H

#include <stdio.h>

#include <string>
#include <vector>

#include <windows.h>

/* What a finished child left */
struct ChildResult {
    DWORD status = 0xFFFFFFFF; /* exit code; 0xFFFFFFFF when it did not end in time */
    std::string out;           /* standard output, byte for byte */
    std::string err;           /* standard error */
    DWORD ms = 0;              /* time from start to end */
};

/* The folder of this test program, where the programs under test are built. */
inline std::string process_own_dir(void) {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(NULL, path, sizeof path);
    std::string dir(path);
    size_t cut = dir.find_last_of("\\/");
    return cut == std::string::npos ? std::string(".") : dir.substr(0, cut);
}

inline std::string process_read_file(const std::string &name) {
    std::string text;
    FILE *file = fopen(name.c_str(), "rb");
    if (!file)
        return text;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, n);
    fclose(file);
    return text;
}

inline HANDLE process_output_file(const std::string &name) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    return CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
}

/* Starts command_line in dir; its output goes to files in the temporary
   folder. Returns the process handle, 0 when it did not start. */
inline HANDLE process_start(const std::string &command_line, const std::string &dir,
                            const std::string &tag) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string out = std::string(temp) + tag + ".out", err = std::string(temp) + tag + ".err";
    HANDLE out_file = process_output_file(out), err_file = process_output_file(err);
    STARTUPINFOA startup;
    PROCESS_INFORMATION info;
    memset(&startup, 0, sizeof startup);
    memset(&info, 0, sizeof info);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out_file;
    startup.hStdError = err_file;
    std::vector<char> line(command_line.begin(), command_line.end());
    line.push_back(0);
    BOOL started =
        CreateProcessA(NULL, line.data(), NULL, NULL, TRUE, 0, NULL, dir.c_str(), &startup, &info);
    CloseHandle(out_file);
    CloseHandle(err_file);
    if (!started)
        return 0;
    CloseHandle(info.hThread);
    return info.hProcess;
}

/* Waits for the child at most ms (then ends it) and collects its output. */
inline ChildResult process_finish(HANDLE process, DWORD started, int ms, const std::string &tag) {
    ChildResult result;
    if (WaitForSingleObject(process, (DWORD)ms) == WAIT_OBJECT_0)
        GetExitCodeProcess(process, &result.status);
    else
        TerminateProcess(process, 0xFFFFFFFF);
    result.ms = GetTickCount() - started;
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string out = std::string(temp) + tag + ".out", err = std::string(temp) + tag + ".err";
    result.out = process_read_file(out);
    result.err = process_read_file(err);
    DeleteFileA(out.c_str());
    DeleteFileA(err.c_str());
    return result;
}

/* Runs command_line in dir to its end (at most ms). */
inline ChildResult process_run(const std::string &command_line, const std::string &dir,
                               int ms = 60000) {
    DWORD started = GetTickCount();
    HANDLE process = process_start(command_line, dir, "vorlane_child");
    if (!process)
        return ChildResult();
    return process_finish(process, started, ms, "vorlane_child");
}

/* A window of process pid whose class is class_name: top-level windows and
   all their descendants are searched. */
struct ProcessWindowFind {
    DWORD pid;
    const char *class_name;
    HWND found;
};

inline BOOL CALLBACK process_find_child(HWND window, LPARAM param) {
    ProcessWindowFind *find = (ProcessWindowFind *)param;
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    if (lstrcmpiA(name, find->class_name) == 0) {
        find->found = window;
        return FALSE;
    }
    return TRUE;
}

inline BOOL CALLBACK process_find_top(HWND window, LPARAM param) {
    ProcessWindowFind *find = (ProcessWindowFind *)param;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != find->pid)
        return TRUE;
    process_find_child(window, param);
    if (!find->found)
        EnumChildWindows(window, process_find_child, param);
    return find->found ? FALSE : TRUE;
}

inline HWND process_find_window(DWORD pid, const char *class_name) {
    ProcessWindowFind find = {pid, class_name, 0};
    EnumWindows(process_find_top, (LPARAM)&find);
    return find.found;
}

/* The text of another process's window (WM_GETTEXT works across processes). */
inline std::string process_window_text(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
        return std::string();
    std::vector<char> text(length + 1, 0);
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, (WPARAM)text.size(), (LPARAM)text.data(),
                        SMTO_ABORTIFHUNG, 5000, &copied);
    return std::string(text.data(), copied);
}

#endif
