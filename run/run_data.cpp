/*
 * run_data.cpp: --set and --data of vorlane-run. A data file is checked
 * whole when the runner starts, so that a faulty row stops it before any
 * card is touched; its rows are kept as bytes, ready to become each card's
 * values.
 */
#include "app/text_form.h"
#include "crypto/crypto_wipe.h"
#include "run/run_data.h"

#include <stdio.h>
#include <string.h>

enum { RUN_CELL_TEXT_SIZE = 2 * SCRIPT_VALUE_MAX + 4096 }; /* one cell, blanks allowed */

/* The next line of text from *at (its end excluded, a CR before its LF
   dropped) into [*start, *end); 0 at the end of the text. */
static int data_line(const char *text, size_t length, size_t *at, size_t *start, size_t *end) {
    if (*at >= length)
        return 0;
    const char *feed = (const char *)memchr(text + *at, '\n', length - *at);
    size_t stop = feed ? (size_t)(feed - text) : length;
    *start = *at;
    *end = stop > *at && text[stop - 1] == '\r' ? stop - 1 : stop;
    *at = feed ? stop + 1 : length;
    return 1;
}

/* Cells of a line, split at commas; the count. */
static int data_cells(const char *text, size_t start, size_t end, size_t *from, size_t *to,
                      int max) {
    int count = 0;
    size_t cell = start;

    for (size_t i = start; i <= end; i++) {
        if (i < end && text[i] != ',')
            continue;
        if (count < max) {
            from[count] = cell;
            to[count] = i;
        }
        count++;
        cell = i + 1;
    }
    return count;
}

/* The header: the value names, blanks around them allowed. */
static int data_header(const char *text, size_t start, size_t end, RunData *data, char *message,
                       size_t size) {
    size_t from[SCRIPT_VALUES_MAX], to[SCRIPT_VALUES_MAX];
    int count = data_cells(text, start, end, from, to, SCRIPT_VALUES_MAX);

    if (count > SCRIPT_VALUES_MAX) {
        snprintf(message, size, "line 1: more than %d names", SCRIPT_VALUES_MAX);
        return 0;
    }
    for (int i = 0; i < count; i++) {
        while (from[i] < to[i] && (text[from[i]] == ' ' || text[from[i]] == '\t'))
            from[i]++;
        while (to[i] > from[i] && (text[to[i] - 1] == ' ' || text[to[i] - 1] == '\t'))
            to[i]--;
        int length = (int)(to[i] - from[i]);
        if (!script_value_name_ok(text + from[i], length)) {
            /* named by its place: a first line of keys is no header */
            snprintf(message, size, "line 1: cell %d is not a value's name", i + 1);
            return 0;
        }
        snprintf(data->names[i], sizeof data->names[i], "%.*s", length, text + from[i]);
    }
    data->columns = count;
    return 1;
}

/* One cell's text (length bytes at text) as bytes into bytes: their
   count, or -1. The cell's copy is wiped: a cell may be a key. */
static int data_cell(const char *text, size_t length, unsigned char *bytes) {
    char cell[RUN_CELL_TEXT_SIZE];

    if (length >= sizeof cell)
        return -1;
    memcpy(cell, text, length);
    cell[length] = 0;
    int n = hex_pairs_read(cell, bytes, SCRIPT_VALUE_MAX);
    crypto_wipe(cell, length);
    return n;
}

/* One data row's cells as bytes. */
static int data_row(const char *text, size_t start, size_t end, int number, RunData *data,
                    char *message, size_t size) {
    static_assert(sizeof(size_t) >= sizeof(int), "row offsets");
    size_t from[SCRIPT_VALUES_MAX], to[SCRIPT_VALUES_MAX];
    unsigned char bytes[SCRIPT_VALUE_MAX];
    int count = data_cells(text, start, end, from, to, SCRIPT_VALUES_MAX);
    int n = 0, held = 0;

    if (count != data->columns) {
        snprintf(message, size, "line %d: %d cells, the header names %d", number, count,
                 data->columns);
        return 0;
    }
    text_buffer_add(&data->starts, (const char *)&data->cells.used, sizeof data->cells.used);
    for (int i = 0; i < count && n >= 0; i++) {
        n = data_cell(text + from[i], to[i] - from[i], bytes);
        if (n < 0) {
            snprintf(message, size, "line %d: cell %d is not hexadecimal pairs", number, i + 1);
            break;
        }
        held = n > held ? n : held;
        text_buffer_add(&data->cells, (const char *)&n, sizeof n);
        text_buffer_add(&data->cells, (const char *)bytes, (size_t)n);
    }
    crypto_wipe(bytes, (size_t)held);
    if (n < 0)
        return 0;
    data->rows++;
    return 1;
}

int run_data_read(const char *text, size_t length, RunData *data, char *message, size_t size) {
    size_t at = 0, start, end;
    int number = 0;

    data->cells.secret = 1;

    while (data_line(text, length, &at, &start, &end)) {
        number++;
        if (number == 1) {
            if (!data_header(text, start, end, data, message, size))
                return 0;
        } else if (end > start && !data_row(text, start, end, number, data, message, size)) {
            return 0;
        }
    }
    if (number == 0) {
        snprintf(message, size, "line 1: no header of names");
        return 0;
    }
    if (data->cells.lost || data->starts.lost) {
        snprintf(message, size, "too large to keep");
        return 0;
    }
    return 1;
}

int run_data_apply(const RunData *data, int row, ScriptValues *values, char *message, size_t size) {
    size_t at;
    int length;

    if (row < 0 || row >= data->rows)
        return 0;
    memcpy(&at, data->starts.text + (size_t)row * sizeof at, sizeof at);
    for (int i = 0; i < data->columns; i++) {
        memcpy(&length, data->cells.text + at, sizeof length);
        at += sizeof length;
        if (!script_value_set(values, data->names[i], (const unsigned char *)data->cells.text + at,
                              length, message, size))
            return 0;
        at += (size_t)length;
    }
    return 1;
}

void run_data_free(RunData *data) {
    text_buffer_free(&data->cells);
    text_buffer_free(&data->starts);
    data->rows = 0;
    data->columns = 0;
}

/* On the main thread at start-up, whose stack takes the value's bytes. */
int run_set_apply(const char *word, int number, ScriptValues *values, char *message, size_t size) {
    unsigned char bytes[SCRIPT_VALUE_MAX];
    const char *equals = strchr(word, '=');
    int length = equals ? (int)(equals - word) : 0;

    if (!equals || !script_value_name_ok(word, length)) {
        /* named by its place: a word without a name may be a key */
        snprintf(message, size, "--set number %d: not NAME=HEX", number);
        return 0;
    }
    char name[SCRIPT_VALUE_NAME_SIZE];
    snprintf(name, sizeof name, "%.*s", length, word);
    int count = hex_pairs_read(equals + 1, bytes, SCRIPT_VALUE_MAX);
    if (count < 0) {
        snprintf(message, size, "--set %s: not hexadecimal pairs", name);
        return 0;
    }
    int set = script_value_set(values, name, bytes, count, message, size);
    crypto_wipe(bytes, (size_t)count);
    return set;
}
