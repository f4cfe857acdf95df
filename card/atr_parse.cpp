/*
 * atr_parse.cpp: the table of known cards, atr.txt, as text.
 *
 * Each line holds four fields separated by white space, read the way
 * "%s %s %d %s" reads them: name, ATR as upper-case hexadecimal, a number
 * kept with the record, and the card's script file. A line that starts with
 * "/" or "*" is a comment; the first line without four fields ends the
 * table. Lines are read in pieces of at most 127 characters, so a longer
 * line counts as several.
 */
#include "card/atr_parse.h"

#include <string.h>

#include "app/text_form.h"

/* White space as the C locale's isspace sees it */
static int atr_is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

/* "%s": skips white space and takes the next word. Returns its length, 0
   when the text has no further word. */
static size_t atr_scan_word(const char **at, const char **word) {
    size_t length;

    *word = text_word_next(at, atr_is_space, &length);
    return length;
}

/* "%d": skips white space, then an optional sign and at least one digit,
   the value held within the range of int. Returns 0 when no number is there. */
static int atr_scan_int(const char **at, int *value) {
    const char *p = *at;

    while (atr_is_space(*p))
        p++;
    p = decimal_scan(p, value);
    if (!p)
        return 0;
    *at = p;
    return 1;
}

static void atr_copy_field(char *field, size_t size, const char *word, size_t length) {
    if (length > size - 1)
        length = size - 1;
    memcpy(field, word, length);
    field[length] = 0;
}

int atr_line_parse(const char *line, AtrRecord *record) {
    char piece[ATR_LINE_PIECE + 1];
    const char *name, *atr, *script;
    size_t name_length, atr_length, script_length;
    int value = 0;

    if (line[0] == '/' || line[0] == '*')
        return ATR_LINE_COMMENT;
    size_t length = strnlen(line, ATR_LINE_PIECE);
    memcpy(piece, line, length);
    piece[length] = 0;

    const char *at = piece;
    if (!(name_length = atr_scan_word(&at, &name)) || !(atr_length = atr_scan_word(&at, &atr)) ||
        !atr_scan_int(&at, &value) || !(script_length = atr_scan_word(&at, &script)))
        return ATR_LINE_END;
    if (atr_length > sizeof record->atr_text - 1 || script_length > sizeof record->script - 1)
        return ATR_LINE_SKIPPED;
    memset(record, 0, sizeof *record);
    atr_copy_field(record->name, sizeof record->name, name, name_length);
    atr_copy_field(record->atr_text, sizeof record->atr_text, atr, atr_length);
    record->value = value;
    atr_copy_field(record->script, sizeof record->script, script, script_length);
    return ATR_LINE_RECORD;
}

/* Editors on Windows often save text as UTF-8 with a byte-order mark. The
   mark is not part of the first line: left in, a first comment line would
   not start with "/" and the table would end there. The piece is then
   topped up to the length a read without the mark gives, so the lines are
   split exactly as in the same file without it. */
static void atr_piece_skip_mark(char *piece, FILE *stream) {
    static const char mark[] = "\xEF\xBB\xBF";

    if (strncmp(piece, mark, 3) != 0)
        return;
    size_t length = strlen(piece + 3);
    memmove(piece, piece + 3, length + 1);
    if (length == ATR_LINE_PIECE - 3 && piece[length - 1] != '\n' &&
        !fgets(piece + length, 4, stream))
        piece[length] = 0;
}

int atr_table_read(FILE *stream, AtrRecord *table, int max) {
    char piece[ATR_LINE_PIECE + 1];
    int count = 0;
    int first = 1;

    while (count < max && fgets(piece, sizeof piece, stream)) {
        if (first)
            atr_piece_skip_mark(piece, stream);
        first = 0;
        AtrRecord record;
        int kind = atr_line_parse(piece, &record);
        if (kind == ATR_LINE_END)
            break;
        if (kind == ATR_LINE_RECORD)
            table[count++] = record;
    }
    return count;
}

void atr_to_text(const unsigned char *atr, int length, char *text, size_t size) {
    hex_text(text, size, atr, length, "");
}

int card_atr_text(char *text, size_t size, const unsigned char *atr, int length) {
    int header = snprintf(text, size, "Answer to Reset: \r\n ");

    if (header < 0 || (size_t)header >= size)
        return size ? (int)size - 1 : 0;
    return header + (int)hex_text(text + header, size - (size_t)header, atr, length, " ");
}

int atr_table_find(const AtrRecord *table, int count, const char *text) {
    for (int i = 0; i < count; i++) {
        if (strcmp(table[i].atr_text, text) == 0)
            return i;
    }
    return -1;
}
