// System services: backlight, function keys, option outputs, watchdog tickle,
// the battery-backed memory of the screen objects, the per-pass system update
// of the screen program, warm reset and clear-all.
#include "base/le.h"
#include "base/trace.h"
#include "data/cfm.h"
#include "data/data.h"
#include "host/board.h"
#include "host/config.h"
#include "host/power.h"
#include "host/root.h"
#include "panel_fixture.h"
#include "plc/fram.h"
#include "regs/plc_reg.h"
#include "regs/regname.h"
#include "serial/serial.h"
#include "system/appfile.h"
#include "system/reglink.h"
#include "system/sys.h"
#include "system/touch.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Calls = std::vector<std::string>;
size_t count(const Calls &calls, const char *name) {
    return size_t(std::count(calls.begin(), calls.end(), name));
}
uint16_t k_word() {
    return le16(plc_reg + reg::kK);
}
uint8_t *r_ptr(int n) {
    return plc_reg + reg::kR + 2u * uint32_t(n - 1);
}

class SysTest : public PanelTest {
protected:
    std::string brightness() { return read_file("/sys/class/backlight/mxs-bl/brightness"); }
    bool exists(const char *board_path) { return std::filesystem::exists(host::path(board_path)); }
    std::shared_ptr<host::PinctrlModel> pins() {
        return host::devmem_model<host::PinctrlModel>(host::soc::kPinctrl);
    }
    // A level the line is driven to; -1 while it is not driven.
    int line(int bank, int pin) {
        auto p = pins();
        if (!p || !p->driven(bank, pin)) return -1;
        return p->output(bank, pin) ? 1 : 0;
    }
};

TEST_F(SysTest, BacklightLimitsKeptLevelsAndWritesTheLowByte) {
    struct Case {
        int keep, level;
        uint16_t sr57; // afterwards (77 before)
        const char *text;
    };
    const Case cases[] = {
        {0, 150, 100, "100"},
        {0, 40, 40, "40"},
        {1, 255, 77, "255"}, // the screen saver's own levels leave %SR57 alone
        {1, 300, 77, "44"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.level);
        sr_put(57, 77);
        BKLT_Ctrl(c.keep, c.level);
        EXPECT_EQ(sr_get(57), c.sr57);
        EXPECT_EQ(brightness(), c.text);
    }
}

TEST_F(SysTest, FunctionKeysSetWhileHeldOrToggle) {
    // Normal mode: set while held, cleared on release.
    EXPECT_EQ(SYS_KeyPut(3), 1);
    EXPECT_EQ(sr_get(56), 3);
    EXPECT_EQ(k_word(), 0x0004);
    EXPECT_EQ(SYS_KeyPut(255), 1);
    EXPECT_EQ(sr_get(56), 255);
    EXPECT_EQ(k_word(), 0);
    // A second key while one is held: releasing leaves no key set.
    SYS_KeyPut(2);
    SYS_KeyPut(10);
    EXPECT_EQ(k_word(), 0x0200);
    SYS_KeyPut(255);
    EXPECT_EQ(k_word(), 0);
    // Keys beyond F10 never reach the %K bits.
    SYS_KeyPut(11);
    EXPECT_EQ(k_word(), 0);

    // Toggle mode: F3 twice leaves %K3 as it was, releases change nothing.
    sr_put(33, 1);
    for (uint16_t before : {uint16_t(0), uint16_t(0x0004)}) {
        put_le16(plc_reg + reg::kK, uint16_t(before | 0x8000));
        SYS_KeyPut(3);
        EXPECT_EQ(k_word(), (before ^ 0x0004) | 0x8000);
        SYS_KeyPut(255);
        EXPECT_EQ(k_word(), (before ^ 0x0004) | 0x8000);
        SYS_KeyPut(3);
        SYS_KeyPut(255);
        EXPECT_EQ(k_word(), before | 0x8000);
    }
}

TEST_F(SysTest, KeypadLockedBySr173) {
    EXPECT_EQ(SYS_KeyEnabled(), 1);
    sr_put(173, 1);
    EXPECT_EQ(SYS_KeyEnabled(), 0);
}

