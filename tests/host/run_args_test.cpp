/*
 * run_args_test.cpp: vorlane-run's command line: what is a usage error and
 * what each accepted line asks for.
 */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/run_args.h"

namespace {

int parse(std::vector<const char *> words, RunArgs *args) {
    words.insert(words.begin(), "vorlane-run");
    return run_args_parse((int)words.size(), words.data(), args);
}

} // namespace

TEST(RunArgs, UsageErrors) {
    const std::vector<std::vector<const char *>> bad = {
        {},
        {"-c"},
        {"-r"},
        {"-r", "R"},
        {"-w"},
        {"-w", "s.txt"},
        {"-w", "-1", "s.txt"},
        {"-w", "3x", "s.txt"},
        {"-w", "", "s.txt"},
        {"-w", "86401", "s.txt"},
        {"-w", "99999999999999999999", "s.txt"},
        {"-y", "s.txt"},
        {"-cr", "R", "s.txt"},
        {"--junit"},
        {"--junit", "", "s.txt"},
        {"--junit", "r.xml"},
        {"-r", "", "s.txt"},
        {"s.txt", ""},
        {"--each-card=0", "s.txt"},
        {"--each-card=", "s.txt"},
        {"--each-card=2x", "s.txt"},
        {"--each-card=1073741825", "s.txt"},
        {"--each-cards", "s.txt"},
        {"--ignore"},
        {"--ignore", "", "s.txt"},
        {"--output-dir", "", "s.txt"},
        {"--all"},
        {"--atr=", "s.txt"},
        {"--atr", "s.txt"},
        {"--atr", "--each-card"},
        {"--list", "s.txt"},
        {"--list", "--atr"},
        {"--list", "--each-card"},
        {"--cap-info"},
        {"--cap-info", "a.cap", ""},
        {"--list", "--cap-info", "a.cap"},
        {"--atr", "--cap-info", "a.cap"},
        {"--each-card", "--cap-info", "a.cap"},
        {"--record", "r.txt", "--cap-info", "a.cap"},
        {"--replay", "g.txt", "--cap-info", "a.cap"},
    };
    for (const auto &words : bad) {
        RunArgs args;
        std::string line;
        for (const char *w : words)
            line += std::string("[") + w + "] ";
        EXPECT_EQ(parse(words, &args), 0) << line;
    }
}

TEST(RunArgs, AcceptedLines) {
    RunArgs args;
    ASSERT_EQ(parse({"a.txt"}, &args), 1);
    EXPECT_TRUE(args.reader_count == 0 && args.wait_seconds == 0 && args.console == 0);
    EXPECT_TRUE(args.first_script == 1 && args.script_count == 1 && args.list == 0);
    ASSERT_EQ(parse({"--list"}, &args), 1);
    EXPECT_TRUE(args.list == 1 && args.script_count == 0);

    ASSERT_EQ(parse({"-r", "Virtual PCD 00 01", "-w", "86400", "-c", "a.txt", "b.txt"}, &args), 1);
    ASSERT_EQ(args.reader_count, 1);
    EXPECT_STREQ(args.readers[0], "Virtual PCD 00 01");
    EXPECT_TRUE(args.wait_seconds == 86400 && args.console == 1);
    EXPECT_TRUE(args.first_script == 6 && args.script_count == 2);

    // The first script ends the options; "--" lets a name start with a dash.
    ASSERT_EQ(parse({"a.txt", "-c"}, &args), 1);
    EXPECT_TRUE(args.console == 0 && args.script_count == 2);
    ASSERT_EQ(parse({"-r", "0", "-r", "1", "--", "-odd.txt"}, &args), 1);
    ASSERT_EQ(args.reader_count, 2); // each -r is kept
    EXPECT_STREQ(args.readers[1], "1");
    EXPECT_TRUE(args.first_script == 6 && args.script_count == 1);

    // "-" alone is a script (standard input), wherever it stands.
    ASSERT_EQ(parse({"--junit", "r.xml", "-", "s.txt"}, &args), 1);
    EXPECT_STREQ(args.junit, "r.xml");
    EXPECT_TRUE(args.first_script == 3 && args.script_count == 2);
}

TEST(RunArgs, SeveralReadersAndTheCardLine) {
    RunArgs args;
    ASSERT_EQ(parse({"-r", "a", "-r", "b", "--all", "--ignore", "x", "--ignore", "y",
                     "--each-card=5", "--output-dir", "d", "s.txt"},
                    &args),
              1);
    ASSERT_EQ(args.reader_count, 2);
    EXPECT_STREQ(args.readers[1], "b");
    ASSERT_EQ(args.ignore_count, 2);
    EXPECT_STREQ(args.ignores[1], "y");
    EXPECT_TRUE(args.all && args.each_card && args.card_limit == 5);
    EXPECT_STREQ(args.output_dir, "d");
    ASSERT_EQ(parse({"--each-card", "s.txt"}, &args), 1);
    EXPECT_TRUE(args.each_card && args.card_limit == 0);

    // Explaining: -x with scripts; --atr without any.
    ASSERT_EQ(parse({"-x", "--explain", "s.txt"}, &args), 1);
    EXPECT_TRUE(args.explain && !args.atr);
    ASSERT_EQ(parse({"--atr", "-r", "1"}, &args), 1);
    EXPECT_TRUE(args.atr && args.atr_hex == nullptr && args.script_count == 0);
    ASSERT_EQ(parse({"--atr=3B 00"}, &args), 1);
    EXPECT_STREQ(args.atr_hex, "3B 00");

    // --cap-info: every word after it is a file, options included.
    ASSERT_EQ(parse({"-c", "--cap-info", "a.cap", "--list", "-"}, &args), 1);
    EXPECT_TRUE(args.cap_info && !args.list && args.first_script == 3 && args.script_count == 3);
    ASSERT_EQ(parse({"--", "--cap-info"}, &args), 1);
    EXPECT_TRUE(!args.cap_info && args.script_count == 1);

    // 64 -r words are kept; a 65th is a usage error, not a lost reader.
    std::vector<const char *> words;
    for (int i = 0; i < RUN_WORDS_MAX; i++) {
        words.push_back("-r");
        words.push_back("R");
    }
    words.push_back("s.txt");
    EXPECT_EQ(parse(words, &args), 1);
    words.insert(words.begin(), {"-r", "R"});
    EXPECT_EQ(parse(words, &args), 0);
}

TEST(RunArgs, ReaderIndex) {
    int index = -1;
    EXPECT_TRUE(run_reader_index("0", &index) && index == 0);
    EXPECT_TRUE(run_reader_index("12", &index) && index == 12);
    for (const char *text : {"", "-1", "+1", "1 ", "0x1", "Virtual PCD 00 00", "99999999999"})
        EXPECT_EQ(run_reader_index(text, &index), 0) << text;
}
