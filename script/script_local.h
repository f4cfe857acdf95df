/*
 * script_local.h: what the interpreter's files share among themselves: one
 * run of a script (ScriptRun) and where its lines come from (ScriptSource).
 *
 * Lines come from a stack of sources: the script itself, the files its
 * "/INCLUDE" lines bring in (at most 8 deep) and the blocks of its
 * "/REPEAT" lines (at most 8 deep), each block held in memory with its
 * lines' numbers and run COUNT times. The line being executed knows its
 * file (as its "/INCLUDE" wrote it), its number and its round, so that
 * messages and report entries name it: "inc.txt line 4 round 2".
 */
#ifndef VORLANE_SCRIPT_LOCAL_H
#define VORLANE_SCRIPT_LOCAL_H

#include "app/text_buffer.h"
#include <stdio.h>

#include "card/card_session.h"
#include "script/script_call.h"
#include "script/script_check.h"
#include "script/script_line.h"
#include "script/script_scp.h"
#include "script/script_values.h"
#include "script/script_words.h"

enum {
    SCRIPT_INCLUDE_DEPTH = 8, /* files included within each other, at most */
    SCRIPT_REPEAT_DEPTH = 8,  /* blocks within each other, at most */
    SCRIPT_SOURCES_MAX = 1 + SCRIPT_INCLUDE_DEPTH + SCRIPT_REPEAT_DEPTH,
    SCRIPT_BLOCK_LINES_MAX = 4096, /* lines of one block */
    SCRIPT_LABEL_SIZE = 128,       /* "FILE line N round K", FILE cut to fit */
    SCRIPT_REPEAT_MAX = 65535,     /* rounds of one block */
    /* a line with its values in: two digits for each byte of four values of
       the largest size, and the line around them */
    SCRIPT_EXPAND_SIZE = 8 * XFER_RESPONSE_MAX + SCRIPT_LINE_SIZE,
    SCRIPT_COMMAND_HEAD_SIZE = 4, /* CLA INS P1 P2: what an explanation reads of a command */
};

enum { SCRIPT_SOURCE_FILE, SCRIPT_SOURCE_BLOCK };

/* Where lines come from. A source is set field by field when it is pushed
   (script_source.cpp). */
struct ScriptSource {
    int kind;                         /* SCRIPT_SOURCE_FILE or SCRIPT_SOURCE_BLOCK */
    FILE *file;                       /* a file: its stream, or 0 for a script in memory */
    int owned;                        /* 1: closed when the source ends */
    const char *text;                 /* a script in memory (the runner's standard input) */
    size_t text_length, text_at;      /* its length and the next byte to read */
    int line_number, mid_line;        /* the line read last, and whether it was cut */
    TextBuffer block;                 /* a block: lines as an int number, the text, NUL */
    size_t block_at;                  /* the next line's place in block */
    int rounds, round;                /* COUNT and the round running, from 1 */
    char name[SCRIPT_FILE_NAME_SIZE]; /* the file as its "/INCLUDE" wrote it; "" for the script */
    char path[SCRIPT_FILE_NAME_SIZE]; /* the file opened: its includes are found beside it */
    char round_name[SCRIPT_VALUE_NAME_SIZE]; /* the value that holds the round, or "" */
};

/* One line's place, as messages name it ("line N round K"; in blocks
   within blocks, every block's round, outer first: "round 2.1") */
struct ScriptPlace {
    char name[SCRIPT_FILE_NAME_SIZE]; /* its file as written, "" for the script itself */
    int number;                       /* its line number in that file */
    char round[48]; /* the rounds of its blocks, outer first ("2.1"), "" outside */
};

/* Per-run items, owned by the run's thread; script_run_clear (in
   script_thread.cpp) sets every field that is read before it is written. */
