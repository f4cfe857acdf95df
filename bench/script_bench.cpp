/*
 * script_bench.cpp: what the script interpreter costs per APDU. In one run,
 * on the rig's test card in reader 0, with the program's frame and reader
 * window (hidden, or shown on the display when HARNESS_VISIBLE is set, as a
 * user sees them) and no Console, it times:
 *   - a raw loop of SCardTransmit calls on the reader window's card handle,
 *   - a loop of card_transmit calls, the exchange every script line makes,
 *   - a script of the same APDU lines with "/OFF" (no trace),
 *   - the same script with the trace on (every command and response shown
 *     in the reader pane),
 *   - the same again with the Console open too (one timing line per APDU),
 * each on a worker thread while this GUI thread runs a message loop, and
 * prints the per-APDU times and their ratios. A script's time runs until
 * the panes show its last line.
 *
 *   flock /tmp/vorlane-readers.lock scripts/wine-run \
 *       build/windows/bin/script_bench.exe [LINES [ROUNDS]]
 *   ... script_bench.exe memory [SMALL LARGE]
 *
 * "memory" runs a traced script of SMALL lines (1,000) and then one of LARGE
 * lines (100,000) with the Console open, and prints the resident size after
 * each: queued printing must keep memory flat however long a script runs.
 *
 * bench/script_bench runs it and measures the bridge's share of an exchange.
 * The APDUs alternate 80 F0 00 04 (4-byte response) and 00 B0 00 00 10
 * (18-byte response).
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <windows.h>
#include <psapi.h>
#include <winscard.h>

#include "bench/bench_clock.h"
#include "bench/bench_frame.h"
#include "app/app.h"
#include "app/app_state.h"
#include "card/card.h"
#include "console/console.h"
#include "resources/resource.h"
#include "script/script.h"
#include "resources/names.h"
#include "tests/win/harness/frame.h"
#include "tests/win/harness/testcard.h"

static const char *const bench_lines[2] = {"80 F0 00 04", "00 B0 00 00 10"};
static const unsigned char bench_bytes[2][5] = {{0x80, 0xF0, 0x00, 0x04},
                                                {0x00, 0xB0, 0x00, 0x00, 0x10}};
static const int bench_lengths[2] = {4, 5};

/* One timed loop on a worker thread */
struct BenchLoop {
    int count;
    int raw; /* 1: SCardTransmit, 0: card_transmit */
    int failed;
};

/* A message loop like the program's, until handle is signalled. */
static void bench_loop_until(HANDLE handle) {
    for (;;) {
        DWORD woke = MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0)
            return;
        harness_pump_once();
    }
}

/* The same, until no script run is left. A run signals nothing when it
   ends, so the count is looked at every 20 ms; the loop still wakes at once
   for every text a run hands over, and does not steal the processor from
   the run by waking every millisecond. */
static void bench_loop_until_runs_end(void) {
    while (platform_counter_read(&app.script_runs) > 0) {
        MsgWaitForMultipleObjects(0, NULL, FALSE, 20, QS_ALLINPUT);
        harness_pump_once();
    }
}

static DWORD WINAPI bench_loop_thread(LPVOID param) {
    BenchLoop *loop = (BenchLoop *)param;
    unsigned char buffer[XFER_RESPONSE_MAX];
    LPCSCARD_IO_REQUEST pci =
        gui_session()->active_protocol == SCARD_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0;
    int error;

    for (int i = 0; i < loop->count; i++) {
        int k = i % 2;
        memcpy(buffer, bench_bytes[k], (size_t)bench_lengths[k]);
        if (loop->raw) {
            DWORD length = sizeof buffer;
            if (SCardTransmit(gui_session()->card_handle, pci, buffer, (DWORD)bench_lengths[k],
                              NULL, buffer, &length) != SCARD_S_SUCCESS)
                loop->failed = 1;
        } else if (card_transmit(buffer, bench_lengths[k], &error) < 0) {
            loop->failed = 1;
        }
    }
    return 0;
}

