/*
 * run_data.h: the values vorlane-run gives its scripts from outside:
 * --set NAME=HEX, and --data FILE.csv, a header row of value names and one
 * row per card, cells separated by commas, each whole hexadecimal pairs (an
 * empty cell is zero bytes). No Win32 here.
 */
#ifndef VORLANE_RUN_DATA_H
#define VORLANE_RUN_DATA_H

#include <stddef.h>

#include "run/run_report.h"
#include "script/script_values.h"

/* A data file, read whole before any card is touched */
struct RunData {
    char names[SCRIPT_VALUES_MAX][SCRIPT_VALUE_NAME_SIZE]; /* the header's names */
    int columns;                                           /* cells in every row */
    TextBuffer cells;  /* per row, per cell: an int length, then the bytes */
    TextBuffer starts; /* per row: a size_t offset into cells */
    int rows;          /* data rows, counted from 1 in messages and reports */
};

/* Exports from run/run_data.cpp; the caller serialises calls on one RunData. */
/* Reads a data file's text into data: 1, or 0 with "line N: ..." in
   message when a row has the wrong number of cells, a cell is not
   hexadecimal pairs or a name is not a value's name. */
int run_data_read(const char *text, size_t length, RunData *data, char *message, size_t size);
/* Gives values the cells of row (from 0): 1, or 0 with message. */
int run_data_apply(const RunData *data, int row, ScriptValues *values, char *message, size_t size);
void run_data_free(RunData *data);
/* "NAME=HEX", the number-th --set (from 1), into values: 1, or 0 with
   message, which names the option by its number, never by its text. */
int run_set_apply(const char *word, int number, ScriptValues *values, char *message, size_t size);

#endif
