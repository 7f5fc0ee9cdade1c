// Shared helpers: values in packed records, value scaling, shade colours,
// control shapes, and string helpers of both character widths.
#include "gdi/text.h"
#include "gdi/util.h"
#include "png_snapshot.h"
#include "shapes_fixture.h"

#include <cstring>
#include <string>
#include <vector>

class UtilTest : public ShapesTest {};

TEST_F(UtilTest, ValuesAtSixteenBitAlignedAddresses) {
    alignas(8) uint8_t buf[16] = {};
    UTIL_PutDword(buf + 2, 0x11223344);
    EXPECT_EQ(buf[2], 0x44);
    EXPECT_EQ(buf[5], 0x11);
    EXPECT_EQ(UTIL_GetDword(buf + 2), 0x11223344u);
    UTIL_PutDouble(buf + 6, 1.5); // 0x3FF8000000000000
    EXPECT_EQ(buf[13], 0x3F);
    EXPECT_EQ(buf[12], 0xF8);
    EXPECT_EQ(buf[6], 0x00);
    EXPECT_EQ(UTIL_GetDouble(buf + 6), 1.5);
    UTIL_PutDword(buf + 2, 0xC0490FDB); // -3.14159274f
    EXPECT_FLOAT_EQ(UTIL_GetFloat(buf + 2), -3.14159274f);
}

TEST_F(UtilTest, ScalingTable) {
    struct Case {
        const char *what;
        uint16_t (*fn)(int, int, int, int, int);
        int value, bits, max, min, range;
        uint16_t expect;
    };
    // clang-format off
    const Case cases[] = {
        {"u16 half",              UTIL_U16Scale,   50, 16, 100, 0, 200, 100},
        {"u16 above max",         UTIL_U16Scale,  150, 16, 100, 0, 200, 200},
        {"u16 below min",         UTIL_U16Scale,   -5, 16, 100, 0, 200, 0},
        {"u16 0xFFFF is -1",      UTIL_U16Scale, 0xFFFF, 16, 100, 0, 200, 0},
        {"u16 bits 32",           UTIL_U16Scale,   50, 32, 100, 0, 200, 0},
        {"u16 empty span",        UTIL_U16Scale,    5, 16, 7, 7, 200, 0},
        {"u16 full 16-bit span",  UTIL_U16Scale, 30000, 16, 32767, -32768, 65535, 62768},
        {"s16 zero-centred",      UTIL_S16Scale,   50, 16, 100, -100, 100, 25},
        {"s16 negative value",    UTIL_S16Scale,  -50, 16, 100, -100, 100, uint16_t(-25)},
        {"s16 clamped",           UTIL_S16Scale,  150, 16, 100, -100, 100, 50},
        {"s16 positive scale",    UTIL_S16Scale,   60, 16, 100, 20, 80, 40},
        {"s16 negative scale",    UTIL_S16Scale,  -50, 16, -10, -100, 90, 50},
        {"s16 empty span",        UTIL_S16Scale,    5, 16, 7, 7, 100, 0},
        {"s16 bits 8",            UTIL_S16Scale,   50, 8, 100, -100, 100, 0},
        {"s16 full 16-bit span",  UTIL_S16Scale, 32767, 16, 32767, -32768, 65535, 32767},
        {"unscale half",          UTIL_U16Unscale, 100, 16, 100, 0, 200, 50},
        {"unscale past range",    UTIL_U16Unscale, 300, 16, 100, 0, 200, 100},
        {"unscale with min",      UTIL_U16Unscale,  50, 16, 120, 20, 100, 70},
        {"unscale empty span",    UTIL_U16Unscale,  50, 16, 20, 20, 100, 0},
        {"unscale no pixels",     UTIL_U16Unscale,   5, 16, 100, 20, 0, 20},
        {"unscale bits 32",       UTIL_U16Unscale,  50, 32, 100, 0, 100, 0},
    };
    // clang-format on
    for (const Case &c : cases)
        EXPECT_EQ(c.fn(c.value, c.bits, c.max, c.min, c.range), c.expect) << c.what;

    EXPECT_FLOAT_EQ(UTIL_F32Scale(50, 16, 100, 0, 1.0f), 0.5f);
    EXPECT_FLOAT_EQ(UTIL_F32Last(), 0.5f);
    EXPECT_FLOAT_EQ(UTIL_F32Scale(150, 16, 100, 0, 80.0f), 80.0f);
    EXPECT_FLOAT_EQ(UTIL_F32Scale(-1, 16, 100, 0, 80.0f), 0.0f);
    EXPECT_FLOAT_EQ(UTIL_F32Scale(5, 16, 9, 9, 80.0f), 0.0f);
    EXPECT_FLOAT_EQ(UTIL_F32Scale(5, 32, 100, 0, 80.0f), 0.0f);
    EXPECT_FLOAT_EQ(UTIL_F32Last(), 0.0f);
}

