// Fixture of the drawing tests: a panel screen of a given size, on a kernel
// with the pixel pipeline (build above 31) or without it.
#pragma once
#include "gdi/gdi.h"
#include "host/config.h"
#include "panel_fixture.h"
#include "platform/video.h"
#include "regs/plc_reg.h"

#include <cstdio>
#include <cstring>
#include <string>

// The kernel revision text start-up keeps in %SR201-%SR205 ("2.6.35.45"):
// its last two digits are the kernel build.
inline void set_kernel_build(int build) {
    char text[16] = {};
    std::snprintf(text, sizeof text, "2.6.35.%02u", unsigned(build) % 100);
    std::memcpy(plc_reg + sr_offset(sr::kKernelRev), text, 10);
}

class VideoTest : public PanelTest {
protected:
    // Opens the screen and returns the display context.
    DC *start(bool pxp = true, const std::string &screen = "800x480") {
        host::config_set("screen", screen);
        set_kernel_build(pxp ? 45 : 25);
        EXPECT_EQ(GDI_Init(), 1);
        return GDI_GetDisplayDC();
    }
    static COLOR px(const DC *dc, int x, int y) {
        int w = dc->bounds.right + 1;
        return COLOR(dc->buffer[(size_t(y) * size_t(w) + size_t(x)) / 2] >> (16 * (x & 1)));
    }
    static void put(DC *dc, int x, int y, COLOR c) {
        int w = dc->bounds.right + 1;
        uint32_t &word = dc->buffer[(size_t(y) * size_t(w) + size_t(x)) / 2];
        word = (x & 1) ? (word & 0xFFFF) | uint32_t(c) << 16 : (word & 0xFFFF0000) | c;
    }
    // Fills a rectangle of the context's buffer with distinct pixel values.
    static void pattern(DC *dc, int x0, int y0, int w, int h, COLOR base = 0x1000) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                put(dc, x0 + x, y0 + y, COLOR(base + y * 64 + x));
    }
};
