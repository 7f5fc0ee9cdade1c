// The video manager: still pictures on their own frame, and screen captures
// requested through the application's capture register and handed to the
// media manager (whose stand-in ends every request at once as failed).
#include "base/le.h"
#include "base/trace.h"
#include "block_poison.h"
#include "data/cfm.h"
#include "data/data.h"
#include "host/fb.h"
#include "platform/pxp.h"
#include "plc/appblocks.h"
#include "png_snapshot.h"
#include "regs/plc_reg.h"
#include "regs/regname.h"
#include "system/appfile.h"
#include "system/loop.h"
#include "system/pgm.h"
#include "tools/lib/appbuild.h"
#include "video_fixture.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Screen 1 and a capture set-up on %R100 whose file name is the second
// string of the table.
std::string screens(int options) {
    return R"({"pages": [{"screen": 1}], "capture": {"register": "%R100", "options": )" +
           std::to_string(options) + R"(, "name_offset": 4}})";
}
// The table's head: the length of what follows it, 4 bytes not read.
constexpr const char *kStrings = R"([{"u32": [18, 0]}, {"text": "ABC"}, {"bytes": [0]},
    {"text": "CAP$1.BMP"}, {"bytes": [0]}])";

uint16_t r100() {
    uint32_t ref = 0, bits = 0;
    std::string error;
    RegName_Parse("%R100", &ref, &bits, &error);
    uint8_t v[2] = {};
    PlcReg_Get(v, ref, 16);
    return uint16_t(v[0] | v[1] << 8);
}
void set_r100(uint16_t value) {
    uint32_t ref = 0, bits = 0;
    std::string error;
    RegName_Parse("%R100", &ref, &bits, &error);
    uint8_t v[2] = {uint8_t(value), uint8_t(value >> 8)};
    PlcReg_Set(ref, v, 16);
}

size_t count_calls(const char *name) {
    auto calls = host::trace_calls();
    return size_t(std::count(calls.begin(), calls.end(), name));
}

uint16_t cap_px(uint32_t x, uint32_t y) {
    const uint8_t *p = CaptBMP.pixels + 2 * (size_t(y) * CaptBMP.width + x);
    return uint16_t(p[0] | p[1] << 8);
}

// RGB565 to 15 bits, the way a picture of the panel stores it.
uint16_t to15(COLOR c) {
    return uint16_t((c & 0x1F) | ((c & 0xFFC0) >> 1));
}
} // namespace

class VidmTest : public VideoTest {
protected:
    // Opens the screen, loads the screen program and the string table and
    // takes them into use (the set-up initialises the video manager).
    DC *open(int options, bool pxp = false, const std::string &size = "480x272") {
        DC *dc = start(pxp, size);
        pDC = GDI_CreateDC(0, 0);
        CFM_ResetBlocks();
        appbuild::Built built;
        std::string error;
        const std::string desc = R"({"kesta_pgm": {"screens": )" + screens(options) +
                                 R"(}, "string_table": )" + kStrings + "}";
        EXPECT_TRUE(appbuild::build_text(desc, "", &built, &error)) << error;
        for (auto [name, block] :
             {std::pair{"kesta_pgm", kesta_pgm_bl}, std::pair{"string_table", string_table_bl}}) {
            appbuild::Placed at;
            EXPECT_TRUE(appbuild::find_part(built.manifest, name, &at)) << name;
            std::memcpy(block, built.config.data() + at.offset, at.size);
        }
        PGM_Create(1);
        PGM_TheLoop(0);
        EXPECT_EQ(PGM_state, 5);
        host::trace_start();
        return dc;
    }
    // A pass of the main loop as the video manager sees it: the media
    // manager serves what was sent, then the screen loop's update.
    void pass() {
        CFM_TheLoop(0);
        VIDM_Update();
    }
    void TearDown() override {
        pDC = nullptr;
        VideoTest::TearDown();
    }
};

