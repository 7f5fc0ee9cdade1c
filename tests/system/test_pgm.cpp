// The screen program manager loop: taking a screen program into use, the
// screen choice from %SR1, %SR2 and %SR3, and the display-fault page. The
// object manager is not built yet: its entry points record their calls, and
// the tests check the calls the loop makes.
#include "base/le.h"
#include "base/trace.h"
#include "block_poison.h"
#include "gdi/gdi.h"
#include "gdi/text.h"
#include "plc/appblocks.h"
#include "plc/sysreg.h"
#include "png_snapshot.h"
#include "regs/plc_reg.h"
#include "screen_program.h"
#include "screens/screens.h"
#include "system/appfile.h"
#include "system/crash.h"
#include "system/loop.h"
#include "system/pgm.h"
#include "system/reglink.h"
#include "video_fixture.h"

#include <algorithm>

namespace {
using Calls = std::vector<std::string>;

size_t count(const Calls &calls, const std::string &name) {
    return size_t(std::count(calls.begin(), calls.end(), name));
}

// The calls of `calls` that appear in `names`, in order.
Calls only(const Calls &calls, std::initializer_list<const char *> names) {
    Calls out;
    for (auto &c : calls)
        if (std::find(names.begin(), names.end(), c) != names.end()) out.push_back(c);
    return out;
}

// Screens 1, 2 and 5 (start screen 2); screen 7 has an object of no class, so
// it cannot be opened.
constexpr const char *kProgram = R"({"start_screen": 2, "pages": [
    {"screen": 1}, {"screen": 2, "objects": [{"type": 1, "rect": [10, 10, 100, 40]}]},
    {"screen": 5, "background": 31}, {"screen": 7, "objects": [{"type": 40}]}]})";

int page_screen(const uint8_t *page) {
    return int16_t(le16(page)) + 1;
}
} // namespace

class PgmTest : public PanelTest {
protected:
    void program(const char *json = kProgram) {
        std::string error;
        ASSERT_TRUE(load_screen_program(json, &error)) << error;
    }
    // Runs one pass and returns its calls.
    Calls pass() {
        host::trace_start();
        PGM_TheLoop(0);
        Calls calls = host::trace_calls();
        host::trace_stop();
        return calls;
    }
    // A running program: created, set up and showing its start screen.
    void running(const char *json = kProgram) {
        program(json);
        PGM_Create(1);
        pass();
        ASSERT_EQ(PGM_state, 5);
    }
};

TEST_F(PgmTest, StateTransitions) {
    struct Case {
        const char *what;
        uint8_t from;
        const char *program; // nullptr: no screen program block at all
        uint16_t sr4;
        uint8_t to;
        uint16_t fault;
        bool graphics_invalid; // %SR4 bit 0x4000 afterwards
    };
    const char *no_start = R"({"start_screen": 0, "pages": [{"screen": 1}]})";
    // clang-format off
    const Case cases[] = {
        {"created, program present",        3, kProgram, 0,      5, 0,     false},
        {"created, bit of a bad download",  3, kProgram, 0x4000, 5, 0,     false},
        {"start-up sets up at once",        4, kProgram, 0,      5, 0,     false},
        {"created, no program",             3, nullptr,  0,      1, 0x801, true},
        {"set up, no program",              4, nullptr,  0,      1, 0x800, false},
        {"header only, no start page",      4, no_start, 0,      1, 0x800, false},
        {"download aborted, graphics valid",6, kProgram, 0,      5, 0,     false},
        {"download aborted, graphics bad",  6, kProgram, 0x4000, 1, 0x801, true},
        {"state unknown",                   0, kProgram, 0,      1, 0x801, false},
        {"running stays running",           5, kProgram, 0,      5, 0,     false},
    };
    // clang-format on
    for (const Case &c : cases) {
        panel_reset_all();
        if (c.program) program(c.program);
        PGM_state = c.from;
        sr_put(4, c.sr4);
        Calls calls = pass();
        EXPECT_EQ(PGM_state, c.to) << c.what;
        EXPECT_EQ(PGM_fault, c.fault) << c.what;
        EXPECT_EQ((sr_get(4) & 0x4000) != 0, c.graphics_invalid) << c.what;
        bool set_up = c.from != 5 && c.from != 1;
        EXPECT_EQ(count(calls, "SYS_InitGFX"), set_up ? 1u : 0u) << c.what;
        // (A page open drops pending touches of its own.)
        Calls before_open(calls.begin(), std::find(calls.begin(), calls.end(), "OBJM_OpenPage"));
        EXPECT_EQ(count(before_open, "KEY_FlushTouch"), set_up ? 1u : 0u) << c.what;
        bool recreated = c.from == 3 || (c.from == 6 && !(c.sr4 & 0x4000));
        EXPECT_EQ(count(calls, "SYS_ClearCmd"), recreated ? 1u : 0u) << c.what;
        if (c.to == 1) {
            EXPECT_EQ(PAGE_mode, 4) << c.what << ": the fault page opens in the same pass";
            EXPECT_EQ(count(calls, "OBJM_OpenPage"), 1u) << c.what;
        }
    }
}

