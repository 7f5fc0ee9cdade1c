// The pixel pipeline: its programming, the page passes with the gradient
// background and the video hole, screen captures and physical addresses.
#include "host/fb.h"
#include "host/physmem.h"
#include "host/pxp_block.h"
#include "platform/pxp.h"
#include "png_snapshot.h"
#include "video_fixture.h"

#include <cstdlib>

namespace {
constexpr uint32_t CTRL = 0x000, OUTBUF = 0x020, OUTSIZE = 0x040, S0BUF = 0x050, S0PARAM = 0x080,
                   S0BACKGROUND = 0x090, S0SCALE = 0x0B0, S0COLORKEYLOW = 0x180,
                   S0COLORKEYHIGH = 0x190, OLCOLORKEYLOW = 0x1A0, OLCOLORKEYHIGH = 0x1B0;
constexpr uint32_t OL(int n) {
    return 0x200 + 0x40 * uint32_t(n);
}

// The visible screen's pixel as 0xRRGGBB.
uint32_t shown(int x, int y) {
    std::vector<uint8_t> rgb;
    int w, h;
    if (!host::fb_visible_rgb(&rgb, &w, &h)) return 0xDEAD;
    size_t i = (size_t(y) * size_t(w) + size_t(x)) * 3;
    return uint32_t(rgb[i]) << 16 | uint32_t(rgb[i + 1]) << 8 | rgb[i + 2];
}

uint32_t rgb_of(COLOR c) {
    uint8_t v[3];
    host::rgb565_to_rgb(c, v);
    return uint32_t(v[0]) << 16 | uint32_t(v[1]) << 8 | v[2];
}
} // namespace

class PxpTest : public VideoTest {
protected:
    std::shared_ptr<host::PxpModel> model() { return host::pxp_model(); }
    uint32_t reg(uint32_t offset) { return model()->peek(offset); }
};

TEST_F(PxpTest, StartProgramsTheEightBuffers) {
    start(true, "480x272");
    EXPECT_EQ(fPxpEnable, 1);
    const uint32_t frame = 480 * 272 * 4;
    EXPECT_EQ(reg(CTRL), 0u) << "reset, clock running, the first pass done";
    EXPECT_EQ(model()->passes(), 1u);
    EXPECT_EQ(reg(OUTBUF), host::kFbPhysBase) << "buffer 7 is the start of the frame memory";
    EXPECT_EQ(reg(OUTSIZE), 0xFF000000u | 480u << 12 | 272u);
    EXPECT_EQ(reg(S0BUF), host::kFbPhysBase);
    EXPECT_EQ(reg(S0PARAM), (60u << 8) | 34u);
    EXPECT_EQ(reg(S0BACKGROUND), 0xFF000000u);
    EXPECT_EQ(reg(S0SCALE), 0x10001000u);
    EXPECT_EQ(reg(S0COLORKEYLOW), 0x00FFFFFFu);
    EXPECT_EQ(reg(S0COLORKEYHIGH), 0xFF000000u);
    EXPECT_EQ(reg(OLCOLORKEYLOW), 8u);
    EXPECT_EQ(reg(OLCOLORKEYHIGH), 8u);
    for (int n = 0; n < 8; ++n) {
        uint32_t offset = n == 7 ? 0 : uint32_t(n + 1) * frame;
        EXPECT_EQ(reg(OL(n)), host::kFbPhysBase + offset) << n;
        EXPECT_EQ(reg(OL(n) + 0x10), (60u << 8) | 34u) << n;
        EXPECT_EQ(reg(OL(n) + 0x20), n == 0 ? 0xFF49u : 0xFF00u) << n;
    }
}