TEST_F(VidmTest, HeldRequestTakesOneCaptureAndIsClearedWhenTheSaveEnds) {
    DC *dc = open(0);
    put(dc, 3, 0, 0xF800);
    set_r100(1);
    pass();
    ASSERT_EQ(CaptBMP.width, 480u) << "captured at the request";
    ASSERT_EQ(CaptBMP.height, 272u);
    EXPECT_EQ(cap_px(3, 271), to15(0xF800)) << "bottom-up: the top row is stored last";
    put(dc, 3, 0, 0x001F); // drawn after the request: not in the capture
    EXPECT_EQ(count_calls("CFM_LoadReq"), 0u) << "the save is posted on the next pass";

    pass();
    ASSERT_EQ(count_calls("CFM_LoadReq"), 1u);
    EXPECT_EQ(pVidCFCB->drive, 0u);
    EXPECT_EQ(pVidCFCB->code, kCfmReqScreenCapture);
    EXPECT_STREQ(reinterpret_cast<const char *>(pVidCFCB->arg1), "CAP$1.BMP");
    EXPECT_NE(reinterpret_cast<const uint8_t *>(pVidCFCB->arg1), string_table_bl + 20)
        << "the manager may expand the name in place: it gets a copy";
    ASSERT_EQ(pVidCFCB->arg2, reinterpret_cast<uintptr_t>(&CaptBMP));
    EXPECT_EQ(CaptBMP.pixels, CaptBuf.data());
    EXPECT_EQ(cap_px(3, 271), to15(0xF800));
    EXPECT_EQ(r100(), 1) << "still saving";

    pass();
    EXPECT_EQ(r100(), 0) << "the failed save ends the request too";

    // The application keeps the register at 1: no second capture until it
    // has been seen at 0.
    for (int i = 0; i < 5; ++i) {
        set_r100(1);
        pass();
    }
    EXPECT_EQ(count_calls("CFM_LoadReq"), 1u);
    EXPECT_EQ(r100(), 1);
    set_r100(0);
    pass();
    set_r100(1);
    for (int i = 0; i < 3; ++i)
        pass();
    EXPECT_EQ(count_calls("CFM_LoadReq"), 2u);
    EXPECT_EQ(cap_px(3, 271), to15(0x001F));
    EXPECT_EQ(r100(), 0);
}

// The capture set-up record cut short by the end of the screen program (the
// rest of the block's buffer poisoned; found by the screen program fuzzer):
// only the fields wholly inside the block are taken.
TEST_F(VidmTest, CaptureRecordCutByTheProgramEndKeepsTheFieldsInside) {
    open(0);
    ASSERT_NE(pPGM_Scap, nullptr);
    const uint32_t scap = uint32_t(pPGM_Scap - (kesta_pgm_bl + 8));
    struct Row {
        uint32_t bytes; // of the record inside the block
        bool captures;
        const char *name;
    };
    const Row rows[] = {
        {0, false, ""}, {4, true, "ABC"}, {11, true, "ABC"}, {12, true, "CAP$1.BMP"}};
    for (const Row &r : rows) {
        SCOPED_TRACE(r.bytes);
        put_le32(kesta_pgm_bl + 4, scap + r.bytes);
        PoisonPast past(kesta_pgm_bl + 8, app::kConfigParts[3].capacity - 8, scap + r.bytes);
        VIDM_Init();
        host::trace_start();
        set_r100(1);
        pass();
        pass();
        ASSERT_EQ(count_calls("CFM_LoadReq"), r.captures ? 1u : 0u);
        if (r.captures) {
            EXPECT_STREQ(reinterpret_cast<const char *>(pVidCFCB->arg1), r.name);
        }
        set_r100(0);
        for (int i = 0; i < 3; ++i)
            pass();
    }
}

// A name that runs to the end of the string table's data is cut there (the
// rest of the block poisoned).
TEST_F(VidmTest, CaptureNameEndsWithTheStringTable) {
    open(0);
    const uint32_t used = 8 + 4 + 3; // the head, "ABC" and its 0, "CAP"
    put_le32(string_table_bl + 4, used);
    PoisonPast past(string_table_bl + 8, app::kConfigParts[5].capacity - 8, used);
    set_r100(1);
    pass();
    pass();
    ASSERT_EQ(count_calls("CFM_LoadReq"), 1u);
    EXPECT_STREQ(reinterpret_cast<const char *>(pVidCFCB->arg1), "CAP");
}

