/* Old name of tests/win/harness/dialog.h and files.h, kept for tests written
   against it on other branches; include the harness headers instead. */
#ifndef VORLANE_DIALOG_DRIVER_H
#define VORLANE_DIALOG_DRIVER_H
#include "app/app_state.h"
#include "tests/win/harness/dialog.h"
#include "tests/win/harness/files.h"
#include "tests/win/harness/frame.h"

inline std::string temp_path(const char *name) {
    return harness_temp_path(name);
}
inline bool file_write_bytes(const std::string &path, const std::string &bytes) {
    return harness_file_write(path, bytes);
}
inline std::string file_read_bytes(const std::string &path) {
    return harness_file_read(path);
}
#endif
