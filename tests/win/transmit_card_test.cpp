/*
 * transmit_card_test.cpp: APDU exchanges with the rig's test card through
 * card_transmit: the Console line with a clock the test sets, the numbering,
 * the statistics, short, long and failed exchanges, refused lengths, card
 * resets from another thread, several threads exchanging while the card
 * comes and goes, and the SendApdu command.
 */
#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <string.h>

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

namespace {

class TransmitCard : public CardFixture {
  protected:
    void prepare() override {
        ASSERT_TRUE(testcard_insert(0, testcard_demo_atr));
        card_open_reader();
        ASSERT_TRUE(card_tick_until(CARD_READY, 5000));
        ASSERT_TRUE(harness_scripts_wait(10000));
        SendMessageA(app.gui.frame_window, WM_COMMAND, IDM_NEW_CONSOLE, 0);
        harness_pump(5);
        ASSERT_NE(app.gui.panes[PANE_CONSOLE].edit, (HWND)0);
        harness_pane_clear(app.gui.panes[PANE_CONSOLE].edit, 1);
        strcpy(gui_session()->script_name, "t.txt");
        gui_session()->xfer_total_ms = 0;
        testcard_log_clear(0);
    }
    void TearDown() override {
        xfer_clock_set(0);
        CardFixture::TearDown();
    }
    /* Sends the command; returns the result and keeps the response. */
    int send(std::vector<unsigned char> command, int *error = nullptr) {
        int ignored;
        buffer_.assign(command.begin(), command.end());
        if (buffer_.size() < 512)
            buffer_.resize(512, 0xEE);
        return card_transmit(buffer_.data(), (int)command.size(), error ? error : &ignored);
    }
    std::vector<unsigned char> buffer_;
};

const std::vector<unsigned char> select_demo = {0x00, 0xA4, 0x04, 0x00, 0x07, 0xA0,
                                                0x00, 0x00, 0x03, 0x06, 0x03, 0x00};

/* Lines of the Console that are exchange lines ("NNN: ..."). */
std::vector<std::string> exchange_lines(void) {
    static const std::regex numbered("[0-9]{3}: .*");
    std::vector<std::string> found;
    for (const std::string &line : card_console_lines()) {
        if (std::regex_match(line, numbered))
            found.push_back(line);
    }
    return found;
}

} // namespace

TEST_F(TransmitCard, ExchangeLineHasItsExactFormAndAverages) {
    card_clock_use({{7200, 900}, {7200, 916}, {7201, 0}, {7201, 20}});
    int error = -5;
    int n = send(select_demo, &error);
    ASSERT_GE(n, 2);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(buffer_[(size_t)n - 2], 0x90);
    EXPECT_EQ(buffer_[(size_t)n - 1], 0x00);
    send(select_demo);
    EXPECT_EQ(card_console_lines(),
              std::vector<std::string>(
                  {"", "Script: t.txt", "",
                   "001: 00A4040007 9000    16 ms =    916 -    900 Total:     16 <0:>",
                   "002: 00A4040007 9000    20 ms =   1020 -   1000 Total:     36 <0:18>"}));
    EXPECT_EQ(gui_session()->xfer_total_ms, 36);
    EXPECT_EQ(gui_session()->xfer_counter, 2);
}

TEST_F(TransmitCard, ZeroMsExchangeLeavesTheTotalAtZeroAndRestartsTheNumbering) {
    gui_session()->script_name[0] = 0; /* no script has run yet: an empty name */
    card_clock_use({{7200, 500}, {7200, 500}, {7200, 600}, {7200, 603}});
    send({0x80, 0xF0, 0x00, 0x02});
    send({0x80, 0xF0, 0x00, 0x02});
    EXPECT_EQ(
        card_console_lines(),
        std::vector<std::string>(
            {"", "Script: ", "", "001: 80F00002 9000     0 ms =    500 -    500 Total:      0 <0:>",
             "", "Script: ", "",
             "001: 80F00002 9000     3 ms =    603 -    600 Total:      3 <0:1>"}));
}

TEST_F(TransmitCard, HourWrapMeasuresTheTrueTimeAndNumbersWrapAfter999) {
    gui_session()->xfer_total_ms = 10;
    gui_session()->xfer_counter = 998;
    card_clock_use({{3600 * 3 + 3599, 990}, {3600 * 4, 5}, {3600 * 4, 10}, {3600 * 4, 12}});
    send({0x80, 0xF0, 0x00, 0x02});
    send({0x80, 0xF0, 0x00, 0x02});
    EXPECT_EQ(card_console_lines(),
              std::vector<std::string>(
                  {"999: 80F00002 9000    15 ms =      5 - 3599990 Total:     25 <0:>",
                   "000: 80F00002 9000     2 ms =     12 -     10 Total:     27 <0:8>"}));
}

