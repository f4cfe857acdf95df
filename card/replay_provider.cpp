/*
 * replay_provider.cpp: the replay provider (see replay_provider.h): its
 * recordings loaded, and the PC/SC calls its readers answer.
 *
 * The service has one context (REPLAY_CONTEXT) and one handle per reader
 * (its index + 1); connections to a reader whose card is out fail as the
 * platform's do. A wait for a change sleeps on ReplayProvider.changed,
 * which the taking out of a card wakes, so --each-card sees each card go
 * at once.
 */
#include "card/replay_provider.h"

#include <stdio.h>
#include <string.h>

#include "app/text_form.h"
#include "card/card_session.h" /* CARD_ATR_SIZE */

enum { REPLAY_CONTEXT = 1 };

static_assert((int)REPLAY_ATR_SIZE <= (int)CARD_ATR_SIZE, "a replayed ATR fits a session's");
static_assert((int)REPLAY_FAILURE_SIZE <= (int)PCSC_FAILURE_TEXT_SIZE,
              "a replay card's failure is told whole");

/* The reader of a handle, or 0. */
static ReplayReader *replay_reader_of(ReplayProvider *replay, SCARDHANDLE handle) {
    long index = (long)handle - 1;
    return index >= 0 && index < replay->count ? &replay->readers[index] : 0;
}

static ReplayReader *replay_reader_named(ReplayProvider *replay, const char *name) {
    for (int i = 0; name && i < replay->count; i++) {
        if (strcmp(replay->readers[i].name, name) == 0)
            return &replay->readers[i];
    }
    return 0;
}

static LONG replay_establish(void *, DWORD, SCARDCONTEXT *context) {
    *context = REPLAY_CONTEXT;
    return SCARD_S_SUCCESS;
}

static LONG replay_release(void *, SCARDCONTEXT context) {
    return context == REPLAY_CONTEXT ? SCARD_S_SUCCESS : SCARD_E_INVALID_HANDLE;
}

/* Every replay reader, whether or not its card is still in. */
static LONG replay_list_readers(void *self, SCARDCONTEXT, char *names, DWORD *length) {
    ReplayProvider *replay = (ReplayProvider *)self;
    DWORD size = *length, needed = 1;

    for (int i = 0; i < replay->count; i++)
        needed += (DWORD)strlen(replay->readers[i].name) + 1;
    *length = needed;
    if (!names)
        return SCARD_S_SUCCESS;
    if (size < needed)
        return SCARD_E_INSUFFICIENT_BUFFER;
    char *at = names;
    for (int i = 0; i < replay->count; i++) {
        size_t n = strlen(replay->readers[i].name) + 1;
        memcpy(at, replay->readers[i].name, n);
        at += n;
    }
    *at = 0;
    return SCARD_S_SUCCESS;
}

/* Under the lock: how many readers still hold their card. */
static int replay_cards_in(const ReplayProvider *replay) {
    int in = 0;

    for (int i = 0; i < replay->count; i++)
        in += replay->readers[i].card;
    return in;
}

/* Under the lock: each entry's state; 1 when one differs from what the
   caller knows. A name that is no replay reader (the reader list's
   notification name among them) is unknown and never changes. */
static int replay_states_read(ReplayProvider *replay, SCARD_READERSTATEA *states, DWORD count) {
    int changed = 0;

    for (DWORD i = 0; i < count; i++) {
        if (states[i].dwCurrentState & SCARD_STATE_IGNORE)
            continue;
        ReplayReader *reader = replay_reader_named(replay, states[i].szReader);
        DWORD event = !reader        ? (DWORD)SCARD_STATE_UNKNOWN
                      : reader->card ? (DWORD)SCARD_STATE_PRESENT
                                     : (DWORD)SCARD_STATE_EMPTY;
        int differs = (states[i].dwCurrentState & ~(DWORD)SCARD_STATE_CHANGED) != event;
        states[i].dwEventState = differs ? event | SCARD_STATE_CHANGED : event;
        changed |= differs;
    }
    return changed;
}

static LONG replay_get_status_change(void *self, SCARDCONTEXT context, DWORD timeout_ms,
                                     SCARD_READERSTATEA *states, DWORD count) {
    ReplayProvider *replay = (ReplayProvider *)self;
    unsigned start = platform_tick_ms();
    int changed = 0;

    if (context != REPLAY_CONTEXT)
        return SCARD_E_INVALID_HANDLE;
    if (count > 0 && !states)
        return SCARD_E_INVALID_PARAMETER;
    platform_lock_enter(&replay->lock);
    for (;;) {
        changed = replay_states_read(replay, states, count);
        unsigned spent = platform_tick_ms() - start;
        if (changed || spent >= timeout_ms || !replay_cards_in(replay))
            break; /* with every card out nothing can change any more */
        platform_signal_wait(&replay->changed, &replay->lock, (unsigned)timeout_ms - spent);
    }
    platform_lock_leave(&replay->lock);
    return changed ? SCARD_S_SUCCESS : SCARD_E_TIMEOUT;
}

