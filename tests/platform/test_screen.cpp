// PNG snapshots of a test pattern drawn through the driver operations and
// shown by the page copy: with the pixel pipeline on the large panel, straight
// into the display on the small one.
#include "host/fb.h"
#include "png_snapshot.h"
#include "video_fixture.h"

#include <vector>

namespace {
// 1-bit 16 x 16: a ring with a dot.
const uint16_t kRing[16] = {0x07E0, 0x1FF8, 0x3C3C, 0x700E, 0x6006, 0xE007, 0xC003, 0xC183,
                            0xC183, 0xC003, 0xE007, 0x6006, 0x700E, 0x3C3C, 0x1FF8, 0x07E0};

DIB ring(std::vector<uint8_t> &store, COLOR fg, COLOR bg) {
    store.clear();
    for (uint16_t row : kRing)
        store.insert(store.end(), {uint8_t(row >> 8), uint8_t(row)});
    DIB d{};
    d.width = d.height = 16;
    d.bytes_per_row = 2;
    d.data_length = 32;
    d.bits_per_pixel = 1;
    d.foreground = fg;
    d.background = bg;
    d.pixels = store.data();
    d.record_bytes = uint32_t(store.size());
    return d;
}

void draw_pattern(DC *dc) {
    const int W = dc->bounds.right + 1, H = dc->bounds.bottom + 1;
    // Background and the palette bars along the top.
    for (int y = 0; y < H; ++y)
        GDI_ScanLine(dc, y, 0, W - 1, 0xFFDF);
    for (int i = 0; i < 16; ++i)
        for (int y = 4; y < 24; ++y)
            GDI_ScanLine(dc, y, 4 + i * (W - 8) / 16, 3 + (i + 1) * (W - 8) / 16, convert[i]);

    // Raster-operation bands: vertical stripes, then runs of one colour from
    // an odd and an even start through each combiner.
    for (int mode = 1; mode <= 7; ++mode) {
        const int y0 = 30 + (mode - 1) * 14;
        for (int y = y0; y < y0 + 12; ++y)
            for (int x = 4; x < W / 2 - 4; ++x)
                VDR_SetPixel(dc, x, y, (x / 6) & 1 ? 0xF81F : 0x07FF);
        GDI_SetROP(dc, mode);
        for (int y = y0 + 2; y < y0 + 10; ++y)
            GDI_ScanLine(dc, y, 9 + (y & 1), W / 2 - 10, 0x7BE0);
        GDI_SetROP(dc, 4);
    }

    // Bitmaps of each depth on the right half.
    std::vector<uint8_t> store;
    DIB d = ring(store, 0x001F, 0xFFFF); // no background: the stripes stay between
    for (int x = W / 2; x < W - 4; ++x)
        GDI_ScanLine(dc, 30 + (x & 7), x, x, 0xF800);
    dc->WriteDIB(dc, W / 2 + 1, 30, 16, 16, 0, 0, &d);
    d = ring(store, 0xFFFF, 0x0000);
    dc->WriteDIB(dc, W / 2 + 20, 30, 16, 16, 0, 0, &d);

    std::vector<uint8_t> nib(8 * 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 8; ++x)
            nib[size_t(y * 8 + x)] = uint8_t(((2 * x + y) & 15) << 4 | ((2 * x + 1 + y) & 15));
    DIB n{};
    n.width = 16;
    n.height = 16;
    n.bytes_per_row = 8;
    n.bits_per_pixel = 4;
    n.pixels = nib.data();
    n.record_bytes = uint32_t(nib.size());
    dc->WriteDIB(dc, W / 2 + 40, 30, 16, 16, 0, 0, &n);

    std::vector<uint8_t> idx(128 * 128);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x)
            idx[size_t(y * 128 + x)] = uint8_t((y / 8) * 16 + x / 8);
    DIB e{};
    e.width = e.height = 128;
    e.bytes_per_row = 128;
    e.bits_per_pixel = 8;
    e.pixels = idx.data();
    e.record_bytes = uint32_t(idx.size());
    dc->WriteDIB(dc, W / 2 + 1, 50, std::min(128, H - 54), 128, 0, 0, &e);

    // A 16-bit picture with a transparent colour, unpacked into span rows.
    std::vector<uint8_t> pic;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) {
            int dx = x - 20, dy = y - 20;
            COLOR c =
                dx * dx + dy * dy < 400 ? COLOR((x / 2) << 11 | (y * 63 / 40) << 5 | 16) : 0x0841;
            pic.insert(pic.end(), {uint8_t(c), uint8_t(c >> 8)});
        }
    DIB t{};
    t.width = t.height = 40;
    t.bytes_per_row = 80;
    t.data_length = 3200;
    t.bits_per_pixel = 16;
    t.flags = kDibTransparent;
    t.transparent = 0x0841;
    t.pixels = pic.data();
    t.record_bytes = uint32_t(pic.size());
    VDR_BmpClrMem();
    uint8_t *mem = VDR_BmpGetMem(8000);
    VDR_BmpUnpack(&t, mem, 8000);
    dc->WriteDIB(dc, W / 2 + 60, 20, 40, 40, 0, 0, &t);
    // The same, half past the clip's left edge.
    RECT clip{int16_t(W / 2 + 115), 0, int16_t(W), int16_t(H)};
    GDI_SetClipRect(dc, &clip, nullptr);
    dc->WriteDIB(dc, W / 2 + 100, 20, 40, 40, 0, 0, &t);
    RECT all{0, 0, int16_t(W), int16_t(H)};
    GDI_SetClipRect(dc, &all, nullptr);

    // Block copies of the palette bars: one pixel to the right and through xor.
    VDR_BitBlt(dc, 5, H - 40, W / 2, 12, dc, 4, 6);
    GDI_SetROP(dc, 2);
    VDR_BitBlt(dc, 4, H - 24, W / 2, 12, dc, 4, 6);
    GDI_SetROP(dc, 4);
    // A captured region drawn back lower down.
    DIB cap;
    dc->CreateDIB(dc, 4, 30, 60, 40, &cap);
    dc->WriteDIB(dc, W - 70, H - 50, 60, 40, 0, 0, &cap);
}
} // namespace

class ScreenTest : public VideoTest {};

TEST_F(ScreenTest, TestPatternThroughThePixelPipeline) {
    DC *dc = start(true, "800x480");
    draw_pattern(dc);
    EXPECT_EQ(VDR_CopyPage(), 1);
    EXPECT_EQ(screen_snapshot_diff("tests/platform/snapshots/pattern_800x480.png"), "");
}

TEST_F(ScreenTest, TestPatternWithoutThePipeline) {
    DC *page = start(false, "480x272");
    // Drawn on the second page, shown by the page copy.
    DC *dc = GDI_CreateDC(0, 1);
    draw_pattern(dc);
    std::vector<uint8_t> rgb;
    int w, h;
    ASSERT_TRUE(host::fb_visible_rgb(&rgb, &w, &h));
    EXPECT_EQ(rgb[(10 * 480 + 10) * 3], 0) << "not shown before the page copy";
    EXPECT_EQ(VDR_SetActiveFrame(dc), 1);
    EXPECT_EQ(screen_snapshot_diff("tests/platform/snapshots/pattern_480x272.png"), "");
    EXPECT_FALSE(VDR_CheckActiveFrame(page));
}
