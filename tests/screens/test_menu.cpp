// The menu object on the system menu: its pages, the page stack, editing in
// place and on the keypad, built-in screens, soft keys with repeat, and the
// drawing (reviewed pictures of every page, the colour test, incremental
// highlight moves).
#include "base/le.h"
#include "gdi/field.h"
#include "host/clock.h"
#include "platform/keys.h"
#include "platform/rtc.h"
#include "plc/appblocks.h"
#include "png_snapshot.h"
#include "regs/plc_reg.h"
#include "screen_program.h"
#include "screens/menu_obj.h"
#include "screens/objm_int.h"
#include "system/pgm.h"
#include "system/sys.h"
#include "system/touch.h"
#include "video_fixture.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using menu::MenuInst;

class MenuTest : public VideoTest {
protected:
    DC *dc = nullptr;
    void SetUp() override {
        VideoTest::SetUp();
        dc = start(false, screen());
        pDC = dc;
        std::copy(std::begin(pBasicMenu), std::end(pBasicMenu), pSystemMenu);
        nSystemMenus = 28;
        sysFlash = 0;
        sysTic = 1000;
    }
    virtual std::string screen() const { return "480x272"; }

    // Opens the system menu on page `n` and runs one update pass.
    void open(int n) {
        ASSERT_EQ(MENU_SetPage(n), 1);
        ASSERT_EQ(OBJM_OpenPage(dc, sysMenuPage), 1);
        pass();
    }
    void pass() {
        OBJM_Update(dc);
        VID_Update();
    }
    ObjCB &cb() { return objm::g.doTbl[0]; }
    MenuInst *m() { return reinterpret_cast<MenuInst *>(objm::g.doTbl[0].inst); }
    uint16_t send(int msg, uint32_t arg = 0) {
        ObjCB &o = cb();
        return o.Signal(o.def, o.inst, msg, arg);
    }
    uint16_t key(int code) { return send(objmsg::kKey, uint32_t(code)); }
    // The text of line i as it is shown.
    std::string text(int i) { return reinterpret_cast<const char *>(m()->text[i]); }
    // A press and release on the soft key k (0 up, 1 down, 2 Esc, 3 Enter).
    void soft_key(int k) {
        const RECT r = menu::SoftKey(cb().def, m(), k);
        KEY_Press(kTouchDown, r.left + 5, r.top + 5);
        pass();
        KEY_Press(kTouchUp, r.left + 5, r.top + 5);
        pass();
    }
    // Picks the highlighted line's row on the current page by its caption.
    int row_of(const char *caption) {
        for (int r = 0; r < m()->rows; ++r) {
            const int i = menu::LineAt(m(), r);
            if (i < 0) continue;
            const auto *c = static_cast<const char *>(menu::Line(m(), i).caption);
            if (c && std::strcmp(c, caption) == 0) return r;
        }
        return -1;
    }
    // Moves the highlight to the line with this caption (by down keys).
    void go_to(const char *caption) {
        key(28);
        for (int n = 0; n < 30 && row_of(caption) != m()->hi; ++n)
            key(31);
        ASSERT_EQ(row_of(caption), m()->hi) << caption;
    }
    void contact_sheet(const char *name);
    // The menu's 480 x 272 area of the screen as RGB.
    void grab(std::vector<uint8_t> &rgb, int width, int x0, int y0) {
        for (int y = 0; y < 272; ++y)
            for (int x = 0; x < 480; ++x) {
                const COLOR c = px(dc, x, y);
                uint8_t *p = &rgb[(size_t(y0 + y) * size_t(width) + size_t(x0 + x)) * 3];
                p[0] = uint8_t((c >> 11) << 3);
                p[1] = uint8_t(((c >> 5) & 63) << 2);
                p[2] = uint8_t((c & 31) << 3);
            }
    }
};

class MenuWideTest : public MenuTest {
protected:
    std::string screen() const override { return "800x480"; }
};

