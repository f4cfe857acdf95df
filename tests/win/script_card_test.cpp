/*
 * script_card_test.cpp: script runs against the rig's test card on reader 0:
 * what goes to the card, what the pane traces, what the log file receives,
 * the automatic T=0 follow-ups and their limit, and the script a freshly
 * inserted card starts by itself.
 */
#include <gtest/gtest.h>

#include <string.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

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
#include "tests/win/harness/files.h"
#include "tests/win/harness/script.h"

namespace {

class ScriptCard : public CardFixture {
  protected:
    void prepare() override {
        strcpy(app.auto_script_name, "no_card_script.txt");
    }
    /* Inserts the card, opens the reader window and steps it until the card
       is ready and the card's own script has ended; then starts from an
       empty pane and an empty card log. */
    void ready(bool t0_mode = false) {
        ASSERT_TRUE(testcard_insert(0, testcard_demo_atr, t0_mode));
        card_open_reader();
        ASSERT_TRUE(card_tick_until(CARD_READY, 10000))
            << "state " << gui_session()->card_state << ", pane:\n"
            << (app.gui.panes[PANE_READER].edit
                    ? harness_window_text(app.gui.panes[PANE_READER].edit)
                    : "(no pane)");
        ASSERT_TRUE(harness_scripts_wait(10000));
        script_pane_clear();
        testcard_log_clear(0);
    }
    std::string run_text(const std::string &text) {
        EXPECT_TRUE(harness_file_write("s.txt", text));
        EXPECT_EQ(start_script(path_), 1);
        EXPECT_TRUE(harness_scripts_wait(60000));
        return script_pane_text();
    }
    /* The commands the card received, in order. */
    std::vector<std::string> commands() {
        std::vector<std::string> sent;
        for (const std::string &line : testcard_log(0)) {
            if (line.compare(0, 3, "C: ") == 0)
                sent.push_back(line.substr(3));
        }
        return sent;
    }

    char path_[16] = "s.txt";
};

std::string loading(void) {
    return "\r\nLoading script s.txt ...\r\n";
}

std::string trace(const char *title, const std::string &hex) {
    return std::string(title) + "\r\n" + (hex.empty() ? "" : hex + "\r\n");
}

std::string bytes_text(const std::string &hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += (char)strtol(hex.substr(i, 2).c_str(), NULL, 16);
    return bytes;
}

} // namespace

TEST_F(ScriptCard, UnterminatedLastLineIsSent) {
    ready();
    std::string text = run_text("00A4040000");
    EXPECT_EQ(commands(), std::vector<std::string>({"00A4040000"}));
    EXPECT_EQ(text, loading() + trace("Sending", "00A4040000") + trace("Received", "6F0284009000") +
                        script_end_text());
    EXPECT_STREQ(gui_session()->script_name, path_);
}

TEST_F(ScriptCard, ThirtyTwoByteCommandTracesOnOneLine) {
    ready();
    std::string data;
    char pair[3];
    for (int i = 1; i <= 27; i++) {
        snprintf(pair, sizeof pair, "%02X", i);
        data += pair;
    }
    std::string text = run_text("00 D0 00 00 1B " + data + "\r\n");
    EXPECT_EQ(text, loading() + "Sending\r\n00D000001B" + data + "\r\n" +
                        trace("Received", "9000") + script_end_text());
    auto memory = testcard_memory(0, 0, 27);
    ASSERT_EQ(memory.size(), 27u);
    EXPECT_EQ(memory[0], 1);
    EXPECT_EQ(memory[26], 27);
}

/* The largest response the exchange returns, 512 bytes, traces as 16 full
   lines; a 1023-byte command as 31 full lines and one of 31 bytes. */
