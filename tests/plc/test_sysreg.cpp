// System-register writes: widths, limits and the registers that act at once.
#include "base/trace.h"
#include "platform/rtc.h"
#include "plc/sysreg.h"
#include "regs/plc_reg.h"
#include "support/panel_fixture.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Calls = std::vector<std::string>;

int write16(int n, uint16_t v) {
    uint8_t b[2] = {uint8_t(v), uint8_t(v >> 8)};
    return SysReg_Write(sr_ref(n), b, 16);
}
int write32(int n, uint32_t v) {
    uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    return SysReg_Write(sr_ref(n), b, 32);
}
int write_bit(uint32_t ref, uint8_t on) {
    return SysReg_Write(ref, &on, 1);
}

// Calls of other modules, without the network probes in between and without
// the contrast setting (whose owner may or may not record it).
Calls acting_calls() {
    Calls c = host::trace_calls();
    // The network set-up's and the run mode's own calls have tests of their own.
    for (const char *skip : {"Net_Test", "SYS_Contrast", "Net_Init", "_Can_SetEvent", "PMGR_Start",
                             "SMS_Start", "LOG_Start", "REPORT_Start", "AlarmLogToCF_Start",
                             "IoStart", "io_driver", "AutoSaveRegisters"})
        c.erase(std::remove(c.begin(), c.end(), skip), c.end());
    return c;
}

struct Limit {
    int n;
    uint32_t min, max;
    int width;
};

// The writable rows, as the register map documents them. %SR5 and %SR34 act
// without storing and are covered below; %SR9 takes anything.
// clang-format off
const Limit kLimits[] = {
    {1, 0, 1023, 16},   {2, 0, 1023, 16},   {3, 0, 28, 16},     {10, 0, 65535, 16},
    {29, 1, 253, 16},   {30, 0, 4, 16},     {32, 1, 40, 16},    {33, 0, 1, 16},
    {57, 0, 255, 16},   {58, 0, 65535, 16}, {62, 0, 65535, 16}, {63, 0, 0, 16},
    {151, 0, 65535, 16}, {152, 0, 4, 16},   {153, 0, 15, 16},   {154, 0, 65535, 16},
    {155, 135, 1500, 16}, {156, 0, 65535, 16}, {157, 0, 0xFFFFFFFF, 32}, {159, 0, 0xFFFFFFFF, 32},
    {161, 0, 0xFFFFFFFF, 32}, {163, 0, 65535, 16}, {164, 0, 65535, 16}, {165, 0, 65535, 16},
    {166, 0, 65535, 16}, {167, 2, 50, 16},  {168, 0, 65535, 16}, {169, 0, 65535, 16},
    {170, 0, 65535, 16}, {171, 0, 272, 16}, {172, 0, 480, 16},  {173, 0, 1, 16},
    {174, 0, 65535, 16}, {175, 0, 65535, 16}, {176, 0, 0xFFFFFFFF, 32}, {178, 0, 0xFFFFFFFF, 32},
    {180, 0, 2, 16},    {181, 0, 0xFFFFFFFF, 32}, {182, 0, 65535, 16}, {183, 0, 1, 16},
    {184, 0, 1, 16},    {185, 0, 1, 16},    {186, 5, 1200, 16}, {188, 0, 1000, 16},
    {189, 0, 1000, 16}, {191, 0, 1000, 16}, {192, 0, 1000, 16},
};
// clang-format on

int write_width(const Limit &l, uint32_t v) {
    return l.width == 32 ? write32(l.n, v) : write16(l.n, uint16_t(v));
}
uint32_t read_width(const Limit &l) {
    return l.width == 32 ? sr_get32(l.n) : sr_get(l.n);
}

class SysRegTest : public PanelTest {};

TEST_F(SysRegTest, WritableRowsTakeTheirLimitsAndRefuseBeyond) {
    for (const Limit &l : kLimits) {
        SCOPED_TRACE("%SR" + std::to_string(l.n));
        PlcReg_Reset();
        EXPECT_EQ(sr_info[l.n - 1].width, l.width);
        EXPECT_EQ(write_width(l, l.max), 1);
        EXPECT_EQ(read_width(l), l.max);
        EXPECT_EQ(write_width(l, l.min), 1);
        EXPECT_EQ(read_width(l), l.min);
        if (l.max < (l.width == 32 ? 0xFFFFFFFFu : 0xFFFFu)) {
            EXPECT_EQ(write_width(l, l.max + 1), 0);
            EXPECT_EQ(read_width(l), l.min) << "a refused write keeps the register";
        }
        if (l.min > 0) {
            EXPECT_EQ(write_width(l, l.min - 1), 0);
            EXPECT_EQ(read_width(l), l.min);
        }
    }
}

