// Object manager: pages, the update pass, input routing, pop-ups, morphs and
// the screen history, with probe classes.
#include "gdi/field.h"
#include "objects/objects.h"
#include "objm_fixture.h"
#include "platform/slice.h"
#include "platform/tick.h"
#include "plc/appblocks.h"
#include "png_snapshot.h"
#include "regs/regname.h"
#include "system/loop.h"
#include "system/reglink.h"

using probe::Call;
using probe::ids;
using probe::log;

TEST_F(ObjmTest, OpenCreatesAndPaintsInRecordOrder) {
    auto pages = load(page(1, {obj(1), obj(2, 0), obj(3)}));
    probe::steady[3] = 0x20;
    ASSERT_EQ(OBJM_OpenPage(dc, pages[0]), 1);
    EXPECT_EQ(ids("create", 0), (std::vector<int>{1, 2, 3}));
    // Every object is asked first (painted from scratch); only shown ones are
    // painted, and the content only when the answer asks for it.
    std::vector<Call> expected = {
        {"signal", 1, 0x40}, {"paint", 1, 1}, {"signal", 2, 0x40},
        {"signal", 3, 0x40}, {"paint", 3, 1}, {"paint", 3, 2},
    };
    std::vector<Call> got;
    for (const Call &c : log)
        if (c.what != "create") got.push_back(c);
    EXPECT_EQ(got, expected);
    // Instances are 8-byte aligned in the pool, and a class that says it used
    // fewer bytes than the common header (the probe says 16) does not let the
    // next instance overlap it.
    for (int i = 0; i < objm::g.num_dobjs; ++i) {
        EXPECT_EQ(reinterpret_cast<uintptr_t>(objm::g.doTbl[i].inst) % 8, 0u);
        if (i) {
            EXPECT_GE(reinterpret_cast<uintptr_t>(objm::g.doTbl[i].inst),
                      reinterpret_cast<uintptr_t>(objm::g.doTbl[i - 1].inst) + sizeof(ObjInst));
        }
    }
}

TEST_F(ObjmTest, FirstRecordOffsetFollowsTheVersion) {
    // mkapp writes version 2 pages without gradient: records at 24; with
    // gradient at 32.
    auto pages = load(page(1, {obj(1)}) +
                      ", {\"screen\": 2, \"gradient\": [1, 2, 0, 0], "
                      "\"objects\": [" +
                      obj(2) + "]}");
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(Page_FirstRecord(pages[0]), 24u);
    EXPECT_EQ(Page_FirstRecord(pages[1]), 32u);
    uint8_t v0[14 + 32] = {}, v1[22 + 32] = {};
    put_le16(v0 + 8, 0);
    put_le16(v1 + 8, 1);
    EXPECT_EQ(Page_FirstRecord(v0), 14u);
    EXPECT_EQ(Page_FirstRecord(v1), 22u);
}

TEST_F(ObjmTest, StaticObjectLivesAcrossPages) {
    auto pages = load(page(5, {obj(1, 0x2001)}) + ", " + page(7, {obj(2)}));
    OBJM_Init();
    OBJM_ScanPage(dc, pages[0]);
    OBJM_ScanPage(dc, pages[1]);
    EXPECT_EQ(ids("create", 0), (std::vector<int>{1}));
    log.clear();
    ASSERT_EQ(OBJM_OpenPage(dc, pages[1]), 1);
    OBJM_Update(dc);
    EXPECT_EQ(ids("signal", 0x40), (std::vector<int>{2, 1, 2}))
        << "page 7 open: the static one too";
    OBJM_DestroyPage();
    log.clear();
    ASSERT_EQ(OBJM_OpenPage(dc, pages[0]), 1);
    EXPECT_TRUE(ids("create", 0).empty()) << "no second Create";
    log.clear();
    OBJM_Update(dc);
    EXPECT_EQ(ids("signal", 0x40), (std::vector<int>{1})) << "served once, by the page table";
    EXPECT_EQ(objm::g.doTbl[0].page, 255);
}

