// The video driver: raster operations, runs, block copies, bitmap writers and
// unpacking, frames and the bitmap working memory.
#include "host/ctl.h"
#include "host/fb.h"
#include "platform/pxp.h"
#include "video_fixture.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace {
struct RopCase {
    int mode;
    uint32_t even, odd, both; // the word after the mask of the even, odd, both halves
};
// d = 0x12345678, c = 0xABCD in both halves.
// clang-format off
const RopCase kRops[] = {
    {1, 0x1234A987, 0xEDCB5678, 0xEDCBA987},
    {2, 0x1234FDB5, 0xB9F95678, 0xB9F9FDB5},
    {3, 0x12340248, 0x02045678, 0x02040248},
    {4, 0x1234ABCD, 0xABCD5678, 0xABCDABCD},
    {5, 0x12345432, 0x54325678, 0x54325432},
    {6, 0x1234FFFD, 0xBBFD5678, 0xBBFDFFFD},
    {7, 0x1234567A, 0x56365678, 0x5636567A},
};
// clang-format on
} // namespace

TEST_F(VideoTest, RasterOperationsChangeOnlyTheMaskedHalves) {
    DC *dc = start();
    for (const RopCase &c : kRops) {
        SCOPED_TRACE(c.mode);
        EXPECT_EQ(GDI_SetROP(dc, c.mode), c.mode == 1 ? 4 : c.mode - 1)
            << "returns the previous mode";
        EXPECT_EQ(dc->rop_mode, c.mode);
        // One pixel on an even column, one on an odd column, a run of two.
        dc->buffer[0] = dc->buffer[1] = dc->buffer[2] = 0x12345678;
        EXPECT_EQ(VDR_SetPixel(dc, 0, 0, 0xABCD), 0xABCD);
        VDR_SetPixel(dc, 3, 0, 0xABCD);
        VDR_ScanLine(dc, 4, 0, 2, 0xABCD);
        EXPECT_EQ(dc->buffer[0], c.even);
        EXPECT_EQ(dc->buffer[1], c.odd);
        EXPECT_EQ(dc->buffer[2], c.both);
    }
}

TEST_F(VideoTest, RasterModesOutsideOneToSevenAreRefused) {
    DC *dc = start();
    GDI_SetROP(dc, 2);
    for (int mode : {0, 8, -1, 100}) {
        EXPECT_EQ(GDI_SetROP(dc, mode), -1) << mode;
        EXPECT_EQ(dc->rop_mode, 2) << mode;
        EXPECT_EQ(dc->rop, ROP_Xor) << mode;
    }
}

TEST_F(VideoTest, ScanLinesTakeHalfWordsAtOddStartsAndEnds) {
    DC *dc = start();
    struct Case {
        int x, count;
        const char *row; // columns 0-7 afterwards: '#' drawn, '.' untouched
    };
    // clang-format off
    const Case cases[] = {
        {0, 0, "........"},
        {1, 1, ".#......"}, // only the high half of one word
        {2, 1, "..#....."},
        {1, 2, ".##....."},
        {2, 2, "..##...."},
        {1, 4, ".####..."},
        {2, 5, "..#####."},
        {3, 5, "...#####"},
        {-2, 4, "##......"}, // kept on the screen
        {0, -3, "........"},
    };
    // clang-format on
    for (const Case &c : cases) {
        pattern(dc, 0, 5, 8, 1);
        VDR_ScanLine(dc, c.x, 5, c.count, 0xF800);
        std::string got;
        for (int x = 0; x < 8; ++x) {
            COLOR p = px(dc, x, 5);
            got += p == 0xF800 ? '#' : p == COLOR(0x1000 + x) ? '.' : '?';
        }
        EXPECT_EQ(got, c.row) << "x " << c.x << " count " << c.count;
    }
    // The last column of the screen and past it.
    VDR_ScanLine(dc, 798, 6, 10, 0x07E0);
    EXPECT_EQ(px(dc, 798, 6), 0x07E0);
    EXPECT_EQ(px(dc, 799, 6), 0x07E0);
    EXPECT_EQ(px(dc, 0, 7), 0) << "nothing wraps into the next row";
}

TEST_F(VideoTest, PenStyleFourDrawsOnlyOverTheFillColour) {
    DC *dc = start();
    GDI_SetFillColor(dc, 0x1234);
    GDI_SetPen(dc, kPenOverFill, 1, 0);
    put(dc, 10, 10, 0x1234);
    put(dc, 11, 10, 0x4321);
    VDR_SetPixel(dc, 10, 10, 0xFFE0);
    VDR_SetPixel(dc, 11, 10, 0xFFE0);
    EXPECT_EQ(px(dc, 10, 10), 0xFFE0);
    EXPECT_EQ(px(dc, 11, 10), 0x4321);
}

