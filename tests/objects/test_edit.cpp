// EDIT fields with the numeric and alphanumeric keypads: formats and key
// sequences typed by touch on the keypad against the register they leave,
// refusals that keep the logic's newer value, the keypad's time-out, key
// repeat and the panel keys, the alphanumeric keypad's layouts, display
// window and password stars, text wrapping, and pictures of both keypads.
#include "gdi/text.h"
#include "host/clock.h"
#include "objects/keypad.h"
#include "objects_fixture.h"
#include "png_snapshot.h"
#include "screens/screens.h"

#include <cmath>
#include <map>

namespace {

using namespace rec;

constexpr uint32_t kShownSelectable = 0x1 | 0x4 | 0x100;
constexpr int kFieldX = 690, kFieldY = 420;

uint32_t fbits(float v) {
    uint32_t b;
    std::memcpy(&b, &v, 4);
    return b;
}
uint64_t dbits(double v) {
    uint64_t b;
    std::memcpy(&b, &v, 8);
    return b;
}

struct Pt {
    int x, y;
};
// Key centres of the numeric keypad by the code each sends.
const std::map<int, Pt> kNumeric = {
    {17, {44, 85}},   {18, {120, 85}},  {19, {196, 85}},  {20, {44, 136}},  {21, {120, 136}},
    {22, {196, 136}}, {23, {44, 187}},  {24, {120, 187}}, {25, {196, 187}}, {14, {44, 238}},
    {16, {120, 238}}, {15, {196, 238}}, {30, {360, 110}}, {28, {284, 136}}, {29, {436, 136}},
    {31, {360, 161}}, {27, {284, 238}}, {13, {398, 238}},
};
constexpr int kEnter = 13, kEsc = 27, kPoint = 15, kSign = 14, kUp = 30, kDown = 31, kLeft = 28,
              kRight = 29;
constexpr int D(int d) {
    return 16 + d;
}

class EditTest : public ObjectsTest {
protected:
    void field(const Rec &r, int format, int width, int dec, uint32_t min, uint32_t max,
               uint8_t size, uint8_t field_flags = 0) {
        r.u16(edit::kFill, 0xFFDF);
        r.u16(edit::kFrameColour, 0x0000);
        r.u16(edit::kValueColour, 0x0000);
        r.u16(edit::kData, uint16_t(r_ref(1)));
        r.u8(edit::kDataSize, size);
        r.u32(edit::kLimits, min);
        r.u32(edit::kLimits + 4, max);
        r.u8(edit::kFormat, uint8_t(format));
        r.u8(edit::kFieldFlags, field_flags);
        r.u8(edit::kWidth, uint8_t(width));
        r.u8(edit::kDecimals, uint8_t(dec));
        r.u8(edit::kFont, 2);
    }
    // One field at the bottom right, outside the keypads.
    void one(int format, int width, int dec, uint32_t min, uint32_t max, uint8_t size,
             uint8_t field_flags = 0, int length = 0) {
        build({{2, kShownSelectable, 600, 400, 779, 439, length}});
        field(recs[0], format, width, dec, min, max, size, field_flags);
    }
    void tap(int x, int y) {
        touch(x, y, true);
        touch(x, y, false);
    }
    void tap(Pt p) { tap(p.x, p.y); }
    void press(int code) {
        const Pt p = kNumeric.at(code);
        tap(p.x, p.y);
    }
    bool keypad_open() const { return objm::g.fSelectMorf != 0; }
    const FLD &fld() { return reinterpret_cast<KeypadHost *>(cb(0).inst)->fld; }
    std::string shown() {
        const FLD &f = fld();
        return std::string(static_cast<const char *>(f.text), f.length);
    }
    uint32_t r32() { return le32(r_ptr(1)); }
    uint64_t r64() { return uint64_t(le32(r_ptr(1))) | uint64_t(le32(r_ptr(3))) << 32; }
    void set32(uint32_t v) { put_le32(r_ptr(1), v); }
};

TEST_F(EditTest, FormatsAndKeysOnTheNumericKeypad) {
    struct Case {
        const char *what;
        int format, width, dec;
        uint32_t min, max;
        uint8_t size;
        uint32_t before;
        std::vector<int> keys;
        uint32_t after;
    } cases[] = {
        {"unsigned", 1, 5, 0, 0, 1000, 0x60, 7, {D(1), D(2), D(3), kEnter}, 123},
        {"unsigned above the maximum", 1, 5, 0, 0, 100, 0x60, 7, {D(1), D(2), D(3), kEnter}, 7},
        {"a minimum of -1 admits only 0xFFFFFFFF",
         1,
         10,
         0,
         0xFFFFFFFF,
         0xFFFFFFFF,
         0x60,
         7,
         {D(5), kEnter},
         7},
        {"signed negative",
         2,
         5,
         0,
         uint32_t(-50),
         50,
         0x20,
         7,
         {D(4), kSign, kEnter},
         uint32_t(-4)},
        {"signed below the minimum",
         2,
         5,
         0,
         uint32_t(-50),
         50,
         0x20,
         7,
         {D(6), D(0), kSign, kEnter},
         7},
        {"signed limits compared signed",
         2,
         5,
         0,
         uint32_t(-50),
         50,
         0x20,
         7,
         {D(4), D(0), kEnter},
         40},
        {"binary takes only 0 and 1",
         0,
         8,
         0,
         0,
         255,
         0x60,
         0,
         {D(1), D(2), D(0), D(1), kEnter},
         5},
        {"hexadecimal multi-tap", 3, 4, 0, 0, 0xFFFF, 0x60, 0, {D(1), D(2), D(2), kEnter}, 0x1A},
        {"hidden digits", 8, 4, 0, 0, 9999, 0x60, 0, {D(4), D(2), kEnter}, 42},
        {"arrows step the digit", 1, 5, 0, 0, 1000, 0x60, 20, {kUp, kUp, kEnter}, 22},
        {"escape", 1, 5, 0, 0, 1000, 0x60, 20, {D(9), kEsc}, 20},
        {"float",
         4,
         6,
         2,
         fbits(0),
         fbits(100),
         0x60,
         0,
         {D(1), D(2), kPoint, D(5), kEnter},
         fbits(12.5f)},
        {"float above the maximum",
         4,
         6,
         2,
         fbits(0),
         fbits(100),
         0x60,
         fbits(1),
         {D(2), D(0), D(0), kEnter},
         fbits(1)},
        {"IP octets",
         10,
         15,
         0,
         0,
         0,
         0x60,
         0,
         {D(1), D(9), D(2), D(1), D(6), D(8), D(0), kPoint, D(5), kEnter},
         0xC0A80005},
        {"seconds timer",
         11,
         8,
         0x01,
         0,
         100000,
         0x60,
         0,
         {D(0), D(1), D(0), D(2), D(0), D(3), kEnter},
         3723},
        {"seconds timer above the maximum",
         11,
         8,
         0x01,
         0,
         100000,
         0x60,
         60,
         {D(9), D(9), kEnter},
         60},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        one(c.format, c.width, c.dec, c.min, c.max, c.size);
        set32(c.before);
        open();
        pass();
        tap(kFieldX, kFieldY);
        ASSERT_TRUE(keypad_open());
        for (int k : c.keys)
            press(k);
        EXPECT_FALSE(keypad_open());
        EXPECT_EQ(r32(), c.after);
        OBJM_DestroyPage();
    }
}

TEST_F(EditTest, LrealWithAndWithoutItsLimits) {
    struct Case {
        const char *what;
        bool limits;
        std::vector<int> keys;
        double after;
    } cases[] = {
        {"within", true, {D(3), kPoint, D(2), D(5), kEnter}, 3.25},
        {"above the maximum", true, {D(9), D(9), kEnter}, 1.5},
        {"a record without the limits edits without them", false, {D(9), D(9), kEnter}, 99},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        one(15, 8, 2, 0, 0, 0xC8, 0, c.limits ? 82 : 0);
        if (c.limits) {
            put_le32(recs[0].p + edit::kLength, uint32_t(dbits(-10)));
            put_le32(recs[0].p + edit::kLength + 4, uint32_t(dbits(-10) >> 32));
            put_le32(recs[0].p + edit::kLength + 8, uint32_t(dbits(10)));
            put_le32(recs[0].p + edit::kLength + 12, uint32_t(dbits(10) >> 32));
        }
        put_le32(r_ptr(1), uint32_t(dbits(1.5)));
        put_le32(r_ptr(3), uint32_t(dbits(1.5) >> 32));
        open();
        pass();
        tap(kFieldX, kFieldY);
        for (int k : c.keys)
            press(k);
        EXPECT_EQ(r64(), dbits(c.after));
        OBJM_DestroyPage();
    }
}

TEST_F(EditTest, TimeAndDate) {
    // "A:M": hours and minutes of three words (seconds, minutes, hours).
    one(9, 5, 0x01, 0, 0, 0xC6);
    put_le16(r_ptr(1), 0);
    put_le16(r_ptr(2), 30);
    put_le16(r_ptr(3), 12);
    open();
    pass();
    EXPECT_EQ(shown(), "12:30");
    tap(kFieldX, kFieldY);
    press(kUp);
    press(kRight);
    press(kDown);
    press(kEnter);
    EXPECT_EQ(le16(r_ptr(3)), 13);
    EXPECT_EQ(le16(r_ptr(2)), 29);
}

// An enumeration table in the text tables: marker 0, count, value and text pairs.
class EnumTest : public EditTest {
protected:
    void table(uint32_t at, const std::vector<std::pair<uint32_t, std::string>> &entries,
               uint16_t count) {
        pPGM_TextTbls = text_table_bl + 8;
        uint8_t *t = pPGM_TextTbls + at;
        put_le16(t, 0);
        put_le16(t + 2, count);
        for (size_t i = 0; i < entries.size(); ++i) {
            put_le32(t + 4 + 8 * i, entries[i].first);
            put_le32(t + 8 + 8 * i, text(entries[i].second));
        }
        put_le32(text_table_bl + 4, at + 4 + 8 * uint32_t(entries.size()));
    }
};

TEST_F(EnumTest, EnumerationsOnlyInsideTheirBlock) {
    struct Case {
        const char *what;
        uint32_t where; // limit word 2
        uint16_t count; // as the table says
        std::string before;
        std::vector<int> keys;
        uint32_t after;
    } cases[] = {
        {"up selects the next entry", 0, 3, "Low", {kUp, kEnter}, 20},
        {"down wraps to the last", 0, 3, "Low", {kDown, kEnter}, 30},
        {"a count past the block is cut to what fits", 0, 500, "Low", {kDown, kEnter}, 30},
        {"a table past the block shows and stores nothing", 0x7FFFFFF0, 3, "", {kUp, kEnter}, 10},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        one(7, 8, 0, 0, 0, 0x60);
        recs[0].u32(edit::kLimits + 8, c.where);
        strings_at = 1;
        table(0, {{10, "Low"}, {20, "Mid"}, {30, "High"}}, c.count);
        set32(10);
        open();
        pass();
        EXPECT_EQ(shown(), c.before);
        tap(kFieldX, kFieldY);
        for (int k : c.keys)
            press(k);
        EXPECT_EQ(r32(), c.after);
        OBJM_DestroyPage();
    }
}

TEST_F(EditTest, ARefusedValueKeepsTheLogicsNewerValue) {
    one(1, 5, 0, 0, 100, 0x60);
    set32(7);
    open();
    pass();
    tap(kFieldX, kFieldY);
    press(D(5));
    set32(77); // the logic writes while the keypad is open
    pass();
    press(D(0));
    press(D(0));
    press(kEnter);
    EXPECT_FALSE(keypad_open());
    EXPECT_EQ(r32(), 77u);
    // Cancel: the field shows its value again.
    set32(9);
    pass();
    OBJM_Update(dc);
    update(0, 1);
    tap(kFieldX, kFieldY);
    press(D(4));
    EXPECT_EQ(shown(), "00004");
    press(kEsc);
    EXPECT_EQ(r32(), 9u);
    EXPECT_EQ(shown(), "9");
}

TEST_F(EditTest, TimeOutClosesWithEscape) {
    one(1, 5, 0, 0, 1000, 0x60, 0x40);
    set32(3);
    open();
    pass();
    tap(kFieldX, kFieldY);
    press(D(8));
    for (int s = 1; s <= 30; ++s) {
        host::clock_advance_ms(1001);
        pass();
        ASSERT_TRUE(keypad_open()) << s;
    }
    host::clock_advance_ms(1001);
    pass();
    EXPECT_FALSE(keypad_open());
    EXPECT_EQ(r32(), 3u) << "closed as cancelled";
    // Without the flag the keypad stays.
    OBJM_DestroyPage();
    one(1, 5, 0, 0, 1000, 0x60);
    open();
    pass();
    tap(kFieldX, kFieldY);
    host::clock_advance_ms(40000);
    pass();
    EXPECT_TRUE(keypad_open());
}

// An object that opens the numeric keypad over itself as the menu does, with
// a field of any format, and counts the keys it gets.
struct Probe {
    static inline int format = 1;
    static inline std::vector<int> codes;
    struct Inst {
        KeypadHost k;
        char text[32];
    };
    static int16_t create(const uint8_t *, ObjInst *inst) {
        auto *p = reinterpret_cast<Inst *>(inst);
        p->k.fld = FLD{};
        p->k.fld.format = uint8_t(format);
        p->k.fld.text = p->text;
        inst->state = kInstShown;
        return int16_t(sizeof(Inst));
    }
    static uint16_t signal(const uint8_t *, ObjInst *, int msg, uint32_t arg) {
        if (msg == objmsg::kFocus) {
            OBJM_MorfObj(13, nullptr);
            return objmsg::kMorph;
        }
        if (msg != objmsg::kKey) return 0;
        codes.push_back(int(arg & 0xFF));
        return (arg & 0xFF) == kEsc ? objmsg::kRefuse | objmsg::kRepaint : objmsg::kRepaint;
    }
    static constexpr ObjClass row{44, create, nullptr, signal, nullptr, sizeof(Inst), nullptr};
};

TEST_F(EditTest, HeldKeysRepeatButNeverOnTextAndMenuKindsTakeTheUnsignedKeys) {
    struct Case {
        const char *what;
        int format;
        std::vector<int> held; // codes the field gets while "1" is held 125 ticks
        bool point_live;
    } cases[] = {
        {"pressed, after 100 ticks, then every 10", 1, {17, 17, 17, 17}, false},
        {"texts never repeat", 6, {17}, true},
        {"a menu kind past the table: format 1's keys", 20, {17, 17, 17, 17}, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        OBJM_SetClass(3, &Probe::row);
        Probe::format = c.format;
        Probe::codes.clear();
        build({{3, kShownSelectable, 600, 400, 779, 439}});
        open();
        pass();
        tap(kFieldX, kFieldY);
        ASSERT_TRUE(keypad_open());
        const Pt p = kNumeric.at(D(1));
        touch(p.x, p.y, true);
        for (int t = 0; t < 125; ++t) {
            ++sysTic;
            pass();
        }
        touch(p.x, p.y, false);
        for (int t = 0; t < 50; ++t) { // after the release nothing more comes
            ++sysTic;
            pass();
        }
        EXPECT_EQ(Probe::codes, c.held);
        press(kPoint);
        EXPECT_EQ(Probe::codes.back() == kPoint, c.point_live);
        press(kEsc);
        EXPECT_FALSE(keypad_open());
        OBJM_DestroyPage();
    }
}

TEST_F(EditTest, PanelKeysPassOnlyThroughTheKeyPressPath) {
    struct Case {
        const char *what;
        int format;
        int code;
        bool press_path;
        bool passes;
    } cases[] = {
        {"enter", 1, 13, true, true},
        {"escape", 1, 27, true, true},
        {"up", 1, 30, true, true},
        {"digit", 1, D(5), true, false},
        {"not a key press", 1, 30, false, false},
        {"text: right", 6, 29, true, true},
        {"text: up", 6, 30, true, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        one(c.format, 5, 0, 0, 1000, c.format == 6 ? 5 : 0x60);
        set32(c.format == 6 ? 0 : 3);
        if (c.format == 6) std::memcpy(r_ptr(1), "abc", 3);
        open();
        pass();
        tap(kFieldX, kFieldY);
        ASSERT_TRUE(keypad_open());
        const std::string before = shown();
        const uint8_t fstate = fld().state;
        beep_count = 0;
        PressKeyON = c.press_path ? 1 : 0;
        KEY_Press(kKeyMessage, c.code, 0);
        pass();
        const bool changed = !keypad_open() || shown() != before || fld().state != fstate;
        EXPECT_EQ(changed, c.passes);
        EXPECT_EQ(beep_count, c.passes ? 3 : 0);
        PressKeyON = 0;
        OBJM_DestroyPage();
    }
}

// ---------------------------------------------------------------------------
// The alphanumeric keypad.

// Key centres of the alphanumeric keypad's layouts.
Pt digit_key(char c) {
    if (c == '0') return {60, 199};
    const int i = c - '1';
    const int xs[3] = {2, 161, 320};
    return {xs[i % 3] + 77, 44 + 45 * (i / 3) + 20};
}
Pt grid_key(int i) { // letters and punctuation: key i of the grid, from 0
    const int xs[7] = {2, 70, 138, 206, 274, 342, 410};
    return {xs[i % 7] + 32, 44 + 45 * (i / 7) + 20};
}
constexpr Pt kAbc{60, 244}, kSym{179, 244}, kTextEnter{417, 244}, kAlpha123{136, 244},
    kCaps{34, 244}, kBackspaceKey{441, 22}, kDigitLeft{179, 199}, kDigitRight{417, 199};

class AlphaTest : public EditTest {
protected:
    void text_field(int width, int format = 6, uint32_t flags = kShownSelectable) {
        build({{2, flags, 600, 400, 779, 439}});
        field(recs[0], format, width, 0, 0, 0, 0);
    }
    std::string reg_text(int n) {
        return std::string(reinterpret_cast<char *>(r_ptr(1)), size_t(n));
    }
};

TEST_F(AlphaTest, LayoutsCapsAndStore) {
    text_field(8);
    std::memcpy(r_ptr(1), "old", 3);
    open();
    pass();
    tap(kFieldX, kFieldY);
    ASSERT_TRUE(keypad_open());
    tap(digit_key('4'));
    tap(kAbc);        // letters: they send capitals, the field makes them small
    tap(grid_key(1)); // b
    tap(kCaps);
    tap(grid_key(2)); // C
    tap(kAlpha123);
    tap(kSym);         // punctuation
    tap(grid_key(1));  // @
    tap(grid_key(28)); // >
    EXPECT_EQ(shown(), "4bC@>");
    tap(Pt{136 + 55, 244}); // "123" of the punctuation layout
    tap(kTextEnter);
    EXPECT_FALSE(keypad_open());
    // Exactly the width: the text and zeros after it.
    EXPECT_EQ(reg_text(8), std::string("4bC@>\0\0\0", 8));
}

TEST_F(AlphaTest, WideTextFieldsKeepToWhatARegisterLinkHolds) {
    // A register link holds at most 127 bytes: a 200-character field takes
    // and stores that many, and the register byte after them stays.
    text_field(200);
    r_ptr(1)[127] = 0x5A;
    open();
    pass();
    tap(kFieldX, kFieldY);
    for (int i = 0; i < 130; ++i)
        tap(digit_key('1'));
    EXPECT_EQ(fld().length, 127);
    tap(kTextEnter);
    EXPECT_EQ(reg_text(127), std::string(127, '1'));
    EXPECT_EQ(r_ptr(1)[127], 0x5A);
}

TEST_F(AlphaTest, LoginFieldsStayOnTheDigitLayout) {
    // The login form opens the keypad over its user-name and password
    // fields (formats 16 and 17): "@?$" keeps the digit layout there.
    struct Case {
        int format;
        const char *typed;
    } cases[] = {{6, "!"}, {16, "1"}, {17, "1"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.format);
        text_field(20);
        open();
        pass();
        tap(kFieldX, kFieldY);
        reinterpret_cast<KeypadHost *>(cb(0).inst)->fld.format = uint8_t(c.format);
        tap(kSym);
        tap(grid_key(0)); // "!" on the punctuation layout, "1" on the digit layout
        EXPECT_EQ(shown(), c.typed);
        if (c.format == 17) {
            // At most 11 stars, whatever the length.
            for (int i = 0; i < 15; ++i)
                tap(digit_key('5'));
            VID_Update();
            EXPECT_EQ(screen_snapshot_diff("tests/objects/snapshots/asckpd_password.png"), "");
        }
        OBJM_DestroyPage();
    }
}

TEST_F(AlphaTest, DisplayPickMovesTheCursorOnlyOnReleaseThere) {
    text_field(8);
    std::memcpy(r_ptr(1), "abcdef", 6);
    open();
    pass();
    tap(kFieldX, kFieldY);
    // A touch on the text, released elsewhere: no cursor moves.
    touch(6, 20, true);
    touch(200, 20, false);
    EXPECT_EQ(fld().state, fld::kBegun);
    // On the second character, released there: the cursor stands before it
    // and the next key inserts there.
    GDI_SelectFont(dc, 2, nullptr, nullptr);
    int a = 0;
    GDI_GetTextnWidth(dc, "a", &a, 1);
    touch(4 + a + 1, 20, true);
    touch(4 + a + 1, 20, false);
    EXPECT_EQ(fld().state, fld::kCursor);
    EXPECT_EQ(fld().cursor, 2);
    tap(digit_key('9'));
    EXPECT_EQ(shown(), "a9bcdef");
}

TEST_F(AlphaTest, DisplayWindowKeepsTheCursorInView) {
    // A long text in the system font: typing past the box shifts the shown
    // text; the cursor's blank always fits; arrows step the window back.
    text_field(100);
    open();
    pass();
    tap(kFieldX, kFieldY);
    for (int i = 0; i < 90; ++i) // blocks of ten: 0000000000111...
        tap(digit_key(char('0' + i / 10)));
    ASSERT_EQ(fld().length, 90);
    VID_Update();
    EXPECT_EQ(screen_snapshot_diff("tests/objects/snapshots/asckpd_long.png"), "");
    for (int i = 0; i < 90; ++i)
        tap(kDigitLeft);
    EXPECT_EQ(fld().cursor, 1);
    VID_Update();
    EXPECT_EQ(screen_snapshot_diff("tests/objects/snapshots/asckpd_long_start.png"), "");
    for (int i = 0; i < 90; ++i)
        tap(kDigitRight);
    tap(kBackspaceKey);
    EXPECT_EQ(fld().length, 89);
    VID_Update();
    EXPECT_EQ(screen_snapshot_diff("tests/objects/snapshots/asckpd_long_end.png"), "");
}

TEST_F(EditTest, TextWrapsByMeasuredWidths) {
    // An application font (id 8) whose maximum character width is 0.
    std::vector<uint8_t> fonts(20 + kFontHeader + 3 * 5, 0);
    put_le32(&fonts[0], 1);
    put_le32(&fonts[16], 20);
    uint8_t *f = &fonts[20];
    put_le32(f + kFontAscent, 3), put_le32(f + kFontDescent, 1);
    put_le32(f + kFontMaxWidth, 0), put_le32(f + kFontAvgWidth, 2);
    put_le32(f + kFontFirst, 'A'), put_le32(f + kFontLast, 'C');
    put_le32(f + kFontDefault, 'A'), put_le32(f + kFontBytesPerRow, 1);
    Text_SetAppFonts(fonts.data(), fonts.size());
    // Lines cut at character positions from the top (label position 0x40),
    // from the middle down (0), and "Font problem".
    build({{2, kShownSelectable, 100, 100, 259, 219},
           {2, kShownSelectable, 300, 100, 459, 219},
           {2, kShownSelectable, 500, 100, 659, 219}});
    const char *text = "The quick brown fox jumps over the lazy dog";
    for (int i = 0; i < 3; ++i) {
        field(recs[size_t(i)], 6, 43, 0, 0, 0, 0, 2);
        recs[size_t(i)].u16(edit::kData, uint16_t(r_ref(1 + 30 * i)));
        std::memcpy(r_ptr(1 + 30 * i), text, 43);
    }
    recs[0].u8(edit::kLabelPos, 0x40);
    recs[2].u8(edit::kFont, 8);
    open();
    pass();
    VID_Update();
    EXPECT_EQ(screen_snapshot_diff("tests/objects/snapshots/edit_wrap.png"), "");
    EXPECT_EQ(std::string(
                  static_cast<const char *>(reinterpret_cast<KeypadHost *>(cb(2).inst)->fld.text)),
              "Font problem");
    Text_SetAppFonts(nullptr, 0);
}

TEST_F(EditTest, TransparentFieldsEraseBeforeRepaint) {
    one(1, 5, 0, 0, 1000, 0x60);
    recs[0].u16(edit::kFill, 0xFFFF);
    set32(1);
    open();
    pass();
    set32(2);
    EXPECT_EQ(update(0, 1) & 0x4020, 0x4020);
    recs[0].u16(edit::kFill, 0xFFDF);
    set32(3);
    EXPECT_EQ(update(0, 1) & 0x4020, 0x0020);
}

// Pictures of both keypads over a field at both screen sizes.
class KeypadPictures : public EditTest, public ::testing::WithParamInterface<std::string> {
protected:
    std::string screen() const override { return GetParam(); }
};

TEST_P(KeypadPictures, BothKeypads) {
    const std::string size = GetParam();
    build({{2, kShownSelectable, 10, 300, 200, 339}, {2, kShownSelectable, 220, 300, 420, 339}});
    field(recs[0], 2, 6, 0, uint32_t(-100000), 100000, 0x20, 0x40);
    field(recs[1], 6, 10, 0, 0, 0, 0);
    recs[1].u16(edit::kData, uint16_t(r_ref(10)));
    set32(uint32_t(-1234));
    std::memcpy(r_ptr(10), "Pump 3", 6);
    open();
    pass();
    tap(100, 320);
    press(D(7));
    press(kLeft);
    VID_Update();
    EXPECT_EQ(screen_snapshot_diff("tests/objects/snapshots/kpad_" + size + ".png"), "");
    press(kEsc);
    tap(300, 320);
    tap(digit_key('7'));
    tap(kAbc);
    tap(kCaps);
    VID_Update();
    EXPECT_EQ(screen_snapshot_diff("tests/objects/snapshots/asckpd_" + size + ".png"), "");
}

INSTANTIATE_TEST_SUITE_P(Sizes, KeypadPictures, ::testing::Values("480x272", "800x480"));

} // namespace