static LONG replay_connect(void *self, SCARDCONTEXT context, const char *name, DWORD protocols,
                           SCARDHANDLE *handle, DWORD *protocol) {
    ReplayProvider *replay = (ReplayProvider *)self;
    ReplayReader *reader = replay_reader_named(replay, name);
    LONG status = SCARD_S_SUCCESS;

    if (context != REPLAY_CONTEXT)
        return SCARD_E_INVALID_HANDLE;
    if (!reader)
        return SCARD_E_UNKNOWN_READER;
    if (!(protocols & (SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1)))
        return SCARD_E_PROTO_MISMATCH;
    platform_lock_enter(&replay->lock);
    if (!reader->card) {
        status = SCARD_E_NO_SMARTCARD;
    } else {
        reader->protocol = protocols & SCARD_PROTOCOL_T1 ? SCARD_PROTOCOL_T1 : SCARD_PROTOCOL_T0;
        *protocol = reader->protocol;
        *handle = (SCARDHANDLE)(reader - replay->readers + 1);
    }
    platform_lock_leave(&replay->lock);
    return status;
}

/* The end of a connection takes the card out: each reader holds one. */
static LONG replay_disconnect(void *self, SCARDHANDLE handle) {
    ReplayProvider *replay = (ReplayProvider *)self;
    ReplayReader *reader = replay_reader_of(replay, handle);

    if (!reader)
        return SCARD_E_INVALID_HANDLE;
    platform_lock_enter(&replay->lock);
    reader->card = 0;
    platform_signal_wake(&replay->changed);
    platform_lock_leave(&replay->lock);
    return SCARD_S_SUCCESS;
}

static LONG replay_state(void *self, SCARDHANDLE handle, DWORD *state, DWORD *protocol,
                         unsigned char *atr, DWORD *atr_length) {
    ReplayProvider *replay = (ReplayProvider *)self;
    ReplayReader *reader = replay_reader_of(replay, handle);
    LONG status = SCARD_S_SUCCESS;

    *state = 0;
    if (!reader)
        return SCARD_E_INVALID_HANDLE;
    const ReplayRecording *recording = &reader->recording;
    platform_lock_enter(&replay->lock);
    if (!reader->card) {
        *state = PCSC_STATE_ABSENT;
        status = SCARD_W_REMOVED_CARD;
    } else if (*atr_length < (DWORD)recording->atr_length) {
        status = SCARD_E_INSUFFICIENT_BUFFER;
    } else {
        memcpy(atr, recording->atr, (size_t)recording->atr_length);
        *atr_length = (DWORD)recording->atr_length;
        *state = 6; /* SCARD_SPECIFIC, as Windows reports a ready card */
        *protocol = reader->protocol;
    }
    platform_lock_leave(&replay->lock);
    return status;
}

/* bytes as the failure shows them: whole up to REPLAY_SHOWN_MAX, else the
   first ones and how many there were. */
static void replay_shown(char *text, size_t size, const unsigned char *bytes, int count) {
    int shown = count < REPLAY_SHOWN_MAX ? count : REPLAY_SHOWN_MAX;
    size_t used = hex_text(text, size, bytes, shown, "");

    if (shown < count)
        snprintf(text + used, size - used, "... (%d bytes)", count);
}

/* Under the lock: the recorded exchange that answers command, or 0 with
   the reader's failure set; a match moves the recording on. */
static const ReplayExchange *replay_match(ReplayReader *reader, const unsigned char *command,
                                          DWORD length) {
    const ReplayRecording *recording = &reader->recording;
    char expected[2 * REPLAY_SHOWN_MAX + 32], sent[2 * REPLAY_SHOWN_MAX + 32];

    if (reader->next >= recording->count) {
        snprintf(reader->failure, sizeof reader->failure, "replay %s: no more recorded exchanges",
                 reader->file);
        return 0;
    }
    const ReplayExchange *exchange = replay_exchange(recording, reader->next);
    const unsigned char *recorded = (const unsigned char *)recording->bytes.text;
    if (length == (DWORD)exchange->command_length &&
        memcmp(recorded + exchange->command_at, command, length) == 0) {
        reader->next++;
        reader->failure[0] = 0;
        return exchange;
    }
    replay_shown(expected, sizeof expected, recorded + exchange->command_at,
                 exchange->command_length);
    replay_shown(sent, sizeof sent, command, (int)length);
    snprintf(reader->failure, sizeof reader->failure, "replay %s line %d: expected %s, sent %s",
             reader->file, exchange->line, expected, sent);
    return 0;
}

/* The recorded answer of the next exchange, or its recorded failure; a
   command that differs, or one past the recording, is not transacted. */