TEST_F(VideoTest, PixelsOutsideTheScreenAreNeitherWrittenNorRead) {
    DC *dc = start(true, "480x272");
    for (auto [x, y] : {std::pair{-1, 0}, {480, 0}, {0, -1}, {0, 272}, {100000, 3}}) {
        EXPECT_EQ(VDR_SetPixel(dc, x, y, 0x1234), 0x1234);
        EXPECT_EQ(VDR_GetPixel(dc, x, y), -1);
    }
    EXPECT_EQ(VDR_GetPixel(dc, 479, 271), 0);
    VDR_SetPixel(dc, 479, 271, 0xFFFF);
    EXPECT_EQ(VDR_GetPixel(dc, 479, 271), -1) << "0xFFFF reads as -1";
}

// Block copies: every combination of source and destination column parity,
// widths odd and even, against a pixel-by-pixel copy; the pixels beside the
// block stay as they were.
TEST_F(VideoTest, BlockCopyParityCases) {
    DC *dc = start();
    DC *src = GDI_CreateDC(0, 1);
    pattern(src, 0, 0, 64, 4, 0x2000);
    for (int sx : {4, 5})
        for (int dx : {10, 11})
            for (int w : {1, 2, 3, 6, 7}) {
                SCOPED_TRACE(testing::Message() << "sx " << sx << " dx " << dx << " w " << w);
                pattern(dc, 0, 20, 64, 4, 0x5000);
                EXPECT_EQ(VDR_BitBlt(dc, dx, 21, w, 2, src, sx, 1), 1);
                for (int y = 20; y < 24; ++y)
                    for (int x = 0; x < 64; ++x) {
                        bool in = x >= dx && x < dx + w && y >= 21 && y < 23;
                        COLOR want = in ? px(src, sx + x - dx, 1 + y - 21)
                                        : COLOR(0x5000 + (y - 20) * 64 + x);
                        ASSERT_EQ(px(dc, x, y), want) << "x " << x << " y " << y;
                    }
            }
}

TEST_F(VideoTest, BlockCopyGoesThroughTheDestinationsRasterOperation) {
    DC *dc = start();
    DC *src = GDI_CreateDC(0, 1);
    for (int x = 0; x < 8; ++x)
        put(src, x, 0, 0x00FF);
    for (int x = 0; x < 8; ++x)
        put(dc, x, 0, 0x0F0F);
    GDI_SetROP(dc, 2); // xor
    VDR_BitBlt(dc, 1, 0, 5, 1, src, 0, 0);
    const COLOR want[8] = {0x0F0F, 0x0FF0, 0x0FF0, 0x0FF0, 0x0FF0, 0x0FF0, 0x0F0F, 0x0F0F};
    for (int x = 0; x < 8; ++x)
        EXPECT_EQ(px(dc, x, 0), want[x]) << x;
    EXPECT_EQ(VDR_BitBlt(dc, 0, 0, 4, 0, src, 0, 0), 0) << "a height of 0 copies nothing";
}

TEST_F(VideoTest, BlockCopyWithinOneBufferCopiesTheBlockAsItWas) {
    DC *dc = start();
    struct Case {
        int dx, dy;
    };
    for (Case c : {Case{1, 0}, Case{-1, 0}, Case{0, 1}, Case{0, -1}, Case{3, 2}, Case{-3, -2}}) {
        pattern(dc, 0, 0, 40, 20);
        std::vector<COLOR> before;
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 40; ++x)
                before.push_back(px(dc, x, y));
        VDR_BitBlt(dc, 10 + c.dx, 5 + c.dy, 15, 8, dc, 10, 5);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 15; ++x)
                ASSERT_EQ(px(dc, 10 + c.dx + x, 5 + c.dy + y),
                          before[size_t((5 + y) * 40 + 10 + x)])
                    << "shift " << c.dx << "," << c.dy << " at " << x << "," << y;
    }
}

TEST_F(VideoTest, BlockCopyKeepsBothBlocksOnTheScreen) {
    DC *dc = start(true, "480x272");
    DC *src = GDI_CreateDC(0, 1);
    pattern(src, 0, 0, 8, 8);
    // Source starting left of the screen: the destination moves with it.
    EXPECT_EQ(VDR_BitBlt(dc, 100, 100, 8, 8, src, -2, -3), 1);
    EXPECT_EQ(px(dc, 102, 103), px(src, 0, 0));
    EXPECT_EQ(px(dc, 101, 103), 0);
    // Blocks reaching past the right and bottom edges are cut there.
    EXPECT_EQ(VDR_BitBlt(dc, 476, 270, 20, 20, src, 0, 0), 1);
    EXPECT_EQ(px(dc, 479, 271), px(src, 3, 1));
    EXPECT_EQ(VDR_BitBlt(dc, 0, 0, 20, 20, src, 470, 300), 0);
}

