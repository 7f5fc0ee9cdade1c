// Text console: an 80 x 30 character grid drawn on one context in the
// fixed-pitch console font, for the system's start-up and fault messages.
#pragma once

struct DC;
void TTY_Allocate(DC *dc);
void TTY_ClrScreen();
// Mode bits: 1 dark on light, 2 light on dark, 4 blinking dark on light,
// 16 advance after each character, 32 wrap and scroll.
int TTY_SetMode(int mask, int value);
// Caret shapes: 0 none, 1 underline, 2 bar, 4 inverse block; +16 blinking.
int TTY_SetCaret(int shape);
int TTY_SetPos(int row, int col);
int TTY_GetPos(int *row, int *col);
void TTY_PutChar(int c);
int TTY_Puts(const char *text);
void TTY_Scroll(int up);
// The character and attribute of a cell (tests); -1 outside the grid.
int TTY_CellChar(int row, int col);
int TTY_CellAttr(int row, int col);
void TTY_Reset();
