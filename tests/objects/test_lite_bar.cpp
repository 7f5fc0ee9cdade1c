// LITE and BAR objects: lamp highlights by height, flashing, every lamp
// shape on and off with and without a ring; bar lengths vertical and
// horizontal, normal and reversed, bounds and size codes, erase requests of
// see-through bars, and pictures of scales, labels and captions.
#include "objects_fixture.h"
#include "png_snapshot.h"
#include "system/sys.h"

namespace {

using namespace rec;

COLOR px(const DC *dc, int x, int y) {
    const int w = dc->bounds.right + 1;
    return COLOR(dc->buffer[(size_t(y) * size_t(w) + size_t(x)) / 2] >> (16 * (x & 1)));
}

constexpr COLOR kOn = 0x07E0, kOff = 0x8000, kOutline = 0x0000, kBack = 0xFFDF;
constexpr int kLamp = 40, kValue = 41;

void lamp(const Rec &r, uint16_t style) {
    r.u16(lite::kBackground, kBack);
    r.u16(lite::kColour, kOutline);
    r.u16(lite::kOnColour, kOn);
    r.u16(lite::kOffColour, kOff);
    r.u16(lite::kLamp, uint16_t(r_ref(kLamp)));
    r.u8(lite::kLampSize, 16);
    r.u16(lite::kStyle, style);
}

// Outline crossings on the way down the middle column from the top to the
// centre: the lamp's edge and each highlight.
int rings(int left, int top, int size, COLOR pen) {
    int n = 0;
    bool in = false;
    for (int y = top; y < top + size / 2; ++y) {
        const bool on_pen = px(GDI_GetDisplayDC(), left + size / 2, y) == pen;
        if (on_pen && !in) ++n;
        in = on_pen;
    }
    return n;
}

TEST_F(ObjectsTest, LampHighlightsByHeight) {
    struct Case {
        int height, shape, rings;
    } cases[] = {
        {15, 0, 1}, {16, 0, 3}, {25, 0, 4}, {15, 1, 1}, {16, 1, 3}, {25, 1, 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "shape " << c.shape << " height " << c.height);
        build({{7, 1, 100, 100, 100 + c.height - 1, 100 + c.height - 1}});
        lamp(recs[0], uint16_t(0x1000 | c.shape)); // the lamp takes the whole rectangle
        put_le16(r_ptr(kLamp), 1);
        open();
        pass();
        EXPECT_EQ(rings(100, 100, c.height, kOutline), c.rings);
        OBJM_DestroyPage();
    }
}

TEST_F(ObjectsTest, GreyLampKeepsItsHighlightsSeen) {
    // In grey levels a pen of the lamp's own colour moves by 6.
    for (int grey = 0; grey < 2; ++grey) {
        SCOPED_TRACE(grey);
        SYS_fGrayScale = uint8_t(grey);
        build({{7, 1, 100, 100, 129, 129}});
        lamp(recs[0], 0x1000);
        recs[0].u16(lite::kColour, kOn);
        put_le16(r_ptr(kLamp), 1);
        open();
        pass();
        EXPECT_EQ(rings(100, 100, 30, COLOR(kOn - 6)), grey ? 3 : 0);
        OBJM_DestroyPage();
    }
    SYS_fGrayScale = 0;
}

TEST_F(ObjectsTest, LampValueAndFlashing) {
    struct Case {
        const char *what;
        uint16_t value;
        uint32_t flags;
        std::vector<uint8_t> flash;
        std::vector<COLOR> colour;
    } cases[] = {
        {"any non-zero value is on", 0x100, 1, {0, 1}, {kOn, kOn}},
        {"0 is off", 0, 1, {0, 1}, {kOff, kOff}},
        {"flashing on", 1, 3, {0, 1, 0}, {kOn, kOff, kOn}},
        {"flashing off stays off", 0, 3, {0, 1, 0}, {kOff, kOff, kOff}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        build({{7, c.flags, 100, 100, 139, 139}});
        lamp(recs[0], 0x1005);
        put_le16(r_ptr(kLamp), c.value);
        open();
        for (size_t i = 0; i < c.flash.size(); ++i) {
            sysFlash = c.flash[i];
            pass();
            EXPECT_EQ(screen_px(120, 120), c.colour[i]) << i;
        }
        OBJM_DestroyPage();
    }
    sysFlash = 0;
}

TEST_F(ObjectsTest, LampShapesOffAndOn) {
    // Rows: heights 15, 16 and 25 off and on; rings; captions beside the
    // lamp with a frame; shapes 6 and 7 (nothing) at the end of each row.
    std::vector<ObjSpec> objs;
    const int heights[] = {15, 16, 25};
    for (int row = 0; row < 3; ++row)
        for (int k = 0; k < 16; ++k)
            objs.push_back({7, 1, 10 + k * 48, 10 + row * 40, 10 + k * 48 + heights[row] - 1,
                            10 + row * 40 + heights[row] - 1});
    for (int k = 0; k < 12; ++k)
        objs.push_back({7, 1, 10 + k * 64, 140, 10 + k * 64 + 55, 195});
    for (int k = 0; k < 6; ++k)
        objs.push_back({7, 1 | 0x4 | 0x800, 10 + k * 130, 220, 10 + k * 130 + 119, 269});
    build(objs, 0x9CF3);
    for (int row = 0; row < 3; ++row)
        for (int k = 0; k < 16; ++k) {
            const Rec &r = recs[size_t(row * 16 + k)];
            lamp(r, uint16_t(0x1000 | (k / 2 < 6 ? k / 2 : 6 + k % 2)));
            if (k % 2) r.u16(lite::kLamp, uint16_t(r_ref(kLamp + 1)));
        }
    for (int k = 0; k < 12; ++k) {
        lamp(recs[size_t(48 + k)], uint16_t(0x8 | k / 2));
        if (k % 2) recs[size_t(48 + k)].u16(lite::kLamp, uint16_t(r_ref(kLamp + 1)));
    }
    const char *captions[] = {"Round", "Square", "Bulb", "Dark", "Sunken", "Socket"};
    for (int k = 0; k < 6; ++k) {
        const Rec &r = recs[size_t(60 + k)];
        lamp(r, uint16_t(k));
        r.u16(lite::kLamp, uint16_t(r_ref(kLamp + 1)));
        r.u32(lite::kCaption, text(captions[k]));
        r.u8(lite::kAlign, k < 3 ? 36 : 0x11);
        r.u8(lite::kFont, 1);
    }
    put_le16(r_ptr(kLamp), 0);
    put_le16(r_ptr(kLamp + 1), 1);
    open();
    pass();
    VID_Update();
    EXPECT_EQ(screen_snapshot_diff("tests/objects/snapshots/lite_shapes.png"), "");
}

void bar(const Rec &r, int16_t min, int16_t max, uint8_t size = 16) {
    r.u16(bar::kBackground, kBack);
    r.u16(bar::kColour, 0x0000);
    r.u16(bar::kBarColour, 0x001F);
    r.u16(bar::kValue, uint16_t(r_ref(kValue)));
    r.u8(bar::kValueSize, size);
    r.u32(bar::kMin, uint32_t(int32_t(min)));
    r.u32(bar::kMax, uint32_t(int32_t(max)));
}

// Pixels of the bar colour along the middle of a bar.
int filled(const RECT &r, bool vertical) {
    int n = 0;
    if (vertical)
        for (int y = r.top; y <= r.bottom; ++y)
            n += px(GDI_GetDisplayDC(), (r.left + r.right) / 2, y) == 0x001F;
    else
        for (int x = r.left; x <= r.right; ++x)
            n += px(GDI_GetDisplayDC(), x, (r.top + r.bottom) / 2) == 0x001F;
    return n;
}

TEST_F(ObjectsTest, BarLengths) {
    // A 102-pixel bar (100 inside its frame; the full length is 101).
    struct Case {
        const char *what;
        bool vertical;
        int16_t min, max, value;
        uint8_t size;
        int length;
        int from_end; // the filled part starts at the low (0) or high (1) end
    } cases[] = {
        {"vertical 0 %", true, 0, 100, 0, 16, 0, 0},
        {"vertical 50 %", true, 0, 100, 50, 16, 50, 0},
        {"vertical 100 %", true, 0, 100, 100, 16, 100, 0},
        {"vertical above the maximum", true, 0, 100, 300, 16, 100, 0},
        {"vertical below the minimum", true, 10, 100, 5, 16, 0, 0},
        {"vertical reversed 50 %", true, 100, 0, 50, 16, 50, 1},
        {"horizontal 50 %", false, -100, 100, 0, 16, 50, 0},
        {"horizontal 100 %", false, -100, 100, 100, 16, 100, 0},
        {"horizontal reversed 50 %", false, 100, -100, 0, 16, 50, 1},
        {"equal bounds", true, 50, 50, 50, 16, 0, 0},
        {"size code 8", true, 0, 100, 50, 8, 0, 0},
        {"size code 32", false, 0, 100, 50, 32, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const RECT r = c.vertical ? RECT{100, 100, 129, 201} : RECT{100, 100, 201, 129};
        build({{4, 1, r.left, r.top, r.right, r.bottom}});
        bar(recs[0], c.min, c.max, c.size);
        put_le16(r_ptr(kValue), uint16_t(c.value));
        open();
        pass();
        EXPECT_EQ(filled(r, c.vertical), c.length);
        if (c.length && c.length < 100) {
            // The low end is the bottom of a vertical bar, the left of a
            // horizontal one; reversed bars fill from the other end.
            const bool at_low =
                c.vertical ? screen_px(114, 199) == 0x001F : screen_px(102, 114) == 0x001F;
            EXPECT_EQ(at_low, c.from_end == 0);
        }
        OBJM_DestroyPage();
    }
}

TEST_F(ObjectsTest, SeeThroughBarAsksForAnErase) {
    for (COLOR background : {kBack, kColorNone}) {
        SCOPED_TRACE(background);
        build({{4, 1, 100, 100, 129, 201}});
        bar(recs[0], 0, 100);
        recs[0].u16(bar::kBackground, background);
        put_le16(r_ptr(kValue), 0);
        open();
        pass();
        put_le16(r_ptr(kValue), 40);
        const uint16_t r = update(0);
        EXPECT_TRUE(r & objmsg::kRepaint);
        EXPECT_EQ((r & objmsg::kErase) != 0, background == kColorNone);
        EXPECT_EQ(update(0), 0) << "nothing changed";
        OBJM_DestroyPage();
    }
}

TEST_F(ObjectsTest, BarScalesLabelsAndCaptions) {
    build({{4, 0x11, 20, 20, 99, 219},      // vertical, labels, 5 marks
           {4, 0x01, 120, 20, 169, 219},    // vertical, 5 marks, reversed
           {4, 0x801, 190, 20, 289, 219},   // vertical, caption
           {4, 0x11, 320, 20, 619, 99},     // horizontal, labels, 5 marks
           {4, 0x01, 320, 120, 619, 179},   // horizontal, reversed, 3 marks
           {4, 0x811, 320, 200, 619, 279}}, // horizontal, caption and labels
          0x9CF3);
    const int16_t bounds[][2] = {{-50, 150}, {100, 0}, {0, 100}, {0, 1000}, {100, 0}, {0, 100}};
    const uint8_t marks[] = {5, 5, 0, 5, 3, 0};
    for (size_t i = 0; i < recs.size(); ++i) {
        bar(recs[i], bounds[i][0], bounds[i][1]);
        recs[i].u8(bar::kMarks, marks[i]);
        recs[i].u8(bar::kLabelFont, 1);
        recs[i].u8(bar::kFont, 1);
        recs[i].u8(bar::kAlign, 36);
        recs[i].u32(bar::kCaption, text("Level"));
    }
    put_le16(r_ptr(kValue), 50);
    open();
    pass();
    VID_Update();
    EXPECT_EQ(screen_snapshot_diff("tests/objects/snapshots/bar_scales.png"), "");
}

} // namespace

namespace {

TEST_F(ObjectsTest, RecordsShorterThanTheirClassStayInert) {
    // A record whose own length ends before the class's fields: nothing is
    // read past it, drawn or answered.
    for (int type : {4, 5, 7}) {
        SCOPED_TRACE(type);
        build({{uint16_t(type), 0x4009, 100, 100, 159, 159, 32}});
        put_le16(r_ptr(kValue), 50);
        open();
        pass();
        EXPECT_EQ(update(0, 1), 0);
        EXPECT_EQ(cb(0).Signal(cb(0).def, cb(0).inst, objmsg::kTouchDown, 130 << 16 | 130), 0);
        EXPECT_EQ(screen_px(130, 130), 0xFFDF);
        OBJM_DestroyPage();
    }
}

} // namespace