TEST_F(SysTest, OptionOutputsDriveTheirLines) {
    SYS_MenuOption(0, 0x21); // bit 0 of %SR164 counts
    EXPECT_EQ(line(3, 14), 1);
    SYS_MenuOption(0, 0x20);
    EXPECT_EQ(line(3, 14), 0);
    SYS_MenuOption(1, 1);
    EXPECT_EQ(line(2, 28), 1);
    SYS_MenuOption(1, 0);
    EXPECT_EQ(line(2, 28), 0);
    EXPECT_EQ(line(2, 27), -1) << "the FRAM's chip select is not an option line";

    sr_put(152, 0x0103);
    SYS_ExtendedOption(4);
    EXPECT_EQ(line(0, 17), 1);
    EXPECT_EQ(sr_get(152), 0x0107);
    SYS_ExtendedOption(0);
    EXPECT_EQ(line(0, 17), 0);
    EXPECT_EQ(sr_get(152), 0x0103);
}

TEST_F(SysTest, MenuOption2PassesTheOptionBoardCodes) {
    const std::vector<int> passed = {0, 1, 2, 3, 4, 7, 10, 11, 13};
    for (int code = 0; code <= 16; ++code) {
        host::trace_start();
        SYS_MenuOption2(code);
        bool expected = std::find(passed.begin(), passed.end(), code) != passed.end();
        EXPECT_EQ(count(host::trace_calls(), "OCB_DfltPortChange"), expected ? 1u : 0u) << code;
    }
}

TEST_F(SysTest, TickleMarksTheStatusWordEvenWithoutAWatchdog) {
    host::config_set("watchdog", "0");
    StartWatchdog();
    EXPECT_EQ(wdog, -1);
    Persist_Set(0x0021);
    TickleWatchdogReal();
    EXPECT_EQ(Persist_Get(), 0x8021u);
}

TEST_F(SysTest, BatteryBackedAreasAndCopies) {
    SYS_InitBBR();
    EXPECT_EQ(SYS_AllocBBR(), 128u);
    SYS_ExpandBBR(5); // odd sizes take an even count
    EXPECT_EQ(SYS_AllocBBR(), 134u);
    SYS_ExpandBBR(4);
    EXPECT_EQ(SYS_AllocBBR(), 138u);
    SYS_InitBBR();
    EXPECT_EQ(SYS_AllocBBR(), 128u);

    std::vector<uint8_t> src(16);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = uint8_t(0xA0 + i);
    std::memset(bbram, 0x11, sizeof bbram);
    SYS_WriteCmd(src.data(), 4090, 16); // only 6 bytes fit
    EXPECT_TRUE(std::equal(src.begin(), src.begin() + 6, bbram + 4090));
    EXPECT_EQ(bbram[4089], 0x11);
    SYS_WriteCmd(src.data(), 4096, 16); // nothing at the end or beyond

    std::vector<uint8_t> out(16, 0x55);
    EXPECT_EQ(SYS_ReadCmd(out.data(), 10, 4), 4u);
    EXPECT_EQ(out[0], 0x11);
    EXPECT_EQ(out[4], 0x55);
    // A read past the end copies only what lies inside.
    out.assign(16, 0x55);
    EXPECT_EQ(SYS_ReadCmd(out.data(), 4090, 16), 6u);
    EXPECT_TRUE(std::equal(src.begin(), src.begin() + 6, out.begin()));
    EXPECT_EQ(out[6], 0x55);
    EXPECT_EQ(SYS_ReadCmd(out.data(), 4096, 1), 0u);

    SYS_ClearCmd();
    EXPECT_TRUE(std::all_of(bbram, bbram + sizeof bbram, [](uint8_t b) { return b == 0; }));
}

