/*
 * record_format.h: the lines of a recording (vorlane-run --record) that
 * its reader, the runner's replay, looks for beside commands and "/EXPECT"
 * lines: written by card/card_record.cpp, read by run/replay_read.cpp. No
 * Win32 and no PC/SC here.
 */
#ifndef VORLANE_RECORD_FORMAT_H
#define VORLANE_RECORD_FORMAT_H

enum {
    RECORD_LINE_DIGITS = 1024, /* hexadecimal digits a line, at most */
};

/* The header's last line: the card's ATR in hexadecimal follows. */
inline constexpr char record_atr_line[] = "// ATR ";
/* After a command that failed, instead of "/EXPECT": its status as eight
   hexadecimal digits follows, then a blank and the status's name. */
inline constexpr char record_status_line[] = "// PC/SC status: 0x";
/* After a command answered with no bytes at all, which no check can
   express. */
inline constexpr char record_empty_line[] = "// empty answer";

#endif
