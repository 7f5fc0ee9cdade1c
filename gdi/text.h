// Bitmap fonts and text output.
//
// A font is one contiguous little-endian record (a 112-byte header, then the
// glyphs), used in place. Header fields are read through the accessors below,
// never by casting the record to a struct.
#pragma once
#include "gdi/gdi.h"

#include <cstddef>
#include <cstdint>

struct FontRec {
    uint8_t bytes[112]; // header; the glyphs follow
};

// Header field offsets.
constexpr int kFontAscent = 64, kFontDescent = 68, kFontMetric3 = 72, kFontMetric4 = 76,
              kFontMaxWidth = 80, kFontAvgWidth = 84, kFontFirst = 96, kFontLast = 100,
              kFontDefault = 104, kFontBytesPerRow = 108, kFontHeader = 112;

uint32_t Font_Field(const FontRec *font, int offset);
int Font_Height(const FontRec *font);
bool Font_FixedPitch(const FontRec *font);

// A built-in font by id (0-7, 32), nullptr for any other id.
const FontRec *Font_BuiltIn(int id);

// The application's font block and text width. The block is not copied; it
// stays the caller's until the next call. Fonts whose records run outside the
// block are refused (the default font is used in their place).
void Text_SetAppFonts(const uint8_t *block, size_t size);
extern bool PGM_UnicodePresent;

int GDI_SelectFont(DC *dc, int id, int *width, int *height);
const uint8_t *GDI_GetFontChar(const FontRec *font, int code, int *width);
int GDI_GetTextMetrics(DC *dc, uint16_t metrics[7]);
int GDI_ByteTextExtent(DC *dc, const char *text, int *width, int *height);
int GDI_WordTextExtent(DC *dc, const uint16_t *text, int *width, int *height);
int GDI_GetTextExtent(DC *dc, const char *text, int *width, int *height);
int GDI_GetTextnWidth(DC *dc, const char *text, int *width, int n);
int GDI_SetTextAlign(DC *dc, int align);
DC *GDI_SetTextCallBk(DC *dc, TextCallBack fn, uintptr_t arg);
int GDI_ByteTextOut(DC *dc, int x, int y, const char *text);
int GDI_WordTextOut(DC *dc, int x, int y, const uint16_t *text);
// Dispatches on PGM_UnicodePresent: text is a byte or a 16-bit string.
int GDI_TextOut(DC *dc, int x, int y, const void *text);
// Rectangle flags: 1 left, 2 right, 4 centred; 16 top, 32 vertical centre.
int GDI_RectByteTextOut(DC *dc, int flags, const RECT *rect, const char *text);
int GDI_RectWordTextOut(DC *dc, int flags, const RECT *rect, const uint16_t *text);
int GDI_RectTextOut(DC *dc, int flags, const RECT *rect, const void *text);
void ScanVLine(DC *dc, int x, int y1, int y2, COLOR colour);

void Text_Reset();
