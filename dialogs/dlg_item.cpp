/*
 * dlg_item.cpp: set and read the text of a dialog's edit field with printf-
 * and scanf-style formats, as every dialog of the program does.
 */
#include "dialogs/dialogs.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

/* Room for what the dialogs show: a stored text of 1,023 characters, a path
   or a number. A longer text is formatted into a temporary buffer of its own
   size, so the field always shows the whole text. */
enum { DLG_ITEM_TEXT_SIZE = 2048, DLG_ITEM_SCAN_SIZE = 200 };

static void dlg_item_replace(HWND dialog, int id, const char *text) {
    SendDlgItemMessageA(dialog, id, EM_SETSEL, 0, -1);
    SendDlgItemMessageA(dialog, id, EM_REPLACESEL, FALSE, (LPARAM)text);
}

int dlg_item_printf(HWND dialog, int id, const char *format, ...) {
    char text[DLG_ITEM_TEXT_SIZE];
    va_list args;
    int length;

    va_start(args, format);
    length = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (length < 0)
        return length;
    if ((size_t)length < sizeof text) {
        dlg_item_replace(dialog, id, text);
        return length;
    }
    char *large = (char *)malloc((size_t)length + 1);
    if (!large)
        return -1;
    va_start(args, format);
    vsnprintf(large, (size_t)length + 1, format, args);
    va_end(args);
    dlg_item_replace(dialog, id, large);
    free(large);
    return length;
}

/* Scans the field's text (cut after 199 characters) into the one value that
   out points to; out keeps its value when the text holds none. */
int dlg_item_scanf(HWND dialog, int id, const char *format, void *out) {
    char text[DLG_ITEM_SCAN_SIZE];

    text[0] = 0;
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return sscanf(text, format, out);
}
