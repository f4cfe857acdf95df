/*
 * gui_bench.cpp: what the card costs the GUI thread. In one run, on the
 * rig's test card in reader 0, with the frame hidden and then shown:
 *   - a memory READ of 16,384 bytes through the Read dialog (Console open)
 *     against the same 1,024 READ BINARY exchanges in a raw SCardTransmit
 *     loop, alternating A B A B, as the median ratio with its spread;
 *   - the GUI thread's longest answer to WM_GETTEXTLENGTH sent to the
 *     reader pane while a script, a network request, a Command dialog SEND
 *     and a memory READ each wait for one slow APDU;
 *   - the GUI thread's longest answer while a script traces twenty
 *     65,535-byte responses (2,048 trace lines each) into the reader pane;
 *   - the GUI thread's CPU time (GetThreadTimes) per line a worker prints
 *     into the reader pane and into the Console.
 *
 *   flock /tmp/vorlane-readers.lock scripts/wine-run \
 *       build/windows/bin/gui_bench.exe [ROUNDS, default 5] [DELAY_MS, default 5000]
 */
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <windows.h>
#include <winscard.h>

#include "app/app_state.h"
#include "bench/bench_clock.h"
#include "console/console.h"
#include "dialogs/dialogs.h"
#include "net/net.h"
#include "resources/names.h"
#include "resources/resource.h"
#include "script/script.h"
#include "tests/win/harness/card.h"
#include "tests/win/harness/dialog.h"
#include "tests/win/harness/files.h"
#include "tests/win/harness/frame.h"
#include "tests/win/harness/net.h"

enum { BENCH_READ_SIZE = 16384, BENCH_CHUNK = 16, BENCH_LINES = 2000 };

/* A: the dialog's READ, timed around the click (it returns once done). */
static double bench_dialog_read(void) {
    double us = 0;
    dialog_drive(RES_DIALOG_READ, "Read", memory_read_dialog_proc, [&](HWND dialog) {
        dialog_set(dialog, IDC_READ_SIZE, std::to_string(BENCH_READ_SIZE));
        double start = bench_now_us();
        dialog_click(dialog, IDC_READ_READ);
        us = bench_now_us() - start;
    });
    return us;
}

/* B: the same READ BINARY exchanges straight to the platform. */
static double bench_raw_read(void) {
    const SCARD_IO_REQUEST *pci =
        gui_session()->active_protocol == SCARD_PROTOCOL_T0 ? SCARD_PCI_T0 : SCARD_PCI_T1;
    unsigned char command[5] = {0x00, 0xB0, 0, 0, BENCH_CHUNK};
    unsigned char response[XFER_RESPONSE_MAX];
    double start = bench_now_us();

    for (int a = 0; a < BENCH_READ_SIZE; a += BENCH_CHUNK) {
        command[2] = (unsigned char)(a >> 8);
        command[3] = (unsigned char)a;
        DWORD length = sizeof response;
        SCardTransmit(gui_session()->card_handle, pci, command, 5, NULL, response, &length);
    }
    return bench_now_us() - start;
}

static void bench_read_ratio(int rounds) {
    std::vector<double> ratios;
    double dialog = 0, raw = 0;

    for (int r = 0; r < rounds; r++) {
        double a = bench_dialog_read();
        double b = bench_raw_read();
        harness_pane_clear(app.gui.panes[PANE_READER].edit, PANE_READER);
        dialog += a;
        raw += b;
        ratios.push_back(a / b);
    }
    std::sort(ratios.begin(), ratios.end());
    printf("  READ %d bytes: dialog %.0f ms, raw loop %.0f ms (means); ratio median %.2f "
           "(min %.2f, max %.2f, %d rounds)\n",
           BENCH_READ_SIZE, dialog / rounds / 1000, raw / rounds / 1000, ratios[ratios.size() / 2],
           ratios.front(), ratios.back(), rounds);
}

