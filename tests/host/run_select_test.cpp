/*
 * run_select_test.cpp: which readers a run of vorlane-run takes from the
 * platform's list: names, indexes and fragments, --all, --ignore, readers
 * chosen twice, and when the lines must carry reader numbers.
 */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/run_args.h"
#include "run/run_select.h"

namespace {

const char *const names[] = {"Virtual PCD 00 00", "Virtual PCD 00 01", "1", "ACME Contactless 0",
                             "Laptop Reader"};

struct SelectRow {
    std::vector<const char *> words; /* the options */
    std::vector<int> chosen;         /* indices into names, in order */
    int several;
    std::vector<std::string> unmatched;
};

// clang-format off
const std::vector<SelectRow> select_rows = {
    {{}, {0, 1, 2, 3, 4}, 0, {}},                                // candidates for the first with a card
    {{"-r", "Virtual PCD 00 01"}, {1}, 0, {}},                   // an exact name
    {{"-r", "1"}, {2}, 0, {}},                                   // a name before an index
    {{"-r", "3"}, {3}, 0, {}},                                   // an index
    {{"-r", "pcd"}, {0, 1}, 1, {}},                              // a fragment, either case
    {{"-r", "contactless"}, {3}, 0, {}},                         // a fragment of one name
    {{"-r", "0", "-r", "Virtual PCD 00 00"}, {0}, 1, {}},        // the same reader twice runs once
    {{"-r", "9", "-r", "nothing"}, {}, 1, {"9", "nothing"}},     // words that name no reader
    {{"--all", "--ignore", "LAPTOP", "--ignore", "00 01"}, {0, 2, 3}, 1, {}},
    {{"-r", "pcd", "--ignore", "00 00"}, {1}, 0, {}},            // ignore wins over a fragment
    {{"-r", "4", "--ignore", "laptop"}, {}, 0, {}},              // ... and over an index
    {{"--each-card"}, {0, 1, 2, 3, 4}, 1, {}},                   // the card line takes every reader
};
// clang-format on

} // namespace

TEST(RunSelect, WordsToReaders) {
    for (const SelectRow &row : select_rows) {
        std::vector<const char *> argv = {"vorlane-run"};
        argv.insert(argv.end(), row.words.begin(), row.words.end());
        argv.push_back("s.txt");
        std::string line;
        for (const char *w : row.words)
            line += std::string(w) + " ";
        SCOPED_TRACE(line);
        RunArgs args;
        ASSERT_EQ(run_args_parse((int)argv.size(), argv.data(), &args), 1);
        RunSelection selection;
        run_select(&args, names, 5, &selection);
        EXPECT_EQ(std::vector<int>(selection.chosen, selection.chosen + selection.chosen_count),
                  row.chosen);
        EXPECT_EQ(selection.several, row.several);
        std::vector<std::string> unmatched(selection.unmatched,
                                           selection.unmatched + selection.unmatched_count);
        EXPECT_EQ(unmatched, row.unmatched);
    }
}