TEST_F(PgmTest, SetUpCallsTheServicesInOrderAndShowsTheStartScreen) {
    program();
    PGM_Create(1);
    Calls calls = pass();
    // clang-format off
    Calls expected = {"PGM_TheLoop", "SYS_ClearCmd", "OBJM_Init", "SYS_InitBBR", "SYS_ResetRCBs",
        "ALRM_Init", "USRMGR_Init", "STR_Init", "VIDM_Init", "GDI_CreateDC", "CFM_Init",
        "OBJM_ScanPage", "OBJM_ScanPage", "OBJM_ScanPage", "OBJM_ScanPage", "SYS_LoadRCBs",
        "SYS_InitGFX", "TCH_ScreenSaver", "TCH_BeepEnable", "BKLT_Ctrl", "PGM_SetPopupMode",
        "PMGR_GetDrvInfo", "KEY_Flush", "KEY_FlushTouch", "SYS_Update", "CFM_Update",
        "TCH_TickleSaver", "OBJM_FlushUserScreens", "OBJM_OpenPage",
        "OBJM_Update", "ALRM_Update", "USRMGR_Update", "VIDM_Update", "STR_Update"};
    // clang-format on
    // What the object manager calls while it opens and updates the page is
    // its own.
    for (auto [from, to] :
         {std::pair{"OBJM_OpenPage", "OBJM_Update"}, {"OBJM_Update", "ALRM_Update"}}) {
        auto at = std::find(calls.begin(), calls.end(), from);
        if (at != calls.end()) calls.erase(at + 1, std::find(at, calls.end(), to));
    }
    EXPECT_EQ(calls, expected);
    EXPECT_EQ(sr_get(1), 2);
    EXPECT_EQ(PAGE_current, 2);
    EXPECT_EQ(PAGE_mode, 1);
    EXPECT_EQ(SYS_lastLocalUser, 2);
    // Pages by screen number; every other screen shows the error page.
    EXPECT_EQ(page_screen(tPage[1]), 1);
    EXPECT_EQ(page_screen(tPage[2]), 2);
    EXPECT_EQ(page_screen(tPage[5]), 5);
    EXPECT_EQ(page_screen(tPage[7]), 7);
    for (int s : {0, 3, 4, 6, 8, 1023})
        EXPECT_EQ(tPage[s], badPage) << s;
    EXPECT_EQ(PAGE_num, 4);
    EXPECT_EQ(pPgmHdr, kesta_pgm_bl + 8);

    // The next pass changes nothing.
    calls = pass();
    EXPECT_EQ(count(calls, "OBJM_OpenPage"), 0u);
    EXPECT_EQ(count(calls, "OBJM_Init"), 0u);
    EXPECT_EQ(count(calls, "OBJM_Update"), 1u);
}

