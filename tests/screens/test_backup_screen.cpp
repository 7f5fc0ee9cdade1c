// The backup and restore screen as system-menu page 17 opens it: the menu
// object morphs into it, touches and the Esc key work its buttons, and the
// controller core's backup routines do the work.
#include "base/le.h"
#include "host/root.h"
#include "platform/keys.h"
#include "plc/appblocks.h"
#include "png_snapshot.h"
#include "regs/plc_reg.h"
#include "screen_program.h"
#include "screens/backup_screen.h"
#include "screens/objm_int.h"
#include "system/backup.h"
#include "system/pgm.h"
#include "system/sys.h"
#include "system/touch.h"
#include "video_fixture.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::vector<std::string> g_calls;
bool g_menu_closed;
bool g_morphed;

// The system menu on page 17: it morphs into the screen on its first update
// pass and learns when the screen closes.
int16_t menu_create(const uint8_t *, ObjInst *inst) {
    inst->state = kInstShown;
    inst->area = RECT{5, 5, 479, 271};
    return 16;
}
void menu_paint(const uint8_t *, ObjInst *, int) {}
uint16_t menu_signal(const uint8_t *, ObjInst *, int msg, uint32_t arg) {
    if (msg == objmsg::kUpdate && arg == 0 && !g_morphed) {
        g_morphed = true;
        OBJM_MorfObj(25, nullptr);
        return objmsg::kMorph;
    }
    if (msg == objmsg::kClose) g_menu_closed = true;
    return 0;
}
const ObjClass kMenu{44, menu_create, menu_paint, menu_signal, nullptr, 64, nullptr};

class BackupScreenTest : public VideoTest {
protected:
    void SetUp() override {
        VideoTest::SetUp();
        install();
    }
    // The probe menu must not outlive the test: the real class goes back.
    void TearDown() override {
        OBJM_SetClass(3, &MENU_Class);
        VideoTest::TearDown();
    }
    // After a reset: the probe menu and the recorded routines again.
    void install() {
        g_calls.clear();
        g_menu_closed = g_morphed = false;
        OBJM_SetClass(3, &kMenu);
        // The system menu's pages, as the controller's start-up copies them.
        std::copy(std::begin(pBasicMenu), std::end(pBasicMenu), pSystemMenu);
        nSystemMenus = 28;
        // The real routines, recorded; a restore would reset the process.
        BkRstr_SetHooks({
            .store =
                [] {
                    g_calls.push_back("store");
                    return StoreBBRAM();
                },
            .restore = [](int keep) { g_calls.push_back("restore " + std::to_string(keep)); },
            .erase =
                [] {
                    g_calls.push_back("erase");
                    return EraseBackupData();
                },
            .beep = [](int) { g_calls.push_back("beep"); },
        });
    }
    void open(bool backup) {
        start(false, "480x272");
        pDC = GDI_CreateDC(0, 0);
        ASSERT_TRUE(load_screen_program(R"({"pages": [{"screen": 1}]})"));
        PGM_Create(1);
        pass();
        put_le16(plc_reg + reg::kR, 1111);
        if (backup) StoreBBRAM();
        put_le16(plc_reg + reg::kR, 2222);
        sr_put(3, 17);
        pass();
        pass();
        ASSERT_TRUE(g_morphed);
        g_calls.clear();
    }
    void pass() {
        TimerISR();
        PGM_TheLoop(0);
    }
    void tap(int x, int y) {
        KEY_Press(kTouchDown, x, y);
        KEY_Press(kTouchUp, x, y);
        pass();
        pass();
    }
    void key(int code) {
        KEY_Press(kKeyMessage, code, 0);
        pass();
    }
    static bool backup_present() { return le32(crcsize_tbl + 4) == reg::kImageSize; }
    std::string shot(const std::string &name) {
        VID_Update();
        return screen_snapshot_diff("tests/screens/snapshots/" + name);
    }
};