namespace {
DIB bitmap(int w, int h, int bpp, uint8_t *pixels, int stride = 0) {
    DIB d{};
    d.width = int16_t(w);
    d.height = int16_t(h);
    d.bits_per_pixel = uint8_t(bpp);
    d.bytes_per_row = uint16_t(stride ? stride : (w * bpp + 7) / 8);
    d.data_length = uint32_t(d.bytes_per_row * h);
    d.record_bytes = d.data_length;
    d.pixels = pixels;
    return d;
}
} // namespace

// Each depth's walker, with and without a transparent colour; the pixels of
// the region only, the rest untouched.
TEST_F(VideoTest, BitmapWritersOfEveryDepth) {
    DC *dc = start();
    struct Case {
        const char *name;
        int bpp;
        std::vector<uint8_t> data; // one row
        COLOR fg, bg;
        bool transparent;
        COLOR tc;
        std::vector<int> want; // per column: a colour, or -1 untouched
    };
    const Case cases[] = {
        {"1 bit",
         1,
         {0xA5},
         0xF800,
         0x001F,
         false,
         0,
         {0xF800, 0x001F, 0xF800, 0x001F, 0x001F, 0xF800, 0x001F, 0xF800}},
        {"1 bit no background",
         1,
         {0xA5},
         0xF800,
         0xFFFF,
         false,
         0,
         {0xF800, -1, 0xF800, -1, -1, 0xF800, -1, 0xF800}},
        {"1 bit transparent fg",
         1,
         {0xA5},
         0xF800,
         0x001F,
         true,
         0xF800,
         {-1, 0x001F, -1, 0x001F, 0x001F, -1, 0x001F, -1}},
        {"4 bit",
         4,
         {0x01, 0x8F, 0xC9, 0x7A},
         0,
         0,
         false,
         0,
         {0x0000, 0x000F, 0xC618, 0xFFFF, 0xF800, 0x001F, 0x7BEF, 0x07E0}},
        {"4 bit transparent",
         4,
         {0x01, 0x8F, 0xC9, 0x7A},
         0,
         0,
         true,
         0xFFFF,
         {0x0000, 0x000F, 0xC618, -1, 0xF800, 0x001F, 0x7BEF, 0x07E0}},
        {"8 bit",
         8,
         {0x00, 0xFF, 219, 0xE0, 0x1C, 0x03, 0x92, 0x25},
         0,
         0,
         false,
         0,
         {0x0000, 0xFFFF, 0xC618, 0xF800, 0x07E0, 0x001F, 0x8410, 0x2108}},
        {"8 bit transparent 0xFFDF is white",
         8,
         {0x00, 0xFF, 219, 0xE0, 0x1C, 0x03, 0x92, 0x25},
         0,
         0,
         true,
         0xFFDF,
         {0x0000, -1, 0xC618, 0xF800, 0x07E0, 0x001F, 0x8410, 0x2108}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        pattern(dc, 0, 0, 16, 1);
        std::vector<uint8_t> data = c.data;
        DIB d = bitmap(8, 1, c.bpp, data.data());
        d.foreground = c.fg;
        d.background = c.bg;
        d.flags = c.transparent ? kDibTransparent : 0;
        d.transparent = c.tc;
        for (int x0 : {3, 4}) { // odd and even start columns
            pattern(dc, 0, 0, 16, 1);
            EXPECT_EQ(VDR_WriteDIB(dc, x0, 0, 8, 1, 0, 0, &d), 1);
            for (int x = 0; x < 16; ++x) {
                int i = x - x0;
                int want =
                    (i >= 0 && i < 8 && c.want[size_t(i)] >= 0) ? c.want[size_t(i)] : 0x1000 + x;
                EXPECT_EQ(px(dc, x, 0), want) << "start " << x0 << " column " << x;
            }
        }
    }
}

TEST_F(VideoTest, BitmapRegionsStartAtTheSourceColumnAndOrigin) {
    DC *dc = start();
    // 16-bit 6 x 3, each pixel its column + 10 x row + 1.
    std::vector<uint8_t> data;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 6; ++x) {
            data.push_back(uint8_t(x + 10 * y + 1));
            data.push_back(0);
        }
    DIB d = bitmap(6, 3, 16, data.data());
    VDR_WriteDIB(dc, 20, 30, 3, 2, 2, 1, &d);
    EXPECT_EQ(px(dc, 20, 30), 13);
    EXPECT_EQ(px(dc, 22, 31), 25);
    EXPECT_EQ(px(dc, 23, 30), 0);
    d.x_origin = 1;
    VDR_WriteDIB(dc, 40, 30, 2, 1, 2, 0, &d);
    EXPECT_EQ(px(dc, 40, 30), 4) << "the origin adds to the source column";
    // More than the bitmap holds: only what it has is read.
    pattern(dc, 60, 30, 10, 5);
    d.x_origin = 0;
    EXPECT_EQ(VDR_WriteDIB(dc, 60, 30, 10, 5, 4, 1, &d), 1);
    EXPECT_EQ(px(dc, 61, 31), 26);
    EXPECT_EQ(px(dc, 62, 31), COLOR(0x1000 + 64 + 2));
    EXPECT_EQ(px(dc, 60, 32), COLOR(0x1000 + 128));
    // 16-bit pixels bypass the raster operation.
    GDI_SetROP(dc, 2);
    put(dc, 80, 30, 0xFFFF);
    VDR_WriteDIB(dc, 80, 30, 1, 1, 0, 0, &d);
    EXPECT_EQ(px(dc, 80, 30), 1);
}

