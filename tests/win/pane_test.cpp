/*
 * pane_test.cpp: the line discipline of the text panes, read back as a user
 * sees it in the Console's edit control, and printing from several threads:
 * queued text keeps each thread's order, never mixes two prints, survives a
 * full queue, is shown in batches, and never holds up closing or quitting.
 */
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>

#include "app/app_state.h"
#include "console/console.h"
#include "resources/resource.h"
#include "tests/win/harness/frame.h"

/* A frame with its Console open (and greeting). */
static void pane_frame_open(void) {
    harness_frame_open();
    SendMessageA(app.gui.frame_window, WM_COMMAND, IDM_NEW_CONSOLE, 0);
    harness_pump(10);
    ASSERT_NE(app.gui.panes[PANE_CONSOLE].edit, (HWND)0);
}

class PaneTest : public testing::Test {
  protected:
    void SetUp() override {
        pane_frame_open();
        if (HasFatalFailure())
            return;
        /* Start from an empty pane: drop the greeting. */
        SetWindowTextA(app.gui.panes[PANE_CONSOLE].edit, "");
        pane_reset(1);
    }
    void TearDown() override {
        harness_frame_close();
    }
    std::vector<std::string> lines() {
        return harness_lines(app.gui.panes[PANE_CONSOLE].edit);
    }
};

TEST_F(PaneTest, PartialLinesJoinAndShowOnlyWhenComplete) {
    console_print("abc");
    EXPECT_EQ(harness_window_text(app.gui.panes[PANE_CONSOLE].edit), "");
    console_print("def\r\n");
    EXPECT_EQ(harness_window_text(app.gui.panes[PANE_CONSOLE].edit), "abcdef\r\n");
}

TEST_F(PaneTest, LongTextWrapsAt120AndHoldsTheRestBack) {
    std::string text(250, 'x');
    for (int i = 0; i < 250; i++)
        text[i] = (char)('a' + i % 26);
    EXPECT_EQ(console_print("%s", text.c_str()), 250);
    auto shown = lines();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], text.substr(0, 120));
    EXPECT_EQ(shown[1], text.substr(120, 120));
    console_print("\n");
    shown = lines();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[2], text.substr(240));
}

TEST_F(PaneTest, ExactlyOneHundredTwentyThenLineFeedAddsAnEmptyLine) {
    console_print("%s\n", std::string(120, 'q').c_str());
    auto shown = lines();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], std::string(120, 'q'));
    EXPECT_EQ(shown[1], "");
}

TEST_F(PaneTest, CarriageReturnKeptUnlessRightBeforeLineFeedInOneCall) {
    console_print("x\r");
    console_print("\n");
    EXPECT_EQ(harness_window_text(app.gui.panes[PANE_CONSOLE].edit), "x\r\r\n");
    console_print("y\r\n");
    EXPECT_EQ(harness_window_text(app.gui.panes[PANE_CONSOLE].edit), "x\r\r\ny\r\n");
}

TEST_F(PaneTest, SixHundredMessagesLeaveTheNewestThreeHundred) {
    for (int i = 1; i <= 599; i++)
        console_print("message %d\r\n", i);
    auto shown = lines();
    ASSERT_EQ(shown.size(), 599u);
    EXPECT_EQ(shown.front(), "message 1");
    console_print("message %d\r\n", 600);
    shown = lines();
    ASSERT_EQ(shown.size(), 300u);
    EXPECT_EQ(shown.front(), "message 301");
    EXPECT_EQ(shown.back(), "message 600");
    /* It grows again to 599 before the next rebuild. */
    for (int i = 601; i <= 899; i++)
        console_print("message %d\r\n", i);
    EXPECT_EQ(lines().size(), 599u);
    console_print("message 900\r\n");
    shown = lines();
    ASSERT_EQ(shown.size(), 300u);
    EXPECT_EQ(shown.front(), "message 601");
}

TEST_F(PaneTest, FullPaneOfLongLinesIsNotStoppedByTheEditLimit) {
    std::string line(119, 'L');
    for (int i = 0; i < 599; i++)
        console_print("%03d%s\r\n", i % 1000, line.substr(4).c_str());
    auto shown = lines();
    ASSERT_EQ(shown.size(), 599u);
    EXPECT_EQ(shown.back().substr(0, 3), "598");
}

TEST_F(PaneTest, NewLinesGoWhereThePreviousEndedNotAtTheCaret) {
    console_print("first\r\n");
    /* The user types at the end; output still lands above the typing. */
    int end = (int)harness_window_text(app.gui.panes[PANE_CONSOLE].edit).size();
    SendMessageA(app.gui.panes[PANE_CONSOLE].edit, EM_SETSEL, end, end);
    SendMessageA(app.gui.panes[PANE_CONSOLE].edit, EM_REPLACESEL, FALSE, (LPARAM) "typed");
    console_print("second\r\n");
    EXPECT_EQ(harness_window_text(app.gui.panes[PANE_CONSOLE].edit), "first\r\nsecond\r\ntyped");
}