struct ScriptRun {
    CardSession *session;             /* the card and the panes of this run */
    FILE *log;                        /* response data goes here, or 0 */
    int log_failed;                   /* 1 after a failed write: no more logging */
    int ahead;                        /* 1 while ahead_line holds the next line of the source */
    int trace;                        /* 1: commands and responses shown in hexadecimal */
    int t0;                           /* 1: 61xx and 6Cxx followed up automatically */
    int wait_value;                   /* last number read by a wait line, ms; 0 before any */
    int chain;                        /* follow-ups in a row since the last source line */
    int command_count;                /* bytes of the last command sent */
    int line_head_count;              /* bytes in line_head */
    ScriptTally *tally;               /* the runner's record of the run, or 0 */
    ScriptValues *values;             /* the values: the tally's, or own_values */
    ScriptCallSpace *call;            /* room for a "/SET" function's arguments, allocated
                                         at the run's first one, or 0 */
    int depth;                        /* sources on the stack */
    int response_count;               /* bytes of the last final response; -1 before any
                                         exchange, -2 after an APDU line that was not sent */
    int response_ms;                  /* its exchange's ms, summed over the follow-ups */
    int checks_passed, checks_failed; /* lines that held and that did not */
    TextBuffer joined;                /* an "/EXPECT" line with the lines that continue it */
    ScriptChannel *channel;           /* the secure channel: the tally's, or own_channel */
    struct ScriptScpSpace *scp_space; /* room for wrapping, allocated at the first
                                         secured exchange, or 0 */
    int resend;                       /* 1 while the line is a 6Cxx re-send: its Le
                                         goes out as the card asked */
    ScriptChannel own_channel;        /* the channel of a run that keeps its own */
    char path[SCRIPT_FILE_NAME_SIZE]; /* the caller's path, copied */
    ScriptPlace place;                /* the executed line's place (kept by follow-ups) */
    ScriptPlace ahead_place;          /* ahead_line's */
    ScriptSource sources[SCRIPT_SOURCES_MAX];
    ScriptValues own_values;                 /* the values of a run that keeps its own */
    char line[SCRIPT_LINE_SIZE];             /* the line being executed */
    char ahead_line[SCRIPT_LINE_SIZE];       /* the source's next line, read to look for a
                                                continuation */
    char log_name[SCRIPT_LOG_NAME_SIZE];     /* kept for "/OPEN" without a name */
    unsigned char command[XFER_COMMAND_MAX]; /* the command; its response goes to the
                                                values (R and SW) */
    char trace_text[SCRIPT_TRACE_SIZE];      /* a piece of "Sending" / "Received" */
    char check_text[SCRIPT_CHECK_MESSAGE_SIZE + SCRIPT_LABEL_SIZE + 64]; /* "Check failed,
                                                                           PLACE: ..." */
    char expand[SCRIPT_EXPAND_SIZE]; /* a line with its values in */
    /* The header of the command its line wrote, before any wrapping: the
       answers to its follow-ups (GET RESPONSE, a re-send) are explained as
       the line's own. */
    unsigned char line_head[SCRIPT_COMMAND_HEAD_SIZE];
};