TEST_F(UtilTest, ShadeColours) {
    struct Case {
        COLOR face;
        COLOR raised_light, raised_dark, pressed_light, pressed_dark;
    };
    // clang-format off
    const Case cases[] = {
        {0xFFFF, 0xC638, 0x7BEF, 0x7BEF, 0xC638}, // very bright
        {0xF800, 0xFFDF, 0x7800, 0x7800, 0xFFDF}, // bright: face halved
        {0xB5B6, 0xFFDF, 0x5ACB, 0x5ACB, 0xFFDF}, // 22,45,22: bright
        {0x5000, 0xA000, 0x0000, 0x0000, 0xA000}, // middle: red doubled
        {0x03C5, 0x078A, 0x0000, 0x0000, 0x078A}, // middle: green 30 -> 60, blue 5 -> 10
        {0x4A69, 0x9492, 0x0000, 0x0000, 0x9492}, // 9,19,9: middle
        {0x4228, 0xFFDF, 0x7BEF, 0x7BEF, 0xFFDF}, // 8,17,8: dark
        {0x0000, 0xFFDF, 0x7BEF, 0x7BEF, 0xFFDF}, // dark
    };
    // clang-format on
    for (const Case &c : cases) {
        COLOR light = 1, dark = 1;
        UTIL_3DShades(0, c.face, &light, &dark);
        EXPECT_EQ(light, c.raised_light) << std::hex << c.face;
        EXPECT_EQ(dark, c.raised_dark) << std::hex << c.face;
        UTIL_3DShades(1, c.face, &light, &dark);
        EXPECT_EQ(light, c.pressed_light) << std::hex << c.face;
        EXPECT_EQ(dark, c.pressed_dark) << std::hex << c.face;
    }

    EXPECT_EQ(UTIL_IsBright(0xB000), 1); // red 22
    EXPECT_EQ(UTIL_IsBright(0xA800), 0); // red 21
    EXPECT_EQ(UTIL_IsBright(0x02C0), 1); // green 22
    EXPECT_EQ(UTIL_IsBright(0x02A0), 0); // green 21
    EXPECT_EQ(UTIL_IsBright(0x001F), 0); // blue does not count

    EXPECT_EQ(UTIL_InvertIntensity(0x4108), 0xC638);                         // 8,8,8: dark
    EXPECT_EQ(UTIL_InvertIntensity(0x5285), COLOR(20 << 11 | 31 << 5 | 10)); // 10,20,5
    EXPECT_EQ(UTIL_InvertIntensity(0xFFFF), COLOR(15 << 11 | 31 << 5 | 15)); // halved
}

// The three-pixel bevel: light along the top and left, dark along the right
// and bottom, light owning the bottom-left corners and dark the top-right.
TEST_F(UtilTest, ShadeRectBevel) {
    DC *dc = open();
    const RECT r{10, 10, 20, 18};
    UTIL_ShadeRect(dc, &r, kPen, kFill, 0);
    EXPECT_EQ(pic(dc, 10, 10, 10, 8), "#########o\n"
                                      "########oo\n"
                                      "#######ooo\n"
                                      "###....ooo\n"
                                      "###....ooo\n"
                                      "###ooooooo\n"
                                      "##oooooooo\n"
                                      "#ooooooooo\n");
    dc = open();
    UTIL_ShadeRect(dc, &r, kPen, kFill, 1);
    EXPECT_EQ(pic(dc, 10, 10, 10, 8), "..........\n"
                                      ".#######o.\n"
                                      ".######oo.\n"
                                      ".#####ooo.\n"
                                      ".###ooooo.\n"
                                      ".##oooooo.\n"
                                      ".#ooooooo.\n"
                                      "..........\n");
}

