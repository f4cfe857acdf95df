/*
 * testcard.h: control of the rig's test cards from the Win32 tests.
 * Each call opens a connection to the card's control port on 127.0.0.1
 * (35970 for reader 0, 35971 for reader 1; the environment variable
 * VORLANE_TESTCARD_CONTROL_PORT moves reader 0's port, reader 1 uses the next
 * one), sends one command line and reads its reply. The commands and the
 * card's behaviour are described in tools/testcard/README.md.
 */
#ifndef VORLANE_HARNESS_TESTCARD_H
#define VORLANE_HARNESS_TESTCARD_H

#include <string>
#include <vector>

/* The demo card: the ATR the tests, benchmarks and rig tests insert (T=1). */
inline constexpr char testcard_demo_atr[] = "3B8F8001804F0CA000000306030001000000006A";
/* The two virtual readers, as the platform lists them. */
inline constexpr const char *testcard_reader_names[2] = {"Virtual PCD 00 00", "Virtual PCD 00 01"};

// clang-format off
// reader: 0 = "Virtual PCD 00 00", 1 = "Virtual PCD 00 01". All return false / empty on failure.
bool testcard_insert(int reader, const char *atr_hex, bool t0_mode = false); // configure ATR/T=0 mode, insert, seen
bool testcard_remove(int reader);                        // the reader sees no card
bool testcard_seen(int reader, bool present);            // pcscd shows the card in (out) within 10 s
bool testcard_reset_state(int reader);                   // memory zeroed, log cleared, delay 0, no forced answers
std::vector<std::string> testcard_log(int reader);       // "C: <HEX>" per command received, "R: <HEX>" per response sent
void testcard_log_clear(int reader);
std::vector<unsigned char> testcard_memory(int reader, unsigned address, unsigned length);
bool testcard_memory_set(int reader, unsigned address, const std::vector<unsigned char> &bytes);
bool testcard_delay(int reader, int milliseconds);       // per-command delay
bool testcard_force_status(int reader, int sw1, int sw2, int count); // next `count` commands answered sw1 sw2 only (-1: every command until reset)
std::string testcard_command(int reader, const std::string &line); // raw control line, returns the reply line
// clang-format on

#endif
