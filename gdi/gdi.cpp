// Device contexts, rectangles, clip, pens, colours and single pixels.
#include "gdi/gdi.h"

#include "base/trace.h"
#include "platform/video.h"

#include <algorithm>
#include <utility>

DC displayDC, display2DC, display3DC, display4DC, display5DC, display6DC, memoryDC;

namespace {
DC *const kFrameDC[6] = {&displayDC,  &display2DC, &display3DC,
                         &display4DC, &display5DC, &display6DC};

constexpr COLOR kDefaultFill = 0xFFDF;

uint8_t pattern_of(int style) {
    switch (style) {
    case kPenDotted:
    case kPenOverFill:
        return 0xAA;
    case kPenDashed:
        return 0xC7;
    default:
        return 0xFF;
    }
}
} // namespace

int GDI_Init() {
    host::trace("GDI_Init");
    DC &dc = displayDC;
    dc.text_callback = nullptr;
    dc.Init = VDR_Init;
    dc.Ioctl = VDR_Ioctl;
    dc.SetPixel = VDR_SetPixel;
    dc.GetPixel = VDR_GetPixel;
    dc.ScanLine = VDR_ScanLine;
    dc.CreateDIB = VDR_CreateDIB;
    dc.WriteDIB = VDR_WriteDIB;
    dc.Close = VDR_Close;
    if (!dc.Init(&dc)) return 0;
    dc.pen_pattern = 0xFF;
    dc.pattern_mask = 0x80;
    dc.clip = dc.bounds;
    dc.fill_colour = kDefaultFill;
    dc.pen_width = 1;
    dc.pen_style = kPenSolid;
    dc.pen_colour = 0;
    dc.text_colour = 0;
    GDI_SelectFont(&dc, 0, nullptr, nullptr);
    return 1;
}

DC *GDI_CreateDC(int kind, int n) {
    host::trace("GDI_CreateDC");
    if (kind != 0 || n < 0 || n > 5) return nullptr;
    if (n == 0) return &displayDC;
    DC *dc = kFrameDC[n];
    *dc = displayDC;
    dc->frame = uint16_t(n);
    if (dc->Ioctl) dc->Ioctl(dc, kIoctlSetFrame, n);
    return dc;
}

DC *GDI_CreateCompDC(DC *source) {
    if (!source) return nullptr;
    memoryDC = *source;
    memoryDC.frame = 255;
    if (memoryDC.Ioctl) memoryDC.Ioctl(&memoryDC, kIoctlMemoryFrame, 0);
    return &memoryDC;
}

DC *GDI_GetDisplayDC() {
    return &displayDC;
}

void GDI_DeleteDC(DC *) {}

int GDI_Close() {
    if (displayDC.Close) displayDC.Close(&displayDC);
    return 1;
}

void GDI_SetRect(RECT *r, int left, int top, int right, int bottom) {
    *r = RECT{int16_t(left), int16_t(top), int16_t(right), int16_t(bottom)};
}

void GDI_NormalizeRect(RECT *r) {
    if (r->right < r->left) std::swap(r->left, r->right);
    if (r->bottom < r->top) std::swap(r->top, r->bottom);
}

void GDI_InflateRect(RECT *r, int dx, int dy) {
    GDI_SetRect(r, r->left - dx, r->top - dy, r->right + dx, r->bottom + dy);
}

void GDI_DeflateRect(RECT *r, int dx, int dy) {
    GDI_SetRect(r, r->left + dx, r->top + dy, r->right - dx, r->bottom - dy);
}

int GDI_IntersectRect(RECT *dst, const RECT *a, const RECT *b) {
    const int16_t left = std::max(a->left, b->left), right = std::min(a->right, b->right);
    if (left < right) {
        const int16_t top = std::max(a->top, b->top), bottom = std::min(a->bottom, b->bottom);
        if (top < bottom) {
            *dst = RECT{left, top, right, bottom};
            return 1;
        }
    }
    *dst = RECT{0, 0, 0, 0};
    return 0;
}

void GDI_UnionRect(RECT *dst, const RECT *a, const RECT *b) {
    *dst = RECT{std::min(a->left, b->left), std::min(a->top, b->top), std::max(a->right, b->right),
                std::max(a->bottom, b->bottom)};
}

int GDI_PtInRect(const RECT *r, int x, int y) {
    return r->left <= x && x < r->right && r->top <= y && y < r->bottom;
}

int GDI_SetClipRect(DC *dc, const RECT *rect, RECT *save) {
    if (!dc || !rect) return 0;
    if (save) {
        *save = dc->clip;
        save->right = int16_t(save->right + 1);
        save->bottom = int16_t(save->bottom + 1);
    }
    const RECT inclusive{rect->left, rect->top, int16_t(rect->right - 1),
                         int16_t(rect->bottom - 1)};
    return GDI_IntersectRect(&dc->clip, &inclusive, &dc->bounds);
}

int16_t GDI_SetROP(DC *dc, int mode) {
    if (!dc || !dc->Ioctl) return -1;
    return int16_t(dc->Ioctl(dc, kIoctlSetRop, mode));
}

void GDI_SetPen(DC *dc, int style, int width, COLOR colour) {
    if (!dc) return;
    dc->pen_style = int16_t(style);
    dc->pen_width = int16_t(width);
    dc->pen_colour = colour;
    dc->pen_pattern = pattern_of(style);
    dc->pattern_mask = 0x80;
}

int16_t GDI_SetFillColor(DC *dc, COLOR colour) {
    if (!dc) return -1;
    return int16_t(std::exchange(dc->fill_colour, colour));
}

int16_t GDI_SetTextColor(DC *dc, COLOR colour) {
    if (!dc) return -1;
    return int16_t(std::exchange(dc->text_colour, colour));
}

int16_t GDI_SetEndColor(DC *dc, COLOR colour) {
    if (!dc) return -1;
    return int16_t(std::exchange(dc->end_colour, colour));
}

void GDI_SetGradient(DC *dc, int mode) {
    if (dc) dc->gradient_mode = uint8_t(mode);
}

int16_t GDI_SetPixel(DC *dc, int x, int y, COLOR colour) {
    if (!dc || !dc->SetPixel) return -1;
    const RECT &c = dc->clip;
    if (x < c.left || x > c.right || y < c.top || y > c.bottom) return -1;
    return int16_t(dc->SetPixel(dc, x, y, colour));
}

int16_t GDI_GetPixel(DC *dc, int x, int y) {
    if (!dc || !dc->GetPixel) return -1;
    const RECT &c = dc->clip;
    // Right and bottom are exclusive here: the clip's last column and row read as -1.
    if (x < c.left || x >= c.right || y < c.top || y >= c.bottom) return -1;
    return int16_t(dc->GetPixel(dc, x, y));
}

void GDI_ScanLine(DC *dc, int y, int x1, int x2, COLOR colour) {
    if (!dc || !dc->ScanLine) return;
    const RECT &c = dc->clip;
    if (y < c.top || y > c.bottom) return;
    if (x1 < c.left) {
        if (x2 < c.left) return;
        x1 = c.left;
    }
    if (x2 > c.right) {
        if (x1 > c.right) return;
        x2 = c.right;
    }
    dc->ScanLine(dc, x1, y, x2 - x1 + 1, colour);
}

void GDI_Reset() {
    for (DC *dc : kFrameDC)
        *dc = DC{};
    memoryDC = DC{};
}