TEST_F(ScriptCard, LongestTracesKeepTheirLines) {
    ready();
    std::string text = run_text("80F00200\n");
    std::string hex;
    char pair[3];
    for (int i = 0; i < 510; i++) {
        snprintf(pair, sizeof pair, "%02X", i % 256);
        hex += pair;
    }
    hex += "9000";
    std::string expected = "Received\r\n";
    for (size_t at = 0; at < hex.size(); at += 64)
        expected += hex.substr(at, 64) + "\r\n";
    EXPECT_EQ(text, loading() + trace("Sending", "80F00200") + expected + script_end_text());

    script_pane_clear();
    std::string command = "00D00000FF" + std::string(2036, 'E');
    text = run_text(command + "\n");
    std::string sending = "Sending\r\n";
    for (size_t at = 0; at < command.size(); at += 64)
        sending += command.substr(at, 64) + "\r\n";
    EXPECT_EQ(text.substr(0, loading().size() + sending.size()), loading() + sending);
    EXPECT_EQ(script_count(text, "End of script"), 1);
}

TEST_F(ScriptCard, HexFormsOfTheApduText) {
    ready();
    std::string text = run_text("00 A4 G0 00\n80 F0 0G 04\n80 F0 0 A 02\n");
    /* G0 skips its line; 0G reads as 00; "0 A" as one byte 00 */
    EXPECT_EQ(commands(), std::vector<std::string>({"80F00004", "80F00002"}));
    EXPECT_EQ(text, loading() + trace("Sending", "80F00004") + trace("Received", "00019000") +
                        trace("Sending", "80F00002") + trace("Received", "9000") +
                        script_end_text());
}

/* The empty command reaches the platform, which refuses it here: the
   exchange counts as failed and ends the run. */
TEST_F(ScriptCard, ThreeSpacesSendAnEmptyCommand) {
    ready();
    SendMessageA(app.gui.frame_window, WM_COMMAND, IDM_NEW_CONSOLE, 0);
    harness_pump(20);
    std::string text = run_text("   \n00A4040000\n");
    EXPECT_EQ(text, loading() + "Sending\r\n" + "\r\nReader is busy, try later...\r\n" +
                        script_end_text());
    /* card_transmit was called with no bytes: its Console line has no header */
    std::string console = harness_window_text(app.gui.panes[PANE_CONSOLE].edit);
    EXPECT_NE(console.find("Script: s.txt\r\n\r\n001: LengthError= 0\r\n"), std::string::npos)
        << console;
    EXPECT_TRUE(commands().empty());
}

TEST_F(ScriptCard, T0SelectGetsItsResponseAndWrongLengthIsResent) {
    ready(true);
    ASSERT_TRUE(testcard_memory_set(0, 0, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}));
    std::string text =
        run_text("/T=0\r\n/OPEN t0.bin\r\n00A4040005A000000003\r\n00B0000000\r\n/CLOSE\r\n");
    EXPECT_EQ(commands(), std::vector<std::string>(
                              {"00A4040005A000000003", "00C0000009", "00B0000000", "00B0000008"}));
    EXPECT_EQ(text, loading() + "Logging data in file t0.bin\r\n" +
                        trace("Sending", "00A4040005A000000003") + trace("Received", "6109") +
                        trace("Sending", "00C0000009") +
                        trace("Received", "6F078405A0000000039000") +
                        trace("Sending", "00B0000000") + trace("Received", "6C08") +
                        trace("Sending", "00B0000008") + trace("Received", "11223344556677889000") +
                        script_end_text());
    /* only the final response of each chain is logged */
    EXPECT_EQ(harness_file_read("t0.bin"), bytes_text("6F078405A0000000031122334455667788"));
}

