// The control socket's touch, drag and key commands, driving the real touch
// driver through the device FIFO on the virtual clock.
#include "base/le.h"
#include "host/config.h"
#include "host/ctl.h"
#include "net/tx.h"
#include "panel_fixture.h"
#include "platform/keys.h"
#include "regs/plc_reg.h"
#include "system/touch.h"

#include <cstring>
#include <vector>

class TouchCtlTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        Touch_CtlRegister();
    }
    void kernel(int build) {
        char text[32];
        std::snprintf(text, sizeof text, "2.6.%02d_%02d", build / 100, build % 100);
        std::memcpy(plc_reg + sr_offset(201), text, 10);
    }
    void calibration(std::vector<int32_t> v) {
        std::string rec(24, '\0');
        for (int i = 0; i < 6; ++i)
            put_le32(rec.data() + 4 * i, uint32_t(v[size_t(i)]));
        write_file("/mnt/cfg/cal.dta", rec);
    }
    void open(int build) {
        kernel(build);
        ASSERT_EQ(KEY_Init(), 1);
    }
    // The ring's touch events, taken.
    std::vector<std::vector<int>> taken() {
        std::vector<std::vector<int>> out;
        while (KEY_trd != KEY_twr) {
            const TouchEntry &e = KEY_touch[KEY_trd];
            out.push_back({e.code, e.x, e.y});
            KEY_trd = uint16_t((KEY_trd + 1) % kTouchRingSize);
        }
        return out;
    }
};

