/*
 * replay_provider.h: the replay provider, a PC/SC provider (card/pcsc.h)
 * whose readers hold cards that answer from recordings
 * (card/record_format.h): a reader "Replay: FILE" for each recording,
 * holding a card with the recording's ATR that answers each command with
 * the answer recorded for it, in order. A session given this provider
 * needs no PC/SC service at all.
 *
 * Each reader holds one card, in from the start and taken out when its
 * connection ends. A command that is not the next recorded one, byte for
 * byte, fails with SCARD_E_NOT_TRANSACTED and the recording's place does
 * not move; so does every command once the recording is used up. Why, the
 * session's owner asks through the session (card_failure_text); how many
 * cards are still in, through card_cards_left.
 *
 * The provider owns its state: the record is held by whoever opens it
 * (the runner's main thread, for the length of a run), and every call
 * reaches it through the provider's self. Threads: the owner opens it
 * before any session uses it and closes it after the last has ended.
 * Meanwhile each card's place, presence and failure text are guarded by
 * ReplayProvider.lock (its place among the program's locks: app/app_state.h).
 */
#ifndef VORLANE_REPLAY_PROVIDER_H
#define VORLANE_REPLAY_PROVIDER_H

#include <stddef.h>

#include "app/platform.h"
#include "card/pcsc.h"
#include "card/reader_limits.h"
#include "card/replay_read.h"

enum {
    REPLAY_READERS_MAX = 64, /* recordings one provider replays */
    /* "replay FILE line N: expected HEX, sent HEX", each command shown up
       to REPLAY_SHOWN_MAX bytes */
    REPLAY_SHOWN_MAX = 256,
    REPLAY_FAILURE_SIZE = READER_NAME_SIZE + 4 * REPLAY_SHOWN_MAX + 128,
    /* why a recording cannot be replayed: "replay FILE line N: why" */
    REPLAY_REFUSAL_SIZE = REPLAY_MESSAGE_SIZE + 256,
};

/* One replay reader and its card */
struct ReplayReader {
    char name[READER_NAME_SIZE];       /* "Replay: FILE" */
    const char *file;                  /* FILE as given */
    ReplayRecording recording;         /* what it answers with */
    DWORD protocol;                    /* the protocol of its connection; lock */
    int next;                          /* the next recorded exchange; lock */
    int card;                          /* 1 while its card is in; lock */
    char failure[REPLAY_FAILURE_SIZE]; /* why its last exchange failed, or ""; lock */
};

struct ReplayProvider {
    PcscProvider pcsc;      /* the calls, self pointing at this record */
    PlatformLock lock;      /* the readers' places, cards and failures */
    PlatformSignal changed; /* a card was taken out; with lock */
    ReplayReader readers[REPLAY_READERS_MAX];
    int count; /* readers loaded; the owner's */
};

/* Exports from card/replay_provider.cpp */
/* Reads the recordings files[0..count) into replay's readers and makes it
   a provider (replay->pcsc): 1, or 0 with "replay FILE: why" in refusal
   when a recording cannot be replayed, its name is too long or it is
   given twice; closed again then. */
int replay_provider_open(ReplayProvider *replay, const char *const *files, int count, char *refusal,
                         size_t size);
/* After the last session using it has ended: the recordings and the
   locks let go. */
void replay_provider_close(ReplayProvider *replay);

#endif
