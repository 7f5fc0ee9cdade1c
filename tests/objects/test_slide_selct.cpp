// SLIDE and SELCT objects: drags through the touch ring (single-pixel steps
// damped, leaving the track, values within the bounds), step arrows with
// their auto-repeat on the virtual clock, register polling; selector
// triggers, touches, stepping buttons, captions, and records with no
// positions or labels past their end; pictures of both.
#include "objects_fixture.h"
#include "png_snapshot.h"
#include "system/sys.h"

namespace {

using namespace rec;

constexpr int kValue = 70, kTrigger = 71;
constexpr COLOR kPage = 0x9CF3;
constexpr uint32_t kVisible = 0x1, kEnabled = 0x8, kDraggable = 0x20, kArrows = 0x40,
                   kTouch = 0x4000;

int16_t value() {
    return int16_t(le16(r_ptr(kValue)));
}

void slider(const Rec &r, int16_t min, int16_t max) {
    r.u16(slide::kBackground, 0xFFDF);
    r.u16(slide::kColour, 0x0000);
    r.u16(slide::kThumb, 0x041F);
    r.u16(slide::kValue, uint16_t(r_ref(kValue)));
    r.u8(slide::kValueSize, 16);
    r.u32(slide::kMin, uint32_t(int32_t(min)));
    r.u32(slide::kMax, uint32_t(int32_t(max)));
}

class SlideTest : public ObjectsTest {
protected:
    void SetUp() override {
        ObjectsTest::SetUp();
        sysTic = 1000;
    }
    // A touch report, then a pass after the poll interval.
    void at(int x, int y, bool down = true) {
        KEY_Press(down ? kTouchDown : kTouchUp, x, y);
        pass();
        sysTic = uint16_t(sysTic + 15);
        pass();
    }
};

// A 32 x 232 slider area (4 in from the rectangle): thumb 31, track 201,
// so that bounds 0 .. 201 give one value a pixel. The thumb at 0 spans
// rows 305-335 of a vertical slider, columns 104-134 of a horizontal one.
TEST_F(SlideTest, DragsThroughTheTouchRing) {
    struct Case {
        const char *what;
        bool vertical;
        std::vector<int> moves; // along the slider, from the press at 320 (or 120)
        std::vector<int16_t> values;
    } cases[] = {
        {"vertical: the third single step moves",
         true,
         {319, 318, 317, 316, 315, 314, 310},
         {0, 0, 1, 1, 1, 2, 6}},
        {"vertical: a turn starts the count again",
         true,
         {319, 318, 319, 318, 317, 316},
         {0, 0, 0, 0, 0, 1}},
        {"horizontal: the fourth single step moves",
         false,
         {121, 122, 123, 124, 125, 130},
         {0, 0, 0, 1, 1, 6}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.vertical)
            build({{14, kVisible | kEnabled | kDraggable | kTouch, 100, 100, 139, 339}}, kPage);
        else
            build({{14, kVisible | kEnabled | kDraggable | kTouch, 100, 100, 339, 139}}, kPage);
        slider(recs[0], 0, 201);
        put_le16(r_ptr(kValue), 0);
        open();
        pass();
        at(120, c.vertical ? 320 : 120);
        for (size_t i = 0; i < c.moves.size(); ++i) {
            if (c.vertical)
                at(120, c.moves[i]);
            else
                at(c.moves[i], 120);
            EXPECT_EQ(value(), c.values[i]) << "move " << i;
        }
        at(120, 120, false);
        OBJM_DestroyPage();
    }
}

TEST_F(SlideTest, LeavingTheTrackEndsTheDrag) {
    build({{14, kVisible | kEnabled | kDraggable | kTouch, 100, 100, 139, 339}}, kPage);
    slider(recs[0], 0, 201);
    put_le16(r_ptr(kValue), 0);
    open();
    pass();
    at(120, 320);
    at(120, 300);
    EXPECT_EQ(value(), 20);
    at(150, 290); // beside the track: the drag ends
    EXPECT_EQ(value(), 20);
    at(120, 250); // in the track but off the thumb: nothing
    at(120, 240);
    EXPECT_EQ(value(), 20);
    // A new press on the thumb (now at rows 285-315) drags again.
    at(120, 300);
    at(120, 290);
    EXPECT_EQ(value(), 30);
}

TEST_F(SlideTest, DraggedValuesStayWithinTheBounds) {
    build({{14, kVisible | kEnabled | kDraggable | kTouch, 100, 100, 139, 339}}, kPage);
    slider(recs[0], -50, 50);
    put_le16(r_ptr(kValue), uint16_t(-50));
    open();
    pass();
    at(120, 320);
    at(120, 104); // the track's top, past the thumb's reach
    EXPECT_EQ(value(), 50);
    // The point past the end was not taken: the thumb follows from where
    // the finger reached the end.
    at(120, 335);
    EXPECT_EQ(value(), 43);
    at(120, 104);
    EXPECT_EQ(value(), 50);
    at(120, 104, false);
    at(120, 120); // the thumb at the top
    at(120, 335);
    EXPECT_EQ(value(), -50);
    at(120, 320);
    EXPECT_EQ(value(), -50);
}

TEST_F(SlideTest, ArrowsRepeatAfterASecondThenEvery100ms) {
    // Arrows of 31 at each end: the increasing one at the top.
    build({{14, kVisible | kEnabled | kArrows | kTouch, 100, 100, 139, 339}}, kPage);
    slider(recs[0], 0, 5);
    put_le16(r_ptr(kValue), 0);
    open();
    pass();
    KEY_Press(kTouchDown, 120, 110);
    pass();
    EXPECT_EQ(value(), 1); // at once
    struct Step {
        int ticks;
        int16_t value;
    } steps[] = {{99, 1}, {1, 2}, {9, 2}, {1, 3}, {10, 4}, {10, 5}, {10, 5}, {50, 5}};
    for (const Step &s : steps) {
        sysTic = uint16_t(sysTic + s.ticks);
        pass();
        EXPECT_EQ(value(), s.value) << "after " << s.ticks;
    }
    KEY_Press(kTouchUp, 120, 110);
    pass();
    // The decreasing arrow, at the bottom.
    KEY_Press(kTouchDown, 120, 330);
    pass();
    EXPECT_EQ(value(), 4);
    sysTic = uint16_t(sysTic + 100);
    pass();
    EXPECT_EQ(value(), 3);
    KEY_Press(kTouchUp, 120, 330);
    pass();
    sysTic = uint16_t(sysTic + 200);
    pass();
    EXPECT_EQ(value(), 3); // released
}

TEST_F(SlideTest, TheRegisterIsPolledEvery15TicksUnlessForced) {
    build({{14, kVisible | kEnabled | kDraggable | kTouch, 100, 100, 139, 339}}, kPage);
    slider(recs[0], 0, 201);
    put_le16(r_ptr(kValue), 0);
    open();
    pass();
    sysTic = uint16_t(sysTic + 15);
    EXPECT_EQ(update(0), 0);
    put_le16(r_ptr(kValue), 100);
    sysTic = uint16_t(sysTic + 14);
    EXPECT_EQ(update(0), 0);
    sysTic = uint16_t(sysTic + 1);
    EXPECT_EQ(update(0), 0x20);
    put_le16(r_ptr(kValue), 50);
    EXPECT_EQ(update(0, 1), 0x20);
}

TEST_F(SlideTest, SlidersOfEveryKind) {
    // Vertical and horizontal, with labels, marks, arrows, a caption; one
    // disabled, one dragged (the thumb in its contrasting shade).
    build({{14, kVisible | kEnabled | kDraggable | kTouch | 0x10 | 0x4, 20, 20, 99, 300},
           {14, kVisible | kEnabled | kDraggable | kArrows | kTouch | 0x800, 120, 20, 179, 300},
           {14, kVisible | kDraggable | kArrows | kTouch, 200, 20, 239, 300},
           {14, kVisible | kEnabled | kDraggable | kTouch | 0x10 | 0x800, 260, 20, 700, 100},
           {14, kVisible | kEnabled | kArrows | kTouch, 260, 140, 700, 180},
           {14, kVisible | kEnabled | kDraggable | kTouch, 260, 220, 700, 260},
           {14, kVisible | kEnabled | kArrows | kTouch, 20, 320, 40, 330}},
          kPage);
    for (const Rec &r : recs) {
        slider(r, -100, 100);
        r.u8(slide::kLabelFont, 1);
        r.u8(slide::kFont, 1);
        r.u32(slide::kCaption, text("Speed"));
    }
    recs[0].u8(slide::kMarks, 5);
    recs[3].u8(slide::kMarks, 11);
    recs[3].u8(slide::kAlign, 0x14);
    put_le16(r_ptr(kValue), 40);
    open();
    pass();
    // Drag the last full-size slider a little.
    KEY_Press(kTouchDown, 560, 240);
    pass();
    VID_Update();
    EXPECT_EQ(screen_snapshot_diff("tests/objects/snapshots/slide_kinds.png"), "");
}

// ---------------------------------------------------------------------------
// SELCT

void selector(const Rec &r, int n, bool row = false) {
    r.u16(selct::kBackground, 0xFFDF);
    r.u16(selct::kColour, 0x0000);
    r.u8(selct::kPositions, uint8_t(n));
    r.u16(selct::kSelected, 0x07E0);
    r.u16(selct::kOthers, 0xC618);
    r.u16(selct::kTrigger, uint16_t(r_ref(kTrigger)));
    r.u8(selct::kTriggerSize, 8);
    r.u16(selct::kValue, uint16_t(r_ref(kValue)));
    r.u8(selct::kValueSize, 16);
    r.u8(selct::kOrientation, row ? 1 : 0);
    r.u8(selct::kLabelFont, 1);
}

TEST_F(ObjectsTest, SelectorTriggers) {
    struct Step {
        uint8_t trigger;
        uint16_t value;
    };
    struct Case {
        const char *what;
        int n, steps;
        uint16_t start;
        std::vector<Step> steps_;
    } cases[] = {
        {"positions",
         4,
         0,
         2,
         {{0x01, 2}, {0x03, 1}, {0x0C, 2}, {0x08, 2}, {0x09, 0}, {0xF9, 0}, {0x00, 0}, {0x10, 0}}},
        {"eight positions", 8, 0, 0, {{0x00, 0}, {0x80, 7}, {0xC0, 6}}},
        {"a stepping button",
         1,
         3,
         0,
         {{0x00, 0}, {0x01, 1}, {0x00, 1}, {0x01, 2}, {0x01, 2}, {0x00, 2}, {0x01, 0}}},
        {"a stepping button with no steps", 1, 0, 0, {{0x00, 0}, {0x01, 0}, {0x00, 0}, {0x01, 0}}},
        {"no positions", 0, 0, 5, {{0x00, 5}, {0xFF, 5}, {0x00, 5}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        build({{11, kVisible | kEnabled, 100, 100, 199, 299}});
        selector(recs[0], c.n);
        recs[0].u8(selct::kSteps, uint8_t(c.steps));
        put_le16(r_ptr(kValue), c.start);
        plc_reg[reg::kR + 2 * (kTrigger - 1)] = c.steps_[0].trigger;
        open();
        pass();
        for (size_t i = 0; i < c.steps_.size(); ++i) {
            plc_reg[reg::kR + 2 * (kTrigger - 1)] = c.steps_[i].trigger;
            pass();
            EXPECT_EQ(le16(r_ptr(kValue)), c.steps_[i].value) << "step " << i;
        }
        OBJM_DestroyPage();
    }
}

TEST_F(ObjectsTest, SelectorTouches) {
    // A column of 4 positions of 41 rows from row 111, 4 apart.
    build({{11, kVisible | kEnabled | kTouch, 100, 100, 199, 299}});
    selector(recs[0], 4);
    put_le16(r_ptr(kValue), 1);
    open();
    pass();
    auto down = [&](int x, int y) {
        return cb(0).Signal(cb(0).def, cb(0).inst, objmsg::kTouchDown,
                            uint32_t(x) << 16 | uint32_t(y));
    };
    // A value above the highest index selects the last position and is not
    // rewritten.
    put_le16(r_ptr(kValue), 9);
    pass();
    EXPECT_EQ(le16(r_ptr(kValue)), 9);
    EXPECT_EQ(down(150, 260), 0); // the selected position: nothing written
    EXPECT_EQ(le16(r_ptr(kValue)), 9);
    EXPECT_EQ(down(150, 154), 0); // between positions
    EXPECT_EQ(down(150, 170), 0x20);
    EXPECT_EQ(le16(r_ptr(kValue)), 1);
    EXPECT_EQ(down(150, 115), 0x20);
    EXPECT_EQ(le16(r_ptr(kValue)), 0);
    // Through the touch ring.
    touch(150, 220, true);
    touch(150, 220, false);
    EXPECT_EQ(le16(r_ptr(kValue)), 2);
}

TEST_F(ObjectsTest, SelectorRecordsWithoutPositionsOrLabels) {
    // No positions; three positions whose labels past the first lie beyond
    // the record; a stepping button with no steps.
    build({{11, kVisible | kEnabled | kTouch, 100, 100, 199, 299},
           {11, kVisible | kEnabled | kTouch, 300, 100, 399, 299},
           {11, kVisible | kEnabled | kTouch, 500, 100, 599, 149}});
    selector(recs[0], 0);
    selector(recs[1], 3);
    recs[1].u32(selct::kLabels, text("One"));
    selector(recs[2], 1);
    put_le16(r_ptr(kValue), 0);
    open();
    pass();
    VID_Update();
    touch(150, 200, true);
    touch(150, 200, false);
    EXPECT_EQ(le16(r_ptr(kValue)), 0);
    touch(550, 125, true);
    touch(550, 125, false);
    EXPECT_EQ(le16(r_ptr(kValue)), 0);
    touch(350, 250, true);
    touch(350, 250, false);
    EXPECT_EQ(le16(r_ptr(kValue)), 2);
}

TEST_F(ObjectsTest, SelectorCaptionsAndLooks) {
    // Top row: captions aligned 36 (not drawn) and none, which must look the
    // same, and one at the top. Below: a row, a flashing column, a stepping
    // button raised and pressed, a disabled column.
    build({{11, kVisible | kEnabled | kTouch | 0x800, 20, 20, 119, 219, 64},
           {11, kVisible | kEnabled | kTouch, 140, 20, 239, 219, 64},
           {11, kVisible | kEnabled | kTouch | 0x800 | 0x4, 260, 20, 359, 219, 64},
           {11, kVisible | kEnabled | kTouch, 380, 20, 699, 79, 64},
           {11, kVisible | kEnabled | kTouch | 0x2, 380, 100, 479, 219, 64},
           {11, kVisible | kEnabled | kTouch, 500, 100, 599, 149, 64},
           {11, kVisible | kEnabled | kTouch, 620, 100, 719, 149, 64},
           {11, kVisible | kTouch | 0x200, 20, 260, 119, 459, 64}},
          kPage);
    const uint32_t labels[] = {text("Off"), text("Low"), text("High"), text("Max")};
    for (size_t i = 0; i < recs.size(); ++i) {
        const bool stepping = i == 5 || i == 6;
        selector(recs[i], stepping ? 1 : 4, i == 3);
        recs[i].u8(selct::kSteps, 4);
        recs[i].u32(selct::kCaption, text("Fan"));
        recs[i].u8(selct::kFont, 1);
        recs[i].u8(selct::kAlign, i == 2 ? 0x14 : 36);
        for (int k = 0; k < 4; ++k)
            recs[i].u32(selct::kLabels + 4 * size_t(k), labels[k]);
    }
    put_le16(r_ptr(kValue), 2);
    sysFlash = 1;
    open();
    pass();
    touch(650, 125, true); // the second stepping button held down
    VID_Update();
    int differ = 0;
    for (int y = 20; y <= 219; ++y)
        for (int x = 20; x <= 119; ++x)
            differ += screen_px(x, y) != screen_px(x + 120, y);
    EXPECT_EQ(differ, 0);
    EXPECT_EQ(screen_snapshot_diff("tests/objects/snapshots/selct_looks.png"), "");
    touch(650, 125, false);
    sysFlash = 0;
}

} // namespace
