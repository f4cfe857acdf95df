/*
 * resource.h: every resource id of Vorlane, shared by vorlane.rc and the code.
 * One block per menu or dialog. Command ids are the menu ids the frame
 * dispatches on; control ids are the ids the dialog procedures compare with.
 */
#ifndef VORLANE_RESOURCE_H
#define VORLANE_RESOURCE_H

/* Menu MENU1: command ids */
#define IDM_FONT 5
#define IDM_COLOR 6
#define IDM_BACKGROUND 7
#define IDM_NEW_CONSOLE 10
#define IDM_CLOSE 12
#define IDM_QUIT 13
#define IDM_TILE 30
#define IDM_CASCADE 31
#define IDM_ARRANGE 32
#define IDM_CLOSE_ALL 33
#define IDM_NEW_READER 50
#define IDM_MEMORY_WRITE 104
#define IDM_MEMORY_READ 105
#define IDM_EXPLAIN 106     /* "Explain": checked while traces are explained */
#define IDM_ATR_DETAILS 107 /* "ATR details": the current card's ATR explained */
#define IDM_TAG_READ 216
#define IDM_TAG_WRITE 217
#define IDM_SCRIPT_EXEC 555
/* Kept at 1001 although the window list starts at 1000: the frame also
   hands it to the default processing, so with two children open SendApdu
   activates the second one too, as it always has. */
#define IDM_SEND_APDU 1001
#define IDM_ABOUT 1234
#define IDM_QUIT_READER 1235

/* First id of the MDI window list appended to the "Windows" popup */
#define IDM_FIRST_CHILD 1000

/* Child control id of the edit control inside the Console and the reader window */
#define IDC_PANE_EDIT 1

/* Dialog READER: reader selection */
#define IDC_READER_SELECT 1
#define IDC_READER_COMBO 101

/* Dialog COMAND: APDU command */
#define IDC_CMD_SEND_QUIT 1
#define IDC_CMD_CANCEL 2
#define IDC_CMD_COMMENT 101
#define IDC_CMD_DATA 102
#define IDC_CMD_COUNT 103
#define IDC_CMD_NEW 201
#define IDC_CMD_SAVE 301
#define IDC_CMD_READ 302
#define IDC_CMD_SEND 400

/* Dialog WRITE: memory and tag write */
#define IDC_WRITE_WRITE 1
#define IDC_WRITE_QUIT 2
#define IDC_WRITE_ADDRESS 101

/* Dialog READ: memory and tag read */
#define IDC_READ_READ 1
#define IDC_READ_QUIT 2
#define IDC_READ_ADDRESS 101
#define IDC_READ_SIZE 102
#define IDC_READ_TEXT_FORMAT 201
#define IDC_READ_SAVE 300

/* Dialog SCRIPT: execute a script */
#define IDC_SCRIPT_EXEC 1
#define IDC_SCRIPT_QUIT 2
#define IDC_SCRIPT_NAME 101
#define IDC_SCRIPT_BROWSE 302

/* Dialog ABOUT2 */
#define IDC_ABOUT_OK 1

/* Any static text of a template */
#define IDC_STATIC_TEXT -1

#endif
