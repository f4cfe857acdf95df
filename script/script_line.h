/*
 * script_line.h: the script language's line handling, without Win32: reading
 * a line in pieces, telling directives from APDU lines, the arguments of
 * "/W" and "/OPEN", the "Sending"/"Received" trace texts, the automatic
 * T=0 follow-up line and the run time. The interpreter thread
 * (script_thread.cpp) strings these together; here they are tested natively.
 */
#ifndef VORLANE_SCRIPT_LINE_H
#define VORLANE_SCRIPT_LINE_H

#include <stddef.h>
#include <stdio.h>

enum {
    SCRIPT_LINE_SIZE = 2048,    /* one read takes at most 2047 characters */
    SCRIPT_PENDING_SIZE = 262,  /* a follow-up line made by the interpreter */
    SCRIPT_LOG_NAME_SIZE = 256, /* log file name, at most 255 characters */
    SCRIPT_TRACE_PER_LINE = 32, /* bytes per trace line */
    /* A trace goes out in pieces of at most this many bytes (whole lines),
       so no pane's or stream's format buffer cuts a long one. */
    SCRIPT_TRACE_PIECE_BYTES = 512 * SCRIPT_TRACE_PER_LINE,
    /* "Received\r\n", two digits a byte, CR LF after every 32nd byte and at
       the end, NUL: one piece fits. */
    SCRIPT_TRACE_SIZE = 16 + 2 * SCRIPT_TRACE_PIECE_BYTES +
                        2 * (SCRIPT_TRACE_PIECE_BYTES / SCRIPT_TRACE_PER_LINE + 1),
    SCRIPT_CHAIN_MAX = 256, /* automatic follow-ups in a row, at most */
};

/* What a line asks for, once its line ending is gone */
enum ScriptLineKind {
    SCRIPT_LINE_SKIP,      /* shorter than 2 characters: ignored */
    SCRIPT_LINE_COMMENT,   /* "//": shown as it is */
    SCRIPT_LINE_WAIT,      /* "/W": pause */
    SCRIPT_LINE_TRACE_ON,  /* "/ON" */
    SCRIPT_LINE_TRACE_OFF, /* "/OFF" */
    SCRIPT_LINE_OPEN,      /* "/OP...": open the log file */
    SCRIPT_LINE_T0,        /* "/T=0": follow 61xx and 6Cxx up */
    SCRIPT_LINE_CLOSE,     /* "/CLOSE": close the log file */
    SCRIPT_LINE_EXPECT,    /* "/EXPECT": check the last response */
    SCRIPT_LINE_SET,       /* "/SET NAME TEXT": give a value */
    SCRIPT_LINE_INCLUDE,   /* "/INCLUDE FILE": run another script's lines here */
    SCRIPT_LINE_REPEAT,    /* "/REPEAT COUNT [NAME]": run the block up to "/END" */
    SCRIPT_LINE_END,       /* "/END": a block's end */
    SCRIPT_LINE_SCP,       /* "/SCP LEVEL KEYS ..." or "/SCP END": a secure channel */
    SCRIPT_LINE_LOAD,      /* "/LOAD FILE ...": a CAP file's package onto the card */
    SCRIPT_LINE_INSTALL,   /* "/INSTALL PACKAGE APPLET ...": an applet installed */
    SCRIPT_LINE_DELETE,    /* "/DELETE AID [RELATED]": card content deleted */
    SCRIPT_LINE_APDU,      /* anything else: hexadecimal command bytes */
};

/*
 * Reads the next piece of a script like fgets with a buffer of size bytes:
 * up to and including the next LF, or size - 1 characters, whichever comes
 * first, so a longer line arrives in several pieces and no character is
 * lost. A 0x1A byte ends the file, as Windows' text mode reads it, on every
 * platform. Returns the piece's length, or -1 at the end of the file.
 */
int script_line_read(FILE *file, char *line, int size);

/* The same over a script held in memory, text[0..length), from *at on
   (which advances). */
int script_text_read(const char *text, size_t length, size_t *at, char *line, int size);

/* Removes the line ending (LF and a CR right before it). Returns the length left. */
int script_line_chomp(char *line, int length);

/* Sorts a line whose ending is already removed. "/SET", "/INCLUDE",
   "/REPEAT", "/END" and "/SCP" are directives only when a blank or the line's end
   follows the word. */
ScriptLineKind script_line_classify(const char *line);

/*
 * "/W": the line read as "%s %d", the first word and then a decimal number
 * after white space. Returns 1 and sets *value when a number was read, 0
 * when none was. A number beyond the int range is held at its limit.
 */
int script_wait_parse(const char *line, int *value);

/* The pause taken for a wait value: a negative value pauses not at all. */
unsigned script_wait_pause_ms(int value);

/*
 * "/OPEN": the line read as "%s %s"; the second word is the log file name.
 * Returns 1 and copies it into name (capacity size) when it fits, 0 when
 * the line names no file, -1 when the name has size characters or more
 * (name is then left as it was).
 */
int script_open_parse(const char *line, char *name, size_t size);

/*
 * Builds title ("Sending" or "Received"), CR LF, then every byte as two
 * upper-case hexadecimal digits with CR LF after every 32nd byte, closed so
 * that the text always ends with exactly one line break. Returns the text's
 * length. A text that would not fit into size bytes is cut at a whole byte
 * and still ends with CR LF and NUL.
 */
int script_trace_text(char *out, size_t size, const char *title, const unsigned char *bytes,
                      int count);

/*
 * One piece of the same trace, for traces of any length: the title and CR
 * LF when *done is 0, then bytes from *done on while they fit in size, and
 * the closing line break once the last byte is in. *done advances; the
 * trace is whole when *done reaches count. size must hold the title, a
 * whole trace line and its break (SCRIPT_TRACE_SIZE does); returns the
 * piece's length.
 */
int script_trace_piece(char *out, size_t size, const char *title, const unsigned char *bytes,
                       int count, int *done);

/*
 * The line that answers a T=0 status by itself, or 0 when the response
 * needs none: 61 xx gives GET RESPONSE "00C00000xx\n"; 6C xx repeats the
 * first four bytes of the kept command (zero bytes where the command was
 * shorter) with xx as its length byte. Only a response of exactly two bytes
 * counts. out holds SCRIPT_PENDING_SIZE characters.
 */
int script_followup_line(char *out, const unsigned char *kept, int kept_count,
                         const unsigned char *response, int response_count);

/*
 * Milliseconds between two wall-clock readings, taken modulo one hour: a
 * run of an hour or more is reported within the hour.
 */
int script_elapsed_ms(long long start_seconds, int start_ms, long long end_seconds, int end_ms);

#endif