/* Microseconds for count exchanges on a worker thread, or -1. */
static double bench_exchanges(int count, int raw) {
    BenchLoop loop = {count, raw, 0};
    double start = bench_now_us();
    HANDLE thread = CreateThread(NULL, 0, bench_loop_thread, &loop, 0, NULL);
    if (!thread)
        return -1;
    bench_loop_until(thread);
    double elapsed = bench_now_us() - start;
    CloseHandle(thread);
    return loop.failed ? -1 : elapsed;
}

/* Microseconds for one run of the script at path (a static text), until
   the panes show all of its output. */
static double bench_script(const char *path) {
    double start = bench_now_us();
    start_script(path);
    bench_loop_until_runs_end();
    pane_flush(PANE_READER);
    pane_flush(PANE_CONSOLE);
    double elapsed = bench_now_us() - start;
    /* A run that stopped at a failed exchange is no measure. */
    static char text[40000];
    GetWindowTextA(app.gui.panes[PANE_READER].edit, text, sizeof text);
    return strstr(text, "End of script") && !strstr(text, "busy") ? elapsed : -1;
}

static int bench_visible(void) {
    return getenv("HARNESS_VISIBLE") != NULL;
}

/* Opens or closes the Console; the children are tiled so that both panes
   are in view when the frame is shown. */
static void bench_console(int open) {
    if (open && !app.gui.panes[PANE_CONSOLE].window)
        SendMessageA(app.gui.frame_window, WM_COMMAND, IDM_NEW_CONSOLE, 0);
    if (!open && app.gui.panes[PANE_CONSOLE].window)
        SendMessageA(app.gui.mdi_client, WM_MDIDESTROY, (WPARAM)app.gui.panes[PANE_CONSOLE].window,
                     0);
    SendMessageA(app.gui.mdi_client, WM_MDITILE, 0, 0);
    harness_pump(50);
}

static int bench_write_script(const char *path, int count, int trace) {
    FILE *file = fopen(path, "w");
    if (!file)
        return 0;
    if (!trace)
        fputs("/OFF\n", file);
    for (int i = 0; i < count; i++)
        fprintf(file, "%s\n", bench_lines[i % 2]);
    fclose(file);
    return 1;
}

/* A reader pane emptied between runs, so every run starts alike. */
static void bench_pane_clear(void) {
    for (int pane = 0; pane < PANE_COUNT; pane++) {
        if (!app.gui.panes[pane].edit)
            continue;
        SetWindowTextA(app.gui.panes[pane].edit, "");
        pane_reset(pane);
    }
}

struct BenchTimes {
    double raw, transmit, off, on, on_console;
};

static int bench_round(int count, BenchTimes *sum) {
    static char off_path[] = "script_bench_off.txt";
    static char on_path[] = "script_bench_on.txt";
    double raw = bench_exchanges(count, 1);
    double transmit = bench_exchanges(count, 0);
    bench_pane_clear();
    double off = bench_script(off_path);
    bench_pane_clear();
    double on = bench_script(on_path);
    bench_console(1);
    bench_pane_clear();
    double on_console = bench_script(on_path);
    bench_console(0);
    if (raw < 0 || transmit < 0 || off < 0 || on < 0 || on_console < 0)
        return 0;
    sum->raw += raw;
    sum->transmit += transmit;
    sum->off += off;
    sum->on += on;
    sum->on_console += on_console;
    return 1;
}

static double bench_resident_mib(void) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return -1;
    return (double)counters.WorkingSetSize / (1024.0 * 1024.0);
}

