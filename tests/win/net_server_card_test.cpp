/*
 * net_server_card_test.cpp: the network reader on port 8080 in front of the
 * rig's test card: APDUs and their framed responses up to the longest,
 * long requests, the ATR request that resets the card and starts its
 * script, a removed card, the switch off, and the real program started
 * with and without "-n".
 */
#include <gtest/gtest.h>

#include <windows.h>
#include <winscard.h>

#include "app/app_state.h"
#include "card/card.h"
#include "console/console.h"
#include "resources/resource.h"
#include "script/script.h"
#include "tests/win/harness/card.h"
#include "tests/win/harness/files.h"
#include "tests/win/harness/frame.h"

#include "net/net.h"
#include "resources/names.h"
#include "tests/win/harness/net.h"

namespace {

const int port = 8080;

/* The test card's pattern answer to 80 F0 P1 P2: N - 2 bytes i mod 256,
   then 90 00. */
std::string pattern_hex(int n) {
    std::string hex;
    char two[3];
    for (int i = 0; i < n - 2; i++) {
        snprintf(two, sizeof two, "%02X", i % 256);
        hex += two;
    }
    return hex + "9000";
}

std::string apdu_pattern(int n) {
    char text[16];
    snprintf(text, sizeof text, "80F0%02X%02X", n / 256, n % 256);
    return text;
}

class NetServerCard : public testing::Test {
  protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(0x0101, &data), 0);
        ASSERT_TRUE(testcard_remove(1)) << "the card rig is not running (scripts/rig start)";
        ASSERT_TRUE(testcard_reset_state(0));
        ASSERT_TRUE(testcard_insert(0, testcard_demo_atr));
        scratch_.enter();
        harness_frame_open();
        ASSERT_EQ(app.gui.net_port, port);
        card_open_reader();
        ASSERT_TRUE(card_tick_until(CARD_READY, 5000));
        ASSERT_TRUE(harness_scripts_wait(10000));
        harness_pane_clear(app.gui.panes[PANE_READER].edit, 0);
        testcard_log_clear(0);
        ASSERT_EQ(net_server_start(1), 1);
        ASSERT_TRUE(wait_listening());
    }
    void TearDown() override {
        harness_scripts_wait(10000);
        card_close_reader();
        harness_frame_close();
        app.gui.panes[PANE_READER].edit = 0;
        net_server_stop(1);
        scratch_.leave();
        testcard_reset_state(0);
        testcard_remove(0);
        WSACleanup();
    }
    bool wait_listening() {
        bool up = net_client_probe(port);
        harness_pump(200);
        harness_pane_clear(app.gui.panes[PANE_READER].edit, 0);
        return up;
    }
    /* Requests on one connection; the replies in order. */
    std::vector<std::string> session(const std::vector<std::string> &requests) {
        std::vector<std::string> replies;
        harness_with_pump([&] {
            SOCKET s = net_client_connect(port);
            for (const std::string &request : requests) {
                net_client_send(s, request);
                replies.push_back(net_client_reply(s));
            }
            closesocket(s);
        });
        harness_pump(50);
        return replies;
    }
    std::vector<std::string> commands() {
        std::vector<std::string> sent;
        for (const std::string &line : testcard_log(0))
            if (line.compare(0, 3, "C: ") == 0)
                sent.push_back(line.substr(3));
        return sent;
    }
    HarnessScratch scratch_;
};

} // namespace

TEST_F(NetServerCard, ApduRequestGetsTheCardsResponseFramed) {
    std::vector<std::string> replies =
        session({net_request("D0" + apdu_pattern(4)), net_request("D7" + apdu_pattern(2))});
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0], net_reply(0x00, "00019000"));
    /* 60 ^ 03 ^ 00 ^ 90 ^ 00 = F3 */
    EXPECT_EQ(replies[1], std::string("6003009000F3\x03"));
    EXPECT_EQ(commands(), std::vector<std::string>({"80F00004", "80F00002"}));
    std::vector<std::string> shown = card_lines_from(card_reader_lines(), "Process 0 begin");
    ASSERT_GE(shown.size(), 6u);
    EXPECT_EQ(
        std::vector<std::string>(shown.begin(), shown.begin() + 6),
        std::vector<std::string>({"Process 0 begin", "", "Out:", " 80F00004", "In:", " 00019000"}));
}

