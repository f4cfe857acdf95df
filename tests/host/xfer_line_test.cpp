/*
 * xfer_line_test.cpp: the parts of the exchange line and statistics that the
 * card tests cannot reach: empty responses, the cleared slots, the clock
 * arithmetic and totals that would overflow. (The exact line, its
 * averages and the hour wrap are pinned on the card in
 * transmit_card_test.cpp.)
 */
#include <gtest/gtest.h>

#include <limits.h>
#include <string.h>

#include <string>
#include <vector>

#include "card/xfer_line.h"

namespace {

struct Stats {
    XferStat slots[2];
    int next = 0;
    Stats() {
        memset(slots, 0, sizeof slots);
    }
};

/* One exchange through the pure steps, as card_transmit strings them. */
std::string exchange(Stats &stats, int *total, int number, std::vector<unsigned char> command,
                     std::vector<unsigned char> response, int start, int end) {
    unsigned char header[XFER_HEADER_SIZE], status_word[2];
    char line[XFER_LINE_SIZE];
    int average;
    int header_length = xfer_header_copy(header, command.data(), (int)command.size());
    int received = (int)response.size();
    int elapsed = xfer_elapsed_ms(start, end);
    *total = xfer_add_ms(*total, elapsed);
    xfer_status_word(status_word, response.data(), received);
    int slot = xfer_stats_record(stats.slots, &stats.next, header, status_word, elapsed, &average);
    int used =
        xfer_line_head(line, sizeof line, number, header, header_length, response.data(), received);
    xfer_line_tail(line, sizeof line, used, elapsed, end, start, *total, slot, average);
    return line;
}

} // namespace

TEST(XferLine, ShortResponsesShowTheLengthErrorAndKeyAs0000) {
    Stats stats;
    int total = 0;
    EXPECT_EQ(exchange(stats, &total, 7, {0x80, 0xF0, 0x00, 0x01}, {0x90}, 100, 105),
              "007: 80F00001LengthError= 1\r\n     5 ms =    105 -    100 Total:      5 <0:>\r\n");
    EXPECT_EQ(stats.slots[0].status_word[0], 0);
    EXPECT_EQ(stats.slots[0].status_word[1], 0);
    /* A 4-byte command prints four bytes; its statistics header is padded. */
    EXPECT_EQ(memcmp(stats.slots[0].header, "\x80\xF0\x00\x01\x00", 5), 0);
    /* An empty command answered by nothing is keyed 00..00 / 00 00: it meets
       the still empty slot 1 and is counted there. */
    EXPECT_EQ(exchange(stats, &total, 8, {}, {}, 200, 200),
              "008: LengthError= 0\r\n     0 ms =    200 -    200 Total:      5 <1:0>\r\n");
}

TEST(XferLine, ResetEmptiesCountsButKeepsHeaderBytesOneToFour) {
    Stats stats;
    int total = 0;
    exchange(stats, &total, 1, {0x80, 0xA4, 0x04, 0x00, 0x07}, {0x90, 0x00}, 0, 3);
    stats.next = 1;
    xfer_stats_reset(stats.slots, &stats.next);
    EXPECT_EQ(stats.next, 0);
    EXPECT_EQ(stats.slots[0].count, 0);
    EXPECT_EQ(stats.slots[0].sum_ms, 0);
    /* 00 A4 04 00 07 answered 00 00 now equals what the slot holds. */
    EXPECT_NE(exchange(stats, &total, 2, {0x00, 0xA4, 0x04, 0x00, 0x07}, {0x00, 0x00}, 0, 4)
                  .find("<0:4>"),
              std::string::npos);
}

TEST(XferClock, HourWrapAndMillisecondsWithinTheHour) {
    EXPECT_EQ(xfer_ms_in_hour(1700000000LL, 250), (1700000000LL % 3600) * 1000 + 250);
    int start = xfer_ms_in_hour(3600LL * 5 + 3599, 990);
    int end = xfer_ms_in_hour(3600LL * 6, 5);
    EXPECT_EQ(start, 3599990);
    EXPECT_EQ(end, 5);
    EXPECT_EQ(xfer_elapsed_ms(start, end), 15);
    EXPECT_EQ(xfer_elapsed_ms(500, 500), 0);
    EXPECT_EQ(xfer_ms_in_hour(-1, 0), 3599000);
}

TEST(XferClock, TotalsHoldAtTheLargestInt) {
    EXPECT_EQ(xfer_add_ms(INT_MAX - 5, 10), INT_MAX);
    EXPECT_EQ(xfer_add_ms(3, 4), 7);
    Stats stats;
    stats.slots[0].sum_ms = INT_MAX - 1;
    stats.slots[0].count = 4;
    memcpy(stats.slots[0].header, "\x00\xB0\x00\x00\x10", 5);
    memcpy(stats.slots[0].status_word, "\x90\x00", 2);
    int average;
    unsigned char sw[2] = {0x90, 0x00};
    EXPECT_EQ(xfer_stats_record(stats.slots, &stats.next, stats.slots[0].header, sw, 100, &average),
              0);
    EXPECT_EQ(average, INT_MAX / 5);
}