static LONG replay_transmit(void *self, SCARDHANDLE handle, DWORD, const unsigned char *command,
                            DWORD length, unsigned char *response, DWORD *response_length) {
    ReplayProvider *replay = (ReplayProvider *)self;
    ReplayReader *reader = replay_reader_of(replay, handle);
    const ReplayExchange *exchange = 0;
    LONG status = SCARD_S_SUCCESS;

    if (!reader)
        return SCARD_E_INVALID_HANDLE;
    if (!command || !response || !response_length)
        return SCARD_E_INVALID_PARAMETER;
    platform_lock_enter(&replay->lock);
    if (!reader->card)
        status = SCARD_W_REMOVED_CARD;
    else if (!(exchange = replay_match(reader, command, length)))
        status = SCARD_E_NOT_TRANSACTED;
    platform_lock_leave(&replay->lock);
    if (!exchange)
        return status;
    if (exchange->status != 0)
        return (LONG)exchange->status;
    DWORD room = *response_length;
    *response_length = (DWORD)exchange->answer_length;
    if (room < (DWORD)exchange->answer_length)
        return SCARD_E_INSUFFICIENT_BUFFER;
    memcpy(response, reader->recording.bytes.text + exchange->answer_at,
           (size_t)exchange->answer_length);
    return SCARD_S_SUCCESS;
}

/* A replay reader has no protocol attributes to report. */
static LONG replay_get_attrib(void *self, SCARDHANDLE handle, DWORD, unsigned char *, DWORD *) {
    return replay_reader_of((ReplayProvider *)self, handle) ? SCARD_E_UNSUPPORTED_FEATURE
                                                            : SCARD_E_INVALID_HANDLE;
}

static int replay_failure_text(void *self, const char *name, char *text, size_t size) {
    ReplayProvider *replay = (ReplayProvider *)self;
    ReplayReader *reader = replay_reader_named(replay, name);

    if (!reader || size == 0)
        return 0;
    platform_lock_enter(&replay->lock);
    snprintf(text, size, "%s", reader->failure);
    platform_lock_leave(&replay->lock);
    return text[0] != 0;
}

static int replay_cards_left(void *self) {
    ReplayProvider *replay = (ReplayProvider *)self;

    platform_lock_enter(&replay->lock);
    int left = replay_cards_in(replay);
    platform_lock_leave(&replay->lock);
    return left;
}

/* The whole file into text; 0 when it cannot be read. */
static int replay_file_text(const char *path, TextBuffer *text) {
    FILE *file = platform_file_open(path, "rb");
    char piece[4096];
    size_t got;

    while (file && (got = fread(piece, 1, sizeof piece, file)) > 0)
        text_buffer_add(text, piece, got);
    int read = file && !ferror(file) && !text->lost;
    if (file)
        fclose(file);
    return read;
}

/* The recording file path read: 1, or 0 with why (": cannot be read",
   " line N: why", ": why"), which follows the file's name. */
static int replay_file_read(const char *path, ReplayRecording *recording, char *why, size_t size) {
    TextBuffer text = {};
    char reason[REPLAY_MESSAGE_SIZE];
    int read = replay_file_text(path, &text);

    if (!read)
        snprintf(why, size, ": cannot be read");
    else if (!(read = replay_read(text.text ? text.text : "", text.used, recording, reason,
                                  sizeof reason)))
        snprintf(why, size, "%s%s", strncmp(reason, "line ", 5) ? ": " : " ", reason);
    text_buffer_free(&text);
    return read;
}

/* Reader i from the recording file; 0 with the reason in refusal. */
static int replay_reader_load(ReplayProvider *replay, int i, const char *file, char *refusal,
                              size_t size) {
    ReplayReader *reader = &replay->readers[i];
    char why[REPLAY_MESSAGE_SIZE + 4];

    memset(&reader->recording, 0, sizeof reader->recording);
    reader->file = file;
    reader->next = 0;
    reader->card = 1;
    reader->protocol = 0;
    reader->failure[0] = 0;
    int named = snprintf(reader->name, sizeof reader->name, "Replay: %s", file);
    if (named < 0 || (size_t)named >= sizeof reader->name)
        snprintf(why, sizeof why, ": name too long");
    else if (replay_reader_named(replay, reader->name) != reader)
        snprintf(why, sizeof why, ": given twice");
    else if (replay_file_read(file, &reader->recording, why, sizeof why))
        why[0] = 0;
    if (why[0])
        snprintf(refusal, size, "replay %.200s%s", file, why);
    return !why[0];
}

int replay_provider_open(ReplayProvider *replay, const char *const *files, int count, char *refusal,
                         size_t size) {
    const PcscProvider calls = {
        replay,
        replay_establish,
        replay_release,
        replay_list_readers,
        replay_get_status_change,
        replay_connect,
        replay_disconnect,
        replay_state,
        replay_transmit,
        replay_get_attrib,
        replay_failure_text,
        replay_cards_left,
    };

    replay->pcsc = calls;
    platform_lock_init(&replay->lock);
    platform_signal_init(&replay->changed);
    replay->count = 0;
    for (int i = 0; i < count && i < REPLAY_READERS_MAX; i++) {
        replay->count = i + 1;
        if (!replay_reader_load(replay, i, files[i], refusal, size)) {
            replay_provider_close(replay);
            return 0;
        }
    }
    return 1;
}

void replay_provider_close(ReplayProvider *replay) {
    for (int i = 0; i < replay->count; i++)
        replay_free(&replay->readers[i].recording);
    replay->count = 0;
    platform_signal_free(&replay->changed);
    platform_lock_free(&replay->lock);
}