TEST_F(SysRegTest, EveryOtherRowRefusesWrites) {
    std::vector<int> open = {5, 9, 34, 44, 47};
    for (const Limit &l : kLimits) {
        open.push_back(l.n);
        if (l.width == 32) open.push_back(l.n + 1); // high word of a 32-bit row
    }
    for (int n = 1; n <= 192; n++) {
        if (std::find(open.begin(), open.end(), n) != open.end()) continue;
        SCOPED_TRACE("%SR" + std::to_string(n));
        sr_put(n, 0x4321);
        if (sr_info[n - 1].width == 0) {
            EXPECT_EQ(write16(n, 1), 0);
        } else {
            // Status registers: writable width, but no value passes.
            EXPECT_EQ(sr_info[n - 1].min, 1u);
            EXPECT_EQ(sr_info[n - 1].max, 0u);
        }
        EXPECT_EQ(write16(n, 0), 0);
        EXPECT_EQ(write16(n, 1), 0);
        EXPECT_EQ(write_bit(sr_ref(n), 1), 0);
        EXPECT_EQ(sr_get(n), 0x4321);
    }
    for (int n : {4, 6, 31, 55, 84})
        EXPECT_EQ(sr_info[n - 1].width, 16) << n;
}

TEST_F(SysRegTest, LimitsForTheIecBridge) {
    struct Row {
        int index;
        uint16_t min, max;
    };
    // clang-format off
    const Row rows[] = {
        {43, 0, 59}, {44, 0, 59}, {45, 0, 23}, {46, 1, 31}, {47, 1, 12}, {48, 1, 2100},
        {49, 1, 7}, {3, 1, 0}, {154, 135, 1500}, {156, 0, 0xFFFF}, {10, 0, 0},
    };
    // clang-format on
    for (const Row &r : rows) {
        uint16_t min = 0xEEEE, max = 0xEEEE;
        VmDbWordSR_MinMax(&min, &max, r.index);
        EXPECT_EQ(min, r.min) << r.index;
        EXPECT_EQ(max, r.max) << r.index;
    }
}

TEST_F(SysRegTest, SingleClockFieldsAreRefused) {
    for (int n = 44; n <= 50; n++) {
        sr_put(n, 7);
        host::trace_start();
        EXPECT_EQ(write16(n, 5), 0) << n;
        EXPECT_EQ(write_bit(sr_ref(n) + 1, 1), 0) << n;
        EXPECT_TRUE(host::trace_calls().empty()) << n;
        EXPECT_EQ(sr_get(n), 7);
    }
}

TEST_F(SysRegTest, ClockIsSetAsAWhole) {
    struct Case {
        int n;
        uint32_t bits;
        std::vector<uint16_t> words;
        Calls calls;
        int taken;
    };
    const Case cases[] = {
        {44, 96, {30, 15, 10, 29, 2, 2024}, {"RtcSet"}, 1},
        {44, 48, {0, 45, 23}, {"RtcTimeSet"}, 1},
        {47, 48, {31, 12, 2030}, {"RtcDateSet"}, 1},
        {47, 48, {29, 2, 2023}, {"RtcDateSet"}, 0}, // the clock refuses the calendar
        {44, 32, {1, 2}, {}, 0},
        {47, 96, {1, 1, 2000, 1, 1, 2000}, {}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.n) + "/" + std::to_string(c.bits));
        uint8_t in[12] = {};
        for (size_t i = 0; i < c.words.size(); i++) {
            in[2 * i] = uint8_t(c.words[i]);
            in[2 * i + 1] = uint8_t(c.words[i] >> 8);
        }
        host::trace_start();
        EXPECT_EQ(SysReg_Write(sr_ref(c.n), in, c.bits), c.taken);
        EXPECT_EQ(host::trace_calls(), c.calls);
        EXPECT_EQ(sr_get(44), 0) << "the clock code refreshes the registers";
        EXPECT_EQ(sr_get(47), 0);
    }
    uint16_t now[7] = {};
    RtcGet(now);
    EXPECT_EQ(std::vector<uint16_t>(now, now + 7),
              (std::vector<uint16_t>{0, 45, 23, 31, 12, 2030, 3}));
}

