// NOTE objects: strokes and single dots through the touch ring, the palette
// (not in grey scale), save and delete with the status register, repaints
// that restore the drawing, leaving the pad, and a pad larger than one small
// screen saved and restored whole.
#include "objects_fixture.h"
#include "png_snapshot.h"
#include "system/sys.h"

namespace {

constexpr uint32_t kShownTouch = 0x4001, kFrame = 0x4;
constexpr int kStatus = 40;
constexpr COLOR kPad = 0xFFFF - 0x20, kRed = 0xF820;

class NoteTest : public ObjectsTest {
protected:
    void SetUp() override {
        ObjectsTest::SetUp();
        pMemDC = GDI_CreateDC(0, 1);
        SYS_fGrayScale = 0;
    }
    // One pad at (100, 100) - (r, b), its status register %R40 (one byte).
    void pad(int r = 500, int b = 300, uint32_t flags = kShownTouch | kFrame) {
        build({{15, flags, 100, 100, r, b}}, 0x4208);
        recs[0].u16(rec::note::kBackground, kPad);
        recs[0].u16(rec::note::kFrame, 0x0000);
        recs[0].u16(rec::note::kStatus, uint16_t(r_ref(kStatus)));
        recs[0].u8(rec::note::kStatusSize, 8);
        open();
        pass();
    }
    // A touch event through the ring; moves are touch-down reports.
    void down(int x, int y) { touch(x, y, true); }
    void up(int x, int y) { touch(x, y, false); }
    void stroke(std::initializer_list<std::pair<int, int>> points) {
        for (auto [x, y] : points)
            down(x, y);
        auto last = *(points.end() - 1);
        up(last.first, last.second);
        pass(); // the stroke's end is kept
    }
    uint8_t status() const { return *r_ptr(kStatus); }
    // Buttons of a pad whose right edge is R and bottom B.
    static std::pair<int, int> at(int R, int B, int from) { return {R - from + 10, B - 12}; }
};

TEST_F(NoteTest, StrokesDotsAndLeavingThePad) {
    pad();
    stroke({{150, 150}, {250, 150}, {250, 200}});
    for (int x = 150; x <= 250; x += 10)
        EXPECT_EQ(screen_px(x, 150), 0x0000) << x;
    EXPECT_EQ(screen_px(250, 180), 0x0000);
    EXPECT_EQ(screen_px(200, 180), kPad);
    EXPECT_EQ(objm::g.fSelectFocus, 0) << "the release gives the focus up";
    // A report at the last point draws a single dot.
    stroke({{300, 250}, {300, 250}});
    EXPECT_EQ(screen_px(300, 250), 0x0000);
    EXPECT_EQ(screen_px(301, 250), kPad);
    EXPECT_EQ(screen_px(300, 251), kPad);
    // Leaving the pad while drawing ends the stroke there.
    down(400, 150);
    down(420, 150);
    ASSERT_EQ(objm::g.fSelectFocus, 1);
    down(600, 150);
    EXPECT_EQ(objm::g.fSelectFocus, 0);
    down(460, 150); // no longer drawing: a new stroke would start here
    EXPECT_EQ(screen_px(440, 150), kPad);
    EXPECT_EQ(screen_px(410, 150), 0x0000);
}

TEST_F(NoteTest, PaletteAndGreyScale) {
    struct Case {
        uint8_t grey;
        COLOR stroke;
    } cases[] = {{0, kRed}, {1, 0x0000}};
    for (const Case &c : cases) {
        SCOPED_TRACE(int(c.grey));
        SYS_fGrayScale = c.grey;
        pad();
        const auto red = at(500, 300, 168);
        down(red.first, red.second);
        up(red.first, red.second);
        stroke({{150, 150}, {200, 150}});
        EXPECT_EQ(screen_px(175, 150), c.stroke);
        // The palette's red button, drawn pressed when it is the pen.
        if (!c.grey) {
            EXPECT_EQ(screen_snapshot_diff("tests/objects/snapshots/note_red.png"), "");
        }
        EXPECT_EQ(screen_px(red.first + 5, red.second), c.grey ? kPad : kRed);
        OBJM_DestroyPage();
    }
}

TEST_F(NoteTest, SaveDeleteAndRepaints) {
    pad();
    stroke({{150, 150}, {250, 150}});
    // A repaint of the page restores the drawing from the page's memory.
    GDI_SetFillColor(dc, 0x07E0);
    GDI_Rectangle(dc, 0, 0, 800, 480);
    objm::PaintPage(dc);
    EXPECT_EQ(screen_px(200, 150), 0x0000);
    // Save: the status register says a drawing is kept; a new page open shows it.
    const auto save = at(500, 300, 55), del = at(500, 300, 110);
    down(save.first, save.second);
    up(save.first, save.second);
    EXPECT_EQ(status(), 1);
    OBJM_DestroyPage();
    open();
    pass();
    EXPECT_EQ(screen_px(200, 150), 0x0000);
    // Delete erases the pad, drops the copy and clears the status.
    down(del.first, del.second);
    up(del.first, del.second);
    pass();
    EXPECT_EQ(status(), 0);
    EXPECT_EQ(screen_px(200, 150), kPad);
    objm::PaintPage(dc);
    EXPECT_EQ(screen_px(200, 150), kPad) << "a repaint no longer restores it";
    OBJM_DestroyPage();
    open();
    pass();
    EXPECT_EQ(screen_px(200, 150), kPad);
}

// A pad of more pixels than one 480 x 272 screen is saved and put back whole.
TEST_F(NoteTest, PadLargerThanASmallScreen) {
    pad(799, 479);
    stroke({{780, 440}, {790, 440}});
    const auto save = at(799, 479, 55);
    down(save.first, save.second);
    up(save.first, save.second);
    OBJM_DestroyPage();
    open();
    pass();
    EXPECT_EQ(screen_px(785, 440), 0x0000);
}

} // namespace
