/*
 * files.cpp: scratch directories and whole-file reads and writes of the tests.
 */
#include "tests/win/harness/files.h"

#include <stdio.h>

void HarnessScratch::enter() {
    static int serial = 0;
    char temp[MAX_PATH];

    GetTempPathA(sizeof temp, temp);
    GetCurrentDirectoryA(sizeof old_dir_, old_dir_);
    snprintf(dir_, sizeof dir_, "%svorlane_scratch_%lu_%d", temp, GetCurrentProcessId(), ++serial);
    CreateDirectoryA(dir_, NULL);
    SetCurrentDirectoryA(dir_);
}

void HarnessScratch::leave() {
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

bool harness_file_write(const std::string &path, const std::string &bytes) {
    FILE *file = fopen(path.c_str(), "wb");
    if (!file)
        return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && ok;
}

std::string harness_file_read(const std::string &path) {
    FILE *file = fopen(path.c_str(), "rb");
    if (!file)
        return "<missing>";
    std::string bytes;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.append(chunk, got);
    fclose(file);
    return bytes;
}

bool harness_file_exists(const std::string &path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string harness_temp_path(const char *name) {
    char directory[MAX_PATH];
    GetTempPathA(sizeof directory, directory);
    std::string path = std::string(directory) + name;
    DeleteFileA(path.c_str());
    return path;
}
