// PAGE objects: the trigger register's edges, the target from the record or
// a register, the user-screen rule, going back through the history, and
// pictures of the faces, icons and the flash phase.
#include "objects_fixture.h"
#include "png_snapshot.h"
#include "regs/sr.h"
#include "screens/screens.h"
#include "system/pgm.h"

namespace {

using namespace rec;

constexpr uint32_t kShownEnabled = 0x9, kTouch = 0x4000, kCaption = 0x800, kIcon = 0x10,
                   kIconKind = 0x2000, kFrame = 0x4, kRounded = 0x10000, kFlash = 0x2;
constexpr int kTrig = 30, kTargetReg = 31;

void button(const Rec &r, uint16_t target, int trigger = 0) {
    r.u16(page::kFace, 0xC618);
    r.u16(page::kColour, 0x0000);
    r.u16(page::kTarget, target);
    r.u8(page::kTargetSize, 16);
    if (trigger) {
        r.u16(page::kTrigger, uint16_t(r_ref(trigger)));
        r.u8(page::kTriggerSize, 8);
    }
}

class PageTest : public ObjectsTest {
protected:
    void SetUp() override {
        ObjectsTest::SetUp();
        PAGE_mode = 1;
        sr_put(sr::kUserScreen, 1);
    }
    static uint16_t user_screen() { return sr_get(sr::kUserScreen); }
};

TEST_F(PageTest, TriggerSwitchesOnNewNonZeroValues) {
    struct Case {
        const char *what;
        std::vector<uint8_t> trigger; // value at the open, then one per pass
        int switches;
    } cases[] = {
        {"1 at the open does not switch", {1, 1, 1}, 0},
        {"2 at the open switches once", {2, 2, 2}, 1},
        {"5 to 0 does not switch", {5, 5, 0, 0}, 1},
        {"0 to 5 switches once", {0, 0, 5, 5}, 1},
        {"each new value switches", {0, 3, 4, 0, 4}, 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        build({{5, kShownEnabled, 10, 10, 109, 59}});
        button(recs[0], 7, kTrig);
        *r_ptr(kTrig) = c.trigger[0];
        open();
        int switches = 0;
        for (uint8_t v : c.trigger) {
            *r_ptr(kTrig) = v;
            pass();
            if (user_screen() == 7) ++switches;
            sr_put(sr::kUserScreen, 1);
        }
        EXPECT_EQ(switches, c.switches);
        OBJM_DestroyPage();
    }
}

TEST_F(PageTest, TargetFromTheRecordOrARegister) {
    put_le16(r_ptr(kTargetReg), 12);
    struct Case {
        const char *what;
        uint32_t flags;
        uint16_t target;
        uint16_t shown;
    } cases[] = {
        {"a screen number", 0, 7, 7},
        {"a register by flag", 0x20, uint16_t(r_ref(kTargetReg)), 12},
        {"from 1024 up always a register", 0, uint16_t(r_ref(kTargetReg)), 12},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(c.target < 1024 || r_ref(kTargetReg) >= 1024);
        build({{5, kShownEnabled | kTouch | c.flags, 10, 10, 109, 59}});
        button(recs[0], c.target);
        open();
        pass();
        beep_count = 0;
        touch(50, 30, true);
        EXPECT_EQ(user_screen(), c.shown);
        EXPECT_EQ(beep_count, 3);
        touch(50, 30, false);
        sr_put(sr::kUserScreen, 1);
        OBJM_DestroyPage();
    }
}

TEST_F(PageTest, TouchActsOnlyOnAnEnabledButtonOverAUserScreen) {
    struct Case {
        const char *what;
        uint16_t page_mode;
        uint32_t flags;
        uint16_t shown;
        int beep;
    } cases[] = {
        {"user screen", 1, kShownEnabled, 7, 3},
        {"forced (alarm) screen", 2, kShownEnabled, 1, 50},
        {"system screen", 0, kShownEnabled, 1, 50},
        {"disabled", 1, kShownEnabled & ~0x8u, 1, 50},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        build({{5, c.flags | kTouch, 10, 10, 109, 59}});
        button(recs[0], 7);
        open();
        pass();
        PAGE_mode = c.page_mode;
        beep_count = 0;
        touch(50, 30, true);
        touch(50, 30, false);
        EXPECT_EQ(user_screen(), c.shown);
        EXPECT_EQ(beep_count, c.beep);
        PAGE_mode = 1;
        sr_put(sr::kUserScreen, 1);
        OBJM_DestroyPage();
    }
}

TEST_F(PageTest, BackThroughTheHistory) {
    // Screen 1 remembers itself when going to 4; on 4 the back button
    // returns to 1, and with an empty history to the fault-page recovery.
    build({{5, kShownEnabled | kTouch | 0x40, 10, 10, 109, 59},
           {5, kShownEnabled | kTouch | 0x80, 200, 10, 299, 59}});
    button(recs[0], 4);
    button(recs[1], 0);
    open();
    pass();
    touch(50, 30, true);
    touch(50, 30, false);
    ASSERT_EQ(user_screen(), 4);
    EXPECT_EQ(objm::g.pushCount, 1);
    touch(250, 30, true);
    touch(250, 30, false);
    EXPECT_EQ(user_screen(), 1);
    EXPECT_EQ(objm::g.pushCount, 0);
}

// Faces: plain, framed, gradient, 3D rounded (plain and gradient), side
// tabs on both edges, a disabled one, the page pictogram (plain and over a
// gradient), the twelve icons and a caption beside an icon.
TEST_F(PageTest, FacesIconsAndTheFlashPhase) {
    std::vector<ObjSpec> objs;
    for (int k = 0; k < 12; ++k) // the twelve icons, kinds 1-12
        objs.push_back({5, kShownEnabled | kIcon | kIconKind | kFrame, 8 + k * 66, 8,
                        8 + k * 66 + 59, 67, 45});
    objs.push_back({5, kShownEnabled | kFrame | kCaption, 8, 90, 157, 149});
    objs.push_back({0x8005, kShownEnabled | kFrame | kCaption, 168, 90, 317, 149, 52});
    objs.push_back({5, kShownEnabled | kRounded | kFrame | kCaption, 328, 90, 477, 149});
    objs.push_back({0x8005, kShownEnabled | kRounded | kCaption | kIcon, 488, 90, 637, 149, 52});
    objs.push_back({5, (kShownEnabled & ~0x8u) | kFrame | kCaption, 648, 90, 791, 149});
    objs.push_back({5, kShownEnabled | kIcon | kCaption | kFrame, 8, 170, 197, 249});
    objs.push_back({0x8005, kShownEnabled | kIcon | kFrame, 208, 170, 287, 249, 52});
    objs.push_back({5, kShownEnabled | 0x200 | kCaption, 0, 270, 149, 309});
    objs.push_back({5, kShownEnabled | 0x200 | kCaption, 650, 270, 799, 309});
    objs.push_back({5, kShownEnabled | kFlash | kFrame | kCaption | kIcon, 300, 170, 449, 249});
    objs.push_back({5, kShownEnabled | kRounded | kFlash | kCaption, 460, 170, 609, 249});
    build(objs, 0x9CF3);
    for (int k = 0; k < 12; ++k) {
        button(recs[size_t(k)], 2);
        recs[size_t(k)].u8(page::kLength + page::kIconKind, uint8_t(k + 1));
    }
    const char *captions[] = {"Plain", "Gradient", "Rounded", "Key",   "Disabled", "Pages",
                              "",      "Left",     "Right",   "Flash", "Flash key"};
    for (size_t i = 12; i < recs.size(); ++i) {
        button(recs[i], 2);
        recs[i].u32(page::kCaption, text(captions[i - 12]));
        recs[i].u8(page::kAlign, 36);
        recs[i].u8(page::kFont, 1);
    }
    for (size_t i : {13u, 15u, 18u}) {
        recs[i].u16(page::kFace, 40);
        recs[i].gradient(40, 2, 0, 0, 0x0010, 0x7DFF);
    }
    recs[12].u16(page::kColour, 0xF800);
    for (int phase = 0; phase < 2; ++phase) {
        SCOPED_TRACE(phase);
        sysFlash = uint8_t(phase);
        open();
        pass();
        VID_Update();
        EXPECT_EQ(screen_snapshot_diff(phase ? "tests/objects/snapshots/page_faces_flash.png"
                                             : "tests/objects/snapshots/page_faces.png"),
                  "");
        OBJM_DestroyPage();
    }
}

} // namespace
