/*
 * main.cpp: the main of every Win32 test program. The locks exist before
 * any test runs, as they do in the program.
 */
#include <gtest/gtest.h>
#include <stdio.h>

#include <windows.h>

#include "app/app_state.h"

int main(int argc, char **argv) {
    testing::InitGoogleTest(&argc, argv);
    app_state_init();
    app_locks_create();
    int result = RUN_ALL_TESTS();
    /* End at once: a thread of a common dialog or of the rig's DLL left
       behind must not hold up the process exit under Wine. */
    fflush(stdout);
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), (UINT)result);
    return result;
}
