/*
 * reader_service_card_test.cpp: the card reader window when the PC/SC
 * service goes away and comes back (pcscd stopped and started for real),
 * the reader the READER dialog confirms, the protocol parameter line with
 * and without the reader's attributes, the reset of a card that was taken
 * out, the card released at the card when a ready window closes, and the
 * whole program started with "-s".
 *
 * Run by tests/win/rig_session.sh with the readers lock held: it provides
 * a bridge that answers the rig's protocol attributes, the checkout's root
 * (VORLANE_SOURCE_DIR) for scripts/rig, and starts pcscd again afterwards.
 */
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

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

#include "app/app.h"

namespace {

/* T=1 card whose historical bytes ask the rig for protocol attributes:
   TC1 = 02, TA3 = FE (IFSC), TB3 = 45 (BWI 4, CWI 5). */
const char attr_atr[] = "3BC6028131FE45415454523031DD";
const char attr_atr_line[] = " 3B C6 02 81 31 FE 45 41 54 54 52 30 31 DD ";
const char unknown_atr[] = "3B8F8001804F0CA000000306030001000000006B";
const char no_service_line[] = "ScardEstablishContext: Error n\xB0 8010001D";
const char insert_prompt[] = "Velmo:> Insert a card in the reader (state=2)";

std::string session_variable(const char *name) {
    char value[MAX_PATH] = "";
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value) : std::string();
}

/* Runs "scripts/rig WHAT" as a Linux program. Wine starts Unix programs but
   gives no handle to wait on, so the exit code comes back through a file. */
int rig_command(const char *what, int timeout_ms) {
    std::string root = session_variable("VORLANE_SOURCE_DIR");
    if (root.empty())
        return -1;
    char done_unix[64], done[80];
    snprintf(done_unix, sizeof done_unix, "/tmp/vorlane-rig-done-%lu", GetCurrentProcessId());
    snprintf(done, sizeof done, "Z:\\tmp\\vorlane-rig-done-%lu", GetCurrentProcessId());
    DeleteFileA(done);
    std::string command = "Z:\\bin\\bash -c \"PATH=/usr/sbin:/usr/bin:/sbin:/bin '" + root +
                          "/scripts/rig' " + what + " >/dev/null 2>&1; echo $? >" + done_unix +
                          "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return -1;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    DWORD end = GetTickCount() + (DWORD)timeout_ms;
    int code = -1;
    while (code < 0 && (int)(end - GetTickCount()) > 0) {
        FILE *file = fopen(done, "rb");
        if (file) {
            if (fscanf(file, "%d", &code) != 1)
                code = -1;
            fclose(file);
        }
        if (code < 0)
            harness_pump(50);
    }
    DeleteFileA(done);
    return code;
}

/* Ticks until the pane shows `line` (at most ms); true when it does. */
bool tick_until_line(const std::string &line, int ms) {
    DWORD end = GetTickCount() + (DWORD)ms;
    for (;;) {
        if (card_count(card_reader_lines(), line) > 0)
            return true;
        if ((int)(end - GetTickCount()) <= 0)
            return false;
        card_tick(&app.gui.reader);
        harness_pump(20);
    }
}

/* Pumps until the pane shows `line` (printed by a worker thread). */
bool pane_waits_for(const std::string &line, int ms) {
    DWORD end = GetTickCount() + (DWORD)ms;
    while (card_count(card_reader_lines(), line) == 0) {
        if ((int)(end - GetTickCount()) <= 0)
            return false;
        harness_pump(10);
    }
    return true;
}

/* Whether another program could take the card for itself alone: not while
   any connection to it is open. */
LONG exclusive_connect(int reader) {
    SCARDCONTEXT context = 0;
    LONG status = SCardEstablishContext(SCARD_SCOPE_SYSTEM, NULL, NULL, &context);
    if (status != SCARD_S_SUCCESS)
        return status;
    SCARDHANDLE handle = 0;
    DWORD protocol = 0;
    status = SCardConnectA(context, testcard_reader_names[reader], SCARD_SHARE_EXCLUSIVE,
                           SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &handle, &protocol);
    if (status == SCARD_S_SUCCESS)
        SCardDisconnect(handle, SCARD_LEAVE_CARD);
    SCardReleaseContext(context);
    return status;
}

