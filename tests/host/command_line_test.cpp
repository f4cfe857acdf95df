/*
 * command_line_test.cpp: the "-s" and "-n" options.
 */
#include <gtest/gtest.h>

#include <string>

#include "app/command_line.h"

struct Parsed {
    std::string script;
    int network;
    int refused;
};

static Parsed parse(const char *text) {
    char name[256] = "scriptdefault.txt";
    Parsed p{};
    p.refused = command_line_parse(text, name, sizeof name, &p.network);
    p.script = name;
    return p;
}

TEST(CommandLine, ScriptOption) {
    EXPECT_EQ(parse("").script, "scriptdefault.txt");
    EXPECT_EQ(parse("-s my.txt").script, "my.txt");
    EXPECT_EQ(parse("-s a -s b").script, "b");
    EXPECT_EQ(parse("-s -s b").script, "b");
    EXPECT_EQ(parse("-s").script, "scriptdefault.txt");
    EXPECT_EQ(parse("x.txt -s").script, "scriptdefault.txt");
    EXPECT_EQ(parse("-S a").script, "scriptdefault.txt");
    EXPECT_EQ(parse("-sa").script, "scriptdefault.txt");
    EXPECT_EQ(parse("  -s \r\n  far.txt  ").script, "far.txt");
}

TEST(CommandLine, TabsAndQuotesAreOrdinaryCharacters) {
    EXPECT_EQ(parse("-s a\tb").script, "a\tb");
    EXPECT_EQ(parse("-s \"my").script, "\"my");
    EXPECT_EQ(parse("-s\tx").script, "scriptdefault.txt");
}

TEST(CommandLine, OverlongNameIsRefusedWhole) {
    std::string fits(255, 'f');
    Parsed p = parse(("-s " + fits).c_str());
    EXPECT_EQ(p.script, fits);
    EXPECT_EQ(p.refused, 0);
    std::string too_long(256, 'g');
    p = parse(("-s " + too_long).c_str());
    EXPECT_EQ(p.script, "scriptdefault.txt");
    EXPECT_EQ(p.refused, 1);
    /* A later name that fits still counts. */
    p = parse(("-s " + too_long + " -s ok.txt").c_str());
    EXPECT_EQ(p.script, "ok.txt");
}

TEST(CommandLine, NetworkSwitch) {
    EXPECT_EQ(parse("").network, 0);
    EXPECT_EQ(parse("-n").network, 1);
    EXPECT_EQ(parse("-s x -n").network, 1);
    /* Right after "-s", "-n" is the script's name. */
    Parsed p = parse("-s -n");
    EXPECT_EQ(p.network, 0);
    EXPECT_EQ(p.script, "-n");
    EXPECT_EQ(parse("-N").network, 0);
}