// Every shape leaves the context's pen, fill colour and clip as they were,
// and a tiny or inverted rectangle draws without fault.
TEST_F(UtilTest, ShapesKeepTheContextAndSurviveTinyRectangles) {
    using Shape = void (*)(DC *, const RECT *);
    const Shape shapes[] = {
        [](DC *d, const RECT *r) { UTIL_ShadeRect(d, r, 0xFFDF, 0x7BEF, 1); },
        [](DC *d, const RECT *r) { UTIL_3DEtch(d, r, 0xFFDF, 0x7BEF); },
        UTIL_Bezel,
        UTIL_HexNut,
        [](DC *d, const RECT *r) { UTIL_RoundButton(d, r, 0); },
        [](DC *d, const RECT *r) { UTIL_RoundButton(d, r, 1); },
    };
    const RECT rects[] = {{10, 10, 60, 40}, {10, 10, 11, 11}, {10, 10, 13, 30},
                          {10, 10, 30, 12}, {30, 30, 10, 10}, {-40, -40, 20, 20}};
    for (size_t i = 0; i < std::size(shapes); ++i) {
        for (const RECT &r : rects) {
            DC *dc = open();
            GDI_SetPen(dc, kPenDashed, 3, kPen);
            GDI_SetFillColor(dc, kFill);
            RECT clip{0, 0, 300, 200};
            GDI_SetClipRect(dc, &clip, nullptr);
            dc->pattern_mask = 0x10;
            shapes[i](dc, &r);
            EXPECT_EQ(dc->pen_style, kPenDashed) << i;
            EXPECT_EQ(dc->pen_width, 3) << i;
            EXPECT_EQ(dc->pen_colour, kPen) << i;
            EXPECT_EQ(dc->pen_pattern, 0xC7) << i;
            EXPECT_EQ(dc->pattern_mask, 0x10) << i;
            EXPECT_EQ(dc->fill_colour, kFill) << i;
            EXPECT_EQ(dc->clip.right, 299) << i;
            EXPECT_EQ(dc->clip.bottom, 199) << i;
            for (const auto &[x, y] : marked(dc))
                ASSERT_TRUE(x >= std::min(r.left, r.right) && x < std::max(r.left, r.right) + 4 &&
                            y >= std::min(r.top, r.bottom) && y < std::max(r.top, r.bottom) + 4)
                    << "shape " << i << " at " << x << "," << y;
        }
    }
}

// Buttons raised and pressed in every shade class, bevels, etched frames,
// nuts, round buttons and a gradient button; review before accepting.
TEST_F(UtilTest, ButtonsMatchTheReviewedPicture) {
    DC *dc = open();
    for (int y = 0; y < 272; ++y)
        GDI_ScanLine(dc, y, 0, 479, 0x9CD3);
    const COLOR faces[4] = {0xFFDF, 0xF800, 0x4A69, 0x1082};
    for (int i = 0; i < 4; ++i) {
        GDI_SetPen(dc, kPenSolid, 1, 0);
        GDI_SetFillColor(dc, faces[i]);
        const RECT up{int16_t(8 + i * 116), 8, int16_t(62 + i * 116), 48};
        const RECT down{int16_t(66 + i * 116), 8, int16_t(120 + i * 116), 48};
        UTIL_Button(dc, &up, 0);
        UTIL_Button(dc, &down, 1);
        const RECT round_up{int16_t(8 + i * 116), 120, int16_t(58 + i * 116), 170};
        const RECT round_down{int16_t(66 + i * 116), 120, int16_t(116 + i * 116), 170};
        UTIL_RoundButton(dc, &round_up, 0);
        UTIL_RoundButton(dc, &round_down, 1);
    }
    const RECT shade{8, 56, 68, 112}, shade_in{76, 56, 136, 112};
    UTIL_ShadeRect(dc, &shade, 0xFFDF, 0x0000, 0);
    UTIL_ShadeRect(dc, &shade_in, 0x07E0, 0x001F, 1);
    const RECT etch{144, 56, 204, 112};
    UTIL_3DEtch(dc, &etch, 0xFFDF, 0x4208);
    const RECT bezel{212, 56, 292, 112}, thin_bezel{300, 56, 320, 62};
    UTIL_Bezel(dc, &bezel);
    UTIL_Bezel(dc, &thin_bezel);
    const RECT nut{330, 56, 410, 112}, small_nut{420, 56, 460, 80};
    UTIL_HexNut(dc, &nut);
    UTIL_HexNut(dc, &small_nut);
    GDI_SetGradient(dc, 3);
    GDI_SetFillColor(dc, 0x001F);
    GDI_SetEndColor(dc, 0xFFFF);
    GDI_SetPen(dc, kPenSolid, 1, 0);
    const RECT grad{8, 180, 200, 230};
    UTIL_GradButton(dc, 8, 8, &grad, 0);
    GDI_SetFillColor(dc, 0x4A69);
    const RECT big_round{220, 180, 300, 260};
    UTIL_RoundButton(dc, &big_round, 0);
    EXPECT_EQ(png_snapshot_diff("tests/gdi/snapshots/buttons.png", rgb(dc), 480, 272), "");
}

