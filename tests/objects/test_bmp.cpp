// BMP objects: pictures of every coding drawn as their PNG source after
// RGB565, the frame register clamped to the frame table, the two-state and
// step actions, a held momentary button released with its page, bitmaps
// beyond the screen, records and pictures that cannot be shown, and raw
// pictures shorter than the object.
#include "objects/objects.h"
#include "objects_fixture.h"
#include "png_snapshot.h"

#include <png.h>

#include <functional>

namespace {

using namespace rec;

constexpr int kFrameReg = 50;
constexpr uint32_t kShown = 0x9, kTouch = 0x4000, kTwoState = 0x800;

struct Rgb {
    uint8_t r, g, b;
};
using Painter = std::function<Rgb(int x, int y)>;

uint16_t rgb565(Rgb c) {
    return uint16_t((c.r >> 3) << 11 | (c.g >> 2) << 5 | c.b >> 3);
}

class BmpTest : public ObjectsTest {
protected:
    // Writes a PNG of the test's root folder; returns its path.
    std::string png(const std::string &name, int w, int h, const Painter &paint) {
        std::vector<uint8_t> px(size_t(w) * size_t(h) * 4);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const Rgb c = paint(x, y);
                uint8_t *p = px.data() + 4 * (size_t(y) * size_t(w) + size_t(x));
                p[0] = c.r;
                p[1] = c.g;
                p[2] = c.b;
                p[3] = 255;
            }
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        image.width = uint32_t(w);
        image.height = uint32_t(h);
        image.format = PNG_FORMAT_RGBA;
        const std::string path = root_dir + "/" + name + ".png";
        EXPECT_NE(png_image_write_to_file(&image, path.c_str(), 0, px.data(), 0, nullptr), 0);
        return path;
    }
    static Painter solid(Rgb c) {
        return [c](int, int) { return c; };
    }
    // Three solid frames (red, green, blue) of 20 x 20, coded with runs.
    std::string frames() {
        const Rgb colours[] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
        const char *names[] = {"red", "green", "blue"};
        std::string j;
        for (int i = 0; i < 3; ++i)
            j += std::string(i ? ", " : "") + "\"" + names[i] + "\": {\"png\": \"" +
                 png(names[i], 20, 20, solid(colours[i])) + "\", \"coding\": 1}";
        return "{" + j + "}";
    }
    void frame_register(const Rec &r, uint8_t size = 16, uint32_t ref = r_ref(kFrameReg)) {
        r.u16(bmp::kFrame, uint16_t(ref));
        r.u8(bmp::kFrameSize, size);
    }
    static int16_t frame_value() { return int16_t(le16(r_ptr(kFrameReg))); }
};

// A picture with gradients (literal bytes), black rows (zero runs) and
// white rows (0xFF runs) with a few dots.
Rgb picture_pattern(int x, int y) {
    if (y < 10) return Rgb{uint8_t(x * 6), uint8_t(y * 25), uint8_t(255 - x * 6)};
    if (y < 20) return Rgb{0, 0, 0};
    return x % 13 == 0 ? Rgb{200, 100, 50} : Rgb{255, 255, 255};
}

TEST_F(BmpTest, CodingsDrawTheirSourcePicture) {
    const std::string file = png("pattern", 40, 30, picture_pattern);
    std::string pictures = "{";
    for (int coding = 0; coding < 3; ++coding)
        pictures += std::string(coding ? ", " : "") + "\"c" + std::to_string(coding) +
                    "\": {\"png\": \"" + file + "\", \"coding\": " + std::to_string(coding) + "}";
    pictures += "}";
    build({{8, 1, 10, 10, 49, 39, 0, "[\"c0\"]"},
           {8, 1, 60, 10, 99, 39, 0, "[\"c1\"]"},
           {8, 1, 110, 10, 149, 39, 0, "[\"c2\"]"}},
          0x1234, pictures);
    open();
    pass();
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        int wrong = 0;
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x)
                wrong += screen_px(10 + 50 * k + x, 10 + y) != rgb565(picture_pattern(x, y));
        EXPECT_EQ(wrong, 0);
    }
}

TEST_F(BmpTest, FrameRegisterIsClampedToTheTable) {
    build({{8, 1, 10, 10, 29, 29, 0, R"(["red", "green", "blue"])"}}, 0x1234, frames());
    frame_register(recs[0]);
    struct Case {
        int16_t value;
        COLOR shown;
    } cases[] = {{0, 0xF800}, {1, 0x07E0},  {2, 0x001F},     {3, 0x001F},
                 {7, 0x001F}, {-1, 0xF800}, {32767, 0x001F}, {-32768, 0xF800}};
    open();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        put_le16(r_ptr(kFrameReg), uint16_t(c.value));
        pass();
        EXPECT_EQ(screen_px(20, 20), c.shown);
    }
}

