/*
 * The common controls' toolbar button states and styles, which the shell's
 * soft-key bar data (SHMENUBAR resources) is written with.  Plain #define
 * lines, so that resource scripts can include it too.  The controls
 * themselves are left out: the device programs use none.
 */
#ifndef WINCE_COMMCTRL_H
#define WINCE_COMMCTRL_H

/* A button without an image. */
#define I_IMAGENONE (-2)

#define TBSTATE_CHECKED 0x01
#define TBSTATE_PRESSED 0x02
#define TBSTATE_ENABLED 0x04
#define TBSTATE_HIDDEN 0x08

#define TBSTYLE_BUTTON 0x0000
#define TBSTYLE_SEP 0x0001
#define TBSTYLE_CHECK 0x0002
#define TBSTYLE_GROUP 0x0004
#define TBSTYLE_DROPDOWN 0x0008
#define TBSTYLE_AUTOSIZE 0x0010

#endif
