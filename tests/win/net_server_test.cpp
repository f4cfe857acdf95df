/*
 * net_server_test.cpp: the network reader served over real loopback TCP,
 * without a card: framing, the trace in the reader pane, one client at a
 * time, bad input closing the connection, and start and stop in every
 * order. A port of this process's own keeps these runs apart from the card
 * tests that use 8080.
 *
 * No reader window is opened (it would go looking for readers); an edit
 * control of the frame takes the reader pane's place, so reader_print lands
 * there through the same line discipline.
 */
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "console/console.h"
#include "net/net.h"
#include "tests/win/harness/net.h"
#include "tests/win/harness/frame.h"

namespace {

class NetServer : public testing::Test {
  protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(0x0101, &data), 0);
        harness_frame_open();
        app.gui.net_port = (unsigned short)(20000 + GetCurrentProcessId() % 20000);
        port_ = app.gui.net_port;
        attach_pane();
    }
    void TearDown() override {
        /* As in the program: the windows go first, then the stop. */
        harness_frame_close();
        app.gui.panes[PANE_READER].edit = 0;
        net_server_stop(1);
        WSACleanup();
    }
    void attach_pane() {
        HWND edit = CreateWindowExA(0, "edit", NULL, WS_CHILD | ES_MULTILINE | ES_AUTOVSCROLL, 0, 0,
                                    0, 0, app.gui.frame_window, NULL, app.gui.instance, NULL);
        pane_edit_prepare(edit);
        pane_reset(0);
        app.gui.panes[PANE_READER].edit = edit;
    }
    std::vector<std::string> lines() {
        return harness_lines(app.gui.panes[PANE_READER].edit);
    }
    /* Starts the server and waits for it to listen. */
    void start() {
        ASSERT_EQ(net_server_start(1), 1);
        ASSERT_TRUE(wait_listening());
    }
    bool wait_listening() {
        bool up = net_client_probe(port_);
        /* That probe was a client: let its session end. */
        harness_pump_until(probe_done, 3000);
        return up;
    }
    static bool probe_done(void) {
        std::vector<std::string> shown = harness_lines(app.gui.panes[PANE_READER].edit);
        return !shown.empty() && shown.back() == "Process 0 end";
    }
    /* Waits until the pane shows the line (pumping). */
    bool pane_shows(const std::string &line, int ms = 3000) {
        DWORD end = GetTickCount() + (DWORD)ms;
        for (;;) {
            for (const std::string &l : lines())
                if (l == line)
                    return true;
            if ((int)(end - GetTickCount()) <= 0)
                return false;
            harness_pump(5);
        }
    }
    void clear_pane() {
        SetWindowTextA(app.gui.panes[PANE_READER].edit, "");
        pane_reset(0);
    }
    int port_ = 0;
};

/* One request and its reply on a fresh connection, pumping meanwhile. */
std::string ask(int port, const std::string &request) {
    std::string reply;
    harness_with_pump([&] {
        SOCKET s = net_client_connect(port);
        if (s == INVALID_SOCKET)
            return;
        net_client_send(s, request);
        reply = net_client_reply(s);
        closesocket(s);
    });
    return reply;
}

} // namespace

TEST_F(NetServer, SessionIsFramedAndTraced) {
    start();
    EXPECT_EQ(lines().at(0), "Network Reader ready on port " + std::to_string(port_) + "...");
    clear_pane();
    std::string other, apdu, again;
    bool in_time = harness_with_pump([&] {
        SOCKET s = net_client_connect(port_);
        net_client_send(s, "60014200\x03");
        other = net_client_reply(s);
        /* No card: the exchange fails, the connection stays open. */
        net_client_send(s, net_request("D000A4040000"));
        apdu = net_client_reply(s);
        net_client_send(s, "6001420a\x03");
        again = net_client_reply(s);
        closesocket(s);
    });
    ASSERT_TRUE(in_time);
    EXPECT_EQ(other, std::string("60010061\x03"));
    EXPECT_EQ(apdu, std::string("6001FB9A\x03"));
    EXPECT_EQ(again, std::string("60010061\x03"));
    ASSERT_TRUE(pane_shows("Process 0 end"));
    EXPECT_EQ(lines(),
              std::vector<std::string>({"Connexion from 127.0.0.1", "Process 0 begin", "",
                                        "Out:", " 00A4040000", "Error...", "Process 0 end"}));
}

