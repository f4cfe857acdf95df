/*
 * script_run_fuzz.cpp: a whole script through the interpreter against the
 * fake PC/SC, over the fake platform (a clock that only sleeps move, no
 * files on the disk). The input gives both the card and the script:
 *
 *   byte 0       low nibble: answers queued (0..15); high nibble: where in
 *                the hour the clock starts (near its end, so that runs
 *                cross it)
 *   4 bytes      the default answer, then 4 bytes for each queued one:
 *                size, status and delay, SW1, SW2 (see fuzz_answer)
 *   the rest     the script, read through a ScriptTally's input stream
 *
 * Every directive, line length and response size is reachable, up to
 * responses longer than any buffer; the run must neither crash nor read or
 * write past a buffer, and it must end.
 */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "app/app_state.h"
#include "run/run_state.h"
#include "script/script_check.h"
#include "script/script_run.h"
#include "tests/fake/pcsc_fake.h"
#include "tests/fake/platform_fake.h"

namespace {

enum {
    FUZZ_ANSWER_BYTES = 4,
    FUZZ_HOUR_MS = 3600000,
    FUZZ_SIZES_FROM = 0xF0, /* a size byte from here on picks from fuzz_sizes */
    FUZZ_FAILS_FROM = 0xF8, /* a status byte from here on picks from fuzz_failures */
};

/* Response sizes around every limit: 256, 512 (card_transmit), the largest
   of a virtual reader, the largest response and beyond. */
const size_t fuzz_sizes[] = {256, 257, 512, 513, 4096, 65535, 65536, 65538, 65539, 70000};
const size_t fuzz_size_count = sizeof fuzz_sizes / sizeof fuzz_sizes[0];

const LONG fuzz_failures[] = {
    SCARD_W_REMOVED_CARD,       SCARD_E_INSUFFICIENT_BUFFER, SCARD_E_TIMEOUT,
    SCARD_E_NOT_TRANSACTED,     SCARD_W_RESET_CARD,          SCARD_E_NO_SMARTCARD,
    SCARD_E_READER_UNAVAILABLE, SCARD_F_COMM_ERROR};

/* size: 0..239 bytes as they are, else one of fuzz_sizes; status: a
   failure, else a success delayed by (status % 16) * 25 ms; SW1 SW2 end a
   response of two bytes or more. */
FakeAnswer fuzz_answer(const uint8_t *choice) {
    size_t size = choice[0] < FUZZ_SIZES_FROM
                      ? choice[0]
                      : fuzz_sizes[(choice[0] - FUZZ_SIZES_FROM) % fuzz_size_count];
    FakeAnswer answer = fake_pattern(size < 2 ? 0 : size - 2, (unsigned)choice[2] << 8 | choice[3]);

    if (size < 2)
        answer.bytes.assign(size, choice[2]);
    if (choice[1] >= FUZZ_FAILS_FROM)
        answer.status = fuzz_failures[choice[1] - FUZZ_FAILS_FROM];
    else
        answer.delay_ms = (choice[1] % 16u) * 25u;
    return answer;
}

/* The process's one AppState: the runner's first session prints its
   reader pane and its Console lines to /dev/null, so that every print is
   formatted and written as in a run. */
CardSession *fuzz_session(void) {
    static CardSession *session = nullptr;
    if (session)
        return session;
    app_state_init();
    app_locks_create();
    run_state_init(stdin, stdout, stderr);
    session = &runner.readers[0].session;
    session->console_pane = PANE_RUN_FIRST + 1;
    pane_stream_open(session->reader_pane, fopen("/dev/null", "wb"), 0, -1);
    pane_stream_open(session->console_pane, fopen("/dev/null", "wb"), 0, -1);
    return session;
}

/* A fresh card in a fresh reader, connected as the runner connects. */
int fuzz_card(CardSession *session) {
    fake_pcsc_reset();
    int reader = fake_reader_add("Fuzz Reader");
    fake_card_insert(reader, {0x3B, 0x00});
    session->card_state = CARD_CONTEXT;
    const PcscProvider *pcsc = &pcsc_platform;
    if (pcsc->establish(pcsc->self, SCARD_SCOPE_SYSTEM, &session->sc_context) != SCARD_S_SUCCESS ||
        pcsc->connect(pcsc->self, session->sc_context, "Fuzz Reader",
                      SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &session->card_handle,
                      &session->active_protocol) != SCARD_S_SUCCESS)
        return -1;
    session->card_state = CARD_READY;
    return reader;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    CardSession *session = fuzz_session();
    if (size < 1 + FUZZ_ANSWER_BYTES)
        return 0;
    size_t queued = data[0] & 15u;
    size_t head = 1 + FUZZ_ANSWER_BYTES * (1 + queued);
    if (size < head)
        return 0;
    int reader = fuzz_card(session);
    if (reader < 0)
        return 0;
    fake_answer_default(reader, fuzz_answer(data + 1));
    for (size_t i = 0; i < queued; i++)
        fake_answer_push(reader, fuzz_answer(data + 1 + FUZZ_ANSWER_BYTES * (1 + i)));
    fake_clock_reset(FUZZ_HOUR_MS - (data[0] >> 4) * 50u);

    static const char empty[1] = {0};
    ScriptTally tally;
    memset(&tally, 0, sizeof tally);
    tally.input = size > head ? fmemopen((void *)(data + head), size - head, "rb")
                              : fmemopen((void *)empty, 0, "rb");
    if (!tally.input)
        return 0;
    script_run(session, "fuzz.txt", &tally);
    script_tally_free(&tally);
    fclose(tally.input);
    pcsc_platform.disconnect(pcsc_platform.self, session->card_handle);
    pcsc_platform.release(pcsc_platform.self, session->sc_context);
    return 0;
}