TEST_F(VideoTest, TransparentBitmapsAreClippedByTheDriver) {
    DC *dc = start();
    RECT clip{10, 10, 14, 14};
    GDI_SetClipRect(dc, &clip, nullptr); // inclusive 10..13
    std::vector<uint8_t> data(8 * 8 * 2, 0x11);
    for (uint8_t bpp : {16, 8}) {
        pattern(dc, 0, 0, 24, 24);
        DIB d = bitmap(8, 8, bpp, data.data());
        d.flags = kDibTransparent;
        d.transparent = 0x1234;
        VDR_WriteDIB(dc, 8, 8, 8, 8, 0, 0, &d);
        int drawn = 0;
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 24; ++x)
                if (px(dc, x, y) != COLOR(0x1000 + y * 64 + x)) {
                    ++drawn;
                    EXPECT_TRUE(x >= 10 && x <= 13 && y >= 10 && y <= 13) << x << "," << y;
                }
        EXPECT_EQ(drawn, 16) << int(bpp);
    }
}

TEST_F(VideoTest, CodedBitmapsDecodeBeforeDrawing) {
    struct Case {
        const char *name;
        int coding;
        std::vector<uint8_t> in;
        uint32_t length;
        std::vector<uint8_t> out;
    };
    // clang-format off
    const Case cases[] = {
        {"zero escapes", 1, {7, 0, 3, 9, 0, 130, 5}, 7, {7, 0, 0, 0, 9, 255, 255, 5}},
        {"zero escape of 0 bytes", 1, {0, 0, 4}, 3, {4}},
        {"length ends", 1, {1, 2, 3, 4}, 2, {1, 2}},
        {"runs and literals", 2, {0x81, 6, 2, 1, 2, 3, 0x80, 9}, 5, {6, 6, 6, 6, 1, 2, 3, 9, 9, 9}},
        {"end mark", 2, {0, 5, 255, 0, 7}, 9, {5}},
        {"length ends", 2, {0, 5, 0, 6}, 1, {5}},
        {"16-bit runs and literals", 3, {0x80, 0x34, 0x12, 1, 1, 0, 2, 0}, 6,
         {0x34, 0x12, 0x34, 0x12, 0x34, 0x12, 1, 0, 2, 0}},
        {"16-bit end mark", 3, {0, 5, 0, 255, 0, 7, 0}, 9, {5, 0}},
    };
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> out(64, 0xEE);
        const uint8_t *in = c.in.data(), *end = in + c.in.size();
        uint32_t n = c.coding == 1   ? XpandDIB1(in, end, c.length, out.data(), 64)
                     : c.coding == 2 ? XpandDIB2(in, end, c.length, out.data(), 64)
                                     : XpandDIB3(in, end, c.length, out.data(), 64);
        EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + n), c.out);
        // Never past the room given.
        std::vector<uint8_t> small(3, 0xEE);
        small.resize(8, 0xAB);
        uint32_t k = c.coding == 1   ? XpandDIB1(in, end, c.length, small.data(), 3)
                     : c.coding == 2 ? XpandDIB2(in, end, c.length, small.data(), 3)
                                     : XpandDIB3(in, end, c.length, small.data(), 3);
        EXPECT_LE(k, 3u);
        EXPECT_EQ(small[3], 0xAB);
    }
    // Drawn from the decoded rows: a 4 x 2 bitmap of 8 bits, coding 2.
    DC *dc = start();
    std::vector<uint8_t> coded = {0x82, 0xE0, 0x81, 0x03};
    DIB d = bitmap(4, 2, 8, coded.data());
    d.coding = 2;
    d.data_length = 2;
    d.record_bytes = uint32_t(coded.size());
    VDR_WriteDIB(dc, 0, 0, 4, 2, 0, 0, &d);
    EXPECT_EQ(px(dc, 3, 0), 0xF800);
    EXPECT_EQ(px(dc, 0, 1), 0xF800) << "the run goes on over the row end";
    EXPECT_EQ(px(dc, 1, 1), 0x001F);
    d.coding = 5;
    EXPECT_EQ(VDR_WriteDIB(dc, 0, 0, 4, 2, 0, 0, &d), 0) << "an unknown coding draws nothing";
}

