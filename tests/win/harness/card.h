/*
 * card.h: what the card tests share: the rig's test cards taken out and
 * waited for, the card reader window opened with its READER dialog driven
 * from a second thread (or with the demo card ready through the menu), the
 * state machine stepped one tick at a time, a clock the tests set, and the
 * panes read back.
 */
#ifndef VORLANE_HARNESS_CARD_H
#define VORLANE_HARNESS_CARD_H

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/win/harness/files.h"
#include "tests/win/harness/testcard.h"

/* The card tests' fixture. Set-up: both test cards out (and seen out by
   the platform) and in their first state, a scratch folder as the current
   one, and a frame unless the test starts programs of its own. Tear-down:
   the reader window closed, every script run ended, the frame closed, the
   cards out. */
class CardFixture : public testing::Test {
  protected:
    explicit CardFixture(bool frame = true) : frame_(frame) {}
    void SetUp() override;
    void TearDown() override;
    /* A test's own set-up, run last when the common one succeeded. */
    virtual void prepare() {}
    HarnessScratch scratch_;
    bool frame_;
};

/* The demo card's ATR as the reader pane shows it. */
inline constexpr char card_demo_atr_line[] =
    " 3B 8F 80 01 80 4F 0C A0 00 00 03 06 03 00 01 00 00 00 00 6A ";

/* Takes the card out and waits until the platform no longer connects to it
   (the card's removal reaches the service a little later). */
bool card_remove_and_wait(int reader);

/* What the READER dialog showed, if it showed. */
struct ReaderDialogSeen {
    bool shown = false;
    std::vector<std::string> items;
    int selection = -2;
};

/* What the driver does in the READER dialog: close it, or pick an index
   (or keep the selection shown, -1) and press SELECT, or Escape when
   escape is set. */
enum { READER_CLOSE = -2, READER_KEEP = -1 };

/* Opens the card reader window as the frame's menu does, while a second
   thread watches for the READER dialog and handles it. The window's timer
   is stopped before any tick: the tests step the state machine themselves. */
ReaderDialogSeen card_open_reader(int action = READER_CLOSE, bool escape = false);
void card_close_reader(void);

/* Runs `count` ticks of the state machine, taking in what workers print. */
void card_ticks(int count);
/* Ticks until the state is `state` (at most ms); true when reached. */
bool card_tick_until(int state, int ms);

std::vector<std::string> card_reader_lines(void);
std::vector<std::string> card_console_lines(void);
/* Lines from the first one equal to `first` on (empty when none is). */
std::vector<std::string> card_lines_from(const std::vector<std::string> &lines,
                                         const std::string &first);
int card_count(const std::vector<std::string> &lines, const std::string &line);

/* The clock card_transmit reads, for the tests: each reading takes the
   next entry (seconds, ms); past the end it keeps counting 1 ms a reading. */
void card_clock_use(std::vector<std::pair<long long, int>> readings);

/* Opens the frame and, through its menu, a reader window that follows
   reader 0 holding a fresh demo card (its timer running), waits until the
   card is ready and its start script has ended, then empties the reader
   pane and the card's log. */
bool dialog_card_open(void);
void dialog_card_close(void);
/* The commands the card received, as "C: <HEX>" lines' hex, in order. */
std::vector<std::string> dialog_card_commands(void);

#endif