// Every page of the system menu, drawn by the menu object, one sheet per
// screen size.
void MenuTest::contact_sheet(const char *name) {
    constexpr int kCols = 6, kRows = 4, kW = 480, kH = 272;
    std::vector<uint8_t> rgb(size_t(kCols * kW) * kRows * kH * 3, 0x80);
    int slot = 0;
    for (int n = 1; n < 28; ++n) {
        if (n == 13 || n == 17 || n == 20 || n == 22 || n == 23 || n == 24 || n == 25) continue;
        SCOPED_TRACE(n);
        open(n);
        grab(rgb, kCols * kW, (slot % kCols) * kW, (slot / kCols) * kH);
        ++slot;
    }
    EXPECT_EQ(png_snapshot_diff(name, rgb, kCols * kW, kRows * kH), "");
}

} // namespace

TEST_F(MenuTest, EveryPageAt480x272) {
    sr_put(5, 2);
    sr_put(38, 312);
    contact_sheet("tests/screens/snapshots/menu_pages_480x272.png");
}

TEST_F(MenuWideTest, EveryPageAt800x480) {
    contact_sheet("tests/screens/snapshots/menu_pages_800x480.png");
}

TEST_F(MenuTest, SetPageTakesOnlyPagesThatExist) {
    for (int n : {0, -1, 22, 23, 24, 28, 29, 1000})
        EXPECT_EQ(MENU_SetPage(n), 0) << n;
    for (int n : {1, 13, 21, 25, 27})
        EXPECT_EQ(MENU_SetPage(n), 1) << n;
    EXPECT_EQ(MENU_GetPage(), 27) << "no menu is up: the page asked for";
    open(5);
    EXPECT_EQ(MENU_GetPage(), 5);
    OBJM_DestroyPage();
    MENU_SetPage(40);
    EXPECT_EQ(MENU_GetPage(), 40) << "the error page keeps the number that was asked for";
}

TEST_F(MenuTest, LinksAndEscWalkThePageStack) {
    open(1);
    EXPECT_EQ(m()->hi, 0) << "the first selectable line takes the highlight";
    go_to("Set Networks");
    EXPECT_EQ(key(13), objmsg::kRepaint);
    EXPECT_EQ(MENU_GetPage(), 2);
    EXPECT_EQ(m()->depth, 1);
    go_to("LAN  Settings");
    key(13);
    EXPECT_EQ(MENU_GetPage(), 27);
    EXPECT_EQ(m()->depth, 2);
    EXPECT_EQ(key(27), objmsg::kRepaint);
    EXPECT_EQ(MENU_GetPage(), 2);
    EXPECT_EQ(row_of("LAN  Settings"), m()->hi) << "back on the line that was entered";
    key(27);
    EXPECT_EQ(MENU_GetPage(), 1);
    EXPECT_EQ(row_of("Set Networks"), m()->hi);

    // With every level taken a link does nothing.
    m()->depth = 8;
    go_to("View Status");
    EXPECT_EQ(key(13), 0);
    EXPECT_EQ(MENU_GetPage(), 1);

    // Esc at the top leaves for the user screens.
    m()->depth = 0;
    sr_put(3, 1);
    key(27);
    EXPECT_EQ(sr_get(3), 0);
}

TEST_F(MenuTest, TouchMovesTheHighlightOnlyOnSelectableLines) {
    open(1);
    const int y0 = m()->row_y, h = m()->line_h;
    const int x = m()->list.left + 20;
    // Row 12 is blank, row 13 the "( Press ESC to exit )" hint.
    struct Case {
        int row;
        uint16_t answer;
        int hi;
    } cases[] = {{3, objmsg::kRepaint, 3}, {12, 0, 3}, {13, 0, 3}, {14, 0, 3}, {0, 0x20, 0}};
    for (const Case &c : cases) {
        EXPECT_EQ(send(objmsg::kTouchDown, uint32_t(x) << 16 | uint32_t(y0 + c.row * h + 1)),
                  c.answer)
            << c.row;
        EXPECT_EQ(m()->hi, c.hi) << c.row;
        EXPECT_EQ(MENU_GetPage(), 1) << "a touch never follows a link";
    }
}