TEST_F(ScriptCard, ForcedResponseWaitingIsFollowedUpWithT0Only) {
    ready();
    ASSERT_TRUE(testcard_memory_set(0, 0, {0xAB, 0xCD}));
    ASSERT_TRUE(testcard_force_status(0, 0x61, 0x10, 1));
    std::string text = run_text("/T=0\n/OPEN f.bin\n00B0000004\n00B0000002\n");
    EXPECT_EQ(commands(), std::vector<std::string>({"00B0000004", "00C0000010", "00B0000002"}));
    EXPECT_NE(text.find(trace("Received", "6110") + trace("Sending", "00C0000010")),
              std::string::npos);
    EXPECT_EQ(harness_file_read("f.bin"), bytes_text("ABCD"));

    /* Without "/T=0": nothing follows, nothing is logged, the script goes on. */
    script_pane_clear();
    testcard_log_clear(0);
    ASSERT_TRUE(testcard_force_status(0, 0x61, 0x10, 1));
    text = run_text("/OPEN n.bin\n00B0000004\n00B0000002\n");
    EXPECT_EQ(commands(), std::vector<std::string>({"00B0000004", "00B0000002"}));
    EXPECT_NE(text.find(trace("Received", "6110") + trace("Sending", "00B0000002")),
              std::string::npos);
    EXPECT_EQ(harness_file_read("n.bin"), bytes_text("ABCD"));
}

TEST_F(ScriptCard, WrongLengthOfAShortCommandResendsZeroHeaderBytes) {
    ready();
    ASSERT_TRUE(testcard_force_status(0, 0x6C, 0x08, 1));
    run_text("/T=0\n00B0\n");
    EXPECT_EQ(commands(), std::vector<std::string>({"00B0", "00B0000008"}));
}

/* A card that answers every follow-up with 61xx: the chain stops after 256
   follow-ups, the last answer counts as final, and the script goes on. */
TEST_F(ScriptCard, EndlessFollowUpChainIsCut) {
    ready();
    ASSERT_TRUE(testcard_force_status(0, 0x61, 0x01, -1));
    std::string text = run_text("/T=0\n/OFF\n/OPEN c.bin\n00B0000001\n// after\n");
    auto sent = commands();
    ASSERT_EQ(sent.size(), 257u);
    EXPECT_EQ(sent[0], "00B0000001");
    EXPECT_EQ(sent[1], "00C0000001");
    EXPECT_EQ(sent[256], "00C0000001");
    EXPECT_EQ(text, loading() + "Logging data in file c.bin\r\n" +
                        "No further follow-up after 256 in a row\r\n// after\r\n" +
                        script_end_text());
    EXPECT_EQ(harness_file_read("c.bin"), "");
}

TEST_F(ScriptCard, TraceOffKeepsWaitingAndTheConsoleLines) {
    ready();
    SendMessageA(app.gui.frame_window, WM_COMMAND, IDM_NEW_CONSOLE, 0);
    harness_pump(20);
    std::string text = run_text("/OFF\n/W 5\n00A4040000\n");
    EXPECT_EQ(text, loading() + "Waiting 5 ms\r\n" + script_end_text());
    std::string console = harness_window_text(app.gui.panes[PANE_CONSOLE].edit);
    EXPECT_NE(console.find("Script: s.txt"), std::string::npos) << console;
    EXPECT_NE(console.find("001: 00A4040000 9000"), std::string::npos) << console;
}

TEST_F(ScriptCard, ReopenedLogIsEmptiedFirst) {
    ready();
    ASSERT_TRUE(testcard_memory_set(0, 0, {0xAA, 0xBB, 0xCC, 0xDD}));
    run_text("/OPEN a.bin\n00B0000004\n/OPEN a.bin\n00B0000004\n");
    EXPECT_EQ(harness_file_read("a.bin"), bytes_text("AABBCCDDAABBCCDD"));
    run_text("/OPEN a.bin\n00B0000004\n/OPEN a.bin\n00B0000004\n/CLOSE\n/OPEN\n00B0000002\n");
    EXPECT_EQ(harness_file_read("a.bin"), bytes_text("AABB"));
}

/* The rest of an overlong line is a line of its own and is sent. */
TEST_F(ScriptCard, PieceAfterAnOverlongLineIsSent) {
    ready();
    run_text("//" + std::string(2045, 'c') + "80F00004\n");
    EXPECT_EQ(commands(), std::vector<std::string>({"80F00004"}));
}

