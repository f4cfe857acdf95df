/*
 * script_check.h: the "/EXPECT" check of the script language, without
 * Win32: reading the line, matching a response against its patterns and
 * its time bound, the failure text, and the tally of the checks of one run
 * that the command-line runner turns into its report.
 *
 * A pattern covers the whole response: a hexadecimal digit matches itself
 * (either case), X or x any one digit, '*' any number of whole bytes (none
 * included); spaces and tabs are ignored; '|' separates alternatives.
 */
#ifndef VORLANE_SCRIPT_CHECK_H
#define VORLANE_SCRIPT_CHECK_H

#include "app/text_buffer.h"
#include <stddef.h>
#include <stdio.h>

#include "explain/explain.h" /* EXPLAIN_SW_SIZE */

enum {
    SCRIPT_CHECK_WITHIN_MAX = 86400000, /* a time bound of at most one day, ms */
    SCRIPT_CHECK_SHOWN_MAX = 256,       /* response bytes a failed check's line shows */
    /* "expected ", the patterns of a 2047-character line, ", received ",
       two digits for each byte shown, "... (N bytes, SW XXXX)", the status
       word's meaning in parentheses (EXPLAIN_SW_SIZE), NUL */
    SCRIPT_CHECK_MESSAGE_SIZE = 2048 + 2 * SCRIPT_CHECK_SHOWN_MAX + 64 + EXPLAIN_SW_SIZE + 4,
};

/* One "/EXPECT" line, read. patterns points into the line. */
struct ScriptCheck {
    const char *patterns; /* the alternatives as written, blanks around them cut */
    int patterns_length;  /* their characters; 0 for a time bound alone */
    int within_ms;        /* the time bound in ms, or -1 for none */
};

/* Exports from script/script_check.cpp; every routine runs on any thread. */

/* Reads a line that starts with "/EXPECT": 1 and *check when it holds
   readable patterns and/or "WITHIN MS" (MS decimal, at most
   SCRIPT_CHECK_WITHIN_MAX), 0 when it cannot be read. */
int script_check_parse(const char *line, ScriptCheck *check);

/* One alternative (length characters, no '|') against a response of count
   bytes: 1 when it matches, 0 when not, -1 when it is no pattern (another
   character, a '*' between the two digits of a byte, an odd number of
   digits, or nothing at all). */
int script_pattern_match(const char *pattern, int length, const unsigned char *response, int count);

/* Judges a readable check against the final response of the last exchange
   and its time (the whole response, however long). 1 when it holds; 0 when
   not, with "expected PATTERNS, received HEX" or "expected within MS ms,
   took T ms" in message (size bytes, cut to fit). HEX shows at most the
   first SCRIPT_CHECK_SHOWN_MAX bytes; a longer response's then ends in
   "... (N bytes, SW XXXX)", N counting every byte. A pattern that fails is
   told before the time. */
int script_check_judge(const ScriptCheck *check, const unsigned char *response, int count,
                       int took_ms, char *message, size_t size);

/* The checks of one run and how the run ended, for the runner's report.
   Zero it, set input if wanted, pass it to script_run; free the records
   with script_tally_free. Owned by the one thread that runs the script. */
struct ScriptValues;
struct ScriptChannel;
struct ScriptTally {
    FILE *input;                 /* read the script from here (not closed), or 0: open the path */
    struct ScriptValues *values; /* the card's values, kept between its scripts; 0: the run's own */
    struct ScriptChannel *channel; /* the card's secure channel, kept between its scripts;
                                      0: the run's own */
    const char *input_text;        /* or from this text in memory (input_length bytes), when set */
    size_t input_length;
    int passed, failed;       /* checks made in the run */
    int elapsed_ms;           /* the run's time, as its "Time" line shows it */
    int error_line;           /* line of the exchange that ended the run, or 0 */
    char error_at[128];       /* where, as messages name it: "line N", "FILE line N round K" */
    unsigned long error_code; /* its PC/SC status code (0: the card was not ready) */
    int lost;                 /* 1 when a record could not be kept (no memory) */
    TextBuffer records;       /* per check: int ms, name NUL, message NUL ("" when held) */
};

/* Keeps one check: the exchange's ms, its name and its message. 0 when no
   memory was left (lost is then set and the counts still count). */
int script_tally_add(ScriptTally *tally, int ms, const char *name, const char *message);
/* Walks the records from *at (0 first): 1 and the fields, 0 after the last. */
int script_tally_next(const ScriptTally *tally, size_t *at, int *ms, const char **name,
                      const char **message);
void script_tally_free(ScriptTally *tally);

#endif
