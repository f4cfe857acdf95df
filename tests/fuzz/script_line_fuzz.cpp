/*
 * script_line_fuzz.cpp: any script text, read in pieces and run through every
 * line routine, stays inside its buffers and keeps the routines' promises:
 * the pieces give back the whole text up to a 0x1A byte, a trace always ends with one line
 * break, a follow-up line always reads back as five command bytes.
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "dialogs/apdu_text.h"
#include "script/script_line.h"

static void fuzz_check(bool ok) {
    if (!ok)
        abort();
}

static void fuzz_one_line(const char *line, int length) {
    int value = 0;
    script_wait_parse(line, &value);
    script_wait_pause_ms(value);

    char name[SCRIPT_LOG_NAME_SIZE];
    int given = script_open_parse(line, name, sizeof name);
    fuzz_check(given >= -1 && given <= 1);
    if (given == 1)
        fuzz_check(strlen(name) < sizeof name);

    ScriptLineKind kind = script_line_classify(line);
    fuzz_check((kind == SCRIPT_LINE_SKIP) == (strlen(line) < 2));
    if (kind != SCRIPT_LINE_APDU)
        return;
    std::vector<unsigned char> command((size_t)length / 2 + 1);
    int count = 0;
    if (!apdu_text_to_bytes(line, command.data(), &count))
        return;
    fuzz_check(count >= 0 && count <= length / 2);

    /* The trace in pieces of any size joins into the one text. */
    std::vector<char> trace(SCRIPT_TRACE_SIZE + 1, '#');
    std::string whole;
    size_t piece_size = 64 + (size_t)length % (SCRIPT_TRACE_SIZE - 64);
    int done = 0, before;
    do {
        before = done;
        int used =
            script_trace_piece(trace.data(), piece_size, "Sending", command.data(), count, &done);
        fuzz_check(trace[piece_size] == '#' && (size_t)used == strlen(trace.data()));
        whole += trace.data();
    } while (done < count && done > before);
    fuzz_check(done == count && whole.size() >= 9);
    fuzz_check(whole[whole.size() - 2] == '\r' && whole[whole.size() - 1] == '\n');
    fuzz_check(whole.size() < 4 || whole[whole.size() - 3] != '\n');
    int used = script_trace_text(trace.data(), SCRIPT_TRACE_SIZE, "Sending", command.data(), count);
    fuzz_check(trace[SCRIPT_TRACE_SIZE] == '#');
    fuzz_check(count > SCRIPT_TRACE_PIECE_BYTES ||
               whole == std::string(trace.data(), (size_t)used));

    if (count >= 2) {
        char pending[SCRIPT_PENDING_SIZE];
        if (script_followup_line(pending, command.data(), count, command.data() + count - 2, 2)) {
            script_line_chomp(pending, (int)strlen(pending));
            unsigned char again[8];
            int again_count = 0;
            fuzz_check(apdu_text_to_bytes(pending, again, &again_count) == 1);
            fuzz_check(again_count == 5);
        }
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    /* The first byte picks the piece size, so short and long pieces both run. */
    int piece = data[0] % 3 == 0 ? SCRIPT_LINE_SIZE : 2 + data[0] % 61;
    FILE *file = fmemopen((void *)(data + 1), size - 1, "rb");
    if (!file)
        return 0;
    std::vector<char> line((size_t)piece);
    std::string joined;
    int length;
    while ((length = script_line_read(file, line.data(), piece)) >= 0) {
        fuzz_check(length > 0 && length < piece);
        joined.append(line.data(), (size_t)length);
        length = script_line_chomp(line.data(), length);
        fuzz_one_line(line.data(), length);
    }
    fclose(file);
    /* Everything before the first 0x1A, which ends the file */
    std::string text((const char *)data + 1, size - 1);
    fuzz_check(joined == text.substr(0, text.find('\x1A')));

    /* A trace into a buffer of any size stays inside it. */
    size_t small = data[0] % 40 + 1;
    std::vector<char> out(small + 1, '#');
    script_trace_text(out.data(), small, "Received", data, (int)size);
    fuzz_check(out[small] == '#');
    return 0;
}