TEST_F(PgmTest, HeaderFieldsCountOnlyWhenTheHeaderReachesThem) {
    struct Case {
        const char *json;
        bool unicode, asterisks;
        uint32_t touch;
    };
    const Case cases[] = {
        {R"({"flags": 768, "touch_register": 3136, "pages": [{"screen": 1}]})", true, true, 3136},
        {R"({"flags": 256, "touch_register": 3136, "header_length": 48, "pages": [{"screen": 1}]})",
         true, false, 0},
        {R"({"flags": 512, "header_length": 16, "pages": [{"screen": 1}]})", false, true, 0},
    };
    for (const Case &c : cases) {
        panel_reset_all();
        program(c.json);
        PGM_state = 4;
        pass();
        EXPECT_EQ(PGM_state, 5) << c.json;
        EXPECT_EQ(PGM_UnicodePresent, c.unicode) << c.json;
        EXPECT_EQ(PGM_bShowAsterixForNodata, c.asterisks) << c.json;
        EXPECT_EQ(PGM_TchSenAddr, c.touch) << c.json;
        EXPECT_EQ(pTchSenRcb != nullptr, c.touch != 0)
            << c.json << ": the touch-sensor register is linked";
        // The pages follow the header at its own length.
        EXPECT_EQ(page_screen(tPage[1]), 1) << c.json;
        for (uint8_t *p : {pPGM_Alarms, pPGM_Video, pPGM_Scap, pPGM_Cfmgr, pPGM_ExtRef, pPGM_Menus})
            EXPECT_EQ(p, nullptr) << c.json;
    }
    PGM_UnicodePresent = false;
}

// The application's fonts (ids 8 and up) come from the font table block when
// the program's check word matches the table's first word; otherwise only
// the built-in fonts draw. The block's claimed length never reaches past its
// buffer.
TEST_F(PgmTest, ApplicationFontsFollowTheProgramsCheckWord) {
    // One font: count 1, its offset at byte 16, a 112-byte record and two
    // glyphs of one byte per row.
    std::vector<uint8_t> data(20 + kFontHeader + 2 * 10, 0);
    put_le32(&data[0], 1);
    put_le32(&data[16], 20);
    uint8_t *f = &data[20];
    put_le32(f + kFontAscent, 8), put_le32(f + kFontDescent, 2);
    put_le32(f + kFontMaxWidth, 8), put_le32(f + kFontAvgWidth, 8);
    put_le32(f + kFontFirst, 0x41), put_le32(f + kFontLast, 0x42);
    put_le32(f + kFontDefault, 0x41), put_le32(f + kFontBytesPerRow, 1);
    struct Case {
        uint32_t check, length;
        int selected;
    };
    const Case cases[] = {
        {1, uint32_t(data.size()), 1}, // check word = the table's first word
        {2, uint32_t(data.size()), 0}, // mismatch: no application fonts
        {1, 0xFFFFFFF0u, 1},           // a length past the buffer is cut to it
    };
    for (const Case &c : cases) {
        panel_reset_all();
        program(("{\"fonts_check\": " + std::to_string(c.check) + ", \"pages\": [{\"screen\": 1}]}")
                    .c_str());
        std::memcpy(font_table_bl + 8, data.data(), data.size());
        put_le32(font_table_bl + 4, c.length);
        PGM_state = 4;
        pass();
        DC dc{};
        int w = 0, h = 0;
        EXPECT_EQ(GDI_SelectFont(&dc, 8, &w, &h), c.selected) << c.check << " " << c.length;
        if (c.selected) {
            EXPECT_EQ(h, 10);
        }
        EXPECT_EQ(GDI_SelectFont(&dc, 0, &w, &h), 1); // the built-in fonts always
    }
    PGM_Destroy();
    DC dc{};
    EXPECT_EQ(GDI_SelectFont(&dc, 8, nullptr, nullptr), 0); // gone with the program
}

