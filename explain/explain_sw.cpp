/*
 * explain_sw.cpp: status words in short English (the interindustry values
 * of ISO/IEC 7816-4, and those a command gives a meaning of its own), the
 * lines that follow a response in a trace, and the piece writer every
 * explanation goes through.
 *
 * A status word is looked up first among the values with a meaning of their
 * own, then among those that carry a number (61XX, 6CXX, 63CX, the
 * triggering ranges), then by SW1 alone; anything else is proprietary.
 */
#include "explain/explain_local.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "app/text_form.h"

typedef struct SwText {
    unsigned sw; /* SW1 SW2 as one number */
    const char *text;
} SwText;

/* Status words with a meaning of their own */
static const SwText sw_exact[] = {
    {0x9000, "normal processing"},
    {0x6200, "warning: no information given, memory unchanged"},
    {0x6281, "warning: part of the returned data may be corrupted"},
    {0x6282, "warning: end of file or record reached before reading Ne bytes"},
    {0x6283, "warning: selected file deactivated"},
    {0x6284, "warning: file control information not formatted correctly"},
    {0x6285, "warning: selected file in termination state"},
    {0x6286, "warning: no input data available from a sensor on the card"},
    {0x6287, "warning: at least one of the referenced records is deactivated"},
    {0x6300, "warning: no information given, memory changed"},
    {0x6381, "warning: file filled up by the last write"},
    {0x6400, "execution error, memory unchanged"},
    {0x6401, "execution error: immediate response required by the card"},
    {0x6500, "execution error, memory changed"},
    {0x6581, "execution error: memory failure"},
    {0x6700, "wrong length"},
    {0x6881, "logical channel not supported"},
    {0x6882, "secure messaging not supported"},
    {0x6883, "last command of the chain expected"},
    {0x6884, "command chaining not supported"},
    {0x6981, "command incompatible with the file structure"},
    {0x6982, "security status not satisfied"},
    {0x6983, "authentication method blocked"},
    {0x6984, "reference data not usable"},
    {0x6985, "conditions of use not satisfied"},
    {0x6986, "command not allowed, no current EF"},
    {0x6987, "expected secure messaging data objects missing"},
    {0x6988, "incorrect secure messaging data objects"},
    {0x6A80, "incorrect parameters in the command data field"},
    {0x6A81, "function not supported"},
    {0x6A82, "file or application not found"},
    {0x6A83, "record not found"},
    {0x6A84, "not enough memory space in the file"},
    {0x6A85, "Nc inconsistent with the TLV structure"},
    {0x6A86, "incorrect parameters P1-P2"},
    {0x6A87, "Nc inconsistent with parameters P1-P2"},
    {0x6A88, "referenced data or reference data not found"},
    {0x6A89, "file already exists"},
    {0x6A8A, "DF name already exists"},
    {0x6B00, "wrong parameters P1-P2"},
    {0x6D00, "instruction code not supported or invalid"},
    {0x6E00, "class not supported"},
    {0x6F00, "no precise diagnosis"},
};

/* What any other SW2 means under each interindustry SW1 */
static const SwText sw_by_sw1[] = {
    {0x62, "warning, memory unchanged"},
    {0x63, "warning, memory changed"},
    {0x64, "execution error, memory unchanged"},
    {0x65, "execution error, memory changed"},
    {0x66, "security-related problem"},
    {0x67, "wrong length"},
    {0x68, "function in CLA not supported"},
    {0x69, "command not allowed"},
    {0x6A, "wrong parameters P1-P2"},
    {0x6B, "wrong parameters P1-P2"},
    {0x6D, "instruction code not supported or invalid"},
    {0x6E, "class not supported"},
    {0x6F, "no precise diagnosis"},
};

static const char *sw_table_find(const SwText *table, size_t count, unsigned sw) {
    for (size_t i = 0; i < count; i++) {
        if (table[i].sw == sw)
            return table[i].text;
    }
    return 0;
}

/* The status words that carry a number in SW2. Returns the length snprintf
   gives, or -1 when sw1 sw2 is none of them. */
static int sw_numbered(unsigned sw1, unsigned sw2, char *text, size_t size) {
    unsigned count = sw2 ? sw2 : 256; /* as Le, 00 stands for 256 */

    if (sw1 == 0x61)
        return snprintf(text, size, "%u bytes still available", count);
    if (sw1 == 0x6C)
        return snprintf(text, size, "wrong Le, exact length is %u", count);
    if (sw1 == 0x63 && (sw2 & 0xF0) == 0xC0)
        return snprintf(text, size, "verification failed, %u %s left", sw2 & 0x0F,
                        (sw2 & 0x0F) == 1 ? "try" : "tries");
    if ((sw1 == 0x62 || sw1 == 0x64) && sw2 >= 0x02 && sw2 <= 0x80)
        return snprintf(text, size, "%s: triggering by the card (%02X)",
                        sw1 == 0x62 ? "warning" : "execution error", sw2);
    return -1;
}

