/*
 * scard_name.h: the names of the PC/SC status codes, for the messages that
 * show a code to the user. No Win32 here: the codes are plain numbers.
 */
#ifndef VORLANE_SCARD_NAME_H
#define VORLANE_SCARD_NAME_H

/* Exports from card/scard_name.cpp */
/* The code's name ("SCARD_W_REMOVED_CARD"), or "unknown status" for a code
   that is not one of the platform's. A static text; any thread. */
const char *scard_name(unsigned long code);

#endif
