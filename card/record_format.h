/*
 * record_format.h: the recording format (vorlane-run --record), written
 * down once for its writer (card/card_record.cpp) and its reader
 * (card/replay_read.cpp), which sit side by side in card/. No Win32 and no
 * PC/SC here.
 *
 * A recording is a script that checks a card against the one it was made
 * on, and the answers a replay reader gives back:
 *
 *   // Recorded by vorlane-run VERSION      the header: comment lines
 *   // Host: HOST
 *   // Reader: READER
 *   // Date: YYYY-MM-DD hh:mm:ss UTC
 *   // ATR HEX                              the card's ATR; the header's last line
 *   COMMAND                                 each exchange: the command exactly as sent
 *   /EXPECT ANSWER                          and its whole answer, data and status word
 *   COMMAND
 *   // PC/SC status: 0xXXXXXXXX NAME        or the status it failed with
 *   COMMAND
 *   // empty answer                         or an answer of no bytes
 *
 * Commands and answers are upper-case hexadecimal digits, at most
 * RECORD_LINE_DIGITS a line; a longer one goes on in lines that start with
 * a backslash, so no line reaches the interpreter's limit of 2,047
 * characters. A command of no bytes is a line of two blanks. Lines end in
 * CR LF, as the runner's output does. A secure channel's exchanges are left
 * out: a comment line marks where it opened and one where it ended.
 *
 * Read back, the lines are read as the interpreter reads them. Only exact
 * answers can be given back: a check that holds a pattern (X, '*',
 * alternatives) or a value, a command that holds a value, a recording
 * without its ATR line and a command without a recorded answer are
 * refused with the line that does it. Other lines (other comments,
 * directives a user added) are no exchanges and are passed over.
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
