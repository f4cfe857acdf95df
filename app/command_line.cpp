/*
 * command_line.cpp: the options "-s NAME" (script of unknown cards) and "-n"
 * (network reader on). Tokens are split on blanks, CR and LF only; tabs and
 * quotes are ordinary characters.
 */
#include "app/command_line.h"

#include <string.h>

static int command_line_is_delimiter(char c) {
    return c == ' ' || c == '\r' || c == '\n';
}

int command_line_parse(const char *text, char *script_name, size_t script_size, int *network) {
    int next_is_script = 0;
    int refused = 0;
    const char *p = text ? text : "";

    for (;;) {
        while (*p && command_line_is_delimiter(*p))
            p++;
        if (!*p)
            break;
        const char *start = p;
        while (*p && !command_line_is_delimiter(*p))
            p++;
        size_t length = (size_t)(p - start);

        if (length == 2 && memcmp(start, "-s", 2) == 0) {
            next_is_script = 1;
        } else if (next_is_script) {
            next_is_script = 0;
            /* A name that does not fit is refused whole: a cut name would
               run some other file. */
            if (length < script_size) {
                memcpy(script_name, start, length);
                script_name[length] = 0;
            } else {
                refused++;
            }
        } else if (length == 2 && memcmp(start, "-n", 2) == 0) {
            *network = 1;
        }
    }
    return refused;
}
