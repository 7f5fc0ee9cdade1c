// Touch samples through the device FIFO, the screen saver, the beeper and
// the power supervisor's figures, on the virtual clock.
#include "base/le.h"
#include "base/trace.h"
#include "host/clock.h"
#include "host/config.h"
#include "host/root.h"
#include "host/touchdev.h"
#include "objects/objects.h"
#include "panel_fixture.h"
#include "regs/plc_reg.h"
#include "system/touch.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {
struct Ev {
    int code, x, y;
    bool operator==(const Ev &o) const { return code == o.code && x == o.x && y == o.y; }
};
std::vector<Ev> g_ev;
void record(int code, int x, int y) {
    g_ev.push_back({code, x, y});
}
} // namespace

class TouchTest : public PanelTest {
protected:
    int W = 0, H = 0;
    void SetUp() override {
        PanelTest::SetUp();
        g_ev.clear();
        W = host::screen_width();
        H = host::screen_height();
    }
    // Kernel build number as the revision text in %SR201 holds it.
    void kernel(int build) {
        char text[32];
        std::snprintf(text, sizeof text, "2.6.%02d_%02d", build / 100, build % 100);
        std::memcpy(plc_reg + sr_offset(201), text, 10);
    }
    void calibration(int32_t xmax, int32_t ymax) {
        std::string rec(24, '\0');
        int32_t v[6] = {xmax, ymax, 0, 0, W, H};
        for (int i = 0; i < 6; ++i)
            put_le32(rec.data() + 4 * i, uint32_t(v[i]));
        write_file("/mnt/cfg/cal.dta", rec);
    }
    void open(int build = 3549) {
        kernel(build);
        ASSERT_EQ(TCH_Open(record), 1);
        tick();
    }
    void send(const std::vector<host::TouchEvent> &ev) {
        ASSERT_TRUE(host::touch_write(kTouchDevice, ev.data(), int(ev.size())));
        tick();
    }
    // A sample of the pressure-measuring path, and of the older one.
    void sample(int x, int y, int pressure = 100) {
        send({{3, 0, x}, {3, 1, y}, {3, 24, pressure}});
    }
    void old_sample(int x, int y) { send({{3, 0, y}, {3, 1, x}}); }
    void release() { send({{3, 24, 0}}); }
    void tick(int ms = 1) {
        for (int i = 0; i < ms; ++i) {
            host::clock_advance_ms(1);
            TimerISR();
        }
    }
    std::string file(const char *board) { return read_file(board); }
};

TEST_F(TouchTest, AxesFollowTheKernelRevision) {
    calibration(W, H); // screen x = raw x, screen y = H - raw y
    for (int build : {3549, 3543}) {
        SCOPED_TRACE(build);
        g_ev.clear();
        open(build);
        for (int i = 0; i < 2; ++i) {
            if (build >= 3549)
                sample(300, 200);
            else
                old_sample(300, 200);
        }
        EXPECT_EQ(sr_get(171), 300);
        EXPECT_EQ(sr_get(172), H - 200);
        release();
        EXPECT_EQ(g_ev, (std::vector<Ev>{{512, 300, H - 200}, {256, 300, H - 200}}));
        EXPECT_EQ(sr_get(171), 0);
        EXPECT_EQ(touch_state, 0);
    }
}

