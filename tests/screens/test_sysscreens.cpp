// The screen manager's own screens that work the controller, run by the
// screen program manager's loop on a real screen: the error page standing in
// for a missing screen, the recovery screen and its buttons, the
// controller-status dialog, and the login form with the text keypad.
#include "base/le.h"
#include "host/power.h"
#include "platform/keys.h"
#include "plc/appblocks.h"
#include "png_snapshot.h"
#include "regs/plc_reg.h"
#include "screen_program.h"
#include "screens/objm_int.h"
#include "screens/sysscr_int.h"
#include "system/loop.h"
#include "system/pgm.h"
#include "system/sys.h"
#include "system/touch.h"
#include "tools/lib/appbuild_users.h"
#include "video_fixture.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

// Screens 1 and 2 (start screen 1).
constexpr const char *kProgram =
    R"({"start_screen": 1, "pages": [{"screen": 1, "background": 2016}, {"screen": 2}]})";

std::vector<int> beeps;

class SysScreensTest : public VideoTest {
protected:
    DC *dc = nullptr;
    int W = 0, H = 0;

    void SetUp() override {
        VideoTest::SetUp();
        beeps.clear();
    }
    // A running screen program on a screen of this size, showing screen 1.
    void run(const std::string &screen, const char *json = kProgram) {
        dc = start(false, screen);
        pDC = dc;
        W = dc->bounds.right + 1;
        H = dc->bounds.bottom + 1;
        std::string error;
        ASSERT_TRUE(load_screen_program(json, &error)) << error;
        sysscr::hooks.beep = [](int n) { beeps.push_back(n); };
        PGM_InitRunCtrl();
        PGM_Create(1);
        pass();
        ASSERT_EQ(PGM_state, 5);
    }
    void pass() { PGM_TheLoop(0); }
    void touch(int x, int y) {
        KEY_Press(kTouchDown, x, y);
        pass();
        KEY_Press(kTouchUp, x, y);
        pass();
    }
    std::string snapshot(const std::string &name) {
        return screen_snapshot_diff("tests/screens/snapshots/" + name + ".png");
    }
    ObjCB &top() { return objm::g.doTbl[objm::g.num_dobjs - 1]; }
    int cx() const { return W / 2; }
    int cy() const { return H / 2; }
};

// ---------------------------------------------------------------- error page

TEST_F(SysScreensTest, ErrorPageNamesTheMissingScreen) {
    struct Case {
        const char *screen;
        std::function<void()> select;
        const char *picture;
    };
    const Case cases[] = {
        {"480x272", [] { sr_put(sr::kUserScreen, 17); }, "fault_user17_480x272"},
        {"800x480", [] { sr_put(sr::kUserScreen, 17); }, "fault_user17_800x480"},
        {"480x272", [] { sr_put(sr::kUserScreen, 1024); }, "fault_invalid"},
        {"480x272", [] { sr_put(sr::kForcedScreen, 9); }, "fault_alarm9"},
        {"480x272", [] { sr_put(sr::kSystemScreen, 30); }, "fault_system30"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.picture);
        run(c.screen);
        c.select();
        pass();
        EXPECT_EQ(objm::g.pCurPgHdr, badPage);
        EXPECT_EQ(snapshot(c.picture), "");
        panel_reset_all();
    }
}

