/*
 * pane_lines.h: the line discipline of a text pane, without Win32.
 *
 * A pane shows complete lines only, wraps hard at PANE_LINE_MAX characters,
 * keeps at most PANE_LINES_SHOWN_MAX lines and rebuilds itself from the
 * newest PANE_LINES_KEPT when one more completes. Each complete line goes
 * where the previous one ended. pane_lines_feed turns one print's text into
 * the pane's new line history plus the one change its edit control needs,
 * so a batch of prints costs the control a single update.
 */
#ifndef VORLANE_PANE_LINES_H
#define VORLANE_PANE_LINES_H

#include <stddef.h>

enum {
    PANE_LINE_MAX = 120,                      /* hard wrap width */
    PANE_SLOT_SIZE = PANE_LINE_MAX + 3,       /* 120 characters, CR, LF, NUL */
    PANE_LINES_KEPT = 300,                    /* lines a rebuild keeps */
    PANE_LAST_SLOT = 2 * PANE_LINES_KEPT - 1, /* 599: its completion rebuilds */
    PANE_LINES_SHOWN_MAX = PANE_LAST_SLOT,    /* 599 lines at most on show */
    PANE_SLOTS = PANE_LAST_SLOT + 2,          /* 601 slots, 0..599 used */
    PANE_FORMAT_SIZE = 64000,                 /* one print's text, NUL included */
    /* Enough for everything one batch can leave to show: the kept lines of
       a rebuild plus the lines completed after it, or 599 new lines. */
    PANE_CHANGE_SIZE = (PANE_LAST_SLOT + 1) * (PANE_SLOT_SIZE - 1) + 1,
};

/* A pane's line history. Slots of complete lines end in CR LF; the open
   slot (current) collects text until its line is complete. */
struct PaneLines {
    char slots[PANE_SLOTS][PANE_SLOT_SIZE];
    int current; /* open line, 0..PANE_LAST_SLOT */
};

/* What the edit control must do to show the lines completed since the
   change was cleared. */
struct PaneChange {
    int rebuilt;   /* 1: replace the whole text by text; 0: insert text where
                      the previous insertion ended */
    size_t length; /* characters in text */
    char text[PANE_CHANGE_SIZE];
};

/* Exports from console/pane_lines.cpp */
void pane_lines_reset(struct PaneLines *lines);
void pane_change_clear(struct PaneChange *change);
/* Applies the text of one print (writable; a NUL is stored at text[length]
   and every character it splits at is put back except line feeds and the
   carriage returns right before them). Returns length. */
int pane_lines_feed(struct PaneLines *lines, char *text, int length, struct PaneChange *change);

#endif