TEST_F(SysTest, CalibrationRecordKeepsTheFileOrder) {
    PrmTbl = {1, 1, 0, 0, 800, 480};
    EXPECT_EQ(SYS_GetParmTbl(), &PrmTbl);
    EXPECT_EQ(PrmTbl.xscale, 800) << "no file: the record stays as it is";
    write_file("/mnt/cfg/.keep", "");
    const TouchCal rec{4000, 3900, 120, 130, 3700, 3600};
    EXPECT_EQ(SYS_SaveParmTbl(&rec), 1);
    std::string file = read_file("/mnt/cfg/cal.dta");
    ASSERT_EQ(file.size(), 24u);
    EXPECT_EQ(le32(file.data()), 4000u);
    EXPECT_EQ(le32(file.data() + 20), 3600u);
    TouchCal *got = SYS_GetParmTbl();
    EXPECT_EQ(got->xmax, 4000);
    EXPECT_EQ(got->yoff, 130);
    EXPECT_EQ(got->yscale, 3600);
}

// ------------------------------------------------------------ SYS_Update

class SysUpdateTest : public SysTest {
protected:
    static constexpr uint32_t kSlots[kSysChannels] = {
        mbox::kGeneric, mbox::kLogger, mbox::kReport,    mbox::kRecipe,         mbox::kAlarm,
        mbox::kEmail,   mbox::kTrend,  mbox::kTrendRead, mbox::kParviTrendRead, mbox::kDebugLog};
    // A client posts: the request toggle made to differ from the answer.
    void post(int channel) {
        uint8_t *slot = dpram + kSlots[channel];
        slot[mbox::kRequest] = slot[mbox::kAnswer] ? 0 : 1;
        put_le32(slot + mbox::kResult, 0xDEAD);
    }
    bool busy(int channel) {
        const uint8_t *slot = dpram + kSlots[channel];
        return slot[mbox::kRequest] != slot[mbox::kAnswer];
    }
    uint32_t result(int channel) { return le32(dpram + kSlots[channel] + mbox::kResult); }
    void TearDown() override {
        std::memset(dpram, 0, kDpramBytes);
        SysTest::TearDown();
    }
};

TEST_F(SysUpdateTest, EveryChannelIsQueuedThenAnsweredFromItsOwnBlock) {
    CFCB *blocks[kSysChannels] = {pDpramCFCB,          pLoggerCFCB,   pReportCFCB, pRecipeCFCB,
                                  pAlarmCFCB,          pEmailCFCB,    pTrendCFCB,  pTrendReadCFCB,
                                  pParviTrendReadCFCB, pDBGLoggerCFCB};
    for (int ch = 0; ch < kSysChannels; ++ch) {
        SCOPED_TRACE(ch);
        ASSERT_NE(blocks[ch], nullptr);
        post(ch);
        SYS_Update();
        EXPECT_EQ(SYS_ChannelState(ch), 2);
        EXPECT_TRUE(busy(ch));
        // The media manager still runs the channel's request: the slot waits.
        blocks[ch]->state = kCfcbRunning;
        SYS_Update();
        EXPECT_EQ(SYS_ChannelState(ch), 2);
        EXPECT_TRUE(busy(ch));
        blocks[ch]->state = kCfcbDone;
        blocks[ch]->result = 40 + uint32_t(ch);
        SYS_Update();
        EXPECT_EQ(SYS_ChannelState(ch), 0);
        EXPECT_FALSE(busy(ch));
        EXPECT_EQ(result(ch), 40u + uint32_t(ch));
        // Nothing posted: nothing happens.
        SYS_Update();
        EXPECT_EQ(SYS_ChannelState(ch), 0);
    }
}

TEST_F(SysUpdateTest, ARefusedRequestIsOfferedAgainOnTheNextPass) {
    removeSafe = 1; // the loaders take nothing during a safe removal
    post(1);
    dpram[mbox::kLogger + mbox::kOpcode] = 9; // an opcode the slot does not take
    SYS_Update();
    SYS_Update();
    EXPECT_EQ(SYS_ChannelState(1), 0);
    EXPECT_TRUE(busy(1));
    EXPECT_EQ(result(1), 0xDEADu);
    removeSafe = 0;
    SYS_Update();
    EXPECT_EQ(SYS_ChannelState(1), 2);
    SYS_Update(); // the loader queues nothing: the idle block answers 97
    EXPECT_FALSE(busy(1));
    EXPECT_EQ(result(1), 97u);
}

