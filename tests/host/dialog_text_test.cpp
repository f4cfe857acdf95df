/*
 * dialog_text_test.cpp: what the dialogs read from files and show of a
 * memory chunk, and the checked length and close of the files they use.
 */
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "app/file_io.h"
#include "card/atr_parse.h"
#include "dialogs/dialog_text.h"

TEST(DialogText, MemoryChunkInBothFormatsAndInAShortRoom) {
    const unsigned char data[] = {'A', 0x7F, 0x00, 'z', 0x1F};
    char text[64];
    memory_chunk_text(text, sizeof text, data, 5, 0);
    EXPECT_STREQ(text, "41 7F 00 7A 1F A..z.\r\n");
    memory_chunk_text(text, sizeof text, data, 5, 1);
    EXPECT_STREQ(text, "A\x7F");
    memset(text, '#', sizeof text);
    memory_chunk_text(text, 10, data, 5, 0);
    EXPECT_STREQ(text, "41 7F 00 ");
    EXPECT_EQ(text[10], '#');

    const unsigned char atr[] = {0x3B, 0x8F, 0x80};
    EXPECT_EQ(card_atr_text(text, sizeof text, atr, 3), 29);
    EXPECT_STREQ(text, "Answer to Reset: \r\n 3B 8F 80 ");
    EXPECT_EQ(card_atr_text(text, 24, atr, 3), 23);
    EXPECT_STREQ(text, "Answer to Reset: \r\n 3B ");
}

TEST(DialogText, ApduFileLinesAreMeasuredWholeButKeptToTheRoom) {
    std::string content = "//note\r\n" + std::string(40, 'A') + "\nlast";
    FILE *file = fmemopen((void *)content.data(), content.size(), "r");
    ASSERT_NE(file, nullptr);
    char line[16];
    EXPECT_EQ(command_read_line(file, line, sizeof line), 8u);
    EXPECT_EQ(std::string(line, 8), "//note\r\n");
    EXPECT_EQ(command_read_line(file, line, sizeof line), 41u);
    EXPECT_EQ(std::string(line, sizeof line), std::string(16, 'A'));
    EXPECT_EQ(command_read_line(file, line, sizeof line), 4u);
    EXPECT_EQ(command_read_line(file, line, sizeof line), 0u);
    fclose(file);
}

TEST(FileIo, LengthKeepsThePositionAndShortWritesAreReported) {
    FILE *file = tmpfile();
    ASSERT_NE(file, nullptr);
    fputs("0123456789", file);
    fseek(file, 3, SEEK_SET);
    EXPECT_EQ(file_length(file), 10);
    EXPECT_EQ(ftell(file), 3);
    EXPECT_EQ(file_close_written(file), 0);

    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    FILE *pipe_end = fdopen(ends[0], "r");
    EXPECT_EQ(file_length(pipe_end), -1);
    fclose(pipe_end);
    close(ends[1]);

    FILE *full = fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    fputs("lost", full);
    EXPECT_EQ(file_close_written(full), -1);
}