/* Resident size after a short and after a long traced script. */
static int bench_memory(int small, int large) {
    static char small_path[] = "script_bench_small.txt";
    static char large_path[] = "script_bench_large.txt";
    if (!bench_write_script(small_path, small, 1) || !bench_write_script(large_path, large, 1)) {
        printf("script_bench: cannot write the scripts\n");
        return 1;
    }
    bench_console(1);
    double small_us = bench_script(small_path);
    double after_small = bench_resident_mib();
    double large_us = bench_script(large_path);
    double after_large = bench_resident_mib();
    printf("frame %s, Console open, trace on\n", bench_visible() ? "visible" : "hidden");
    printf("resident after %6d-line script: %7.1f MiB (%.1f us/APDU)\n", small, after_small,
           small_us / small);
    printf("resident after %6d-line script: %7.1f MiB (%.1f us/APDU)\n", large, after_large,
           large_us / large);
    printf("growth: %.1f MiB\n", after_large - after_small);
    DeleteFileA(small_path);
    DeleteFileA(large_path);
    return 0;
}

int main(int argc, char **argv) {
    int memory = argc > 1 && strcmp(argv[1], "memory") == 0;
    int count = argc > 1 && !memory ? atoi(argv[1]) : 10000;
    int rounds = argc > 2 && !memory ? atoi(argv[2]) : 2;
    BenchTimes sum = {0, 0, 0, 0, 0};

    bench_counts_floor(&count, &rounds);
    if (!bench_card_insert() || !bench_frame_open(bench_visible() ? SW_SHOWMAXIMIZED : SW_HIDE)) {
        printf("script_bench: no ready card on reader 0 (is the rig running?)\n");
        return 1;
    }
    if (memory) {
        int result =
            bench_memory(argc > 2 ? atoi(argv[2]) : 1000, argc > 3 ? atoi(argv[3]) : 100000);
        SendMessageA(app.gui.frame_window, WM_CLOSE, 0, 0);
        harness_pump(20);
        testcard_remove(0);
        return result;
    }
    if (!bench_write_script("script_bench_off.txt", count, 0) ||
        !bench_write_script("script_bench_on.txt", count, 1)) {
        printf("script_bench: cannot write the scripts\n");
        return 1;
    }
    BenchTimes warm = {0, 0, 0, 0, 0};
    bench_round(count / 20 > 2 ? count / 20 : 2, &warm); /* warm-up, shorter scripts are fine */
    for (int round = 0; round < rounds; round++) {
        if (!bench_round(count, &sum)) {
            printf("script_bench: an exchange or a script run failed\n");
            return 1;
        }
    }
    double n = (double)count * rounds;
    printf(
        "APDUs per side: %d x %d rounds (80 F0 00 04 and 00 B0 00 00 10 alternating), frame %s\n",
        count, rounds, bench_visible() ? "visible" : "hidden");
    printf("raw SCardTransmit loop:     %8.1f us/APDU\n", sum.raw / n);
    printf("card_transmit loop:         %8.1f us/APDU\n", sum.transmit / n);
    printf("script, trace off:          %8.1f us/APDU\n", sum.off / n);
    printf("script, trace on:           %8.1f us/APDU\n", sum.on / n);
    printf("script, trace on, Console:  %8.1f us/APDU\n", sum.on_console / n);
    printf("ratio trace off / raw SCardTransmit loop: %.3f\n", sum.off / sum.raw);
    printf("ratio trace off / card_transmit loop:     %.3f\n", sum.off / sum.transmit);
    printf("ratio trace on / trace off:               %.3f\n", sum.on / sum.off);
    printf("ratio trace on with Console / trace off:  %.3f\n", sum.on_console / sum.off);
    printf("SCRIPT_BENCH_US %.1f %.1f %.1f %.1f\n", sum.raw / n, sum.transmit / n, sum.off / n,
           sum.on / n);

    DeleteFileA("script_bench_off.txt");
    DeleteFileA("script_bench_on.txt");
    SendMessageA(app.gui.frame_window, WM_CLOSE, 0, 0);
    harness_pump(20);
    testcard_remove(0);
    return 0;
}
