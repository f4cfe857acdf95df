/*
 * atr_table.cpp: the table of known cards loaded from atr.txt, the match of
 * a card's ATR against it, and the line of protocol parameters that the
 * reader reports for the connected card.
 *
 * Design: both atr_match and card_print_parameters print, and a worker's
 * print may wait for the GUI thread, so a worker calls neither with
 * card_lock held. The tick, on the GUI thread whose prints only queue,
 * calls them under the lock. card_print_parameters takes the lock itself
 * (it is recursive) for the attribute reads.
 */
#include "card/card.h"

#include <stdio.h>
#include <string.h>

#include "app/app_state.h"
#include "card/atr_parse.h"
#include "card/card_local.h"
#include "card/card_connect.h"
#include "console/console.h"

/* The reader's protocol attributes, in the order they are printed */
struct CardParameter {
    const char *label;
    DWORD tag;
};

static const CardParameter card_parameters[12] = {
    {"T...", 0x0201}, {"CLK.", 0x0202}, {"F...", 0x0203}, {"D...", 0x0204},
    {"N...", 0x0205}, {"W...", 0x0206}, {"IFSC", 0x0207}, {"IFSD", 0x0208},
    {"BWT.", 0x0209}, {"CWT.", 0x020A}, {"EBC.", 0x020B}, {"EBWT", 0x020C},
};

/* Class 8 of the PC/SC attributes: the reader's protocol settings */
static const DWORD card_attribute_class = 0x80000;

void atr_table_load(void) {
    FILE *file = fopen("atr.txt", "rb");

    app.atr_count = 0;
    if (!file)
        return;
    app.atr_count = atr_table_read(file, app.atr_table, ATR_TABLE_MAX);
    fclose(file);
}

/* The match text holds the hexadecimal form of a whole ATR buffer, so an
   ATR of any length up to 256 bytes is matched in full and nothing
   overflows; a record's ATR text has at most 255 characters, so the 256
   bytes left by a failed state query match nothing. */
static int atr_lookup(const unsigned char *atr, int length) {
    char text[2 * CARD_ATR_SIZE + 1];

    if (length > CARD_ATR_SIZE)
        length = CARD_ATR_SIZE;
    atr_to_text(atr, length, text, sizeof text);
    int index = atr_table_find(app.atr_table, app.atr_count, text);
    InterlockedExchange(&app.gui.reader.atr_index, index);
    return index;
}

int atr_match(const unsigned char *atr, int length) {
    int index = atr_lookup(atr, length);

    if (index >= 0)
        reader_print("%s inserted...\r\n", app.atr_table[index].name);
    return index;
}

/* Read through the reader window's session's provider. */
static int card_parameter_read(SCARDHANDLE handle, DWORD tag, int *value) {
    unsigned char bytes[4] = {0, 0, 0, 0};
    DWORD length = sizeof bytes;

    if (card_read_attribute(gui_session(), handle, card_attribute_class + tag, bytes, &length) !=
            SCARD_S_SUCCESS ||
        length != 4)
        return 0;
    unsigned int raw = (unsigned int)bytes[0] | (unsigned int)bytes[1] << 8 |
                       (unsigned int)bytes[2] << 16 | (unsigned int)bytes[3] << 24;
    *value = (int)raw;
    return 1;
}

/* The parameter line of handle into text; called with card_lock held. */
static int card_parameters_text(SCARDHANDLE handle, char *text, int size) {
    int used = 0;

    if (size <= 0)
        return 0;
    text[0] = 0;
    for (const CardParameter &parameter : card_parameters) {
        int value;
        if (!card_parameter_read(handle, parameter.tag, &value))
            continue;
        int n = snprintf(text + used, (size_t)(size - used), "%s= %d, ", parameter.label, value);
        if (n > 0 && n < size - used)
            used += n;
    }
    if (used + 1 < size) {
        text[used++] = '\n';
        text[used] = 0;
    }
    return used;
}

/* Reads the attributes under card_lock and prints after leaving it. */
int card_print_parameters(SCARDHANDLE handle) {
    char text[CARD_PARAMETERS_SIZE];

    EnterCriticalSection(&gui_session()->card_lock);
    card_parameters_text(handle, text, sizeof text);
    card_unlock(gui_session());
    reader_print("%s", text);
    return 0;
}
