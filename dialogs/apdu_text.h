/*
 * apdu_text.h: the APDU text form, hexadecimal text to command bytes.
 * No Win32 here.
 */
#ifndef VORLANE_APDU_TEXT_H
#define VORLANE_APDU_TEXT_H

/*
 * Turns text into bytes (bytes must hold strlen(text) / 2 bytes). Stores the
 * byte count in *count. Returns 1 when every pair was a hexadecimal number,
 * 0 when the text is faulty (and must not be sent).
 */
int apdu_text_to_bytes(const char *text, unsigned char *bytes, int *count);

#endif