TEST_F(PgmTest, DamagedProgramIsWalkedOnlyInsideItsBlock) {
    // More pages announced than there are, and a page of no class in the
    // middle: the walk stops there, inside the block.
    program(R"({"page_count": 60000, "pages": [{"screen": 1}, {"screen": 3},
                {"screen": 4, "objects": [{"type": 4000}]}, {"screen": 9}]})");
    PGM_state = 4;
    Calls calls = pass();
    EXPECT_EQ(PGM_state, 5);
    EXPECT_EQ(count(calls, "OBJM_ScanPage"), 3u);
    EXPECT_EQ(page_screen(tPage[4]), 4);
    EXPECT_EQ(tPage[9], badPage);
}

// The screen program block cut short at several points (the rest of its
// buffer poisoned): the walk registers the pages that start inside the block
// and opens only those whose records end inside it; nothing past the block's
// length is read, and the whole block sets up as always.
TEST_F(PgmTest, ProgramCutShortIsWalkedOnlyUpToItsLength) {
    program();
    const uint32_t whole = le32(kesta_pgm_bl + 4);
    PGM_state = 4;
    pass();
    const uint8_t *h = kesta_pgm_bl + 8;
    auto at = [&](int screen) { return uint32_t(tPage[screen] - h); };
    const uint32_t p1 = at(1), p2 = at(2), p5 = at(5), p7 = at(7);
    struct Row {
        const char *what;
        uint32_t length;
        std::vector<int> registered, opened;
    };
    // clang-format off
    const Row rows[] = {
        {"whole",                        whole,   {1, 2, 5, 7}, {1, 2, 5}},
        {"inside the last page",         p7 + 10, {1, 2, 5, 7}, {1, 2, 5}},
        {"inside a page header",         p5 + 10, {1, 2, 5},    {1, 2}},
        {"where a page starts",          p5,      {1, 2},       {1, 2}},
        {"inside an object record",      p2 + 30, {1, 2},       {1}},
        {"one byte of the first page",   p1 + 1,  {},           {}},
        {"header only",                  16,      {},           {}},
    };
    // clang-format on
    for (const Row &r : rows) {
        SCOPED_TRACE(r.what);
        put_le32(kesta_pgm_bl + 4, r.length);
        PoisonPast past(kesta_pgm_bl + 8, app::kConfigParts[3].capacity - 8, r.length);
        PGM_state = 4;
        pass();
        std::vector<int> registered, opened;
        for (int screen = 1; screen < kScreens; ++screen) {
            if (tPage[screen] == badPage) continue;
            registered.push_back(screen);
            if (OBJM_OpenPage(nullptr, tPage[screen])) opened.push_back(screen);
        }
        EXPECT_EQ(registered, r.registered);
        EXPECT_EQ(opened, r.opened);
    }
}

