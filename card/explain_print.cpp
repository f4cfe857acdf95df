/*
 * explain_print.cpp: the explanation library's text in a trace. It gives
 * lines ending in LF; traces end their lines in CR LF, so every LF is
 * written as CR LF, piece by piece, straight to the pane (pane_write).
 */
#include "card/explain_print.h"

#include <stdio.h>
#include <string.h>

#include "explain/explain.h"
#include "card/scard_name.h"
#include "console/pane_print.h"

/* A piece of explanation with its line ends as CR LF */
struct ExplainLines {
    int pane;   /* where the lines go, or -1: into text */
    char *text; /* ... this text (size bytes), when pane is -1 */
    size_t size, used;
    char crlf[2 * EXPLAIN_PIECE_SIZE]; /* one piece, converted */
};

static size_t explain_crlf(char *out, const char *text, size_t length) {
    size_t used = 0;

    for (size_t i = 0; i < length; i++) {
        if (text[i] == '\n')
            out[used++] = '\r';
        out[used++] = text[i];
    }
    return used;
}

/* The text sink keeps whole lines only: a cut explanation never ends
   mid-line. */
static void explain_into_text(ExplainLines *lines, const char *piece, size_t length) {
    size_t room = lines->size - lines->used;

    if (room <= 1)
        return;
    if (length >= room) {
        length = room - 1;
        while (length > 0 && piece[length - 1] != '\n')
            length--;
    }
    memcpy(lines->text + lines->used, piece, length);
    lines->used += length;
    lines->text[lines->used] = 0;
}

static void explain_sink(void *context, const char *text, size_t length) {
    ExplainLines *lines = (ExplainLines *)context;
    size_t used = explain_crlf(lines->crlf, text, length);

    if (lines->pane >= 0)
        pane_write(lines->pane, lines->crlf, used);
    else
        explain_into_text(lines, lines->crlf, used);
}

void explain_print_response(int pane, const unsigned char *command, int command_count,
                            const unsigned char *response, int count) {
    ExplainLines lines;

    lines.pane = pane;
    explain_response(command, command_count > 0 ? (size_t)command_count : 0, response,
                     count > 0 ? (size_t)count : 0, explain_sink, &lines);
}

void explain_print_atr(int pane, const unsigned char *atr, int length) {
    ExplainLines lines;

    lines.pane = pane;
    explain_atr(atr, length > 0 ? (size_t)length : 0, explain_sink, &lines);
}

void explain_print_status(int pane, long status) {
    pane_print(pane, "PC/SC status: 0x%08lX %s\r\n", (unsigned long)status & 0xFFFFFFFFul,
               scard_name((unsigned long)status & 0xFFFFFFFFul));
}

size_t explain_atr_text(char *text, size_t size, const unsigned char *atr, int length) {
    ExplainLines lines;

    if (size == 0)
        return 0;
    lines.pane = -1;
    lines.text = text;
    lines.size = size;
    lines.used = 0;
    text[0] = 0;
    explain_atr(atr, length > 0 ? (size_t)length : 0, explain_sink, &lines);
    return lines.used;
}

void explain_check_suffix(char *text, size_t size, const unsigned char *command, int command_count,
                          const unsigned char *response, int count) {
    char meaning[EXPLAIN_SW_SIZE];

    if (size == 0)
        return;
    text[0] = 0;
    if (!response || count < 2)
        return;
    explain_answer_sw(command, command_count > 0 ? (size_t)command_count : 0, response[count - 2],
                      response[count - 1], meaning, sizeof meaning);
    snprintf(text, size, " (%s)", meaning);
}
