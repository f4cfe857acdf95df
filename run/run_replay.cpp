/*
 * run_replay.cpp: the replay readers of vorlane-run --replay (see
 * run_replay.h): their recordings loaded, and the PC/SC calls they answer.
 *
 * The service has one context (REPLAY_CONTEXT) and one handle per reader
 * (its index + 1); connections to a reader whose card is out fail as the
 * platform's do. A wait for a change sleeps on RunReplay.changed, which
 * the taking out of a card wakes, so the card line sees each card go at
 * once.
 */
#include "run/run_replay.h"

#include <stdio.h>
#include <string.h>

#include "app/text_form.h"
#include "run/run.h"

enum { REPLAY_CONTEXT = 1 };

static_assert((int)REPLAY_ATR_SIZE <= (int)CARD_ATR_SIZE, "a replayed ATR fits a session's");

/* The reader of a handle, or 0. */
static ReplayReader *replay_reader_of(SCARDHANDLE handle) {
    long index = (long)handle - 1;
    return index >= 0 && index < runner.replay.count ? &runner.replay.readers[index] : 0;
}

static ReplayReader *replay_reader_named(const char *name) {
    for (int i = 0; name && i < runner.replay.count; i++) {
        if (strcmp(runner.replay.readers[i].name, name) == 0)
            return &runner.replay.readers[i];
    }
    return 0;
}

static LONG replay_establish(DWORD, SCARDCONTEXT *context) {
    *context = REPLAY_CONTEXT;
    return SCARD_S_SUCCESS;
}

static LONG replay_release(SCARDCONTEXT context) {
    return context == REPLAY_CONTEXT ? SCARD_S_SUCCESS : SCARD_E_INVALID_HANDLE;
}

/* Every replay reader, whether or not its card is still in. */
static LONG replay_list_readers(SCARDCONTEXT, char *names, DWORD *length) {
    DWORD size = *length, needed = 1;

    for (int i = 0; i < runner.replay.count; i++)
        needed += (DWORD)strlen(runner.replay.readers[i].name) + 1;
    *length = needed;
    if (!names)
        return SCARD_S_SUCCESS;
    if (size < needed)
        return SCARD_E_INSUFFICIENT_BUFFER;
    char *at = names;
    for (int i = 0; i < runner.replay.count; i++) {
        size_t n = strlen(runner.replay.readers[i].name) + 1;
        memcpy(at, runner.replay.readers[i].name, n);
        at += n;
    }
    *at = 0;
    return SCARD_S_SUCCESS;
}

/* Under the lock: how many readers still hold their card. */
static int replay_cards_in(void) {
    int in = 0;

    for (int i = 0; i < runner.replay.count; i++)
        in += runner.replay.readers[i].card;
    return in;
}

/* Under the lock: each entry's state; 1 when one differs from what the
   caller knows. A name that is no replay reader (the reader list's
   notification name among them) is unknown and never changes. */
static int replay_states_read(SCARD_READERSTATEA *states, DWORD count) {
    int changed = 0;

    for (DWORD i = 0; i < count; i++) {
        if (states[i].dwCurrentState & SCARD_STATE_IGNORE)
            continue;
        ReplayReader *reader = replay_reader_named(states[i].szReader);
        DWORD event = !reader        ? (DWORD)SCARD_STATE_UNKNOWN
                      : reader->card ? (DWORD)SCARD_STATE_PRESENT
                                     : (DWORD)SCARD_STATE_EMPTY;
        int differs = (states[i].dwCurrentState & ~(DWORD)SCARD_STATE_CHANGED) != event;
        states[i].dwEventState = differs ? event | SCARD_STATE_CHANGED : event;
        changed |= differs;
    }
    return changed;
}