TEST_F(VidmTest, NoCaptureIsPostedDuringASafeRemoval) {
    open(0);
    removeSafe = 1;
    set_r100(1);
    for (int i = 0; i < 6; ++i)
        pass();
    EXPECT_EQ(count_calls("CFM_LoadReq"), 0u);
    EXPECT_EQ(pVidCFCB->code, 0u);
    EXPECT_EQ(r100(), 1) << "the request waits";
    removeSafe = 0;
    pass();
    EXPECT_EQ(count_calls("CFM_LoadReq"), 1u);
    pass();
    EXPECT_EQ(r100(), 0);
}

TEST_F(VidmTest, CaptureCarriesThePageAndSystemScreensAdd9000) {
    struct Case {
        uint16_t mode, current, page;
    };
    for (Case c : {Case{1, 1, 1}, Case{2, 7, 7}, Case{3, 21, 9021}}) {
        panel_reset_all();
        open(0);
        PAGE_mode = c.mode;
        PAGE_current = c.current;
        set_r100(1);
        pass();
        EXPECT_EQ(CaptBMP.page, c.page) << c.mode;
    }
}

TEST_F(VidmTest, CaptureRowOrderAndPixelsFollowTheOptionBits) {
    struct Case {
        int options;
        bool top_down;
    };
    for (Case c : {Case{0, false}, Case{1, true}, Case{2, true}, Case{3, true}}) {
        SCOPED_TRACE(c.options);
        panel_reset_all();
        DC *dc = open(c.options);
        // Row 0: white, all green, the lowest green bit (lost), pure red, blue.
        const COLOR row0[] = {0xFFFF, 0x07E0, 0x0020, 0xF800, 0x001F, 0x0001};
        for (int x = 0; x < 6; ++x)
            put(dc, x, 0, row0[x]);
        put(dc, 0, 271, 0x1234);
        set_r100(1);
        pass();
        const uint32_t top = c.top_down ? 0 : 271, bottom = 271 - top;
        const uint16_t want[] = {0x7FFF, 0x03E0, 0x0000, 0x7C00, 0x001F, 0x0001};
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(cap_px(uint32_t(x), top), want[x]) << x;
        EXPECT_EQ(cap_px(0, bottom), to15(0x1234));
        EXPECT_EQ(CaptBMP.options, c.options);
    }
}

// The capture turned into a PNG file reads back as the screen (at 15-bit
// precision): drawn straight on the small panel, and composed by the pixel
// pipeline over its gradient background on the large one.
TEST_F(VidmTest, CaptureReadBackAsAnImageIsTheScreen) {
    struct Case {
        bool pxp;
        const char *size;
    };
    for (Case c : {Case{false, "480x272"}, Case{true, "800x480"}}) {
        SCOPED_TRACE(c.size);
        panel_reset_all();
        DC *dc = open(1, c.pxp, c.size);
        const int W = dc->bounds.right + 1, H = dc->bounds.bottom + 1;
        if (c.pxp) {
            uint32_t *bg = PXP_GradientEnabled(1);
            for (size_t i = 0; i < size_t(W) * H; ++i)
                bg[i] = 0x00102030u + uint32_t(i % W) * 0x10000u; // a red ramp
        }
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                put(dc, x, y, COLOR((x * 7 + y * 131) & 0xFFFF));
        for (int y = 20; y < 60; ++y) // a window onto the background
            for (int x = 20; x < 200; ++x)
                put(dc, x, y, 1);
        VDR_CopyPage();
        set_r100(1);
        pass();
        ASSERT_EQ(CaptBMP.width, uint32_t(W));
        ASSERT_EQ(CaptBMP.height, uint32_t(H));

        std::vector<uint8_t> rgb(size_t(W) * H * 3);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                uint16_t p = cap_px(uint32_t(x), uint32_t(y));
                uint8_t *o = &rgb[(size_t(y) * W + x) * 3];
                for (int ch = 0; ch < 3; ++ch) {
                    unsigned v = p >> (10 - 5 * ch) & 0x1F;
                    o[ch] = uint8_t(v << 3 | v >> 2);
                }
            }
        const std::string file = root_dir + "/capture.png";
        std::string error;
        ASSERT_TRUE(host::png_write_rgb(file, W, H, rgb.data(), &error)) << error;
        std::vector<uint8_t> back, screen;
        int bw = 0, bh = 0, sw = 0, sh = 0;
        ASSERT_TRUE(png_read_rgb(file, &back, &bw, &bh));
        ASSERT_TRUE(host::fb_visible_rgb(&screen, &sw, &sh));
        ASSERT_EQ(bw, sw);
        ASSERT_EQ(bh, sh);
        size_t differ = 0;
        for (size_t i = 0; i < back.size(); ++i)
            differ += (back[i] >> 3) != (screen[i] >> 3);
        EXPECT_EQ(differ, 0u);
        if (c.pxp) { // the window shows the background, not the pixel value 1
            const uint8_t *w = &back[(size_t(30) * W + 100) * 3];
            EXPECT_EQ(w[0] >> 3, (0x10 + 100) >> 3);
        }
    }
}

