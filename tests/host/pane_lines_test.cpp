/*
 * pane_lines_test.cpp: the pane's line discipline without an edit control.
 * The exact rules are pinned on small cases; then random print sequences,
 * shown in batches of every size, must leave the control with the text
 * that line-by-line insertion leaves (tests/pane_lines_reference.h).
 */
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/pane_lines_reference.h"

namespace {

/* The shown text after each print is shown at once. */
std::string shown_after(const std::vector<std::string> &prints) {
    BatchedPane pane;
    bool restored;
    for (const std::string &text : prints) {
        pane.print(text, &restored);
        pane.show();
    }
    return pane.edit.text;
}

std::string numbered(int from, int to) {
    std::string text;
    for (int i = from; i <= to; i++)
        text += "message " + std::to_string(i) + "\r\n";
    return text;
}

} // namespace

TEST(PaneLines, ExactRulesOfTheDiscipline) {
    std::string q120(120, 'q'), w119(119, 'w');
    struct Case {
        const char *what;
        std::vector<std::string> prints;
        std::string shown;
    } cases[] = {
        {"partial lines join", {"abc", "def\r\n"}, "abcdef\r\n"},
        {"nothing shown until complete", {"abc"}, ""},
        {"250 characters: two lines, 10 held",
         {std::string(250, 'a')},
         std::string(120, 'a') + "\r\n" + std::string(120, 'a') + "\r\n"},
        {"120 then LF: an empty line follows", {q120 + "\n"}, q120 + "\r\n\r\n"},
        {"119 then CR LF: the CR is the 120th", {w119 + "\r\n"}, w119 + "\r\r\n\r\n"},
        {"CR and LF in two prints keep the CR", {"x\r", "\n"}, "x\r\r\n"},
        {"LF only ends a line too", {"a\nb\n"}, "a\r\nb\r\n"},
        {"lone CR stays", {"a\rb\r\n"}, "a\rb\r\n"},
        {"text after a NUL is ignored", {std::string("ab\0cd\n", 6), "\n"}, "ab\r\n"},
        {"open line continues across prints and wraps",
         {std::string(100, 'x'), std::string(30, 'y')},
         std::string(100, 'x') + std::string(20, 'y') + "\r\n"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(shown_after(c.prints), c.shown) << c.what;
}

TEST(PaneLines, RebuildKeepsTheNewestLinesAndThePartialLine) {
    std::string full = numbered(1, 599);
    EXPECT_EQ(shown_after({full}), full) << "599 lines stay";
    EXPECT_EQ(shown_after({numbered(1, 600)}), numbered(301, 600));
    EXPECT_EQ(shown_after({numbered(1, 899)}), numbered(301, 899));
    EXPECT_EQ(shown_after({numbered(1, 900)}), numbered(601, 900));
    /* The open partial line survives a rebuild and completes after it. */
    EXPECT_EQ(shown_after({numbered(1, 599), "message 600\r\npart", "ial\n"}),
              numbered(301, 600) + "partial\r\n");
}

TEST(PaneLines, ReturnsTheGivenLengthAndPutsBackWhatItSplit) {
    BatchedPane pane;
    bool restored = false;
    std::string text = std::string(130, 'k') + "\r\nmid\rdle\n" + std::string(250, 'z');
    EXPECT_EQ(pane.print(text, &restored), (int)text.size());
    EXPECT_TRUE(restored);
    EXPECT_TRUE(pane.consistent());
}

/* Random prints in random batches against the line-by-line model. The
   alphabet favours line ends, long runs and NULs, where the rules bite;
   the user sometimes types at the end of the control. */
TEST(PaneLines, BatchedDisplayEqualsLineByLineInsertion) {
    std::mt19937 random(20240611);
    for (int round = 0; round < 60; round++) {
        ReferencePane reference;
        BatchedPane batched;
        int prints = 200 + (int)(random() % 1800);
        int batch_left = 1 + (int)(random() % 700);
        for (int k = 0; k < prints; k++) {
            std::string text;
            int length = (int)(random() % (random() % 8 == 0 ? 400 : 40));
            for (int i = 0; i < length; i++) {
                unsigned pick = random() % 20;
                text += pick < 3                         ? '\n'
                        : pick < 5                       ? '\r'
                        : pick == 5 && random() % 8 == 0 ? '\0'
                                                         : 'a' + (char)(pick);
            }
            bool restored = false;
            reference.print(text);
            ASSERT_EQ(batched.print(text, &restored), (int)text.size());
            ASSERT_TRUE(restored) << "round " << round << " print " << k;
            if (--batch_left == 0 || k == prints - 1) {
                batched.show();
                ASSERT_EQ(batched.edit.text, reference.edit.text)
                    << "round " << round << " after print " << k;
                ASSERT_TRUE(batched.consistent());
                if (random() % 10 == 0) {
                    batched.edit.type_at_end("typed");
                    reference.edit.type_at_end("typed");
                }
                batch_left = 1 + (int)(random() % 700);
            }
        }
    }
}
