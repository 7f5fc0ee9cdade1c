// Fixture of the figure tests: a screen cleared to one background colour,
// pictures of small regions as text, and the screen as an RGB picture.
#pragma once
#include "gdi/shapes.h"
#include "host/fb.h"
#include "video_fixture.h"

#include <string>
#include <vector>

class ShapesTest : public VideoTest {
protected:
    static constexpr COLOR kBack = 0x0841, kPen = 0xF800, kFill = 0x001F;

    // A screen without the pixel pipeline, cleared to kBack, a solid thin pen
    // in kPen and no fill.
    DC *open(const std::string &screen = "480x272") {
        DC *dc = start(false, screen);
        clear(dc);
        GDI_SetPen(dc, kPenSolid, 1, kPen);
        GDI_SetFillColor(dc, kColorNone);
        return dc;
    }
    static void clear(DC *dc, COLOR c = kBack) {
        for (int y = 0; y <= dc->bounds.bottom; ++y)
            for (int x = 0; x <= dc->bounds.right; ++x)
                put(dc, x, y, c);
    }
    // The region as rows of text: '.' background, '#' pen colour, 'o' fill
    // colour, '?' anything else; each row ends with '\n'.
    static std::string pic(const DC *dc, int x0, int y0, int w, int h) {
        std::string s;
        for (int y = y0; y < y0 + h; ++y) {
            for (int x = x0; x < x0 + w; ++x) {
                const COLOR c = px(dc, x, y);
                s += c == kBack ? '.' : c == kPen ? '#' : c == kFill ? 'o' : '?';
            }
            s += '\n';
        }
        return s;
    }
    // Pixels of the whole screen that are not the background.
    static std::vector<std::pair<int, int>> marked(const DC *dc) {
        std::vector<std::pair<int, int>> out;
        for (int y = 0; y <= dc->bounds.bottom; ++y)
            for (int x = 0; x <= dc->bounds.right; ++x)
                if (px(dc, x, y) != kBack) out.emplace_back(x, y);
        return out;
    }
    static std::vector<uint8_t> rgb(const DC *dc) {
        const int w = dc->bounds.right + 1, h = dc->bounds.bottom + 1;
        std::vector<uint8_t> out(size_t(w) * size_t(h) * 3);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                host::rgb565_to_rgb(px(dc, x, y), &out[(size_t(y) * size_t(w) + size_t(x)) * 3]);
        return out;
    }
};
