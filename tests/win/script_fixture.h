/*
 * script_fixture.h: what the script tests share: a scratch working
 * directory, script files written byte for byte, runs waited for to their
 * end, and the reader pane read back with the run time blanked out.
 */
#ifndef VORLANE_SCRIPT_FIXTURE_H
#define VORLANE_SCRIPT_FIXTURE_H

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <regex>
#include <string>
#include <vector>

#include <windows.h>

#include "app/app_state.h"
#include "console/console.h"
#include "script/script.h"
#include "tests/win/win_harness.h"

/* A fresh directory under the temporary one becomes the working directory,
   so relative names ("null", "a.bin") land there; it is removed afterwards. */
class ScriptScratch {
  public:
    void enter() {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        GetCurrentDirectoryA(sizeof old_dir_, old_dir_);
        snprintf(dir_, sizeof dir_, "%svorlane_script_%lu_%d", temp, GetCurrentProcessId(),
                 ++serial_);
        CreateDirectoryA(dir_, NULL);
        SetCurrentDirectoryA(dir_);
    }
    void leave() {
        SetCurrentDirectoryA(old_dir_);
        char pattern[MAX_PATH + 4];
        snprintf(pattern, sizeof pattern, "%s\\*", dir_);
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(pattern, &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                std::string path = std::string(dir_) + "\\" + found.cFileName;
                if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    DeleteFileA(path.c_str());
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
        RemoveDirectoryA(dir_);
    }
    const char *dir() const {
        return dir_;
    }

  private:
    char dir_[MAX_PATH] = "";
    char old_dir_[MAX_PATH] = "";
    static inline int serial_ = 0;
};

/* Writes text exactly as given (binary), line endings included. */
inline void script_write_file(const char *name, const std::string &text) {
    FILE *file = fopen(name, "wb");
    ASSERT_NE(file, (FILE *)0) << name;
    fwrite(text.data(), 1, text.size(), file);
    fclose(file);
}

inline bool script_file_exists(const char *name) {
    return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES;
}

/* The bytes of a file, or "<missing>". */
inline std::string script_read_file(const char *name) {
    FILE *file = fopen(name, "rb");
    if (!file)
        return "<missing>";
    std::string text;
    char chunk[512];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, n);
    fclose(file);
    return text;
}

/* Waits for every run to end while taking in what the runs print. */
inline bool script_wait_all(int ms) {
    DWORD end = GetTickCount() + (DWORD)ms;
    while (!script_runs_wait(0)) {
        if ((int)(end - GetTickCount()) <= 0)
            return false;
        harness_pump(5);
    }
    harness_pump(5);
    return true;
}

/* The reader pane's text with the number of every "Time: N ms" line
   replaced by '#', since the wall clock decides it. */
inline std::string script_pane_text(void) {
    std::string text = harness_window_text(app.reader_edit);
    return std::regex_replace(text, std::regex("Time: [0-9]+ ms"), "Time: # ms");
}

/* The run time printed by the last "Time: N ms" line, or -1. */
inline int script_pane_time(void) {
    std::string text = harness_window_text(app.reader_edit);
    std::smatch match;
    int value = -1;
    for (auto it = text.cbegin();
         std::regex_search(it, text.cend(), match, std::regex("Time: ([0-9]+) ms"));
         it = match.suffix().first)
        value = atoi(match[1].str().c_str());
    return value;
}

inline void script_pane_clear(void) {
    SetWindowTextA(app.reader_edit, "");
    pane_reset(0);
}

/* The closing lines of a run as the pane shows them. */
inline std::string script_end_text(void) {
    return "\r\n\r\nEnd of script\r\nTime: # ms\r\n\r\nVelmo:> Card is ready\r\n";
}

inline int script_count(const std::string &text, const std::string &piece) {
    int n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        n++;
    return n;
}

#endif