// A record cut short (its block or slot ends inside it) decodes only the
// items wholly present: what a cut record gives is a prefix of what the
// whole record gives, and the whole record decodes as before. Every cut is
// copied into a buffer of exactly its size, so a read past it is caught.
TEST_F(VideoTest, CodedRecordsCutShortDecodeOnlyWhatIsPresent) {
    struct Case {
        const char *name;
        int coding;
        std::vector<uint8_t> in;
        uint32_t length;
        std::vector<uint8_t> whole; // the whole record's output
    };
    // clang-format off
    const Case cases[] = {
        {"literals and zero escapes", 1, {7, 0, 3, 9, 0, 130, 5}, 7,
         {7, 0, 0, 0, 9, 255, 255, 5}},
        {"a literal of 100 claimed by 2 bytes", 2, {0x63, 1}, 100, {}},
        {"runs and literals", 2, {0x81, 6, 2, 1, 2, 3, 0x80, 9}, 5,
         {6, 6, 6, 6, 1, 2, 3, 9, 9, 9}},
        {"16-bit literal of 100 claimed by 3 bytes", 3, {0x63, 1, 2}, 200, {}},
        {"16-bit runs and literals", 3, {0x80, 0x34, 0x12, 1, 1, 0, 2, 0}, 6,
         {0x34, 0x12, 0x34, 0x12, 0x34, 0x12, 1, 0, 2, 0}},
    };
    // clang-format on
    auto xpand = [](int coding, const uint8_t *in, size_t size, uint32_t length,
                    std::vector<uint8_t> &out) {
        const uint8_t *end = in + size;
        uint32_t cap = uint32_t(out.size());
        uint32_t n = coding == 1   ? XpandDIB1(in, end, length, out.data(), cap)
                     : coding == 2 ? XpandDIB2(in, end, length, out.data(), cap)
                                   : XpandDIB3(in, end, length, out.data(), cap);
        out.resize(n);
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        for (size_t cut = 0; cut <= c.in.size(); ++cut) {
            std::unique_ptr<uint8_t[]> record(new uint8_t[cut ? cut : 1]);
            std::copy(c.in.begin(), c.in.begin() + ptrdiff_t(cut), record.get());
            std::vector<uint8_t> out(256);
            xpand(c.coding, record.get(), cut, c.length, out);
            if (cut == c.in.size()) {
                EXPECT_EQ(out, c.whole);
            } else {
                ASSERT_LE(out.size(), c.whole.size()) << "cut at " << cut;
                EXPECT_TRUE(std::equal(out.begin(), out.end(), c.whole.begin()))
                    << "cut at " << cut;
            }
        }
    }
    // Through the unpacker and the drawing: a 4 x 4 bitmap of 8 bits whose
    // record is cut after its first run: one whole row, the rest not read.
    DC *dc = start();
    std::unique_ptr<uint8_t[]> cut(new uint8_t[2]{0x81, 0x07});
    DIB d = bitmap(4, 4, 8, cut.get());
    d.coding = 2;
    d.data_length = 3; // the coding's count reaches past the cut: a literal follows
    d.record_bytes = 2;
    pattern(dc, 0, 0, 4, 4);
    EXPECT_EQ(VDR_WriteDIB(dc, 0, 0, 4, 4, 0, 0, &d), 1);
    EXPECT_EQ(px(dc, 3, 0), convert8to16(7));
    EXPECT_EQ(px(dc, 0, 1), COLOR(0x1000 + 64)) << "no second row was decoded";
    VDR_BmpClrMem();
    uint8_t *mem = VDR_BmpGetMem(64);
    DIB u = d;
    EXPECT_EQ(VDR_BmpUnpack(&u, mem, 64), mem);
    EXPECT_EQ(u.height, 1);
    // Raw rows: only the whole rows the record holds are unpacked or drawn.
    std::unique_ptr<uint8_t[]> raw(new uint8_t[6]{1, 2, 3, 4, 5, 6});
    DIB r = bitmap(4, 4, 8, raw.get());
    r.record_bytes = 6;
    pattern(dc, 0, 0, 4, 4);
    EXPECT_EQ(VDR_WriteDIB(dc, 0, 0, 4, 4, 0, 0, &r), 1);
    EXPECT_EQ(px(dc, 3, 0), convert8to16(4));
    EXPECT_EQ(px(dc, 0, 1), COLOR(0x1000 + 64));
    DIB ru = r;
    EXPECT_EQ(VDR_BmpUnpack(&ru, mem, 64), mem);
    EXPECT_EQ(ru.height, 1);
    // A 16-bit bitmap with a transparent colour whose record holds no whole
    // row: nothing to turn into span rows (found by the bitmap fuzzer).
    std::unique_ptr<uint8_t[]> part(new uint8_t[3]{0x00, 0x34, 0x12});
    DIB t = bitmap(4, 4, 16, part.get());
    t.coding = 3;
    t.record_bytes = 3;
    t.flags = kDibTransparent;
    t.transparent = 0x1234;
    EXPECT_EQ(VDR_BmpUnpack(&t, mem, 64), mem);
    EXPECT_EQ(t.height, 0);
    EXPECT_EQ(VDR_WriteDIB(dc, 0, 0, 4, 4, 0, 0, &t), 0);
    // A JPEG record is read no further than its bytes either.
    std::unique_ptr<uint8_t[]> jpeg(new uint8_t[2]{0xFF, 0xD8});
    DIB j = bitmap(4, 4, 16, jpeg.get());
    j.coding = 4;
    j.data_length = 4096;
    j.record_bytes = 2;
    EXPECT_EQ(VDR_BmpUnpack(&j, mem, 64), jpeg.get());
}

