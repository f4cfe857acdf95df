/*
 * runner_bench.cpp: what vorlane-run.exe costs per APDU. In one run, on the
 * rig's test card in reader 0, it times:
 *   - a raw loop of SCardTransmit calls on a connection of its own (the
 *     connection made before the clock starts),
 *   - vorlane-run.exe with a script of the same APDU lines, trace on, its
 *     standard output to a file, less the same program with an empty script
 *     (process start, connection and the closing lines),
 * alternating the two, and prints the per-APDU times and their ratio.
 *
 *   flock /tmp/vorlane-readers.lock scripts/wine-run \
 *       build/windows/bin/runner_bench.exe [LINES] [ROUNDS]
 *
 * bench/runner_bench runs it and measures the bridge's share of an exchange.
 * The APDUs alternate 80 F0 00 04 (4-byte response) and 00 B0 00 00 10
 * (18-byte response), as in the script benchmark; with a third argument
 * "extended" every APDU is 00 B0 00 00 00 FF FF, answered with 65,535
 * bytes.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <windows.h>
#include <winscard.h>

#include "bench/bench_clock.h"
#include "bench/bench_frame.h"
#include "tests/win/harness/process.h"
#include "tests/win/harness/testcard.h"

static const char *bench_lines[2] = {"80 F0 00 04", "00 B0 00 00 10"};
static const unsigned char bench_short[2][7] = {{0x80, 0xF0, 0x00, 0x04},
                                                {0x00, 0xB0, 0x00, 0x00, 0x10}};
static const unsigned char bench_extended[2][7] = {{0x00, 0xB0, 0x00, 0x00, 0x00, 0xFF, 0xFF},
                                                   {0x00, 0xB0, 0x00, 0x00, 0x00, 0xFF, 0xFF}};
static const unsigned char (*bench_bytes)[7] = bench_short;
static DWORD bench_lengths[2] = {4, 5};

/* Microseconds for count raw exchanges, or -1. */
static double bench_raw(int count) {
    SCARDCONTEXT context = 0;
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    double elapsed = -1;

    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, NULL, NULL, &context) != SCARD_S_SUCCESS)
        return -1;
    if (SCardConnectA(context, "Virtual PCD 00 00", SCARD_SHARE_SHARED,
                      SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card, &protocol) == SCARD_S_SUCCESS) {
        LPCSCARD_IO_REQUEST pci = protocol == SCARD_PROTOCOL_T1 ? SCARD_PCI_T1 : SCARD_PCI_T0;
        int failed = 0;
        double start = bench_now_us();
        static unsigned char buffer[65536 + 2];
        for (int i = 0; i < count; i++) {
            DWORD length = sizeof buffer;
            failed |= SCardTransmit(card, pci, bench_bytes[i % 2], bench_lengths[i % 2], NULL,
                                    buffer, &length) != SCARD_S_SUCCESS;
        }
        elapsed = failed ? -1 : bench_now_us() - start;
        SCardDisconnect(card, SCARD_LEAVE_CARD);
    }
    SCardReleaseContext(context);
    return elapsed;
}

/* Microseconds for one runner process on script, or -1 when it failed. */
static double bench_runner(const char *script, size_t *out_size) {
    std::string line = "\"" + process_own_dir() + "\\vorlane-run.exe\" " + script;
    double start = bench_now_us();
    ChildResult result = process_run(line, ".", 600000);
    double elapsed = bench_now_us() - start;
    *out_size = result.out.size();
    return result.status == 0 ? elapsed : -1;
}

static int bench_write_script(const char *path, int count) {
    FILE *file = fopen(path, "w");
    if (!file)
        return 0;
    for (int i = 0; i < count; i++)
        fprintf(file, "%s\n", bench_lines[i % 2]);
    fclose(file);
    return 1;
}

struct BenchTimes {
    double raw, empty, full;
    size_t out_size;
};

static int bench_round(int count, BenchTimes *sum) {
    size_t size = 0;
    double raw = bench_raw(count);
    double empty = bench_runner("runner_bench_empty.txt", &size);
    double full = bench_runner("runner_bench.txt", &sum->out_size);
    if (raw < 0 || empty < 0 || full < 0)
        return 0;
    sum->raw += raw;
    sum->empty += empty;
    sum->full += full;
    return 1;
}

int main(int argc, char **argv) {
    int count = argc > 1 ? atoi(argv[1]) : 10000;
    int rounds = argc > 2 ? atoi(argv[2]) : 2;
    BenchTimes sum = {0, 0, 0, 0};

    if (argc > 3 && strcmp(argv[3], "extended") == 0) {
        bench_lines[0] = bench_lines[1] = "00 B0 00 00 00 FF FF";
        bench_bytes = bench_extended;
        bench_lengths[0] = bench_lengths[1] = 7;
    }
    bench_counts_floor(&count, &rounds);
    if (!bench_card_insert()) {
        printf("runner_bench: no card on reader 0 (is the rig running?)\n");
        return 1;
    }
    if (!bench_write_script("runner_bench.txt", count) ||
        !bench_write_script("runner_bench_empty.txt", 0)) {
        printf("runner_bench: cannot write the scripts\n");
        return 1;
    }
    BenchTimes warm = {0, 0, 0, 0};
    bench_round(2, &warm);
    for (int round = 0; round < rounds; round++) {
        if (!bench_round(count, &sum)) {
            printf("runner_bench: a run or an exchange failed\n");
            return 1;
        }
    }
    double n = (double)count * rounds;
    double runner = sum.full - sum.empty;
    printf("APDUs per side: %d x %d rounds (%s and %s alternating)\n", count, rounds,
           bench_lines[0], bench_lines[1]);
    printf("raw SCardTransmit loop:       %8.1f us/APDU\n", sum.raw / n);
    printf("vorlane-run, trace on:        %8.1f us/APDU (%zu bytes of output a run; start,\n"
           "                              connection and closing of %.0f ms taken off)\n",
           runner / n, sum.out_size, sum.empty / rounds / 1000.0);
    printf("ratio vorlane-run / raw loop: %.3f\n", runner / sum.raw);
    printf("RUNNER_BENCH_US %.1f %.1f\n", sum.raw / n, runner / n);

    DeleteFileA("runner_bench.txt");
    DeleteFileA("runner_bench_empty.txt");
    testcard_remove(0);
    return 0;
}
