/*
 * run_select.cpp: the readers a run takes. A -r word is tried first as a
 * whole name, then as an index, and only then as a fragment, so a reader
 * whose name happens to be "1" or to hold another's name is still reached
 * exactly.
 */
#include "run/run_select.h"

#include <ctype.h>
#include <string.h>

int run_name_holds(const char *name, const char *fragment) {
    size_t length = strlen(fragment);

    for (const char *at = name; *at; at++) {
        size_t i = 0;
        while (i < length && at[i] &&
               tolower((unsigned char)at[i]) == tolower((unsigned char)fragment[i]))
            i++;
        if (i == length)
            return 1;
    }
    return length == 0;
}

static int run_ignored(const RunArgs *args, const char *name) {
    for (int i = 0; i < args->ignore_count; i++) {
        if (run_name_holds(name, args->ignores[i]))
            return 1;
    }
    return 0;
}

/* Adds reader index once, chosen by word (-1: by none); 1 when it was new. */
static int run_choose(RunSelection *selection, int index, int word) {
    const int room = (int)(sizeof selection->chosen / sizeof selection->chosen[0]);

    for (int i = 0; i < selection->chosen_count; i++) {
        if (selection->chosen[i] == index)
            return 0;
    }
    if (selection->chosen_count >= room)
        return 0;
    selection->chosen_word[selection->chosen_count] = word;
    selection->chosen[selection->chosen_count++] = index;
    return 1;
}

/* One -r word: the readers it names, not counting ignored ones. Returns
   how many readers it matched. */
static int run_select_word(const RunArgs *args, int w, const char *const *names, int count,
                           RunSelection *selection) {
    const char *word = args->readers[w];
    int index = -1;

    for (int i = 0; i < count; i++) {
        if (strcmp(names[i], word) == 0) {
            if (!run_ignored(args, names[i]))
                run_choose(selection, i, w);
            return 1;
        }
    }
    if (run_reader_index(word, &index) && index < count) {
        if (!run_ignored(args, names[index]))
            run_choose(selection, index, w);
        return 1;
    }
    int matched = 0;
    for (int i = 0; i < count; i++) {
        if (!run_name_holds(names[i], word) || run_ignored(args, names[i]))
            continue;
        run_choose(selection, i, w);
        matched++;
    }
    return matched;
}

void run_select(const RunArgs *args, const char *const *names, int count, RunSelection *selection) {
    memset(selection, 0, sizeof *selection);
    selection->several = args->all || args->each_card || args->reader_count > 1;
    if (args->reader_count == 0) {
        for (int i = 0; i < count; i++) {
            if (!run_ignored(args, names[i]))
                run_choose(selection, i, -1);
        }
        return;
    }
    for (int w = 0; w < args->reader_count; w++) {
        int matched = run_select_word(args, w, names, count, selection);
        selection->word_matches[w] = matched;
        if (matched == 0)
            selection->unmatched[selection->unmatched_count++] = args->readers[w];
        if (matched > 1)
            selection->several = 1;
    }
    if (args->all) {
        for (int i = 0; i < count; i++) {
            if (!run_ignored(args, names[i]))
                run_choose(selection, i, -1);
        }
    }
}