TEST_F(PgmTest, ScreenSelection) {
    running();
    struct Step {
        const char *what;
        std::function<void()> set;
        uint16_t current, mode;
        bool opens;
    };
    // clang-format off
    const Step steps[] = {
        {"user screen from %SR1",          [] { sr_put(1, 5); },  5, 1, true},
        {"same screen: nothing reopens",   [] {},                 5, 1, false},
        {"forced screen wins over %SR1",   [] { sr_put(2, 1); },  1, 2, true},
        {"%SR1 changes under %SR2",        [] { sr_put(1, 2); },  1, 2, false},
        {"forced screen cleared",          [] { sr_put(2, 0); },  2, 1, true},
        {"screen without a page",          [] { sr_put(1, 3); },  3, 1, true},
        {"screen number out of range",     [] { sr_put(1, 1024); }, 0, 1, true},
        {"forced number out of range",     [] { sr_put(2, 5000); }, 0, 2, true},
        {"touch calibration",              [] { sr_put(2, 0); sr_put(3, 21); }, 21, 3, true},
        {"system menu page",               [] { sr_put(3, 5); },  5, 3, true},
        {"menu page stays open",           [] {},                 5, 3, false},
        {"recovery screen needs recovery", [] { sr_put(3, 23); }, 0, 1, true},
        {"boot screen needs loader mode",  [] { sr_put(3, 22); }, 0, 1, false},
        {"loader mode",                    [] { BootMode = 1; }, 22, 3, true},
        {"loader mode keeps calibration",  [] { sr_put(3, 21); }, 21, 3, true},
        {"recovery mode",                  [] { BootMode = 0; RecoverMode = 1; sr_put(3, 0); }, 23, 3, true},
        // The recovery screen sets the boot-mode flag too; its EXIT clears both.
        {"back to user screens",           [] { RecoverMode = BootMode = 0; sr_put(3, 0); }, 0, 1, true},
    };
    // clang-format on
    for (const Step &s : steps) {
        s.set();
        Calls calls = pass();
        EXPECT_EQ(PAGE_current, s.current) << s.what;
        EXPECT_EQ(PAGE_mode, s.mode) << s.what;
        EXPECT_EQ(count(calls, "OBJM_OpenPage"), s.opens ? 1u : 0u) << s.what;
        EXPECT_EQ(count(calls, "OBJM_DestroyPage"), s.opens ? 1u : 0u)
            << s.what << ": the open page closes first";
        EXPECT_EQ(PGM_state, 5) << s.what;
    }
    EXPECT_EQ(sr_get(3), 0);
}

TEST_F(PgmTest, ErrorPageRecoversToTheStartScreen) {
    running();
    sr_put(1, 1024);
    pass();
    EXPECT_EQ(PAGE_current, 0);
    PGM_FaultPageRecover();
    EXPECT_EQ(sr_get(1), 2);
    pass();
    EXPECT_EQ(PAGE_current, 2);
    PGM_FaultPageRecover();
    EXPECT_EQ(sr_get(1), 2) << "a real page is left alone";
}

TEST_F(PgmTest, ScreenThatCannotOpenEntersTheDisplayFault) {
    struct Case {
        int sr1, sr2;
        uint16_t fault;
    };
    for (Case c : {Case{7, 0, 0x403}, Case{1, 7, 0x402}}) {
        panel_reset_all();
        running();
        sr_put(1, uint16_t(c.sr1));
        sr_put(2, uint16_t(c.sr2));
        Calls calls = pass();
        EXPECT_EQ(PGM_state, 1);
        EXPECT_EQ(PGM_fault, c.fault);
        EXPECT_EQ(count(calls, "OBJM_Update"), 0u) << "the pass ends at the failure";
        // The next pass shows the fault page once and keeps updating it.
        calls = pass();
        EXPECT_EQ(PAGE_mode, 4);
        EXPECT_EQ(PAGE_current, 0);
        EXPECT_EQ(
            only(calls,
                 {"OBJM_Init", "SYS_ResetRCBs", "SYS_LoadRCBs", "OBJM_OpenPage", "OBJM_Update"}),
            (Calls{"OBJM_Init", "SYS_ResetRCBs", "SYS_LoadRCBs", "SYS_ResetRCBs", "SYS_LoadRCBs",
                   "OBJM_OpenPage", "SYS_ResetRCBs", "SYS_LoadRCBs", "OBJM_Update"}));
        calls = pass();
        EXPECT_EQ(count(calls, "OBJM_OpenPage"), 0u);
        EXPECT_EQ(count(calls, "OBJM_Update"), 1u);
        EXPECT_EQ(PGM_state, 1) << "until the manager is created again";
    }
}