TEST_F(MenuTest, RemovableMediaMorphsAfterOnePassAndReturnsHighlighted) {
    open(1);
    go_to("Removable Media");
    const int row = m()->hi;
    std::vector<int> beeps;
    ObjCB *root = nullptr;
    key(13);
    EXPECT_EQ(MENU_GetPage(), 13);
    EXPECT_EQ(OBJM_GetRootOCB(), nullptr) << "the page itself is never drawn";
    pass();
    root = OBJM_GetRootOCB();
    ASSERT_NE(root, nullptr) << "the media directory took the object after one pass";
    EXPECT_EQ(objm::g.doTbl[0].Signal, CFD_Class.Signal);
    // The screen closes: the menu is back on page 1 with the line highlighted.
    objm::CloseMorf(0);
    EXPECT_EQ(MENU_GetPage(), 1);
    EXPECT_EQ(m()->hi, row);
}

TEST_F(MenuTest, KeypadOnSmallScreens) {
    const uint16_t start[7] = {0, 0, 0, 1, 6, 2026, 1};
    ASSERT_EQ(RtcSet(start), 1);
    host::clock_advance_ms(1500);
    open(10);
    go_to("Time:");
    EXPECT_EQ(key(13), objmsg::kMorph | objmsg::kRepaint);
    EXPECT_EQ(m()->depth, 1) << "the keypad takes a level";
    EXPECT_EQ(m()->editing, 1);

    // A time set on the keypad (arrows step the part under the cursor)
    // reaches the clock registers: 13:45.
    for (int n = 0; n < 13; ++n)
        key(30);
    key(29);
    for (int n = 0; n < 45; ++n)
        key(30);
    EXPECT_EQ(key(13) & objmsg::kRefuse, objmsg::kRefuse);
    EXPECT_EQ(m()->editing, 0);
    uint16_t cal[7] = {};
    RtcGet(cal);
    EXPECT_EQ(cal[2], 13) << "hours";
    EXPECT_EQ(cal[1], 45) << "minutes";

    // With 8 levels stacked no keypad opens and the line stays unedited.
    m()->depth = 8;
    EXPECT_EQ(key(13), 0);
    EXPECT_EQ(m()->editing, 0);
    EXPECT_EQ(m()->depth, 8);
}

TEST_F(MenuWideTest, InPlaceOnLargeScreens) {
    open(10);
    go_to("Time:");
    EXPECT_EQ(key(13), objmsg::kRepaint);
    EXPECT_EQ(m()->depth, 0);
    EXPECT_EQ(m()->editing, 1);
    pass();
    EXPECT_EQ(key(27) & objmsg::kRefuse, objmsg::kRefuse) << "Esc abandons the edit";
    EXPECT_EQ(m()->editing, 0);
    EXPECT_EQ(MENU_GetPage(), 10) << "and stays on the page";
}

TEST_F(MenuWideTest, TimeZoneInHoursAndMinutes) {
    sr_put(210, 330); // minutes ahead of UTC
    open(10);
    EXPECT_EQ(text(9).substr(1), "05:30") << "hours and minutes, after the direction";
    go_to("Time Zone:");
    key(13);
    key(13);
    EXPECT_EQ(int16_t(sr_get(210)), 330) << "stored back as minutes and hours";
}

TEST_F(MenuTest, EnumerationEditedInPlace) {
    sr_put(183, 0);
    open(11);
    EXPECT_EQ(text(0), " No");
    key(13);
    key(30);
    pass();
    EXPECT_EQ(text(0), "Yes");
    EXPECT_EQ(sr_get(183), 0) << "not stored before Enter";
    key(13);
    EXPECT_EQ(sr_get(183), 1);
}

