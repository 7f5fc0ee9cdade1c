// Drawing layer: device contexts.
#pragma once
#include <cstdint>

struct DC;
struct RECT {
    int16_t left, top, right, bottom;
};
int GDI_Init();
DC *GDI_CreateDC(int kind, int n);
DC *GDI_GetDisplayDC();
int GDI_SetClipRect(DC *dc, const RECT *rect, RECT *save);
int16_t GDI_SetTextColor(DC *dc, uint16_t colour);
int16_t GDI_SetFillColor(DC *dc, uint16_t colour);
void GDI_SetPen(DC *dc, int style, int width, uint16_t colour);
int GDI_SelectFont(DC *dc, int id, int *width, int *height);
int GDI_SetTextAlign(DC *dc, int align);
int GDI_Rectangle(DC *dc, int left, int top, int right, int bottom);
int GDI_ByteTextOut(DC *dc, int x, int y, const char *text);