class ReaderService : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(session_variable("VORLANE_SOURCE_DIR").empty())
            << "run through tests/win/rig_session.sh (ctest does)";
        ASSERT_TRUE(card_remove_and_wait(0)) << "the card rig is not running (scripts/rig start)";
        ASSERT_TRUE(card_remove_and_wait(1));
        testcard_reset_state(0);
        testcard_reset_state(1);
        scratch_.enter();
        EXPECT_TRUE(harness_file_write(
            "atr.txt", std::string("Vorlane_Demo_Card ") + testcard_demo_atr +
                           " 0 demo.txt\r\nAttr_Card " + attr_atr + " 0 demo.txt\r\n"));
        EXPECT_TRUE(harness_file_write("demo.txt", "00A4040000\n"));
        harness_frame_open();
        atr_table_load();
    }
    void TearDown() override {
        card_close_reader();
        harness_scripts_wait(10000);
        harness_frame_close();
        DeleteFileA("demo.txt");
        scratch_.leave();
        testcard_remove(0);
        testcard_remove(1);
    }
    HarnessScratch scratch_;
};

} // namespace

/* Tried as a new user would: pick the second reader and press Escape (the
   first is used); in the next window the dialog shows the first reader, and
   SELECT takes that one, not the pick left from before. */
TEST_F(ReaderService, SelectTakesTheReaderTheDialogShows) {
    ASSERT_TRUE(testcard_insert(0, testcard_demo_atr));
    ASSERT_TRUE(testcard_insert(1, testcard_demo_atr));
    ReaderDialogSeen first = card_open_reader(1, true);
    ASSERT_TRUE(first.shown);
    EXPECT_EQ(card_reader_lines().at(0), "Reader Virtual PCD 00 00 is selected...");
    EXPECT_EQ(app.gui.reader_pick, 1);
    EXPECT_EQ(app.gui.reader_last_pick, 0);
    card_close_reader();

    ReaderDialogSeen second = card_open_reader(READER_KEEP);
    ASSERT_TRUE(second.shown);
    EXPECT_EQ(second.selection, 0);
    EXPECT_EQ(card_reader_lines().at(0), "Reader Virtual PCD 00 00 is selected...");
    EXPECT_STREQ(gui_session()->reader_name, "Virtual PCD 00 00");
    EXPECT_EQ(app.gui.reader_pick, 0);
    EXPECT_EQ(app.gui.reader_last_pick, 0);
}

/* The parameter line exactly: every attribute the reader reports, in order,
   but not the one that comes back with another length than 4; and a reader
   that reports none gives a line of only the line feed. */
TEST_F(ReaderService, ParameterLineWithTheReadersAttributesAndWithNone) {
    ASSERT_FALSE(session_variable("VORLANE_PCSC_BRIDGE_PORT").empty());
    ASSERT_TRUE(testcard_insert(0, attr_atr));
    card_open_reader();
    ASSERT_TRUE(card_tick_until(CARD_READY, 5000));
    auto lines = card_lines_from(card_reader_lines(), "Attr_Card inserted...");
    ASSERT_GE(lines.size(), 4u) << harness_window_text(app.gui.panes[PANE_READER].edit);
    EXPECT_EQ(lines[1], "Answer to Reset: ");
    EXPECT_EQ(lines[2], attr_atr_line);
    EXPECT_EQ(lines[3], "T...= 2, CLK.= 5000, F...= 372, D...= 1, N...= 2, W...= 10, "
                        "IFSC= 254, IFSD= 254, BWT.= 15371, CWT.= 43, EBC.= 0, ");
    ASSERT_TRUE(harness_scripts_wait(10000));
    card_close_reader();

    ASSERT_TRUE(card_remove_and_wait(0));
    ASSERT_TRUE(testcard_insert(0, testcard_demo_atr));
    card_open_reader();
    ASSERT_TRUE(card_tick_until(CARD_READY, 5000));
    lines = card_lines_from(card_reader_lines(), "Vorlane_Demo_Card inserted...");
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[2], card_demo_atr_line);
    EXPECT_EQ(lines[3], "");
}

/* A ready card taken out before a reset: the reconnect fails, the report
   says so, and the window's next ticks find the card once it is back. */
TEST_F(ReaderService, ResetOfACardTakenOutSaysNoCardAndTheTicksFindItAgain) {
    ASSERT_TRUE(testcard_insert(0, testcard_demo_atr));
    card_open_reader();
    ASSERT_TRUE(card_tick_until(CARD_READY, 5000));
    ASSERT_TRUE(harness_scripts_wait(10000));
    ASSERT_TRUE(card_remove_and_wait(0));
    char text[1024];
    EXPECT_EQ(card_reset(text), 19);
    EXPECT_STREQ(text, "No Card in reader\r\n");
    EXPECT_EQ(gui_session()->card_state, CARD_WAITING);

    harness_pane_clear(app.gui.panes[PANE_READER].edit, 0);
    ASSERT_TRUE(testcard_insert(0, testcard_demo_atr));
    ASSERT_TRUE(card_tick_until(CARD_READY, 5000));
    EXPECT_TRUE(pane_waits_for("Velmo:> Card is ready", 10000));
    auto lines = card_reader_lines();
    EXPECT_EQ(card_count(lines, "Vorlane_Demo_Card inserted..."), 1);
    EXPECT_EQ(card_count(lines, "Card Detected ...T=1"), 0);
}

