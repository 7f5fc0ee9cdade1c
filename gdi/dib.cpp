// Bitmaps: a region drawn clipped, a one-bit bitmap turned by a quarter, and
// block copies between contexts.
#include "gdi/shapes.h"
#include "platform/video.h"

#include <algorithm>

namespace {
// Keeps the destination block inside the inclusive clip, moving the source
// with a clipped leading edge; false when nothing is left.
bool clip_block(const DC *dc, int &x, int &y, int &width, int &height, int &src_x, int &src_y) {
    const RECT &c = dc->clip;
    if (x < c.left) {
        src_x += c.left - x;
        width -= c.left - x;
        x = c.left;
    }
    if (x + width - 1 > c.right) width = c.right - x + 1;
    if (width < 1) return false;
    if (y < c.top) {
        src_y += c.top - y;
        height -= c.top - y;
        y = c.top;
    }
    if (y + height - 1 > c.bottom) height = c.bottom - y + 1;
    return height >= 1;
}
} // namespace

int GDI_WriteDIB(DC *dc, int x, int y, int width, int height, const DIB *dib, int src_x,
                 int src_y) {
    if (!dc || !dib || !dc->WriteDIB) return 0;
    width = std::min<int>(width, dib->width);
    height = std::min<int>(height, dib->height);
    // A bitmap with a transparent colour is clipped row by row by the driver.
    if (dib->flags & kDibTransparent) {
        dc->WriteDIB(dc, x, y, width, height, src_x, src_y, dib);
        return 1;
    }
    if (!clip_block(dc, x, y, width, height, src_x, src_y)) return 0;
    dc->WriteDIB(dc, x, y, width, height, src_x, src_y, dib);
    return 1;
}

int GDI_RotateC2DIB(DC *dc, const DIB *dib, int x, int y, int direction) {
    if (!dc || !dib || dib->bits_per_pixel != 1) return 0;
    if (dib->height <= 0) return 1;
    // Only raw rows can be read in place.
    if (dib->coding != 0 || !dib->pixels) return 0;
    const int width = std::min<int>(dib->width, dib->bytes_per_row * 8);
    // Only the whole rows the record holds.
    const int rows =
        dib->bytes_per_row
            ? int(std::min<uint32_t>(uint32_t(dib->height), dib->record_bytes / dib->bytes_per_row))
            : dib->height;
    for (int r = 0; r < rows; ++r) {
        const uint8_t *row = dib->pixels + size_t(r) * dib->bytes_per_row;
        for (int i = 0; i < width; ++i) {
            const COLOR c = row[i >> 3] & (0x80 >> (i & 7)) ? dib->foreground : dib->background;
            if (c == kColorNone) continue;
            if (direction == kRotateUp)
                GDI_SetPixel(dc, x + r, y - i, c);
            else
                GDI_SetPixel(dc, x - r, y + i, c);
        }
    }
    return 1;
}

int GDI_BitBlt(DC *dc, int x, int y, int width, int height, DC *src, int src_x, int src_y) {
    if (!dc || !src) return 0;
    if (!clip_block(dc, x, y, width, height, src_x, src_y)) return 0;
    return VDR_BitBlt(dc, x, y, width, height, src, src_x, src_y);
}
