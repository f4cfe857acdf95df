/* Old name of the dialog card helpers, now in tests/win/harness/card.h, kept
   for tests written against it on other branches. */
#ifndef VORLANE_DIALOG_CARD_H
#define VORLANE_DIALOG_CARD_H
#include "app/app_state.h"
#include "console/console.h"
#include "resources/resource.h"
#include "script/script.h"
#include "tests/win/harness/card.h"
#include "tests/win/harness/frame.h"

inline constexpr const char *dialog_card_atr = testcard_demo_atr;
#endif