TEST_F(TransmitCard, AlternatingCommandsAreAveragedAndAThirdReplacesTheOldestSlot) {
    gui_session()->xfer_total_ms = 1;
    card_clock_use({{7200, 0},
                    {7200, 10},
                    {7200, 0},
                    {7200, 20},
                    {7200, 0},
                    {7200, 30},
                    {7200, 0},
                    {7200, 40},
                    {7200, 0},
                    {7200, 5},
                    {7200, 0},
                    {7200, 50}});
    std::vector<unsigned char> a = {0x00, 0xB0, 0x00, 0x00, 0x04};
    std::vector<unsigned char> b = {0x00, 0xB0, 0x00, 0x04, 0x04};
    std::vector<unsigned char> c = {0x00, 0xB0, 0x00, 0x08, 0x04};
    for (auto *command : {&a, &b, &a, &b, &c, &a})
        EXPECT_EQ(send(*command), 6);
    auto lines = exchange_lines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0].substr(lines[0].size() - 4), "<0:>");
    EXPECT_EQ(lines[1].substr(lines[1].size() - 4), "<1:>");
    EXPECT_EQ(lines[2].substr(lines[2].size() - 6), "<0:20>");
    EXPECT_EQ(lines[3].substr(lines[3].size() - 6), "<1:30>");
    EXPECT_EQ(lines[4].substr(lines[4].size() - 4), "<0:>"); /* c replaced a */
    EXPECT_EQ(lines[5].substr(lines[5].size() - 4), "<1:>"); /* a replaced b */
}

TEST_F(TransmitCard, ZeroHeaderAnsweredZeroMeetsTheEmptyStatisticsSlot) {
    gui_session()->xfer_total_ms = 1;
    ASSERT_TRUE(testcard_force_status(0, 0x00, 0x00, 1));
    card_clock_use({{7200, 100}, {7200, 107}});
    EXPECT_EQ(send({0x00, 0x00, 0x00, 0x00, 0x00}), 2);
    /* The emptied slots hold a zero header and 00 00: counted as a repeat. */
    EXPECT_EQ(exchange_lines(),
              std::vector<std::string>(
                  {"001: 0000000000 0000     7 ms =    107 -    100 Total:      8 <0:7>"}));
}

TEST_F(TransmitCard, ShortAndFullResponses) {
    /* (An empty answer, 80 F0 00 00, never comes back through the rig's
       reader driver; the 0-byte line is pinned by the host tests.) */
    gui_session()->xfer_total_ms = 1;
    card_clock_use({{7200, 0}, {7200, 1}, {7200, 0}, {7200, 2}});
    EXPECT_EQ(send({0x80, 0xF0, 0x00, 0x01}), 1);
    EXPECT_EQ(buffer_[0], 0x90);
    EXPECT_EQ(send({0x80, 0xF0, 0x02, 0x00}), 512);
    EXPECT_EQ(buffer_[0], 0);
    EXPECT_EQ(buffer_[300], 300 % 256);
    EXPECT_EQ(buffer_[510], 0x90);
    EXPECT_EQ(buffer_[511], 0x00);
    EXPECT_EQ(card_console_lines(),
              std::vector<std::string>(
                  {"001: 80F00001LengthError= 1", "     1 ms =      1 -      0 Total:      2 <0:>",
                   "002: 80F00200 9000     2 ms =      2 -      0 Total:      4 <1:>"}));
}

TEST_F(TransmitCard, ResponseLongerThan512FailsWithALineAndLeavesTheBuffer) {
    gui_session()->xfer_total_ms = 1;
    int error = 0;
    EXPECT_EQ(send({0x80, 0xF0, 0x02, 0x01}, &error), -1);
    EXPECT_NE(error, 0);
    EXPECT_EQ(buffer_[0], 0x80); /* the command is still there */
    EXPECT_EQ(buffer_[4], 0xEE);
    auto lines = card_console_lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "001: 80F00201LengthError= 0");
}

