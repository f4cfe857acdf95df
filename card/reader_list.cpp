/*
 * reader_list.cpp: the readers the platform lists, kept as one multi-string
 * in reader_names with an array of pointers into it.
 */
#include "card/reader_list.h"

#include <string.h>

#include "app/app_state.h"
#include "card/pcsc.h"

/* Lists the readers into reader_names; an empty list when that fails. The
   last byte is kept 0, so every name in the buffer is terminated. */
void reader_list_names(void) {
    DWORD length = READER_NAMES_SIZE;

    app.reader_names[0] = 0;
    if (pcsc_list_readers(0, app.reader_names, &length) != SCARD_S_SUCCESS)
        app.reader_names[0] = 0;
    else if (length < READER_NAMES_SIZE)
        app.reader_names[length] = 0;
    app.reader_names[READER_NAMES_SIZE - 1] = 0;
}

/* Splits the multi-string in reader_names into list; stops at the empty
   name, at the end of the buffer or at READER_LIST_MAX names. */
int reader_list_parse(const char **list) {
    size_t at = 0;
    int count = 0;

    while (count < READER_LIST_MAX && at < READER_NAMES_SIZE && app.reader_names[at]) {
        list[count++] = app.reader_names + at;
        at += strlen(app.reader_names + at) + 1;
    }
    return count;
}

int reader_list_all(void) {
    app.offered_count = reader_list_parse(app.offered_readers);
    return app.offered_count;
}
