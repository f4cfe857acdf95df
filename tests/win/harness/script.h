/*
 * script.h: the reader pane as the script tests read it: the run time
 * blanked out, the closing lines of a run, pieces counted.
 */
#ifndef VORLANE_HARNESS_SCRIPT_H
#define VORLANE_HARNESS_SCRIPT_H

#include <string>

/* The reader pane's text with the number of every "Time: N ms" line
   replaced by '#', since the wall clock decides it. */
std::string script_pane_text(void);
/* The run time printed by the last "Time: N ms" line, or -1. */
int script_pane_time(void);
void script_pane_clear(void);
/* The closing lines of a run as the pane shows them. */
std::string script_end_text(void);
/* How often piece occurs in text (overlaps counted). */
int script_count(const std::string &text, const std::string &piece);

#endif