TEST_F(BmpTest, TouchActions) {
    struct Case {
        const char *what;
        uint32_t flags;
        int frames;
        uint8_t size;
        int16_t before, after_down, after_up;
    } cases[] = {
        {"momentary", kTwoState | 0x10, 2, 16, 0, 1, 0},
        {"toggle on", kTwoState | 0x80, 2, 16, 0, 0, 1},
        {"toggle off", kTwoState | 0x80, 2, 16, 1, 1, 0},
        {"toggle of 2 gives 0", kTwoState | 0x80, 2, 16, 2, 2, 0},
        {"set", kTwoState | 0x20, 2, 16, 0, 0, 1},
        {"reset", kTwoState | 0x40, 2, 16, 1, 1, 0},
        {"two-state without an action toggles", kTwoState, 2, 16, 0, 0, 1},
        {"two-state of three frames steps", kTwoState | 0x10, 3, 16, 1, 1, 2},
        {"step", 0, 3, 16, 1, 1, 2},
        {"step wraps at N", 0, 3, 16, 2, 2, 0},
        {"step of a single bit wraps above 1", 0, 3, 1, 1, 1, 0},
    };
    const std::string pictures = frames();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        build({{8, kShown | kTouch | c.flags, 10, 10, 29, 29, 0,
                c.frames == 2 ? R"(["red", "green"])" : R"(["red", "green", "blue"])"}},
              0x1234, pictures);
        // A single bit is %M1 (bit 0 of the word that also holds %M2 to %M16).
        const uint32_t ref = c.size == 1 ? reg::kRefM : r_ref(kFrameReg);
        uint8_t *word = c.size == 1 ? plc_reg + reg::kM : r_ptr(kFrameReg);
        frame_register(recs[0], c.size, ref);
        put_le16(word, uint16_t(c.before));
        open();
        pass();
        touch(20, 20, true);
        EXPECT_EQ(int16_t(le16(word)), c.after_down);
        touch(20, 20, false);
        EXPECT_EQ(int16_t(le16(word)), c.after_up);
        OBJM_DestroyPage();
        put_le16(word, 0);
    }
}

TEST_F(BmpTest, ClosingThePageReleasesAHeldMomentaryButton) {
    build({{8, kShown | kTouch | kTwoState | 0x10, 10, 10, 29, 29, 0, R"(["red", "green"])"}},
          0x1234, frames());
    frame_register(recs[0]);
    open();
    pass();
    touch(20, 20, true);
    ASSERT_EQ(frame_value(), 1);
    OBJM_DestroyPage();
    EXPECT_EQ(frame_value(), 0);
}

TEST_F(BmpTest, BitmapBeyondTheScreenTakesNoMemory) {
    build({{8, kShown | kTouch, 790, 10, 809, 29, 0, R"(["red", "green"])"},
           {8, kShown, 10, 10, 29, 29, 0, R"(["blue"])"}},
          0x1234, frames());
    frame_register(recs[0]);
    ASSERT_NE(BMP_Class.Need, nullptr);
    EXPECT_EQ(BMP_Class.Need(recs[0].p), sizeof(ObjInst));
    open();
    pass();
    const uint8_t *first = reinterpret_cast<const uint8_t *>(cb(0).inst);
    EXPECT_LE(reinterpret_cast<const uint8_t *>(cb(1).inst) - first, 8 + int(sizeof(ObjInst)));
    EXPECT_EQ(update(0, 1), 0);
    EXPECT_EQ(cb(0).Signal(cb(0).def, cb(0).inst, objmsg::kTouchDown, 0), 0);
    EXPECT_EQ(screen_px(20, 20), 0x001F) << "the next object is whole";
    EXPECT_EQ(screen_px(795, 20), 0x1234);
}

TEST_F(BmpTest, WhatCannotBeShownShowsNothing) {
    const std::string pictures = frames();
    struct Case {
        const char *what;
        std::function<void(const Rec &)> spoil;
        int16_t frame_after; // a record without a frame table answers nothing
    } cases[] = {
        {"no frames", [](const Rec &r) { r.u8(bmp::kFrames, 0); }, 5},
        {"no own length", [](const Rec &r) { put_le32(r.p + 2, le32(r.p + 2) & ~0x1000u); }, 5},
        {"entries shorter than an offset", [](const Rec &r) { r.u8(bmp::kFrames, 2); }, 5},
        {"a picture beyond the bitmap area", [](const Rec &r) { r.u32(bmp::kTable, 0x7FFFFFF0); },
         0},
        {"a picture whose coded length runs past the area",
         [](const Rec &r) { r.u32(bmp::kTable, le32(bmp_table + 4) - 2); }, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        build({{8, kShown | kTouch, 10, 10, 29, 29, 0, R"(["red"])"}}, 0x1234, pictures);
        frame_register(recs[0]);
        c.spoil(recs[0]);
        put_le16(r_ptr(kFrameReg), 5);
        open();
        pass();
        touch(20, 20, true);
        touch(20, 20, false);
        EXPECT_EQ(screen_px(20, 20), 0x1234);
        EXPECT_EQ(frame_value(), c.frame_after);
        OBJM_DestroyPage();
    }
}

TEST_F(BmpTest, RawPictureShorterThanTheObjectDrawsItsRows) {
    const std::string file = png("short", 20, 10, solid({0, 255, 0}));
    for (int coding : {0, 2}) {
        SCOPED_TRACE(coding);
        build({{8, 1, 10, 10, 29, 29, 0, R"(["short"])"}}, 0x1234,
              "{\"short\": {\"png\": \"" + file + "\", \"coding\": " + std::to_string(coding) +
                  "}}");
        open();
        pass();
        EXPECT_EQ(screen_px(20, 19), 0x07E0);
        EXPECT_EQ(screen_px(20, 20), 0x1234) << "no row past the picture";
        EXPECT_EQ(screen_px(20, 29), 0x1234);
        OBJM_DestroyPage();
    }
}

} // namespace
