/*
 * replay_read.h: a recording (card/record_format.h) read back as the
 * exchanges a replay reader answers with: the card's ATR from the header's
 * ATR line, then each command with its recorded answer or the PC/SC
 * status it failed with, in order. All the reading and refusing of a
 * recording is here, beside its writer. No Win32 and no PC/SC here, so the
 * rules are tested natively.
 */
#ifndef VORLANE_REPLAY_READ_H
#define VORLANE_REPLAY_READ_H

#include <stddef.h>

#include "app/text_buffer.h"

enum {
    REPLAY_ATR_SIZE = 256,     /* the largest ATR kept */
    REPLAY_MESSAGE_SIZE = 256, /* why a recording cannot be replayed */
};

/* One recorded exchange */
struct ReplayExchange {
    int line;             /* the command's first line in the recording */
    size_t command_at;    /* the command's bytes in ReplayRecording.bytes */
    int command_length;   /* 0 to XFER_COMMAND_MAX */
    size_t answer_at;     /* the answer's bytes there */
    int answer_length;    /* 0 to XFER_RESPONSE_MAX */
    unsigned long status; /* 0, or the PC/SC status the exchange failed with */
};

/* A recording, read. Zero it before replay_read; free it with replay_free. */
struct ReplayRecording {
    unsigned char atr[REPLAY_ATR_SIZE];
    int atr_length;
    TextBuffer bytes;     /* every command and answer, one after the other */
    TextBuffer exchanges; /* the ReplayExchange records, in order */
    int count;            /* how many */
};

/* Exports from card/replay_read.cpp; any thread, one recording each. */
/* Reads the recording text[0..length): 1, or 0 with the reason in message
   ("line N: a pattern cannot be replayed", "no ATR line", ...). */
int replay_read(const char *text, size_t length, ReplayRecording *recording, char *message,
                size_t size);
/* Exchange i (0 to count - 1). */
const ReplayExchange *replay_exchange(const ReplayRecording *recording, int i);
void replay_free(ReplayRecording *recording);

#endif
