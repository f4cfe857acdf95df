/*
 * script_line.cpp: the script language's line handling, without Win32.
 *
 * The interpreter reads a script as lines of at most 2047 characters and
 * asks here what each line means. Nothing here keeps state between calls;
 * every text is built into a buffer whose size the caller gives, so no line,
 * word or trace can run past its buffer however long the input is.
 */
#include "script/script_line.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include "app/text_form.h"

/* A line is read a character at a time: the stream's lock is taken once
   for it, not by every getc (which, in a process with threads, takes it). */
#if defined(_WIN32)
#define script_file_lock _lock_file
#define script_file_unlock _unlock_file
#define script_file_getc _getc_nolock
#else
#define script_file_lock flockfile
#define script_file_unlock funlockfile
#define script_file_getc getc_unlocked
#endif

int script_line_read(FILE *file, char *line, int size) {
    int length = 0;
    int c;

    if (size < 1)
        return -1;
    script_file_lock(file);
    while (length < size - 1 && (c = script_file_getc(file)) != EOF) {
        if (c == 0x1A) {
            /* The end of a text file, as Windows' text mode reads it: the
               byte stays unread, so every later call ends here too. */
            ungetc(c, file);
            break;
        }
        line[length++] = (char)c;
        if (c == '\n')
            break;
    }
    script_file_unlock(file);
    line[length] = 0;
    return length > 0 ? length : -1;
}

int script_text_read(const char *text, size_t length, size_t *at, char *line, int size) {
    int used = 0;

    if (size < 1)
        return -1;
    while (used < size - 1 && *at < length && text[*at] != 0x1A) {
        char c = text[(*at)++];
        line[used++] = c;
        if (c == '\n')
            break;
    }
    line[used] = 0;
    return used > 0 ? used : -1;
}

int script_line_chomp(char *line, int length) {
    if (length > 0 && line[length - 1] == '\n') {
        length--;
        if (length > 0 && line[length - 1] == '\r')
            length--;
    }
    line[length] = 0;
    return length;
}

/* Lines that start with "/O" are told apart by their third character, and
   "/OF" by its fourth: "/ON..." and "/OP..." need nothing more, "/OFF..."
   its full prefix; every other "/O" line is no directive. */
static ScriptLineKind script_line_classify_o(const char *line) {
    switch (line[2]) {
        case 'N': return SCRIPT_LINE_TRACE_ON;
        case 'P': return SCRIPT_LINE_OPEN;
        case 'F': return line[3] == 'F' ? SCRIPT_LINE_TRACE_OFF : SCRIPT_LINE_APDU;
        default: return SCRIPT_LINE_APDU;
    }
}

/* 1 when line starts with word and a blank or the line's end follows. */
static int script_line_word(const char *line, const char *word) {
    size_t length = strlen(word);

    return strncmp(line, word, length) == 0 &&
           (line[length] == 0 || line[length] == ' ' || line[length] == '\t');
}

/* The words of the language's later directives, each the whole first word
   of its line; any other "/" line that starts like one is still no
   directive. */
static const struct {
    const char *word;
    ScriptLineKind kind;
} script_line_words[] = {
    {"/SET", SCRIPT_LINE_SET},         {"/INCLUDE", SCRIPT_LINE_INCLUDE},
    {"/REPEAT", SCRIPT_LINE_REPEAT},   {"/END", SCRIPT_LINE_END},
    {"/SCP", SCRIPT_LINE_SCP},         {"/LOAD", SCRIPT_LINE_LOAD},
    {"/INSTALL", SCRIPT_LINE_INSTALL}, {"/DELETE", SCRIPT_LINE_DELETE},
};

static ScriptLineKind script_line_classify_word(const char *line) {
    for (size_t i = 0; i < sizeof script_line_words / sizeof script_line_words[0]; i++)
        if (script_line_word(line, script_line_words[i].word))
            return script_line_words[i].kind;
    return SCRIPT_LINE_APDU;
}

ScriptLineKind script_line_classify(const char *line) {
    if (line[0] == 0 || line[1] == 0)
        return SCRIPT_LINE_SKIP;
    if (line[0] != '/')
        return SCRIPT_LINE_APDU;
    switch (line[1]) {
        case '/': return SCRIPT_LINE_COMMENT;
        case 'W': return SCRIPT_LINE_WAIT;
        case 'O': return script_line_classify_o(line);
        case 'T': return strncmp(line, "/T=0", 4) == 0 ? SCRIPT_LINE_T0 : SCRIPT_LINE_APDU;
        case 'C': return strncmp(line, "/CLOSE", 6) == 0 ? SCRIPT_LINE_CLOSE : SCRIPT_LINE_APDU;
        case 'E':
            return strncmp(line, "/EXPECT", 7) == 0 ? SCRIPT_LINE_EXPECT
                                                    : script_line_classify_word(line);
        default: return script_line_classify_word(line);
    }
}

