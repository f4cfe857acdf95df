/*
 * replay_read.cpp: a recording read back as exchanges (see replay_read.h).
 *
 * The text is read line by line as a script is (the same reading of
 * pieces, line ends and numbers), with one line of look-ahead for the
 * lines that continue a command or a check. A command waits for its
 * answer: the "/EXPECT" after it, or a comment that gives its failed
 * status or says it had no answer; a second command before that, or the
 * end of the recording, leaves it without one and the recording is
 * refused.
 */
#include "card/replay_read.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app/text_form.h"
#include "card/record_format.h"
#include "card/xfer_limits.h"
#include "dialogs/apdu_text.h"
#include "script/script_check.h"
#include "script/script_line.h"

namespace {

enum { REPLAY_DIGITS_MAX = 2 * XFER_RESPONSE_MAX + 2 }; /* an answer's digits kept, at most */

/* The recording's lines, with one of look-ahead */
struct ReplayLines {
    const char *text;
    size_t length, at;
    int number, mid_line; /* the line read last, and whether it was cut */
    int ahead;            /* 1: line holds the next line already */
    int line_number;      /* line's number */
    char line[SCRIPT_LINE_SIZE];
    unsigned char command[XFER_COMMAND_MAX]; /* a command's bytes */
    unsigned char answer[XFER_RESPONSE_MAX]; /* an answer's bytes */
    char digits[REPLAY_DIGITS_MAX + 1];      /* its digits, blanks left out */
};

/* What reading has got to */
struct ReplayReading {
    ReplayRecording *recording;
    int pending; /* 1 while the last exchange waits for its answer */
    int atr_read;
    TextBuffer joined; /* a command's or a check's text with its continuations */
    char *message;
    size_t size;
};

/* The next line into lines->line (numbered as the interpreter numbers
   it); 0 at the end. */
int lines_next(ReplayLines *lines) {
    if (lines->ahead) {
        lines->ahead = 0;
        lines->line_number = lines->number;
        return 1;
    }
    int length = script_text_read(lines->text, lines->length, &lines->at, lines->line,
                                  (int)sizeof lines->line);
    if (length < 0)
        return 0;
    if (!lines->mid_line)
        lines->number++;
    lines->mid_line = lines->line[length - 1] != '\n';
    lines->line_number = lines->number;
    script_line_chomp(lines->line, length);
    return 1;
}

/* The current line joined with the lines that continue it (backslash
   dropped) into reading->joined, NUL-terminated; 0 when memory ran out. */
int lines_join(ReplayLines *lines, ReplayReading *reading) {
    TextBuffer *joined = &reading->joined;

    joined->used = 0;
    text_buffer_add(joined, lines->line, strlen(lines->line));
    while (lines_next(lines)) {
        if (lines->line[0] != '\\') {
            lines->ahead = 1;
            break;
        }
        text_buffer_add(joined, lines->line + 1, strlen(lines->line + 1));
    }
    return text_buffer_add(joined, "", 1);
}

int refuse(ReplayReading *reading, int line, const char *why) {
    if (line > 0)
        snprintf(reading->message, reading->size, "line %d: %s", line, why);
    else
        snprintf(reading->message, reading->size, "%s", why);
    return 0;
}

ReplayExchange *last_exchange(ReplayReading *reading) {
    TextBuffer *exchanges = &reading->recording->exchanges;
    return (ReplayExchange *)(exchanges->text + exchanges->used - sizeof(ReplayExchange));
}

/* "// ATR HEX", the first one only. */
int read_atr(ReplayReading *reading, const char *hex, int line) {
    ReplayRecording *recording = reading->recording;

    if (reading->atr_read)
        return 1;
    recording->atr_length = hex_pairs_read(hex, recording->atr, REPLAY_ATR_SIZE);
    if (recording->atr_length < 0)
        return refuse(reading, line, "cannot read the ATR");
    reading->atr_read = 1;
    return 1;
}

/* Eight hexadecimal digits and then the line's end or a blank: 1 and
 *status, else 0. Eight characters give four bytes only when all eight
   are digits. */
int read_status(const char *text, unsigned long *status) {
    char digits[9];
    unsigned char bytes[4];

    *status = 0;
    snprintf(digits, sizeof digits, "%.8s", text);
    if (strlen(digits) != 8 || hex_pairs_read(digits, bytes, 4) != 4)
        return 0;
    for (unsigned char byte : bytes)
        *status = *status << 8 | byte;
    return text[8] == 0 || text[8] == ' ' || text[8] == '\t';
}

/* The comments that answer the command before them: a failed status, or
   no bytes at all; every other comment is passed over. */
int read_comment(ReplayReading *reading, const char *line, int number) {
    size_t status_length = sizeof record_status_line - 1;
    unsigned long status = 0;

    if (strncmp(line, record_atr_line, sizeof record_atr_line - 1) == 0)
        return read_atr(reading, line + sizeof record_atr_line - 1, number);
    int failed = strncmp(line, record_status_line, status_length) == 0;
    int empty = strcmp(line, record_empty_line) == 0;
    if (!failed && !empty)
        return 1;
    if (failed && (!read_status(line + status_length, &status) || status == 0))
        return refuse(reading, number, "cannot read the status");
    if (!reading->pending)
        return refuse(reading, number, "an answer without its command");
    ReplayExchange *exchange = last_exchange(reading);
    exchange->status = status;
    exchange->answer_at = reading->recording->bytes.used;
    reading->pending = 0;
    return 1;
}

/* The patterns' digits when they are exact bytes (hexadecimal digits and
   blanks only), added to the recording's bytes: the count, or -1 for a
   pattern. Blanks may stand anywhere in a check, even inside a pair, so
   the digits are gathered before the pairs are read (the interpreter has
   refused an odd count already); an answer longer than any response is
   only counted, for the caller to refuse. */
int exact_bytes(const ScriptCheck *check, ReplayRecording *recording, ReplayLines *lines) {
    int count = 0;

    for (int i = 0; i < check->patterns_length; i++) {
        char c = check->patterns[i];
        if (c == ' ' || c == '\t')
            continue;
        if (hex_digit_value(c) < 0)
            return -1;
        if (count < REPLAY_DIGITS_MAX)
            lines->digits[count] = c;
        count++;
    }
    if (count > 2 * XFER_RESPONSE_MAX)
        return count / 2;
    lines->digits[count] = 0;
    int read = hex_pairs_read(lines->digits, lines->answer, XFER_RESPONSE_MAX);
    if (read > 0)
        text_buffer_add(&recording->bytes, lines->answer, (size_t)read);
    return read;
}

/* "/EXPECT" and its continuations: the answer of the command before it.
   A check of the time alone answers nothing. */
int read_check(ReplayReading *reading, ReplayLines *lines) {
    ScriptCheck check;
    int number = lines->line_number;
    ReplayRecording *recording = reading->recording;

    if (!lines_join(lines, reading))
        return refuse(reading, number, "out of memory");
    const char *text = reading->joined.text;
    if (strchr(text, '$'))
        return refuse(reading, number, "values cannot be replayed");
    if (!script_check_parse(text, &check))
        return refuse(reading, number, "cannot read the check");
    if (check.patterns_length == 0)
        return 1;
    size_t at = recording->bytes.used;
    int count = exact_bytes(&check, recording, lines);
    if (count < 0)
        return refuse(reading, number, "a pattern cannot be replayed");
    if (count > XFER_RESPONSE_MAX)
        return refuse(reading, number, "an answer longer than any response");
    if (!reading->pending)
        return refuse(reading, number, "an answer without its command");
    ReplayExchange *exchange = last_exchange(reading);
    exchange->answer_at = at;
    exchange->answer_length = count;
    reading->pending = 0;
    return 1;
}

/* A command and its continuations, which then waits for its answer. */
int read_command(ReplayReading *reading, ReplayLines *lines) {
    ApduTextReader reader;
    ReplayExchange exchange;
    ReplayRecording *recording = reading->recording;

    memset(&exchange, 0, sizeof exchange);
    exchange.line = lines->line_number;
    if (reading->pending)
        return refuse(reading, last_exchange(reading)->line, "the command has no recorded answer");
    if (!lines_join(lines, reading))
        return refuse(reading, exchange.line, "out of memory");
    if (strchr(reading->joined.text, '$'))
        return refuse(reading, exchange.line, "values cannot be replayed");
    apdu_text_begin(&reader);
    apdu_text_feed(&reader, reading->joined.text, lines->command, XFER_COMMAND_MAX);
    if (!reader.sound)
        return refuse(reading, exchange.line, "not a command in hexadecimal");
    if (reader.count > XFER_COMMAND_MAX)
        return refuse(reading, exchange.line, "command longer than 65544 bytes");
    exchange.command_at = recording->bytes.used;
    exchange.command_length = (int)reader.count;
    if (!text_buffer_add(&recording->bytes, lines->command, (size_t)reader.count) ||
        !text_buffer_add(&recording->exchanges, &exchange, sizeof exchange))
        return refuse(reading, exchange.line, "out of memory");
    recording->count++;
    reading->pending = 1;
    return 1;
}

/* One line (and the lines that continue it); 0 when the recording is
   refused. */
int read_line(ReplayReading *reading, ReplayLines *lines) {
    const char *line = lines->line;

    if (line[0] == '\\')
        return 1; /* continues nothing: the interpreter skips it too */
    switch (script_line_classify(line)) {
        case SCRIPT_LINE_COMMENT: return read_comment(reading, line, lines->line_number);
        case SCRIPT_LINE_EXPECT: return read_check(reading, lines);
        case SCRIPT_LINE_APDU: return line[0] == '/' ? 1 : read_command(reading, lines);
        default: return 1; /* a directive is no exchange */
    }
}

} // namespace