TEST_F(SysRegTest, WidthRule) {
    host::trace_start();
    EXPECT_EQ(write32(5, 2), 0);
    EXPECT_TRUE(host::trace_calls().empty()) << "a 32-bit run-mode write is refused";

    sr_put32(157, 0x12345678);
    EXPECT_EQ(write16(157, 0xBEEF), 1);
    EXPECT_EQ(sr_get32(157), 0x1234BEEFu);
    EXPECT_EQ(write32(157, 0xCAFEF00D), 1);
    EXPECT_EQ(sr_get32(157), 0xCAFEF00Du);

    // A word written from the middle of %SR1 would reach into %SR2.
    const uint8_t b[2] = {1, 1};
    sr_put(2, 9);
    EXPECT_EQ(SysReg_Write(sr_ref(1) + 8, b, 16), 0);
    EXPECT_EQ(sr_get(2), 9);
    EXPECT_EQ(SysReg_Write(sr_ref(1) + 8, b, 8), 1); // the high byte alone fits
    EXPECT_EQ(sr_get(1), 0x0100);
}

TEST_F(SysRegTest, BitWritesPassTheLimitsAsZeroOrOne) {
    sr_put(155, 1500);
    EXPECT_EQ(write_bit(sr_ref(155), 1), 0) << "1 is below the minimum 135";
    EXPECT_EQ(write_bit(sr_ref(155) + 3, 0xFF), 0);
    EXPECT_EQ(sr_get(155), 1500);
    sr_put(58, 0);
    EXPECT_EQ(write_bit(sr_ref(58) + 9, 0x80), 1);
    EXPECT_EQ(sr_get(58), 0x200);
}

TEST_F(SysRegTest, RegisterNineTakesAnyValue) {
    EXPECT_EQ(write16(9, 0xFFFF), 1);
    EXPECT_EQ(sr_get(9), 0xFFFF);
    EXPECT_EQ(write32(9, 0x00020001), 1);
    EXPECT_EQ(sr_get(9), 1);
    EXPECT_EQ(sr_get(10), 2);
}

TEST_F(SysRegTest, WritesOutsideTheSystemRegistersAreNotTaken) {
    const uint8_t b[2] = {1, 0};
    EXPECT_EQ(SysReg_Write(reg::kRefSR - 16, b, 16), 0);
    EXPECT_EQ(SysReg_Write(reg::kRefF, b, 16), 0);
    EXPECT_EQ(SysReg_Write(sr_ref(1), b, 0), 0);
}

struct Action {
    const char *what;
    uint32_t ref;
    uint32_t bits;
    uint16_t value;
    int taken;
    Calls calls; // see acting_calls()
    int stored;  // register number whose value must now be `value`, 0 when nothing is stored
};

TEST_F(SysRegTest, ImmediateActions) {
    // clang-format off
    const Action actions[] = {
        {"run mode",              sr_ref(5),   16, 2,  1, {"SetPlcMode"},               0},
        {"run mode over 4",       sr_ref(5),   16, 5,  0, {},                           0},
        {"run mode bit 1",        sr_ref(5)+1, 1,  1,  0, {},                           0},
        {"network id",            sr_ref(29),  16, 10, 1, {"Plc_NetInit"},              29},
        {"network id 254",        sr_ref(29),  16, 254, 0, {},                          0},
        {"network baud",          sr_ref(30),  16, 3,  1, {"Plc_NetInit"},              30},
        {"contrast",              sr_ref(32),  16, 20, 1, {},                           32},
        {"programming port",      sr_ref(34),  16, 1,  1, {"Cmd_PortInit"},             0},
        {"menu option 2",         sr_ref(163), 16, 7,  1, {"SYS_MenuOption2", "OCB_DfltPortChange"}, 163},
        {"menu option word",      sr_ref(164), 16, 1,  1, {"SYS_MenuOption"},           164},
        {"menu option bit 0",     5680,        1,  1,  1, {"SYS_MenuOption"},           0},
        {"menu option bit 1",     5681,        1,  1,  1, {"SYS_MenuOption"},           0},
        {"menu bit 2 stores only", 5682,       1,  1,  1, {},                           0},
        {"extended option",       5490,        1,  1,  1, {"SYS_ExtendedOption"},       0},
        {"slice 2",               sr_ref(167), 16, 2,  1, {"PGM_SetSlice"},             167},
        {"slice 50",              sr_ref(167), 16, 50, 1, {"PGM_SetSlice"},             167},
        {"slice 1",               sr_ref(167), 16, 1,  0, {},                           0},
        {"slice 51",              sr_ref(167), 16, 51, 0, {},                           0},
        {"pop-up mode",           sr_ref(180), 16, 1,  1, {"PGM_SetPopupMode"},         180},
        {"beeper",                sr_ref(183), 16, 1,  1, {"TCH_BeepEnable"},           183},
        {"screen saver on",       sr_ref(185), 16, 1,  1, {"TCH_ScreenSaver"},          185},
        {"screen saver time",     sr_ref(186), 16, 30, 1, {"TCH_ScreenSaver"},          186},
    };
    // clang-format on
    for (const Action &a : actions) {
        SCOPED_TRACE(a.what);
        PlcReg_Reset();
        host::trace_start();
        uint8_t b[2] = {uint8_t(a.value), uint8_t(a.value >> 8)};
        EXPECT_EQ(SysReg_Write(a.ref, b, a.bits), a.taken);
        EXPECT_EQ(acting_calls(), a.calls);
        if (a.stored) {
            EXPECT_EQ(sr_get(a.stored), a.value);
        }
    }
}

