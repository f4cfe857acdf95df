/*
 * replay_read_fuzz.cpp: any text read as a recording. One that is taken
 * must keep every command and answer within the bytes read and the
 * exchange's limits, and written again in the recorder's form (1,024
 * digits a line, continued with a backslash) it must read back to the same
 * exchanges.
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "app/text_form.h"
#include "card/record_format.h"
#include "card/xfer_limits.h"
#include "card/replay_read.h"

static std::string lines_of(const char *start, const char *bytes, int count) {
    std::string text;
    char digits[RECORD_LINE_DIGITS];
    if (count == 0)
        return "  \r\n";
    for (int at = 0; at < count; at += RECORD_LINE_DIGITS / 2) {
        int n = count - at < RECORD_LINE_DIGITS / 2 ? count - at : RECORD_LINE_DIGITS / 2;
        hex_run_put(digits, (const unsigned char *)bytes + at, (size_t)n);
        text += (at ? "\\" : start) + std::string(digits, 2 * (size_t)n) + "\r\n";
    }
    return text;
}

static std::string written(const ReplayRecording &r) {
    char atr[2 * REPLAY_ATR_SIZE + 1], status[32];
    hex_run_put(atr, r.atr, (size_t)r.atr_length);
    std::string text = std::string(record_atr_line) + std::string(atr, 2 * (size_t)r.atr_length);
    text += "\r\n";
    for (int i = 0; i < r.count; i++) {
        const ReplayExchange *e = replay_exchange(&r, i);
        text += lines_of("", r.bytes.text + e->command_at, e->command_length);
        snprintf(status, sizeof status, "%08lX X\r\n", e->status);
        if (e->status)
            text += record_status_line + std::string(status);
        else if (e->answer_length == 0)
            text += record_empty_line + std::string("\r\n");
        else
            text += lines_of("/EXPECT ", r.bytes.text + e->answer_at, e->answer_length);
    }
    return text;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    ReplayRecording first = {}, again = {};
    char message[REPLAY_MESSAGE_SIZE];

    if (replay_read((const char *)data, size, &first, message, sizeof message)) {
        for (int i = 0; i < first.count; i++) {
            const ReplayExchange *e = replay_exchange(&first, i);
            if (e->command_length < 0 || e->command_length > XFER_COMMAND_MAX ||
                e->answer_length < 0 || e->answer_length > XFER_RESPONSE_MAX ||
                e->command_at + (size_t)e->command_length > first.bytes.used ||
                e->answer_at + (size_t)e->answer_length > first.bytes.used || e->line < 1)
                abort();
        }
        std::string text = written(first);
        if (!replay_read(text.data(), text.size(), &again, message, sizeof message) ||
            again.count != first.count || written(again) != text)
            abort();
    } else if (!memchr(message, 0, sizeof message) || !message[0]) {
        abort();
    }
    replay_free(&first);
    replay_free(&again);
    return 0;
}
