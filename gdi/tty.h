// Text console.
#pragma once

struct DC;
void TTY_Allocate(DC *dc);
int TTY_SetPos(int row, int col);
int TTY_Puts(const char *text);