TEST_F(SysUpdateTest, ScreenStartResetsTheFileAndLoggerChannelsOnly) {
    for (int ch : {0, 1, 2})
        post(ch);
    SYS_Update();
    SYS_InitGFX();
    EXPECT_EQ(SYS_ChannelState(0), 0);
    EXPECT_EQ(SYS_ChannelState(1), 0);
    EXPECT_EQ(SYS_ChannelState(2), 2);
}

TEST_F(SysUpdateTest, AlarmBitsAreCopiedUpToTheBufferSize) {
    for (int i = 0; i < 256; ++i)
        dpram[12 + i] = uint8_t(i + 1);
    std::memset(alarmBuf, 0xEE, sizeof alarmBuf);
    put_le32(dpram + 8, 16); // 16 bits requested
    SYS_Update();
    EXPECT_EQ(alarmBuf[0], 1);
    EXPECT_EQ(alarmBuf[1], 2);
    EXPECT_EQ(alarmBuf[2], 0xEE);
    put_le32(dpram + 8, 4096); // more than the alarms' 96 bits
    SYS_Update();
    EXPECT_EQ(alarmBuf[kAlarmBufBytes - 1], kAlarmBufBytes);
}

// The register mailbox keeps a trigger bit set until the update has seen it,
// and the update collects, so the bit is seen off on a later pass.
TEST_F(SysUpdateTest, AlarmTriggerPulseIsSeenOnceThenCleared) {
    uint32_t ref = 0, bits = 0;
    ASSERT_TRUE(RegName_Parse("%R100", &ref, &bits, nullptr));
    Dpram_Init();
    SYS_LoadAlarmRcb(ref, 16);
    uint8_t on[2] = {0x05, 0}, off[2] = {0, 0};
    PlcReg_Set(ref, on, 16);
    Dpram_Service(); // the pulse comes and goes between two updates
    PlcReg_Set(ref, off, 16);
    Dpram_Service();
    SYS_Update();
    EXPECT_EQ(alarmBuf[0], 0x05);
    Dpram_Service();
    SYS_Update();
    EXPECT_EQ(alarmBuf[0], 0);
}

TEST_F(SysUpdateTest, BeeperOverrideFollowsSr184InRunModeOnly) {
    struct Step {
        uint16_t mode, sr184;
        int calls;   // TCH_BeepOvrd calls of the pass
        int beeping; // override afterwards
    };
    const Step steps[] = {
        {2, 1, 1, 1},      {2, 1, 0, 1},               // applied once
        {2, 0x0100, 1, 0},                             // only the low byte counts
        {2, 5, 1, 1},      {0, 5, 1, 0},               // leaving run mode cancels it once
        {0, 5, 0, 0},      {1, 7, 0, 0}, {2, 7, 1, 1}, // back in run mode: applied again
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(testing::Message() << s.mode << "/" << s.sr184);
        sr_put(5, s.mode);
        sr_put(184, s.sr184);
        host::trace_start();
        SYS_Update();
        EXPECT_EQ(count(host::trace_calls(), "TCH_BeepOvrd"), size_t(s.calls));
        EXPECT_EQ(beep_ovrd, s.beeping);
    }
    // The screen program starting again applies the override anew.
    TCH_BeepOvrd(0);
    SYS_InitGFX();
    SYS_Update();
    EXPECT_EQ(beep_ovrd, 1);
}

TEST_F(SysUpdateTest, BacklightRegisterAndWakeBit) {
    sr_put(185, 1);
    sr_put(186, 5);
    SYS_InitGFX();
    EXPECT_EQ(sr_get(57), 100);
    EXPECT_EQ(brightness(), "100");
    EXPECT_EQ(saver_state, 1);
    EXPECT_EQ(saver_preset, 5u * 6000u);

    host::trace_start();
    SYS_Update();
    EXPECT_EQ(count(host::trace_calls(), "BKLT_Ctrl"), 0u) << "level 100 is applied already";

    sr_put(57, 0x8000 | 60);
    host::trace_start();
    SYS_Update();
    EXPECT_EQ(sr_get(57), 60);
    EXPECT_EQ(brightness(), "60");
    EXPECT_EQ(count(host::trace_calls(), "TCH_TickleSaver"), 1u);

    sr_put(57, 150);
    SYS_Update();
    EXPECT_EQ(sr_get(57), 100);
    EXPECT_EQ(brightness(), "100");
    host::trace_start();
    SYS_Update();
    EXPECT_EQ(count(host::trace_calls(), "BKLT_Ctrl"), 0u);
}