TEST_F(MenuTest, HeldSoftKeyRepeats) {
    open(1);
    key(28);
    const RECT r = menu::SoftKey(cb().def, m(), 1);
    KEY_Press(kTouchDown, r.left + 5, r.top + 5);
    pass();
    EXPECT_EQ(m()->hi, 1) << "the press moves once";
    sysTic += 99;
    pass();
    EXPECT_EQ(m()->hi, 1);
    sysTic += 1;
    pass();
    EXPECT_EQ(m()->hi, 2) << "again after 100 ticks";
    sysTic += 9;
    pass();
    EXPECT_EQ(m()->hi, 2);
    sysTic += 1;
    pass();
    EXPECT_EQ(m()->hi, 3) << "then every 10";
    KEY_Press(kTouchUp, r.left + 5, r.top + 5);
    pass();
    sysTic += 100;
    pass();
    EXPECT_EQ(m()->hi, 3) << "released: no more";
}

TEST_F(MenuTest, OptionBoardVariants) {
    pSystemMenu[9] = sysMenu9A;
    pSystemEnum[15] = sysEnum15Enet;
    sr_put(163, 3);
    open(9);
    EXPECT_EQ(text(0), "   Enet");
    go_to("Set Ethernet (Enet)");
    key(13);
    EXPECT_EQ(MENU_GetPage(), 15);
}

TEST_F(MenuTest, StatusPageValuesFollowTheirRegisters) {
    sr_put(5, 1);
    sr_put32(11, 1234);
    open(5);
    EXPECT_EQ(text(1), "DoIO");
    EXPECT_EQ(text(5), "1234");
    sr_put(5, 2);
    sysTic += 10;
    pass();
    EXPECT_EQ(text(1), "DoIO") << "at most every 15 ticks";
    sysTic += 5;
    pass();
    EXPECT_EQ(text(1), " Run");
}

TEST_F(MenuTest, ColourTestPage) {
    open(4);
    const RECT &l = m()->list;
    EXPECT_EQ(px(dc, l.left + 35 + 5, l.top + 100), 0xF820);
    EXPECT_EQ(px(dc, l.left + 35 + 105, l.top + 100), 0x002F);
    EXPECT_EQ(px(dc, l.left + 35 + 45, l.top + 130), 0x7BEF);
    SYS_fGrayScale = 1;
    open(4);
    EXPECT_EQ(px(dc, l.left + 16 + 5, l.top + 100), 0x0841) << "grey level 1 of 16";
    EXPECT_EQ(px(dc, l.left + 16 + 145, l.top + 100), 0x7BCF);
    EXPECT_EQ(px(dc, l.left + 15, l.top + 100), 0x0000) << "framed in black";
}

TEST_F(MenuTest, MovedHighlightRedrawsTwoCaptionsOnly) {
    open(1);
    key(28);
    pass();
    // Marks at the rows' right ends, where no caption reaches: a redrawn
    // list would fill over them.
    const int x = m()->list.left + 380;
    const int cx = m()->line_x + 3, dy = 1;
    auto row_y = [&](int r) { return m()->row_y + r * m()->line_h; };
    for (int r = 0; r < 6; ++r)
        put(dc, x, row_y(r) + 2, 0x1234);
    EXPECT_EQ(px(dc, cx, row_y(0) + dy), 0x0000) << "row 0 highlighted (inverted)";
    EXPECT_EQ(px(dc, cx, row_y(1) + dy), 0xFFDF);
    PressKeyON = 1;
    OBJM_Keypress(kKeyMessage, 31, 0);
    ASSERT_EQ(m()->hi, 1);
    OBJM_Update(dc);
    for (int r = 0; r < 6; ++r)
        EXPECT_EQ(px(dc, x, row_y(r) + 2), 0x1234) << "the list was not redrawn: row " << r;
    EXPECT_EQ(px(dc, cx, row_y(0) + dy), 0xFFDF) << "the old highlight in normal colours";
    EXPECT_EQ(px(dc, cx, row_y(1) + dy), 0x0000) << "the new one inverted";
}

