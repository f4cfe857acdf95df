/* Old name of tests/win/harness/net.h, kept for tests written against it on
   other branches; include the harness headers instead. */
#ifndef VORLANE_NET_CLIENT_H
#define VORLANE_NET_CLIENT_H
#include "app/app.h"
#include "tests/win/harness/frame.h"
#include "tests/win/harness/net.h"

inline bool net_with_pump(const std::function<void()> &work, int ms = 20000) {
    return harness_with_pump(work, ms);
}
#endif