// The screen point comes back out of the driver as the same point, whatever
// the calibration and the kernel's way of reporting samples.
TEST_F(TouchCtlTest, TouchPressesAndReleasesAtTheScreenPoint) {
    struct Case {
        const char *what;
        int build;
        std::vector<int32_t> cal;
    };
    const Case cases[] = {
        {"raw axes, pressure", 3549, {4096, 4096, 0, 0, 800, 480}},
        {"raw axes, old driver", 3543, {4096, 4096, 0, 0, 800, 480}},
        {"offsets and scales", 3549, {4000, 3900, 40, -25, 830, 500}},
        {"offsets, old driver", 3543, {3900, 4000, -30, 12, 860, 500}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        panel_reset_all();
        Touch_CtlRegister();
        calibration(c.cal);
        open(c.build);
        for (auto [x, y] : {std::pair{400, 240}, {0, 0}, {799, 479}, {13, 470}}) {
            std::string at = std::to_string(x) + " " + std::to_string(y);
            std::string reply = host::ctl_handle("touch " + at);
            ASSERT_EQ(reply.rfind("ok touch " + at, 0), 0u) << reply;
            EXPECT_NE(reply.find("sample 2: state 3, press " + at + "\n"), std::string::npos)
                << reply;
            EXPECT_NE(reply.find("release: state 0, release " + at + "\n"), std::string::npos)
                << reply;
            EXPECT_EQ(taken(), (std::vector<std::vector<int>>{{512, x, y}, {256, x, y}}));
            EXPECT_EQ(sr_get(3), 0);
        }
    }
}

TEST_F(TouchCtlTest, WithoutCalibrationTheSecondSampleAsksForTheCalibrationScreen) {
    open(3549);
    EXPECT_EQ(TxTimerTickEnabled, 1);
    EXPECT_EQ(host::ctl_handle("touch 120 80"), "ok touch 120 80 (raw 120 80)\n"
                                                "sample 1: state 1\n"
                                                "sample 2: state 0, %SR3 = 21\n"
                                                "release: state 0\n");
    EXPECT_TRUE(taken().empty());
    // The calibration screen's mode takes screen points as they are.
    TCH_Ctrl(2, 0);
    EXPECT_EQ(host::ctl_handle("touch 120 80"), "ok touch 120 80 (raw 120 80)\n"
                                                "sample 1: state 1\n"
                                                "sample 2: state 3, press 120 80\n"
                                                "release: state 0, release 120 80\n");
}

// Raw readings reach the driver untouched by the calibration: in the
// calibration mode a reading beyond the screen is pressed as it is, and with
// a calibration it lands where the calibration puts it.
TEST_F(TouchCtlTest, RawTouchBypassesTheCalibration) {
    calibration({4000, 4000, 0, 0, 800, 480});
    open(3549);
    EXPECT_EQ(host::ctl_handle("touch --raw 2000 1000"), "ok touch --raw 2000 1000\n"
                                                         "sample 1: state 1\n"
                                                         "sample 2: state 3, press 400 360\n"
                                                         "release: state 0, release 400 360\n");
    TCH_Ctrl(2, 0);
    EXPECT_EQ(host::ctl_handle("touch --raw 3900 4000"), "ok touch --raw 3900 4000\n"
                                                         "sample 1: state 1\n"
                                                         "sample 2: state 3, press 3900 4000\n"
                                                         "release: state 0, release 3900 4000\n");
    taken();
    for (const char *bad : {"touch --raw 1 32768", "touch --raw -1 5", "touch --raw 5"}) {
        std::string reply = host::ctl_handle(bad);
        EXPECT_EQ(reply.rfind("error: ", 0), 0u) << bad << ": " << reply;
    }
    EXPECT_TRUE(taken().empty());
}

TEST_F(TouchCtlTest, DragReportsEachMoveInDragMode) {
    calibration({800, 480, 0, 0, 800, 480});
    open(3549);
    TCH_Ctrl(1, 0);
    std::string reply = host::ctl_handle("touch-drag 100 100 130 100 3");
    EXPECT_EQ(reply.rfind("ok touch-drag 100 100 130 100 in 3 steps", 0), 0u) << reply;
    // A move ends the press; the next sample presses again where it is.
    EXPECT_EQ(taken(),
              (std::vector<std::vector<int>>{{512, 100, 100}, {512, 120, 100}, {256, 120, 100}}))
        << reply;
    // Without STEPS, steps of at most 10 pixels stay within the jitter limit.
    reply = host::ctl_handle("touch-drag 100 100 100 200");
    EXPECT_NE(reply.find("in 11 steps"), std::string::npos) << reply;
    std::vector<std::vector<int>> ev = taken();
    ASSERT_GE(ev.size(), 6u) << reply;
    EXPECT_EQ(ev.front(), (std::vector<int>{512, 100, 100}));
    EXPECT_EQ(ev.back()[0], 256);
}

TEST_F(TouchCtlTest, BadRequestsAreRefusedAndChangeNothing) {
    open(3549);
    struct Bad {
        const char *line, *message;
    };
    const Bad cases[] = {
        {"touch 800 10", "not on the screen (x 0..799, y 0..479)"},
        {"touch 10 -1", "not on the screen"},
        {"touch 10 1x", "not on the screen"},
        {"touch 10", "usage: touch X Y"},
        {"touch-drag 1 1 2", "usage: touch-drag"},
        {"touch-drag 1 1 2 2 0", "STEPS must be 1..500"},
        {"touch-drag 1 1 2 2 501", "STEPS must be 1..500"},
        {"key 0", "1..254"},
        {"key 255", "1..254"},
        {"key 16", "but not 16"},
        {"key 5 70000", "0..65535"},
        {"key", "usage: key N"},
    };
    for (const Bad &b : cases) {
        std::string reply = host::ctl_handle(b.line);
        EXPECT_EQ(reply.rfind("error: ", 0), 0u) << b.line << ": " << reply;
        EXPECT_NE(reply.find(b.message), std::string::npos) << b.line << ": " << reply;
    }
    EXPECT_EQ(KEY_Waiting(), 0);
    EXPECT_TRUE(taken().empty());
    EXPECT_EQ(touch_state, 0);
}

TEST_F(TouchCtlTest, KeyQueuesThePressAndItsRelease) {
    open(3549);
    EXPECT_EQ(host::ctl_handle("key 26 1"), "ok key 26 pressed and released (2 keys wait)\n");
    EXPECT_EQ(KEY_ring[KEY_rd].code, 26);
    EXPECT_EQ(KEY_ring[KEY_rd].param, 1);
    EXPECT_EQ(KEY_ring[(KEY_rd + 1) % kKeyRingSize].code, kKeyRelease);
    KEY_Check(nullptr); // the system key's action: the calibration screen
    EXPECT_EQ(sr_get(3), 21);
    // A press and its release always fit together, or neither is queued.
    EXPECT_EQ(host::ctl_handle("key 3").rfind("ok", 0), 0u);
    EXPECT_EQ(host::ctl_handle("key 4").rfind("ok", 0), 0u);
    EXPECT_EQ(host::ctl_handle("key 5"), "ok key 5 pressed and released (7 keys wait)\n");
    EXPECT_EQ(host::ctl_handle("key 6"), "error: the key ring is full (7 keys wait to be taken)\n");
    EXPECT_EQ(KEY_Waiting(), 7);
}

TEST_F(TouchCtlTest, StatusShowsBacklightBeeperAndTouch) {
    open(3549);
    EXPECT_EQ(Touch_StatusLines(), "\nbacklight: unset\nbeeper: off\ntouch_state: 0"
                                   "\nkeys_waiting: 0\ntouch_events_waiting: 0");
    write_file("/sys/class/backlight/mxs-bl/brightness", "80");
    TCH_BeepOvrd(1);
    host::ctl_handle("key 7");
    EXPECT_EQ(Touch_StatusLines(), "\nbacklight: 80\nbeeper: on\ntouch_state: 0"
                                   "\nkeys_waiting: 2\ntouch_events_waiting: 0");
}
