/*
 * app_window_state.cpp (Windows): the initial values and the locks of the
 * window part of AppState (app.gui), field by field.
 */
#include "app/app_state.h"

#include <string.h>

/* A pane with no window yet, its history empty and its queue open. */
static void pane_state_init(PaneState *pane, COLORREF text_color, COLORREF back_color) {
    pane->window = pane->edit = 0;
    pane_lines_reset(&pane->lines);
    pane->insert_start = pane->insert_end = 0;
    pane->format[0] = 0;
    pane_change_clear(&pane->change);
    pane->text_color = text_color;
    pane->back_color = back_color;
    pane->back_brush = 0;
    pane->font = 0;
    pane->font_chosen = 0;
    pane->queue_side = pane->queue_fill = 0;
    pane->queue_limit = PANE_QUEUE_SIZE;
    pane->drain_posted = 0;
    pane->queued_count = pane->shown_count = 0;
    pane->shown_tick = pane->pace_ms = 0;
    pane->drain_timer = 0;
}

static void app_window_state_init_frame(AppWindowState *gui) {
    gui->instance = 0;
    gui->frame_window = 0;
    gui->mdi_client = 0;
    gui->client_default_proc = 0;
    gui->frame_menu = 0;
    gui->window_menu = 0;
    gui->logo_bitmap = 0;
    gui->logo_width = 0;
    gui->logo_height = 0;
    gui->logo_file_block = 0;
    gui->logo_file_image = 0;
    memset(&gui->file_dialog, 0, sizeof gui->file_dialog);
    gui->file_filter_buffer[0] = 0;
    pane_state_init(&gui->panes[PANE_CONSOLE], RGB(255, 255, 0), RGB(0, 0, 0));
    pane_state_init(&gui->panes[PANE_READER], RGB(0, 0, 0), RGB(255, 255, 0));
    memset(&gui->pane_logfont, 0, sizeof gui->pane_logfont);
    memset(gui->custom_colors, 0, sizeof gui->custom_colors);
    gui->gui_thread_id = 0;
}

/* The reader window's record; its session's lines go to the two panes. */
static void app_window_state_init_reader(AppWindowState *gui) {
    ReaderWindow *reader = &gui->reader;

    card_session_init(&reader->session, PANE_READER, PANE_CONSOLE);
    strcpy(reader->session.reader_name, "PCSC Reader 0");
    reader->quiet_retry = 0;
    reader->drop_pending = 0;
    reader->tick_missed = 0;
    reader->atr_index = -1;
    gui->reader_list[0] = 0;
    gui->offered_count = 0;
    gui->reader_pick = 0;
    gui->reader_last_pick = 0;
}

/* The dialogs' memories: what each proposes the first time it opens. */
static void app_window_state_init_dialogs(AppWindowState *gui) {
    strcpy(gui->apdu_comment, "Select Applet");
    strcpy(gui->apdu_text, "00 A4 04 00 05 01 02 03 04 05");
    strcpy(gui->apdu_file_path, "pdu.txt");
    gui->apdu_length = 0;
    gui->memory_write_address = 0;
    gui->tag_write_address = 0;
    gui->memory_read_address = 0;
    gui->tag_read_address = 0;
    gui->memory_read_size = 256;
    gui->tag_read_size = 256;
    gui->memory_read_text_format = 0;
    gui->tag_read_text_format = 0;
    strcpy(gui->memory_dump_path, "Smart");
    strcpy(gui->tag_dump_path, "Smart");
    gui->memory_dump_file = 0;
    gui->tag_dump_file = 0;
    strcpy(gui->script_file_name, "script.txt");
    gui->dialog_work_busy = 0;
    gui->dialog_work_stop = 0;
    gui->dialog_work_close = 0;
}

static void app_window_state_init_net(AppWindowState *gui) {
    gui->net_port = 8080;
    gui->net_listen_socket = INVALID_SOCKET;
    gui->net_winsock_started = 0;
    gui->net_daemon_thread = 0;
    gui->net_daemon_thread_id = 0;
    gui->net_running = 0;
    gui->net_connection.state = NET_SLOT_IDLE;
    gui->net_connection.socket = INVALID_SOCKET;
    gui->net_lock_ready = 0;
}

void app_window_state_init(void) {
    app_window_state_init_frame(&app.gui);
    app_window_state_init_reader(&app.gui);
    app_window_state_init_dialogs(&app.gui);
    app_window_state_init_net(&app.gui);
    app.gui_card = &app.gui.reader.session;
}

void app_window_locks_create(void) {
    for (int pane = 0; pane < PANE_COUNT; pane++) {
        InitializeCriticalSection(&app.gui.pane_queue_lock[pane]);
        InitializeConditionVariable(&app.gui.pane_queue_space[pane]);
        InitializeConditionVariable(&app.gui.pane_queue_shown[pane]);
    }
    card_session_locks_create(&app.gui.reader.session);
}