TEST_F(SysUpdateTest, TouchSensitivityIsAppliedWhenItsRegisterChanges) {
    SYS_ResetRCBs(2);
    SYS_InitTchSen(reg::kRefR + 16 * 3); // %R4
    ASSERT_NE(pTchSenRcb, nullptr);
    put_le16(r_ptr(4), 3);
    SYS_Update();
    EXPECT_EQ(release_delta, 75);
    release_delta = 25; // changed elsewhere: the register did not change
    SYS_Update();
    EXPECT_EQ(release_delta, 25);
    put_le16(r_ptr(4), 9);
    SYS_Update();
    EXPECT_EQ(release_delta, 125);
}

// ------------------------------------------------------------ resets

class SysResetTest : public SysTest {
protected:
    void SetUp() override {
        SysTest::SetUp();
        write_file("/mnt/cfg/.keep", "");
        ASSERT_EQ(CrtAutoSaveRegFile(), 1);
        FRAM_Init();
        put_le16(r_ptr(1), 4321);
        sr_put(100, 0x1234);
        for (size_t i = 0; i < sizeof bbram; ++i)
            bbram[i] = uint8_t(i * 3 + 1);
        expected_bbram.assign(bbram, bbram + sizeof bbram);
        Persist_Set(0x0021);
    }
    // Both FRAM banks hold this pass's registers and battery-backed memory.
    void expect_both_banks() {
        for (int bank : {1, 2}) {
            SCOPED_TRACE(bank);
            put_le16(r_ptr(1), 0);
            sr_put(100, 0);
            ASSERT_EQ(FRAM_XChange_Data(1, bank), 1);
            EXPECT_EQ(le16(r_ptr(1)), 4321);
            EXPECT_EQ(sr_get(100), 0x1234);
            std::vector<uint8_t> b(sizeof bbram);
            ASSERT_EQ(FRAM_BBRAM_XChange_Data(b.data(), int(b.size()), 1, bank), 1);
            EXPECT_EQ(b, expected_bbram);
        }
        FramBanks newest = FRAM_NewestBanks();
        EXPECT_EQ(newest.reg_bank, 2);
        EXPECT_EQ(newest.bbram_bank, 2);
    }
    std::vector<uint8_t> expected_bbram;
};

TEST_F(SysResetTest, WarmResetSavesEverythingAndReboots) {
    EXPECT_EXIT(SYS_WarmReset(), ::testing::ExitedWithCode(host::kExitReboot), "");
    EXPECT_EQ(Persist_Get(), 0x8000u);
    std::string regs = read_file("/mnt/cfg/autoreg.dta");
    ASSERT_EQ(regs.size(), app::kRegFileSize);
    EXPECT_EQ(le16(regs.data() + 8 + reg::kR), 4321);
    EXPECT_EQ(read_file("/mnt/cfg/bbram.dta"),
              std::string(expected_bbram.begin(), expected_bbram.end()));
    expect_both_banks();
}

TEST_F(SysResetTest, ClearAllErasesTheFilesAndKeepsFram) {
    write_file("/mnt/cfg/ladder.pgm", "program");
    write_file("/mnt/cfg/config.pgm", "config");
    write_file("/mnt/cfg/bkpreg.dta", "backup");
    EXPECT_EXIT(SYS_VDG(), ::testing::ExitedWithCode(host::kExitReboot), "");
    for (const char *gone : {"/mnt/cfg/ladder.pgm", "/mnt/cfg/config.pgm", "/mnt/cfg/autoreg.dta",
                             "/mnt/cfg/bkpreg.dta"})
        EXPECT_FALSE(exists(gone)) << gone;
    EXPECT_TRUE(exists("/mnt/cfg/retnreg.dta"));
    EXPECT_EQ(Persist_Get(), 0x8000u);
    expect_both_banks();
}

} // namespace
