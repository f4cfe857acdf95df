/*
 * run_select.h: which readers of the platform's list a run of vorlane-run
 * takes, by its -r words, --all and --ignore. No Win32 and no PC/SC here:
 * names in, indices out, so the rules are tested natively.
 */
#ifndef VORLANE_RUN_SELECT_H
#define VORLANE_RUN_SELECT_H

#include "card/reader_limits.h"
#include "run/run_args.h"

/* What the words chose among names[0..count) */
struct RunSelection {
    int chosen[READER_LIST_MAX];          /* indices into names, each once, in the order chosen */
    int chosen_word[READER_LIST_MAX];     /* the -r word that chose it, or -1 */
    int chosen_count;                     /* may exceed what the runner drives at once */
    int word_matches[RUN_WORDS_MAX];      /* readers each -r word matched */
    const char *unmatched[RUN_WORDS_MAX]; /* -r words that named no reader */
    int unmatched_count;
    int several; /* 1 when more than one reader can take part: --all, --each-card,
                    several -r words, or a fragment that matched several */
};

/* Exports from run/run_select.cpp */
/* Chooses among names. Each -r word names a reader by its exact name, else
   by its index in the list, else as a fragment of names (either case),
   which may choose several; --all (and --each-card without -r) chooses
   every reader; with neither, every reader is a candidate for the first
   that holds a card. A reader chosen twice counts once; one whose name
   holds an --ignore fragment (either case) is never chosen. */
void run_select(const RunArgs *args, const char *const *names, int count, RunSelection *selection);
/* 1 when name holds fragment, letters compared in either case. */
int run_name_holds(const char *name, const char *fragment);

#endif