TEST_F(ObjmTest, ShowRepaintsTheObjectsOverIt) {
    for (uint32_t flag : {0u, 0x8000u}) {
        SCOPED_TRACE(flag);
        auto pages = load(page(1, {obj(1, 1 | flag, 100), obj(2), obj(8)}));
        ASSERT_EQ(OBJM_OpenPage(dc, pages[0]), 1);
        log.clear();
        probe::updates[1] = {0x1020};
        OBJM_Update(dc);
        // Objects 2 and 8 meet object 1's rectangle: with the flag they are
        // framed with it, and framed again over its content paint.
        const std::vector<int> frames =
            flag ? std::vector<int>{1, 2, 8, 2, 8} : std::vector<int>{1};
        const std::vector<int> contents = flag ? std::vector<int>{1, 2, 8} : std::vector<int>{1};
        EXPECT_EQ(ids("paint", 1), frames);
        EXPECT_EQ(ids("paint", 2), contents);
        probe::updates.clear();
    }
}

TEST_F(ObjmTest, HideRepaintsUnderAndOver) {
    struct Case {
        uint32_t flag;
        uint16_t result;
        std::vector<int> frames;
    } cases[] = {
        // Without 0x8000: only earlier objects with 0x8000 that meet it.
        {0, 0x2020, {1}},
        // With it: those and every later object that meets it.
        {0x8000, 0x2020, {1, 3, 4}},
        // Erase and redraw: the object itself is painted again.
        {0, 0x4020, {1, 2}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.result + c.flag);
        auto pages = load(
            page(1, {obj(1, 0x8001, 100), obj(0, 0x0001, 5), obj(2, 1 | c.flag), obj(3), obj(4)}));
        ASSERT_EQ(OBJM_OpenPage(dc, pages[0]), 1);
        log.clear();
        probe::updates[2] = {c.result};
        OBJM_Update(dc);
        EXPECT_EQ(ids("paint", 1), c.frames);
        probe::updates.clear();
    }
}

TEST_F(ObjmTest, ContentPassEndsAtTheFirstEvent) {
    auto pages = load(page(1, {obj(1), obj(5), obj(9)}));
    ASSERT_EQ(OBJM_OpenPage(dc, pages[0]), 1);
    for (int id : {1, 5, 9})
        probe::updates[id] = {0x20};
    // One event waits for each check of the pass: the step-4 checks take the
    // first four, the content pass ends after the first content paint.
    for (int i = 0; i < 5; ++i)
        touch(700, 400, i % 2 == 0);
    log.clear();
    OBJM_Update(dc);
    EXPECT_EQ(ids("paint", 2), (std::vector<int>{1}));
    log.clear();
    OBJM_Update(dc);
    EXPECT_EQ(ids("paint", 2), (std::vector<int>{5, 9}));
}

