/*
 * pane_stream_test.cpp: the panes' prints written to a stream, as the
 * command-line runner uses them: the text as the pane would show it without
 * its wrap and line limit, the formatted length returned, each pane to its
 * own stream, and whole prints when threads print at once.
 */
#include <gtest/gtest.h>

#include <stdio.h>

#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "console/console.h"

namespace {

std::string stream_text(const std::string &text) {
    std::vector<char> out(2 * text.size() + 1);
    int used = pane_stream_text(text.data(), (int)text.size(), out.data());
    return std::string(out.data(), (size_t)used);
}

std::string file_text(FILE *file) {
    std::string text;
    fflush(file);
    rewind(file);
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, n);
    return text;
}

class PaneStream : public testing::Test {
  protected:
    void SetUp() override {
        reader_ = tmpfile();
        console_ = tmpfile();
        ASSERT_TRUE(reader_ && console_);
    }
    void TearDown() override {
        app.pane_stream[0] = 0;
        app.pane_stream[1] = 0;
        fclose(reader_);
        fclose(console_);
    }
    FILE *reader_ = 0;
    FILE *console_ = 0;
};

} // namespace

TEST(PaneStreamText, LinesEndAsThePanesDo) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"abc", "abc"},                         // an open line stays open
        {"a\n", "a\r\n"},                       // LF alone ends a line
        {"a\r\n", "a\r\n"},                     // CR LF stays one line end
        {"\r\n\r\nEnd\r\n", "\r\n\r\nEnd\r\n"}, // empty lines kept
        {"Time: 5 ms\n", "Time: 5 ms\r\n"},     // the LF-only texts
        {"x\r", "x\r"},                         // a CR before no LF stays
        {"a\rb\n", "a\rb\r\n"},                 // a lone CR inside a line stays
        {"a\r\r\n", "a\r\r\n"},                 // only the CR next to the LF goes
        {std::string("ab\0cd\n", 6), "ab"},     // a NUL ends the text
        {"\n\n", "\r\n\r\n"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(stream_text(c.first), c.second) << c.first;
    std::string wide(300, 'x');
    EXPECT_EQ(stream_text(wide + "\n"), wide + "\r\n") << "no wrap at 120";
}

TEST_F(PaneStream, EachPaneToItsStream) {
    app.pane_stream[0] = reader_;
    app.pane_stream[1] = console_;
    EXPECT_EQ(reader_print("Time: %d ms\n", 12), 12);
    EXPECT_EQ(console_print("%03d: %s\r\n", 7, "00A4"), 11);
    for (int i = 0; i < 700; i++)
        reader_print("line %d\r\n", i);
    std::string reader = file_text(reader_);
    EXPECT_EQ(reader.substr(0, 14), "Time: 12 ms\r\n" + std::string("l"));
    EXPECT_NE(reader.find("line 0\r\n"), std::string::npos) << "no 600-line limit";
    EXPECT_NE(reader.find("line 699\r\n"), std::string::npos);
    EXPECT_EQ(file_text(console_), "007: 00A4\r\n");

    // No stream and no window: the print goes nowhere and returns 0.
    app.pane_stream[1] = 0;
    app.console_edit = 0;
    EXPECT_EQ(console_print("dropped\r\n"), 0);
    EXPECT_EQ(file_text(console_), "007: 00A4\r\n");
}

/* A message longer than the format buffer is cut as the pane cuts it. */
TEST_F(PaneStream, LongMessageIsCut) {
    app.pane_stream[0] = reader_;
    std::string huge(70000, 'y');
    EXPECT_EQ(reader_print("%s", huge.c_str()), PANE_FORMAT_SIZE - 1);
    EXPECT_EQ(file_text(reader_), std::string(PANE_FORMAT_SIZE - 1, 'y'));
}

/* Two threads printing at once never split each other's lines. */
TEST_F(PaneStream, ThreadsPrintWholeLines) {
    app.pane_stream[0] = reader_;
    auto printer = [](char c) {
        std::string line(200, c);
        for (int i = 0; i < 300; i++)
            reader_print("%s\n", line.c_str());
    };
    std::thread a(printer, 'a'), b(printer, 'b');
    a.join();
    b.join();
    std::string text = file_text(reader_);
    ASSERT_EQ(text.size(), 600u * 202u);
    for (size_t at = 0; at < text.size(); at += 202) {
        std::string line = text.substr(at, 202);
        ASSERT_TRUE(line == std::string(200, 'a') + "\r\n" ||
                    line == std::string(200, 'b') + "\r\n")
            << "at " << at;
    }
}
