/*
 * explain_gp_fuzz.cpp: any answer to any command, the command part of the
 * input (its first byte mod 8 gives the command's length, the command
 * follows, the answer is the rest), is explained in sound pieces ending
 * with a whole line, the same twice; the status word's meaning for that
 * command is never empty. The dictionary holds the headers of the commands
 * whose answers are read field by field, and their tags.
 */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "explain/explain.h"
#include "tests/fuzz/explain_fuzz_pieces.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    size_t command_count = 0, count = 0;
    if (size > 0) {
        command_count = data[0] % 8u < size - 1 ? data[0] % 8u : size - 1;
        count = size - 1 - command_count;
    }
    /* exact-size copies, so that ASan sees any read past either */
    unsigned char *command = (unsigned char *)malloc(command_count ? command_count : 1);
    unsigned char *response = (unsigned char *)malloc(count ? count : 1);
    if (command_count)
        memcpy(command, data + 1, command_count);
    if (count)
        memcpy(response, data + 1 + command_count, count);
    Seen first = {0, 0}, again = {0, 0};
    explain_response(command, command_count, response, count, check_piece, &first);
    explain_response(command, command_count, response, count, check_piece, &again);
    if (first.last != '\n' || again.bytes != first.bytes)
        abort();
    char meaning[EXPLAIN_SW_SIZE];
    if (count >= 2 && (explain_answer_sw(command, command_count, response[count - 2],
                                         response[count - 1], meaning, sizeof meaning) == 0 ||
                       strlen(meaning) >= sizeof meaning))
        abort();
    free(command);
    free(response);
    return 0;
}
