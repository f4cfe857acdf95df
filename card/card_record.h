/*
 * card_record.h: a card session's exchanges written as a script that
 * checks them (vorlane-run --record): a header of comment lines, then for
 * every exchange the command exactly as it was sent and "/EXPECT" with the
 * whole answer; a failed exchange gets a comment with its PC/SC status
 * instead. Run as a script, the recording checks a card against the one
 * it was made on; the runner's replay readers answer from it.
 *
 * Every command and answer is written in lines of at most
 * RECORD_LINE_DIGITS hexadecimal digits (card/record_format.h), each further line starting
 * with a backslash, so no line reaches the interpreter's limit of 2,047
 * characters. Lines end in CR LF, as the runner's output does.
 *
 * Threads: a recording belongs to the thread that drives its session (a
 * runner reader's), which sets CardSession.record before the first
 * exchange and clears it after the last; the exchange (card_exchange,
 * after it has left the session's locks) and the interpreter call in on
 * that thread only.
 */
#ifndef VORLANE_CARD_RECORD_H
#define VORLANE_CARD_RECORD_H

#include <stdio.h>

#include "app/text_buffer.h"
#include "card/card_session.h"
#include "card/record_format.h"

/* One recording */
struct CardRecord {
    FILE *file;      /* where the script goes, written unbuffered; 0: none */
    int channel;     /* 1 inside a secure channel: its exchanges are left out */
    int failed;      /* 1 once a write failed: nothing more is written */
    TextBuffer text; /* one exchange's lines, written to the file at once */
};

/* What the header names */
struct CardRecordHeader {
    const char *host;         /* the machine's name */
    const char *reader;       /* the reader's name */
    const unsigned char *atr; /* the card's ATR */
    int atr_length;
};

/* Exports from card/card_record.cpp */
/* Starts a recording into file (opened for writing, binary; the recording
   closes it at its end) with its header; 0 when the header could not be
   written (the file is then closed). */
int card_record_start(CardRecord *record, FILE *file, const CardRecordHeader *header);
/* One exchange that reached the PC/SC service: the command sent, and the
   answer received or the status it failed with. Written whole at once, so
   a run that is killed leaves whole lines. Nothing inside a channel. */
void card_record_exchange(CardRecord *record, const unsigned char *command, int length,
                          const unsigned char *answer, int received, LONG status);
/* The session's script opens (open 1) or ends (0) a secure channel: the
   exchanges between are not recorded (a stale EXTERNAL AUTHENTICATE sent
   again would count towards locking the card), one comment line marks
   each end. The code that opens a channel calls this before its first
   exchange. Does nothing when the session is not recording. */
void card_record_channel(CardSession *session, int open);
/* Ends the recording (a channel still open is marked ended) and closes
   its file: 0, or -1 when a write failed. */
int card_record_end(CardRecord *record);

#endif
