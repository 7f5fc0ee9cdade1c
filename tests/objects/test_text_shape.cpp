// TEXT, SHAPE and NULL objects: the state register's visibility, colour
// selection and flashing, the shape kinds and gradient fills, and pictures
// of a page of them.
#include "objects_fixture.h"
#include "png_snapshot.h"

namespace {

using namespace rec;

constexpr COLOR kRed = 0xF800, kGreen = 0x07E0, kBlue = 0x001F, kBlack = 0, kYellow = 0xFFE0;

TEST_F(ObjectsTest, StateRegisterPicksVisibilityAndColour) {
    // A filled rectangle whose fill follows the register: mask bit 0
    // visibility, bits 4-7 the four alternative colours after the record.
    build({{0, 1, 100, 100, 139, 139, 40}});
    const Rec &s = recs[0];
    s.u16(shape::kFill, kBlack);
    s.u16(shape::kPen, kBlack);
    s.u8(shape::kPenStyle, 1);
    s.u8(shape::kPenWidth, 1);
    s.u8(shape::kKind, 2);
    s.state(0x00F1, 5);
    for (int n = 0; n < 4; ++n)
        s.u16(shape::kLength + 2 * size_t(n), std::vector<COLOR>{kRed, kGreen, kBlue, kYellow}[n]);
    put_le16(r_ptr(5), 1);
    open();
    struct Step {
        uint16_t reg;
        uint16_t result;
        COLOR centre; // after the pass
    } steps[] = {
        {0x01, 0, kBlack},      {0x11, 0x20, kRed},
        {0x51, 0, kRed}, // bits 4 and 6: the first one, colour 1
        {0x41, 0x20, kBlue},    {0x81, 0x20, kYellow},
        {0x80, 0x2020, 0xFFDF}, // hidden: the page background
        {0x01, 0x1020, kBlack}, // shown again in the default colour
        {0x1F01, 0, kBlack},    // bits outside the mask take no part
    };
    for (const Step &st : steps) {
        SCOPED_TRACE(st.reg);
        put_le16(r_ptr(5), st.reg);
        EXPECT_EQ(update(0), st.result);
        // The page opened afresh paints what the register says.
        OBJM_DestroyPage();
        open();
        EXPECT_EQ(px(dc, 120, 120), st.centre);
    }
}

TEST_F(ObjectsTest, AlternativeColoursOutsideTheRecordAreNotRead) {
    // A record of the class length: the colours would be the next record's
    // bytes; the default colour stays.
    build({{0, 1, 10, 10, 49, 49}, {0, 1, 60, 10, 99, 49}});
    for (const Rec &r : recs) {
        r.u16(shape::kFill, kBlack);
        r.u8(shape::kKind, 2);
    }
    recs[0].state(0x0011, 5);
    put_le16(r_ptr(5), 0x11);
    open();
    pass();
    EXPECT_EQ(px(dc, 30, 30), kBlack);
}

TEST_F(ObjectsTest, FlashingTextBlinksByShowAndHideOrByRepaint) {
    struct Case {
        COLOR fill;
        uint16_t blank, back; // answers when the phase turns 1, then 0
        uint16_t stop;        // when flashing stops during phase 1
    } cases[] = {
        {kColorNone, 0x2020, 0x1020, 0x1020}, // transparent: hide and show
        {kGreen, 0x20, 0x20, 0x20},           // opaque: repaint the background
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.fill);
        build({{1, 0x0803, 100, 100, 299, 139}});
        recs[0].u16(text::kFill, c.fill);
        recs[0].u16(text::kColour, kBlack);
        recs[0].u32(text::kText, text("Blink"));
        recs[0].u8(text::kAlign, 36);
        recs[0].state(0x0002, 5);
        put_le16(r_ptr(5), 2);
        open();
        sysFlash = 0;
        update(0);
        EXPECT_EQ(update(0), 0);
        sysFlash = 1;
        EXPECT_EQ(update(0), c.blank);
        EXPECT_EQ(update(0), 0);
        sysFlash = 0;
        EXPECT_EQ(update(0), c.back);
        sysFlash = 1;
        update(0);
        put_le16(r_ptr(5), 0);
        EXPECT_EQ(update(0), c.stop);
        EXPECT_EQ(update(0, 1), 0x20) << "force repaints";
        OBJM_DestroyPage();
    }
}