// Each action with and without a backup: the question asked, Ok or Ok alone,
// and what Ok runs.
TEST_F(BackupScreenTest, ActionsWithAndWithoutABackup) {
    struct Case {
        const char *what;
        bool backup;
        int x, y; // the action's button
        bool ok_only;
        std::vector<std::string> ok_runs;
        bool present_after;
        int backup_r1;       // %R1 in the backup afterwards
        const char *picture; // of the confirmation
    };
    const Case cases[] = {
        {"new backup",
         false,
         180,
         85,
         false,
         {"beep", "store"},
         true,
         2222,
         "bkrstr_backup_new.png"},
        {"overwrite",
         true,
         180,
         85,
         false,
         {"beep", "store"},
         true,
         2222,
         "bkrstr_backup_over.png"},
        {"restore, none", false, 300, 85, true, {"beep"}, false, 0, "bkrstr_restore_none.png"},
        {"restore", true, 300, 85, false, {"beep", "restore 0"}, true, 1111, "bkrstr_restore.png"},
        {"clear, none", false, 240, 130, true, {"beep"}, false, 0, "bkrstr_clear_none.png"},
        {"clear", true, 240, 130, false, {"beep", "erase"}, false, 0, "bkrstr_clear.png"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        panel_reset_all();
        install();
        std::remove(host::path("/mnt/cfg/bkpreg.dta").c_str());
        open(c.backup);
        EXPECT_EQ(read_file("/mnt/cfg/bkpreg.dta").empty(), !c.backup);
        tap(c.x, c.y);
        BkRstrView v = BkRstr_View();
        EXPECT_EQ(v.step, 1);
        EXPECT_EQ(v.ok_only, c.ok_only);
        EXPECT_EQ(g_calls, std::vector<std::string>{"beep"});
        EXPECT_EQ(shot(c.picture), "");
        g_calls.clear();
        tap(300, 164); // Ok
        EXPECT_EQ(g_calls, c.ok_runs);
        EXPECT_EQ(BkRstr_View().step, 0);
        EXPECT_EQ(backup_present(), c.present_after);
        EXPECT_EQ(read_file("/mnt/cfg/bkpreg.dta").empty(), !c.present_after);
        if (c.present_after) {
            EXPECT_EQ(le16(crcsize_tbl + 8 + reg::kR), c.backup_r1);
        }
        EXPECT_EQ(le16(plc_reg + reg::kR), 2222) << "the register image stays";
    }
    EXPECT_EQ(shot("bkrstr_main.png"), "") << "the main buttons drawn again";
}

// Cancel and Esc go back to the main buttons; a box with Ok alone has no
// Cancel and Esc only beeps; Exit (or Esc on the main buttons) closes the
// screen back to the menu.
TEST_F(BackupScreenTest, CancelEscAndExit) {
    open(true);
    EXPECT_EQ(shot("bkrstr_main.png"), "");
    const uint16_t state = objm::g.doTbl[0].inst->state;
    tap(240, 130); // Clear Backup
    tap(180, 164); // Cancel
    EXPECT_EQ(BkRstr_View().step, 0);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"beep", "beep"}));
    EXPECT_TRUE(backup_present());
    tap(300, 85); // Restore
    key(27);
    EXPECT_EQ(BkRstr_View().step, 0);

    EraseBackupData();
    tap(300, 85);
    ASSERT_TRUE(BkRstr_View().ok_only);
    tap(180, 164); // where Cancel would be
    key(27);
    EXPECT_EQ(BkRstr_View().step, 1);
    key(13);
    EXPECT_EQ(BkRstr_View().step, 0);

    g_calls.clear();
    tap(240, 175); // Exit
    EXPECT_TRUE(g_menu_closed);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"beep", "beep"}));
    EXPECT_EQ(objm::g.doTbl[0].inst->state, state);
    EXPECT_FALSE(objm::g.fSelectMorf);
}

} // namespace