TEST_F(TouchTest, PressureIsScaledByPositionAndCheckedAgainstTheThreshold) {
    calibration(4096, 4096);
    open();
    struct Case {
        int raw_x, pressure, threshold;
        bool counts;
        int scaled;
    };
    const Case cases[] = {
        {100, 21, 0, true, 210},   {100, 20, 0, false, 0},      {300, 41, 0, true, 205},
        {300, 40, 0, false, 0},    {500, 51, 0, true, 204},     {500, 50, 0, false, 0},
        {1000, 134, 0, true, 201}, {1000, 133, 0, false, 0},    {3000, 201, 0, true, 201},
        {3000, 200, 0, false, 0},  {3000, 150, 100, true, 150},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.raw_x * 1000 + c.pressure);
        sr_put(10, uint16_t(c.threshold));
        sr_put(9, 0);
        g_ev.clear();
        sample(c.raw_x, 2000, c.pressure);
        sample(c.raw_x, 2000, c.pressure);
        if (c.counts) {
            int x = int(int64_t(W) * c.raw_x / 4096), y = H - H * 2000 / 4096;
            EXPECT_EQ(g_ev, (std::vector<Ev>{{512, x, y}}));
            EXPECT_EQ(sr_get(9), c.scaled);
        } else {
            EXPECT_TRUE(g_ev.empty());
            EXPECT_EQ(sr_get(9), 0);
        }
        release();
        EXPECT_EQ(touch_state, 0);
    }
}

TEST_F(TouchTest, JitterAndOffScreenSamplesAreNotPresses) {
    calibration(W, H);
    open();
    sample(100, 100);
    sample(115, 100); // moved 15 since the last sample
    EXPECT_TRUE(g_ev.empty());
    sample(115, 114); // 14 is still steady
    EXPECT_EQ(g_ev, (std::vector<Ev>{{512, 115, H - 114}}));
    release();
    g_ev.clear();
    sample(W + 5, 100);
    sample(W + 5, 100);
    EXPECT_TRUE(g_ev.empty());
}

TEST_F(TouchTest, FirstTouchInTheTopRightCornerOpensTheKeyPanel) {
    calibration(W, H);
    open();
    host::trace_start();
    struct Case {
        int x, y;
        bool slide;
        uint8_t panel_open = 0; // the corner is then the open panel's
    };
    const Case cases[] = {{W - 1, 0, true},
                          {W - 39, 38, true},
                          {W - 40, 10, false},
                          {W - 10, 39, false},
                          {W - 1, 0, false, 1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.x * 1000 + c.y);
        Key_sld = c.panel_open;
        host::trace_clear();
        g_ev.clear();
        // Raw y is mirrored by this calibration.
        sample(c.x, H - c.y);
        sample(c.x, H - c.y);
        auto calls = host::trace_calls();
        bool slid = std::count(calls.begin(), calls.end(), "OBJM_SlideKey") == 1;
        EXPECT_EQ(slid, c.slide);
        EXPECT_EQ(g_ev.empty(), c.slide);
        release();
    }
    host::trace_stop();
}

TEST_F(TouchTest, MissingCalibrationAsksForTheCalibrationScreen) {
    open();
    sample(300, 200);
    EXPECT_EQ(sr_get(3), 0);
    sample(300, 200);
    EXPECT_EQ(sr_get(3), 21);
    EXPECT_TRUE(g_ev.empty());
    EXPECT_EQ(touch_state, 0);
    // The calibration screen itself takes raw points.
    TCH_Ctrl(2, 0);
    sample(300, 200);
    sample(300, 200);
    EXPECT_EQ(g_ev, (std::vector<Ev>{{512, 300, 200}}));
}

TEST_F(TouchTest, SensitivitySetsTheMoveThatStartsADrag) {
    calibration(W, H);
    open();
    TCH_Ctrl(1, 0);
    TCH_Ctrl(16, 3);
    EXPECT_EQ(release_delta, 75);
    sample(100, 100);
    sample(100, 100);
    sample(100 + 74, 100);
    EXPECT_EQ(touch_state, 3);
    sample(100 + 75, 100);
    EXPECT_EQ(touch_state, 2);
    sample(100 + 75, 100); // a new press at the new point
    release();
    EXPECT_EQ(g_ev,
              (std::vector<Ev>{{512, 100, H - 100}, {512, 175, H - 100}, {256, 175, H - 100}}));
}

