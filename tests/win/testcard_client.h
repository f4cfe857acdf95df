/* Old name of tests/win/harness/testcard.h, kept for tests written against
   it on other branches; include the harness headers instead. */
#include "tests/win/harness/testcard.h"
