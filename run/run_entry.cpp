/*
 * run_entry.cpp: the entry point of vorlane-run.
 */
#include <stdio.h>

#include "run/run_main.h"

int main(int argc, char **argv) {
    return run_main(argc, argv, stdin, stdout, stderr);
}
