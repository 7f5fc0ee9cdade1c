// The slide-out key panel: key pictures of 16 and 24 bits and odd widths
// sliding in and out a step a paint, the key layouts by screen width, the
// function keys, the close key, a touch outside, the system key's short
// press and its 5 s hold, and the pictures refused by the decoder.
#include "host/clock.h"
#include "objects/keysld.h"
#include "objects/objects.h"
#include "objects_fixture.h"
#include "png_snapshot.h"
#include "system/loop.h"
#include "system/sys.h"

#include <functional>

namespace {

// A BMP file of `bpp` bits (16: RGB565 words; 24 and 32: blue, green, red
// bytes), rows bottom-up and padded to 4 bytes, from a colour of each pixel.
struct Rgb {
    uint8_t r, g, b;
};
std::string bmp(int w, int h, int bpp, const std::function<Rgb(int x, int y)> &colour) {
    const int bytes = bpp / 8, row = (w * bytes + 3) & ~3;
    std::string data(size_t(row) * size_t(h), '\0');
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Rgb c = colour(x, y);
            auto *p =
                reinterpret_cast<uint8_t *>(&data[size_t(h - 1 - y) * row + size_t(x) * bytes]);
            if (bpp == 16) {
                put_le16(p, uint16_t((c.r >> 3) << 11 | (c.g >> 2) << 5 | c.b >> 3));
            } else {
                p[0] = c.b;
                p[1] = c.g;
                p[2] = c.r;
            }
        }
    std::string f(54, '\0');
    auto *h8 = reinterpret_cast<uint8_t *>(f.data());
    h8[0] = 'B';
    h8[1] = 'M';
    put_le32(h8 + 2, uint32_t(54 + data.size()));
    put_le32(h8 + 10, 54);
    put_le32(h8 + 14, 40);
    put_le32(h8 + 18, uint32_t(w));
    put_le32(h8 + 22, uint32_t(h));
    put_le16(h8 + 26, 1);
    put_le16(h8 + 28, uint16_t(bpp));
    put_le32(h8 + 34, uint32_t(data.size()));
    return f + data;
}
COLOR rgb565(Rgb c) {
    return COLOR((c.r >> 3) << 11 | (c.g >> 2) << 5 | c.b >> 3);
}

// Keys as the layouts place them, in a picture of stripes.
Rgb stripes(int x, int y) {
    return Rgb{uint8_t(x * 4), uint8_t(y), uint8_t(0x80 | (x + y) % 64)};
}

constexpr COLOR kPage = 0x4208;

class KeyPanelTest : public ObjectsTest {
protected:
    int W() const { return dc->bounds.right + 1; }

    // Loads a picture and opens a page of one text object under the panel.
    void load(const std::string &file) {
        write_file("/mnt/cfg/keys.bmp", file);
        ASSERT_EQ(KEY_SlideInit(), 1);
        OBJM_Init();
        build({{1, 0x1, 10, 10, 100, 40}}, kPage);
        open();
    }
    // Opens the panel and lets it slide in whole.
    void slide_in() {
        ASSERT_EQ(OBJM_SlideKey(), 0);
        for (int i = 0; i < 200 && !(Key_sld && offset() == 0 && state() == 4); ++i)
            pass();
        ASSERT_EQ(state(), 4);
    }
    const RECT &panel() const { return objm::g.KeySld.inst->area; }
    // The instance as the class keeps it: the common header, then the panel
    // rectangle, the slide offset, the pressed key's top, the key and the state.
    int offset() const { return reinterpret_cast<const int16_t *>(objm::g.KeySld.inst + 1)[4]; }
    int state() const { return reinterpret_cast<const uint8_t *>(objm::g.KeySld.inst + 1)[13]; }
    uint16_t k_bits() const { return le16(plc_reg + reg::kK); }
};

