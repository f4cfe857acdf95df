/*
 * names.h: the names of Vorlane's window classes and of the resources the
 * code loads by name. vorlane.rc names its resources with the same words;
 * the code uses only these constants.
 */
#ifndef VORLANE_NAMES_H
#define VORLANE_NAMES_H

/* Window classes, registered at start-up; the frame's is also its title */
#define CLASS_FRAME "Vorlane"
#define CLASS_CONSOLE "HelloChild"
#define CLASS_READER "Velmo"

/* Resources of vorlane.rc */
#define RES_MENU_MAIN "MENU1"
#define RES_DIALOG_ABOUT "ABOUT2"
#define RES_DIALOG_READER "READER"
#define RES_DIALOG_COMMAND "COMAND"
#define RES_DIALOG_WRITE "WRITE"
#define RES_DIALOG_READ "READ"
#define RES_DIALOG_SCRIPT "SCRIPT"
#define RES_ICON_MAIN "icone"
#define RES_BITMAP_LOGO "logo"

#endif
