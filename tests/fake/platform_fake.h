/*
 * platform_fake.h: what a fuzzer sets in the fake platform layer
 * (tests/fake/platform_fake.cpp) beyond app/platform.h.
 */
#ifndef VORLANE_TESTS_PLATFORM_FAKE_H
#define VORLANE_TESTS_PLATFORM_FAKE_H

/* Sets the fake clock offset_ms after its fixed start; sleeps move it on. */
void fake_clock_reset(unsigned long long offset_ms);

#endif