static LONG replay_get_status_change(SCARDCONTEXT context, DWORD timeout_ms,
                                     SCARD_READERSTATEA *states, DWORD count) {
    unsigned start = platform_tick_ms();
    int changed = 0;

    if (context != REPLAY_CONTEXT)
        return SCARD_E_INVALID_HANDLE;
    if (count > 0 && !states)
        return SCARD_E_INVALID_PARAMETER;
    platform_lock_enter(&runner.replay.lock);
    for (;;) {
        changed = replay_states_read(states, count);
        unsigned spent = platform_tick_ms() - start;
        if (changed || spent >= timeout_ms || !replay_cards_in())
            break; /* with every card out nothing can change any more */
        platform_signal_wait(&runner.replay.changed, &runner.replay.lock,
                             (unsigned)timeout_ms - spent);
    }
    platform_lock_leave(&runner.replay.lock);
    return changed ? SCARD_S_SUCCESS : SCARD_E_TIMEOUT;
}

static LONG replay_connect(SCARDCONTEXT context, const char *name, DWORD protocols,
                           SCARDHANDLE *handle, DWORD *protocol) {
    ReplayReader *reader = replay_reader_named(name);
    LONG status = SCARD_S_SUCCESS;

    if (context != REPLAY_CONTEXT)
        return SCARD_E_INVALID_HANDLE;
    if (!reader)
        return SCARD_E_UNKNOWN_READER;
    if (!(protocols & (SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1)))
        return SCARD_E_PROTO_MISMATCH;
    platform_lock_enter(&runner.replay.lock);
    if (!reader->card) {
        status = SCARD_E_NO_SMARTCARD;
    } else {
        reader->protocol = protocols & SCARD_PROTOCOL_T1 ? SCARD_PROTOCOL_T1 : SCARD_PROTOCOL_T0;
        *protocol = reader->protocol;
        *handle = (SCARDHANDLE)(reader - runner.replay.readers + 1);
    }
    platform_lock_leave(&runner.replay.lock);
    return status;
}

/* The end of a connection takes the card out: each reader holds one. */
static LONG replay_disconnect(SCARDHANDLE handle) {
    ReplayReader *reader = replay_reader_of(handle);

    if (!reader)
        return SCARD_E_INVALID_HANDLE;
    platform_lock_enter(&runner.replay.lock);
    reader->card = 0;
    platform_signal_wake(&runner.replay.changed);
    platform_lock_leave(&runner.replay.lock);
    return SCARD_S_SUCCESS;
}

static LONG replay_state(SCARDHANDLE handle, DWORD *state, DWORD *protocol, unsigned char *atr,
                         DWORD *atr_length) {
    ReplayReader *reader = replay_reader_of(handle);
    LONG status = SCARD_S_SUCCESS;

    *state = 0;
    if (!reader)
        return SCARD_E_INVALID_HANDLE;
    const ReplayRecording *recording = &reader->recording;
    platform_lock_enter(&runner.replay.lock);
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
    platform_lock_leave(&runner.replay.lock);
    return status;
}

/* bytes as the message shows them: whole up to RUN_REPLAY_SHOWN_MAX, else
   the first ones and how many there were. */
static void replay_shown(char *text, size_t size, const unsigned char *bytes, int count) {
    int shown = count < RUN_REPLAY_SHOWN_MAX ? count : RUN_REPLAY_SHOWN_MAX;
    size_t used = hex_text(text, size, bytes, shown, "");

    if (shown < count)
        snprintf(text + used, size - used, "... (%d bytes)", count);
}

/* Under the lock: the recorded exchange that answers command, or 0 with
   the reader's message set; a match moves the recording on. */
static const ReplayExchange *replay_match(ReplayReader *reader, const unsigned char *command,
                                          DWORD length) {
    const ReplayRecording *recording = &reader->recording;
    char expected[2 * RUN_REPLAY_SHOWN_MAX + 32], sent[2 * RUN_REPLAY_SHOWN_MAX + 32];

    if (reader->next >= recording->count) {
        snprintf(reader->message, sizeof reader->message, "replay %s: no more recorded exchanges",
                 reader->file);
        return 0;
    }
    const ReplayExchange *exchange = replay_exchange(recording, reader->next);
    const unsigned char *recorded = (const unsigned char *)recording->bytes.text;
    if (length == (DWORD)exchange->command_length &&
        memcmp(recorded + exchange->command_at, command, length) == 0) {
        reader->next++;
        reader->message[0] = 0;
        return exchange;
    }
    replay_shown(expected, sizeof expected, recorded + exchange->command_at,
                 exchange->command_length);
    replay_shown(sent, sizeof sent, command, (int)length);
    snprintf(reader->message, sizeof reader->message, "replay %s line %d: expected %s, sent %s",
             reader->file, exchange->line, expected, sent);
    return 0;
}