TEST_F(SysRegTest, RunModeAndPortAreNotStoredHere) {
    sr_put(4, sr4::kLogicFault);
    EXPECT_EQ(write16(5, 2), 1);
    EXPECT_EQ(sr_get(5), 0) << "SetPlcMode owns the run mode: a fault keeps it at 0";
    EXPECT_EQ(write16(34, 1), 1);
    EXPECT_EQ(sr_get(34), 0);
}

TEST_F(SysRegTest, MenuBitsAreStoredInPlace) {
    EXPECT_EQ(write_bit(5681, 1), 1);
    EXPECT_EQ(sr_get(164), 2);
    EXPECT_EQ(write_bit(5490, 1), 1);
    EXPECT_EQ(sr_get(152), 4);
}

TEST_F(SysRegTest, NetworkIdRespectsTheOwnIdCountAndClearsTheRangeFault) {
    sr_put(4, sr4::kNetIdRange | sr4::kBattery);
    sr_put(61, 55);
    EXPECT_EQ(write16(29, 200), 0) << "200 > 254 - 55";
    EXPECT_EQ(sr_get(4), sr4::kNetIdRange | sr4::kBattery);
    host::trace_start();
    EXPECT_EQ(write16(29, 199), 1);
    EXPECT_EQ(host::trace_calls(),
              (Calls{"Net_Test", "Plc_NetInit", "Net_Init", "_Can_SetEvent", "Net_Test"}));
    EXPECT_EQ(sr_get(29), 199);
    EXPECT_EQ(sr_get(4), sr4::kBattery);
    sr_put(61, 54);
    EXPECT_EQ(write16(29, 200), 1);
    sr_put(61, 300); // nonsense id count: nothing fits
    EXPECT_EQ(write16(29, 1), 0);
}

// What other code takes from the register names must agree with the table:
// the run modes SetPlcMode takes, the system screens, the 32-bit registers.
TEST_F(SysRegTest, NamedValuesAgreeWithTheTable) {
    EXPECT_EQ(sr_row(sr::kRunMode).min, uint32_t(sr::kModeIdle));
    EXPECT_EQ(sr_row(sr::kRunMode).max, uint32_t(sr::kMode4)) << "SetPlcMode refuses above mode 4";
    for (int screen : {sr::kSysScreenNone, sr::kSysScreenMenu, sr::kSysScreenAutoLoad,
                       sr::kSysScreenClone, sr::kSysScreenTouchCal, sr::kSysScreenBoot})
        EXPECT_LE(uint32_t(screen), sr_row(sr::kSystemScreen).max) << screen;
    for (int n : {sr::kMediaFree, sr::kMediaTotal, sr::kAlarmStatus})
        EXPECT_EQ(sr_row(n).width, 32) << "%SR" << n;
    EXPECT_EQ(sr_ref(sr::kLast + 1), reg::kRefESR);
    EXPECT_EQ(sr_ref(sr::kLast) + 16, reg::kRefF);
}

TEST_F(SysRegTest, PlcRegSetGoesThroughTheChecks) {
    const uint8_t one[2] = {1, 0}, ten[2] = {10, 0};
    host::trace_start();
    PlcReg_Set(sr_ref(167), one, 16);
    EXPECT_EQ(sr_get(167), 0);
    PlcReg_Set(sr_ref(167), ten, 16);
    EXPECT_EQ(sr_get(167), 10);
    PlcReg_Set(sr_ref(4), one, 16);
    EXPECT_EQ(sr_get(4), 0);
    PlcReg_Set(sr_ref(9), ten, 16);
    EXPECT_EQ(sr_get(9), 10);
    EXPECT_EQ(host::trace_calls(), Calls{"PGM_SetSlice"});
    // %SR193 onward are not checked.
    PlcReg_Set(sr_ref(200), ten, 16);
    EXPECT_EQ(sr_get(200), 10);
}

} // namespace