static int script_is_space(char c) {
    return isspace((unsigned char)c) != 0;
}

static const char *script_skip_space(const char *text) {
    while (*text && script_is_space(*text))
        text++;
    return text;
}

static const char *script_skip_word(const char *text) {
    while (*text && !script_is_space(*text))
        text++;
    return text;
}

/* Where the second white-space separated word starts, or 0 when the line
   has no first word. The scan walks the text once, whatever its length. */
static const char *script_after_first_word(const char *line) {
    const char *word = script_skip_space(line);

    if (*word == 0)
        return 0;
    return script_skip_space(script_skip_word(word));
}

int script_wait_parse(const char *line, int *value) {
    const char *text = script_after_first_word(line);

    return text && decimal_scan(text, value) ? 1 : 0;
}

unsigned script_wait_pause_ms(int value) {
    return value > 0 ? (unsigned)value : 0u;
}

int script_open_parse(const char *line, char *name, size_t size) {
    const char *word = script_after_first_word(line);
    size_t length;

    if (!word || *word == 0)
        return 0;
    length = (size_t)(script_skip_word(word) - word);
    if (length >= size)
        return -1;
    memcpy(name, word, length);
    name[length] = 0;
    return 1;
}

/* Appends bytes from *done on, two digits each and CR LF after every 32nd
   byte of the trace, while room for a byte, its break and the NUL is left
   in out[0..size). Returns the new used length. */
static size_t script_trace_bytes(char *out, size_t size, size_t used, const unsigned char *bytes,
                                 int count, int *done) {
    int i = *done;

    /* a byte needs two digits, its line's break and the NUL */
    while (i < count && used + 5 <= size) {
        int line_left = SCRIPT_TRACE_PER_LINE - i % SCRIPT_TRACE_PER_LINE;
        int fit = (int)((size - used - 3) / 2);
        int n = count - i;
        if (n > line_left)
            n = line_left;
        if (n > fit)
            n = fit;
        hex_run_put(out + used, bytes + i, (size_t)n);
        used += 2 * (size_t)n;
        i += n;
        if (i % SCRIPT_TRACE_PER_LINE == 0) {
            out[used++] = '\r';
            out[used++] = '\n';
        }
    }
    *done = i;
    return used;
}

/* The title and its line break; 0 when they do not fit with a NUL. */
static size_t script_trace_title(char *out, size_t size, const char *title) {
    size_t length = strlen(title);

    if (length + 3 > size)
        return 0;
    memcpy(out, title, length);
    out[length] = '\r';
    out[length + 1] = '\n';
    return length + 2;
}

int script_trace_text(char *out, size_t size, const char *title, const unsigned char *bytes,
                      int count) {
    int done = 0;

    if (size == 0)
        return 0;
    size_t used = script_trace_title(out, size, title);
    if (used == 0) {
        out[0] = 0;
        return 0;
    }
    used = script_trace_bytes(out, size, used, bytes, count, &done);
    if (done % SCRIPT_TRACE_PER_LINE != 0) {
        out[used++] = '\r';
        out[used++] = '\n';
    }
    out[used] = 0;
    return (int)used;
}

int script_trace_piece(char *out, size_t size, const char *title, const unsigned char *bytes,
                       int count, int *done) {
    size_t used = 0;

    if (size == 0)
        return 0;
    if (*done == 0 && (used = script_trace_title(out, size, title)) == 0) {
        out[0] = 0;
        *done = count; /* no room even for the title: nothing more to give */
        return 0;
    }
    used = script_trace_bytes(out, size, used, bytes, count, done);
    if (*done == count && count % SCRIPT_TRACE_PER_LINE != 0) {
        out[used++] = '\r';
        out[used++] = '\n';
    }
    out[used] = 0;
    return (int)used;
}

int script_followup_line(char *out, const unsigned char *kept, int kept_count,
                         const unsigned char *response, int response_count) {
    unsigned char header[4] = {0, 0, 0, 0};

    if (response_count != 2)
        return 0;
    if (response[0] == 0x61) {
        snprintf(out, SCRIPT_PENDING_SIZE, "00C00000%02X\n", response[1]);
        return 1;
    }
    if (response[0] != 0x6C)
        return 0;
    if (kept_count > 0)
        memcpy(header, kept, kept_count < 4 ? (size_t)kept_count : 4u);
    snprintf(out, SCRIPT_PENDING_SIZE, "%02X%02X%02X%02X%02X\n", header[0], header[1], header[2],
             header[3], response[1]);
    return 1;
}

int script_elapsed_ms(long long start_seconds, int start_ms, long long end_seconds, int end_ms) {
    long long elapsed = ((end_seconds % 3600) - (start_seconds % 3600)) * 1000 + end_ms - start_ms;

    if (elapsed < 0)
        elapsed += 3600000;
    return (int)elapsed;
}