size_t explain_sw(unsigned sw1, unsigned sw2, char *text, size_t size) {
    if (size == 0)
        return 0;
    const char *meaning = 0;
    int length = -1;
    if (sw1 <= 0xFF && sw2 <= 0xFF) {
        meaning = sw_table_find(sw_exact, sizeof sw_exact / sizeof *sw_exact, sw1 << 8 | sw2);
        if (!meaning)
            length = sw_numbered(sw1, sw2, text, size);
        if (!meaning && length < 0)
            meaning = sw_table_find(sw_by_sw1, sizeof sw_by_sw1 / sizeof *sw_by_sw1, sw1);
    }
    if (length < 0)
        length = snprintf(text, size, "%s", meaning ? meaning : "proprietary");
    if (length < 0)
        length = 0;
    return (size_t)length < size ? (size_t)length : size - 1;
}

size_t explain_answer_sw(const unsigned char *command, size_t command_count, unsigned sw1,
                         unsigned sw2, char *text, size_t size) {
    const char *own = explain_gp_sw(command, command_count, sw1, sw2);
    if (!own || size == 0)
        return explain_sw(sw1, sw2, text, size);
    size_t length = strlen(own) < size ? strlen(own) : size - 1;
    memcpy(text, own, length);
    text[length] = 0;
    return length;
}

void explain_response(const unsigned char *command, size_t command_count,
                      const unsigned char *response, size_t count, ExplainSink sink,
                      void *context) {
    ExplainOut out;
    explain_out_start(&out, sink, context);
    if (!response || count < 2) {
        explain_out_text(&out, "(no status word)\n");
        explain_out_end(&out);
        return;
    }
    if (!command)
        command_count = 0;
    char meaning[EXPLAIN_SW_SIZE];
    explain_answer_sw(command, command_count, response[count - 2], response[count - 1], meaning,
                      sizeof meaning);
    explain_out_text(&out, "SW ");
    explain_out_hex(&out, response + count - 2, 2);
    explain_out_format(&out, ": %s\n", meaning);
    char reason[EXPLAIN_REASON_SIZE];
    if (count > 2 && !explain_gp_answer(&out, command, command_count, response, count - 2) &&
        !explain_tlv_tree(&out, response, count - 2, reason, sizeof reason))
        explain_out_format(&out, "(not BER-TLV: %s)\n", reason);
    explain_out_end(&out);
}

/* The piece writer */

void explain_out_start(ExplainOut *out, ExplainSink sink, void *context) {
    out->piece[0] = 0;
    out->used = 0;
    out->sink = sink;
    out->context = context;
}

static void explain_out_flush(ExplainOut *out) {
    if (out->used == 0)
        return;
    out->piece[out->used] = 0;
    if (out->sink)
        out->sink(out->context, out->piece, out->used);
    out->used = 0;
}

void explain_out_bytes(ExplainOut *out, const char *text, size_t length) {
    while (length > 0) {
        size_t room = EXPLAIN_PIECE_SIZE - 1 - out->used;
        size_t take = length < room ? length : room;
        memcpy(out->piece + out->used, text, take);
        out->used += take;
        text += take;
        length -= take;
        if (out->used == EXPLAIN_PIECE_SIZE - 1)
            explain_out_flush(out);
    }
}

void explain_out_text(ExplainOut *out, const char *text) {
    explain_out_bytes(out, text, strlen(text));
}

void explain_out_format(ExplainOut *out, const char *format, ...) {
    char line[EXPLAIN_LINE_SIZE];
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    if (length < 0)
        return;
    explain_out_bytes(out, line, (size_t)length < sizeof line ? (size_t)length : sizeof line - 1);
}

void explain_out_hex(ExplainOut *out, const unsigned char *bytes, size_t count) {
    for (size_t i = 0; i < count; i++) {
        if (out->used + 2 > EXPLAIN_PIECE_SIZE - 1)
            explain_out_flush(out);
        hex_pair_put(out->piece + out->used, bytes[i]);
        out->used += 2;
    }
}

void explain_out_end(ExplainOut *out) {
    explain_out_flush(out);
}