TEST_F(SysScreensTest, AttemptToRecoverGoesBack) {
    struct Case {
        const char *what;
        int sr; // the register that chose the missing screen
        uint16_t value;
        int sr_after, value_after;
    };
    const Case cases[] = {
        // A user screen goes back in the history; with none, to the start screen.
        {"user screen", sr::kUserScreen, 17, sr::kUserScreen, 1},
        {"alarm screen", sr::kForcedScreen, 9, sr::kForcedScreen, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        run("800x480");
        beeps.clear();
        sr_put(c.sr, c.value);
        pass();
        ASSERT_EQ(objm::g.pCurPgHdr, badPage);
        // Outside the button nothing happens.
        touch(cx(), cy() - 80);
        EXPECT_EQ(sr_get(c.sr), c.value);
        EXPECT_TRUE(beeps.empty());
        // The button's lower edge lies outside the record as built: the copy
        // the page is shown from took the box as placed on this screen.
        touch(cx() + 160, cy() + 70);
        EXPECT_EQ(sr_get(c.sr_after), c.value_after);
        EXPECT_EQ(beeps, std::vector<int>{3});
        pass();
        EXPECT_NE(objm::g.pCurPgHdr, badPage);
        panel_reset_all();
    }
}

TEST_F(SysScreensTest, GreyScaleWritesOnlyTheCopy) {
    SYS_fGrayScale = 1;
    run("480x272");
    sr_put(sr::kUserScreen, 17);
    pass();
    const uint8_t *fault = badPage + Page_FirstRecord(badPage);
    EXPECT_EQ(le16(fault + 18), 11);
    EXPECT_EQ(int16_t(le16(fault + 10)), 240 - 190);
    SysScreens_Reset();
    EXPECT_EQ(le16(fault + 18), 0xFFDF) << "the copy starts from the record again";
    EXPECT_EQ(le16(fault + 10), 43);
}

// ---------------------------------------------------------------- recovery

class RecoveryTest : public SysScreensTest {
protected:
    void recovery(const std::string &screen = "480x272") {
        run(screen);
        RecoverMode = 1;
        pass();
        ASSERT_EQ(objm::g.pCurPgHdr, RecoverPage);
    }
    // The middle of button k (1 to 6, from the top).
    void press(int k) {
        const int h = H / 10;
        touch(cx(), k * h + (k - 1) * (h / 2) + h / 2);
    }
};

TEST_F(RecoveryTest, Pictures) {
    for (const char *screen : {"480x272", "800x480"}) {
        SCOPED_TRACE(screen);
        recovery(screen);
        EXPECT_EQ(snapshot(std::string("recover_") + screen), "");
        EXPECT_EQ(DntTmeSlc, 1) << "no time slice on the recovery screen";
        EXPECT_EQ(BootMode, 1);
        panel_reset_all();
    }
}

// A probe for the boot installer's row, which is built elsewhere.
uint16_t installer_signal(const uint8_t *, ObjInst *, int, uint32_t) {
    return 0;
}
const ObjClass kInstallerProbe{32, nullptr, nullptr, installer_signal, nullptr, 32, nullptr};

TEST_F(RecoveryTest, EveryButton) {
    struct Case {
        int button;
        std::function<void()> check;
    };
    const Case cases[] = {
        {1, [] { EXPECT_EQ(sr_get(sr::kSystemScreen), 21); }},
        {2, [] { EXPECT_EQ(objm::g.fSelectMorf, 1) << "the boot installer over the screen"; }},
        {3,
         [] {
             ASSERT_EQ(objm::g.fPopup, 1);
             EXPECT_EQ(reinterpret_cast<PopupInst *>(objm::pmem_pool)->param, 8);
         }},
        {4,
         [] {
             EXPECT_EQ(Sys_ManualLoadKey, 1);
             EXPECT_EQ(RecoverMode, 0);
             EXPECT_EQ(BootMode, 0);
         }},
        {5,
         [] {
             ASSERT_EQ(objm::g.fPopup, 1);
             EXPECT_EQ(reinterpret_cast<PopupInst *>(objm::pmem_pool)->param, 9);
         }},
        {6,
         [] {
             EXPECT_EQ(RecoverMode, 0);
             EXPECT_EQ(BootMode, 0);
             PGM_TheLoop(0);
             EXPECT_EQ(PAGE_mode, 1) << "back on the user screens";
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.button);
        recovery();
        OBJM_SetClass(29, &kInstallerProbe);
        press(c.button);
        EXPECT_EQ(beeps.front(), 3);
        c.check();
        panel_reset_all();
    }
}

TEST_F(RecoveryTest, ASecondTouchBeforeTheUpdateIsIgnored) {
    recovery();
    ObjCB &o = objm::g.doTbl[0];
    const int h = H / 10;
    auto at = [&](int k) { return uint32_t(cx()) << 16 | uint32_t(k * h + (k - 1) * (h / 2) + 5); };
    EXPECT_EQ(o.Signal(o.def, o.inst, objmsg::kTouchDown, at(4)), objmsg::kRepaint);
    EXPECT_EQ(o.Signal(o.def, o.inst, objmsg::kTouchDown, at(1)), 0);
    o.Signal(o.def, o.inst, objmsg::kUpdate, 0);
    EXPECT_EQ(Sys_ManualLoadKey, 1);
    EXPECT_EQ(sr_get(sr::kSystemScreen), 23) << "the second button did not act";
    EXPECT_EQ(o.Signal(o.def, o.inst, objmsg::kUpdate, 0), 0);
}

TEST_F(RecoveryTest, ResetAndClearAskFirst) {
    write_file("/mnt/cfg/ladder.pgm", "program");
    write_file("/mnt/cfg/config.pgm", "config");
    const std::string ladder = root_dir + "/mnt/cfg/ladder.pgm";
    // Cancel: the dialog goes and nothing is erased.
    recovery();
    press(5);
    ASSERT_EQ(objm::g.fPopup, 1);
    EXPECT_EQ(snapshot("dialog_erase"), "");
    touch(cx() + 50, cy() + 25);
    EXPECT_EQ(objm::g.fPopup, 0);
    EXPECT_EQ(access(ladder.c_str(), F_OK), 0);
    // OK on the reset: the panel saves and reboots.
    press(3);
    ASSERT_EQ(objm::g.fPopup, 1);
    EXPECT_EXIT(touch(cx() - 50, cy() + 25), testing::ExitedWithCode(host::kExitReboot), "");
    EXPECT_EQ(access(ladder.c_str(), F_OK), 0);
    touch(cx() + 50, cy() + 25); // here the dialog is still open
    // OK on the erase: the application goes, then the reboot.
    press(5);
    EXPECT_EXIT(touch(cx() - 50, cy() + 25), testing::ExitedWithCode(host::kExitReboot), "");
    EXPECT_NE(access(ladder.c_str(), F_OK), 0);
    EXPECT_NE(access((root_dir + "/mnt/cfg/config.pgm").c_str(), F_OK), 0);
}

TEST_F(RecoveryTest, StartUpRunsTheTickOnceWithTheFlag) {
    static uint8_t seen;
    sysscr::hooks.timer_isr = [] { seen = RecoverScreen; };
    seen = 0;
    REC_ScreenInit();
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(RecoverScreen, 0);
}

// ---------------------------------------------------------------- dialog

int ok_led, run_led;

class DialogTest : public SysScreensTest {
protected:
    void SetUp() override {
        SysScreensTest::SetUp();
        run("480x272");
        sysscr::hooks.ok_led = [] { return ok_led; };
        sysscr::hooks.run_led = [] { return run_led; };
        ok_led = run_led = 1;
    }
    void open(int mode) {
        popupState = uint8_t(mode);
        pass();
        ASSERT_EQ(objm::g.fPopup, 1);
    }
};

TEST_F(DialogTest, StatusClosesItselfOnceHealthyAndRunning) {
    PGM_SetPopupMode(1);
    ok_led = 2, run_led = 0; // self-test not passed, stopped
    open(1);
    EXPECT_EQ(snapshot("dialog_status"), "");
    ok_led = run_led = 1;
    pass(); // lamps lit, the timer armed
    EXPECT_EQ(snapshot("dialog_status_lit"), "");
    sysTic = uint16_t(sysTic + 100);
    pass();
    EXPECT_EQ(objm::g.fPopup, 1) << "not before a second has passed";
    sysTic = uint16_t(sysTic + 1);
    pass();
    EXPECT_EQ(objm::g.fPopup, 0);
    EXPECT_EQ(popupState, 0);
    // A status that is not steady keeps it open; so does pop-up mode 2.
    for (auto [mode, ok] : {std::pair{1, 2}, {2, 1}}) {
        PGM_SetPopupMode(mode);
        ok_led = ok;
        open(2);
        for (int i = 0; i < 5; ++i) {
            sysTic = uint16_t(sysTic + 50);
            pass();
        }
        EXPECT_EQ(objm::g.fPopup, 1) << mode << " " << ok;
        touch(cx(), cy() + 25); // OK
        EXPECT_EQ(objm::g.fPopup, 0);
    }
}

TEST_F(DialogTest, LoadCompleteStartsTheProgramOrNot) {
    for (bool start : {false, true}) {
        sr_put(sr::kRunMode, 0);
        DntTmeSlc = 1;
        open(3);
        touch(cx(), cy() - 30); // the body: nothing
        EXPECT_EQ(objm::g.fPopup, 1);
        touch(start ? cx() - 50 : cx() + 50, cy() + 25);
        EXPECT_EQ(objm::g.fPopup, 0);
        EXPECT_EQ(sr_get(sr::kRunMode), start ? 2 : 0);
        EXPECT_EQ(popupState, 0);
        EXPECT_EQ(DntTmeSlc, 0) << "the time slice is back after either answer";
    }
}

TEST_F(DialogTest, ResetCauses) {
    for (int mode : {6, 7}) {
        open(mode);
        EXPECT_EQ(snapshot("dialog_mode" + std::to_string(mode)), "");
        touch(cx(), cy() + 25);
        EXPECT_EQ(objm::g.fPopup, 0);
    }
}

// ---------------------------------------------------------------- login

class LoginTest : public SysScreensTest {
protected:
    RECT name{}, password{}, button{};
    void SetUp() override {
        SysScreensTest::SetUp();
        run("800x480", R"({"start_screen": 1, "pages": [{"screen": 1, "objects": [
            {"type": 34, "flags": 261, "rect": [100, 60, 600, 300],
             "fields": {"fill": 50712, "colour": 0, "caption": "Operator", "align": 36,
                        "font": 32, "field_font": 32, "box_font": 32}}]}]})");
        std::vector<uint8_t> table;
        std::string error;
        ASSERT_TRUE(appusers::table(
            nlohmann::json::parse(R"({"users": [{"name": "ann", "password": "12", "level": 3}]})"),
            &table, &error))
            << error;
        std::memcpy(login_tbl + 8, table.data(), table.size());
        put_le32(login_tbl + 4, uint32_t(table.size()));
        USRMGR_Init();
        ObjCB &o = objm::g.doTbl[0];
        sysscr::LoginRects(o.inst, &name, &password, &button);
    }
    void at(const RECT &r) { touch((r.left + r.right) / 2, (r.top + r.bottom) / 2); }
    // A key of the text keypad: digits and letters on their layouts.
    void key(char c) {
        if (c >= '0' && c <= '9') {
            const int i = c == '0' ? 9 : c - '1';
            if (c == '0')
                touch(12, 189);
            else
                touch(12 + 159 * (i % 3), 54 + 45 * (i / 3));
            return;
        }
        const int i = c - 'a';
        const int col[7] = {2, 70, 138, 206, 274, 342, 410};
        touch(col[i % 7] + 10, 54 + 45 * (i / 7));
    }
    void letters() { touch(12, 234); } // "ABC"
    void digits() { touch(80, 234); }  // "123"
    void enter_digits() { touch(369, 234); }
    void enter_letters() { touch(352, 234); }
    void type_password(const char *p) {
        at(password);
        ASSERT_EQ(objm::g.fSelectMorf, 1);
        for (const char *c = p; *c; ++c)
            key(*c);
        enter_digits();
        ASSERT_EQ(objm::g.fSelectMorf, 0);
    }
};

