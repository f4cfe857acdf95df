/* Old name of tests/win/harness/card.h and files.h, kept for tests written
   against it on other branches; include the harness headers instead. */
#ifndef VORLANE_CARD_FIXTURE_H
#define VORLANE_CARD_FIXTURE_H
#include <gtest/gtest.h>

#include <windows.h>
#include <winscard.h>

#include "app/app_state.h"
#include "card/card.h"
#include "console/console.h"
#include "resources/resource.h"
#include "script/script.h"
#include "tests/win/harness/card.h"
#include "tests/win/harness/files.h"
#include "tests/win/harness/frame.h"

using CardScratch = HarnessScratch;
inline constexpr const char *card_demo_atr = testcard_demo_atr;
inline constexpr const char *const *card_reader_names = testcard_reader_names;
inline void card_write_file(const char *name, const std::string &text) {
    ASSERT_TRUE(harness_file_write(name, text)) << name;
}
inline bool card_scripts_wait(int ms) {
    return harness_scripts_wait(ms);
}
inline void card_pane_clear(HWND edit, int pane) {
    harness_pane_clear(edit, pane);
}
#endif