// Unpacked bitmaps draw exactly as their coded originals.
TEST_F(VideoTest, UnpackedBitmapsDrawLikeTheirOriginals) {
    DC *dc = start();
    DC *ref = GDI_CreateDC(0, 1);
    struct Case {
        const char *name;
        int w, h, bpp;
        COLOR fg, bg;
        bool transparent;
        COLOR tc;
    };
    const Case cases[] = {
        {"1 bit", 13, 5, 1, 0xF800, 0x07E0, false, 0},
        {"1 bit without background", 13, 5, 1, 0xF800, 0xFFFF, false, 0},
        {"4 bit", 7, 4, 4, 0, 0, false, 0},
        {"4 bit transparent", 7, 4, 4, 0, 0, true, 0xFFFF},
        {"8 bit transparent", 9, 4, 8, 0, 0, true, 0x0000},
        {"16 bit", 5, 3, 16, 0, 0, false, 0},
        {"16 bit transparent", 11, 6, 16, 0, 0, true, 0x2222},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        DIB d = bitmap(c.w, c.h, c.bpp, nullptr);
        // Runs of two transparent pixels (index 0 of 8 bits, 15 of 4 bits)
        // between varied ones.
        const int cols = d.bytes_per_row * 8 / c.bpp;
        std::vector<uint8_t> data(size_t(d.bytes_per_row) * size_t(c.h));
        for (int k = 0; k < cols * c.h; ++k) {
            const bool clear = (k / 2) % 3 == 0;
            uint8_t *row = data.data() + size_t(k / cols) * d.bytes_per_row;
            const int col = k % cols;
            if (c.bpp == 16) {
                COLOR v = clear ? c.tc : COLOR(0x1000 + k * 7);
                row[2 * col] = uint8_t(v);
                row[2 * col + 1] = uint8_t(v >> 8);
            } else if (c.bpp == 8) {
                row[col] = clear ? 0 : uint8_t(k * 29 | 1);
            } else if (c.bpp == 4) {
                uint8_t v = clear ? 15 : uint8_t(k % 14 + 1);
                row[col / 2] |= uint8_t(col & 1 ? v : v << 4);
            } else if (k % 3 == 0 || k % 5 == 0) {
                row[col / 8] |= uint8_t(0x80 >> (col & 7));
            }
        }
        d.pixels = data.data();
        d.foreground = c.fg;
        d.background = c.bg;
        d.flags = c.transparent ? kDibTransparent : 0;
        d.transparent = c.tc;
        pattern(ref, 0, 0, 32, 16);
        pattern(dc, 0, 0, 32, 16);
        VDR_WriteDIB(ref, 3, 2, c.w, c.h, 0, 0, &d);
        // Coded as raw rows, then unpacked into the working memory.
        VDR_BmpClrMem();
        uint8_t *mem = VDR_BmpGetMem(4096);
        DIB u = d;
        EXPECT_EQ(VDR_BmpUnpack(&u, mem, 4096), mem);
        EXPECT_EQ(u.coding, 0);
        EXPECT_EQ(u.bits_per_pixel, c.bpp == 1 && c.bg == 0xFFFF ? 1 : 16);
        EXPECT_EQ(u.span_rows, c.transparent ? 1 : 0);
        VDR_WriteDIB(dc, 3, 2, c.w, c.h, 0, 0, &u);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 32; ++x)
                ASSERT_EQ(px(dc, x, y), px(ref, x, y)) << x << "," << y;
        // A region of it, placed half outside the clip (the driver clips spans).
        RECT clip{6, 0, 30, 16};
        GDI_SetClipRect(ref, &clip, nullptr);
        GDI_SetClipRect(dc, &clip, nullptr);
        pattern(ref, 0, 0, 32, 16);
        pattern(dc, 0, 0, 32, 16);
        if (c.transparent) {
            VDR_WriteDIB(ref, 2, 1, c.w - 1, c.h - 1, 1, 1, &d);
            VDR_WriteDIB(dc, 2, 1, c.w - 1, c.h - 1, 1, 1, &u);
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 32; ++x)
                    ASSERT_EQ(px(dc, x, y), px(ref, x, y)) << x << "," << y;
        }
        RECT all{0, 0, 800, 480};
        GDI_SetClipRect(ref, &all, nullptr);
        GDI_SetClipRect(dc, &all, nullptr);
    }
}

