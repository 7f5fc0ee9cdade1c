// Drawing layer: device contexts, rectangles, colours and bitmap records.
//
// Every drawing call takes a device context first. A context says where
// drawing may land (bounds and clip), carries the pen, fill, text and gradient
// settings, and holds the eight video-driver operations through which every
// pixel is finally written. The contexts are static records of this layer,
// copied whole, never allocated.
#pragma once
#include "platform/dc.h"

#include <cstdint>

// Contexts.
int GDI_Init();
DC *GDI_CreateDC(int kind, int n);
DC *GDI_CreateCompDC(DC *source);
DC *GDI_GetDisplayDC();
void GDI_DeleteDC(DC *dc);
int GDI_Close();

// Rectangles.
void GDI_SetRect(RECT *r, int left, int top, int right, int bottom);
void GDI_NormalizeRect(RECT *r);
void GDI_InflateRect(RECT *r, int dx, int dy);
void GDI_DeflateRect(RECT *r, int dx, int dy);
int GDI_IntersectRect(RECT *dst, const RECT *a, const RECT *b);
void GDI_UnionRect(RECT *dst, const RECT *a, const RECT *b);
int GDI_PtInRect(const RECT *r, int x, int y);

// Clip, raster operation, pen and colours.
int GDI_SetClipRect(DC *dc, const RECT *rect, RECT *save);
int16_t GDI_SetROP(DC *dc, int mode);
void GDI_SetPen(DC *dc, int style, int width, COLOR colour);
int16_t GDI_SetFillColor(DC *dc, COLOR colour);
int16_t GDI_SetTextColor(DC *dc, COLOR colour);
int16_t GDI_SetEndColor(DC *dc, COLOR colour);
void GDI_SetGradient(DC *dc, int mode);

// Pixels.
int16_t GDI_SetPixel(DC *dc, int x, int y, COLOR colour);
int16_t GDI_GetPixel(DC *dc, int x, int y);
void GDI_ScanLine(DC *dc, int y, int x1, int x2, COLOR colour);

// Text (the text output's own unit).
int GDI_SelectFont(DC *dc, int id, int *width, int *height);
int GDI_SetTextAlign(DC *dc, int align);
int GDI_ByteTextOut(DC *dc, int x, int y, const char *text);

// Figures (the figure unit's own).
int GDI_Rectangle(DC *dc, int left, int top, int right, int bottom);

// The contexts back to their start-up state (tests).
void GDI_Reset();