namespace {
// A counted byte MultiStr: the count, then each line ended by its code.
struct Multi {
    std::string bytes;
    const char *text() const { return bytes.c_str() + 1; }
};
Multi multi(std::initializer_list<std::pair<std::string, char>> lines) {
    Multi m;
    m.bytes += char(lines.size());
    for (const auto &[s, end] : lines) {
        m.bytes += s;
        m.bytes += end;
    }
    return m;
}
std::vector<uint16_t> widen(const std::string &s) {
    return std::vector<uint16_t>(s.begin(), s.end());
}
// The lines of a result written by the limiter.
std::vector<std::string> lines_of(const char *first) {
    std::vector<std::string> out;
    const unsigned n = uint8_t(first[-1]);
    const char *p = first;
    for (unsigned i = 0; i < n; ++i) {
        out.emplace_back(p);
        p += out.back().size() + 1;
    }
    return out;
}
} // namespace

TEST_F(UtilTest, LimitMultiStrTable) {
    using L = std::vector<std::string>;
    struct Case {
        const char *what;
        Multi src;
        int max_lines, max_chars;
        L expect;
    };
    const Case cases[] = {
        {"fits", multi({{"hello world", 0}}), 2, 20, L{"hello world"}},
        {"lines joined with a blank", multi({{"hello", 0}, {"world", 0}}), 1, 20, L{"hello world"}},
        {"code 1 joins without a blank", multi({{"hel", 1}, {"lo", 2}}), 1, 20, L{"hello"}},
        {"codes 2 and 3 join with a blank", multi({{"a", 2}, {"b", 3}, {"c", 0}}), 1, 20,
         L{"a b c"}},
        {"broken at the last blank", multi({{"the quick brown fox", 0}}), 3, 10,
         L{"the quick", "brown fox"}},
        {"does not fit", multi({{"the quick brown fox jumps", 0}}), 2, 10,
         L{"the quick", "brown ..."}},
        {"a blank at a full line", multi({{"abcde fghij", 0}}), 2, 5, L{"abcde", "fghij"}},
        {"a word longer than a line", multi({{"abcdefghijkl", 0}}), 2, 5, L{"abcde", "f ..."}},
        {"rejoined across source lines", multi({{"one two", 0}, {"three four five", 0}}), 2, 9,
         L{"one two", "three ..."}},
        {"no lines", multi({{"hello", 0}}), 0, 20, L{}},
        {"no characters", multi({{"hello", 0}}), 3, 0, L{}},
        {"empty source", multi({}), 3, 10, L{}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<char> dst(size_t(std::max(c.max_lines, 0)) * size_t(c.max_chars + 1) + 2, 'X');
        char *first = UTIL_ByteLimitMultiStr(dst.data(), c.src.text(), c.max_lines, c.max_chars);
        ASSERT_EQ(first, dst.data() + 1);
        EXPECT_EQ(lines_of(first), c.expect);
        if (c.expect.empty()) {
            EXPECT_EQ(first[0], 0); // an empty line
        }

        // The 16-bit form gives the same lines.
        std::vector<uint16_t> wsrc = widen(c.src.bytes);
        std::vector<uint16_t> wdst(dst.size(), 'X');
        uint16_t *wfirst =
            UTIL_WordLimitMultiStr(wdst.data(), wsrc.data() + 1, c.max_lines, c.max_chars);
        EXPECT_EQ(wfirst[-1], c.expect.size());
        const uint16_t *p = wfirst;
        for (const std::string &line : c.expect) {
            EXPECT_EQ(std::vector<uint16_t>(p, p + line.size() + 1),
                      widen(std::string(line) + '\0'));
            p += line.size() + 1;
        }
    }
    // The dispatching form follows the application's character width.
    const Multi m = multi({{"ab", 0}, {"cd", 0}});
    char dst[16] = {};
    EXPECT_EQ(lines_of(static_cast<char *>(UTIL_LimitMultiStr(dst, m.text(), 1, 9))), L{"ab cd"});
}

TEST_F(UtilTest, StringHelpersOfBothWidths) {
    // 16-bit strings stop at 1024 characters when no 0 comes first.
    std::vector<uint16_t> long_src(2000, 'a');
    EXPECT_EQ(UTIL_WordStrLen(long_src.data()), 1024);
    std::vector<uint16_t> dst(1100, 'X');
    UTIL_WordStrCpy(dst.data(), long_src.data());
    EXPECT_EQ(dst[1023], 'a');
    EXPECT_EQ(dst[1024], 0);
    EXPECT_EQ(dst[1025], 'X');
    // Concatenation keeps the result within 1024 characters.
    std::vector<uint16_t> cat(1100, 'X');
    const std::vector<uint16_t> abc = {'a', 'b', 'c', 0};
    UTIL_WordStrCpy(cat.data(), abc.data());
    UTIL_WordStrNCat(cat.data(), abc.data(), 2);
    EXPECT_EQ(UTIL_WordStrLen(cat.data()), 5);
    EXPECT_EQ(cat[4], 'b');
    UTIL_WordStrNCat(cat.data(), long_src.data(), 5000);
    EXPECT_EQ(UTIL_WordStrLen(cat.data()), 1024);
    EXPECT_EQ(cat[1024], 0);
    EXPECT_EQ(cat[1025], 'X');

    // The dispatching forms.
    char bytes[16] = "ab";
    EXPECT_EQ(UTIL_StrLen(bytes), 2);
    UTIL_StrNCat(bytes, "cdef", 2);
    EXPECT_STREQ(bytes, "abcd");
    UTIL_StrCpy(bytes, "xyz");
    EXPECT_STREQ(bytes, "xyz");
    PGM_UnicodePresent = true;
    std::vector<uint16_t> w(8, 'X');
    UTIL_StrCpy(w.data(), abc.data());
    EXPECT_EQ(UTIL_StrLen(w.data()), 3);
    UTIL_StrNCat(w.data(), abc.data(), 1);
    EXPECT_EQ(UTIL_StrLen(w.data()), 4);
    EXPECT_EQ(w[3], 'a');
}

TEST_F(UtilTest, LinesAndWidthOfCountedStrings) {
    DC *dc = open();
    int cw = 0, ch = 0;
    GDI_SelectFont(dc, 0, &cw, &ch); // fixed pitch, 6 pixels a character
    const Multi m = multi({{"ab", 0}, {"abcd", 2}, {"", 0}});
    EXPECT_EQ(UTIL_StringLines(m.text()), 3);
    EXPECT_EQ(UTIL_StringWidth(dc, m.text()), 4 * cw);
    PGM_UnicodePresent = true;
    const std::vector<uint16_t> w = {2, 'a', 'b', 'c', 1, 'd', 0};
    EXPECT_EQ(UTIL_StringLines(w.data() + 1), 2);
    EXPECT_EQ(UTIL_StringWidth(dc, w.data() + 1), 3 * cw);
}
