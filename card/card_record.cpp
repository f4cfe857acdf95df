/*
 * card_record.cpp: a session's exchanges written as a script (see
 * card_record.h).
 *
 * Each exchange's lines are built in memory and handed to the file in one
 * unbuffered write: the recording grows as the run goes, an interrupted
 * run leaves every exchange made before it, and nothing waits in a buffer
 * of the C library when the process ends. One write per exchange costs a
 * few microseconds, well within what the card takes.
 */
#include "card/card_record.h"

#include <string.h>

#include "app/text_form.h"
#include "card/scard_name.h"
#include "vorlane_version.h"

static void record_add(CardRecord *record, const char *text) {
    text_buffer_add(&record->text, text, strlen(text));
}

/* Hands the lines built to the file; a short write ends the recording. */
static void record_write(CardRecord *record) {
    TextBuffer *text = &record->text;

    if (!record->failed &&
        (text->lost || fwrite(text->text, 1, text->used, record->file) != text->used ||
         fflush(record->file) != 0))
        record->failed = 1;
    text->used = 0;
    text->lost = 0;
}

/* bytes as lines of at most RECORD_LINE_DIGITS digits, the first
   after start, the others after a backslash. A command of no bytes is a
   line of two blanks, which the interpreter sends as an empty command. */
static void record_hex_lines(CardRecord *record, const char *start, const unsigned char *bytes,
                             int count) {
    enum { PER_LINE = RECORD_LINE_DIGITS / 2 };
    char digits[RECORD_LINE_DIGITS];

    if (count == 0) {
        record_add(record, "  \r\n");
        return;
    }
    for (int at = 0; at < count; at += PER_LINE) {
        int n = count - at < PER_LINE ? count - at : PER_LINE;
        record_add(record, at == 0 ? start : "\\");
        hex_run_put(digits, bytes + at, (size_t)n);
        text_buffer_add(&record->text, digits, 2 * (size_t)n);
        record_add(record, "\r\n");
    }
}

/* The UTC date and time of seconds since 1970, "YYYY-MM-DD hh:mm:ss":
   days become a civil date by counting 400-year eras from 0000-03-01,
   so that the leap day ends each year. */
static void record_date(long long seconds, char *text, size_t size) {
    long long days = seconds / 86400, rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        days--;
    }
    days += 719468; /* from 0000-03-01 */
    long long era = (days >= 0 ? days : days - 146096) / 146097;
    long long day_of_era = days - era * 146097;
    long long year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    long long day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    long long month_from_march = (5 * day_of_year + 2) / 153;
    int day = (int)(day_of_year - (153 * month_from_march + 2) / 5 + 1);
    int month = (int)(month_from_march < 10 ? month_from_march + 3 : month_from_march - 9);
    long long year = year_of_era + era * 400 + (month <= 2);
    snprintf(text, size, "%04lld-%02d-%02d %02d:%02d:%02d", year, month, day, (int)(rest / 3600),
             (int)(rest / 60 % 60), (int)(rest % 60));
}

int card_record_start(CardRecord *record, FILE *file, const CardRecordHeader *header) {
    char line[READER_NAME_SIZE + 64];
    char atr[2 * CARD_ATR_SIZE + 1];
    char date[32];
    long long seconds = 0;
    int milliseconds = 0;
    int length =
        header->atr_length < 0 || header->atr_length > CARD_ATR_SIZE ? 0 : header->atr_length;

    record->file = file;
    record->channel = 0;
    record->failed = 0;
    memset(&record->text, 0, sizeof record->text);
    setvbuf(file, NULL, _IONBF, 0);
    wall_clock_read(&seconds, &milliseconds);
    record_date(seconds, date, sizeof date);
    hex_run_put(atr, header->atr, (size_t)length);
    atr[2 * length] = 0;
    snprintf(line, sizeof line, "// Recorded by vorlane-run %s\r\n// Host: %s\r\n",
             VORLANE_VERSION_TEXT, header->host);
    record_add(record, line);
    snprintf(line, sizeof line, "// Reader: %s\r\n// Date: %s UTC\r\n%s", header->reader, date,
             record_atr_line);
    record_add(record, line);
    record_add(record, atr);
    record_add(record, "\r\n");
    record_write(record);
    if (!record->failed)
        return 1;
    card_record_end(record);
    return 0;
}

void card_record_exchange(CardRecord *record, const unsigned char *command, int length,
                          const unsigned char *answer, int received, LONG status) {
    char line[64];

    if (record->channel || record->failed)
        return;
    record_hex_lines(record, "", command, length);
    if (status != SCARD_S_SUCCESS) {
        snprintf(line, sizeof line, "%s%08lX %s\r\n", record_status_line, (unsigned long)status,
                 scard_name((unsigned long)status));
        record_add(record, line);
    } else if (received == 0) {
        record_add(record, record_empty_line);
        record_add(record, "\r\n");
    } else {
        record_hex_lines(record, "/EXPECT ", answer, received);
    }
    record_write(record);
}

void card_record_channel(CardSession *session, int open) {
    CardRecord *record = session->record;

    if (!record || record->channel == (open != 0))
        return;
    record->channel = open != 0;
    record_add(record, open ? "// Secure channel opened: its exchanges are not recorded\r\n"
                            : "// Secure channel ended\r\n");
    record_write(record);
}

int card_record_end(CardRecord *record) {
    if (!record->file)
        return 0;
    if (record->channel) {
        record_add(record, "// Secure channel ended\r\n");
        record_write(record);
    }
    int failed = record->failed;
    if (fclose(record->file) != 0)
        failed = 1;
    record->file = 0;
    text_buffer_free(&record->text);
    return failed ? -1 : 0;
}