TEST_F(VidmTest, StillPicturesInEachRowOrderAreShownOnTheirOwnFrame) {
    const int W = 480, H = 272;
    // The picture as shown (RGB565, lowest green bit clear, no value 1).
    auto truth = [](int x, int y) { return COLOR(((x * 5 + y * 97) & 0xFFDF) | 0x0800); };
    struct Case {
        uint16_t order;
        uint16_t one_at_5_5; // stored at (5, 5)
        COLOR shown_at_5_5;
    };
    // A 15-bit pixel of value 1 would let the background through: it is shown
    // as 2. RGB565 pictures are copied as they are.
    for (Case c : {Case{0, 1, 2}, Case{1, 1, 1}, Case{2, 1, 2}, Case{7, 1, 2}}) {
        SCOPED_TRACE(c.order);
        panel_reset_all();
        open(0, true);
        ASSERT_NE(ViewBMP.pixels, nullptr);
        ViewBMP.width = W;
        ViewBMP.height = H;
        ViewBMP.options = c.order;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const int row = c.order == 0 ? H - 1 - y : y; // stored row of screen row y
                uint16_t v = c.order == 1 ? truth(x, y) : to15(truth(x, y));
                if (x == 5 && y == 5) v = c.one_at_5_5;
                uint8_t *p = ViewBMP.pixels + 2 * (size_t(row) * W + x);
                p[0] = uint8_t(v);
                p[1] = uint8_t(v >> 8);
            }
        VIDM_Cmd(kVidmOpenStill);
        EXPECT_EQ(StillOpened, 1);
        ASSERT_NE(pCurrentMem, pDC->buffer) << "shown on the bitmap frame";
        auto shown = [&](int x, int y) {
            return COLOR(pCurrentMem[(size_t(y) * W + x) / 2] >> (16 * (x & 1)));
        };
        int wrong = 0;
        for (int y = 1; y < H - 1; ++y)
            for (int x = 1; x < W - 1; ++x)
                if (!(x == 5 && y == 5) && shown(x, y) != truth(x, y)) ++wrong;
        EXPECT_EQ(wrong, 0);
        EXPECT_EQ(shown(5, 5), c.shown_at_5_5);
        // The frame: black under a dashed 0xFFDF line, all round.
        int black = 0, light = 0;
        for (int x = 0; x < W; ++x)
            for (int y : {0, H - 1}) {
                black += shown(x, y) == 0;
                light += shown(x, y) == 0xFFDF;
            }
        EXPECT_EQ(black + light, 2 * W);
        EXPECT_GT(black, 0);
        EXPECT_GT(light, 0);

        VIDM_Cmd(kVidmCloseStill);
        EXPECT_EQ(StillOpened, 0);
        EXPECT_EQ(pCurrentMem, pDC->buffer);
    }
}

// A record that claims more rows than its buffer holds, or more than the
// screen, draws what fits and reads nothing beyond the view buffer.
TEST_F(VidmTest, OversizedStillRecordsAreCutToTheScreenAndTheViewBuffer) {
    open(0, true);
    uint32_t bytes = 0;
    ASSERT_EQ(VDR_ViewBuffer(&bytes), ViewBMP.pixels);
    std::memset(ViewBMP.pixels, 0x11, bytes);
    for (auto [w, h] : {std::pair{480u, 100000u}, std::pair{5000u, 3u}, std::pair{0u, 272u}}) {
        for (uint16_t order : {0, 1, 2}) {
            ViewBMP.width = w;
            ViewBMP.height = h;
            ViewBMP.options = order;
            VIDM_Cmd(kVidmOpenStill);
            EXPECT_EQ(StillOpened, 1);
            VIDM_Cmd(kVidmCloseStill);
        }
    }
}