TEST_F(TransmitCard, BadLengthsAreRefusedBeforeAnythingIsSent) {
    gui_session()->xfer_total_ms = 1;
    int error = 0;
    EXPECT_EQ(card_transmit(buffer_.data(), -1, &error), -1);
    EXPECT_EQ(error, (int)SCARD_E_INVALID_PARAMETER);
    buffer_.assign(512, 0);
    error = 0;
    EXPECT_EQ(card_transmit(buffer_.data(), 0x7FFFFFFF, &error), -1);
    EXPECT_EQ(error, (int)SCARD_E_INVALID_PARAMETER);
    EXPECT_EQ(card_transmit(nullptr, 5, &error), -1);
    EXPECT_TRUE(testcard_log(0).empty());
    EXPECT_TRUE(exchange_lines().empty());
    EXPECT_EQ(gui_session()->xfer_counter, 0);
}

TEST_F(TransmitCard, CommandLongerThanTheResponseBufferGoesOutWhole) {
    gui_session()->xfer_total_ms = 1;
    std::vector<unsigned char> command(700);
    for (size_t i = 0; i < command.size(); i++)
        command[i] = (unsigned char)i;
    command[0] = 0x00;
    command[1] = 0xD0;
    int error = 0;
    int n = send(command, &error);
    auto log = testcard_log(0);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0].size(), 3u + 2 * command.size());
    EXPECT_EQ(n, 2); /* the card refuses an APDU whose length bytes do not match */
    EXPECT_EQ(buffer_[0], 0x67);
}

TEST_F(TransmitCard, PlatformFailureWritesItsLineWithLengthZero) {
    gui_session()->xfer_total_ms = 1;
    ASSERT_TRUE(testcard_remove(0));
    /* Until a tick notices, the state is still 5 and the platform refuses. */
    int error = 0, n = 0;
    for (int i = 0; i < 200 && n != -1; i++)
        n = send({0x80, 0xF0, 0x00, 0x02}, &error);
    ASSERT_EQ(n, -1);
    EXPECT_NE(error, 0);
    EXPECT_EQ(buffer_[0], 0x80);
    EXPECT_EQ(buffer_[3], 0x02);
    auto lines = card_console_lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2].substr(3), ": 80F00002LengthError= 0");
}

TEST_F(TransmitCard, ResetFromAnotherThreadNamesTheCardWithoutBlockingTheTicks) {
    EXPECT_TRUE(harness_file_write("atr.txt", std::string("Vorlane_Demo_Card ") +
                                                  testcard_demo_atr + " 0 none.txt\n"));
    atr_table_load();
    harness_pane_clear(app.gui.panes[PANE_READER].edit, 0);
    SetTimer(app.gui.panes[PANE_READER].window, 1, 10, NULL); /* ticks keep taking card_lock */
    char text[1024] = "";
    std::atomic<bool> done(false);
    int length = 0;
    std::thread network([&] {
        length = card_reset(text);
        done = true;
    });
    DWORD end = GetTickCount() + 15000;
    while (!done && (int)(end - GetTickCount()) > 0)
        harness_pump(5);
    ASSERT_TRUE(done) << "card_reset never returned";
    network.join();
    KillTimer(app.gui.panes[PANE_READER].window, 1);
    ASSERT_TRUE(harness_scripts_wait(10000));
    EXPECT_EQ(std::string(text), std::string("Answer to Reset: \r\n") + card_demo_atr_line +
                                     "\r\nReader Status: 0\r\n\r\n");
    EXPECT_EQ(length, (int)strlen(text));
    auto lines = card_reader_lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "Vorlane_Demo_Card inserted...");
    EXPECT_EQ(gui_session()->card_state, CARD_READY);

    unsigned char atr[CARD_ATR_SIZE] = {};
    EXPECT_EQ(card_get_atr(atr), 20);
    EXPECT_EQ(memcmp(atr, gui_session()->card_atr, 20), 0);
    EXPECT_EQ(atr[0], 0x3B);
}

namespace {

struct StressCounts {
    std::atomic<int> attempted{0}; /* calls that reached the platform */
    std::atomic<int> succeeded{0};
};

void stress_exchange(StressCounts &counts) {
    unsigned char buffer[512] = {0x80, 0xF0, 0x00, 0x04};
    int error = 0;
    int n = card_transmit(buffer, 4, &error);
    if (n >= 0 || error != 0)
        counts.attempted++;
    if (n >= 0)
        counts.succeeded++;
}

} // namespace

