// SWTCH objects: the four actions by touch (as events through the touch
// ring) and by trigger register, the dead caption area, access levels, the
// release of a held momentary switch when its page closes, and pictures of
// every face with and without the pixel pipeline.
#include "objects_fixture.h"
#include "png_snapshot.h"
#include "screens/screens.h"

#include <algorithm>

namespace {

using namespace rec;

constexpr uint32_t kShownEnabledLamp = 0x19, kTouch = 0x4000, kCaption = 0x800;
constexpr int kOut = 20, kTrig = 21, kInd = 22;
constexpr COLOR kFace = 0xC618, kOn = 0x07E0, kOff = 0x7800;

// Fills in a switch record: style, output register (one byte), colours.
void swtch(const Rec &r, uint16_t style, int trigger = 0) {
    r.u16(swtch::kFace, kFace);
    r.u16(swtch::kColour, 0x0000);
    r.u16(swtch::kOnColour, kOn);
    r.u16(swtch::kOffColour, kOff);
    r.u16(swtch::kStyle, style);
    r.u16(swtch::kOutput, uint16_t(r_ref(kOut)));
    r.u8(swtch::kOutputSize, 8);
    if (trigger) {
        r.u16(swtch::kTrigger, uint16_t(r_ref(trigger)));
        r.u8(swtch::kTriggerSize, 8);
    }
}

uint8_t out() {
    return *r_ptr(kOut);
}

TEST_F(ObjectsTest, SwitchActionsByTouch) {
    struct Case {
        const char *what;
        uint16_t style;
        uint32_t flags;
        uint8_t before, after_down, after_up;
        int beep; // of the touch down
    } cases[] = {
        {"momentary", 0, kShownEnabledLamp, 0, 1, 0, 3},
        {"set", 1, kShownEnabledLamp, 0, 1, 1, 3},
        {"set, already on", 1, kShownEnabledLamp, 1, 1, 1, 3},
        {"reset", 2, kShownEnabledLamp, 1, 0, 0, 3},
        {"toggle on", 3, kShownEnabledLamp, 0, 1, 1, 3},
        {"toggle off", 3, kShownEnabledLamp, 1, 0, 0, 3},
        {"toggle of 2 writes 0", 3, kShownEnabledLamp, 2, 0, 0, 3},
        {"other actions write the output as it is", 7, kShownEnabledLamp, 5, 5, 5, 3},
        {"disabled", 3, kShownEnabledLamp & ~0x8u, 0, 0, 0, 50},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        build({{6, c.flags | kTouch, 100, 100, 159, 159}});
        swtch(recs[0], uint16_t(16 | c.style));
        *r_ptr(kOut) = c.before;
        open();
        pass();
        beep_count = 0;
        touch(130, 130, true);
        EXPECT_EQ(out(), c.after_down);
        EXPECT_EQ(beep_count, c.beep);
        touch(130, 130, false);
        EXPECT_EQ(out(), c.after_up);
        OBJM_DestroyPage();
    }
}

TEST_F(ObjectsTest, SwitchCaptionIsDead) {
    build({{6, kShownEnabledLamp | kTouch | kCaption, 100, 100, 299, 159}});
    swtch(recs[0], 16 | 3);
    recs[0].u32(swtch::kCaption, text("Pump"));
    recs[0].u8(swtch::kAlign, 36);
    open();
    pass();
    beep_count = 0;
    touch(250, 130, true); // on the caption, right of the key
    touch(250, 130, false);
    EXPECT_EQ(out(), 0);
    EXPECT_EQ(beep_count, 0);
    touch(130, 130, true); // the key takes the left part
    EXPECT_EQ(out(), 1);
}

TEST_F(ObjectsTest, SwitchActionsByTrigger) {
    struct Case {
        const char *what;
        uint16_t action;
        std::vector<uint8_t> trigger, output; // trigger value each pass, output after it
    } cases[] = {
        // Non-zero at the page open: nothing until it has been 0 once.
        {"toggle waits for 0", 3, {1, 1, 0, 1, 1, 2, 0, 3}, {0, 0, 0, 1, 1, 0, 0, 1}},
        // Odd values press, 0 releases, even ones leave it.
        {"momentary follows", 0, {0, 1, 0, 3, 2, 0}, {0, 1, 0, 1, 1, 0}},
        {"set", 1, {0, 1, 0, 1}, {0, 1, 1, 1}},
        {"reset", 2, {0, 1, 0, 1}, {1, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        build({{6, kShownEnabledLamp, 100, 100, 159, 159}});
        swtch(recs[0], uint16_t(16 | c.action), kTrig);
        *r_ptr(kOut) = c.action == 2 ? 1 : 0;
        *r_ptr(kTrig) = c.trigger[0];
        open();
        for (size_t i = 0; i < c.trigger.size(); ++i) {
            SCOPED_TRACE(i);
            *r_ptr(kTrig) = c.trigger[i];
            pass();
            EXPECT_EQ(out(), c.output[i]);
        }
        OBJM_DestroyPage();
    }
}

TEST_F(ObjectsTest, ClosingThePageReleasesAHeldMomentarySwitch) {
    build({{6, kShownEnabledLamp | kTouch, 100, 100, 159, 159}});
    swtch(recs[0], 16);
    open();
    pass();
    touch(130, 130, true);
    ASSERT_EQ(out(), 1);
    OBJM_DestroyPage();
    EXPECT_EQ(out(), 0);
}

TEST_F(ObjectsTest, HidingAMomentarySwitchReleasesIt) {
    build({{6, kShownEnabledLamp | kTouch, 100, 100, 159, 159}});
    swtch(recs[0], 16);
    recs[0].state(0x0009, 5);
    put_le16(r_ptr(5), 0x9);
    open();
    pass();
    touch(130, 130, true);
    ASSERT_EQ(out(), 1);
    put_le16(r_ptr(5), 0x8);
    pass();
    EXPECT_EQ(out(), 0);
}

TEST_F(ObjectsTest, SwitchUnderAccessLevel) {
    // A user table with one level-5 user; the switch needs level 3.
    std::memset(login_tbl, 0, 64);
    put_le32(login_tbl + 4, 4 + 36);
    login_tbl[8] = 1;
    login_tbl[9] = 0x02;
    put_le16(login_tbl + 10, 600);
    put_le16(login_tbl + 12, 2);
    put_le32(login_tbl + 16, 5);
    std::memcpy(login_tbl + 20, "boss", 4);
    std::memcpy(login_tbl + 36, "pw", 2);
    USRMGR_Init();
    build({{0x3006, kShownEnabledLamp | kTouch, 100, 100, 159, 159}});
    swtch(recs[0], 16 | 3);
    open();
    pass();
    beep_count = 0;
    touch(130, 130, true);
    touch(130, 130, false);
    EXPECT_EQ(out(), 0) << "refused";
    EXPECT_EQ(beep_count, 125);
    EXPECT_EQ(objm::g.fDispMesg, 1);
    VID_Update();
    EXPECT_EQ(screen_snapshot_diff("tests/objects/snapshots/switch_denied.png"), "");
    // OK closes the message; the user logs in and the switch acts.
    const RECT ok = objm::g.okRect;
    touch((ok.left + ok.right) / 2, (ok.top + ok.bottom) / 2, true);
    touch((ok.left + ok.right) / 2, (ok.top + ok.bottom) / 2, false);
    ASSERT_EQ(objm::g.fDispMesg, 0);
    ASSERT_EQ(ValidateUser("boss", "pw"), 1);
    touch(130, 130, true);
    EXPECT_EQ(out(), 1);
}

// Every face kind, off and on, with ring, legend by indicator and caption.
class SwitchGallery : public ObjectsTest {
protected:
    void make() {
        std::vector<ObjSpec> objs;
        const uint16_t faces[] = {0, 16, 64, 32, 0x2000};
        for (int row = 0; row < 2; ++row)
            for (int k = 0; k < 5; ++k)
                objs.push_back({6, kShownEnabledLamp | kTouch | kCaption | 0x4, k * 160 + 5,
                                row * 120 + 5, k * 160 + 154, row * 120 + 114});
        // Rings, gradient lamps and side tabs on the lower half.
        for (int k = 0; k < 5; ++k)
            objs.push_back(
                {0x8006, kShownEnabledLamp | kTouch, k * 160 + 5, 250, k * 160 + 154, 350, 96});
        objs.push_back({6, kShownEnabledLamp | kTouch | 0x200, 0, 370, 120, 470});
        objs.push_back({6, 0x11 | kTouch, 680, 370, 799, 470}); // disabled lever
        build(objs, 0x9CF3);
        const uint32_t on = text("ON"), off = text("OFF");
        const char *captions[] = {"Round", "Lamp", "Wide", "Lever", "Key"};
        for (int row = 0; row < 2; ++row)
            for (int k = 0; k < 5; ++k) {
                const Rec &r = recs[size_t(row * 5 + k)];
                swtch(r, uint16_t(faces[k] | 3 | 0x100 | 0x200 | (row ? 0x80 : 0)));
                r.u32(swtch::kCaption, text(captions[k]));
                r.u8(swtch::kAlign, row ? 0x11 : 36);
                r.u8(swtch::kFont, 1);
                r.u8(swtch::kLegendFont, 1);
                r.u32(swtch::kOnLegend, on);
                r.u32(swtch::kOffLegend, off);
                r.u16(swtch::kIndicator, uint16_t(r_ref(kInd)));
            }
        for (int k = 0; k < 5; ++k) {
            const Rec &r = recs[size_t(10 + k)];
            swtch(r, uint16_t(faces[k] | 3 | 0x80));
            r.u16(swtch::kFace, 58);
            r.gradient(58, 2, 0, 0, 0x4208, 0xDEFB);
            r.u16(swtch::kOnColour, 70);
            r.gradient(70, 2, 0, 0, 0x0300, 0x07E0);
            r.u16(swtch::kOffColour, 82);
            r.gradient(82, 2, 0, 0, 0x6000, 0xF800);
        }
        swtch(recs[15], 16 | 3 | 0x100);
        recs[15].u32(swtch::kOnLegend, on);
        recs[15].u32(swtch::kOffLegend, off);
        swtch(recs[16], 32 | 3);
    }
};

TEST_F(SwitchGallery, FacesOffAndOn) {
    make();
    for (int on = 0; on < 2; ++on) {
        SCOPED_TRACE(on);
        *r_ptr(kOut) = uint8_t(on);
        *r_ptr(kInd) = uint8_t(1 - on);
        open();
        pass();
        VID_Update();
        EXPECT_EQ(screen_snapshot_diff(on ? "tests/objects/snapshots/switch_faces_on.png"
                                          : "tests/objects/snapshots/switch_faces_off.png"),
                  "");
        OBJM_DestroyPage();
    }
}

class SwitchGalleryPxp : public SwitchGallery {
    bool pxp() const override { return true; }
};

TEST_F(SwitchGalleryPxp, FacesWithThePixelPipeline) {
    make();
    *r_ptr(kOut) = 1;
    open();
    pass();
    // A change repaints the levers and keys over their kept background.
    *r_ptr(kOut) = 0;
    pass();
    VID_Update();
    EXPECT_EQ(screen_snapshot_diff("tests/objects/snapshots/switch_faces_pxp.png"), "");
}

TEST_F(SwitchGallery, ChangesRepaintOverTheKeptBackground) {
    // Painted on, then switched off by the register: the same picture as
    // painted off from the start.
    make();
    *r_ptr(kOut) = 1;
    *r_ptr(kInd) = 0;
    open();
    pass();
    *r_ptr(kOut) = 0;
    *r_ptr(kInd) = 1;
    pass();
    VID_Update();
    EXPECT_EQ(screen_snapshot_diff("tests/objects/snapshots/switch_faces_off.png"), "");
}

} // namespace
