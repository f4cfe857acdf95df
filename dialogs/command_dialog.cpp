/*
 * command_dialog.cpp: the Command dialog. The user types one command APDU as
 * hexadecimal text with a one-line comment, sends it to the card and reads
 * command and response in the reader pane; SAVE and READ keep the two texts
 * in an APDU file ("//" and the comment, then the APDU text, one line each).
 *
 * The stored texts live in AppState, so each opening shows what was last
 * sent or loaded; typing alone changes only the dialog's fields.
 */
#include "dialogs/dialogs.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app/app.h"
#include "app/app_state.h"
#include "app/prompt.h"
#include "app/text_form.h"
#include "card/card.h"
#include "card/explain_print.h"
#include "console/console.h"
#include "dialogs/apdu_text.h"
#include "dialogs/dialog_text.h"
#include "resources/resource.h"

/* The longest command the APDU field gives: a pair from every two of its
   1,023 characters. */
enum { COMMAND_BYTES_MAX = (APDU_TEXT_SIZE - 1) / 2 };
/* "Sending " and "%02X " for the longest command */
enum { COMMAND_SENDING_SIZE = 8 + 3 * COMMAND_BYTES_MAX + 1 };
/* The Received block goes out in pieces of at most this many response
   bytes (whole lines of 16), "%02X " and a line end each */
enum {
    COMMAND_PIECE_BYTES = 1024,
    COMMAND_PIECE_SIZE = 10 + 3 * COMMAND_PIECE_BYTES + 2 * (COMMAND_PIECE_BYTES / 16) + 1,
};
/* The response takes the command's place in apdu_buffer: its header (CLA
   INS P1 P2, all the explanation reads of it) is kept aside for it. */
enum { COMMAND_HEAD_SIZE = 4 };
static_assert((int)COMMAND_BYTES_MAX <= (int)XFER_BUFFER_SIZE,
              "the command fits the exchange buffer");
static_assert(COMMAND_PIECE_BYTES % 16 == 0, "pieces of whole lines");

static void command_show_stored(HWND dialog) {
    dlg_item_printf(dialog, IDC_CMD_COMMENT, "%s", app.gui.apdu_comment);
    dlg_item_printf(dialog, IDC_CMD_DATA, "%s", app.gui.apdu_text);
}

static INT_PTR command_on_init(HWND dialog) {
    command_show_stored(dialog);
    dlg_item_printf(dialog, IDC_CMD_COUNT, "%d", app.gui.apdu_length);
    file_dialog_init(dialog);
    return TRUE;
}

static void command_print_sending(const unsigned char *bytes, int count) {
    char text[COMMAND_SENDING_SIZE];
    int used = snprintf(text, sizeof text, "Sending ");

    used += (int)hex_text(text + used, sizeof text - (size_t)used, bytes,
                          count < COMMAND_BYTES_MAX ? count : COMMAND_BYTES_MAX, " ");
    reader_print("\r\n%s\r\n", text);
}

/* Response bytes [from, to) as "%02X ", CR LF after every 16th byte of
   the response, into text (COMMAND_PIECE_SIZE bytes). */
static int command_received_lines(char *text, int used, const unsigned char *bytes, int from,
                                  int to) {
    for (int i = from; i < to; i += 16) {
        int line = to - i < 16 ? to - i : 16;
        used += (int)hex_text(text + used, COMMAND_PIECE_SIZE - (size_t)used, bytes + i, line, " ");
        if (line == 16)
            used += snprintf(text + used, COMMAND_PIECE_SIZE - (size_t)used, "\r\n");
    }
    return used;
}

/* The whole response, however long, in pieces the pane joins; the pane
   keeps its last lines, as it always does. */
static void command_print_received(const unsigned char *head, int head_count,
                                   const unsigned char *bytes, int count, int status) {
    char text[COMMAND_PIECE_SIZE];
    int used = snprintf(text, sizeof text, "Received\r\n");

    for (int from = 0; from < count; from += COMMAND_PIECE_BYTES) {
        int to = count - from < COMMAND_PIECE_BYTES ? count : from + COMMAND_PIECE_BYTES;
        used = command_received_lines(text, used, bytes, from, to);
        if (to < count) {
            reader_print("%s", text);
            used = 0;
        }
    }
    reader_print("%s\r\nReader Status: %X\r\n\r\n", text, (unsigned)status & 0xFFFF);
    if (card_session_explains(gui_session()))
        explain_print_response(PANE_READER, head, head_count, bytes, count);
    reader_print("%s Card is ready\r\n", app_prompt);
}

/* The exchange of a SEND, on the dialog's worker */
struct CommandExchange {
    int received;
    int status;
};

static void command_exchange(void *arg) {
    CommandExchange *exchange = (CommandExchange *)arg;
    exchange->received = card_exchange(gui_session(), app.gui.apdu_buffer, app.gui.apdu_length,
                                       XFER_RESPONSE_MAX, &exchange->status, NULL);
}

/* SEND and SEND AND QUIT: store the fields, and send the text unless a pair
   of it is not hexadecimal (then nothing is sent or printed). */
