/*
 * bench_frame.h: the set-up the Win32 benchmarks share: the lines and
 * rounds of their command line, the rig's demo card alone in reader 0, and
 * the program's frame with its reader window following that card.
 */
#ifndef VORLANE_BENCH_FRAME_H
#define VORLANE_BENCH_FRAME_H

#include <string.h>

#include <windows.h>

#include "app/app.h"
#include "app/app_state.h"
#include "card/card.h"
#include "resources/names.h"
#include "resources/resource.h"
#include "script/script.h"
#include "tests/win/harness/frame.h"
#include "tests/win/harness/testcard.h"

/* At least two lines (one of each APDU) and one round. */
static inline void bench_counts_floor(int *count, int *rounds) {
    if (*count < 2)
        *count = 2;
    if (*rounds < 1)
        *rounds = 1;
}

/* Reader 1 empty and a demo card, in its first state, in reader 0; 0 when
   the rig does not take it. */
static inline int bench_card_insert(void) {
    testcard_remove(1);
    testcard_reset_state(0);
    return testcard_insert(0, testcard_demo_atr);
}

/* The program's frame (shown with show) and its reader window, the card
   ready and its start script ended; the window's presence checks are
   stopped, so that none falls into a timing. 0 when no card got ready. */
static inline int bench_frame_open(int show) {
    HINSTANCE instance = GetModuleHandleA(NULL);

    app_state_init();
    app.gui.instance = instance;
    app.gui.gui_thread_id = GetCurrentThreadId();
    app_locks_create();
    strcpy(app.auto_script_name, "no-such-script.txt");
    app_register_classes(instance);
    app.gui.frame_menu = LoadMenuA(instance, RES_MENU_MAIN);
    app.gui.window_menu = GetSubMenu(app.gui.frame_menu, 1);
    if (!app_create_frame(show))
        return 0;
    SendMessageA(app.gui.frame_window, WM_COMMAND, IDM_NEW_READER, 0);
    for (int i = 0; i < 100 && gui_session()->card_state != CARD_READY; i++)
        harness_pump(50);
    if (gui_session()->card_state != CARD_READY)
        return 0;
    while (!script_runs_wait(0))
        harness_pump(5);
    KillTimer(app.gui.panes[PANE_READER].window, 1); /* no presence checks during the timing */
    return 1;
}

#endif