TEST_F(PgmTest, ControllerStatusPopup) {
    struct Case {
        const char *what;
        uint8_t mode, last;
        uint16_t sr5, sr34;
        uint8_t state_after;
        uint8_t last_after;
    };
    // With %SR34 = 1 and %SR55 = 0 the OK LED is 1; the RUN LED is 1 in run
    // mode with a program, 0 in idle.
    // clang-format off
    const Case cases[] = {
        {"no pop-ups",                    0, 0xFF, 0, 1, 0, 0x77},
        {"first report",                  2, 0xFF, 0, 1, 1, 0x01},
        {"status changed",                2, 0x01, 2, 1, 2, 0x11},
        {"unchanged",                     2, 0x11, 2, 1, 0, 0x11},
        {"mode 1: OK and running is quiet", 1, 0x01, 2, 1, 0, 0x11},
        {"mode 1: a fault reports",       1, 0x11, 0, 0, 2, 0x02},
    };
    // clang-format on
    for (const Case &c : cases) {
        panel_reset_all();
        running();
        put_le32(ladder_bl + 4, 4);
        put_le16(ladder_bl + 8, 0x0400); // a contact, not END
        popupMode = c.mode;
        popupState = 0;
        last_ctlr_status = c.last;
        last_plc_mode = c.sr5;
        sr_put(5, c.sr5);
        sr_put(34, c.sr34);
        Calls calls = pass();
        EXPECT_EQ(popupState, c.state_after) << c.what;
        EXPECT_EQ(last_ctlr_status, c.last_after) << c.what;
        EXPECT_EQ(count(calls, "OBJM_CreatePopup"), c.state_after ? 1u : 0u) << c.what;
    }
    // A system screen dismisses the pop-up; its run button starts the controller.
    popupState = 2;
    sr_put(3, 21);
    pass();
    EXPECT_EQ(popupState, 0);
    popupState = 1;
    sr_put(5, 0);
    SYS_ResetRCBs(2);
    PGM_InitRunCtrl();
    PGM_SetPopupState(4);
    EXPECT_EQ(popupState, 0);
    EXPECT_EQ(sr_get(5), 2);
    // States 3 and above belong to others and suspend the check.
    popupState = 3;
    popupMode = 2;
    last_ctlr_status = 0xFF;
    pass();
    EXPECT_EQ(last_ctlr_status, 0xFF);
}

TEST_F(PgmTest, CrashReportIsTheFirstPopup) {
    SYS_Exception = 5;
    PGM_Create(1);
    EXPECT_EQ(popupState, 5);
    EXPECT_EQ(SYS_Exception, 0);
    EXPECT_EQ(last_ctlr_status, 0xFF);
    EXPECT_EQ(PGM_state, 3);
}

TEST_F(PgmTest, SwitchToRunShowsTheStartScreen) {
    running();
    sr_put(1, 5);
    pass();
    sr_put(5, 2);
    Calls calls = pass();
    EXPECT_EQ(only(calls, {"OBJM_FlushUserScreens", "OBJM_SwitchUserScreen"}),
              (Calls{"OBJM_FlushUserScreens", "OBJM_SwitchUserScreen"}));
    calls = pass();
    EXPECT_EQ(count(calls, "OBJM_SwitchUserScreen"), 0u) << "only on the change";
}

TEST_F(PgmTest, BackupAndCloneRequests) {
    running();
    // Store and erase requests.
    sr_put(164, 0x40 | 0x80);
    Calls calls = pass();
    EXPECT_EQ(count(calls, "StoreBBRAM"), 1u);
    EXPECT_EQ(count(calls, "EraseBackupData"), 1u);
    EXPECT_EQ(sr_get(164) & 0x80, 0);
    // The backup store's report.
    crcsize_tbl[app::kRegFileSize] = 'Z';
    crcsize_tbl[app::kRegFileSize + 4] = 0;
    sr_put(164, 0);
    pass();
    EXPECT_EQ(sr_get(164), 0x0C);
    crcsize_tbl[app::kRegFileSize + 4] = 0xFF;
    pass();
    EXPECT_EQ(sr_get(164), 0x08);
    crcsize_tbl[app::kRegFileSize] = 0;
    pass();
    EXPECT_EQ(sr_get(164), 0);
    // Clone requests wait for the media.
    sr_put(164, 0x100);
    pass();
    EXPECT_EQ(sr_get(3), 0);
    Sys_CFinitTime = 6;
    pass();
    EXPECT_EQ(PAGE_current, 20);
    EXPECT_EQ(PAGE_mode, 3);
    Clon_McInited = 1;
    sr_put(164, 0);
    pass();
    EXPECT_EQ(Clon_McInited, 0);
    // Auto-load-run once the media is ready.
    sr_put(3, 0);
    Sys_AutoLoad = 1;
    pass();
    EXPECT_EQ(sr_get(3), 13);
}