// The five routing rules, first match wins.
TEST_F(ObjmTest, TouchRouting) {
    struct Case {
        const char *what;
        std::vector<std::string> objs;
        std::map<int, std::deque<uint16_t>> answers;
        int x;
        std::vector<Call> calls;
        int focus;
    } cases[] = {
        {"a shown plain object over a button swallows the touch",
         {obj(1, 0x4001), obj(1, 0x0001)},
         {},
         15,
         {},
         -1},
        {"a plain object not shown is passed over",
         {obj(1, 0x4001), obj(1, 0x0000)},
         {},
         15,
         {{"signal", 1, 256}},
         -1},
        {"a miss is passed over",
         {obj(1, 0x4001), obj(9, 0x0001)},
         {},
         15,
         {{"signal", 1, 256}},
         -1},
        {"a touch object takes the touch", {obj(1, 0x4001)}, {}, 15, {{"signal", 1, 256}}, -1},
        {"a selectable object gets the focus request",
         {obj(1, 0x0101)},
         {},
         15,
         {{"signal", 1, 1}},
         0},
        {"a refused focus goes on below",
         {obj(1, 0x4001), obj(1, 0x0101)},
         {{1, {0x02}}},
         15,
         {{"signal", 1, 1}, {"signal", 1, 256}},
         -1},
        {"a touch object answering 0x01 continues as selectable",
         {obj(1, 0x4001)},
         {{1, {0x01}}},
         15,
         {{"signal", 1, 256}, {"signal", 1, 1}},
         0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        auto pages = load(page(1, c.objs));
        ASSERT_EQ(OBJM_OpenPage(dc, pages[0]), 1);
        probe::answers = c.answers;
        log.clear();
        EXPECT_EQ(OBJM_Keypress(kTouchDown, c.x, 20), 0);
        std::vector<Call> got;
        for (const Call &k : log)
            if (k.what == "signal" && k.arg != 0x40) got.push_back(k);
        EXPECT_EQ(got, c.calls);
        EXPECT_EQ(objm::g.fSelectFocus ? objm::g.selectObject : -1, c.focus);
    }
}

TEST_F(ObjmTest, FocusedObjectTakesEveryEventAndTouchUpIsDropped) {
    auto pages = load(page(1, {obj(1, 0x0101), obj(5, 0x4001)}));
    ASSERT_EQ(OBJM_OpenPage(dc, pages[0]), 1);
    log.clear();
    OBJM_Keypress(kTouchUp, 15, 20);
    EXPECT_TRUE(probe::only("signal").empty()) << "touch-up on a selectable object";
    OBJM_Keypress(kTouchDown, 15, 20);
    ASSERT_TRUE(objm::g.fSelectFocus);
    log.clear();
    PressKeyON = 0;
    OBJM_Keypress(kKeyMessage, 13, 0);
    OBJM_Keypress(kTouchDown, 55, 20); // lands on the other object
    EXPECT_EQ(probe::only("signal"), (std::vector<Call>{{"signal", 1, 16}, {"signal", 1, 256}}));
    // 0x02 drops the focus.
    probe::answers[1] = {0x02};
    OBJM_Keypress(kKeyMessage, 27, 0);
    EXPECT_FALSE(objm::g.fSelectFocus);
}

TEST_F(ObjmTest, AccessDeniedBox) {
    auto pages = load(page(1, {obj(1, 0x4001, 700, 400)}));
    ASSERT_EQ(OBJM_OpenPage(dc, pages[0]), 1);
    probe::answers[1] = {0x8002};
    OBJM_Keypress(kTouchDown, 15, 20);
    ASSERT_TRUE(objm::g.fDispMesg);
    const RECT ok = objm::g.okRect;
    // 800 x 480: box 266..532 x 160..318, button inset by a quarter of its height.
    EXPECT_EQ(ok.left, 266 + 39);
    EXPECT_EQ(ok.bottom, 318 - 3);
    log.clear();
    OBJM_Keypress(kTouchDown, 5, 5);                  // outside OK: swallowed
    OBJM_Keypress(kTouchUp, ok.left + 2, ok.top + 2); // release inside after a press outside
    EXPECT_TRUE(objm::g.fDispMesg);
    EXPECT_TRUE(probe::only("signal").empty());
    OBJM_Keypress(kTouchDown, ok.left + 2, ok.top + 2);
    OBJM_Keypress(kTouchUp, ok.left + 3, ok.top + 3);
    EXPECT_FALSE(objm::g.fDispMesg);
    EXPECT_EQ(ids("signal", 0x40), (std::vector<int>{1})) << "the page is repainted";
}

TEST_F(ObjmTest, AccessDeniedBoxPicture) {
    auto pages = load(page(1, {obj(1, 0x4001, 700, 400)}));
    ASSERT_EQ(OBJM_OpenPage(dc, pages[0]), 1);
    probe::answers[1] = {0x8002};
    OBJM_Keypress(kTouchDown, 15, 20);
    VID_Update();
    EXPECT_EQ(screen_snapshot_diff("tests/screens/snapshots/access_denied.png"), "");
}

TEST_F(ObjmTest, PopupRefusals) {
    auto pages = load(page(1, {obj(1, 0x0101)}));
    ASSERT_EQ(OBJM_OpenPage(dc, pages[0]), 1);
    uint8_t def[32] = {};
    put_le16(def, 1);
    uint8_t bad[32] = {};
    put_le16(bad, 36);
    EXPECT_EQ(OBJM_CreatePopup(dc, bad, nullptr, 0), 0) << "no class";
    int choice = -1;
    static int *seen;
    seen = &choice;
    auto cb = [](int c) { *seen = c; };
    ASSERT_EQ(OBJM_CreatePopup(dc, def, cb, 7), 1);
    auto *inst = reinterpret_cast<PopupInst *>(objm::g.doTbl[1].inst);
    EXPECT_EQ(inst->param, 7);
    inst->callback(3);
    EXPECT_EQ(choice, 3);
    EXPECT_EQ(objm::g.selectObject, 1);
    EXPECT_EQ(OBJM_CreatePopup(dc, def, cb, 7), 0) << "one at a time";
    OBJM_DestroyPopup(dc);
    EXPECT_EQ(objm::g.num_dobjs, 1);
    EXPECT_FALSE(objm::g.fSelectFocus) << "nothing had the focus";
    // While a morph is open.
    probe::answers[1] = {0x400};
    OBJM_Keypress(kTouchDown, 15, 20);
    ASSERT_TRUE(objm::g.fSelectMorf);
    EXPECT_EQ(OBJM_CreatePopup(dc, def, cb, 7), 0);
}

TEST_F(ObjmTest, MorphsOpenCloseAndSeventeenDeep) {
    auto pages = load(page(1, {obj(1, 0x0101), obj(5)}));
    ASSERT_EQ(OBJM_OpenPage(dc, pages[0]), 1);
    OBJM_Keypress(kTouchDown, 15, 20); // focus
    for (int n = 1; n <= 17; ++n) {
        log.clear();
        probe::answers[1] = {0x400};
        int opened = OBJM_Keypress(kKeyMessage, 13, 0);
        EXPECT_EQ(opened, 1);
        EXPECT_EQ(objm::g.morfIndex, std::min(n, 16));
        EXPECT_EQ(probe::only("m_create").size(), n <= 16 ? 1u : 0u) << n;
        // From the second on, the morph class answers.
        probe::answers[1].clear();
    }
    EXPECT_EQ(OBJM_GetRootOCB()->Signal, probe::kProbe.Signal);
    // Closing an inner one repaints only the object; the outermost the page.
    for (int n = 16; n >= 1; --n) {
        log.clear();
        probe::answers[1] = {0x02};
        OBJM_Keypress(kKeyMessage, 27, 0);
        EXPECT_EQ(objm::g.morfIndex, n - 1);
        bool page = !ids("signal", 0x40).empty();
        EXPECT_EQ(page, n == 1) << n;
    }
    EXPECT_FALSE(objm::g.fSelectMorf);
    EXPECT_EQ(objm::g.doTbl[0].Signal, probe::kProbe.Signal) << "own class back";
}

TEST_F(ObjmTest, HistoryKeepsSixteen) {
    std::vector<uint16_t> written;
    static std::vector<uint16_t> *w;
    w = &written;
    static int recovered;
    recovered = 0;
    ObjmHooks h = objm::hooks;
    h.write_screen = [](uint16_t s) {
        w->push_back(s);
        sr_put(sr::kUserScreen, s);
    };
    h.fault_page_recover = [] { ++recovered; };
    OBJM_SetHooks(h);
    sr_put(sr::kUserScreen, 1);
    for (int s = 2; s <= 18; ++s)
        OBJM_SwitchUserScreen(s, 1);
    written.clear();
    for (int i = 0; i < 17; ++i)
        OBJM_PopUserScreen();
    std::vector<uint16_t> expect;
    for (int s = 17; s >= 2; --s)
        expect.push_back(uint16_t(s));
    EXPECT_EQ(written, expect) << "the sixteen newest, newest first";
    EXPECT_EQ(recovered, 1) << "the seventeenth falls back";
}

TEST_F(ObjmTest, RememberedSelectionOutsideThePageIsDropped) {
    auto pages = load(page(1, {obj(1, 0x0101), obj(5, 0x0101)}));
    ObjmHooks h = objm::hooks;
    h.page_mode = [] { return 1; };
    OBJM_SetHooks(h);
    for (int sel : {1, 2, 500}) {
        objm::g.initSelect = int16_t(sel);
        ASSERT_EQ(OBJM_OpenPage(dc, pages[0]), 1);
        EXPECT_EQ(objm::g.selectObject, sel < 2 ? sel : -1) << sel;
    }
}

TEST_F(ObjmTest, PassTimeAndSlicesAreWritten) {
    auto pages = load(page(1, {obj(1)}));
    ASSERT_EQ(OBJM_OpenPage(dc, pages[0]), 1);
    EXPECT_EQ(sr_get(sr::kPageOpenSlices), 0) << "no slice fell inside the open";
    EXPECT_EQ(openPageExec, 0);
    OBJM_Update(dc);
    // The virtual clock moves on with every read.
    EXPECT_LT(sr_get(sr::kScreenPassTime), 100);
}

TEST_F(ObjmTest, PoolAndTableLimits) {
    // A class whose records need more than the pool holds fails the open
    // before its Create.
    // (The record's class reports 500,000 bytes; its Create uses 32,000, so
    // the second one's instance would run past the pool.)
    static const ObjClass big{32,      probe::create, probe::paint, probe::signal,
                              nullptr, 500000,        nullptr};
    OBJM_SetClass(2, &big);
    probe::create_bytes = 32000;
    auto pages = load(page(1, {obj(1, 1, 40, 40, 2), obj(2, 1, 40, 40, 2)}));
    log.clear();
    EXPECT_EQ(OBJM_OpenPage(dc, pages[0]), 0);
    EXPECT_EQ(ids("create", 0), (std::vector<int>{1}));
    // Static objects that do not fit are left out, and skipped by the page.
    probe::create_bytes = 16;
    pages = load(page(1, {obj(1, 0x2001, 40, 40, 2), obj(2, 1), obj(3, 0x2001, 40, 40, 2)}));
    OBJM_Init();
    log.clear();
    OBJM_ScanPage(dc, pages[0]);
    EXPECT_EQ(objm::g.num_sobjs, 0);
    ASSERT_EQ(OBJM_OpenPage(dc, pages[0]), 1);
    EXPECT_EQ(objm::g.num_dobjs, 1);
    // 1024 records open; a pop-up is then refused; 1025 fail.
    std::vector<std::string> objs(1024, obj(1, 0));
    pages = load(page(1, objs));
    ASSERT_EQ(OBJM_OpenPage(dc, pages[0]), 1);
    uint8_t def[32] = {};
    put_le16(def, 1);
    EXPECT_EQ(OBJM_CreatePopup(dc, def, nullptr, 0), 0);
    uint8_t *count = const_cast<uint8_t *>(pages[0]) + 4;
    put_le16(count, 1025);
    EXPECT_EQ(OBJM_OpenPage(dc, pages[0]), 0);
}

TEST_F(ObjmTest, MalformedRecordsStopTheWalk) {
    struct Case {
        int length;
        bool opens;
    } cases[] = {{32, true}, {40, true}, {0, false}, {31, false}, {18, false}, {60000, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.length);
        // A second page follows, so that a longer record stays inside the program.
        auto pages = load("{\"screen\": 1, \"objects\": [{\"type\": 0, \"flags\": 4097, \"rect\": "
                          "[0, 0, 9, 9]}]}, " +
                          page(2, {obj(1)}));
        uint8_t *def = const_cast<uint8_t *>(pages[0]) + 24;
        put_le16(def + 30, uint16_t(c.length));
        EXPECT_EQ(OBJM_OpenPage(dc, pages[0]) == 1, c.opens);
        EXPECT_EQ(OBJM_ScanPage(dc, pages[0]) != nullptr, c.opens);
    }
    // A record of type 40 fails the open.
    auto pages = load(page(1, {obj(1)}));
    put_le16(const_cast<uint8_t *>(pages[0]) + 24, 40);
    EXPECT_EQ(OBJM_OpenPage(dc, pages[0]), 0);
}

TEST_F(ObjmTest, BoundedReaders) {
    uint8_t def[40] = {};
    put_le16(def, 0);
    EXPECT_NE(OBJM_GradientExt(def, 20), nullptr);
    EXPECT_EQ(OBJM_GradientExt(def, 21), nullptr) << "past the 32-byte record";
    EXPECT_EQ(OBJM_GradientExt(def, 0xFFFFFFFF), nullptr);
    // Texts end inside the string table, and their line count before them
    // lies inside it too.
    put_le32(string_table_bl + 4, 8);
    std::memcpy(string_table_bl + 8, "\1abc\0def", 8);
    pPGM_Strings = string_table_bl + 8;
    EXPECT_STREQ(reinterpret_cast<const char *>(OBJM_Text(1)), "abc");
    EXPECT_EQ(OBJM_Text(0), nullptr) << "its count would lie before the texts";
    EXPECT_EQ(OBJM_Text(5), nullptr) << "runs to the end without its zero";
    EXPECT_EQ(OBJM_Text(100), nullptr);
    pPGM_Strings = nullptr;
}

// With several languages a text ends inside its own language's segment.
TEST_F(ObjmTest, TextsEndInsideTheirLanguage) {
    load(page(1, {}), R"("languages": 2, )");
    put_le32(string_table_bl + 4, 8 + 8);
    const uint8_t table[] = {12, 0, 0, 0, 0, 0, 0, 0, 1, 'a', 'b', 'c', 1, 'd', 0, 0};
    std::memcpy(string_table_bl + 8, table, sizeof table);
    struct Case {
        size_t at; // pPGM_Strings from the table's data
        const char *text;
    };
    const Case cases[] = {{8, nullptr}, {12, "d"}, {10, nullptr}, {16, nullptr}};
    for (const Case &c : cases) {
        pPGM_Strings = string_table_bl + 8 + c.at;
        const char *t = reinterpret_cast<const char *>(OBJM_Text(1));
        if (c.text)
            EXPECT_STREQ(t, c.text) << c.at;
        else
            EXPECT_EQ(t, nullptr) << c.at << ": runs past its segment, or starts none";
    }
    pPGM_Strings = nullptr;
}

// A picture is its 6-byte prefix (coding, a byte, coded length) and its coded
// data; the offset points behind the prefix. Only a picture whose prefix and
// coded data lie inside the bitmap area in use is handed out.
TEST_F(ObjmTest, PicturesLieWhollyInsideTheBitmapArea) {
    constexpr uint32_t kArea = 64; // bytes of the area in use
    put_le32(rom_map_tbl + 516, 8 + kArea);
    put_le32(bmp_table + 4, kArea);
    uint8_t *area = bmp_table + 8;
    area[10] = 2; // a picture at 16 of 20 coded bytes
    put_le32(area + 12, 20);
    area[40] = 1; // a picture at 46 whose length runs past the area
    put_le32(area + 42, 19);
    struct Case {
        uint32_t offset;
        bool found;
    };
    const Case cases[] = {
        {16, true}, {46, false}, {3, false}, {kArea + 1, false}, {0xFFFFFFFF, false}};
    for (const Case &c : cases) {
        ObjPicture pic{};
        ASSERT_EQ(OBJM_Bitmap(c.offset, &pic), c.found) << c.offset;
        if (!c.found) continue;
        EXPECT_EQ(pic.coding, 2);
        EXPECT_EQ(pic.data, area + 16);
        EXPECT_EQ(pic.length, 20u);
    }
    put_le32(area + 42, 18); // now it ends with the area
    ObjPicture pic{};
    EXPECT_TRUE(OBJM_Bitmap(46, &pic));
    put_le32(rom_map_tbl + 516, 8 + 30); // less was loaded than the header says
    EXPECT_FALSE(OBJM_Bitmap(16, &pic));
}

TEST_F(ObjmTest, DestroyCallsTheClassesThatHoldMemory) {
    static const ObjClass six{58, probe::create, probe::paint, probe::signal, probe::destroy,
                              64, nullptr};
    OBJM_SetClass(6, &six);
    auto pages = load(page(1, {obj(1, 1, 40, 40, 6), obj(2)}));
    ASSERT_EQ(OBJM_OpenPage(dc, pages[0]), 1);
    log.clear();
    OBJM_DestroyPage();
    EXPECT_EQ(probe::only("destroy"), (std::vector<Call>{{"destroy", 1, 0}}));
}

// A gradient page, and an object hidden on it: the erase puts the gradient
// back, from the saved background or through the pixel pipeline.
class GradientPageTest : public ObjmTest {};
class GradientPagePxpTest : public ObjmTest {
    bool pxp() const override { return true; }
};
static void gradient_page_with_hidden_object(DC *dc, const std::vector<const uint8_t *> &pages) {
    ASSERT_EQ(OBJM_OpenPage(dc, pages[0]), 1);
    // The object paints nothing itself; a black square stands for it.
    GDI_SetPen(dc, kPenNone, 0, 0);
    GDI_SetFillColor(dc, 0);
    RECT all{0, 0, 800, 480};
    GDI_SetClipRect(dc, &all, nullptr);
    GDI_Rectangle(dc, 300, 200, 500, 300);
    probe::updates[30] = {0x2020};
    OBJM_Update(dc);
}
TEST_F(GradientPageTest, HiddenObjectShowsTheGradientAgain) {
    DC *mem3 = GDI_CreateDC(0, 5);
    pMem3DC = mem3;
    auto pages = load("{\"screen\": 1, \"gradient\": [31, 63488, 40, 40], \"objects\": [" +
                      obj(30, 1, 200, 100) + "]}");
    uint8_t *def = const_cast<uint8_t *>(pages[0]) + 32;
    put_le16(def + 12, 200); // the object's rectangle: 300, 200 to 500, 300
    put_le16(def + 16, 300);
    gradient_page_with_hidden_object(dc, pages);
    EXPECT_EQ(screen_snapshot_diff("tests/screens/snapshots/gradient_page.png"), "");
}
TEST_F(GradientPagePxpTest, HiddenObjectShowsTheGradientAgain) {
    auto pages = load("{\"screen\": 1, \"gradient\": [31, 63488, 40, 40], \"objects\": [" +
                      obj(30, 1, 200, 100) + "]}");
    uint8_t *def = const_cast<uint8_t *>(pages[0]) + 32;
    put_le16(def + 12, 200); // the object's rectangle: 300, 200 to 500, 300
    put_le16(def + 16, 300);
    gradient_page_with_hidden_object(dc, pages);
    EXPECT_EQ(screen_snapshot_diff("tests/screens/snapshots/gradient_page_pxp.png"), "");
}

// The class table as wired: every type below 36 has a row of its record
// length; the object classes come from the objects' own table.
TEST_F(ObjmTest, EveryTypeHasARowOfItsRecordLength) {
    Objm_Reset(); // the probe rows go
    panel_reset_all();
    for (int t = 0; t < kObjTypes; ++t) {
        ASSERT_NE(oDefTbl[t], nullptr) << t;
        EXPECT_EQ(oDefTbl[t]->length, kObjRecordLength[t]) << t;
        EXPECT_EQ(oDefTbl[t], Objects_Class(t) ? Objects_Class(t) : objm::kScreenClasses[t]) << t;
    }
}

// The slide-key panel (a probe class in row 30) has no keys for the boot
// installer or the recovery screen: it closes itself there, except while a
// morph holds the focus.
TEST_F(ObjmTest, SlideKeyPanelClosesInInstallerAndRecovery) {
    static const ObjClass key{32, probe::create, probe::paint, probe::signal, nullptr, 64, nullptr};
    OBJM_SetClass(30, &key);
    OBJM_Init();
    auto pages = load(page(1, {obj(1, 0x101)}));
    ASSERT_EQ(OBJM_OpenPage(dc, pages[0]), 1);
    struct Case {
        uint8_t boot, recover;
        bool morph, stays_open;
    };
    const Case cases[] = {
        {0, 0, false, true}, {1, 0, false, false}, {0, 1, false, false}, {0, 1, true, true}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.boot) << int(c.recover) << c.morph);
        objm::g.fSelectKey = 0;
        EXPECT_EQ(OBJM_SlideKey(), 0);
        ASSERT_EQ(objm::g.fSelectKey, 1) << "opened";
        if (c.morph) {
            probe::answers[1] = {0x01, 0x400}; // focus, then a morph on the next touch
            touch(15, 5, true);
            OBJM_Update(dc);
            touch(15, 5, true);
            OBJM_Update(dc);
            ASSERT_EQ(objm::g.fSelectMorf, 1);
        }
        BootMode = c.boot;
        RecoverMode = c.recover;
        OBJM_Update(dc);
        EXPECT_EQ(objm::g.fSelectKey == 1, c.stays_open);
        BootMode = RecoverMode = 0;
    }
}

