// METER and ROT objects: the dial's integer sine and needle tips against
// floating point, tick angles, needle ends and size codes, erase requests,
// labels and hubs; the pointer's points by quadrant, its full turn, erase
// requests, shapes, counter texts and the clip it leaves; pictures of the
// drawn dial, the picture gauge and the pointers.
#include "objects/meter.h"
#include "objects/rot.h"
#include "objects_fixture.h"
#include "png_snapshot.h"

#include <png.h>

#include <bit>
#include <cmath>

namespace {

using namespace rec;

constexpr int kValue = 60, kLength = 61;
constexpr COLOR kBack = 0xFFDF, kDial = 0x0000, kNeedleC = 0xF800, kPage = 0x9CF3;

COLOR px(const DC *dc, int x, int y) {
    const int w = dc->bounds.right + 1;
    return COLOR(dc->buffer[(size_t(y) * size_t(w) + size_t(x)) / 2] >> (16 * (x & 1)));
}

TEST(DialMath, IntegerSineFollowsItsFormula) {
    struct Case {
        int x;
        int32_t s;
    } cases[] = {{0, 0}, {100, 30083}, {316, 65601}, {325, 65524}};
    for (const Case &c : cases)
        EXPECT_EQ(dial::Sine(c.x), c.s) << c.x;
    // Every angle stays within 0.7 % of a full-scale true sine.
    double worst = 0;
    for (int x = 0; x <= dial::kQuarter; ++x) {
        const double truth = std::sin(x * M_PI / 650.0);
        worst = std::max(worst, std::fabs(dial::Sine(x) / 65536.0 - truth));
    }
    EXPECT_LT(worst, 0.007);
    EXPECT_GT(worst, 0.004); // a cubic, not the true sine
}

TEST(DialMath, NeedleTipsFollowTheTrueAngle) {
    for (int n : {8, 40, 120, 230}) {
        for (int p = 0; p <= dial::kSweep; ++p) {
            const POINT t = dial::NeedleTip(400, 300, n, p);
            const double a = (p + dial::kSweepStart) * M_PI / 650.0;
            EXPECT_NEAR(t.x, 400 - n * std::cos(a), 2.0) << n << " " << p;
            EXPECT_NEAR(t.y, 300 - n * std::sin(a), 2.0) << n << " " << p;
        }
    }
}

TEST(DialMath, TickAngles) {
    struct Case {
        int n;
        std::vector<int> angles;
    } cases[] = {
        {0, {}},
        {1, {75}},
        {2, {75, 575}},
        {3, {75, 325, 575}},
        {4, {75, 241, 409, 575}},
        {5, {75, 200, 325, 450, 575}},
    };
    for (const Case &c : cases) {
        int out[16] = {};
        const int k = dial::TickAngles(c.n, out);
        std::vector<int> got(out, out + k);
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, c.angles) << c.n;
    }
}

void meter_record(const Rec &r, int32_t min, int32_t max, uint8_t size = 16) {
    r.u16(meter::kBackground, kBack);
    r.u16(meter::kColour, kDial);
    r.u16(meter::kNeedle, kNeedleC);
    r.u16(meter::kValue, uint16_t(r_ref(kValue)));
    r.u8(meter::kValueSize, size);
    r.u32(meter::kMin, uint32_t(min));
    r.u32(meter::kMax, uint32_t(max));
}

class MeterTest : public ObjectsTest {
protected:
    // Writes a PNG of the test's root folder; returns its path.
    std::string png(const std::string &name, int w, int h, uint32_t (*paint)(int x, int y)) {
        std::vector<uint32_t> px(size_t(w) * size_t(h));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                px[size_t(y) * size_t(w) + size_t(x)] = paint(x, y) | 0xFF000000u;
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        image.width = uint32_t(w);
        image.height = uint32_t(h);
        image.format = PNG_FORMAT_RGBA;
        const std::string path = root_dir + "/" + name + ".png";
        EXPECT_NE(png_image_write_to_file(&image, path.c_str(), 0, px.data(), 0, nullptr), 0);
        return path;
    }
    // A dial face: light grey disc with a darker rim on white (RGBA bytes
    // little-endian: R in the low byte).
    std::string dial_png(int side) {
        static int s;
        s = side;
        return png("dial", side, side, [](int x, int y) -> uint32_t {
            const double dx = x - s / 2.0, dy = y - s / 2.0, d = std::sqrt(dx * dx + dy * dy);
            if (d > s / 2.0) return 0xFFFFFF;
            if (d > s / 2.0 - 4) return 0x404040;
            return y < s / 2 ? 0xE0E0E0 : 0xC0F0C0;
        });
    }
};