TEST_F(ObjectsTest, FlashingTextInPhaseOneDrawsNoText) {
    build({{1, 0x0803, 100, 100, 299, 139}});
    recs[0].u16(text::kFill, kGreen);
    recs[0].u16(text::kColour, kBlack);
    recs[0].u32(text::kText, text("WWWWWWWWWWWWWWWW"));
    recs[0].u8(text::kAlign, 0x21);
    sysFlash = 0;
    open();
    pass();
    auto blacks = [&] {
        int n = 0;
        for (int y = 100; y < 140; ++y)
            for (int x = 100; x < 300; ++x)
                n += px(dc, x, y) == kBlack;
        return n;
    };
    EXPECT_GT(blacks(), 50);
    sysFlash = 1;
    pass();
    EXPECT_EQ(blacks(), 0);
}

TEST_F(ObjectsTest, NullObjectsTakeNothingAndAnswerNothing) {
    for (int type : {22, 23}) {
        SCOPED_TRACE(type);
        const ObjClass *row = oDefTbl[type];
        EXPECT_EQ(row->length, type == 22 ? 40u : 32u);
        build({{uint16_t(type), 1, 0, 0, 799, 479}, {0, 1, 10, 10, 20, 20}});
        open();
        EXPECT_EQ(cb(0).Create(cb(0).def, cb(0).inst), 0);
        for (int msg : {objmsg::kUpdate, objmsg::kTouchDown, objmsg::kTouchUp, objmsg::kKey})
            EXPECT_EQ(cb(0).Signal(cb(0).def, cb(0).inst, msg, 1), 0);
        EXPECT_EQ(px(dc, 400, 300), 0xFFDF) << "drew nothing";
        OBJM_DestroyPage();
    }
}

TEST_F(ObjectsTest, TextsOfALanguageAreReadInsideTheTable) {
    // A count that promises more lines than the table holds draws nothing
    // (and reads nothing past the block).
    build({{1, 0x0801, 100, 100, 299, 139}, {1, 0x0801, 100, 200, 299, 239}});
    const uint32_t good = text("AAAA");
    const uint32_t bad = text("BBBB");
    pPGM_Strings[bad - 1] = 200;
    for (const Rec &r : recs) {
        r.u16(text::kFill, kColorNone);
        r.u16(text::kColour, kBlack);
        r.u8(text::kAlign, 36);
    }
    recs[0].u32(text::kText, good);
    recs[1].u32(text::kText, bad);
    open();
    pass();
    int a = 0, b = 0;
    for (int y = 100; y < 140; ++y)
        for (int x = 100; x < 300; ++x) {
            a += px(dc, x, y) == kBlack;
            b += px(dc, x, y + 100) == kBlack;
        }
    EXPECT_GT(a, 10);
    EXPECT_EQ(b, 0);
}