TEST_F(PxpTest, PhysicalAddressesComeFromThePageMap) {
    DC *dc = start(true, "480x272");
    EXPECT_EQ(mem_virt2phy(dc->buffer), host::kFbPhysBase + 480 * 272 * 4);
    EXPECT_EQ(mem_virt2phy(reinterpret_cast<uint8_t *>(dc->buffer) + 4097),
              host::kFbPhysBase + 480 * 272 * 4 + 4097);
    std::vector<uint8_t> heap(100);
    EXPECT_EQ(mem_virt2phy(heap.data()), 0xFFFFFFFFu) << "not a page the devices reach";
}

TEST_F(PxpTest, PagePassesShowTheActiveFrame) {
    DC *dc = start(true, "480x272");
    DC *f2 = GDI_CreateDC(0, 2);
    VDR_ScanLine(dc, 0, 3, 480, 0xF800);
    VDR_ScanLine(f2, 0, 3, 480, 0x07E0);
    EXPECT_EQ(shown(5, 3), 0x000000u) << "nothing shown before the page copy";
    EXPECT_EQ(VDR_CopyPage(), 1);
    EXPECT_EQ(shown(5, 3), rgb_of(0xF800));
    EXPECT_EQ(VDR_SetActiveFrame(f2), 1);
    EXPECT_EQ(shown(5, 3), rgb_of(0x07E0));
    // The see-through marker without a background shows what was there.
    VDR_SetPixel(f2, 7, 3, 1);
    VDR_CopyPage();
    EXPECT_EQ(shown(7, 3), rgb_of(0x07E0));
}

TEST_F(PxpTest, BusyPipelineIsLeftAlone) {
    DC *dc = start(true, "480x272");
    model()->hold_busy(true);
    VDR_CopyPage();
    const unsigned passes = model()->passes();
    const uint32_t ol0 = reg(OL(0)), outbuf = reg(OUTBUF), ctrl = reg(CTRL);
    DC *f2 = GDI_CreateDC(0, 2);
    pCurrentMem = f2->buffer;
    EXPECT_EQ(PXP_buf_next(), 0);
    EXPECT_EQ(model()->passes(), passes);
    EXPECT_EQ(reg(OL(0)), ol0) << "a running pass is not disturbed";
    EXPECT_EQ(reg(OUTBUF), outbuf);
    EXPECT_EQ(reg(CTRL), ctrl);
    model()->hold_busy(false);
    EXPECT_EQ(PXP_buf_next(), 1);
    // A page outside the buffer table is not shown.
    pCurrentMem = GDI_CreateDC(0, 4)->buffer;
    EXPECT_EQ(PXP_buf_next(), 0);
    EXPECT_EQ(model()->passes(), passes + 1);
    pCurrentMem = dc->buffer;
}

TEST_F(PxpTest, WaitUpdateWaitsForOnePass) {
    start(true, "480x272");
    model()->hold_busy(true);
    PXP_WaitUpdate();
    VDR_CopyPage(); // waits its polls out, then clears the request
    EXPECT_NE(reg(CTRL) & 1, 0u);
    model()->hold_busy(false);
}

TEST_F(PxpTest, CaptureNeedsTheGradientBackground) {
    DC *dc = start(true, "480x272");
    const unsigned passes = model()->passes();
    const uint32_t outbuf = reg(OUTBUF), ol0p = reg(OL(0) + 0x20);
    EXPECT_EQ(PXP_Screen_Capture(), nullptr);
    EXPECT_EQ(model()->passes(), passes);
    EXPECT_EQ(reg(OUTBUF), outbuf);
    EXPECT_EQ(reg(OL(0) + 0x20), ol0p);

    VDR_ScanLine(dc, 0, 0, 480, 0x8410);
    uint32_t *grad = PXP_GradientEnabled(1);
    for (int i = 0; i < 480 * 272; ++i)
        grad[i] = 0xFF0000FF;  // blue
    VDR_SetPixel(dc, 4, 0, 1); // see-through
    VDR_CopyPage();
    uint32_t *cap = PXP_Screen_Capture();
    ASSERT_NE(cap, nullptr);
    const uint16_t *p = reinterpret_cast<const uint16_t *>(cap);
    EXPECT_EQ(p[3], 0x8410);
    EXPECT_EQ(p[4], 0x001F);
    EXPECT_EQ(p[480], 0x0000);
    // The registers are as before the capture.
    EXPECT_EQ(reg(OUTBUF), outbuf);
    EXPECT_EQ(reg(OL(0) + 0x20), ol0p);
    EXPECT_EQ(reg(OLCOLORKEYLOW), 8u);
    EXPECT_EQ(reg(CTRL), 0u);
    PXP_GradientEnabled(0);
}