TEST_F(NetServer, AtrBeforeAnyCardIsThreeZeroBytes) {
    start();
    /* 60 ^ 04 ^ 00 ^ 00 00 00 = 64 */
    EXPECT_EQ(ask(port_, "60016E00\x03"), std::string("60040000000064\x03"));
}

TEST_F(NetServer, LongTraceBreaksEvery32Bytes) {
    start();
    clear_pane();
    std::string bytes;
    for (int i = 0; i < 40; i++) {
        char two[3];
        snprintf(two, sizeof two, "%02X", i);
        bytes += two;
    }
    EXPECT_EQ(ask(port_, net_request("D5" + bytes)), std::string("6001FB9A\x03"));
    ASSERT_TRUE(pane_shows("Process 0 end"));
    std::vector<std::string> shown = lines();
    ASSERT_GE(shown.size(), 7u);
    EXPECT_EQ(shown[3], "Out:");
    EXPECT_EQ(shown[4], " " + bytes.substr(0, 64));
    EXPECT_EQ(shown[5], bytes.substr(64));
    EXPECT_EQ(shown[6], "Error...");
}

/* A request in pieces is answered once, when the last piece is in; bytes
   after a frame in the same write are dropped. */
TEST_F(NetServer, SplitRequestIsAnsweredOnceAndTrailingBytesAreDropped) {
    start();
    std::string first, early, dropped, next;
    harness_with_pump([&] {
        SOCKET s = net_client_connect(port_);
        const std::string frame = "6002420000\x03";
        size_t at = 0;
        for (size_t size : {1, 2, 3, 1, 2, 1}) {
            net_client_send(s, frame.substr(at, size));
            at += size;
            Sleep(30);
            if (net_client_wait(s, 0) != 0)
                early += "!";
        }
        net_client_send(s, frame.substr(at));
        first = net_client_reply(s);
        net_client_send(s, "60014200\x03"
                           "60014300\x03");
        next = net_client_reply(s);
        dropped = net_client_reply(s, 500);
        closesocket(s);
    });
    EXPECT_EQ(early, "") << "a reply came before the last piece";
    EXPECT_EQ(first, std::string("60010061\x03"));
    EXPECT_EQ(next, std::string("60010061\x03"));
    EXPECT_EQ(dropped, "");
}

/* The longest request (271 bytes, 549 characters), in upper and lower case. */
TEST_F(NetServer, LongRequestsFitTheBuffers) {
    start();
    std::string data = "DF";
    for (int i = 1; i < 271; i++)
        data += i % 2 ? "ab" : "CD";
    std::string request = net_request(data);
    ASSERT_EQ(request.size(), 549u);
    EXPECT_EQ(ask(port_, request), std::string("6001FB9A\x03"));
    EXPECT_EQ(ask(port_, net_request("42" + data.substr(2, 2 * 257))), std::string("60010061\x03"));
}

TEST_F(NetServer, BadFramesCloseTheConnection) {
    start();
    for (const std::string &bad : {std::string("60-1FFFFFF\x03"), std::string("6003D0A4Z1FF\x03"),
                                   std::string("60 1420000\x03"), std::string(1100, 'q'),
                                   std::string("6090") + std::string(1020, 'q')}) {
        bool closed = false;
        harness_with_pump([&] {
            SOCKET s = net_client_connect(port_);
            net_client_send(s, bad);
            closed = net_client_sees_close(s);
            closesocket(s);
        });
        EXPECT_TRUE(closed) << bad.substr(0, 16);
    }
    /* The server goes on with the next client. */
    EXPECT_EQ(ask(port_, "60014200\x03"), std::string("60010061\x03"));
}