TEST_F(VideoTest, UnpackingStaysWithinTheRoomGiven) {
    start();
    // A 16-bit row alternating transparent and opaque pixels needs more room
    // as spans than as pixels: without it the pixels stay plain.
    std::vector<uint8_t> data;
    for (int i = 0; i < 16; ++i) {
        data.push_back(i & 1 ? 0x55 : 0x00);
        data.push_back(0);
    }
    DIB d = bitmap(16, 1, 16, data.data());
    d.flags = kDibTransparent;
    d.transparent = 0;
    std::vector<uint8_t> room(72, 0xEE);
    DIB u = d;
    EXPECT_EQ(VDR_BmpUnpack(&u, room.data(), 48), room.data());
    EXPECT_EQ(u.span_rows, 0);
    EXPECT_EQ(u.bits_per_pixel, 16);
    EXPECT_EQ(std::vector<uint8_t>(room.begin() + 48, room.end()), std::vector<uint8_t>(24, 0xEE));
    // Expanding 4-bit pixels needs four times the room.
    room.assign(72, 0xEE);
    std::vector<uint8_t> nibbles(8, 0x12);
    DIB n = bitmap(16, 1, 4, nibbles.data());
    EXPECT_EQ(VDR_BmpUnpack(&n, room.data(), 16), room.data());
    EXPECT_EQ(n.bits_per_pixel, 4) << "kept as it was decoded";
    EXPECT_EQ(room[16], 0xEE);
    // Coded data that decodes to fewer rows than the bitmap claims: only the
    // whole rows remain.
    std::vector<uint8_t> coded = {0x85, 0x07}; // 8 bytes
    DIB c = bitmap(4, 4, 8, coded.data());
    c.coding = 2;
    c.data_length = 1;
    c.record_bytes = uint32_t(coded.size());
    EXPECT_EQ(VDR_BmpUnpack(&c, room.data(), 64), room.data());
    EXPECT_EQ(c.height, 2);
    // Codings above 4 are left as they are.
    DIB other = bitmap(4, 4, 8, coded.data());
    other.coding = 9;
    EXPECT_EQ(VDR_BmpUnpack(&other, room.data(), 64), coded.data());
    EXPECT_EQ(other.coding, 9);
}

TEST_F(VideoTest, CapturedRegionsDrawBack) {
    DC *dc = start();
    pattern(dc, 100, 50, 21, 9);
    DIB d;
    EXPECT_EQ(VDR_CreateDIB(dc, 101, 51, 17, 6, &d), 1);
    EXPECT_EQ(d.width, 17);
    EXPECT_EQ(d.height, 6);
    EXPECT_EQ(d.bytes_per_row, 34);
    EXPECT_EQ(d.bits_per_pixel, 16);
    EXPECT_EQ(d.x_origin, 0);
    EXPECT_EQ(d.flags, 0);
    VDR_WriteDIB(dc, 301, 51, 17, 6, 0, 0, &d);
    for (int y = 51; y < 57; ++y)
        for (int x = 101; x < 118; ++x)
            ASSERT_EQ(px(dc, x + 200, y), px(dc, x, y));
    // A region reaching past the screen is captured up to its edge.
    EXPECT_EQ(VDR_CreateDIB(dc, 790, 470, 20, 20, &d), 1);
    EXPECT_EQ(d.width, 10);
    EXPECT_EQ(d.height, 10);
    EXPECT_EQ(VDR_CreateDIB(dc, 800, 0, 5, 5, &d), 0);
}