TEST_F(PaneTest, OverlongMessageIsCutToTheFormatBuffer) {
    std::string big(70000, 'z');
    int length = console_print("%s", big.c_str());
    EXPECT_EQ(length, PANE_FORMAT_SIZE - 1);
    /* 63,999 characters: 533 full lines shown, 39 held back. */
    EXPECT_EQ(lines().size(), 533u);
}

TEST_F(PaneTest, NoConsoleMeansNothingPrinted) {
    SendMessageA(app.gui.frame_window, WM_COMMAND, IDM_CLOSE_ALL, 0);
    harness_pump(10);
    EXPECT_EQ(app.gui.panes[PANE_CONSOLE].edit, (HWND)0);
    EXPECT_EQ(console_print("lost\r\n"), 0);
    EXPECT_EQ(reader_print("lost\r\n"), 0);
}

namespace {

/* A frame with a Console that greets; workers print, this thread pumps. */
class PaneThreads : public testing::Test {
  protected:
    void SetUp() override {
        pane_frame_open();
    }
    void TearDown() override {
        harness_frame_close();
    }
};

} // namespace

namespace {
std::atomic<int> workers_done;
bool workers_finished() {
    return workers_done.load() == 4;
}
int gui_ticks;
void CALLBACK gui_print_tick(HWND, UINT, UINT_PTR, DWORD) {
    if (gui_ticks < 50)
        console_print("gui %d\r\n", gui_ticks++);
}
/* The GUI thread prints a line every millisecond while workers print. */
UINT_PTR gui_printer_start() {
    workers_done = 0;
    gui_ticks = 0;
    return SetTimer(NULL, 0, 1, gui_print_tick);
}
} // namespace

TEST_F(PaneThreads, ThreadsPrintingAtOnceLoseNoLineAndNeverMixTwo) {
    UINT_PTR timer = gui_printer_start();
    std::thread workers[4];
    for (int t = 0; t < 4; t++)
        workers[t] = std::thread([t] {
            for (int i = 0; i < 120; i++)
                console_print("worker %d line %d\r\n", t, i);
            workers_done++;
        });
    ASSERT_TRUE(harness_pump_until(workers_finished, 60000));
    for (auto &w : workers)
        w.join();
    harness_pump(100);
    KillTimer(NULL, timer);

    std::set<std::string> shown;
    int last[4] = {-1, -1, -1, -1};
    for (const std::string &line : harness_lines(app.gui.panes[PANE_CONSOLE].edit)) {
        EXPECT_TRUE(shown.insert(line).second) << "twice: " << line;
        int t, i;
        char tail;
        if (sscanf(line.c_str(), "worker %d line %d%c", &t, &i, &tail) == 2) {
            EXPECT_EQ(i, last[t] + 1) << "out of order: " << line;
            last[t] = i;
        } else if (line != "Console is Ready ...") {
            EXPECT_EQ(sscanf(line.c_str(), "gui %d%c", &i, &tail), 1) << "mixed: " << line;
        }
    }
    for (int t = 0; t < 4; t++)
        EXPECT_EQ(last[t], 119) << "worker " << t;
    EXPECT_EQ(shown.size(), 1u + 480u + (size_t)gui_ticks);
}

TEST_F(PaneThreads, HeavyPrintingThroughRebuildsNeverDeadlocks) {
    harness_reader_open();
    UINT_PTR timer = gui_printer_start();
    std::thread workers[4];
    for (int t = 0; t < 4; t++)
        workers[t] = std::thread([t] {
            for (int i = 0; i < 1500; i++) {
                if (t % 2)
                    console_print("worker %d line %d\r\n", t, i);
                else
                    reader_print("worker %d line %d\r\n", t, i);
            }
            workers_done++;
        });
    ASSERT_TRUE(harness_pump_until(workers_finished, 120000));
    for (auto &w : workers)
        w.join();
    KillTimer(NULL, timer);
    pane_flush(PANE_READER);
    /* The last line of each reader-pane worker is there (the reader window's
       own status lines may follow it). */
    auto reader = harness_lines(app.gui.panes[PANE_READER].edit);
    ASSERT_FALSE(reader.empty());
    EXPECT_LE(reader.size(), 599u);
    bool last_seen = false;
    for (const std::string &line : reader)
        last_seen |= line == "worker 0 line 1499" || line == "worker 2 line 1499";
    EXPECT_TRUE(last_seen);
}

