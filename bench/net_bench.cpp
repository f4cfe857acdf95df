/*
 * net_bench.cpp: APDU round trips through the network reader against
 * direct card_transmit calls on the same test card, in one run.
 *
 *   flock /tmp/vorlane-readers.lock scripts/wine-run build/<dir>/bin/net_bench.exe [count]
 *
 * Needs the card rig (scripts/rig start). The program is set up as the
 * real one is: the frame (hidden, or shown on the display when
 * HARNESS_VISIBLE is set, as a user sees it), the card reader window (its
 * pane takes the server's trace), the server on 127.0.0.1:8080. The client runs on a
 * second thread while this thread pumps messages, as the GUI thread does.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <string>
#include <thread>

#include "bench/bench_clock.h"
#include "app/app.h"
#include "app/app_state.h"
#include "card/card.h"
#include "console/console.h"
#include "net/net.h"
#include "resources/resource.h"
#include "script/script.h"
#include "resources/names.h"
#include "tests/win/harness/frame.h"
#include "tests/win/harness/testcard.h"

/* Milliseconds of the performance counter. */
static double bench_now_ms(void) {
    return bench_now_us() / 1000.0;
}

static int bench_open(void) {
    if (!harness_frame_open())
        return 0;
    if (getenv("HARNESS_VISIBLE"))
        ShowWindow(app.gui.frame_window, SW_SHOWMAXIMIZED);
    SendMessageA(app.gui.frame_window, WM_COMMAND, IDM_NEW_READER, 0);
    if (!app.gui.panes[PANE_READER].window)
        return 0;
    KillTimer(app.gui.panes[PANE_READER].window, 1);
    for (int i = 0; i < 200 && gui_session()->card_state != CARD_READY; i++) {
        card_tick(&app.gui.reader);
        harness_pump(10);
    }
    while (!script_runs_wait(0))
        harness_pump(10);
    return gui_session()->card_state == CARD_READY;
}

/* Direct exchanges of the command; average ms each. */
static double bench_direct(const unsigned char *command, int length, int count, int expect) {
    unsigned char buffer[512];
    int error = 0;
    double begin = bench_now_ms();
    for (int i = 0; i < count; i++) {
        memcpy(buffer, command, (size_t)length);
        if (card_transmit(buffer, length, &error) != expect) {
            fprintf(stderr, "direct exchange %d failed (error %d)\n", i, error);
            return -1;
        }
    }
    return (bench_now_ms() - begin) / count;
}

static SOCKET bench_connect(void) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    struct sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(app.gui.net_port);
    to.sin_addr.s_addr = inet_addr("127.0.0.1");
    if (connect(s, (struct sockaddr *)&to, sizeof to) == SOCKET_ERROR) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

/* Reads one reply (up to its byte 0x03); its length, or -1. */
static int bench_reply(SOCKET s) {
    char buffer[2048];
    int used = 0;
    while (used < (int)sizeof buffer) {
        int got = recv(s, buffer + used, (int)sizeof buffer - used, 0);
        if (got <= 0)
            return -1;
        used += got;
        if (buffer[used - 1] == 0x03)
            return used;
    }
    return -1;
}

/* Round trips of the request through the server, the client on a second
   thread; average ms each. */
static double bench_network(const std::string &request, int count, int expect_length) {
    std::atomic<bool> done(false);
    double average = -1;
    std::thread client([&] {
        SOCKET s = INVALID_SOCKET;
        for (int i = 0; i < 200 && s == INVALID_SOCKET; i++) {
            s = bench_connect();
            if (s == INVALID_SOCKET)
                Sleep(10);
        }
        if (s != INVALID_SOCKET) {
            double begin = bench_now_ms();
            int i = 0;
            for (; i < count; i++) {
                send(s, request.data(), (int)request.size(), 0);
                if (bench_reply(s) != expect_length)
                    break;
            }
            if (i == count)
                average = (bench_now_ms() - begin) / count;
            else
                fprintf(stderr, "network round trip %d failed\n", i);
            closesocket(s);
        }
        done = true;
    });
    while (!done) {
        harness_pump_once();
        MsgWaitForMultipleObjects(0, NULL, FALSE, 1, QS_ALLINPUT);
    }
    client.join();
    return average;
}

static void bench_report(const char *what, double direct, double network, double quiet) {
    printf("%s\n", what);
    printf("  direct card_transmit:       %8.3f ms each, %6.0f per second\n", direct,
           1000.0 / direct);
    printf("  network reader:             %8.3f ms each, %6.0f per second\n", network,
           1000.0 / network);
    printf("  added by the network:       %8.3f ms per request\n", network - direct);
    printf("  network, no pane for trace: %8.3f ms each, %6.0f per second\n", quiet,
           1000.0 / quiet);
}

/* One command measured three ways after a short warm-up. */
static int bench_case(const char *what, const unsigned char *apdu, int count, int response) {
    char request[32];
    snprintf(request, sizeof request, "6005D0%02X%02X%02X%02X00\x03", apdu[0], apdu[1], apdu[2],
             apdu[3]);
    int reply = 2 * response + 9;
    bench_direct(apdu, 4, 50, response);
    bench_network(request, 50, reply);
    double direct = bench_direct(apdu, 4, count, response);
    double network = bench_network(request, count, reply);
    /* The same without a reader pane: what the trace into the pane costs. */
    pane_flush(PANE_READER);
    HWND pane = app.gui.panes[PANE_READER].edit;
    app.gui.panes[PANE_READER].edit = 0;
    double quiet = bench_network(request, count, reply);
    app.gui.panes[PANE_READER].edit = pane;
    bench_report(what, direct, network, quiet);
    return direct > 0 && network > 0 && quiet > 0;
}

int main(int argc, char **argv) {
    int count = argc > 1 ? atoi(argv[1]) : 1000;
    if (count < 1)
        count = 1000;
    if (!testcard_remove(1) || !testcard_reset_state(0) || !testcard_insert(0, testcard_demo_atr)) {
        fprintf(stderr, "the card rig is not running (scripts/rig start)\n");
        return 2;
    }
    if (!bench_open()) {
        fprintf(stderr, "no card ready in reader 0\n");
        return 2;
    }
    net_server_start(1);
    static const unsigned char short_apdu[] = {0x80, 0xF0, 0x00, 0x04};
    static const unsigned char long_apdu[] = {0x80, 0xF0, 0x02, 0x00};
    printf("%d round trips each, test card on reader 0, frame %s\n", count,
           getenv("HARNESS_VISIBLE") ? "visible" : "hidden");
    int ok = bench_case("80 F0 00 04 (4-byte response):", short_apdu, count, 4);
    ok &= bench_case("80 F0 02 00 (512-byte response):", long_apdu, count, 512);

    PostMessageA(app.gui.frame_window, WM_CLOSE, 0, 0);
    for (int i = 0; i < 500 && app.gui.frame_window && IsWindow(app.gui.frame_window); i++)
        harness_pump(10);
    app.gui.panes[PANE_READER].edit = 0;
    net_server_stop(1);
    testcard_remove(0);
    return ok ? 0 : 1;
}
