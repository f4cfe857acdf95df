/*
 * pane_stream_test.cpp: the panes' prints written to a stream, as the
 * command-line runner uses them: the pane's line ends without its wrap or
 * line limit, each pane to its own stream, whole prints across threads.
 */
#include <gtest/gtest.h>

#include <stdio.h>

#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "console/console.h"
#include "console/pane_streams.h"
#include "tests/stream_read.h"

namespace {

/* The record a runner would hold, attached for these tests alone. */
PaneStreams test_streams;

void streams_attach(void) {
    pane_streams_attach(&test_streams);
}

std::string stream_text(const std::string &text) {
    std::vector<char> out(2 * text.size() + 1);
    return std::string(out.data(),
                       (size_t)pane_stream_text(text.data(), (int)text.size(), out.data()));
}

} // namespace

TEST(PaneStream, LinesEndAsThePanesDo) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"abc", "abc"},         {"a\n", "a\r\n"},
        {"a\r\n", "a\r\n"},     {"x\r", "x\r"},
        {"a\rb\n", "a\rb\r\n"}, {"a\r\r\n", "a\r\r\n"},
        {"\n\n", "\r\n\r\n"},   {std::string("ab\0c\n", 5), "ab"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(stream_text(c.first), c.second) << c.first;
    std::string wide(300, 'x');
    EXPECT_EQ(stream_text(wide + "\n"), wide + "\r\n") << "no wrap at 120";
}

TEST(PaneStream, EachPaneToItsStreamThenNowhere) {
    FILE *reader = tmpfile(), *console = tmpfile();
    ASSERT_TRUE(reader && console);
    streams_attach();
    pane_stream_open(0, reader, 0, -1);
    pane_stream_open(1, console, 0, -1);
    EXPECT_EQ(reader_print("Time: %d ms\n", 12), 12);
    EXPECT_EQ(console_print("%03d: %s\r\n", 7, "00A4"), 11);
    for (int i = 0; i < 700; i++)
        reader_print("line %d\r\n", i);
    pane_stream_end(1);
    app.gui.panes[1].edit = 0;
    EXPECT_EQ(console_print("dropped\r\n"), 0);
    std::string text = stream_read_all(reader);
    EXPECT_EQ(text.substr(0, 21), "Time: 12 ms\r\nline 0\r\n") << "no 600-line limit";
    EXPECT_NE(text.find("line 699\r\n"), std::string::npos);
    EXPECT_EQ(stream_read_all(console), "007: 00A4\r\n");
    pane_stream_end(0);
    pane_streams_attach(0);
    fclose(reader);
    fclose(console);
}

TEST(PaneStream, ThreadsPrintWholeLines) {
    FILE *reader = tmpfile();
    ASSERT_TRUE(reader);
    streams_attach();
    pane_stream_open(0, reader, 0, -1);
    auto printer = [](char c) {
        for (int i = 0; i < 300; i++)
            reader_print("%s\n", std::string(200, c).c_str());
    };
    std::thread a(printer, 'a'), b(printer, 'b');
    a.join();
    b.join();
    pane_stream_end(0);
    pane_streams_attach(0);
    std::string text = stream_read_all(reader);
    fclose(reader);
    ASSERT_EQ(text.size(), 600u * 202u);
    for (size_t at = 0; at < text.size(); at += 202)
        ASSERT_EQ(text.substr(at, 202), std::string(200, text[at]) + "\r\n") << "at " << at;
}