TEST_F(PaneThreads, TinyQueueMakesWritersWaitButLosesNothing) {
    /* One record at a time: every print after the first waits for a drain. */
    app.gui.panes[PANE_CONSOLE].queue_limit = 48;
    workers_done = 0;
    std::thread workers[4];
    for (int t = 0; t < 4; t++)
        workers[t] = std::thread([t] {
            for (int i = 0; i < 70; i++)
                console_print("worker %d print %d a\r\nworker %d print %d b\r\n", t, i, t, i);
            workers_done++;
        });
    ASSERT_TRUE(harness_pump_until(workers_finished, 60000));
    for (auto &w : workers)
        w.join();

    auto shown = harness_lines(app.gui.panes[PANE_CONSOLE].edit);
    ASSERT_EQ(shown.size(), 1u + 4 * 70 * 2);
    EXPECT_EQ(shown[0], "Console is Ready ...");
    int next[4] = {0, 0, 0, 0};
    for (size_t k = 1; k < shown.size(); k += 2) {
        int t = -1, i = -1;
        ASSERT_EQ(sscanf(shown[k].c_str(), "worker %d print %d a", &t, &i), 2) << shown[k];
        ASSERT_TRUE(t >= 0 && t < 4);
        EXPECT_EQ(i, next[t]++) << "out of order: " << shown[k];
        /* The two lines of one print stay together. */
        EXPECT_EQ(shown[k + 1],
                  "worker " + std::to_string(t) + " print " + std::to_string(i) + " b");
    }
    for (int t = 0; t < 4; t++)
        EXPECT_EQ(next[t], 70) << "worker " << t;
}

namespace {
WNDPROC counted_proc;
int edit_updates;
LRESULT CALLBACK count_updates(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == EM_REPLACESEL || message == WM_SETTEXT)
        edit_updates++;
    return CallWindowProcA(counted_proc, window, message, wparam, lparam);
}
bool edit_updated() {
    return edit_updates > 0;
}
std::string pane_text_unflushed() {
    HWND edit = app.gui.panes[PANE_CONSOLE].edit;
    std::string text((size_t)GetWindowTextLengthA(edit) + 1, '\0');
    GetWindowTextA(edit, &text[0], (int)text.size());
    text.resize(strlen(text.c_str()));
    return text;
}
} // namespace

/* 1,000 prints made while the GUI thread is busy pass two rebuilds; they
   reach the control in one update that shows what line-by-line insertion
   would. A print after that shows promptly. */
TEST_F(PaneThreads, BurstIsShownWithOneUpdateOfTheControl) {
    HWND edit = app.gui.panes[PANE_CONSOLE].edit;
    SetWindowTextA(edit, "");
    pane_reset(PANE_CONSOLE);
    edit_updates = 0;
    counted_proc = (WNDPROC)SetWindowLongPtrA(edit, GWLP_WNDPROC, (LONG_PTR)count_updates);
    std::thread worker([] {
        for (int i = 1; i <= 1000; i++)
            console_print("message %d\r\n", i);
    });
    worker.join();
    EXPECT_EQ(pane_text_unflushed(), "");
    ASSERT_TRUE(harness_pump_until(edit_updated, 2000));
    harness_pump(50);
    EXPECT_EQ(edit_updates, 1);
    std::string expected;
    for (int i = 601; i <= 1000; i++)
        expected += "message " + std::to_string(i) + "\r\n";
    EXPECT_EQ(pane_text_unflushed(), expected);

    std::thread late([] { console_print("last\r\n"); });
    late.join();
    DWORD start = GetTickCount();
    static const std::string *want = nullptr;
    std::string with_last = expected + "last\r\n";
    want = &with_last;
    ASSERT_TRUE(harness_pump_until([] { return pane_text_unflushed() == *want; }, 2000));
    EXPECT_LE(GetTickCount() - start, 100u);
    SetWindowLongPtrA(edit, GWLP_WNDPROC, (LONG_PTR)counted_proc);
}

/* GUI-thread prints join the queue behind the workers': nothing shows
   before the drain, which shows every print in the order made (a line
   opened by a worker and ended by the GUI thread included) in one update. */