TEST_F(PxpTest, GradientBackgroundCopyAndHoleRectangles) {
    DC *dc = start(true, "480x272");
    uint32_t *grad = PXP_GradientEnabled(1);
    for (int i = 0; i < 480 * 272; ++i)
        grad[i] = 0xFF00FF00u + uint32_t(i % 480);
    uint32_t *back = PXP_GradientBkndEnab(1);
    ASSERT_NE(back, grad);
    EXPECT_EQ(back[480 * 272 - 1], grad[480 * 272 - 1]);
    EXPECT_EQ(PXP_GradientBkndEnab(0), back);
    // A hole with right equal to left is empty: the page shows everywhere.
    PXP_GradientEnabled(1);
    VDR_ScanLine(dc, 0, 10, 480, 0xFFE0);
    RECT empty{20, 5, 20, 30};
    PXP_HoleRect(&empty, 1);
    VDR_CopyPage();
    EXPECT_EQ(shown(20, 10), rgb_of(0xFFE0));
    PXP_HoleRect(nullptr, 0);
    PXP_GradientEnabled(0);
}

// A page over the gradient background with see-through pixels, a video hole
// through both (the display's old picture stays in it), then the hole closed
// and a new page shown everywhere.
TEST_F(PxpTest, CompositionSnapshot) {
    DC *dc = start(true, "480x272");
    // What the display shows before: a checker standing in for the video.
    for (int y = 0; y < 272; ++y)
        for (int x = 0; x < 480; ++x)
            put(dc, x, y, ((x / 16 + y / 16) & 1) ? 0xFFFF : 0x0000);
    VDR_CopyPage();
    // The gradient surface: red rising to the right, blue downwards.
    uint32_t *grad = PXP_GradientEnabled(1);
    for (int y = 0; y < 272; ++y)
        for (int x = 0; x < 480; ++x)
            grad[y * 480 + x] =
                0xFF000000u | uint32_t(x * 255 / 479) << 16 | uint32_t(y * 255 / 271);
    // The page: a grey frame, see-through inside, a bar across.
    for (int y = 0; y < 272; ++y)
        VDR_ScanLine(dc, 0, y, 480, (y < 20 || y >= 252) ? 0x8410 : 1);
    for (int y = 0; y < 272; ++y) {
        VDR_ScanLine(dc, 0, y, 20, 0x8410);
        VDR_ScanLine(dc, 460, y, 20, 0x8410);
    }
    for (int y = 120; y < 150; ++y)
        VDR_ScanLine(dc, 20, y, 440, 0x07E0);
    RECT hole{300, 60, 420, 200};
    PXP_HoleRect(&hole, 1);
    EXPECT_EQ(VDR_CopyPage(), 1);
    EXPECT_EQ(screen_snapshot_diff("tests/platform/snapshots/pxp_hole.png"), "");
    // Hole closed, gradient off: the next page covers the whole screen.
    PXP_HoleRect(nullptr, 0);
    PXP_GradientEnabled(0);
    for (int y = 0; y < 272; ++y)
        VDR_ScanLine(dc, 0, y, 480, 0x001F);
    VDR_CopyPage();
    EXPECT_EQ(shown(350, 100), rgb_of(0x001F));
    EXPECT_EQ(shown(10, 10), rgb_of(0x001F));
}
