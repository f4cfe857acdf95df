/*
 * script_scp.h: the secure channel of a run ("/SCP LEVEL KEYS ..." to
 * "/SCP END"). In the GUI a run holds its own; in the runner a card's
 * scripts share one, which the runner ends after the card's last script.
 */
#ifndef VORLANE_SCRIPT_SCP_H
#define VORLANE_SCRIPT_SCP_H

#include "scp/scp.h"

/* What a channel is */
enum {
    SCRIPT_CHANNEL_NONE = 0, /* lines go out in the clear */
    SCRIPT_CHANNEL_OPEN,     /* every APDU line is wrapped, every answer unwrapped */
    SCRIPT_CHANNEL_BROKEN,   /* a channel failed: no APDU line goes out */
};

enum { SCRIPT_CHANNEL_PLACE_SIZE = 224 }; /* "FILE line N round K (why)" */

/* One secure channel. Zero it to start; script_channel_end ends it. Owned
   by the thread that runs the scripts. */
struct ScriptChannel {
    int state;                                 /* SCRIPT_CHANNEL_* */
    unsigned long connection;                  /* the session's connection it was opened on */
    char broken_at[SCRIPT_CHANNEL_PLACE_SIZE]; /* the line that broke it, as messages name it,
                                                  and why when not its own failure */
    ScpSession scp;                            /* its keys and chain */
};

/* Exports from script/script_scp.cpp */
/* The channel ends: nothing more is wrapped, its keys are wiped. */
void script_channel_end(ScriptChannel *channel);

#endif
