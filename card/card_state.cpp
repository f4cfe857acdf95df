/*
 * card_state.cpp: the card state machine of the reader window, run one step
 * per timer tick, the card reset the network reader asks for, and the drop
 * of the connection when the window closes.
 *
 * States: 0 no context, 1 context, 2 waiting for a card, 3 connected,
 * 4 reading the ATR, 5 card ready, 6 card gone, 99 connection dropped.
 *
 * Design: each step runs inside card_lock, which also serialises every
 * exchange and reset. A worker's print may wait for the GUI thread, so a
 * worker never prints while it holds the lock: the lines a step or reset
 * produces are collected in a CardLines on the stack and printed, in order,
 * with the card's name (atr_match) before them and its parameter line
 * (card_print_parameters) after them. The card's script is started after
 * those lines, so its own output follows them. The GUI thread's prints
 * only queue, so the tick prints its lines before it leaves the lock.
 *
 * The GUI thread never waits for card_lock: one APDU may take a minute. A
 * tick that finds the lock taken skips its step, which the end of the
 * exchange makes up, and a window closed during an exchange leaves the
 * drop of its card and context pending; whoever takes or leaves card_lock
 * next does it (card_unlock), and start-up waits for it before the program
 * ends.
 */
#include "card/card.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "app/app_state.h"
#include "app/prompt.h"
#include "card/atr_parse.h"
#include "card/card_local.h"
#include "card/explain_print.h"
#include "card/card_connect.h"
#include "card/pcsc.h"
#include "console/console.h"
#include "script/script.h"

enum {
    CARD_LINES_SIZE = 8192,   /* every line one step can produce, an explained ATR included */
    CARD_EXPLAIN_SIZE = 4096, /* an explained ATR */
    CARD_ATR_WAIT_MS = 50,    /* "ATR details" waits at most this long for card_lock */
    CARD_RESET_TEXT = 1024    /* the report of card_reset */
};

/* Lines produced under card_lock, each piece ended by a NUL, and what is
   printed around them once the lock is left */
struct CardLines {
    char text[CARD_LINES_SIZE];
    int used;
    int match;                        /* an ATR was read: atr_match names it first */
    unsigned char atr[CARD_ATR_SIZE]; /* that ATR, copied under the lock */
    int atr_length;
    int parameters;     /* a card became ready: card_print_parameters after the lines */
    SCARDHANDLE handle; /* its connection */
    int start_script;   /* ... and its script starts last */
};