TEST_F(PaneThreads, GuiAndWorkerPrintsShowInTheOrderMadeInOneUpdate) {
    HWND edit = app.gui.panes[PANE_CONSOLE].edit;
    static std::atomic<int> turn;
    turn = 2; /* the worker's first prints go first */
    std::thread worker([] {
        for (int i = 1; i <= 3; i++)
            EXPECT_EQ(console_print("queued %d\r\n", i), 10);
        console_print("open ");
        turn = 0;
        for (int i = 0; i < 4; i++) {
            while (turn != 1)
                Sleep(0);
            console_print("worker %d\r\n", i);
            turn = 0;
        }
    });
    edit_updates = 0;
    counted_proc = (WNDPROC)SetWindowLongPtrA(edit, GWLP_WNDPROC, (LONG_PTR)count_updates);
    std::string expected = "Console is Ready ...\r\nqueued 1\r\nqueued 2\r\nqueued 3\r\nopen ";
    for (int i = 0; i < 4; i++) {
        while (turn != 0)
            Sleep(0);
        console_print("gui %d\r\n", i);
        expected += "gui " + std::to_string(i) + "\r\nworker " + std::to_string(i) + "\r\n";
        turn = 1;
    }
    worker.join();
    EXPECT_EQ(pane_text_unflushed(), "Console is Ready ...\r\n");
    ASSERT_TRUE(harness_pump_until(edit_updated, 2000));
    harness_pump(50);
    EXPECT_EQ(edit_updates, 1);
    EXPECT_EQ(pane_text_unflushed(), expected);
    SetWindowLongPtrA(edit, GWLP_WNDPROC, (LONG_PTR)counted_proc);
}

/* After a costly update the next one waits longer than the shortest pace;
   a print that comes during that longer wait still shows once it is over. */
TEST_F(PaneThreads, PrintDuringALongPaceShowsWhenThePaceEnds) {
    PaneState *p = &app.gui.panes[PANE_CONSOLE];
    pane_flush(PANE_CONSOLE);
    harness_pane_clear(p->edit, PANE_CONSOLE);
    p->pace_ms = PANE_PACE_MAX_MS;
    p->shown_tick = GetTickCount() - 3 * PANE_PACE_MS; /* past the shortest pace */
    DWORD start = GetTickCount();
    std::thread late([] { console_print("after a slow update\r\n"); });
    late.join();
    ASSERT_TRUE(harness_pump_until(
        [] { return pane_text_unflushed() == "after a slow update\r\n"; }, 2000));
    EXPECT_LE(GetTickCount() - start, (DWORD)PANE_PACE_MAX_MS + 100);
}

TEST_F(PaneThreads, ClosingTheConsoleWhileWorkersPrintDropsTheirText) {
    app.gui.panes[PANE_CONSOLE].queue_limit = 64; /* some are waiting at the close */
    std::atomic<bool> closed(false), stop(false);
    std::atomic<int> printed_after_close(0);
    workers_done = 0;
    std::thread workers[4];
    for (int t = 0; t < 4; t++)
        workers[t] = std::thread([&, t] {
            for (int i = 0; !stop; i++) {
                bool after = closed;
                if (console_print("worker %d line %d\r\n", t, i) != 0 && after)
                    printed_after_close++;
            }
            workers_done++;
        });
    harness_pump(100);
    SendMessageA(app.gui.mdi_client, WM_MDIDESTROY, (WPARAM)app.gui.panes[PANE_CONSOLE].window, 0);
    closed = true;
    harness_pump(50);
    stop = true;
    ASSERT_TRUE(harness_pump_until(workers_finished, 5000)) << "a writer was left waiting";
    for (auto &w : workers)
        w.join();
    EXPECT_EQ(printed_after_close, 0);
    /* A reopened Console starts empty, with its greeting only. */
    SendMessageA(app.gui.frame_window, WM_COMMAND, IDM_NEW_CONSOLE, 0);
    harness_pump(50);
    EXPECT_EQ(harness_window_text(app.gui.panes[PANE_CONSOLE].edit), "Console is Ready ...\r\n");
}

TEST_F(PaneThreads, QuittingWhileAWriterWaitsOnAFullQueueEndsPromptly) {
    app.gui.panes[PANE_CONSOLE].queue_limit = 64;
    std::atomic<bool> done(false);
    std::atomic<int> last_result(-1);
    std::thread writer([&] {
        for (int i = 0; i < 100; i++)
            last_result = console_print("line %d of a writer nobody drains\r\n", i);
        done = true;
    });
    Sleep(200); /* no pumping: the queue fills and the writer waits */
    EXPECT_FALSE(done);
    DWORD start = GetTickCount();
    PostMessageA(app.gui.frame_window, WM_CLOSE, 0, 0);
    static std::atomic<bool> *finished = nullptr;
    finished = &done;
    bool ended = harness_pump_until([] { return finished->load(); }, 5000);
    DWORD took = GetTickCount() - start;
    writer.join();
    EXPECT_TRUE(ended);
    EXPECT_LE(took, 1000u);
    EXPECT_FALSE(IsWindow(app.gui.frame_window));
    EXPECT_EQ(last_result, 0) << "the writer's text after the close is dropped";
}
