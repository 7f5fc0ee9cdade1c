// The touch calibration screen as the screen loop runs it (%SR3 = 21), with
// the real touch driver behind it: the corner, the two crosshairs with the
// marker's walk on the virtual clock, and "Yes" or "No".
#include "base/le.h"
#include "host/clock.h"
#include "host/ctl.h"
#include "host/root.h"
#include "platform/keys.h"
#include "png_snapshot.h"
#include "regs/plc_reg.h"
#include "screen_program.h"
#include "screens/calib.h"
#include "screens/screens.h"
#include "system/pgm.h"
#include "system/touch.h"
#include "video_fixture.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

class CalibTest : public VideoTest {
protected:
    void open(const std::string &screen = "480x272") {
        start(false, screen);
        pDC = GDI_CreateDC(0, 0);
        Touch_CtlRegister();
        ASSERT_EQ(KEY_Init(), 1);
        std::string error;
        ASSERT_TRUE(load_screen_program(R"({"pages": [{"screen": 1}]})", &error)) << error;
        PGM_Create(1);
        pass();
        sr_put(3, 21);
        pass();
        pass(); // the first update asks for the focus
        ASSERT_EQ(CALTCH_View().step, 4);
    }
    void pass() {
        TimerISR();
        PGM_TheLoop(0);
    }
    // Passes over `ms` of the virtual clock, one every 10 ms.
    void run_ms(int ms) {
        for (int t = 0; t < ms; t += 10) {
            host::clock_advance_ms(10);
            pass();
        }
    }
    // A touch through the control socket (screen point or raw readings).
    void touch(const std::string &args) {
        std::string reply = host::ctl_handle("touch " + args);
        ASSERT_EQ(reply.rfind("ok", 0), 0u) << reply;
        pass();
        pass();
    }
    // A touch event pair straight into the ring, at the screen point given.
    void tap(int x, int y) {
        KEY_Press(kTouchDown, x, y);
        KEY_Press(kTouchUp, x, y);
        pass();
        pass();
    }
    void stored(const std::vector<int32_t> &v) {
        std::string rec(24, '\0');
        for (size_t i = 0; i < 6; ++i)
            put_le32(rec.data() + 4 * i, uint32_t(v[i]));
        write_file("/mnt/cfg/cal.dta", rec);
    }
    std::vector<int32_t> file() {
        std::string rec = read_file("/mnt/cfg/cal.dta");
        std::vector<int32_t> v;
        for (size_t i = 0; i + 4 <= rec.size(); i += 4)
            v.push_back(int32_t(le32(rec.data() + i)));
        return v;
    }
    static std::vector<int32_t> driver() {
        return {PrmTbl.xmax, PrmTbl.ymax, PrmTbl.xoff, PrmTbl.yoff, PrmTbl.xscale, PrmTbl.yscale};
    }
    // From the corner to the confirmation, touching each crosshair's centre.
    void to_confirmation() {
        touch("--raw 3900 3900");
        ASSERT_EQ(CALTCH_View().step, 1);
        tap(24, 24);
        run_ms(800);
        tap(240, 251); // Next
        tap(455, 247);
        run_ms(800);
        tap(240, 251);
        ASSERT_EQ(CALTCH_View().step, 3);
    }
    std::string shot(const char *name) {
        VID_Update();
        return screen_snapshot_diff(std::string("tests/screens/snapshots/") + name);
    }
};

