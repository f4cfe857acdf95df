/*
 * run_main.h: the whole of vorlane-run as one call, for its entry point
 * and for tests that run it in their own process.
 */
#ifndef VORLANE_RUN_MAIN_H
#define VORLANE_RUN_MAIN_H

#include <stdio.h>

/* Exports from run/run_main.cpp */
/* Runs the command line argv[0..argc) with in, out and err as standard
   input, output and error; returns the exit status. Sets AppState up
   afresh at each call. */
int run_main(int argc, char **argv, FILE *in, FILE *out, FILE *err);

#endif
