/*
 * apdu_text_fuzz.cpp: apdu_text_to_bytes against a plain reference. The
 * reference takes the non-space characters two by two and converts the
 * whole original stretch of each pair, spaces and all, with strtoul base 16
 * (the same number "%x" reads). Any difference, a count beyond half the
 * text's length or a write past that room aborts.
 */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "dialogs/apdu_text.h"

static int reference_to_bytes(const char *text, std::vector<unsigned char> *bytes) {
    int sound = 1;
    std::vector<size_t> marks;
    for (size_t i = 0; text[i]; i++)
        if (text[i] != ' ')
            marks.push_back(i);
    for (size_t k = 0; k + 1 < marks.size(); k += 2) {
        std::string pair(text + marks[k], marks[k + 1] - marks[k] + 1);
        char *end = 0;
        unsigned long value = strtoul(pair.c_str(), &end, 16);
        if (end == pair.c_str()) {
            sound = 0;
            continue;
        }
        bytes->push_back((unsigned char)(value & 0xFF));
    }
    return sound;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text((const char *)data, size);
    text = text.c_str(); /* up to the first NUL, as a C text */
    size_t room = text.size() / 2;
    /* Exactly the room the contract asks for, so ASan sees any overrun. */
    unsigned char *bytes = (unsigned char *)malloc(room);
    int count = -1;
    int sound = apdu_text_to_bytes(text.c_str(), bytes, &count);
    if (count < 0 || (size_t)count > room)
        abort();
    std::vector<unsigned char> expected;
    int expected_sound = reference_to_bytes(text.c_str(), &expected);
    if (sound != expected_sound || (size_t)count != expected.size() ||
        (count && memcmp(bytes, expected.data(), (size_t)count) != 0))
        abort();
    free(bytes);
    return 0;
}
