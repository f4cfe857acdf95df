/*
 * memory_dialogs.cpp: the four dialogs that write a file to, or read and
 * dump, the memory of a memory card or a contactless tag, one chunk per
 * command APDU from a start address that moves on behind the last chunk.
 *
 * The memory and tag members of each pair run the same steps; a variant
 * record says what differs (chunk routine and size, how P1 P2 is made from
 * the address, the file dialog's title, which AppState fields hold the
 * dialog's values, and the write or read dialog's own buttons). One
 * procedure serves all four.
 */
#include "dialogs/dialogs.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app/app.h"
#include "app/app_state.h"
#include "app/prompt.h"
#include "dialogs/dialog_text.h"
#include "console/console.h"
#include "resources/resource.h"

typedef int (*ChunkRoutine)(unsigned char *buffer, int length, unsigned p1p2);

struct MemoryVariant;
/* A dialog's start, and its buttons other than QUIT */
typedef INT_PTR (*MemoryInit)(HWND dialog, const MemoryVariant *variant);
typedef INT_PTR (*MemoryClick)(HWND dialog, int id, const MemoryVariant *variant);

struct MemoryVariant {
    ChunkRoutine chunk;     /* one command APDU per chunk */
    int chunk_size;         /* bytes per chunk */
    int block_shift;        /* P1 P2 = address >> block_shift */
    const char *file_title; /* title of the file dialog */
    unsigned *address;      /* start address field */
    int *size;              /* read size field (Read dialogs) */
    int *text_format;       /* text format flag (Read dialogs) */
    char *dump_path;        /* dump path (Read dialogs) */
    FILE **dump_file;       /* dump file during READ and SAVE (Read dialogs) */
    int quit_id;            /* the QUIT button, which also stops a work in flight */
    MemoryInit on_init;
    MemoryClick on_click;
};

static INT_PTR memory_write_on_init(HWND dialog, const MemoryVariant *variant);
static INT_PTR memory_write_on_click(HWND dialog, int id, const MemoryVariant *variant);
static INT_PTR memory_read_on_init(HWND dialog, const MemoryVariant *variant);
static INT_PTR memory_read_on_click(HWND dialog, int id, const MemoryVariant *variant);

static const MemoryVariant memory_write_variant = {memory_write_binary,
                                                   32,
                                                   0,
                                                   "Loading a File",
                                                   &app.gui.memory_write_address,
                                                   0,
                                                   0,
                                                   0,
                                                   0,
                                                   IDC_WRITE_QUIT,
                                                   memory_write_on_init,
                                                   memory_write_on_click};
static const MemoryVariant tag_write_variant = {tag_update_binary,
                                                4,
                                                2,
                                                "Loading a File",
                                                &app.gui.tag_write_address,
                                                0,
                                                0,
                                                0,
                                                0,
                                                IDC_WRITE_QUIT,
                                                memory_write_on_init,
                                                memory_write_on_click};
static const MemoryVariant memory_read_variant = {memory_read_binary,
                                                  16,
                                                  0,
                                                  "Dumping card content in a file",
                                                  &app.gui.memory_read_address,
                                                  &app.gui.memory_read_size,
                                                  &app.gui.memory_read_text_format,
                                                  app.gui.memory_dump_path,
                                                  &app.gui.memory_dump_file,
                                                  IDC_READ_QUIT,
                                                  memory_read_on_init,
                                                  memory_read_on_click};
static const MemoryVariant tag_read_variant = {tag_read_binary,
                                               4,
                                               2,
                                               "Dumping tag content in a file",
                                               &app.gui.tag_read_address,
                                               &app.gui.tag_read_size,
                                               &app.gui.tag_read_text_format,
                                               app.gui.tag_dump_path,
                                               &app.gui.tag_dump_file,
                                               IDC_READ_QUIT,
                                               memory_read_on_init,
                                               memory_read_on_click};

/* Filter lists: description and pattern pairs, ended by an empty text */
static const char memory_write_filter[] = "All  files   (*.*)\0*.*\0"
                                          "html files  (*.html)\0*.html\0"
                                          "html files  (*.htm)\0*.htm\0"
                                          "gif  files  (*.gif)\0*.gif\0"
                                          "jpeg files  (*.jpg)\0*.jpg\0"
                                          "applet files  (*.class)\0*.class\0";
static const char memory_read_filter[] = "Cfg files  (*.cfg)\0*.cfg\0"
                                         "All files   (*.*)\0*.*\0";