/* 255 bytes carry E1 in the status, 256 E2; 508 and 512 bytes give replies
   longer than the receive buffer (1025 and 1033 characters). */
TEST_F(NetServerCard, LongResponsesAreFramedWhole) {
    std::vector<int> sizes = {255, 256, 258, 259, 508, 512};
    std::vector<std::string> requests;
    for (int n : sizes)
        requests.push_back(net_request("D0" + apdu_pattern(n)));
    std::vector<std::string> replies = session(requests);
    ASSERT_EQ(replies.size(), sizes.size());
    for (size_t i = 0; i < sizes.size(); i++)
        EXPECT_EQ(replies[i], net_reply(0x00, pattern_hex(sizes[i]))) << sizes[i];
    EXPECT_EQ(replies[0].substr(0, 6), "60FFE1");
    EXPECT_EQ(replies[0].size(), 519u);
    EXPECT_EQ(replies[1].substr(0, 6), "60FFE2");
    EXPECT_EQ(replies[4].size(), 1025u);
    EXPECT_EQ(replies[5].size(), 1033u);
    EXPECT_EQ(replies[5].substr(0, 6), "60FF00");
}

/* A long request (length pair 00) carries a 260-byte APDU to the card. */
TEST_F(NetServerCard, LongRequestWritesTheCardsMemory) {
    std::string data;
    std::vector<unsigned char> bytes;
    for (int i = 0; i < 255; i++) {
        char two[3];
        snprintf(two, sizeof two, "%02x", (i * 5 + 1) % 256);
        data += two;
        bytes.push_back((unsigned char)((i * 5 + 1) % 256));
    }
    std::string request = net_request("D5"
                                      "00D00010FF" +
                                      data);
    ASSERT_EQ(request.substr(0, 6), "6000D5");
    std::vector<std::string> replies = session({request});
    EXPECT_EQ(replies.at(0), net_reply(0x00, "9000"));
    EXPECT_EQ(testcard_memory(0, 0x10, 255), bytes);
}

TEST_F(NetServerCard, AtrRequestResetsTheCardAndStartsItsScript) {
    EXPECT_TRUE(harness_file_write("scriptdefault.txt", "80F00003\n"));
    std::vector<std::string> replies = session({"60016E00\x03"});
    ASSERT_TRUE(harness_scripts_wait(10000));
    char length[3];
    snprintf(length, sizeof length, "%02X", (unsigned)strlen(testcard_demo_atr) / 2);
    EXPECT_EQ(replies.at(0), net_reply(0x00, "0000" + std::string(length) + testcard_demo_atr));
    EXPECT_EQ(gui_session()->card_state, CARD_READY);
    EXPECT_EQ(commands(), std::vector<std::string>({"80F00003"}));
    bool loading = false;
    for (const std::string &line : card_reader_lines())
        loading |= line.rfind("Loading script scriptdefault.txt ...", 0) == 0;
    EXPECT_TRUE(loading);
}

/* Card gone: APDUs fail with status FB on an open connection; the ATR
   request answers the ATR of the last card read. */
TEST_F(NetServerCard, RemovedCardFailsApdusAndKeepsTheLastAtr) {
    ASSERT_TRUE(testcard_remove(0));
    ASSERT_TRUE(card_tick_until(CARD_WAITING, 5000));
    char length[3];
    snprintf(length, sizeof length, "%02X", (unsigned)strlen(testcard_demo_atr) / 2);
    std::vector<std::string> replies =
        session({net_request("D0" + apdu_pattern(4)), net_request("D0" + apdu_pattern(4)),
                 "60014200\x03", "60016E00\x03"});
    ASSERT_EQ(replies.size(), 4u);
    EXPECT_EQ(replies[0], std::string("6001FB9A\x03"));
    EXPECT_EQ(replies[1], std::string("6001FB9A\x03"));
    EXPECT_EQ(replies[2], std::string("60010061\x03"));
    EXPECT_EQ(replies[3], net_reply(0x00, "0000" + std::string(length) + testcard_demo_atr));
    EXPECT_GE(card_count(card_reader_lines(), "Error..."), 2);
}