TEST_F(KeyPanelTest, SlidesInAndOutAStepAPaint) {
    struct Case {
        int bpp, width;
        const char *snapshot; // of the panel half in, when set
    } cases[] = {{16, 59, nullptr},
                 {24, 125, "tests/objects/snapshots/keys_sliding.png"},
                 {32, 61, nullptr}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.bpp);
        load(bmp(c.width, 300, c.bpp, stripes));
        const int left = W() - c.width;
        ASSERT_EQ(OBJM_SlideKey(), 0);
        pass(); // the panel opens: state 2, the whole width still to go
        EXPECT_EQ(Key_sld, 1);
        for (int expect = c.width - 4;; expect -= 4) {
            pass();
            const int at = expect < 2 ? 0 : expect;
            ASSERT_EQ(offset(), at);
            // The picture's first column stands at the offset, the page left of it.
            EXPECT_EQ(screen_px(left + at, 20), rgb565(stripes(0, 20)));
            EXPECT_EQ(screen_px(left + at + 3, 299), rgb565(stripes(3, 299)));
            if (at > 0) {
                EXPECT_EQ(screen_px(left + at - 1, 20), kPage);
            }
            EXPECT_EQ(screen_px(left, 300), kPage) << "nothing below the picture";
            if (c.snapshot && at <= c.width / 2 && at > c.width / 2 - 4) {
                EXPECT_EQ(screen_snapshot_diff(c.snapshot), "");
            }
            if (at == 0) break;
        }
        EXPECT_EQ(state(), 4);
        // A touch outside slides it out, 60 pixels a paint, without a key.
        const int waiting = KEY_Waiting();
        touch(200, 200, true); // and the same pass paints the first step
        EXPECT_EQ(Key_sld, 0);
        EXPECT_EQ(offset(), std::min(60, c.width));
        for (int expect = 120; objm::g.fSelectKey; expect += 60) {
            pass();
            if (!objm::g.fSelectKey) break;
            const int at = std::min(expect, c.width);
            ASSERT_EQ(offset(), at);
            EXPECT_EQ(screen_px(left + at - 1, 20), kPage);
            if (at < c.width) {
                EXPECT_EQ(screen_px(left + at, 20), rgb565(stripes(0, 20)));
            }
        }
        EXPECT_EQ(screen_px(W() - 1, 20), kPage);
        EXPECT_EQ(KEY_Waiting(), waiting);
        EXPECT_EQ(k_bits(), 0);
    }
}

// The key layouts by screen width, on a screen of each width.
class KeyLayoutTest : public KeyPanelTest, public testing::WithParamInterface<const char *> {
protected:
    std::string screen() const override { return GetParam(); }
};

TEST_P(KeyLayoutTest, FunctionAndCloseKeys) {
    struct Case {
        const char *screen;
        int key;        // touched key, by its place in the layout
        int k_bit;      // function key it sends, 0 none
        bool closes;    // the panel slides out on the release
        int x, y, step; // first key's place and the distance between keys
    } cases[] = {
        {"800x480", 1, 1, false, 8, 9, 54},     {"800x480", 4, 4, false, 8, 9, 54},
        {"800x480", 8, 0, false, 8, 9, 54}, // 5 keys: no close key there
        {"1280x800", 7, 7, false, 14, 16, 82},  {"1280x800", 8, 0, true, 14, 16, 82},
        {"1440x900", 2, 2, false, 20, 22, 120},
    };
    for (const Case &c : cases) {
        if (std::string(c.screen) != GetParam()) continue;
        SCOPED_TRACE(testing::Message() << c.screen << " key " << c.key);
        ASSERT_EQ(W(), std::stoi(c.screen));
        load(bmp(101, dc->bounds.bottom + 1, 24, stripes));
        slide_in();
        const int x = panel().left + c.x + 2, y = c.y + c.key * c.step + 2;
        touch(x, y, true);
        pass();
        EXPECT_EQ(k_bits(), c.k_bit ? 1u << (c.k_bit - 1) : 0u);
        touch(x, y, false);
        pass();
        EXPECT_EQ(k_bits(), 0) << "released";
        EXPECT_EQ(Key_sld == 0, c.closes) << "sliding out";
        OBJM_DestroyPage();
        if (objm::g.fSelectKey) OBJM_SlideKey(); // closes it
    }
}
INSTANTIATE_TEST_SUITE_P(Screens, KeyLayoutTest,
                         testing::Values("800x480", "1280x800", "1440x900"));

