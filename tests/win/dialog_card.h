/*
 * dialog_card.h: a card reader window with the rig's test card ready in
 * reader 0, for the card tests of the Command, memory and tag dialogs.
 */
#ifndef VORLANE_DIALOG_CARD_H
#define VORLANE_DIALOG_CARD_H

#include <string>
#include <vector>

#include <windows.h>

#include "app/app_state.h"
#include "console/console.h"
#include "resources/resource.h"
#include "script/script.h"
#include "tests/win/testcard_client.h"
#include "tests/win/win_harness.h"

/* A contactless-style ATR the test card answers with (T=1). */
static const char dialog_card_atr[] = "3B8F8001804F0CA000000306030001000000006A";

static bool dialog_card_is_ready(void) {
    return app.card_state == CARD_READY;
}

/* Opens the frame and a reader window that follows reader 0 holding a
   fresh test card, waits until the card is ready and its start script has
   ended, then empties the reader pane and the card's log. */
static inline bool dialog_card_open(void) {
    harness_frame_open();
    if (!testcard_reset_state(0) || !testcard_insert(0, dialog_card_atr) || !testcard_remove(1))
        return false;
    SendMessageA(app.frame_window, WM_COMMAND, IDM_NEW_READER, 0);
    if (!harness_pump_until(dialog_card_is_ready, 15000))
        return false;
    script_runs_wait(10000);
    harness_pump(100);
    SetWindowTextA(app.reader_edit, "");
    pane_reset(0);
    testcard_log_clear(0);
    return true;
}

static inline void dialog_card_close(void) {
    harness_frame_close();
    testcard_remove(0);
}

/* The commands the card received, as "C: <HEX>" lines, in order. */
static inline std::vector<std::string> dialog_card_commands(void) {
    std::vector<std::string> commands;
    for (const std::string &line : testcard_log(0))
        if (line.compare(0, 3, "C: ") == 0)
            commands.push_back(line.substr(3));
    return commands;
}

#endif