TEST_F(TouchTest, ScreenSaverBlanksWakesOnTouchAndSwallowsIt) {
    calibration(W, H);
    open();
    sr_put(57, 80);
    TCH_ScreenSaver(1);
    tick(59'990);
    EXPECT_EQ(saver_state, 1);
    tick(20);
    EXPECT_EQ(saver_state, 2);
    EXPECT_EQ(saver_mode, 1);
    EXPECT_EQ(file("/sys/class/backlight/mxs-bl/brightness"), "0");
    tick(60'000);
    EXPECT_EQ(saver_state, 2); // stays blank without activity
    sample(100, 100);
    tick(10);
    EXPECT_EQ(file("/sys/class/backlight/mxs-bl/brightness"), "80");
    EXPECT_EQ(saver_state, 3);
    EXPECT_TRUE(g_ev.empty());
    tick(1260);
    EXPECT_EQ(saver_state, 1);
    EXPECT_EQ(saver_mode, 0);
    // Touches now press, and restart the countdown.
    release();
    sample(100, 100);
    sample(100, 100);
    EXPECT_EQ(g_ev.size(), 1u);
    tick(59'000);
    TCH_TickleSaver();
    tick(59'000);
    EXPECT_EQ(saver_state, 1);
    TCH_ScreenSaver(0);
    EXPECT_EQ(saver_state, 0);
}

TEST_F(TouchTest, TickFlashBeeperAndPowerFigures) {
    std::string pd = "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a";
    write_file("/proc/powerdown", pd);
    open();
    uint32_t start = sysDTic;
    uint8_t flash = sysFlash;
    tick(99);
    EXPECT_NE(std::memcmp(plc_reg + sr_offset(194), pd.data(), 10), 0);
    tick(1);
    EXPECT_EQ(std::memcmp(plc_reg + sr_offset(194), pd.data(), 10), 0);
    EXPECT_EQ(sysDTic - start, 10u);
    tick(400);
    EXPECT_EQ(sysFlash, flash ^ 1);
    // The figures follow the file; a missing file leaves them.
    pd[4] = 0x55;
    write_file("/proc/powerdown", pd);
    tick(100);
    EXPECT_EQ(plc_reg[sr_offset(196)], 0x55);
    std::remove(host::path("/proc/powerdown").c_str());
    tick(100);
    EXPECT_EQ(plc_reg[sr_offset(196)], 0x55);

    TCH_Beep(3);
    EXPECT_EQ(file(kBeeperPath), "1\n");
    tick(2);
    EXPECT_EQ(file(kBeeperPath), "1\n");
    tick(1);
    EXPECT_EQ(file(kBeeperPath), "0\n");
    TCH_BeepEnable(0);
    TCH_Beep(3);
    EXPECT_EQ(file(kBeeperPath), "0\n");
    TCH_BeepOvrd(1);
    tick(10);
    EXPECT_EQ(file(kBeeperPath), "1\n");
    TCH_BeepOvrd(0);
    EXPECT_EQ(file(kBeeperPath), "0\n");

    // A reboot right after a beep (the crash screen's answer, the system
    // key's reset) leaves the line high; the restarted panel starts quiet.
    TCH_BeepEnable(1);
    TCH_Beep(3);
    EXPECT_EQ(file(kBeeperPath), "1\n");
    Touch_Reset();
    open();
    EXPECT_EQ(file(kBeeperPath), "0\n");
}

TEST_F(TouchTest, AFingerHeldWhileTheScreenWakesDoesNotWakeTheNextBlank) {
    calibration(W, H);
    open();
    sr_put(57, 80);
    TCH_ScreenSaver(1);
    tick(60'010);
    ASSERT_EQ(saver_state, 2);
    // The finger stays down while the screen lights up: every sample of the
    // waking time is swallowed as well.
    for (int i = 0; i < 5; ++i) {
        sample(100, 100);
        tick(100);
    }
    release();
    tick(1300);
    ASSERT_EQ(saver_state, 1);
    EXPECT_TRUE(g_ev.empty());
    tick(60'000);
    EXPECT_EQ(saver_state, 2);
    tick(1000);
    EXPECT_EQ(saver_state, 2) << "woke without a touch";
    EXPECT_EQ(file("/sys/class/backlight/mxs-bl/brightness"), "0");
}