/* A client that stops mid-frame or leaves with a reply pending does not
   disturb the next one. */
TEST_F(NetServer, ClientLeavingMidFrameFreesTheServer) {
    start();
    harness_with_pump([&] {
        SOCKET s = net_client_connect(port_);
        net_client_send(s, "6005D000A4");
        closesocket(s);
        s = net_client_connect(port_);
        net_client_send(s, "60014200\x03");
        closesocket(s);
    });
    EXPECT_EQ(ask(port_, "60014200\x03"), std::string("60010061\x03"));
}

TEST_F(NetServer, SecondClientIsServedAfterTheFirstCloses) {
    start();
    std::string first, waiting, second;
    harness_with_pump([&] {
        SOCKET a = net_client_connect(port_);
        net_client_send(a, "60014200\x03");
        first = net_client_reply(a);
        SOCKET b = net_client_connect(port_); /* waits in the backlog */
        net_client_send(b, "60014200\x03");
        waiting = net_client_reply(b, 700);
        closesocket(a);
        second = net_client_reply(b);
        closesocket(b);
    });
    EXPECT_EQ(first, std::string("60010061\x03"));
    EXPECT_EQ(waiting, "");
    EXPECT_EQ(second, std::string("60010061\x03"));
}

TEST_F(NetServer, BoundToTheLoopbackAddressOnly) {
    start();
    struct sockaddr_in bound = {};
    int size = sizeof bound;
    ASSERT_EQ(getsockname(app.gui.net_listen_socket, (struct sockaddr *)&bound, &size), 0);
    EXPECT_EQ(bound.sin_addr.s_addr, inet_addr("127.0.0.1"));
    EXPECT_EQ(ntohs(bound.sin_port), port_);
    SOCKET elsewhere = net_client_connect(port_, "127.0.0.2");
    EXPECT_EQ(elsewhere, INVALID_SOCKET);
    if (elsewhere != INVALID_SOCKET)
        closesocket(elsewhere);
}

TEST_F(NetServer, SecondStartIsRefusedWhileRunning) {
    start();
    EXPECT_EQ(net_server_start(1), 0);
    EXPECT_EQ(net_server_start(0), 0);
    EXPECT_EQ(ask(port_, "60014200\x03"), std::string("60010061\x03"));
}

/* Starts and stops back to back, the stop often before the thread has its
   socket: never two servers, never a hang, and the port is free after. */
TEST_F(NetServer, StopRightAfterStartEndsTheThread) {
    harness_frame_close();
    app.gui.panes[PANE_READER].edit = 0;
    for (int i = 0; i < 3; i++) {
        ASSERT_EQ(net_server_start(1), 1);
        EXPECT_EQ(net_server_start(1), 0);
        DWORD begin = GetTickCount();
        EXPECT_EQ(net_server_stop(i % 2), 1);
        EXPECT_LT(GetTickCount() - begin, 3000u);
        EXPECT_EQ(app.gui.net_daemon_thread, (HANDLE)0);
        EXPECT_EQ(app.gui.net_listen_socket, INVALID_SOCKET);
    }
    SOCKET mine = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    struct sockaddr_in at = {};
    at.sin_family = AF_INET;
    at.sin_port = htons((u_short)port_);
    at.sin_addr.s_addr = inet_addr("127.0.0.1");
    EXPECT_EQ(bind(mine, (struct sockaddr *)&at, sizeof at), 0) << "the port is still taken";
    closesocket(mine);
}

/* A silent client, connected or mid-frame, does not hold up the stop. */
TEST_F(NetServer, StopWithASilentClientTakesAboutOneSecond) {
    start();
    SOCKET silent = INVALID_SOCKET;
    harness_with_pump([&] {
        silent = net_client_connect(port_);
        net_client_send(silent, "6005D0");
    });
    ASSERT_NE(silent, INVALID_SOCKET);
    ASSERT_TRUE(pane_shows("Process 0 begin"));
    harness_frame_close();
    app.gui.panes[PANE_READER].edit = 0;
    DWORD begin = GetTickCount();
    EXPECT_EQ(net_server_stop(1), 1);
    DWORD took = GetTickCount() - begin;
    EXPECT_GE(took, 900u);
    EXPECT_LT(took, 2500u);
    EXPECT_EQ(app.gui.net_winsock_started, 0);
    EXPECT_TRUE(net_client_sees_close(silent, 2000));
    closesocket(silent);
}

