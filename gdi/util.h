// Small shared helpers: values inside packed application records, scaling of
// register values onto pixel ranges, the 3-D shade colours of raised and
// pressed controls, bevelled control shapes, and string helpers that follow
// the application's character width (PGM_UnicodePresent: 16-bit characters
// when set, bytes otherwise).
#pragma once
#include "gdi/gdi.h"

#include <cstdint>

// Little-endian values at any 16-bit-aligned address.
uint32_t UTIL_GetDword(const void *address);
void UTIL_PutDword(void *address, uint32_t value);
float UTIL_GetFloat(const void *address);
double UTIL_GetDouble(const void *address);
void UTIL_PutDouble(void *address, double value);

// Scaling of 16-bit register values (max, min and value are compared as
// signed 16-bit) onto a range of `range` pixels. A bit count other than 16
// gives 0, and so does an empty span.
uint16_t UTIL_U16Scale(int value, int bits, int max, int min, int range);
// A scale with a negative minimum and a non-negative maximum is centred on
// zero: negative values give negative offsets (as u16).
uint16_t UTIL_S16Scale(int value, int bits, int max, int min, int range);
// The inverse of UTIL_U16Scale: the value at a pixel position; a range of 0
// gives the minimum.
uint16_t UTIL_U16Unscale(int position, int bits, int max, int min, int range);
float UTIL_F32Scale(int value, int bits, int max, int min, float range);
// The last result of UTIL_F32Scale.
float UTIL_F32Last();

// Shade colours.
constexpr COLOR kShadeWhite = 0xFFDF, kShadeLight = 0xC638, kShadeMid = 0x7BEF, kShadeBlack = 0;
int UTIL_IsBright(COLOR colour);
COLOR UTIL_InvertIntensity(COLOR colour);
// The edge colours of a raised (pressed 0) or sunken control of that face.
void UTIL_3DShades(int pressed, COLOR colour, COLOR *light, COLOR *dark);

// Control shapes; rectangles in the exclusive form. Pens and colours of the
// context are as they were afterwards.
void UTIL_ShadeRect(DC *dc, const RECT *rect, COLOR light, COLOR dark, int inset);
void UTIL_Button(DC *dc, const RECT *rect, int pressed);
void UTIL_3DEtch(DC *dc, const RECT *rect, COLOR light, COLOR dark);
void UTIL_Bezel(DC *dc, const RECT *rect);
void UTIL_HexNut(DC *dc, const RECT *rect);
void UTIL_RoundButton(DC *dc, const RECT *rect, int pressed);
void UTIL_GradButton(DC *dc, int header, int footer, const RECT *rect, int ignored);

// Strings. 16-bit strings are counted and copied up to kUtilMaxWordChars
// characters; a 16-bit destination holds that many and a terminating 0.
constexpr int kUtilMaxWordChars = 1024;
int UTIL_WordStrLen(const uint16_t *s);
uint16_t *UTIL_WordStrCpy(uint16_t *dst, const uint16_t *src);
// Appends at most n characters of src; the result is kept within
// kUtilMaxWordChars characters.
uint16_t *UTIL_WordStrNCat(uint16_t *dst, const uint16_t *src, int n);
// By the application's character width.
int UTIL_StrLen(const void *s);
void *UTIL_StrCpy(void *dst, const void *src);
void *UTIL_StrNCat(void *dst, const void *src, int n);

// Counted multi-line strings (text points at the first character, the count
// stands just before it).
int UTIL_StringLines(const void *text);
// The width in pixels of the widest line, in the context's font.
int UTIL_StringWidth(DC *dc, const void *text);
// Rewraps `src` into at most max_lines lines of at most max_chars characters
// at `dst` (the count first, every line ended by 0), breaking lines at their
// last blank; text that does not fit ends in " ...". Returns the address of
// the first character. max_lines or max_chars below 1 gives no lines. `dst`
// holds max_lines x (max_chars + 1) + 1 characters and must not overlap src.
char *UTIL_ByteLimitMultiStr(char *dst, const char *src, int max_lines, int max_chars);
uint16_t *UTIL_WordLimitMultiStr(uint16_t *dst, const uint16_t *src, int max_lines, int max_chars);
void *UTIL_LimitMultiStr(void *dst, const void *src, int max_lines, int max_chars);

void UTIL_Reset();