/* Checked at the card: while the window holds it nobody can take it alone;
   once the window is closed, anybody can. */
TEST_F(ReaderService, ClosingAReadyWindowLetsGoOfTheCard) {
    ASSERT_TRUE(testcard_insert(0, testcard_demo_atr));
    card_open_reader();
    ASSERT_TRUE(card_tick_until(CARD_READY, 5000));
    ASSERT_TRUE(harness_scripts_wait(10000));
    EXPECT_EQ(exclusive_connect(0), SCARD_E_SHARING_VIOLATION);
    card_close_reader();
    EXPECT_EQ(exclusive_connect(0), SCARD_S_SUCCESS);
}

/* pcscd stopped while a window waits for a card, then started again: every
   tick without the service says so, then the window asks for the card once
   and sees it when it comes, and the card's script runs. A window opened
   while the service is away lists no reader and asks for the card once. */
TEST_F(ReaderService, LostServiceIsReportedAndTheWindowRecovers) {
    ASSERT_EQ(rig_command("pcscd-stop", 30000), 0) << "pcscd did not stop";
    card_open_reader();
    std::vector<std::string> lines = card_reader_lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "Reader  is selected...");
    card_ticks(3);
    lines = card_reader_lines();
    EXPECT_EQ(lines, std::vector<std::string>({"Reader  is selected...", no_service_line,
                                               no_service_line, no_service_line}));
    ASSERT_EQ(rig_command("pcscd-start", 60000), 0) << "pcscd did not come back";
    ASSERT_TRUE(tick_until_line(insert_prompt, 10000));
    card_ticks(12);
    EXPECT_EQ(card_count(card_reader_lines(), insert_prompt), 1);
    card_close_reader();

    /* The window waits on reader 00 00 when the service goes. */
    card_open_reader(READER_CLOSE);
    ASSERT_TRUE(tick_until_line(insert_prompt, 5000));
    ASSERT_EQ(gui_session()->card_state, CARD_WAITING);
    ASSERT_EQ(rig_command("pcscd-stop", 30000), 0) << "pcscd did not stop";
    EXPECT_TRUE(tick_until_line(no_service_line, 5000));
    ASSERT_EQ(rig_command("pcscd-start", 60000), 0) << "pcscd did not come back";
    harness_pane_clear(app.gui.panes[PANE_READER].edit, 0);
    ASSERT_TRUE(tick_until_line(insert_prompt, 10000));
    ASSERT_TRUE(testcard_insert(0, testcard_demo_atr));
    ASSERT_TRUE(card_tick_until(CARD_READY, 10000))
        << harness_window_text(app.gui.panes[PANE_READER].edit);
    EXPECT_TRUE(pane_waits_for("Velmo:> Card is ready", 10000));
    lines = card_reader_lines();
    EXPECT_EQ(card_count(lines, "Vorlane_Demo_Card inserted..."), 1);
    EXPECT_EQ(card_count(lines, "Loading script demo.txt ..."), 1);
    EXPECT_EQ(card_count(lines, insert_prompt), 1);
}

/* The whole program through app_run: "-s NAME" names the script of a card
   that atr.txt does not know. */
TEST_F(ReaderService, StartedWithScriptOptionAnUnknownCardRunsThatScript) {
    harness_frame_close();
    EXPECT_TRUE(harness_file_write("named.txt", "00A4040000\n"));
    ASSERT_TRUE(testcard_insert(0, unknown_atr));
    std::atomic<bool> stop(false);
    std::string seen;
    std::thread watcher([&] {
        DWORD end = GetTickCount() + 30000;
        while (!stop && (int)(end - GetTickCount()) > 0) {
            HWND edit = app.gui.panes[PANE_READER].edit;
            if (edit)
                seen = harness_window_text(edit);
            if (seen.find("Velmo:> Card is ready") != std::string::npos)
                break;
            Sleep(50);
        }
        PostMessageA(app.gui.frame_window, WM_CLOSE, 0, 0);
    });
    int code = app_run(GetModuleHandleA(NULL), "-s named.txt", SW_HIDE);
    stop = true;
    watcher.join();
    /* app_run deleted card_lock on its way out; later tests need it. */
    InitializeCriticalSection(&gui_session()->card_lock);
    EXPECT_EQ(code, 0);
    EXPECT_NE(seen.find("Reader Virtual PCD 00 00 is selected...\r\n"), std::string::npos) << seen;
    EXPECT_NE(seen.find("\r\nLoading script named.txt ...\r\n"), std::string::npos) << seen;
    EXPECT_EQ(seen.find("inserted..."), std::string::npos);
    DeleteFileA("named.txt");
}
