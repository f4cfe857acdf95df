/*
 * explain_card_test.cpp: the reader window's "Explain" and "ATR details"
 * menu items on the rig's test card: off at start, a check mark that
 * follows the item, the ATR explained on insertion, every Received trace of
 * a script followed by its explanation, a failed check ending with the
 * status word's meaning, a failed exchange naming its PC/SC status, and the
 * current card's ATR on demand.
 */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <windows.h>
#include <winscard.h>

#include "app/app_state.h"
#include "card/card.h"
#include "resources/resource.h"
#include "script/script.h"
#include "tests/win/harness/card.h"
#include "tests/win/harness/files.h"
#include "tests/win/harness/frame.h"
#include "tests/win/harness/script.h"

namespace {

class ExplainCard : public CardFixture {
  protected:
    void prepare() override {
        strcpy(app.auto_script_name, "none.txt");
    }
    void menu(int id) {
        SendMessageA(app.gui.frame_window, WM_COMMAND, id, 0);
        harness_pump(20);
    }
    bool checked(void) {
        return (GetMenuState(app.gui.frame_menu, IDM_EXPLAIN, MF_BYCOMMAND) & MF_CHECKED) != 0;
    }
    std::string run(const char *text) {
        script_pane_clear();
        EXPECT_TRUE(harness_file_write("x.txt", text));
        EXPECT_EQ(start_script(path_), 1);
        EXPECT_TRUE(harness_scripts_wait(30000));
        return script_pane_text();
    }
    char path_[8] = "x.txt";
};

const char explained_select[] = "Received\r\n6F0284009000\r\nSW 9000: normal processing\r\n"
                                "6F 02 FCI template\r\n  84 00 DF name\r\n";

} // namespace

TEST_F(ExplainCard, MenuItemsExplainTracesChecksFailuresAndTheAtr) {
    card_open_reader();
    menu(IDM_ATR_DETAILS);
    EXPECT_EQ(card_reader_lines().back(), "No card is ready");
    EXPECT_FALSE(checked());
    EXPECT_EQ(card_session_explains(gui_session()), 0);

    menu(IDM_EXPLAIN);
    EXPECT_TRUE(checked());
    ASSERT_TRUE(testcard_insert(0, testcard_demo_atr));
    ASSERT_TRUE(card_tick_until(CARD_READY, 10000));
    ASSERT_TRUE(harness_scripts_wait(10000));
    auto shown = card_lines_from(card_reader_lines(), "Answer to Reset: ");
    ASSERT_GE(shown.size(), 4u);
    EXPECT_EQ(shown[2], "TS 3B: direct convention");
    EXPECT_EQ(card_count(shown, "TCK 6A: correct"), 1);

    std::string text = run("00A4040000\n/EXPECT 6A82\n");
    EXPECT_NE(text.find(explained_select), std::string::npos) << text;
    EXPECT_NE(text.find("!!! Check failed, line 2: expected 6A82, received 6F0284009000 "
                        "(normal processing)\r\n"),
              std::string::npos)
        << text;

    script_pane_clear();
    menu(IDM_ATR_DETAILS);
    std::vector<std::string> details = card_reader_lines();
    ASSERT_GE(details.size(), 3u);
    EXPECT_EQ(details[0], "Answer to Reset: ");
    EXPECT_EQ(details[1], card_demo_atr_line);
    EXPECT_EQ(details[2], "TS 3B: direct convention");

    /* Another program resets the card: the next exchange fails, and the
       busy line names the status. */
    SCARDCONTEXT context = 0;
    SCARDHANDLE other = 0;
    DWORD protocol = 0;
    ASSERT_EQ(SCardEstablishContext(SCARD_SCOPE_SYSTEM, NULL, NULL, &context), SCARD_S_SUCCESS);
    ASSERT_EQ(SCardConnectA(context, testcard_reader_names[0], SCARD_SHARE_SHARED,
                            SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &other, &protocol),
              SCARD_S_SUCCESS);
    EXPECT_EQ(SCardReconnect(other, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1,
                             SCARD_RESET_CARD, &protocol),
              SCARD_S_SUCCESS);
    text = run("00A4040000\n");
    SCardDisconnect(other, SCARD_LEAVE_CARD);
    SCardReleaseContext(context);
    EXPECT_NE(text.find("\r\nReader is busy, try later...\r\nPC/SC status: 0x80100068 "
                        "SCARD_W_RESET_CARD\r\n"),
              std::string::npos)
        << text;

    menu(IDM_EXPLAIN); /* off again: the pane shows what it always did */
    EXPECT_FALSE(checked());
    EXPECT_EQ(card_session_explains(gui_session()), 0);
}