// Menus of the application's own pages.
namespace {

class AppMenuTest : public VideoTest {
protected:
    DC *dc = nullptr;
    void SetUp() override {
        VideoTest::SetUp();
        dc = start(false, "800x480");
        pDC = dc;
        sysTic = 1000;
        pPGM_Strings = string_table_bl + 16;
    }
    // One page with one MENU object (flags `flags`, access level `level`)
    // over the menu pages `menus`.
    void load(uint32_t flags, const std::string &menus, int level = 0) {
        std::string lines31;
        for (int i = 0; i < 31; ++i)
            lines31 += std::string(i ? ", " : "") +
                       "{\"flags\": 2, \"target\": 0, \"caption\": \"L" + std::to_string(i) + "\"}";
        std::string json =
            R"({"strings": {"texts": ["Settings", " rpm"]}, "pages": [{"screen": 1, "objects": [
            {"type": "MENU", "flags": )" +
            std::to_string(flags) + R"(, "level": )" + std::to_string(level) +
            R"(, "rect": [0, 0, 400, 240], "fields": {"fill": 65503, "colour": 0, "font": 32,
             "line_font": 32, "title": "Settings", "page_register": "%R20",
             "page_register_size": 16, "page_count": 3}}]}], "menus": [)" +
            menus + R"(, {"lines": [)" + lines31 + "]}]}";
        std::string error;
        ASSERT_TRUE(load_screen_program(json, &error)) << error;
        pPGM_Menus = kesta_pgm_bl + 8 + le32(kesta_pgm_bl + 8 + 52);
        page = kesta_pgm_bl + 8 + 56;
        ASSERT_EQ(OBJM_OpenPage(dc, page), 1);
        pass();
    }
    const uint8_t *page = nullptr;
    void pass() { OBJM_Update(dc); }
    ObjCB &cb() { return objm::g.doTbl[0]; }
    MenuInst *m() { return reinterpret_cast<MenuInst *>(objm::g.doTbl[0].inst); }
    uint16_t send(int msg, uint32_t arg = 0) { return cb().Signal(cb().def, cb().inst, msg, arg); }
    uint16_t key(int code) { return send(objmsg::kKey, uint32_t(code)); }
    uint32_t at(const RECT &r) { return uint32_t(r.left + 5) << 16 | uint32_t(r.top + 5); }
    std::string caption(int row) {
        const int i = menu::LineAt(m(), row);
        const void *c = i < 0 ? nullptr : menu::Line(m(), i).caption;
        return c ? static_cast<const char *>(c) : "";
    }
    uint8_t *menu_page(int n) { return kesta_pgm_bl + 8 + le32(pPGM_Menus + 4 * n); }
};

constexpr const char *kTwoPages = R"({"flags": 2, "visibility": "%R10", "lines": [
    {"flags": 2, "target": 1, "caption": "Next"},
    {"flags": 16385, "caption": "Speed", "field": {"kind": 1, "width": 5, "max": 9999,
     "bits": 16, "register": "%R1", "units": " rpm"}},
    {"caption": "Note"}]},
    {"lines": [{"flags": 1, "caption": "Level", "field": {"kind": 1, "width": 3, "max": 999,
     "register": "%R2"}}]})";

} // namespace

TEST_F(AppMenuTest, VisibilityAndPageRegisters) {
    put_le16(plc_reg + reg::kR + 2 * 9, 0b101); // %R10: lines 0 and 2 shown
    load(0x0C1D, kTwoPages);
    EXPECT_EQ(menu::Count(m()), 2);
    EXPECT_EQ(caption(1), "Note");
    put_le16(plc_reg + reg::kR + 2 * 9, 0b111);
    EXPECT_EQ(send(objmsg::kUpdate) & objmsg::kRepaint, objmsg::kRepaint);
    EXPECT_EQ(menu::Count(m()), 3);
    EXPECT_EQ(caption(1), "Speed");

    key(28);
    EXPECT_EQ(key(13), objmsg::kRepaint) << "the link";
    EXPECT_EQ(m()->page, 1u);
    EXPECT_EQ(le16(plc_reg + reg::kR + 2 * 19), 1) << "the page register follows";
    put_le16(plc_reg + reg::kR + 2 * 19, 0);
    send(objmsg::kUpdate);
    EXPECT_EQ(m()->page, 0u) << "and leads";
    EXPECT_EQ(m()->depth, 0);
    put_le16(plc_reg + reg::kR + 2 * 19, 7);
    send(objmsg::kUpdate);
    EXPECT_EQ(m()->page, 0u) << "a page past the object's page count is not taken";
}