/* The recorded answer of the next exchange, or its recorded failure; a
   command that differs, or one past the recording, is not transacted. */
static LONG replay_transmit(SCARDHANDLE handle, DWORD, const unsigned char *command, DWORD length,
                            unsigned char *response, DWORD *response_length) {
    ReplayReader *reader = replay_reader_of(handle);
    const ReplayExchange *exchange = 0;
    LONG status = SCARD_S_SUCCESS;

    if (!reader)
        return SCARD_E_INVALID_HANDLE;
    if (!command || !response || !response_length)
        return SCARD_E_INVALID_PARAMETER;
    platform_lock_enter(&runner.replay.lock);
    if (!reader->card)
        status = SCARD_W_REMOVED_CARD;
    else if (!(exchange = replay_match(reader, command, length)))
        status = SCARD_E_NOT_TRANSACTED;
    platform_lock_leave(&runner.replay.lock);
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

const PcscCalls run_replay_calls = {
    replay_establish, replay_release,    replay_list_readers, replay_get_status_change,
    replay_connect,   replay_disconnect, replay_state,        replay_transmit,
};

/* The whole file, or 0 (text freed) when it cannot be read. */
static int replay_file_read(const char *path, TextBuffer *text) {
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

/* Reader i from the recording file; 0 with the reason on standard error. */
static int replay_reader_load(int i, const char *file) {
    ReplayReader *reader = &runner.replay.readers[i];
    TextBuffer text = {};
    char message[REPLAY_MESSAGE_SIZE + 4], reason[REPLAY_MESSAGE_SIZE];

    memset(&reader->recording, 0, sizeof reader->recording);
    reader->file = file;
    reader->next = 0;
    reader->card = 1;
    reader->protocol = 0;
    reader->message[0] = 0;
    int named = snprintf(reader->name, sizeof reader->name, "Replay: %s", file);
    if (named < 0 || (size_t)named >= sizeof reader->name)
        snprintf(message, sizeof message, ": name too long");
    else if (replay_reader_named(reader->name) != reader)
        snprintf(message, sizeof message, ": given twice");
    else if (!replay_file_read(file, &text))
        snprintf(message, sizeof message, ": cannot be read");
    else if (replay_read(text.text ? text.text : "", text.used, &reader->recording, reason,
                         sizeof reason))
        message[0] = 0;
    else /* "FILE line N: why", "FILE: why" */
        snprintf(message, sizeof message, "%s%s", strncmp(reason, "line ", 5) ? ": " : " ", reason);
    text_buffer_free(&text);
    if (message[0])
        run_error(0, "vorlane-run: replay %.200s%s", file, message);
    return !message[0];
}

int run_replay_load(void) {
    const RunArgs *args = runner.args;

    runner.replay.count = 0;
    for (int i = 0; i < args->replay_count; i++) {
        runner.replay.count = i + 1;
        if (!replay_reader_load(i, args->replays[i]))
            return 0;
    }
    if (args->replay_count > 0)
        runner.pcsc = &run_replay_calls;
    return 1;
}

void run_replay_free(void) {
    for (int i = 0; i < runner.replay.count; i++)
        replay_free(&runner.replay.readers[i].recording);
    runner.replay.count = 0;
}

int run_replay_message(const CardSession *session, char *text, size_t size) {
    if (card_pcsc(session) != &run_replay_calls)
        return 0;
    ReplayReader *reader = replay_reader_named(session->reader_name);
    if (!reader)
        return 0;
    platform_lock_enter(&runner.replay.lock);
    snprintf(text, size, "%s", reader->message);
    platform_lock_leave(&runner.replay.lock);
    return text[0] != 0;
}

int run_replay_cards_left(void) {
    platform_lock_enter(&runner.replay.lock);
    int left = replay_cards_in();
    platform_lock_leave(&runner.replay.lock);
    return left;
}
