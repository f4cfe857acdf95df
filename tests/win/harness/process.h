/*
 * process.h: the shipped programs started as child processes in a given
 * folder, their standard output and error caught in files, and their
 * windows found and read from outside the process.
 */
#ifndef VORLANE_HARNESS_PROCESS_H
#define VORLANE_HARNESS_PROCESS_H

#include <string>

#include <windows.h>

struct ChildResult {
    DWORD status = 0xFFFFFFFF; /* exit code; 0xFFFFFFFF when it did not end in time */
    std::string out, err;      /* standard output and error, byte for byte */
    DWORD ms = 0;              /* from start to end */
};

/* The folder of this program, where the programs under test are built. */
std::string process_own_dir(void);
/* A file's bytes, or nothing when it cannot be read. */
std::string process_read_file(const std::string &name);
/* Starts command_line in dir, output to files named after tag and standard
   input from the file input (none when empty); 0 on failure. */
HANDLE process_start(const std::string &command_line, const std::string &dir, const char *tag,
                     const std::string &input = "");
/* Waits for the child at most ms (then ends it) and collects its output. */
ChildResult process_finish(HANDLE process, DWORD started, int ms, const char *tag);
/* process_start and process_finish in one. */
ChildResult process_run(const std::string &command_line, const std::string &dir, int ms = 60000,
                        const std::string &input = "");
/* A window of process pid with class class_name, top-level or below one. */
HWND process_find_window(DWORD pid, const char *class_name);
/* A window's text; WM_GETTEXT works across processes. */
std::string process_window_text(HWND window);

#endif
