/*
 * card_transmit_bench.cpp: what card_transmit costs on top of the platform
 * call. In one run, on the rig's test card in reader 0, it times N raw
 * SCardTransmit calls against N exchanges through card_transmit, first with
 * no Console open (the line is not formatted) and then with the Console
 * open (every line goes into its pane), and prints the ratios.
 *
 *   flock /tmp/vorlane-readers.lock scripts/wine-run \
 *       build/windows/bin/card_transmit_bench.exe [N, default 4000]
 *
 * Short blocks of both sides alternate, and the median of the blocks'
 * ratios is printed beside the ratio of the totals: on a shared machine a
 * load spike hits a few blocks, not one side. The fixed costs line times
 * what card_transmit adds around the platform call on its own.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <windows.h>
#include <winscard.h>

#include "bench/bench_clock.h"
#include "bench/bench_frame.h"
#include "app/app.h"
#include "app/app_state.h"
#include "card/card.h"
#include "resources/resource.h"
#include "script/script.h"
#include "resources/names.h"
#include "tests/win/harness/frame.h"
#include "tests/win/harness/testcard.h"

static const unsigned char bench_command[4] = {0x80, 0xF0, 0x00, 0x04};
static const int bench_block = 20; /* exchanges per timed block */

static double bench_raw(int count) {
    unsigned char response[512];
    LPCSCARD_IO_REQUEST pci =
        gui_session()->active_protocol == SCARD_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0;
    double start = bench_now_us();
    for (int i = 0; i < count; i++) {
        DWORD length = sizeof response;
        if (SCardTransmit(gui_session()->card_handle, pci, bench_command, sizeof bench_command,
                          NULL, response, &length) != SCARD_S_SUCCESS)
            return -1;
    }
    return bench_now_us() - start;
}

static double bench_card_transmit(int count) {
    unsigned char buffer[512];
    int error;
    double start = bench_now_us();
    for (int i = 0; i < count; i++) {
        memcpy(buffer, bench_command, sizeof bench_command);
        if (card_transmit(buffer, sizeof bench_command, &error) < 0)
            return -1;
    }
    return bench_now_us() - start;
}

static int bench_compare_double(const void *a, const void *b) {
    double x = *(const double *)a, y = *(const double *)b;
    return x < y ? -1 : x > y;
}

/* Short alternating blocks of both sides. Returns the number of exchanges
   per side and the median of the blocks' ratios (robust against the load
   spikes of a shared machine); *raw and *ours get the total times. */
static int bench_compare(int count, double *raw, double *ours, double *median) {
    static double ratios[100000];
    int rounds = count / bench_block;
    if (rounds < 1)
        rounds = 1;
    if (rounds > (int)(sizeof ratios / sizeof ratios[0]))
        rounds = (int)(sizeof ratios / sizeof ratios[0]);
    *raw = *ours = 0;
    for (int round = 0; round < rounds; round++) {
        double r, o;
        if (round % 2 == 0) {
            r = bench_raw(bench_block);
            o = bench_card_transmit(bench_block);
        } else {
            o = bench_card_transmit(bench_block);
            r = bench_raw(bench_block);
        }
        if (r <= 0 || o < 0)
            return 0;
        *raw += r;
        *ours += o;
        ratios[round] = o / r;
        harness_pump_once();
    }
    qsort(ratios, (size_t)rounds, sizeof ratios[0], bench_compare_double);
    *median = ratios[rounds / 2];
    return bench_block * rounds;
}

/* What card_transmit adds around the platform call, measured without it:
   two clock readings, and a refused call (lock, total test, header copy). */
static void bench_fixed_costs(void) {
    const int count = 100000;
    unsigned char buffer[512] = {0x80, 0xF0, 0x00, 0x04};
    int error;
    FILETIME now;

    double start = bench_now_us();
    for (int i = 0; i < count; i++)
        GetSystemTimeAsFileTime(&now);
    double clock = (bench_now_us() - start) / count;
    start = bench_now_us();
    for (int i = 0; i < count; i++)
        card_transmit(buffer, -1, &error);
    double refused = (bench_now_us() - start) / count;
    printf("fixed costs: clock reading %.3f us, refused card_transmit %.3f us\n", clock, refused);
}

static void bench_report(const char *what, int done, double raw, double ours, double median) {
    printf("%-30s raw %7.1f us, card_transmit %7.1f us per exchange; ratio %.3f (median of "
           "blocks %.3f)\n",
           what, raw / done, ours / done, ours / raw, median);
}

int main(int argc, char **argv) {
    int count = argc > 1 ? atoi(argv[1]) : 4000;
    double raw, ours, median;

    if (count < bench_block)
        count = bench_block;
    if (!bench_card_insert() || !bench_frame_open(SW_HIDE)) {
        printf("card_transmit_bench: no ready card on reader 0 (is the rig running?)\n");
        return 1;
    }
    gui_session()->xfer_total_ms = 1;
    bench_compare(count / 10, &raw, &ours, &median); /* warm-up */

    int done = bench_compare(count, &raw, &ours, &median);
    if (!done) {
        printf("card_transmit_bench: an exchange failed\n");
        return 1;
    }
    printf("exchanges per side: %d (command 80 F0 00 04, 4-byte response, blocks of %d)\n", done,
           bench_block);
    bench_report("Console closed:", done, raw, ours, median);

    SendMessageA(app.gui.frame_window, WM_COMMAND, IDM_NEW_CONSOLE, 0);
    done = bench_compare(count, &raw, &ours, &median);
    if (!done) {
        printf("card_transmit_bench: an exchange failed\n");
        return 1;
    }
    bench_report("Console open:", done, raw, ours, median);
    SendMessageA(app.gui.panes[PANE_CONSOLE].window, WM_CLOSE, 0, 0);
    bench_fixed_costs();

    SendMessageA(app.gui.frame_window, WM_CLOSE, 0, 0);
    harness_pump(20);
    testcard_remove(0);
    return 0;
}
