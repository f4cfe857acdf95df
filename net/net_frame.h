/*
 * net_frame.h: request and reply frames of the network reader. No Win32 here.
 */
#ifndef VORLANE_NET_FRAME_H
#define VORLANE_NET_FRAME_H

enum {
    /* a request's decoded bytes at most: 256 + 15 data bytes and the check */
    NET_FRAME_DATA_MAX = 256 + 15 + 1,
};

/*
 * Decodes one request frame from the start of text (length characters).
 * Returns 0 while incomplete, a negative value for a bad frame, or L, the
 * number of data bytes written to out[0..L-1] (check byte in out[L]).
 * out must hold NET_FRAME_DATA_MAX bytes (L + 1 for the longest frame).
 * Clears text[2] of a decoded frame, so the same text never decodes twice.
 */
int net_frame_parse(char *text, int length, unsigned char *out);

/* Writes the reply frame and a NUL into frame (2n + 10 characters; a
   negative n or no data counts as 0); returns 2n + 9. Replies of 255 to 258
   bytes carry their length in the status byte (E1-E4), since LL stops at
   255: the peers read it so. */
int net_frame_build(int status, const unsigned char *data, int n, char *frame);

#endif
