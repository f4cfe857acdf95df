/*
 * run_replay.h: vorlane-run --replay FILE: a virtual reader "Replay: FILE"
 * for each recording, holding a card with the recording's ATR that
 * answers each command with the answer recorded for it, in order. The
 * readers sit behind the same PC/SC calls as the platform's service
 * (run_replay_calls, a PcscCalls table): with --replay the runner's
 * reader list and every reader's session use them and no other, so a run
 * needs no PC/SC service at all.
 *
 * Each reader holds one card, in from the start and taken out when its
 * connection ends (after its scripts, in the card line too). A command
 * that is not the next recorded one, byte for byte, fails with
 * SCARD_E_NOT_TRANSACTED and the recording's place does not move; so does
 * every command once the recording is used up. Why, the runner asks after
 * the script (run_replay_message).
 *
 * Threads: the main thread loads the recordings before any reader's
 * thread starts and frees them after the last has ended. Meanwhile each
 * card's place, presence and message are guarded by RunReplay.lock,
 * taken last (inside a session's card_lock, never around another lock).
 */
#ifndef VORLANE_RUN_REPLAY_H
#define VORLANE_RUN_REPLAY_H

#include <stddef.h>

#include "app/platform.h"
#include "card/card_session.h"
#include "card/reader_limits.h"
#include "run/run_args.h" /* RUN_WORDS_MAX */
#include "run/replay_read.h"

enum {
    /* "replay FILE line N: expected HEX, sent HEX", each command shown up
       to RUN_REPLAY_SHOWN_MAX bytes */
    RUN_REPLAY_SHOWN_MAX = 256,
    RUN_REPLAY_MESSAGE_SIZE = READER_NAME_SIZE + 4 * RUN_REPLAY_SHOWN_MAX + 128,
};

/* One replay reader */
struct ReplayReader {
    char name[READER_NAME_SIZE];           /* "Replay: FILE" */
    const char *file;                      /* FILE as given */
    ReplayRecording recording;             /* what it answers with */
    DWORD protocol;                        /* the protocol of its connection; lock */
    int next;                              /* the next recorded exchange; lock */
    int card;                              /* 1 while its card is in; lock */
    char message[RUN_REPLAY_MESSAGE_SIZE]; /* why its last exchange failed, or ""; lock */
};

/* The replay readers of a run (RunState.replay) */
struct RunReplay {
    PlatformLock lock;      /* the readers' places, cards and messages */
    PlatformSignal changed; /* a card was taken out; with lock */
    ReplayReader readers[RUN_WORDS_MAX];
    int count; /* readers loaded; main thread */
};

/* Exports from run/run_replay.cpp */
/* The replay readers as a PC/SC service. */
extern const PcscCalls run_replay_calls;
/* Main thread, before any reader: reads every --replay recording. 1 (and
   with recordings given, the run's service is theirs), or 0 with the
   reason on standard error: the recording cannot be replayed, a usage
   error. */
int run_replay_load(void);
/* Main thread, after every reader has ended: the recordings let go. */
void run_replay_free(void);
/* The reader's thread, after an exchange on session failed: why, when its
   card is a replay card that said (1, the message into text); else 0. */
int run_replay_message(const CardSession *session, char *text, size_t size);
/* 1 while a replay reader still holds its card. */
int run_replay_cards_left(void);

#endif