int replay_read(const char *text, size_t length, ReplayRecording *recording, char *message,
                size_t size) {
    ReplayLines *lines = (ReplayLines *)calloc(1, sizeof *lines);
    ReplayReading reading;
    int read = lines != 0;

    memset(&reading, 0, sizeof reading);
    reading.recording = recording;
    reading.message = message;
    reading.size = size;
    if (!lines)
        refuse(&reading, 0, "out of memory");
    else {
        lines->text = text;
        lines->length = length;
    }
    while (read && lines_next(lines))
        read = read_line(&reading, lines);
    if (read && reading.pending)
        read =
            refuse(&reading, last_exchange(&reading)->line, "the command has no recorded answer");
    if (read && !reading.atr_read)
        read = refuse(&reading, 0, "no ATR line");
    if (read && (recording->bytes.lost || recording->exchanges.lost))
        read = refuse(&reading, 0, "out of memory");
    text_buffer_free(&reading.joined);
    free(lines);
    return read;
}

const ReplayExchange *replay_exchange(const ReplayRecording *recording, int i) {
    return (const ReplayExchange *)(recording->exchanges.text + (size_t)i * sizeof(ReplayExchange));
}

void replay_free(ReplayRecording *recording) {
    text_buffer_free(&recording->bytes);
    text_buffer_free(&recording->exchanges);
    recording->count = 0;
}