/* The reader window starts the automatic script ("-s") for a card the ATR
   table does not know, and the record's script for one it knows. */
TEST_F(ScriptCard, InsertedCardRunsItsOwnScript) {
    EXPECT_TRUE(harness_file_write("auto.txt", "// automatic\n00A4040000\n"));
    strcpy(app.auto_script_name, "auto.txt");
    ASSERT_TRUE(testcard_insert(0, testcard_demo_atr));
    card_open_reader();
    ASSERT_TRUE(card_tick_until(CARD_READY, 10000));
    ASSERT_TRUE(harness_scripts_wait(10000));
    std::string text = script_pane_text();
    EXPECT_NE(text.find("\r\nLoading script auto.txt ...\r\n// automatic\r\n" +
                        trace("Sending", "00A4040000") + trace("Received", "6F0284009000") +
                        script_end_text()),
              std::string::npos)
        << text;
    card_close_reader();

    EXPECT_TRUE(harness_file_write("own.txt", "// own script\n"));
    EXPECT_TRUE(harness_file_write("atr.txt", std::string("Known_Card ") + testcard_demo_atr +
                                                  " 0 own.txt\r\n"));
    atr_table_load();
    script_pane_clear();
    ASSERT_TRUE(testcard_insert(0, testcard_demo_atr));
    card_open_reader();
    ASSERT_TRUE(card_tick_until(CARD_READY, 10000));
    ASSERT_TRUE(harness_scripts_wait(10000));
    text = script_pane_text();
    EXPECT_NE(text.find("Known_Card inserted..."), std::string::npos) << text;
    EXPECT_NE(text.find("\r\nLoading script own.txt ...\r\n// own script\r\n" + script_end_text()),
              std::string::npos)
        << text;
}

/* A run started while another goes on resets the shared total and name,
   and both runs reach their end. */
TEST_F(ScriptCard, TwoRunsAtOnceBothEnd) {
    ready();
    static char first[] = "first.txt";
    static char second[] = "second.txt";
    std::string lines;
    for (int i = 0; i < 40; i++)
        lines += "80F00010\n";
    EXPECT_TRUE(harness_file_write(first, "/OFF\n" + lines));
    EXPECT_TRUE(harness_file_write(second, "/OFF\n" + lines));
    start_script(first);
    start_script(second);
    ASSERT_TRUE(harness_scripts_wait(60000));
    std::string text = script_pane_text();
    EXPECT_EQ(script_count(text, "End of script"), 2);
    EXPECT_EQ(script_count(text, "Reader is busy"), 0);
    EXPECT_EQ(commands().size(), 80u);
    EXPECT_TRUE(strcmp(gui_session()->script_name, first) == 0 ||
                strcmp(gui_session()->script_name, second) == 0);
}

/* A log on a full disk (/dev/full): the failed write is told once, in the
   style of the other write errors, nothing more is logged in that run (not
   even after a new "/OPEN"), and the run itself goes on to its end. Small
   writes fail only when the file is closed. */
TEST_F(ScriptCard, LogWritesThatFailAreToldOnceAndTheRunGoesOn) {
    ready();
    std::string script = "/OFF\n/OPEN Z:\\dev\\full\n";
    for (int i = 0; i < 20; i++)
        script += "80F00100\n";
    script += "/CLOSE\n/OPEN again.bin\n00A4040000\n";
    std::string text = run_text(script);
    EXPECT_EQ(text, loading() + "Logging data in file Z:\\dev\\full\r\n" +
                        "!!! Error While Writing Z:\\dev\\full\r\n" + script_end_text());
    EXPECT_EQ(commands().size(), 21u);
    EXPECT_EQ(commands().back(), "00A4040000");
    EXPECT_FALSE(harness_file_exists("again.bin"));

    script_pane_clear();
    text = run_text("/OFF\n/OPEN Z:\\dev\\full\n00A4040000\n");
    EXPECT_EQ(text, loading() + "Logging data in file Z:\\dev\\full\r\n" +
                        "!!! Error While Writing Z:\\dev\\full\r\n" + script_end_text());
}

