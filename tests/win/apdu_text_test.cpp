/*
 * apdu_text_test.cpp: the APDU text cases of the native test, run against
 * the Windows C runtime, whose scanf must give the same bytes and verdicts.
 */
#include "tests/apdu_text_cases.h"

TEST(ApduTextWindows, EveryCaseOfTheTable) {
    apdu_text_check_cases();
}
