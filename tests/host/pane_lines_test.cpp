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

/* The traps the Win32 pane tests do not reach through console_print. */
TEST(PaneLines, ExactRulesAtTheEdges) {
    std::string w119(119, 'w');
    struct Case {
        const char *what;
        std::vector<std::string> prints;
        std::string shown;
    } cases[] = {
        {"119 then CR LF: the CR is the 120th", {w119 + "\r\n"}, w119 + "\r\r\n\r\n"},
        {"lone CR stays, LF alone ends a line", {"a\rb\r\nc\n"}, "a\rb\r\nc\r\n"},
        {"text after a NUL is ignored", {std::string("ab\0cd\n", 6), "\n"}, "ab\r\n"},
        {"the open line continues across prints and wraps",
         {std::string(100, 'x'), std::string(30, 'y')},
         std::string(100, 'x') + std::string(20, 'y') + "\r\n"},
        {"the open partial line survives a rebuild",
         {numbered(1, 599), "message 600\r\npart", "ial\n"},
         numbered(301, 600) + "partial\r\n"},
        {"a second rebuild keeps the newest lines again", {numbered(1, 900)}, numbered(601, 900)},
    };
    for (const Case &c : cases)
        EXPECT_EQ(shown_after(c.prints), c.shown) << c.what;
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