TEST_F(PgmTest, DestroyClosesThePageAndStops) {
    running();
    host::trace_start();
    PGM_Destroy();
    Calls calls = host::trace_calls();
    EXPECT_EQ(only(calls, {"OBJM_DestroyPage", "BKLT_Ctrl", "TCH_ScreenSaver", "TCH_BeepOvrd"}),
              (Calls{"OBJM_DestroyPage", "BKLT_Ctrl", "TCH_ScreenSaver", "TCH_BeepOvrd"}));
    EXPECT_EQ(sr_get(57), 255);
    EXPECT_EQ(PAGE_current, 0);
    EXPECT_EQ(PGM_state, 2);
    // Created again after a download: set up from scratch.
    PGM_Create(0);
    pass();
    EXPECT_EQ(PGM_state, 5);
}

// The display-fault page for each fault, as the operator sees it.
class PgmPictureTest : public VideoTest {};

TEST_F(PgmPictureTest, DisplayFaultPages) {
    struct Case {
        const char *name;
        std::function<void()> set;
    };
    const Case cases[] = {
        {"open_user_screen", [] { sr_put(1, 7); }},
        {"open_alarm_screen", [] { sr_put(2, 7); }},
        {"open_system_screen",
         [] {
             PGM_state = 1;
             PGM_fault = 0x401;
         }},
        {"no_user_screens",
         [] {
             put_le32(kesta_pgm_bl + 4, 0);
             PGM_Create(0);
             PGM_state = 4;
         }},
        {"graphics_invalid",
         [] {
             put_le32(kesta_pgm_bl + 4, 0);
             PGM_Create(0);
         }},
        {"auto_load_run",
         [] {
             put_le32(kesta_pgm_bl + 4, 0);
             PGM_Create(0);
             sr_put(164, 0x20);
             Sys_AppLoad = 1;
         }},
        {"other_fault",
         [] {
             PGM_state = 1;
             PGM_fault = 0x123;
         }},
    };
    for (const Case &c : cases) {
        panel_reset_all();
        start(false, "480x272");
        pDC = GDI_CreateDC(0, 0);
        ASSERT_TRUE(load_screen_program(kProgram));
        PGM_Create(1);
        PGM_TheLoop(0);
        ASSERT_EQ(PGM_state, 5);
        c.set();
        for (int i = 0; i < 2; ++i)
            PGM_TheLoop(0);
        EXPECT_EQ(PGM_state, 1) << c.name;
        EXPECT_EQ(PAGE_mode, 4) << c.name;
        EXPECT_EQ(
            screen_snapshot_diff(std::string("tests/system/snapshots/fault_") + c.name + ".png"),
            "")
            << c.name;
    }
    pDC = nullptr;
}

// The string table's data starts with its length and 4 bytes not read: the
// texts start after them; the other tables' data at their buffer + 8.
TEST_F(PgmTest, TextsStartAfterTheStringTableHead) {
    struct Case {
        uint32_t length;
        uint8_t *strings;
    };
    const Case cases[] = {
        {0, nullptr}, {8, nullptr}, {9, string_table_bl + 16}, {604, string_table_bl + 16}};
    for (const Case &c : cases) {
        panel_reset_all();
        program();
        put_le32(string_table_bl + 4, c.length);
        put_le32(text_table_bl + 4, 12);
        PGM_state = 4;
        pass();
        EXPECT_EQ(pPGM_Strings, c.strings) << c.length;
        EXPECT_EQ(pPGM_TextTbls, text_table_bl + 8) << c.length;
    }
}