// Needle-colour pixels in a box.
int count(int l, int t, int r, int b, COLOR c) {
    int n = 0;
    for (int y = t; y <= b; ++y)
        for (int x = l; x <= r; ++x)
            n += px(GDI_GetDisplayDC(), x, y) == c;
    return n;
}

// The needle's end farthest from (cx, cy) among needle-colour pixels.
POINT far_end(int l, int t, int r, int b, int cx, int cy) {
    POINT best{int16_t(cx), int16_t(cy)};
    int d = -1;
    for (int y = t; y <= b; ++y)
        for (int x = l; x <= r; ++x)
            if (px(GDI_GetDisplayDC(), x, y) == kNeedleC) {
                const int e = (x - cx) * (x - cx) + (y - cy) * (y - cy);
                if (e > d) {
                    d = e;
                    best = POINT{int16_t(x), int16_t(y)};
                }
            }
    return best;
}

TEST_F(MeterTest, NeedleEndsAndSizeCodes) {
    // A 201 x 151 dial: too wide for its height, so its radius is 100 and
    // it sits 13 lower: centre (200, 239), arc 93, needle 90.
    struct Case {
        const char *what;
        int16_t value;
        uint8_t size;
        int p; // sweep position expected
    } cases[] = {
        {"below the minimum", -50, 16, 0},
        {"the minimum", 0, 16, 0},
        {"half way", 50, 16, 250},
        {"the maximum", 100, 16, 500},
        {"above the maximum", 3000, 16, 500},
        {"size code 8 stays at the start", 50, 8, 0},
        {"size code 32 stays at the start", 100, 32, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        build({{9, 1, 100, 100, 300, 250}}, kPage);
        meter_record(recs[0], 0, 100, c.size);
        put_le16(r_ptr(kValue), uint16_t(c.value));
        open();
        pass();
        VID_Update();
        const POINT want = dial::NeedleTip(200, 239, 90, c.p);
        const POINT got = far_end(100, 100, 300, 250, 200, 239);
        EXPECT_NEAR(got.x, want.x, 1.5);
        EXPECT_NEAR(got.y, want.y, 1.5);
        OBJM_DestroyPage();
    }
}

TEST_F(MeterTest, UpdatesAskForRepaintAndEraseWhenTheNeedleMoves) {
    for (COLOR back : {kBack, kColorNone}) {
        SCOPED_TRACE(back);
        build({{9, 1, 100, 100, 300, 250}}, kPage);
        meter_record(recs[0], 0, 100);
        recs[0].u16(meter::kBackground, back);
        put_le16(r_ptr(kValue), 10);
        open();
        pass();
        const uint16_t moved = back == kColorNone ? 0x4020 : 0x0020;
        EXPECT_EQ(update(0), 0); // unchanged
        put_le16(r_ptr(kValue), 60);
        EXPECT_EQ(update(0), moved);
        pass();
        // A raw change that leaves the needle where it was asks for nothing.
        put_le16(r_ptr(kValue), 60);
        recs[0].u32(meter::kMax, 100);
        EXPECT_EQ(update(0), 0);
        EXPECT_EQ(update(0, 1), moved); // forced
        OBJM_DestroyPage();
    }
}

TEST_F(MeterTest, BoundLabelsTakeTheLow16BitsSigned) {
    // The same dial labelled 70000 and 4464 draws the same label pixels;
    // 70001 differs.
    build({{9, 0x11, 100, 100, 300, 250},
           {9, 0x11, 400, 100, 600, 250},
           {9, 0x11, 100, 300, 300, 450}},
          kPage);
    const int32_t mins[] = {70000, 4464, 70001};
    for (int i = 0; i < 3; ++i) {
        meter_record(recs[size_t(i)], mins[i], 30000);
        recs[size_t(i)].u8(meter::kLabelFont, 1);
    }
    open();
    pass();
    VID_Update();
    int same = 0, other = 0, ink = 0;
    for (int y = 230; y <= 250; ++y)
        for (int x = 100; x <= 200; ++x) {
            const COLOR a = screen_px(x, y), b = screen_px(x + 300, y), c = screen_px(x, y + 200);
            same += a == b;
            other += a != c;
            ink += a == kDial;
        }
    EXPECT_EQ(same, 21 * 101);
    EXPECT_GT(other, 0);
    EXPECT_GT(ink, 20);
}

TEST_F(MeterTest, AHubOfRadiusOneIsOnePixel) {
    // 60 x 12: centre (130, 110), d = 2, so the hub's radius is 1; the
    // needle is clipped above the baseline at 108.
    build({{9, 1, 100, 100, 159, 111}}, kPage);
    meter_record(recs[0], 0, 100);
    open();
    pass();
    VID_Update();
    EXPECT_EQ(screen_px(130, 110), kDial);
    EXPECT_EQ(screen_px(129, 110), kBack);
    EXPECT_EQ(screen_px(131, 110), kBack);
    EXPECT_EQ(screen_px(130, 109), kBack);
}

TEST_F(MeterTest, DialsAndGaugesAt0_50And100Percent) {
    const std::string pictures = "{\"dial\": {\"png\": \"" + dial_png(120) + "\", \"coding\": 1}}";
    std::vector<ObjSpec> objs;
    for (int k = 0; k < 3; ++k) {
        objs.push_back({9, 0x811, 20 + k * 260, 20, 20 + k * 260 + 239, 199});
        objs.push_back({9,
                        1,
                        20 + k * 260,
                        240,
                        20 + k * 260 + 119,
                        359,
                        0,
                        {},
                        "\"dial\": {\"picture\": \"dial\"}"});
    }
    build(objs, kPage, pictures);
    for (int k = 0; k < 3; ++k) {
        const Rec &d = recs[size_t(2 * k)], &g = recs[size_t(2 * k + 1)];
        meter_record(d, -100, 100);
        d.u16(meter::kValue, uint16_t(r_ref(kValue + k)));
        d.u8(meter::kTicks, uint8_t(3 + k));
        d.u32(meter::kCaption, text("Pressure"));
        d.u8(meter::kAlign, 0x14);
        d.u8(meter::kFont, 1);
        d.u8(meter::kLabelFont, 1);
        meter_record(g, 0, 200);
        g.u16(meter::kValue, uint16_t(r_ref(kValue + 3 + k)));
        g.u8(meter::kStyle, 0x20);
        g.u16(meter::kColour, 0x001F);
        put_le16(r_ptr(kValue + k), uint16_t(k * 100 - 100));
        put_le16(r_ptr(kValue + 3 + k), uint16_t(k * 100));
    }
    open();
    pass();
    VID_Update();
    EXPECT_EQ(screen_snapshot_diff("tests/objects/snapshots/meter_dials.png"), "");
}

// ---------------------------------------------------------------------------
// ROT

void pointer(const Rec &r, float start, float end, int32_t min = 0, int32_t max = 100) {
    r.u16(rot::kColour, kNeedleC);
    r.u8(rot::kPenStyle, 1);
    r.u8(rot::kPenWidth, 1);
    r.u16(rot::kValue, uint16_t(r_ref(kValue)));
    r.u8(rot::kValueSize, 16);
    r.u32(rot::kMin, uint32_t(min));
    r.u32(rot::kMax, uint32_t(max));
    r.u32(rot::kStart, std::bit_cast<uint32_t>(start));
    r.u32(rot::kEnd, std::bit_cast<uint32_t>(end));
}

constexpr float kPi = 3.14159265f;

TEST_F(ObjectsTest, PointerPointsByQuadrant) {
    // Centre (200, 200).
    build({{24, 1, 100, 100, 300, 300}});
    pointer(recs[0], 0, 0);
    open();
    struct Case {
        float angle;
        int x, y;
    } cases[] = {
        {0, 200, 100},           {kPi / 2, 300, 200},
        {kPi, 200, 300},         {3 * kPi / 2, 100, 200},
        {kPi / 4, 270, 130},     {3 * kPi / 4, 270, 270},
        {5 * kPi / 4, 130, 270}, {7 * kPi / 4, 130, 130},
        {-kPi / 2, 100, 200},    {2 * kPi + kPi / 2, 300, 200},
        {0.53f, 250, 114},       {kPi / 2 + 0.53f, 286, 250},
        {kPi + 0.53f, 150, 286}, {3 * kPi / 2 + 0.53f, 114, 150},
    };
    for (const Case &c : cases) {
        POINT p{};
        GetPoints(cb(0).inst, c.angle, 100, &p);
        EXPECT_EQ(p.x, c.x) << c.angle;
        EXPECT_EQ(p.y, c.y) << c.angle;
    }
}

TEST_F(ObjectsTest, PointerTurnsThroughItsSpan) {
    // Centre (200, 200), radius 100.
    struct Case {
        const char *what;
        float start, end;
        uint16_t style;
        int16_t value;
        int x, y;
    } cases[] = {
        {"equal angles: a full turn, half way down", 1, 1, 0, 50, 200 - 84, 200 + 54},
        {"zero span at 0: a quarter is right", 0, 0, 0, 25, 300, 200},
        {"half turn from up, 50 %: right", 0, kPi, 0, 50, 300, 200},
        {"above the maximum: the end", 0, kPi, 0, 500, 200, 300},
        {"below the minimum: the start", 0, kPi, 0, -5, 200, 100},
        {"backwards from the end", 0, kPi, 1, 0, 200, 300},
        {"across straight up", 3 * kPi / 2, kPi / 2, 0, 50, 200, 100},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        build({{24, 1, 100, 100, 300, 300}});
        pointer(recs[0], c.start, c.end);
        recs[0].u16(rot::kStyle, c.style);
        put_le16(r_ptr(kValue), uint16_t(c.value));
        open();
        pass();
        VID_Update();
        const POINT got = far_end(100, 100, 300, 300, 200, 200);
        EXPECT_NEAR(got.x, c.x, 1.5);
        EXPECT_NEAR(got.y, c.y, 1.5);
        OBJM_DestroyPage();
    }
}

TEST_F(ObjectsTest, PointerChangesAskForEraseAndRepaint) {
    build({{24, 1, 100, 100, 300, 300}});
    pointer(recs[0], 0, kPi);
    recs[0].u16(rot::kStyle, 0x10);
    recs[0].u32(rot::kPercent, r_ref(kLength));
    put_le16(r_ptr(kValue), 10);
    put_le16(r_ptr(kLength), 50);
    open();
    pass();
    EXPECT_EQ(update(0), 0);
    put_le16(r_ptr(kValue), 11);
    EXPECT_EQ(update(0), 0x4020);
    put_le16(r_ptr(kLength), 60); // the length alone
    EXPECT_EQ(update(0), 0x4020);
    put_le16(r_ptr(kLength), 250); // above 100 counts as 100
    EXPECT_EQ(update(0), 0x4020);
    put_le16(r_ptr(kLength), 100);
    EXPECT_EQ(update(0), 0);
    EXPECT_EQ(update(0, 1), 0x4020);
}

TEST_F(ObjectsTest, PointerLengthFields) {
    // Base 100; the field: a percentage, a register, or anything else = 100 %.
    struct Case {
        uint32_t field;
        int reach; // pixels above the centre
    } cases[] = {{50, 50},   {100, 100},           {0, 100},
                 {500, 100}, {r_ref(kLength), 30}, {0xFFFFFFFF, 100}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.field);
        build({{24, 1, 100, 100, 300, 300}});
        pointer(recs[0], 0, kPi);
        recs[0].u16(rot::kStyle, 0x10);
        recs[0].u32(rot::kPercent, c.field);
        put_le16(r_ptr(kLength), 30);
        put_le16(r_ptr(kValue), 0);
        open();
        pass();
        VID_Update();
        EXPECT_EQ(screen_px(200, 200 - c.reach + 1), kNeedleC);
        EXPECT_NE(screen_px(200, 200 - c.reach - 1), kNeedleC);
        OBJM_DestroyPage();
    }
}

