/*
 * pcsc_calls.cpp: the platform's PC/SC service as a table of its calls, for
 * the sessions and the runner that reach a service through one. It names
 * the functions of card/pcsc.h, so it takes whichever of them the build
 * links: card/pcsc.cpp, or the host tests' fake.
 */
#include "card/pcsc.h"

const PcscCalls pcsc_platform = {
    pcsc_establish, pcsc_release,    pcsc_list_readers, pcsc_get_status_change,
    pcsc_connect,   pcsc_disconnect, pcsc_state,        pcsc_transmit,
};
