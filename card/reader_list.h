/*
 * reader_list.h: the platform's reader list in AppState, for the reader
 * window and the command-line runner.
 */
#ifndef VORLANE_READER_LIST_H
#define VORLANE_READER_LIST_H

/* Exports from card/reader_list.cpp */
/* Any thread, no lock (a context of its own when the platform needs one):
   the readers' multi-string into reader_names; "" when listing fails. */
void reader_list_names(void);
/* Splits reader_names into list (READER_LIST_MAX entries); returns the count. */
int reader_list_parse(const char **list);
/* Offers every listed reader (offered_readers, offered_count); returns
   their count. */
int reader_list_all(void);

#endif
