/*
 * pcsc_fake.h: a fake PC/SC provider (card/pcsc.h), for the host build's
 * tests and fuzzers: the peer of the platform's and the replay provider.
 * The host build links it as pcsc_platform instead of card/pcsc.cpp and
 * no PC/SC library, so the card exchange, the script interpreter and the
 * runner run natively against answers a test sets up.
 *
 * It is a table of answers, not a card: readers with a name, a card with
 * an ATR and a protocol, and per reader a queue of answers that
 * the transmit call hands out in order (the default answer when the queue is
 * empty), whatever the command was. Every command that reaches a card is
 * kept for the test to look at. Its status codes are those pcsc-lite and
 * Windows answer. It is thread-safe: one mutex guards the table, and a
 * change of a reader, a card or the service wakes the calls that wait.
 */
#ifndef VORLANE_TESTS_PCSC_FAKE_H
#define VORLANE_TESTS_PCSC_FAKE_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "card/pcsc.h"

/* One answer of a card to one command */
struct FakeAnswer {
    LONG status = SCARD_S_SUCCESS;  /* what the transmit call returns */
    std::vector<uint8_t> bytes;     /* the response (data, SW1 SW2), up to 65,538+ bytes */
    unsigned delay_ms = 0;          /* slept (platform_sleep_ms) before answering */
    void (*then)(void *) = nullptr; /* called after answering (outside the fake's lock,
                                       on the transmitting thread): a card reset or
                                       removed right after this exchange */
    void *then_context = nullptr;
};

/* The state query's value for a card that is there and ready, as Windows
   reports it (SCARD_SPECIFIC). */
enum { FAKE_STATE_SPECIFIC = 6 };

/* No readers, service running, empty logs, defaults; every context and
   handle made before is invalid. */
void fake_pcsc_reset(void);
/* A reader that appears at the end of the list; returns its index, which
   the other calls take. */
int fake_reader_add(const char *name);
/* The reader vanishes from the list; its connections fail. */
void fake_reader_remove(int reader);
/* A card goes into reader (replacing one that was there). */
void fake_card_insert(int reader, const std::vector<uint8_t> &atr,
                      DWORD protocol = SCARD_PROTOCOL_T1);
/* The card goes: its connections fail with SCARD_W_REMOVED_CARD. */
void fake_card_remove(int reader);
/* From now on the state query on reader's connections fails with status
   (SCARD_S_SUCCESS: it answers again); the length stays at the room. */
void fake_state_fail(int reader, LONG status);
/* Queues an answer; the queue is answered in order. */
void fake_answer_push(int reader, const FakeAnswer &answer);
/* The answer when the queue is empty; initially 90 00. */
void fake_answer_default(int reader, const FakeAnswer &answer);
/* data_length bytes i % 256, then the status word sw. */
FakeAnswer fake_pattern(size_t data_length, unsigned sw = 0x9000);
/* The commands that reached reader's cards, in order. */
std::vector<std::vector<uint8_t>> fake_commands(int reader);
/* The service stops: every call fails with code, also a call waiting for
   a change; contexts made before stay invalid after a restart. */
void fake_service_stop(LONG code = SCARD_E_NO_SERVICE);
void fake_service_start(void);

#endif