static void card_lines_add(CardLines *lines, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

static void card_lines_add(CardLines *lines, const char *format, ...) {
    int room = CARD_LINES_SIZE - lines->used;
    if (room < 2)
        return;
    va_list args;
    va_start(args, format);
    int n = vsnprintf(lines->text + lines->used, (size_t)room, format, args);
    va_end(args);
    if (n < 0)
        return;
    if (n > room - 1)
        n = room - 1;
    lines->used += n + 1;
}

static void card_lines_start(CardLines *lines) {
    lines->used = 0;
    lines->match = 0;
    lines->parameters = 0;
    lines->start_script = 0;
}

/* The card's name, the lines in order, the parameter line, then the
   card's script. A worker calls it after leaving card_lock, since its
   prints may wait for the GUI thread; the tick calls it under the lock. */
static void card_lines_finish(const CardLines *lines) {
    if (lines->match)
        atr_match(lines->atr, lines->atr_length);
    for (int at = 0; at < lines->used; at += (int)strlen(lines->text + at) + 1)
        reader_print("%s", lines->text + at);
    if (lines->parameters)
        card_print_parameters(lines->handle);
    if (lines->start_script)
        run_card_script();
}

/* Queries the card and keeps its ATR. After a failed query the window
   shows what it always has: a count of 256, the buffer's size, zero-filled
   (the network reader answers such an ATR as a failure). */
static LONG card_read_atr_shown(CardSession *session) {
    DWORD state = 0;
    LONG status = card_read_atr(session, &state);

    if (status != SCARD_S_SUCCESS)
        session->card_atr_len = CARD_ATR_SIZE; /* card_read_atr zero-filled it */
    return status;
}

/* The ATR just read is matched (and the card named) once the lock is left;
   nothing is collected before it in the same step, so the name line still
   comes first. */
static void card_match_later(const CardSession *session, CardLines *lines) {
    lines->match = 1;
    lines->atr_length = session->card_atr_len;
    memcpy(lines->atr, session->card_atr, sizeof lines->atr);
}

static void card_presence_check(CardSession *session) {
    DWORD state = 0;

    LONG status = card_read_state(session, &state);
    if (pcsc_status_meaning(status) != PCSC_ANSWERED || state == PCSC_STATE_ABSENT)
        session->card_state = CARD_GONE;
}

/* With "Explain" on, the ATR explained follows its lines. */
static void card_explain_later(const CardSession *session, CardLines *lines) {
    char text[CARD_EXPLAIN_SIZE];

    if (!card_session_explains(session))
        return;
    explain_atr_text(text, sizeof text, session->card_atr, session->card_atr_len);
    card_lines_add(lines, "%s", text);
}

/* State 4: the ATR, the card's name, the parameters; then the card is ready. */
static void card_atr_step(CardSession *session, CardLines *lines) {
    char text[3 * CARD_ATR_SIZE + 32];

    card_read_atr_shown(session);
    card_match_later(session, lines);
    card_atr_text(text, sizeof text - 2, session->card_atr, session->card_atr_len);
    strcat(text, "\r\n");
    card_lines_add(lines, "%s", text);
    card_explain_later(session, lines);
    session->card_state = CARD_READY;
    lines->parameters = 1;
    lines->handle = session->card_handle;
    lines->start_script = 1;
    card_presence_check(session);
}

/* A context that is no use any more: the service went, or the reader left
   the list. Connecting again on it fails for ever. The window, unlike the
   runner, keeps waiting on its context through the other statuses that
   mean a reader gone (a reader listed but unavailable): it has always
   renewed its context only for a reader the service no longer knows. */
static int card_context_dead(LONG status) {
    return pcsc_status_meaning(status) == PCSC_SERVICE_GONE || status == SCARD_E_UNKNOWN_READER;
}

/* State 0: a context. Returns 1 when the step goes on with state 1. */
static int card_establish(ReaderWindow *reader, CardLines *lines) {
    LONG status = card_context_open(&reader->session, app.sc_scope);
    if (status != SCARD_S_SUCCESS) {
        card_lines_add(lines, "ScardEstablishContext: Error n\xB0 %8.8X\r\n", (unsigned)status);
        reader->quiet_retry = 0; /* the user saw the service fail: prompt once it is back */
        return 0;
    }
    return 1;
}

/* State 1: the first connect says whether a card is there. A context
   renewed while waiting does not ask for the card again. */
static void card_first_connect(ReaderWindow *reader, CardLines *lines) {
    CardSession *session = &reader->session;

    if (card_connect(session, app.sc_protocols) == SCARD_S_SUCCESS) {
        /* The protocol code less 1, right for T=0 and T=1 (codes 1 and 2);
           any other code prints as it is, less 1, as it always has. */
        card_lines_add(lines, "Card Detected ...T=%d\r\n", (int)session->active_protocol - 1);
        session->card_state = CARD_CONNECTED;
        reader->quiet_retry = 0;
    } else {
        if (!reader->quiet_retry)
            card_lines_add(lines, "\r\n%s Insert a card in the reader (state=2)\r\n", app_prompt);
        session->card_state = CARD_WAITING;
    }
}

/* State 2: waiting for a card. A connect refused because the context is
   dead drops it like a removed card does, so that a new one is made and
   the window sees the card once the service and the reader are back. */
static void card_wait_connect(ReaderWindow *reader, CardLines *lines) {
    CardSession *session = &reader->session;
    LONG status = card_connect(session, app.sc_protocols);

    if (status == SCARD_S_SUCCESS) {
        reader->quiet_retry = 0;
        session->card_state = CARD_READING_ATR;
        card_atr_step(session, lines);
    } else if (card_context_dead(status)) {
        reader->quiet_retry = 1;
        session->card_state = CARD_DROPPED;
    }
}

static void card_step(ReaderWindow *reader, CardLines *lines) {
    CardSession *session = &reader->session;

    switch (session->card_state) {
        case CARD_NO_CONTEXT:
            if (card_establish(reader, lines))
                card_first_connect(reader, lines);
            break;
        case CARD_CONTEXT: card_first_connect(reader, lines); break;
        case CARD_WAITING: card_wait_connect(reader, lines); break;
        case CARD_CONNECTED:
            session->card_state = CARD_READING_ATR;
            card_atr_step(session, lines);
            break;
        case CARD_READING_ATR: card_atr_step(session, lines); break;
        case CARD_READY: card_presence_check(session); break;
        case CARD_GONE:
            card_disconnect(session);
            session->card_state = CARD_DROPPED;
            break;
        case CARD_DROPPED: card_context_close(session); break;
        default: break;
    }
}

/* Under card_lock: whatever the state, the card handle and the context are
   let go, so a window closed at any point leaves nothing open behind it. */
static void card_drop_locked(ReaderWindow *reader) {
    card_context_close(&reader->session);
    reader->quiet_retry = 0;
}

/* Under card_lock: the drop a closed window left behind, if any. Only one
   holder of the lock can take the flag, so the drop is done once. */
static void card_drop_pending_run(ReaderWindow *reader) {
    if (InterlockedExchange(&reader->drop_pending, 0))
        card_drop_locked(reader);
}

/* Leaves the reader window's card_lock. A tick skipped during the exchange
   is made up at once, so that a card taken out meanwhile is seen as soon
   as the exchange ends. */
static void reader_unlock(ReaderWindow *reader) {
    card_drop_pending_run(reader);
    LeaveCriticalSection(&reader->session.card_lock);
    /* The window may have closed between the check and the leave, while
       its own try of the lock failed: the drop is done now, not at exit. */
    if (reader->drop_pending && TryEnterCriticalSection(&reader->session.card_lock)) {
        reader_unlock(reader);
        return;
    }
    HWND window = app.gui.panes[PANE_READER].window;
    if (InterlockedExchange(&reader->tick_missed, 0) && window)
        PostMessageA(window, WM_TIMER, CARD_TIMER_ID, 0);
}

void card_unlock(CardSession *session) {
    if (session == &app.gui.reader.session)
        reader_unlock(&app.gui.reader);
    else
        platform_lock_leave(&session->card_lock);
}

void card_tick(ReaderWindow *reader) {
    CardLines lines;

    if (!TryEnterCriticalSection(&reader->session.card_lock)) {
        /* An exchange is in flight: its end makes up this step. */
        InterlockedExchange(&reader->tick_missed, 1);
        return;
    }
    InterlockedExchange(&reader->tick_missed, 0); /* this step is the one made up */
    card_lines_start(&lines);
    card_drop_pending_run(reader); /* a new window starts from a fresh context */
    card_step(reader, &lines);
    /* The GUI thread's prints only join the pane queues, so the tick may
       print under the lock; the parameter line's attribute reads need it,
       and leaving it first would let an exchange slip in before them. */
    card_lines_finish(&lines);
    reader_unlock(reader);
}

/* Reconnects a ready card and reads its ATR again; writes the report into
   text. Returns the report's length. */
static int card_reset_locked(CardSession *session, char *text, CardLines *lines) {
    session->card_state = CARD_WAITING;
    if (card_reconnect(session, app.sc_protocols) != SCARD_S_SUCCESS)
        return snprintf(text, CARD_RESET_TEXT, "No Card in reader\r\n");
    session->card_state = CARD_READING_ATR;
    LONG status = card_read_atr_shown(session);
    card_match_later(session, lines);
    int used = card_atr_text(text, CARD_RESET_TEXT - 64, session->card_atr, session->card_atr_len);
    used += snprintf(text + used, (size_t)(CARD_RESET_TEXT - used), "\r\nReader Status: %X\r\n\r\n",
                     (unsigned)status);
    session->card_state = CARD_READY;
    lines->start_script = 1;
    return used;
}

int card_reset(char *text) {
    ReaderWindow *reader = &app.gui.reader;
    CardLines lines;
    int length;

    card_lines_start(&lines);
    /* With a space before the dots, unlike the dialogs' line: the reset's
       own wording, kept byte for byte. */
    length = snprintf(text, CARD_RESET_TEXT, "Reader is busy, try later ...\r\n");
    EnterCriticalSection(&reader->session.card_lock);
    if (reader->session.card_state == CARD_READY)
        length = card_reset_locked(&reader->session, text, &lines);
    reader_unlock(reader);
    card_lines_finish(&lines);
    return length;
}

/* Resets the card (which names it again and starts its script: the name
   says only half), then copies its ATR count and bytes in one go under
   card_lock, so a card changing just afterwards cannot pair one card's count
   with another's bytes. Returns the count (CARD_ATR_SIZE after a failed
   state query); at most CARD_ATR_SIZE bytes are copied. */
int card_get_atr(unsigned char *atr) {
    ReaderWindow *reader = &app.gui.reader;
    char text[CARD_RESET_TEXT];

    card_reset(text);
    EnterCriticalSection(&reader->session.card_lock);
    int length = reader->session.card_atr_len;
    if (length > 0)
        memcpy(atr, reader->session.card_atr,
               (size_t)(length < CARD_ATR_SIZE ? length : CARD_ATR_SIZE));
    reader_unlock(reader);
    return length;
}

/* The window closes. With the lock free the drop is done now; during an
   exchange it is left pending for the lock's holder, which looks at the
   flag again after leaving the lock in case it was set meanwhile. */
void card_close(ReaderWindow *reader) {
    InterlockedExchange(&reader->drop_pending, 1);
    if (TryEnterCriticalSection(&reader->session.card_lock))
        reader_unlock(reader);
}

/* A copy of the ready card's ATR; 0 when no card is ready, or the lock
   stays taken (a reset in progress) longer than the GUI may wait. */
static int card_ready_atr(ReaderWindow *reader, unsigned char *atr) {
    CardSession *session = &reader->session;
    int length = 0;

    for (int waited = 0; !TryEnterCriticalSection(&session->card_lock); waited++) {
        if (waited >= CARD_ATR_WAIT_MS)
            return 0;
        Sleep(1);
    }
    if (session->card_state == CARD_READY && session->card_atr_len > 0 &&
        session->card_atr_len < CARD_ATR_SIZE) {
        length = session->card_atr_len;
        memcpy(atr, session->card_atr, (size_t)length);
    }
    reader_unlock(reader);
    return length;
}

void card_print_atr_details(void) {
    unsigned char atr[CARD_ATR_SIZE];
    char text[3 * CARD_ATR_SIZE + 32];
    int length = card_ready_atr(&app.gui.reader, atr);

    if (length == 0) {
        reader_print("No card is ready\r\n");
        return;
    }
    card_atr_text(text, sizeof text, atr, length);
    reader_print("%s\r\n", text);
    explain_print_atr(PANE_READER, atr, length);
}

/* Start-up, after the message loop: waits for the exchange in flight, if a
   drop is still pending, and lets the drop happen. */
void card_drop_wait(void) {
    ReaderWindow *reader = &app.gui.reader;

    if (!reader->session.locks_ready || !reader->drop_pending)
        return;
    EnterCriticalSection(&reader->session.card_lock);
    reader_unlock(reader);
}