static void command_send(HWND dialog) {
    CommandExchange exchange = {0, 0};
    unsigned char head[COMMAND_HEAD_SIZE];
    int count = 0;

    GetDlgItemTextA(dialog, IDC_CMD_COMMENT, app.gui.apdu_comment, sizeof app.gui.apdu_comment);
    GetDlgItemTextA(dialog, IDC_CMD_DATA, app.gui.apdu_text, sizeof app.gui.apdu_text);
    if (!apdu_text_to_bytes(app.gui.apdu_text, app.gui.apdu_buffer, &count))
        return;
    app.gui.apdu_length = count;
    dlg_item_printf(dialog, IDC_CMD_COUNT, "%d", app.gui.apdu_length);
    command_print_sending(app.gui.apdu_buffer, app.gui.apdu_length);
    int head_count = count < COMMAND_HEAD_SIZE ? count : (int)COMMAND_HEAD_SIZE;
    memcpy(head, app.gui.apdu_buffer, (size_t)head_count);
    dlg_work_run(dialog, IDC_CMD_CANCEL, command_exchange, &exchange);
    if (exchange.received < 0) {
        reader_print("Reader is busy, try later...\r\n");
        if (card_session_explains(gui_session()) && exchange.status != 0)
            explain_print_status(PANE_READER, exchange.status);
    } else {
        command_print_received(head, head_count, app.gui.apdu_buffer, exchange.received,
                               exchange.status);
    }
    dlg_work_end(dialog);
}

static void command_new(HWND dialog) {
    dlg_item_printf(dialog, IDC_CMD_COMMENT, "%s", "");
    dlg_item_printf(dialog, IDC_CMD_DATA, "%s", "");
    dlg_item_printf(dialog, IDC_CMD_COUNT, "%d", 0);
}

/* The whole text of a field, however long, in a temporary buffer; 0 when
   memory runs out. */
static char *command_field_text(HWND dialog, int id) {
    HWND field = GetDlgItem(dialog, id);
    int length = GetWindowTextLengthA(field);
    char *text = (char *)malloc((size_t)length + 1);

    if (!text)
        return 0;
    text[0] = 0;
    GetWindowTextA(field, text, length + 1);
    return text;
}

static int command_write_file(FILE *file, const char *comment, const char *text) {
    size_t comment_length = strlen(comment);
    size_t text_length = strlen(text);

    return fwrite("//", 1, 2, file) == 2 &&
           fwrite(comment, 1, comment_length, file) == comment_length &&
           fwrite("\r\n", 1, 2, file) == 2 && fwrite(text, 1, text_length, file) == text_length &&
           fwrite("\r\n", 1, 2, file) == 2;
}

/* SAVE: the two fields as they are, into an APDU file. A file that cannot
   be written whole is reported in the reader pane, never left looking
   saved. */
static void command_save(HWND dialog) {
    char *comment;
    char *text;
    FILE *file;
    int written;

    if (!choose_save_file(dialog, app.gui.apdu_file_path, "Write Apdu File"))
        return;
    comment = command_field_text(dialog, IDC_CMD_COMMENT);
    text = command_field_text(dialog, IDC_CMD_DATA);
    file = (comment && text) ? fopen(app.gui.apdu_file_path, "wb") : 0;
    if (file) {
        written = command_write_file(file, comment, text);
        if (file_close_written(file) != 0)
            written = 0;
        if (!written)
            reader_print("!!! Error While Writing %s\r\n", app.gui.apdu_file_path);
    }
    free(comment);
    free(text);
}

/* Copies characters [from, to) of a line read by command_read_line into a
   stored text, cut to the text's 1,023 characters and ended at a NUL byte. */
static void command_take(char *stored, const char *line, size_t from, size_t to) {
    size_t length = to > from ? to - from : 0;

    if (length > APDU_TEXT_SIZE - 1)
        length = APDU_TEXT_SIZE - 1;
    memcpy(stored, line + from, length);
    stored[length] = 0;
}

/* READ: the comment is the first line without its first two characters
   (normally "//") and its last one (the line end); the APDU text is the
   second line without its line end. Lines are read whole, so a line that
   ends the file without a line end is not cut short; only the part that the
   1,023-character stored texts can hold is kept. */
static void command_read(HWND dialog) {
    char line[APDU_TEXT_SIZE + 2];
    size_t length;
    FILE *file;

    if (!choose_open_file(dialog, app.gui.apdu_file_path, "Read Apdu File"))
        return;
    file = fopen(app.gui.apdu_file_path, "r");
    if (!file)
        return;
    length = command_read_line(file, line, sizeof line);
    if (length <= 3)
        app.gui.apdu_comment[0] = 0;
    else
        command_take(app.gui.apdu_comment, line, 2, length - 1);
    length = command_read_line(file, line, sizeof line);
    if (length == 0)
        app.gui.apdu_text[0] = 0;
    else
        command_take(app.gui.apdu_text, line, 0, length - 1);
    fclose(file);
    command_show_stored(dialog);
}

static INT_PTR command_on_command(HWND dialog, int id) {
    if (dlg_work_command(id, IDC_CMD_CANCEL))
        return TRUE; /* a SEND is in flight */
    switch (id) {
        case IDC_CMD_SEND: command_send(dialog); return TRUE;
        case IDC_CMD_SEND_QUIT:
            command_send(dialog);
            EndDialog(dialog, 0);
            return TRUE;
        case IDC_CMD_NEW: command_new(dialog); return TRUE;
        case IDC_CMD_SAVE: command_save(dialog); return TRUE;
        case IDC_CMD_READ: command_read(dialog); return TRUE;
        case IDC_CMD_CANCEL: EndDialog(dialog, 0); return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK command_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    (void)lparam;
    switch (message) {
        case WM_INITDIALOG: return command_on_init(dialog);
        case WM_COMMAND:
            if (HIWORD(wparam) != BN_CLICKED)
                return FALSE;
            return command_on_command(dialog, LOWORD(wparam));
    }
    return FALSE;
}
