/*
 * reader_list.h: the platform's reader list in AppState, for the reader
 * window and the command-line runner.
 */
#ifndef VORLANE_READER_LIST_H
#define VORLANE_READER_LIST_H

/* Exports from card/reader_list.cpp */
void reader_list_names(void); /* the readers' multi-string into reader_names; "" on failure */
/* Splits reader_names into list (READER_LIST_MAX entries); returns the count. */
int reader_list_parse(const char **list);
int reader_list_all(void); /* every listed reader into offered_readers; returns the count */

#endif
