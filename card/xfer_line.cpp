/*
 * xfer_line.cpp: the Console line of one APDU exchange, its time within the
 * hour and the two-slot statistics that average repeated exchanges.
 *
 * A line reads, for a SELECT answered 90 00 in 16 ms:
 *   001: 00A4040007 9000    16 ms =    916 -    900 Total:     16 <0:>
 * When fewer than two bytes come back the length error ends the first line
 * and the timing part starts the next one.
 */
#include "card/xfer_line.h"

#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

int xfer_ms_in_hour(long long seconds, int milliseconds) {
    long long second_of_hour = seconds % 3600;

    if (second_of_hour < 0)
        second_of_hour += 3600;
    return (int)second_of_hour * 1000 + milliseconds;
}

int xfer_elapsed_ms(int start, int end) {
    int elapsed = end - start;

    if (elapsed < 0)
        elapsed += XFER_HOUR_MS;
    return elapsed;
}

int xfer_add_ms(int a, int b) {
    long long sum = (long long)a + b;

    return sum > INT_MAX ? INT_MAX : (int)sum;
}

int xfer_header_copy(unsigned char header[XFER_HEADER_SIZE], const unsigned char *command,
                     int length) {
    int copied = length < XFER_HEADER_SIZE ? length : XFER_HEADER_SIZE;

    if (copied < 0 || !command)
        copied = 0;
    memset(header, 0, XFER_HEADER_SIZE);
    if (copied > 0)
        memcpy(header, command, (size_t)copied);
    return copied;
}

void xfer_status_word(unsigned char status_word[2], const unsigned char *response, int received) {
    if (received >= 2 && response) {
        status_word[0] = response[received - 2];
        status_word[1] = response[received - 1];
    } else {
        status_word[0] = 0;
        status_word[1] = 0;
    }
}

/* Appends printf-style text at line + used, never past size; returns the new
   length (held at size - 1 when the text is cut). */
static int xfer_append(char *line, size_t size, int used, const char *format, ...)
    __attribute__((format(printf, 4, 5)));

static int xfer_append(char *line, size_t size, int used, const char *format, ...) {
    if (used < 0 || (size_t)used + 1 >= size)
        return used;
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line + used, size - (size_t)used, format, args);
    va_end(args);
    if (n < 0)
        return used;
    if ((size_t)used + (size_t)n >= size)
        return (int)size - 1;
    return used + n;
}

int xfer_line_head(char *line, size_t size, int number, const unsigned char *header,
                   int header_length, const unsigned char *response, int received) {
    if (size == 0)
        return 0;
    line[0] = 0;
    int used = xfer_append(line, size, 0, "%03d: ", number);
    for (int i = 0; i < header_length && i < XFER_HEADER_SIZE; i++)
        used = xfer_append(line, size, used, "%2.2X", header[i]);
    if (received >= 2)
        used = xfer_append(line, size, used, " %2.2X%2.2X", response[received - 2],
                           response[received - 1]);
    else
        used = xfer_append(line, size, used, "LengthError= %d\r\n", received);
    return used;
}

int xfer_stats_record(XferStat stats[2], int *next, const unsigned char header[XFER_HEADER_SIZE],
                      const unsigned char status_word[2], int elapsed, int *average) {
    for (int i = 0; i < 2; i++) {
        XferStat *slot = &stats[i];
        if (memcmp(slot->header, header, XFER_HEADER_SIZE) != 0 ||
            memcmp(slot->status_word, status_word, 2) != 0)
            continue;
        slot->sum_ms = xfer_add_ms(slot->sum_ms, elapsed);
        if (slot->count < INT_MAX)
            slot->count++;
        *average = slot->sum_ms / slot->count;
        return i;
    }
    int g = (*next == 1) ? 1 : 0;
    XferStat *slot = &stats[g];
    memcpy(slot->header, header, XFER_HEADER_SIZE);
    memcpy(slot->status_word, status_word, 2);
    slot->count = 1;
    slot->sum_ms = elapsed;
    *next = 1 - g;
    *average = -1;
    return g;
}

void xfer_stats_reset(XferStat stats[2], int *next) {
    for (int i = 0; i < 2; i++) {
        stats[i].count = 0;
        stats[i].sum_ms = 0;
        stats[i].header[0] = 0;
        stats[i].status_word[0] = 0;
    }
    *next = 0;
}

int xfer_line_tail(char *line, size_t size, int used, int elapsed, int end, int start, int total,
                   int slot, int average) {
    if (average >= 0)
        return xfer_append(line, size, used, "%6d ms = %6d - %6d Total: %6d <%d:%d>\r\n", elapsed,
                           end, start, total, slot, average);
    return xfer_append(line, size, used, "%6d ms = %6d - %6d Total: %6d <%d:>\r\n", elapsed, end,
                       start, total, slot);
}
