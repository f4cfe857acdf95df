/*
 * net_frame.h: request and reply frames of the network reader. No Win32 here.
 */
#ifndef VORLANE_NET_FRAME_H
#define VORLANE_NET_FRAME_H

/*
 * Decodes one request frame from the start of text (length characters).
 * Returns 0 while incomplete, a negative value for a bad frame, or L, the
 * number of data bytes written to out[0..L-1] (check byte in out[L]).
 * out must hold 273 bytes (L + 1 for the longest frame).
 */
int net_frame_parse(char *text, int length, unsigned char *out);

/* Writes the reply frame and a NUL into frame (2n + 10 characters); returns 2n + 9. */
int net_frame_build(int status, const unsigned char *data, int n, char *frame);

#endif