TEST_F(KeyPanelTest, ToggleModeKeyOneTogglesK1) {
    load(bmp(63, 480, 16, stripes));
    sr_put(sr::kKeyToggle, 1);
    slide_in();
    const int x = panel().left + 10, y = 9 + 54 + 10;
    for (uint16_t expect : {1, 0}) {
        touch(x, y, true);
        touch(x, y, false);
        pass();
        EXPECT_EQ(k_bits(), expect);
    }
}

TEST_F(KeyPanelTest, SystemKeyShortPressAndHold) {
    load(bmp(63, 480, 24, stripes));
    const int x = W() - 63 + 10, y = 9 + 10;
    // A short press: 26 into the key registers on the press, then the key
    // path's system key on the release, which opens the system menu.
    slide_in();
    touch(x, y, true);
    EXPECT_EQ(sr_get(sr::kLastKey), 26);
    host::clock_advance_ms(1000);
    touch(x, y, false);
    EXPECT_EQ(objm::g.fSelectKey, 0) << "the system key closes the panel";
    EXPECT_EQ(Key_sld, 0);
    pass();
    EXPECT_EQ(sr_get(sr::kSystemScreen), sr::kSysScreenMenu);
    EXPECT_EQ(RecoverMode, 0);
    sr_put(sr::kSystemScreen, 0);
    // The panel opens again at once.
    slide_in();
    // Held 5 s: the recovery request, the key let go, the panel down.
    touch(x, y, true);
    host::clock_advance_ms(4900);
    pass();
    EXPECT_EQ(RecoverMode, 0);
    host::clock_advance_ms(200);
    pass();
    EXPECT_EQ(RecoverMode, 1);
    EXPECT_EQ(ForceRecoveryDetectFlag, 1);
    EXPECT_EQ(sr_get(sr::kLastKey), 255);
    EXPECT_EQ(objm::g.fSelectKey, 0);
    EXPECT_EQ(Key_sld, 0) << "the corner works again once recovery is left";
    const int waiting = KEY_Waiting();
    touch(x, y, false);
    EXPECT_EQ(KEY_Waiting(), waiting) << "no system key after the hold";
    // With the keys locked the hold asks for nothing.
    RecoverMode = ForceRecoveryDetectFlag = 0;
    sr_put(sr::kKeysDisabled, 1);
    slide_in();
    touch(x, y, true);
    host::clock_advance_ms(6000);
    pass();
    EXPECT_EQ(RecoverMode, 0);
}

TEST_F(KeyPanelTest, PicturesRefused) {
    const std::string good = bmp(5, 3, 24, stripes);
    auto with = [&](size_t at, uint32_t v, int width) {
        std::string f = good;
        auto *p = reinterpret_cast<uint8_t *>(f.data()) + at;
        if (width == 2)
            put_le16(p, uint16_t(v));
        else
            put_le32(p, v);
        return f;
    };
    struct Case {
        const char *what;
        std::string file;
    } cases[] = {
        {"no BM", "XM" + good.substr(2)},
        {"8-bit depth", with(28, 8, 2)},
        {"1-bit depth", with(28, 1, 2)},
        {"no width", with(18, 0, 4)},
        {"negative height", with(22, uint32_t(-3), 4)},
        {"pixels past the end", with(10, 60, 4)},
        {"offset past the end", with(10, 0xFFFFFF00u, 4)},
        {"rows past the end", with(22, 4, 4)},
        {"file size field", with(2, 1048576, 4)},
        {"image size field", with(34, 1048576, 4)},
        {"cut short", good.substr(0, good.size() - 1)},
        {"header only", good.substr(0, 30)},
    };
    uint16_t out[64];
    int w, h;
    ASSERT_TRUE(KEY_DecodeBmp(reinterpret_cast<const uint8_t *>(good.data()), good.size(), out, 64,
                              &w, &h));
    EXPECT_EQ(out[1 * 5 + 4], rgb565(stripes(4, 1)));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(KEY_DecodeBmp(reinterpret_cast<const uint8_t *>(c.file.data()), c.file.size(),
                                   out, 64, &w, &h));
        write_file("/mnt/cfg/keys.bmp", c.file);
        EXPECT_EQ(KEY_SlideInit(), 0);
        OBJM_Init();
        EXPECT_EQ(OBJM_SlideKey(), 0);
        EXPECT_EQ(objm::g.fSelectKey, 0) << "a panel without a picture never opens";
    }
}

} // namespace
