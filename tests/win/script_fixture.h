/* Old name of tests/win/harness/script.h and files.h, kept for tests written
   against it on other branches; include the harness headers instead. */
#ifndef VORLANE_SCRIPT_FIXTURE_H
#define VORLANE_SCRIPT_FIXTURE_H
#include <gtest/gtest.h>

#include "app/app_state.h"
#include "console/console.h"
#include "script/script.h"
#include "tests/win/harness/files.h"
#include "tests/win/harness/frame.h"
#include "tests/win/harness/script.h"

using ScriptScratch = HarnessScratch;
inline void script_write_file(const char *name, const std::string &text) {
    ASSERT_TRUE(harness_file_write(name, text)) << name;
}
inline bool script_file_exists(const char *name) {
    return harness_file_exists(name);
}
inline std::string script_read_file(const char *name) {
    return harness_file_read(name);
}
inline bool script_wait_all(int ms) {
    return harness_scripts_wait(ms);
}
#endif
