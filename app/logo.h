/*
 * logo.h: the steps behind the logo of the MDI client (app/logo.cpp), for
 * start-up and the tests; logo_load, logo_release and paint_logo are in
 * app/app.h.
 */
#ifndef VORLANE_LOGO_H
#define VORLANE_LOGO_H

#include <windows.h>

/* Reads a bitmap file into a movable memory block, locked at *image: the
   bytes after the 14-byte file header, read in pieces of at most 32,768
   bytes. Returns 1 when the image is usable (app/dib.h); otherwise 0, with
   nothing left allocated and *block, *image set to 0. */
int dib_load_file(const char *path, HGLOBAL *block, unsigned char **image);
/* Unlocks and frees a block of dib_load_file; both are set to 0. */
void dib_release(HGLOBAL *block, unsigned char **image);
/* Copies a loaded image's pixels into bitmap (at least width by height) and
   returns the number of rows copied, 0 on failure. */
int dib_to_bitmap(const unsigned char *image, HDC screen, HBITMAP bitmap, int width, int height);
/* Stretches the whole bitmap onto x, y, width, height of target. */
void draw_stretched(HDC target, HBITMAP bitmap, int x, int y, int width, int height);

#endif