namespace {

struct Program {
    PROCESS_INFORMATION info = {};
    bool started = false;
};

Program program_start(const char *arguments) {
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, sizeof path);
    char *slash = strrchr(path, '\\');
    strcpy(slash ? slash + 1 : path, "vorlane.exe");
    std::string line = std::string("\"") + path + "\" " + arguments;
    std::vector<char> command(line.begin(), line.end());
    command.push_back(0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    Program p;
    p.started = CreateProcessA(path, command.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup,
                               &p.info) != 0;
    return p;
}

struct FrameSearch {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK program_frame_one(HWND window, LPARAM param) {
    FrameSearch *search = (FrameSearch *)param;
    DWORD pid = 0;
    char name[64] = "";
    GetWindowThreadProcessId(window, &pid);
    GetClassNameA(window, name, sizeof name);
    if (pid == search->pid && strcmp(name, CLASS_FRAME) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND program_frame(const Program &p, int wait_ms) {
    DWORD end = GetTickCount() + (DWORD)wait_ms;
    for (;;) {
        FrameSearch search = {p.info.dwProcessId, 0};
        EnumWindows(program_frame_one, (LPARAM)&search);
        if (search.found || (int)(end - GetTickCount()) <= 0)
            return search.found;
        Sleep(50);
    }
}

/* Closes the program's frame as the user does; the time until it exited,
   or -1 when it did not within ms. */
int program_close(Program &p, int ms) {
    HWND frame = program_frame(p, 100);
    if (frame)
        PostMessageA(frame, WM_CLOSE, 0, 0);
    DWORD begin = GetTickCount();
    DWORD waited = WaitForSingleObject(p.info.hProcess, (DWORD)ms);
    int took = (int)(GetTickCount() - begin);
    if (waited != WAIT_OBJECT_0) {
        TerminateProcess(p.info.hProcess, 1);
        WaitForSingleObject(p.info.hProcess, 5000);
        took = -1;
    }
    CloseHandle(p.info.hThread);
    CloseHandle(p.info.hProcess);
    return took;
}

/* One request on a fresh connection, from this thread (nothing to pump:
   the program's windows belong to another process). */
std::string program_ask(const std::string &request) {
    SOCKET s = net_client_connect(port);
    if (s == INVALID_SOCKET)
        return "";
    net_client_send(s, request);
    std::string reply = net_client_reply(s);
    closesocket(s);
    return reply;
}

} // namespace

TEST_F(NetServerCard, NothingListensWithoutTheSwitch) {
    /* The fixture's server goes; the frame and reader window stay. */
    harness_with_pump([] { net_server_stop(1); });
    EXPECT_EQ(app.gui.net_winsock_started, 0);
    EXPECT_EQ(net_client_connect(port), INVALID_SOCKET);
    harness_frame_close();
    harness_frame_open();
    EXPECT_EQ(app.network_server_enabled, 0);
    EXPECT_EQ(net_client_connect(port), INVALID_SOCKET);
    EXPECT_EQ(app.gui.net_winsock_started, 0);

    Program p = program_start("");
    ASSERT_TRUE(p.started);
    EXPECT_NE(program_frame(p, 15000), (HWND)0);
    Sleep(500);
    EXPECT_EQ(net_client_connect(port), INVALID_SOCKET);
    int took = program_close(p, 10000);
    EXPECT_GE(took, 0) << "the program did not exit";
}

/* The program with "-n": the port answers, the card's ATR comes through
   it, and a silent client does not keep the program from exiting. */
TEST_F(NetServerCard, ProgramWithTheSwitchServesAndExitsPromptly) {
    /* The program needs the port and the card to itself. */
    card_close_reader();
    harness_with_pump([] { net_server_stop(1); });
    Program p = program_start("-n");
    ASSERT_TRUE(p.started);
    std::string other;
    for (int i = 0; i < 150 && other.empty(); i++) {
        other = program_ask("60014200\x03");
        if (other.empty())
            Sleep(100);
    }
    EXPECT_EQ(other, std::string("60010061\x03"));
    /* Once its reader window has read the card, the ATR request answers it. */
    char length[3];
    snprintf(length, sizeof length, "%02X", (unsigned)strlen(testcard_demo_atr) / 2);
    std::string want = net_reply(0x00, "0000" + std::string(length) + testcard_demo_atr);
    std::string atr;
    for (int i = 0; i < 100 && atr != want; i++) {
        atr = program_ask("60016E00\x03");
        if (atr != want)
            Sleep(100);
    }
    EXPECT_EQ(atr, want);
    SOCKET silent = net_client_connect(port);
    ASSERT_NE(silent, INVALID_SOCKET);
    net_client_send(silent, "6005");
    Sleep(300);
    int took = program_close(p, 8000);
    printf("vorlane -n exited %d ms after WM_CLOSE with a silent client\n", took);
    EXPECT_GE(took, 0) << "the program did not exit";
    EXPECT_LT(took, 5000);
    EXPECT_TRUE(net_client_sees_close(silent, 2000));
    closesocket(silent);
    EXPECT_EQ(net_client_connect(port), INVALID_SOCKET);
}

/* A failed state query leaves the ATR count at the buffer's 256: the ATR
   request then answers with status FB and no data, and the connection stays
   open. The count is set as such a query leaves it while no card is ready,
   so the request's reset finds the reader busy and keeps it. */
TEST_F(NetServerCard, AtrRequestAfterAFailedStateQueryFails) {
    ASSERT_TRUE(testcard_remove(0));
    ASSERT_TRUE(card_tick_until(CARD_WAITING, 5000));
    EnterCriticalSection(&gui_session()->card_lock);
    gui_session()->card_atr_len = 256;
    LeaveCriticalSection(&gui_session()->card_lock);
    std::vector<std::string> replies = session({"60016E00\x03", "60014200\x03"});
    ASSERT_EQ(replies.size(), 2u);
    /* 60 ^ 01 ^ FB = 9A */
    EXPECT_EQ(replies[0], std::string("6001FB9A\x03"));
    EXPECT_EQ(replies[1], std::string("60010061\x03"));
    EXPECT_EQ(gui_session()->card_state, CARD_WAITING);
}

/* The card is lent to the network client while a script runs: both get
   their exchanges, and the script ends as usual. */
TEST_F(NetServerCard, ApduRequestWhileAScriptRuns) {
    static const char script[] = "slow.txt";
    EXPECT_TRUE(harness_file_write(script, "80F00003\n/W 1500\n80F00005\n"));
    ASSERT_EQ(start_script(script), 1);
    harness_pump(300);
    ASSERT_FALSE(script_runs_wait(0)) << "the script is not running any more";
    std::vector<std::string> replies = session({net_request("D0" + apdu_pattern(4))});
    ASSERT_FALSE(script_runs_wait(0)) << "the request waited for the script";
    ASSERT_TRUE(harness_scripts_wait(10000));
    EXPECT_EQ(replies.at(0), net_reply(0x00, "00019000"));
    EXPECT_EQ(commands(), std::vector<std::string>({"80F00003", "80F00004", "80F00005"}));
    auto lines = card_reader_lines();
    EXPECT_EQ(card_count(lines, "End of script"), 1);
    EXPECT_EQ(card_count(lines, "Velmo:> Card is ready"), 1);
    EXPECT_EQ(card_count(lines, " 80F00004"), 1); /* the network trace */
}

/* A response longer than a reply carries (512 bytes) fails the request
   with the failed reply, its status named in the trace; the connection
   stays and serves the next request. */
TEST_F(NetServerCard, ResponseOverTheReplysCapacityGetsTheFailedReply) {
    std::vector<std::string> replies =
        session({net_request("D0" + apdu_pattern(513)), net_request("D0" + apdu_pattern(4))});
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0], std::string("6001FB9A\x03"));
    EXPECT_EQ(replies[1], net_reply(0x00, "00019000"));
    std::vector<std::string> shown = card_lines_from(card_reader_lines(), "Error...");
    ASSERT_GE(shown.size(), 2u);
    EXPECT_EQ(shown[1], "Response over 512 bytes: 0x80100008 SCARD_E_INSUFFICIENT_BUFFER");
}
