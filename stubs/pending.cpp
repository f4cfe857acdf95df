/*
 * pending.cpp: entry points of subsystems still being built, so that every
 * commit links. Each line goes when its subsystem's own file lands.
 */
#include "app/app.h"
#include "app/app_state.h"
#include "card/card.h"
#include "dialogs/dialogs.h"
#include "net/net.h"
#include "script/script.h"

