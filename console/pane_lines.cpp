/*
 * pane_lines.cpp: the line discipline of a text pane, without Win32 (see
 * pane_lines.h). The scan is the pane's specified one; only the display of
 * completed lines is gathered into a PaneChange instead of being sent to an
 * edit control line by line.
 */
#include "console/pane_lines.h"

#include <string.h>

void pane_lines_reset(PaneLines *lines) {
    lines->current = 0;
    lines->slots[0][0] = 0;
}

void pane_change_clear(PaneChange *change) {
    change->rebuilt = 0;
    change->length = 0;
    change->text[0] = 0;
}

static void pane_change_add(PaneChange *change, const char *text, size_t length) {
    if (length > sizeof change->text - 1 - change->length)
        length = sizeof change->text - 1 - change->length; /* cannot happen: sized for a batch */
    memcpy(change->text + change->length, text, length);
    change->length += length;
    change->text[change->length] = 0;
}

/* The last slot completed: keep the newest lines, and the control is to be
   rebuilt from them. Whatever completed earlier in the batch is gone. */
static void pane_lines_rebuild(PaneLines *lines, PaneChange *change) {
    memmove(lines->slots[0], lines->slots[PANE_LINES_KEPT],
            PANE_LINES_KEPT * sizeof lines->slots[0]);
    strcat(lines->slots[PANE_LINES_KEPT - 1], "\r\n");
    change->rebuilt = 1;
    change->length = 0;
    change->text[0] = 0;
    for (int k = 0; k < PANE_LINES_KEPT; k++)
        pane_change_add(change, lines->slots[k], strlen(lines->slots[k]));
    lines->current = PANE_LINES_KEPT - 1;
}

/* Appends segment to the open line, completes it and opens the next one. */
static void pane_lines_complete(PaneLines *lines, const char *segment, PaneChange *change) {
    char *slot = lines->slots[lines->current];
    size_t used = strlen(slot);
    size_t room = PANE_LINE_MAX > used ? PANE_LINE_MAX - used : 0;

    strncat(slot, segment, room);
    if (lines->current == PANE_LAST_SLOT) {
        pane_lines_rebuild(lines, change);
    } else {
        strcat(slot, "\r\n");
        pane_change_add(change, slot, strlen(slot));
    }
    lines->current++;
    lines->slots[lines->current][0] = 0;
}

int pane_lines_feed(PaneLines *lines, char *text, int length, PaneChange *change) {
    text[length] = 0;
    int n = (int)strlen(text);
    int open = (int)strlen(lines->slots[lines->current]);
    int s = 0, i = 0;

    while (i < n) {
        if (text[i] == '\n') {
            text[i] = 0;
            if (i >= 1 && text[i - 1] == '\r')
                text[i - 1] = 0;
            pane_lines_complete(lines, text + s, change);
            s = i + 1;
            i = s;
            open = 0;
        } else if ((i - s) + open + 1 < PANE_LINE_MAX) {
            i++;
        } else {
            int c = i + 1; /* the line's last character ends here */
            char keep = text[c];
            text[c] = 0;
            pane_lines_complete(lines, text + s, change);
            text[c] = keep;
            s = c;
            i = c;
            open = 0;
        }
    }
    if (s < n) {
        char *slot = lines->slots[lines->current];
        size_t used = strlen(slot);
        if (used < PANE_LINE_MAX)
            strncat(slot, text + s, PANE_LINE_MAX - used);
    }
    return length;
}