/* Exports from script/script_thread.cpp */
void script_print(const ScriptRun *run, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
/* Counts a check and reports it: a failed one (message non-zero) prints
   one line; the runner records both, named by the line as written. */
void script_check_done(ScriptRun *run, const char *message);
/* The same, the runner's record named by title instead of the line (a
   line whose arguments must not be shown). */
void script_check_done_as(ScriptRun *run, const char *title, const char *message);
/* Sends run->command (count bytes) and its T=0 follow-ups until the
   answer is final, each traced, the answers written where R and SW read
   them and their times added into *ms (the line's time so far). For an
   APDU line (opening -1) "/T=0" asks for the follow-ups, by the secure
   channel's rule when the command went through it, else by the language's
   (script_followup_line); each follow-up then names the line in run->line
   as its text, and the final data goes to the "/OPEN" log. For the secure
   channel's opening, opening is its logical channel and every answer is
   followed up by the protocol's rule. The final answer's length; -1 when
   an exchange failed and the run ends (*error), SCRIPT_SCP_NOT_SENT when
   the channel refused or failed the command (a failed check). */
int script_exchange_final(ScriptRun *run, int count, int opening, int *error, int *ms);
/* A "Sending", "Received" (or other) trace of any number of bytes. */
void script_print_trace(ScriptRun *run, const char *title, const unsigned char *bytes, int count);
/* The runner's record of a failed exchange's place and status. */
void script_note_error(ScriptRun *run, int error);

/* Exports from script/script_set.cpp */
enum { SCRIPT_SET_TITLE_SIZE = 16 + SCRIPT_VALUE_NAME_SIZE + 16 }; /* "/SET NAME FUNCTION" */
/* The report's name of a "/SET" line: "/SET NAME FUNCTION" for a known
   function, "/SET NAME" otherwise, "/SET" when name (length characters)
   is no value name; never a word that may be key bytes. */
void script_set_title(char *title, size_t size, const char *name, size_t length,
                      const char *function, int function_length);
/* The reason for a NAME that is no value name: "cannot set R" (or SW),
   else its length, not its text. */
void script_set_bad_name(char *message, size_t size, const char *name, size_t length);
/* "/SET NAME FUNCTION ARG...", name (length characters) the word after
   "/SET": 1 when the line is a function line and was carried out (or
   failed like a check), 0 when it is a "/SET NAME TEXT" line. */
int script_set_call(ScriptRun *run, const char *name, size_t length);
/* Frees what the run's functions allocated. */
void script_set_free(ScriptRun *run);

/* Exports from script/script_scp.cpp */
enum {
    SCRIPT_SCP_PLAIN = -3,    /* no channel: the caller exchanges in the clear */
    SCRIPT_SCP_NOT_SENT = -2, /* the line failed like a check and was not sent */
};
/* "/SCP LEVEL KEYS ..." and "/SCP END". 0 when an exchange failed and the
   run ends. */
int script_do_scp(ScriptRun *run);
/* 1 when the channel is broken: the APDU line fails like a check and is
   not sent. A channel whose card was reset, removed or replaced since it
   opened breaks here. */
int script_scp_refuses(ScriptRun *run);
/* script_scp_refuses without the check: 1 with "not sent: ..." in message
   when the channel is broken, for a directive that names its own check. */
int script_scp_refusal(ScriptRun *run, char *message, size_t size);
/* The class byte of a GlobalPlatform command the run sends (80, or that of
   the open channel's logical channel) and the data bytes that fit a short
   command once the open channel has wrapped it (255 without one). */
void script_scp_command_class(const ScriptRun *run, unsigned char *cla, size_t *room);
/* The T=0 follow-up of the answer (received bytes) to run->command by
   the protocol's rule (scp_follow_up), written over run->command: for the
   opening's command on logical channel opening, or (opening -1) for a
   command that went through the open channel, while an answer is joined
   too. Its length, 0 when the answer is final, -1 when the command did not
   go through the channel (the script language's rule applies). */
int script_scp_follow_up(ScriptRun *run, int opening, int received);
/* The command of count bytes (run->command) through the open channel:
   wrapped, exchanged and its answer unwrapped into the values' response,
   with the "Secured", "Received" and "Plain" traces. The plain answer's
   length (a part's as received, while an answer in T=0 parts is joined),
   -1 when the exchange failed (*error; the channel is broken),
   SCRIPT_SCP_NOT_SENT, or SCRIPT_SCP_PLAIN when no channel is open or the
   command names another logical channel. */
int script_scp_exchange(ScriptRun *run, int count, int *error, int *ms);
/* At the run's end: its own channel ends, its room is freed. */
void script_scp_free(ScriptRun *run);

/* Exports from script/script_content.cpp */
/* "/LOAD FILE ...", "/INSTALL PACKAGE APPLET ..." and "/DELETE AID ...":
   each a check; 0 when an exchange failed and the run ends. */
int script_do_load(ScriptRun *run);
int script_do_install(ScriptRun *run);
int script_do_delete(ScriptRun *run);
/* "/SET NAME CAP FILE PART": text is what follows CAP; a failure is a
   check named title. */
void script_content_set(ScriptRun *run, const char *name, const char *text, const char *title);

/* Exports from script/script_source.cpp */
/* The script itself as the first source: the tally's input, or the file
   at the run's path. 0 when it cannot be opened. */
int script_source_open(ScriptRun *run);
/* Ends every source left (closing their files, freeing their blocks). */
void script_sources_close(ScriptRun *run);
/* The next line of the sources into run->line with its place. Returns 0
   at the end of the script, 1 for a line. */
int script_next_line(ScriptRun *run);
/* The source's next line into ahead_line, unless one waits there already;
   0 at the end of the source (the next one is not looked at). */
int script_read_ahead(ScriptRun *run);
/* The executed line's place as messages name it: "line N", "FILE line N",
   with " round K" inside a block. */
void script_place_text(const ScriptPlace *place, char *text, size_t size);
/* "/INCLUDE FILE", "/REPEAT COUNT [NAME]" (with the block up to its "/END")
   and an "/END" alone. */
void script_do_include(ScriptRun *run);
/* A file's path as "/INCLUDE" finds it: name as it is when absolute, else
   beside the script that names it. 0 when it is too long. */
int script_path_beside(const ScriptRun *run, const char *name, char *path, size_t size);
void script_do_repeat(ScriptRun *run);
void script_do_end(ScriptRun *run);

#endif