// Without calibration data the first touch opens the screen; the corner,
// both crosshairs and "Yes" store the values and close it.
TEST_F(CalibTest, FromNoCalibrationToYes) {
    start(false, "480x272");
    pDC = GDI_CreateDC(0, 0);
    Touch_CtlRegister();
    ASSERT_EQ(KEY_Init(), 1);
    ASSERT_TRUE(load_screen_program(R"({"pages": [{"screen": 1}]})"));
    PGM_Create(1);
    pass();
    touch("100 60");
    EXPECT_EQ(sr_get(3), 21);
    pass();
    EXPECT_EQ(CALTCH_View().step, 4);
    EXPECT_EQ(release_mode, 2) << "the driver reports raw readings";
    EXPECT_EQ(shot("caltch_corner_480x272.png"), "");

    // A corner reading inside the screen is no corner.
    touch("--raw 400 200");
    EXPECT_EQ(CALTCH_View().step, 4);
    EXPECT_EQ(CALTCH_View().x_max, 0);
    to_confirmation();
    EXPECT_EQ(shot("caltch_confirm_480x272.png"), "");
    touch("170 215"); // Yes: (110, 203)-(230, 230)
    EXPECT_EQ(sr_get(3), 0);
    EXPECT_EQ(release_mode, 0);
    EXPECT_EQ(file(), (std::vector<int32_t>{3900, 3900, 0, 0, 480, 272}));
    EXPECT_EQ(driver(), file());
    // The panel takes touches again, through the new calibration.
    pass();
    touch("300 100");
    EXPECT_EQ(sr_get(3), 0);
}

// M = 24 on a 480 x 272 panel: the crosshairs' centres, the Next button, and
// the marker walking onto the crosshair one pixel per 100 ms, each offset at
// most M from its default.
TEST_F(CalibTest, CrosshairsAndTheMarkersWalk) {
    open();
    touch("--raw 3900 3900");
    ASSERT_EQ(CALTCH_View().step, 1);
    EXPECT_EQ(CALTCH_View().next_top, 238);
    EXPECT_EQ(CALTCH_View().next_bottom, 265);
    EXPECT_EQ(shot("caltch_top_left_480x272.png"), "");

    tap(30, 20);
    EXPECT_EQ(CALTCH_View().flags & 0x300, 0x300);
    tap(240, 251); // touches are ignored while the marker shows
    EXPECT_EQ(CALTCH_View().step, 1);
    EXPECT_EQ(shot("caltch_marker_480x272.png"), "");
    run_ms(590);
    EXPECT_EQ(CALTCH_View().marker_x, 30) << "600 ms before the first step";
    run_ms(10);
    EXPECT_EQ(CALTCH_View().marker_x, 29);
    EXPECT_EQ(CALTCH_View().marker_y, 21);
    run_ms(100);
    EXPECT_EQ(CALTCH_View().marker_x, 28);
    run_ms(400); // six steps in all: the target
    CalTchView v = CALTCH_View();
    EXPECT_EQ(v.marker_x, 24);
    EXPECT_EQ(v.marker_y, 24);
    EXPECT_EQ(v.flags & 0x300, 0x200) << "aligned; the marker stays 100 ms more";
    EXPECT_EQ(v.x_offset, 6);
    EXPECT_EQ(v.y_offset, -4);
    EXPECT_EQ(TCH_Ctrl(8, 0), 6) << "handed to the driver";
    EXPECT_EQ(TCH_Ctrl(9, 0), -4);
    run_ms(100);
    EXPECT_EQ(CALTCH_View().flags & 0x300, 0);

    // Far off: the marker walks all the way, the offsets stop at M.
    tap(72, 0);
    run_ms(600 + 100 * 48 + 100);
    v = CALTCH_View();
    EXPECT_EQ(v.flags & 0x300, 0);
    EXPECT_EQ(v.x_offset, 24);
    EXPECT_EQ(v.y_offset, -24);

    tap(240, 251);
    ASSERT_EQ(CALTCH_View().step, 2);
    EXPECT_EQ(shot("caltch_bottom_right_480x272.png"), "");
    tap(460, 240);
    run_ms(600 + 700 + 100);
    v = CALTCH_View();
    EXPECT_EQ(v.x_scale, 480 + 5);
    EXPECT_EQ(v.y_scale, 272 - 7);
    EXPECT_EQ(TCH_Ctrl(10, 0), 485);
    EXPECT_EQ(TCH_Ctrl(11, 0), 265);
}