// Registers named by an object's state and fields become the page's links,
// in a table of the page; texts of text fields land at the same offset of
// every language's segment of the string table.
TEST_F(ObjmTest, BuiltPageLinksRegistersAndPlacesTexts) {
    auto pages = load(R"({"screen": 1, "objects": [
        {"type": "PAGE", "state": {"register": "%M3", "mask": 1}, "rect": [0, 0, 50, 50],
         "fields": {"trigger": "%R7", "target": 4, "caption": ["Start", "D\u00e9marrer"]}},
        {"type": 0, "state": {"register": "%R7"}, "rect": [60, 0, 90, 50]}]})",
                      R"("strings": {"languages": 2, "texts": ["Stop"]}, )");
    ASSERT_EQ(pages.size(), 1u);
    ASSERT_EQ(OBJM_OpenPage(dc, pages[0]), 1);
    const uint8_t *button = objm::g.doTbl[0].def, *shape = objm::g.doTbl[1].def;
    EXPECT_EQ(le16(button + 8), 2) << "the first register named: link 2";
    EXPECT_EQ(le16(button + 32), 3);
    EXPECT_EQ(le16(shape + 8), 3) << "a register named again keeps its link";
    EXPECT_EQ(le16(button + 36), 4) << "a number is the link value itself";
    for (auto [link, name] : {std::pair{2u, "%M3"}, {3u, "%R7"}}) {
        uint32_t ref = 0, bits = 0;
        std::string error;
        ASSERT_TRUE(RegName_Parse(name, &ref, &bits, &error));
        RCB *rcb = SYS_LinkReg(link, 16);
        ASSERT_NE(rcb, nullptr) << name;
        EXPECT_EQ(rcb->rref, ref) << name;
    }
    // Two segments of equal size after the table's 8-byte head.
    const uint32_t data = le32(string_table_bl + 4);
    const uint32_t segment = (le32(string_table_bl + 8) - 4) / 2;
    EXPECT_EQ(data, 8 + 2 * segment);
    const uint32_t caption = le32(button + 22);
    pPGM_Strings = string_table_bl + 16;
    EXPECT_STREQ(reinterpret_cast<const char *>(OBJM_Text(1)), "Stop") << "listed texts first";
    EXPECT_STREQ(reinterpret_cast<const char *>(OBJM_Text(caption)), "Start");
    EXPECT_EQ(OBJM_Text(caption)[-1], 1) << "one line";
    pPGM_Strings += segment;
    EXPECT_STREQ(reinterpret_cast<const char *>(OBJM_Text(caption)), "D\xE9marrer");
    pPGM_Strings = nullptr;
}