TEST_F(VideoTest, FramesOfTheContexts) {
    DC *dc = start();
    DC *f1 = GDI_CreateDC(0, 1), *f2 = GDI_CreateDC(0, 2), *f4 = GDI_CreateDC(0, 4);
    DC *f5 = GDI_CreateDC(0, 5), *f3 = GDI_CreateDC(0, 3);
    std::vector<uint32_t *> bufs = {dc->buffer, f1->buffer, f2->buffer, f4->buffer};
    for (size_t i = 0; i < bufs.size(); ++i) {
        ASSERT_NE(bufs[i], nullptr);
        for (size_t j = 0; j < i; ++j)
            EXPECT_NE(bufs[i], bufs[j]);
    }
    EXPECT_EQ(f5->buffer, nullptr) << "frame 5 is none";
    EXPECT_EQ(f3->buffer, nullptr) << "there is no frame 3";
    EXPECT_EQ(VDR_Ioctl(f3, kIoctlSetFrame, 3), -1);
    EXPECT_EQ(VDR_Ioctl(f3, kIoctlSetFrame, 6), -1);
    EXPECT_EQ(VDR_Ioctl(f3, 9, 0), -1);
    // A context without a buffer draws nothing and reads nothing.
    VDR_SetPixel(f5, 1, 1, 5);
    VDR_ScanLine(f5, 0, 1, 10, 5);
    EXPECT_EQ(VDR_GetPixel(f5, 1, 1), -1);
    EXPECT_EQ(VDR_BitBlt(dc, 0, 0, 4, 4, f5, 0, 0), 0);
    // The memory context draws into frame 1.
    EXPECT_EQ(GDI_CreateCompDC(dc)->buffer, f1->buffer);
    EXPECT_EQ(VDR_GetActiveFrame(), 0);
    EXPECT_TRUE(VDR_CheckActiveFrame(dc));
    EXPECT_FALSE(VDR_CheckActiveFrame(f2));
    VDR_SetActiveFrame(f2);
    EXPECT_TRUE(VDR_CheckActiveFrame(f2));
    EXPECT_FALSE(VDR_CheckActiveFrame(dc));
    EXPECT_EQ(VDR_IsPageCopied(), 1);
}

TEST_F(VideoTest, WithoutThePipelineThePageCopyFillsTheDisplay) {
    DC *dc = start(false, "480x272");
    EXPECT_EQ(fPxpEnable, 0);
    DC *f2 = GDI_CreateDC(0, 2);
    put(dc, 5, 5, 0x1111);
    put(f2, 5, 5, 0x2222);
    EXPECT_EQ(VDR_CopyPage(), 1);
    EXPECT_EQ(px(dc, 5, 5), 0x1111) << "frame 0 is the display: nothing to copy";
    EXPECT_EQ(VDR_SetActiveFrame(f2), 1);
    EXPECT_EQ(px(dc, 5, 5), 0x2222);
    VDR_SetActiveFrame(dc);
    put(dc, 6, 5, 0x3333);
    std::vector<uint8_t> rgb;
    int w, h;
    ASSERT_TRUE(host::fb_visible_rgb(&rgb, &w, &h));
    EXPECT_EQ(w, 480);
    EXPECT_EQ(h, 272);
    size_t i = (5 * 480 + 6) * 3;
    uint8_t want[3];
    host::rgb565_to_rgb(0x3333, want);
    EXPECT_EQ(rgb[i], want[0]);
    EXPECT_EQ(rgb[i + 2], want[2]);
}

TEST_F(VideoTest, BitmapWorkingMemory) {
    VDR_BmpClrMem();
    uint8_t *a = VDR_BmpGetMem(5), *b = VDR_BmpGetMem(8), *c = VDR_BmpGetMem(0);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(b - a, 8) << "rounded up to 4 bytes";
    EXPECT_EQ(c - b, 8);
    EXPECT_EQ(VDR_BmpGetMem(0x1A00000), nullptr) << "more than is left";
    uint8_t *d = VDR_BmpGetMem(0x1A00000 - 16);
    EXPECT_EQ(d, c);
    EXPECT_EQ(VDR_BmpGetMem(1), nullptr);
    VDR_BmpClrMem();
    EXPECT_EQ(VDR_BmpGetMem(1), a);
}

TEST_F(VideoTest, NoFrameBufferNoScreen) {
    VDR_CtlRegister();
    host::config_set("fb", "0");
    set_kernel_build(45);
    EXPECT_EQ(GDI_Init(), 0);
    DC *dc = GDI_CreateDC(0, 0);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(dc->buffer, nullptr);
    GDI_SetPixel(dc, 0, 0, 1);
    VDR_ScanLine(dc, 0, 0, 5, 1);
    EXPECT_EQ(VDR_CopyPage(), 0);
    EXPECT_EQ(host::ctl_handle("screenshot " + root_dir + "/x.png"),
              "error: the screen is not open\n");
}

TEST_F(VideoTest, ScreenshotCommandWritesThePng) {
    VDR_CtlRegister();
    start(true, "480x272");
    std::string file = root_dir + "/shot dir.png";
    EXPECT_EQ(host::ctl_handle("screenshot " + file), "ok " + file + "\n");
    std::string png = read_file(file.substr(root_dir.size()));
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    EXPECT_EQ(host::ctl_handle("screenshot /no/such/dir/x.png").rfind("error: cannot write", 0),
              0u);
    EXPECT_EQ(host::ctl_handle("screenshot"), "error: usage: screenshot FILE.png\n");
}
