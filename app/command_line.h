/*
 * command_line.h: the program's command-line options, parsed without Win32
 * so the rules are tested natively.
 */
#ifndef VORLANE_COMMAND_LINE_H
#define VORLANE_COMMAND_LINE_H

#include <stddef.h>

/*
 * Splits text on blanks, CR and LF (tabs and quotes are ordinary characters).
 * "-s" NAME copies NAME into script_name (capacity script_size); a NAME that
 * does not fit is refused and leaves script_name unchanged. "-n" sets
 * *network. Other tokens are ignored. Returns the number of names refused.
 */
int command_line_parse(const char *text, char *script_name, size_t script_size, int *network);

#endif