/* Port taken: the error line, the thread ends, a later start serves. */
TEST_F(NetServer, PortTakenIsReportedAndALaterStartWorks) {
    SOCKET squatter = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    struct sockaddr_in at = {};
    at.sin_family = AF_INET;
    at.sin_port = htons((u_short)port_);
    at.sin_addr.s_addr = inet_addr("127.0.0.1");
    ASSERT_EQ(bind(squatter, (struct sockaddr *)&at, sizeof at), 0);
    ASSERT_EQ(net_server_start(1), 1);
    EXPECT_TRUE(pane_shows("Error, Server daemon !!!"));
    EXPECT_FALSE(pane_shows("End of Server Daemon", 200));
    closesocket(squatter);
    clear_pane();
    /* The ended thread is collected and a new one listens. */
    start();
    EXPECT_EQ(ask(port_, "60014200\x03"), std::string("60010061\x03"));
}

TEST_F(NetServer, StopEndsTheDaemonWithItsLine) {
    start();
    /* A stop while the frame exists would wait on the GUI thread: the server
       thread's last line is taken in by pumping from another thread's stop. */
    clear_pane();
    std::atomic<bool> stopped(false);
    std::thread stopper([&] {
        net_server_stop(0);
        stopped = true;
    });
    DWORD end = GetTickCount() + 5000;
    while (!stopped && (int)(end - GetTickCount()) > 0)
        harness_pump(5);
    stopper.join();
    EXPECT_TRUE(stopped);
    EXPECT_EQ(lines(), std::vector<std::string>({"End of Server Daemon"}));
    EXPECT_EQ(app.gui.net_running, 0);
}

TEST_F(NetServer, ReceiveHelpersOnAClosedSlot) {
    char buffer[8];
    app.gui.net_connection.socket = INVALID_SOCKET;
    EXPECT_EQ(net_recv(0, buffer, sizeof buffer), 0);
    EXPECT_EQ(net_send_all(0, "x", 1), 0);
    EXPECT_EQ(net_socket_close(0), 0);
    /* A socket that is not connected: the receive error is nothing received. */
    app.gui.net_connection.socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    EXPECT_EQ(net_recv(0, buffer, sizeof buffer), 0);
    EXPECT_EQ(net_send_all(0, "x", 0), 0);
    EXPECT_EQ(net_socket_close(0), 1);
    EXPECT_EQ(app.gui.net_connection.socket, INVALID_SOCKET);
}

/* An accept that fails for one client's sake (a client that reset before it
   was taken fails it with WSAECONNRESET) must not switch the reader off.
   A listening socket made non-blocking for a while fails every accept in
   the same way, with WSAEWOULDBLOCK. */
TEST_F(NetServer, FailedAcceptsKeepTheServerOn) {
    start();
    SOCKET listener = app.gui.net_listen_socket;
    u_long on = 1, off = 0;
    ASSERT_EQ(ioctlsocket(listener, FIONBIO, &on), 0);
    /* The accept under way takes one more client; the ones after it fail. */
    clear_pane();
    harness_with_pump([&] {
        SOCKET s = net_client_connect(port_);
        if (s != INVALID_SOCKET)
            closesocket(s);
    });
    ASSERT_TRUE(pane_shows("Process 0 end"));
    harness_pump(500);
    EXPECT_FALSE(pane_shows("End of Server Daemon", 0));
    ASSERT_EQ(ioctlsocket(listener, FIONBIO, &off), 0);

    EXPECT_EQ(ask(port_, "60014200\x03"), std::string("60010061\x03"));
    EXPECT_EQ(app.gui.net_listen_socket, listener);
    EXPECT_FALSE(pane_shows("End of Server Daemon", 0));
}