TEST_F(TransmitCard, ThreadsExchangeWhileTheCardComesAndGoes) {
    gui_session()->xfer_total_ms = 1;
    card_clock_use({}); /* 1 ms a reading: the total never returns to 0 */
    SetTimer(app.gui.panes[PANE_READER].window, 1, 250, NULL);
    StressCounts script, gui;
    std::atomic<bool> stop(false);
    std::atomic<int> resets(0);
    std::thread worker([&] {
        for (int i = 0; i < 150 && !stop; i++) {
            stress_exchange(script);
            Sleep(5);
        }
    });
    std::thread network([&] {
        char text[1024];
        while (!stop) {
            card_reset(text);
            resets++;
            Sleep(300);
        }
    });
    DWORD start = GetTickCount();
    int toggles = 0;
    for (int round = 0; round < 120; round++) {
        stress_exchange(gui);
        harness_pump(20);
        if (GetTickCount() - start > (DWORD)(600 * (toggles + 1))) {
            if (toggles % 2 == 0)
                testcard_remove(0);
            else
                testcard_insert(0, testcard_demo_atr);
            toggles++;
        }
    }
    stop = true;
    DWORD end = GetTickCount() + 20000;
    HANDLE threads[2] = {(HANDLE)worker.native_handle(), (HANDLE)network.native_handle()};
    while (WaitForMultipleObjects(2, threads, TRUE, 0) == WAIT_TIMEOUT &&
           (int)(end - GetTickCount()) > 0)
        harness_pump(5);
    ASSERT_NE(WaitForMultipleObjects(2, threads, TRUE, 0), (DWORD)WAIT_TIMEOUT) << "deadlock";
    worker.join();
    network.join();
    KillTimer(app.gui.panes[PANE_READER].window, 1);
    harness_scripts_wait(20000);

    printf("stress: %d card toggles, %d resets, script thread %d/%d and GUI thread %d/%d "
           "exchanges succeeded/reached the card\n",
           toggles, resets.load(), script.succeeded.load(), script.attempted.load(),
           gui.succeeded.load(), gui.attempted.load());
    EXPECT_GE(toggles, 4);
    EXPECT_GT(resets.load(), 0);
    EXPECT_GT(script.succeeded.load(), 0);
    EXPECT_GT(gui.succeeded.load(), 0);
    /* Every exchange that reached the card has its line, each numbered once. */
    auto lines = exchange_lines();
    EXPECT_EQ((int)lines.size(), script.attempted + gui.attempted);
    EXPECT_LT(lines.size(), 599u);
    std::vector<int> seen(1000, 0);
    for (const std::string &line : lines)
        seen[(size_t)atoi(line.substr(0, 3).c_str())]++;
    for (int count : seen)
        EXPECT_LE(count, 1);
}

namespace {

/* Chooses SendApdu as the menu does, cancelling the Command dialog if it
   shows. Returns whether it showed. */
bool send_apdu_from_menu(void) {
    std::atomic<bool> returned(false);
    bool shown = false;
    std::thread driver([&] {
        HWND dialog = 0;
        while (!dialog && !returned)
            dialog = harness_find_window("Command", 50);
        if (!dialog)
            return;
        shown = true;
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    });
    SendMessageA(app.gui.frame_window, WM_COMMAND, IDM_SEND_APDU, 0);
    returned = true;
    driver.join();
    return shown;
}

HWND active_child(void) {
    return (HWND)SendMessageA(app.gui.mdi_client, WM_MDIGETACTIVE, 0, 0);
}

} // namespace

TEST_F(TransmitCard, SendApduOpensTheCommandDialogAndThenActivatesTheSecondChild) {
    /* The reader window came first (window-list id 1000), the Console
       second (1001, the id SendApdu shares). */
    ASSERT_EQ(GetWindowLongPtrA(app.gui.panes[PANE_CONSOLE].window, GWLP_ID), 1001);
    SendMessageA(app.gui.mdi_client, WM_MDIACTIVATE, (WPARAM)app.gui.panes[PANE_READER].window, 0);
    ASSERT_EQ(active_child(), app.gui.panes[PANE_READER].window);
    EXPECT_TRUE(send_apdu_from_menu());
    EXPECT_EQ(active_child(), app.gui.panes[PANE_CONSOLE].window);

    /* With the Console active no dialog opens; the Console stays in front. */
    EXPECT_FALSE(send_apdu_from_menu());
    EXPECT_EQ(active_child(), app.gui.panes[PANE_CONSOLE].window);
}