// A page of texts and shapes: every shape kind, pens, insets, gradients,
// frames, 3D edges and alignments.
class GalleryTest : public ObjectsTest {
protected:
    void make() {
        const int W = dc->bounds.right + 1, H = dc->bounds.bottom + 1;
        const int cw = W / 4, rh = H / 4;
        std::vector<ObjSpec> objs;
        auto cell = [&](uint16_t type, uint32_t flags, int col, int row, int length = 0) {
            objs.push_back({type, flags, col * cw + 4, row * rh + 4, col * cw + cw - 5,
                            row * rh + rh - 5, length});
        };
        // Row 0: shape kinds 0-5.
        for (int k = 0; k < 4; ++k)
            cell(0, 1, k, 0);
        cell(0, 1, 0, 1);
        cell(0, 1, 1, 1); // kind 5: nothing
        // Gradient shapes, kinds 2-4.
        cell(0x8000, 1, 2, 1, 48);
        cell(0x8000, 1, 3, 1, 48);
        cell(0x8000, 1, 0, 2, 48);
        // Vertical and horizontal lines, a thick dashed rectangle.
        cell(0, 0x11, 1, 2);
        cell(0, 0x21, 2, 2);
        cell(0, 1, 3, 2);
        // Texts: plain, framed, 3D edges both ways, gradient background.
        cell(1, 0x0801, 0, 3);
        cell(1, 0x0805, 1, 3);
        cell(1, 0x0841, 2, 3);
        cell(0x8001, 0x08C1, 3, 3, 48);
        build(objs, 0xC618);
        const COLOR pens[] = {kRed, kBlue, kBlack, kGreen, 0x7800, kBlack};
        for (int k = 0; k < 6; ++k) {
            const Rec &r = recs[size_t(k)];
            r.u16(shape::kFill, k >= 2 ? kYellow : kColorNone);
            r.u16(shape::kPen, pens[k]);
            r.u8(shape::kPenStyle, 1);
            r.u8(shape::kPenWidth, uint8_t(k == 1 ? 3 : 2));
            r.u8(shape::kKind, uint8_t(k));
            r.u8(shape::kInsets, 5);
            r.u8(shape::kInsets + 1, 10);
        }
        for (int k = 0; k < 3; ++k) {
            const Rec &r = recs[size_t(6 + k)];
            r.u16(shape::kFill, 32);
            r.gradient(32, int16_t(k + 1), 4, 4, kBlue, kYellow);
            r.u16(shape::kPen, kBlack);
            r.u8(shape::kPenStyle, 1);
            r.u8(shape::kPenWidth, 1);
            r.u8(shape::kKind, uint8_t(k + 2));
        }
        for (int k = 0; k < 2; ++k) {
            const Rec &r = recs[size_t(9 + k)];
            r.u16(shape::kFill, kColorNone);
            r.u16(shape::kPen, kRed);
            r.u8(shape::kPenStyle, 1);
            r.u8(shape::kPenWidth, 3);
            r.u8(shape::kKind, 0);
        }
        recs[11].u16(shape::kFill, kColorNone);
        recs[11].u16(shape::kPen, kBlue);
        recs[11].u8(shape::kPenStyle, 3);
        recs[11].u8(shape::kPenWidth, 4);
        recs[11].u8(shape::kKind, 2);
        const char *texts[] = {"Plain text\nleft, top", "Framed\ncentred", "3D edge\nright",
                               "Gradient\nsunken"};
        const uint8_t aligns[] = {0x11, 0x24, 0x22, 0x04};
        for (int k = 0; k < 4; ++k) {
            const Rec &r = recs[size_t(12 + k)];
            r.u16(text::kFill, k == 0 ? kColorNone : 0xFFFF - 0x0841 * uint16_t(k));
            r.u16(text::kColour, k == 1 ? kRed : kBlack);
            r.u32(text::kText, text(texts[k]));
            r.u8(text::kAlign, aligns[k]);
            r.u8(text::kFont, uint8_t(k));
        }
        recs[15].u16(text::kFill, 32);
        recs[15].gradient(32, 2, 0, 0, kGreen, 0xFFDF);
    }
};

TEST_F(GalleryTest, PageOfTextsAndShapes800) {
    make();
    open();
    pass();
    VID_Update();
    EXPECT_EQ(screen_snapshot_diff("tests/objects/snapshots/text_shape_800.png"), "");
}

class SmallGalleryTest : public GalleryTest {
    std::string screen() const override { return "480x272"; }
};

TEST_F(SmallGalleryTest, PageOfTextsAndShapes480) {
    make();
    open();
    pass();
    VID_Update();
    EXPECT_EQ(screen_snapshot_diff("tests/objects/snapshots/text_shape_480.png"), "");
}

} // namespace