TEST_F(AppMenuTest, AccessRefused) {
    load(0x0C1D, kTwoPages, 3);
    IsUserConfigValid = 1;
    UserLoggedIn = 0;
    EXPECT_EQ(send(objmsg::kFocus, 10 << 16 | 60), 0x8002);
    EXPECT_EQ(send(objmsg::kTouchDown, 10 << 16 | 60), 0x8002);
    EXPECT_EQ(m()->page, 0u);
}

TEST_F(AppMenuTest, EscAtTheTop) {
    load(0x0C1D, kTwoPages);
    EXPECT_EQ(key(27), objmsg::kBack | objmsg::kRepaint) << "back to the previous user screen";

    load(0x081D, kTwoPages);
    send(objmsg::kFocus, 0);
    EXPECT_EQ(key(27), objmsg::kRepaint);
    EXPECT_EQ(m()->hi_shown, 0) << "the highlight goes";
    const RECT esc = menu::SoftKey(cb().def, m(), 2);
    send(objmsg::kTouchDown, at(esc));
    EXPECT_EQ(send(objmsg::kTouchUp, at(esc)), objmsg::kRefuse | objmsg::kRepaint)
        << "releasing Esc gives up the focus";
}

TEST_F(AppMenuTest, ValuesWithUnitsAreDrawn) {
    put_le16(plc_reg + reg::kR + 2 * 9, 0b111);
    put_le16(plc_reg, 0);
    put_le16(plc_reg + reg::kR, 1234);
    load(0x0C1D, kTwoPages);
    EXPECT_EQ(std::string(reinterpret_cast<char *>(m()->text[1])), "1234");
    VID_Update();
    EXPECT_EQ(screen_snapshot_diff("tests/screens/snapshots/menu_app.png"), "");
}

TEST_F(AppMenuTest, OnlyTwentyFiveLinesAreBuilt) {
    load(0x0C1D, kTwoPages);
    auto select = [&](int n) {
        put_le16(plc_reg + reg::kR + 2 * 19, uint16_t(n));
        send(objmsg::kUpdate);
        ASSERT_EQ(m()->page, uint32_t(n));
    };
    select(2); // 31 lines in its record
    EXPECT_EQ(m()->lines, 25);
    key(29);
    EXPECT_EQ(m()->top + m()->rows, 25) << "the window ends at the last line built";
    EXPECT_EQ(caption(m()->hi), "L24");

    // A count no record holds, with hidden lines: the visibility register
    // would lie past the program, so every line built is shown.
    uint8_t *p = menu_page(2);
    put_le16(p, 2);
    put_le16(p + 2, 0xFFFF);
    select(0);
    select(2);
    EXPECT_EQ(m()->lines, 25);
    EXPECT_EQ(menu::Count(m()), 25);
}

TEST_F(AppMenuTest, OffsetsOutsideTheProgramShowNothing) {
    put_le16(plc_reg + reg::kR + 2 * 9, 0b111);
    load(0x0C1D, kTwoPages);
    uint8_t *p0 = menu_page(0);
    put_le32(p0 + 4 + 4, 0xFFFFFF00);      // caption of line 0
    put_le32(p0 + 4 + 12 + 8, 0x7FFFFFF0); // descriptor of line 1
    put_le32(pPGM_Menus + 4, 0xFFFFFFF0);  // page 1 lies outside
    ASSERT_EQ(OBJM_OpenPage(dc, page), 1);
    pass();
    EXPECT_EQ(caption(0), "");
    EXPECT_EQ(menu::Line(m(), 1).field, nullptr);
    key(28);
    EXPECT_EQ(key(13), objmsg::kRepaint);
    EXPECT_EQ(m()->page, 1u);
    EXPECT_EQ(m()->lines, 0) << "a page outside the program is not built";
    pass();
}
