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
        {},                                      // no script
        {"-c"},                                  // options but no script
        {"-r"},                                  // missing reader
        {"-r", "Reader A"},                      // reader but no script
        {"-w"},                                  // missing seconds
        {"-w", "s.txt"},                         // seconds not a number, no script left
        {"-w", "-1", "s.txt"},                   // negative
        {"-w", "3x", "s.txt"},                   // trailing garbage
        {"-w", "", "s.txt"},                     // empty value
        {"-w", "86401", "s.txt"},                // over a day
        {"-w", "99999999999999999999", "s.txt"}, // would overflow
        {"-x", "s.txt"},                         // unknown option
        {"-cr", "R", "s.txt"},                   // options are not bundled
        {"--help"},
        {"-", "s.txt"},      // a lone dash is no option
        {"-r", "", "s.txt"}, // empty reader name
        {"s.txt", ""},       // empty script name
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
    EXPECT_EQ(args.reader, nullptr);
    EXPECT_EQ(args.wait_seconds, 0);
    EXPECT_EQ(args.console, 0);
    EXPECT_EQ(args.first_script, 1);
    EXPECT_EQ(args.script_count, 1);

    ASSERT_EQ(parse({"-r", "Virtual PCD 00 01", "-w", "86400", "-c", "a.txt", "b.txt"}, &args), 1);
    EXPECT_STREQ(args.reader, "Virtual PCD 00 01");
    EXPECT_EQ(args.wait_seconds, 86400);
    EXPECT_EQ(args.console, 1);
    EXPECT_EQ(args.first_script, 6);
    EXPECT_EQ(args.script_count, 2);

    // The first script ends the options: later dashes are script names.
    ASSERT_EQ(parse({"-w", "0", "a.txt", "-c"}, &args), 1);
    EXPECT_EQ(args.console, 0);
    EXPECT_EQ(args.script_count, 2);

    // "--" lets a script's name start with a dash; the last -r wins.
    ASSERT_EQ(parse({"-r", "0", "-r", "1", "--", "-odd.txt"}, &args), 1);
    EXPECT_STREQ(args.reader, "1");
    EXPECT_EQ(args.first_script, 6);
    EXPECT_EQ(args.script_count, 1);

    // A reader name of any length is kept as given, not copied.
    std::string long_name(5000, 'R');
    ASSERT_EQ(parse({"-r", long_name.c_str(), "a.txt"}, &args), 1);
    EXPECT_EQ(args.reader, long_name.c_str());
}

TEST(RunArgs, ReaderIndex) {
    int index = -1;
    EXPECT_EQ(run_reader_index("0", &index), 1);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(run_reader_index("12", &index), 1);
    EXPECT_EQ(index, 12);
    for (const char *text : {"", "-1", "+1", "1 ", "0x1", "Virtual PCD 00 00", "99999999999"})
        EXPECT_EQ(run_reader_index(text, &index), 0) << text;
}
