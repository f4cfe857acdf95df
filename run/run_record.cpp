/*
 * run_record.cpp: vorlane-run --record FILE: each card's exchanges written
 * as a script that checks them (card/card_record.h), from the first of its
 * scripts to the last. With one reader the recording is FILE itself; with
 * several, reader N's goes to FILE with ".N" put before the last dot of
 * its file name (golden.txt: golden.0.txt), and with --each-card card K's
 * to FILE with ".cardK" there instead; a name without a dot gets the tag
 * appended.
 */
#include "run/run.h"

#include <stdio.h>
#include <string.h>

#include "card/card_record.h"

/* file with tag put in before the last dot of its file name (not of a
   folder's), or appended; file itself for an empty tag. 0 when it does
   not fit. */
static int run_record_name(const char *file, const char *tag, char *name, size_t size) {
    const char *base = file;
    for (const char *at = file; *at; at++) {
        if (*at == '/' || *at == '\\')
            base = at + 1;
    }
    const char *dot = strrchr(base, '.');
    size_t head = dot && dot > base ? (size_t)(dot - file) : strlen(file);
    int written = *tag ? snprintf(name, size, "%.*s.%s%s", (int)head, file, tag, file + head)
                       : snprintf(name, size, "%s", file);
    return written > 0 && (size_t)written < size;
}

int run_record_start(RunReader *reader, RunCard *card, char *why, size_t size) {
    char name[RUN_RECORD_NAME_SIZE];
    char tag[32] = "";
    CardSession *session = &reader->session;
    CardRecordHeader header = {runner.host, session->reader_name, session->card_atr,
                               session->card_atr_len};

    if (card->number > 0)
        snprintf(tag, sizeof tag, "card%d", card->number);
    else if (runner.prefixed)
        snprintf(tag, sizeof tag, "%d", reader->number);
    FILE *file = 0;
    if (run_record_name(runner.args->record, tag, name, sizeof name))
        file = platform_file_open(name, "wb");
    else
        snprintf(name, sizeof name, "%.40s...", runner.args->record);
    if (!file || !card_record_start(&card->record, file, &header)) {
        snprintf(why, size, "cannot write the recording %.100s", name);
        run_error(reader, "vorlane-run: cannot write %s", name);
        return 0;
    }
    snprintf(card->record_name, sizeof card->record_name, "%s", name);
    session->record = &card->record;
    return 1;
}

int run_record_end(RunReader *reader, RunCard *card) {
    if (!reader->session.record)
        return RUN_OK;
    reader->session.record = 0;
    if (card_record_end(&card->record) == 0)
        return RUN_OK;
    run_error(reader, "vorlane-run: cannot write %s", card->record_name);
    return RUN_FAILED;
}