// A miss in the first crosshair step grows Next by 40 up and down until it
// reaches the screen's top (it grew without end and wrapped); a Next press
// takes back its own growth only.
TEST_F(CalibTest, NextGrowsOnMissesUpToTheTop) {
    struct Case {
        int misses;
        int top, bottom; // of Next in step 2
    };
    const Case cases[] = {{0, 238, 265}, {1, 198, 305}, {5, 38, 465}, {900, 38, 465}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.misses);
        panel_reset_all();
        open();
        touch("--raw 3900 3900");
        for (int i = 0; i < c.misses; ++i) {
            KEY_Press(kTouchDown, 100, 150);
            KEY_Press(kTouchUp, 100, 150);
            pass();
        }
        EXPECT_GE(CALTCH_View().next_top, 0);
        tap(240, 251);
        ASSERT_EQ(CALTCH_View().step, 2);
        EXPECT_EQ(CALTCH_View().next_top, c.top);
        EXPECT_EQ(CALTCH_View().next_bottom, c.bottom);
    }
}

// The corner reading is judged by the panel's screen width.
TEST_F(CalibTest, CornerAcceptanceByPanelWidth) {
    struct Case {
        const char *screen;
        int x, y;
        bool accepted;
    };
    // clang-format off
    const Case cases[] = {
        {"480x272",   3900,  3900,  true},  // 7(W-1) < X < 9(W-1), Y > 13(H-1)
        {"480x272",   4311,  3900,  false},
        {"480x272",   3900,  3523,  false},
        {"480x272",   4800,  2800,  true},  // narrower than 800: beyond 10(W-1), 10(H-1)
        {"480x272",   4790,  2800,  false},
        {"800x480",   6000,  6300,  true},
        {"800x480",   8000,  4800,  false},
        {"1280x800",  10000, 10400, true},
        {"1280x800",  14000, 9000,  false},
        {"1920x1080", 1728,  1080,  true},  // above 1376: X > 9(W-1)/10, Y >= H
        {"1920x1080", 1727,  1080,  false},
        {"1920x1080", 1800,  1079,  false},
    };
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.screen) + " " + std::to_string(c.x) + " " + std::to_string(c.y));
        panel_reset_all();
        open(c.screen);
        touch("--raw " + std::to_string(c.x) + " " + std::to_string(c.y));
        EXPECT_EQ(CALTCH_View().step, c.accepted ? 1 : 4);
        EXPECT_EQ(CALTCH_View().x_max, c.accepted ? c.x : 0);
        EXPECT_EQ(PrmTbl.xmax, c.accepted ? c.x : 1) << "handed to the driver at once";
        EXPECT_EQ(PrmTbl.ymax, c.accepted ? c.y : 1);
    }
}

// "No" puts back every stored value, the raw maxima of the corner included;
// with nothing stored the driver is left without calibration and asks for the
// screen again.
TEST_F(CalibTest, NoPutsBackWhatWasStored) {
    for (bool with_file : {true, false}) {
        SCOPED_TRACE(with_file);
        panel_reset_all();
        std::remove(host::path("/mnt/cfg/cal.dta").c_str());
        const std::vector<int32_t> before{4000, 3800, 10, -5, 490, 280};
        if (with_file) stored(before);
        open();
        to_confirmation();
        EXPECT_NE(driver()[0], before[0]);
        touch("340 215"); // No: (250, 203)-(360, 230)
        EXPECT_EQ(sr_get(3), 0);
        EXPECT_EQ(release_mode, 0);
        if (with_file) {
            EXPECT_EQ(driver(), before);
            EXPECT_EQ(file(), before) << "the file is kept";
        } else {
            EXPECT_EQ(driver(), (std::vector<int32_t>{1, 1, 0, 0, 480, 272}));
            EXPECT_TRUE(file().empty());
            pass();
            touch("300 100");
            EXPECT_EQ(sr_get(3), 21);
        }
    }
}

} // namespace