TEST(RotCounter, Texts) {
    struct Case {
        uint32_t v;
        const char *text;
    } cases[] = {
        {0, "000.00"},      {7, "007.00"},           {999, "999.00"},         {1000, "01000"},
        {1234567, "34567"}, {uint32_t(-1), "67295"}, {uint32_t(-7), "67289"},
    };
    for (const Case &c : cases) {
        char out[8];
        ROT_CounterText(c.v, out);
        EXPECT_STREQ(out, c.text) << c.v;
    }
}

TEST_F(ObjectsTest, PointerWithoutPictureKeepsTheClip) {
    build({{24, 1, 100, 100, 300, 300, 0, {}, "\"shape\": 1"}});
    pointer(recs[0], 0, kPi);
    recs[0].u16(rot::kStyle, 0x40);
    open();
    pass();
    const RECT clip{120, 130, 250, 260};
    dc->clip = clip;
    cb(0).Paint(cb(0).def, cb(0).inst, 2);
    EXPECT_EQ(dc->clip.left, clip.left);
    EXPECT_EQ(dc->clip.top, clip.top);
    EXPECT_EQ(dc->clip.right, clip.right);
    EXPECT_EQ(dc->clip.bottom, clip.bottom);
}

TEST_F(MeterTest, PointerShapesAndCounter) {
    // Shapes 0-3 without a picture (3: none), then over a dial picture with
    // a counter; each at 45 degrees.
    const std::string pictures = "{\"dial\": {\"png\": \"" + dial_png(120) + "\", \"coding\": 1}}";
    std::vector<ObjSpec> objs;
    for (int k = 0; k < 4; ++k)
        objs.push_back({24,
                        1,
                        20 + k * 130,
                        20,
                        20 + k * 130 + 119,
                        139,
                        0,
                        {},
                        "\"shape\": " + std::to_string(k)});
    objs.push_back({24,
                    1,
                    20,
                    200,
                    139,
                    319,
                    0,
                    {},
                    "\"dial\": {\"picture\": \"dial\", \"counter\": true, "
                    "\"counter_colour\": 2016}, \"shape\": 1"});
    objs.push_back({24,
                    1,
                    150,
                    200,
                    269,
                    319,
                    0,
                    {},
                    "\"dial\": {\"picture\": \"dial\", \"kind\": 2, \"counter\": true}, "
                    "\"shape\": 2"});
    build(objs, kPage, pictures);
    for (size_t k = 0; k < objs.size(); ++k) {
        pointer(recs[k], 0, 2 * kPi, 0, 800);
        recs[k].u16(rot::kStyle, k < 4 ? 0x42 : 0x20);
        recs[k].u8(rot::kPenWidth, k < 4 ? 3 : 1);
    }
    put_le16(r_ptr(kValue), 100);
    open();
    pass();
    VID_Update();
    const int counts[] = {count(20, 20, 139, 139, kNeedleC), count(150, 20, 269, 139, kNeedleC),
                          count(280, 20, 399, 139, kNeedleC), count(410, 20, 529, 139, kNeedleC)};
    EXPECT_GT(counts[0], 50);
    EXPECT_GT(counts[1], 50);
    EXPECT_GT(counts[2], 50);
    EXPECT_EQ(counts[3], 0); // shape 3: no pointer
    EXPECT_EQ(screen_snapshot_diff("tests/objects/snapshots/rot_shapes.png"), "");
}

} // namespace