TEST_F(LoginTest, LogInAndOut) {
    EXPECT_EQ(snapshot("login_out"), "");
    at(name);
    ASSERT_EQ(objm::g.fSelectMorf, 1) << "the text keypad over the form";
    EXPECT_EQ(beeps.front(), 40);
    beeps.clear();
    letters();
    for (char c : std::string("ann"))
        key(c);
    EXPECT_EQ(std::count(beeps.begin(), beeps.end(), 50), 0) << "the layout key is the keypad's";
    enter_letters();
    EXPECT_EQ(objm::g.fSelectMorf, 0);

    type_password("13");
    at(button);
    EXPECT_EQ(UserLoggedIn, 0) << "a wrong password";
    EXPECT_EQ(ActionSuccess, 0);

    type_password("12");
    at(button);
    EXPECT_EQ(UserLoggedIn, 1);
    EXPECT_EQ(ActionSuccess, 1);
    pass();
    EXPECT_EQ(snapshot("login_in"), "");

    // Logged in, the boxes take no touch; the button logs out.
    at(name);
    EXPECT_EQ(objm::g.fSelectMorf, 0);
    at(button);
    EXPECT_EQ(UserLoggedIn, 0);
    pass();
    EXPECT_EQ(snapshot("login_out"), "") << "both boxes empty, \"USER : None\"";
}

TEST_F(LoginTest, KeysTheFormDoesNotTake) {
    at(password);
    beeps.clear();
    touch(250, 189); // "Space"
    key('1');
    EXPECT_EQ(beeps, std::vector<int>{50}) << "the space beeps and is not entered";
    // Esc on the password clears it.
    touch(250, 234);
    EXPECT_EQ(objm::g.fSelectMorf, 0);
    at(password);
    enter_digits();
    at(button);
    EXPECT_EQ(UserLoggedIn, 0);
    // A key from the keypad that the form never takes, sent straight to it.
    ObjCB &o = objm::g.doTbl[0];
    beeps.clear();
    EXPECT_EQ(o.Signal(o.def, o.inst, objmsg::kKey, '!'), 0);
    EXPECT_EQ(beeps, std::vector<int>{50});
}

} // namespace