/* A chunk routine's buffer takes what card_transmit may answer. */
enum { MEMORY_WORK_SIZE = CARD_TRANSMIT_CAPACITY };

static void memory_print_ready(void) {
    reader_print("%s Card is ready\r\n", app_prompt);
}

/* The one procedure of the four dialogs. Only clicks count: while a READ
   or WRITE is in flight every click goes to the work (QUIT stops it and
   closes the dialog after it), else QUIT closes at once and any other
   button is the variant's. */
static INT_PTR memory_dialog(HWND dialog, UINT message, WPARAM wparam,
                             const MemoryVariant *variant) {
    switch (message) {
        case WM_INITDIALOG: return variant->on_init(dialog, variant);
        case WM_COMMAND:
            if (HIWORD(wparam) != BN_CLICKED)
                return FALSE;
            if (dlg_work_command(LOWORD(wparam), variant->quit_id))
                return TRUE;
            if (LOWORD(wparam) != variant->quit_id)
                return variant->on_click(dialog, LOWORD(wparam), variant);
            EndDialog(dialog, 0);
            return TRUE;
    }
    return FALSE;
}

/* ---- Write dialogs ---- */

/* Reads a whole file to write into a temporary buffer. Returns 0 when the
   file cannot be opened, measured, held in memory or read: then the card is
   not touched. */
static unsigned char *memory_file_load(const char *path, long *length) {
    FILE *file = fopen(path, "rb");
    unsigned char *data = 0;
    long size;
    size_t got;

    if (!file)
        return 0;
    size = file_length(file);
    if (size >= 0)
        data = (unsigned char *)malloc((size_t)size + 10);
    if (data) {
        got = fread(data, 1, (size_t)size, file);
        if (ferror(file)) {
            free(data);
            data = 0;
        }
        *length = (long)got;
    }
    fclose(file);
    return data;
}

static void memory_write_chunks(const MemoryVariant *variant, const unsigned char *data, long n) {
    unsigned char work[MEMORY_WORK_SIZE];
    unsigned a = *variant->address & 0xFFFF;
    long total = 0;
    long position = 0;

    while (n > 0) {
        int chunk = n < variant->chunk_size ? (int)n : variant->chunk_size;
        memcpy(work, data + position, (size_t)chunk);
        int result = variant->chunk(work, chunk, a >> variant->block_shift);
        int written = result >= 2 && work[0] == 0x90;
        if (written) {
            /* The address in decimal despite the hexadecimal fields around
               it: dumps and logs made so far read it so. */
            reader_print("Adr=%04u, %02d bytes written %2.2X %2.2X\r\n", a, chunk, 0x90, work[1]);
            total += chunk;
        } else {
            /* The spelling is the one users and their log filters know. */
            reader_print("!!! Error While writting ...\r\n");
        }
        n -= chunk;
        position += chunk;
        a = (a + (unsigned)chunk) & 0xFFFF;
        if (!written || dlg_work_stopping())
            break;
    }
    reader_print("%ld bytes written\r\n", total);
    *variant->address = a;
}

/* A WRITE's chunks, on the dialog's worker */
struct MemoryWriteWork {
    const MemoryVariant *variant;
    const unsigned char *data;
    long n;
};

static void memory_write_work(void *arg) {
    const MemoryWriteWork *work = (const MemoryWriteWork *)arg;
    memory_write_chunks(work->variant, work->data, work->n);
}

static void memory_write(HWND dialog, const MemoryVariant *variant) {
    char path[PATH_SIZE] = "";
    unsigned char *data;
    long n = 0;

    dlg_item_scanf(dialog, IDC_WRITE_ADDRESS, "%u", variant->address);
    if (!choose_open_file(dialog, path, variant->file_title))
        return;
    data = memory_file_load(path, &n);
    if (!data)
        return;
    MemoryWriteWork work = {variant, data, n};
    dlg_work_run(dialog, IDC_WRITE_QUIT, memory_write_work, &work);
    dlg_item_printf(dialog, IDC_WRITE_ADDRESS, "%u", *variant->address);
    free(data);
    memory_print_ready();
    dlg_work_end(dialog);
}

static INT_PTR memory_write_on_init(HWND dialog, const MemoryVariant *variant) {
    *variant->address = 0;
    dlg_item_printf(dialog, IDC_WRITE_ADDRESS, "%u", *variant->address);
    file_dialog_init_filter(dialog, memory_write_filter);
    return TRUE;
}