static void bench_worst_waits(int delay_ms, const std::string &script) {
    struct Case {
        const char *name;
        std::function<void()> gui;
    } cases[] = {
        {"script",
         [&] {
             start_script(script.c_str());
             harness_scripts_wait(delay_ms * 4);
         }},
        {"network request",
         [] {
             harness_with_pump(
                 [] {
                     SOCKET s = INVALID_SOCKET; /* the server may still be starting */
                     for (int i = 0; i < 200 && s == INVALID_SOCKET; i++, Sleep(10))
                         s = net_client_connect(app.gui.net_port);
                     net_client_send(s, net_request("D0"
                                                    "00B0000004")); /* D0: an APDU */
                     net_client_reply(s, 120000);
                     closesocket(s);
                 },
                 120000);
         }},
        {"Command SEND",
         [] {
             dialog_drive(RES_DIALOG_COMMAND, "Command", command_dialog_proc, [](HWND dialog) {
                 dialog_set(dialog, IDC_CMD_DATA, "00B0000004");
                 dialog_click(dialog, IDC_CMD_SEND);
             });
         }},
        {"memory READ",
         [] {
             dialog_drive(RES_DIALOG_READ, "Read", memory_read_dialog_proc, [](HWND dialog) {
                 dialog_set(dialog, IDC_READ_SIZE, "16");
                 dialog_click(dialog, IDC_READ_READ);
             });
         }},
    };
    testcard_delay(0, delay_ms);
    for (const Case &c : cases) {
        double start = bench_now_us();
        DWORD worst = harness_worst_answer_ms(app.gui.panes[PANE_READER].edit, c.gui);
        printf("  %-16s APDU of %d ms: took %.0f ms, GUI's worst answer %lu ms\n", c.name, delay_ms,
               (bench_now_us() - start) / 1000, (unsigned long)worst);
    }
    testcard_delay(0, 0);
}

/* Twenty extended-length READ BINARY answers of 65,535 bytes, traced. */
static void bench_extended_trace(void) {
    std::string script = harness_temp_path("vorlane_gui_bench_extended.txt");
    std::string text;
    for (int i = 0; i < 20; i++)
        text += "00B0000000FFFF\r\n";
    if (!harness_file_write(script, text))
        return;
    double start = bench_now_us();
    DWORD worst = harness_worst_answer_ms(app.gui.panes[PANE_READER].edit, [&] {
        start_script(script.c_str());
        harness_scripts_wait(120000);
    });
    printf("  script tracing 20 answers of 65,535 bytes: took %.0f ms, GUI's worst answer %lu ms\n",
           (bench_now_us() - start) / 1000, (unsigned long)worst);
}

static double bench_gui_cpu_us(void) {
    FILETIME created, ended, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user);
    ULARGE_INTEGER k = {{kernel.dwLowDateTime, kernel.dwHighDateTime}};
    ULARGE_INTEGER u = {{user.dwLowDateTime, user.dwHighDateTime}};
    return (double)(k.QuadPart + u.QuadPart) / 10.0;
}

/* GUI CPU per line of a worker printing BENCH_LINES lines into pane. */
static double bench_cpu_per_line(int pane) {
    double start = bench_gui_cpu_us();
    harness_with_pump([pane] {
        for (int i = 0; i < BENCH_LINES; i++)
            if (pane == PANE_READER)
                reader_print("bench line %d of the reader pane\r\n", i);
            else
                console_print("bench line %d of the Console\r\n", i);
    });
    pane_flush(pane);
    return (bench_gui_cpu_us() - start) / BENCH_LINES;
}

static int bench_mode(bool shown, int rounds, int delay_ms, const std::string &script) {
    _putenv(shown ? "HARNESS_VISIBLE=1" : "HARNESS_VISIBLE=");
    if (!dialog_card_open()) {
        fprintf(stderr, "no card ready in reader 0 (scripts/rig start)\n");
        return 0;
    }
    SendMessageA(app.gui.frame_window, WM_COMMAND, IDM_NEW_CONSOLE, 0);
    net_server_start(1);
    harness_pump(50);
    printf("frame %s:\n", shown ? "shown" : "hidden");
    bench_read_ratio(rounds);
    bench_worst_waits(delay_ms, script);
    bench_extended_trace();
    double reader = bench_cpu_per_line(PANE_READER);
    double console = bench_cpu_per_line(PANE_CONSOLE);
    printf("  GUI CPU per printed line: reader pane %.1f us, Console %.1f us (%d lines each)\n",
           reader, console, BENCH_LINES);
    net_server_stop(1);
    dialog_card_close();
    return 1;
}

int main(int argc, char **argv) {
    int rounds = argc > 1 ? atoi(argv[1]) : 5;
    int delay_ms = argc > 2 ? atoi(argv[2]) : 5000;
    std::string script = harness_temp_path("vorlane_gui_bench.txt");

    if (rounds < 1 || delay_ms < 0 || !harness_file_write(script, "00B0000004\r\n"))
        return 2;
    int ok =
        bench_mode(false, rounds, delay_ms, script) && bench_mode(true, rounds, delay_ms, script);
    return ok ? 0 : 1;
}