/* Checks in a script run from the Script dialog, on a T=0 card: they judge
   the final response of a chain and the time summed over it, and a run a
   failed exchange ends still counts them. */
TEST_F(ScriptCard, DialogRunChecksTheFinalResponseOfAChain) {
    ready(true);
    ASSERT_TRUE(testcard_delay(0, 100));
    ASSERT_TRUE(harness_file_write("script.txt", "/T=0\n/OFF\n00A4040005A000000003\n"
                                                 "/EXPECT 6F07 8405 A000000003 9000 | 61XX\n"
                                                 "/EXPECT * WITHIN 150\n/EXPECT 61 09\n   \n"
                                                 "/EXPECT 9000\n"));
    std::thread helper([] {
        HWND dialog = harness_find_window("Execute a Script", 5000);
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_SCRIPT_EXEC, BN_CLICKED),
                     (LPARAM)GetDlgItem(dialog, IDC_SCRIPT_EXEC));
    });
    SendMessageA(app.gui.frame_window, WM_COMMAND, IDM_SCRIPT_EXEC, 0);
    helper.join();
    ASSERT_TRUE(harness_scripts_wait(30000));
    std::string text = script_pane_text();
    std::smatch took;
    ASSERT_TRUE(std::regex_search(
        text, took, std::regex("line 5: expected within 150 ms, took ([0-9]+) ms\r\n")))
        << text;
    EXPECT_GE(atoi(took[1].str().c_str()), 190);
    EXPECT_EQ(std::regex_replace(text, std::regex("took [0-9]+ ms"), "took # ms"),
              "\r\nLoading script script.txt ...\r\n!!! Check failed, line 5: expected within 150 "
              "ms, took # ms\r\n!!! Check failed, line 6: expected 61 09, received "
              "6F078405A0000000039000\r\n\r\nReader is busy, try later...\r\nChecks: 1 passed, 2 "
              "failed\r\n" +
                  script_end_text());
}

/* An extended-length answer is traced whole (the pane keeps its last
   lines), logged whole and judged whole; a command written over several
   lines reaches the card as one. */
TEST_F(ScriptCard, ExtendedLengthTracedLoggedJudgedAndContinued) {
    ready();
    std::string data;
    for (int i = 0; i < 300; i++)
        data += i % 2 ? "5A" : "A5";
    /* UPDATE BINARY with extended Lc 300 (012C), written over three lines */
    std::string text = run_text("/OPEN big.bin\n00D6 0000 00 01\n\\2C" + data.substr(0, 301) +
                                "\n\\" + data.substr(301) + "\n/EXPECT 9000\n" +
                                "00B0000000FFFF\n/EXPECT *6282\n/EXPECT 9000\n/CLOSE\n");
    std::vector<std::string> sent = commands();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], "00D6000000012C" + data);
    EXPECT_EQ(sent[1], "00B0000000FFFF");
    std::string log = harness_file_read("big.bin");
    ASSERT_EQ(log.size(), 65533u);
    EXPECT_EQ(log.substr(0, 2), "\xA5\x5A");
    EXPECT_EQ(log[299], '\x5A');
    EXPECT_EQ(log.find_first_not_of('\0', 300), std::string::npos);
    /* 65,535 bytes: 2,047 full lines, then 31 bytes ending in the SW */
    EXPECT_NE(text.find("\r\n" + std::string(58, '0') +
                        "6282\r\n!!! Check failed, line 8: "
                        "expected 9000, received A55A"),
              std::string::npos)
        << text.substr(text.size() - 800);
    EXPECT_NE(text.find("... (65535 bytes, SW 6282)\r\nChecks: 2 passed, 1 failed\r\n"),
              std::string::npos);
}