static INT_PTR memory_write_on_click(HWND dialog, int id, const MemoryVariant *variant) {
    if (id != IDC_WRITE_WRITE)
        return FALSE;
    memory_write(dialog, variant);
    return TRUE;
}

INT_PTR CALLBACK memory_write_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    return memory_dialog(dialog, message, wparam, &memory_write_variant);
}

INT_PTR CALLBACK tag_write_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    return memory_dialog(dialog, message, wparam, &tag_write_variant);
}

/* ---- Read dialogs ---- */

/* Appends a chunk to the dump file. A failed write is reported once and the
   dump is closed, so that a short dump never passes for a whole one; the
   read goes on into the pane. */
static void memory_dump_chunk(const MemoryVariant *variant, const unsigned char *data, int chunk) {
    FILE *dump = *variant->dump_file;

    if (!dump)
        return;
    if (fwrite(data, 1, (size_t)chunk, dump) == (size_t)chunk)
        return;
    fclose(dump);
    *variant->dump_file = 0;
    reader_print("!!! Error While Writing %s\r\n", variant->dump_path);
}

static void memory_read_chunks(const MemoryVariant *variant) {
    unsigned char work[MEMORY_WORK_SIZE];
    char text[4 * MEMORY_WORK_SIZE];
    unsigned a = *variant->address & 0xFFFF;
    int remaining = *variant->size;

    while (remaining > 0) {
        int chunk = remaining < variant->chunk_size ? remaining : variant->chunk_size;
        int result = variant->chunk(work, chunk, a >> variant->block_shift);
        int read = result >= chunk + 2 && work[chunk] == 0x90;
        if (read) {
            memory_dump_chunk(variant, work, chunk);
            memory_chunk_text(text, sizeof text, work, chunk, *variant->text_format);
        } else {
            snprintf(text, sizeof text, "!!! Error While Reading...\r\n");
        }
        reader_print("%s", text);
        remaining -= chunk;
        a = (a + (unsigned)chunk) & 0xFFFF;
        if (!read || dlg_work_stopping())
            break;
    }
    *variant->address = a;
}

/* A READ's chunks, on the dialog's worker */
static void memory_read_work(void *variant) {
    memory_read_chunks((const MemoryVariant *)variant);
}

static void memory_read(HWND dialog, const MemoryVariant *variant) {
    dlg_item_scanf(dialog, IDC_READ_ADDRESS, "%u", variant->address);
    dlg_item_scanf(dialog, IDC_READ_SIZE, "%u", variant->size);
    dlg_work_run(dialog, IDC_READ_QUIT, memory_read_work, (void *)variant);
    dlg_item_printf(dialog, IDC_READ_ADDRESS, "%u", *variant->address);
    memory_print_ready();
    if (*variant->dump_file) {
        if (file_close_written(*variant->dump_file) != 0)
            reader_print("!!! Error While Writing %s\r\n", variant->dump_path);
        *variant->dump_file = 0;
    }
    dlg_work_end(dialog);
}

static void memory_read_and_save(HWND dialog, const MemoryVariant *variant) {
    if (!choose_save_file(dialog, variant->dump_path, variant->file_title))
        return;
    *variant->dump_file = fopen(variant->dump_path, "wb");
    if (!*variant->dump_file)
        return;
    memory_read(dialog, variant);
}

static INT_PTR memory_read_on_init(HWND dialog, const MemoryVariant *variant) {
    *variant->address = 0;
    file_dialog_init_filter(dialog, memory_read_filter);
    dlg_item_printf(dialog, IDC_READ_ADDRESS, "%u", *variant->address);
    dlg_item_printf(dialog, IDC_READ_SIZE, "%u", (unsigned)*variant->size);
    CheckDlgButton(dialog, IDC_READ_TEXT_FORMAT,
                   *variant->text_format ? BST_CHECKED : BST_UNCHECKED);
    return TRUE;
}

static INT_PTR memory_read_on_click(HWND dialog, int id, const MemoryVariant *variant) {
    switch (id) {
        case IDC_READ_READ: memory_read(dialog, variant); return TRUE;
        case IDC_READ_SAVE: memory_read_and_save(dialog, variant); return TRUE;
        case IDC_READ_TEXT_FORMAT:
            *variant->text_format = IsDlgButtonChecked(dialog, IDC_READ_TEXT_FORMAT) == BST_CHECKED;
            return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK memory_read_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    return memory_dialog(dialog, message, wparam, &memory_read_variant);
}

INT_PTR CALLBACK tag_read_dialog_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    return memory_dialog(dialog, message, wparam, &tag_read_variant);
}
