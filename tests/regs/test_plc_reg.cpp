// Register image layout, reference forms and image initialisation.
#include "base/le.h"
#include "base/trace.h"
#include "host/config.h"
#include "host/root.h"
#include "iec/kernel/iec.h"
#include "platform/rtc.h"
#include "plc/sysreg.h"
#include "regs/plc_reg.h"
#include "support/panel_fixture.h"
#include "system/appfile.h"
#include "system/reginit.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

namespace {

class PlcRegTest : public PanelTest {
protected:
    static uint16_t word_at(uint32_t off) { return le16(plc_reg + off); }
    static std::vector<uint8_t> image() { return {plc_reg, plc_reg + reg::kImageSize}; }
    static void fill_image(uint8_t v) { std::memset(plc_reg, v, reg::kImageSize); }
    static bool all_zero(uint32_t off, uint32_t len) {
        return std::all_of(plc_reg + off, plc_reg + off + len, [](uint8_t b) { return b == 0; });
    }
    static bool all_ff(uint32_t off, uint32_t len) {
        return std::all_of(plc_reg + off, plc_reg + off + len, [](uint8_t b) { return b == 0xFF; });
    }
};

struct AreaRow {
    const char *name;
    uint32_t byte;
    uint32_t bytes;
    uint32_t first_ref;
    uint32_t unit; // bits per register
};

// clang-format off
const AreaRow kAreas[] = {
    {"%IG",  0x00000, 32,     1024,       1},
    {"%QG",  0x00020, 32,     1280,       1},
    {"%S",   0x00040, 32,     1536,       1},
    {"%K",   0x00060, 32,     1792,       1},
    {"%AIG", 0x00080, 64,     2048,       16},
    {"%AQG", 0x000C0, 64,     2560,       16},
    {"%SR",  0x00100, 384,    3072,       16},
    {"%F",   0x00280, 256,    6144,       16},
    {"%I",   0x00380, 256,    8192,       1},
    {"%Q",   0x00480, 256,    10240,      1},
    {"%T",   0x00580, 256,    12288,      1},
    {"%M",   0x00680, 256,    14336,      1},
    {"%AI",  0x00780, 1024,   16384,      16},
    {"%AQ",  0x00B80, 1024,   24576,      16},
    {"%R",   0x00F80, 100480, 32768,      16},
    {"%ET",  0x19800, 2048,   0x10008000, 1},
    {"%EM",  0x1A000, 2048,   0x1001C000, 1},
    {"%ESR", 0x1A800, 512,    0x10030000, 16},
};
// clang-format on

TEST_F(PlcRegTest, AreasFollowEachOtherAndResolveAtBothEnds) {
    for (size_t i = 0; i < std::size(kAreas); i++) {
        const AreaRow &a = kAreas[i];
        SCOPED_TRACE(a.name);
        uint32_t next = i + 1 < std::size(kAreas) ? kAreas[i + 1].byte : reg::kCtlData;
        EXPECT_EQ(a.byte + a.bytes, next);
        if (a.byte < reg::kDirectEnd) {
            EXPECT_EQ(a.first_ref, 1024 + 8 * a.byte);
        }
        uint32_t last_ref = a.first_ref + 8 * a.bytes - a.unit;
        EXPECT_EQ(PlcReg_Ptr(a.first_ref, a.unit), plc_reg + a.byte);
        EXPECT_EQ(PlcReg_Ptr(last_ref, a.unit), plc_reg + a.byte + a.bytes - (a.unit + 7) / 8);
    }
    EXPECT_EQ(reg::kMarker, reg::kCtlData + 112);
    EXPECT_EQ(reg::kImageSize, reg::kMarker + 8);
    EXPECT_EQ(sr_offset(1), 0x100u);
    EXPECT_EQ(sr_offset(192), 0x27Eu);
    EXPECT_EQ(sr_offset(193), 0x1A800u);
    EXPECT_EQ(sr_offset(448), 0x1A9FEu);
    EXPECT_EQ(sr_ref(1), 3072u);
    EXPECT_EQ(sr_ref(9), 3200u);
    EXPECT_EQ(sr_ref(193), 0x10030000u);
    EXPECT_EQ(sr_ref(448), 0x10030FF0u);
}

struct FormRow {
    const char *what;
    uint32_t ref;
    uint32_t bits;
    uint32_t byte; // image offset the access lands on
    unsigned bit;  // for one-bit accesses
};

// clang-format off
const FormRow kForms[] = {
    {"%I1 bit",             8192,                 1,  0x380,   0},
    {"%Q13 bit",            10252,                1,  0x481,   4},
    {"%M2048 last bit",     14336 + 2047,         1,  0x77F,   7},
    {"%R1 word",            32768,                16, 0xF80,   0},
    {"%R50240 last word",   32768 + 16 * 50239,   16, 0x197FE, 0},
    {"%AI3 32-bit",         16384 + 32,           32, 0x784,   0},
    {"%R50239 32-bit",      32768 + 16 * 50238,   32, 0x197FC, 0},
    {"%ET1 bit",            0x10008000,           1,  0x19800, 0},
    {"%ET16384 bit",        0x1000BFFF,           1,  0x19FFF, 7},
    {"%EM20 bit",           0x1001C000 + 19,      1,  0x1A002, 3},
    {"%ESR2 word",          0x10030010,           16, 0x1A802, 0},
    {"%ESR255 32-bit",      0x10030FE0,           32, 0x1A9FC, 0},
};
// clang-format on

TEST_F(PlcRegTest, EveryImageFormRoundTripsAtItsByte) {
    for (const FormRow &f : kForms) {
        SCOPED_TRACE(f.what);
        PlcReg_Reset();
        if (f.bits == 1) {
            plc_reg[f.byte] = 0xA5 & uint8_t(~(1u << f.bit)); // neighbours must survive
            uint8_t before = plc_reg[f.byte], one = 7, got = 0xEE;
            PlcReg_Set(f.ref, &one, 1);
            EXPECT_EQ(plc_reg[f.byte], before | (1u << f.bit));
            ASSERT_EQ(PlcReg_Get(&got, f.ref, 1), 1);
            EXPECT_EQ(got, 1);
            uint8_t zero = 0;
            PlcReg_Set(f.ref, &zero, 1);
            EXPECT_EQ(plc_reg[f.byte], before);
            ASSERT_EQ(PlcReg_Get(&got, f.ref, 1), 1);
            EXPECT_EQ(got, 0);
        } else {
            const uint8_t value[4] = {0x11, 0x22, 0x33, 0x44};
            uint8_t got[4] = {};
            PlcReg_Set(f.ref, value, f.bits);
            EXPECT_EQ(0, std::memcmp(plc_reg + f.byte, value, f.bits / 8));
            EXPECT_EQ(plc_reg[f.byte + f.bits / 8], 0) << "wrote past the access";
            ASSERT_EQ(PlcReg_Get(got, f.ref, f.bits), 1);
            EXPECT_EQ(0, std::memcmp(got, value, f.bits / 8));
        }
        EXPECT_EQ(PlcReg_Ptr(f.ref, f.bits), plc_reg + f.byte);
    }
}

struct BadRef {
    const char *what;
    uint32_t ref;
    uint32_t bits;
};

// clang-format off
const BadRef kBadRefs[] = {
    {"zero",                         0,           16},
    {"below 1024",                   1023,        1},
    {"end of the direct range",      0xCC400,     1},
    {"last %R word read as 32 bits", 0xCC3F0,     32},
    {"between direct and %ET",       0x10007FFF,  1},
    {"end of %ET",                   0x1000C000,  1},
    {"last %ET bits as a word",      0x1000BFF8,  16},
    {"before %EM",                   0x1001BFFF,  1},
    {"end of %EM",                   0x10020000,  1},
    {"between %EM and %ESR",         0x1002FFF0,  16},
    {"end of %ESR",                  0x10031000,  16},
    {"last %ESR word as 32 bits",    0x10030FF0,  32},
    {"far beyond",                   0x20000000,  16},
    {"width wraps around",           0x10030000,  0xFFFFFFF8},
};
// clang-format on

TEST_F(PlcRegTest, ReferencesOutsideTheirAreaAreRefused) {
    fill_image(0x5A);
    std::vector<uint8_t> before = image();
    for (const BadRef &b : kBadRefs) {
        SCOPED_TRACE(b.what);
        EXPECT_EQ(PlcReg_Ptr(b.ref, b.bits), nullptr);
        EXPECT_EQ(OldReg_Ptr(b.ref, b.bits), nullptr);
        uint8_t dst[8];
        std::memset(dst, 0xEE, sizeof dst);
        if (b.bits <= 64) {
            EXPECT_EQ(PlcReg_Get(dst, b.ref, b.bits), 0);
            EXPECT_EQ(dst[0], 0xEE) << "nothing may be written on refusal";
            const uint8_t src[8] = {1, 2, 3, 4, 5, 6, 7, 8};
            PlcReg_Set(b.ref, src, b.bits);
        }
    }
    EXPECT_TRUE(image() == before);
}

TEST_F(PlcRegTest, WriteFromBelowDoesNotReachIntoSystemRegisters) {
    const uint8_t src[4] = {1, 2, 3, 4};
    PlcReg_Set(reg::kRefSR - 16, src, 32); // %AQG32 and %SR1 together
    EXPECT_EQ(word_at(0xFE), 0);
    EXPECT_EQ(sr_get(1), 0);
    PlcReg_Set(reg::kRefSR - 16, src, 16); // %AQG32 alone is fine
    EXPECT_EQ(word_at(0xFE), 0x0201);
}

TEST_F(PlcRegTest, OldImageCoversDirectReferencesOnly) {
    sr_put(10, 0x1234);
    plc_reg[reg::kR] = 0x77;
    PlcOldInit();
    EXPECT_EQ(0, std::memcmp(old_reg, plc_reg, reg::kImageSize));
    EXPECT_EQ(OldReg_Ptr(32768, 16), old_reg + reg::kR);
    EXPECT_EQ(OldReg_Ptr(0xCC3F0, 16), old_reg + 0x197FE);
    EXPECT_EQ(OldReg_Ptr(0x10008000, 1), nullptr);
    EXPECT_EQ(OldReg_Ptr(0x10030000, 16), nullptr);
}

// External slot references: bit 31, slot in bits 8-0, bit offset in bits 20-12.
uint32_t ext_ref(uint32_t slot, uint32_t bit_offset) {
    return 0x80000000u | (bit_offset << 12) | slot;
}

TEST_F(PlcRegTest, ExternalSlotOutsideRunModeTwoReadsZerosAndFlagsTheSlot) {
    ExternalRegs[5][0] = 0xFF;
    ExternalRegs[5][1] = 0xFF;
    uint8_t buf[2] = {0xEE, 0xEE};
    for (uint16_t mode : {0, 1, 3}) {
        SCOPED_TRACE(mode);
        sr_put(5, mode);
        Ext_Obj_Comm_Status[5][2] = 0;
        ASSERT_EQ(PlcReg_Get(buf, ext_ref(5, 0), 16), 1);
        EXPECT_EQ(buf[0], 0);
        EXPECT_EQ(buf[1], 0);
        EXPECT_EQ(Ext_Obj_Comm_Status[5][2], 1);
        EXPECT_EQ(Ext_Obj_Comm_Status[4][2], 0);
    }
    sr_put(5, 2);
    Ext_Obj_Comm_Status[5][2] = 0;
    ASSERT_EQ(PlcReg_Get(buf, ext_ref(5, 0), 16), 1);
    EXPECT_EQ(buf[0], 0xFF);
    EXPECT_EQ(Ext_Obj_Comm_Status[5][2], 0);
}

TEST_F(PlcRegTest, ExternalSlotWithoutRedirectUsesTheSlotsFirstByte) {
    sr_put(5, 2);
    uint8_t one = 1, got = 0;
    // Bit offset 11: byte 1 of a driver's memory, but bit 3 of the slot's first byte.
    PlcReg_Set(ext_ref(7, 11), &one, 1);
    EXPECT_EQ(ExternalRegs[7][0], 0x08);
    ASSERT_EQ(PlcReg_Get(&got, ext_ref(7, 11), 1), 1);
    EXPECT_EQ(got, 1);

    const uint8_t word[2] = {0x34, 0x12};
    PlcReg_Set(ext_ref(7, 16), word, 16);
    EXPECT_EQ(le16(ExternalRegs[7]), 0x1234);
    EXPECT_EQ(PlcReg_Ptr(ext_ref(7, 0), 256), ExternalRegs[7]);
    EXPECT_EQ(PlcReg_Ptr(ext_ref(7, 0), 264), nullptr) << "longer than the slot";
}

TEST_F(PlcRegTest, ExternalRedirectIsFollowedOnlyInRunModeTwo) {
    uint8_t driver[64] = {};
    ExternalRegsOffsets[9] = driver;
    uint32_t ref = ext_ref(9, 16 * 8 + 5); // byte 16, bit 5 of the driver's memory
    uint8_t one = 1, got = 0;

    sr_put(5, 2);
    EXPECT_EQ(PlcReg_Ptr(ref, 1), driver + 16);
    PlcReg_Set(ref, &one, 1);
    EXPECT_EQ(driver[16], 0x20);
    ASSERT_EQ(PlcReg_Get(&got, ref, 1), 1);
    EXPECT_EQ(got, 1);
    const uint8_t word[2] = {0xCD, 0xAB};
    PlcReg_Set(ext_ref(9, 32 * 8), word, 16);
    EXPECT_EQ(le16(driver + 32), 0xABCD);

    sr_put(5, 0);
    EXPECT_EQ(PlcReg_Ptr(ref, 1), ExternalRegs[9]);
    ASSERT_EQ(PlcReg_Get(&got, ref, 1), 1);
    EXPECT_EQ(got, 0);
}

TEST_F(PlcRegTest, IecMarkedReferenceIsExternalWhileNoIecApplicationRuns) {
    sr_put(5, 2);
    EXPECT_EQ(PlcReg_Ptr(0xC0000003u, 16), ExternalRegs[3]);
}

TEST_F(PlcRegTest, BatteryMarkerTellsWhetherTheImageSurvived) {
    EXPECT_EQ(PlcBatCheck(), 0);
    PlcRegInit(1);
    EXPECT_EQ(PlcBatCheck(), 1);
    EXPECT_EQ(0, std::memcmp(plc_reg + reg::kMarker, "WATCHBAT", 8));
    plc_reg[reg::kMarker + 7] = 'X';
    EXPECT_EQ(PlcBatCheck(), 0);
}

TEST_F(PlcRegTest, TemporaryClearZeroesOutputsAndTemporaries) {
    fill_image(0xFF);
    PlcTmpClear();
    EXPECT_TRUE(all_zero(reg::kK, 32));
    EXPECT_TRUE(all_zero(reg::kQ, 256));
    EXPECT_TRUE(all_zero(reg::kT, 256));
    EXPECT_TRUE(all_zero(reg::kAQ, 1024));
    EXPECT_TRUE(all_zero(reg::kET, 2048));
    EXPECT_EQ(sbit_get(9), 0);
    EXPECT_EQ(sbit_get(10), 0);
    EXPECT_EQ(sbit_get(8), 1);
    EXPECT_EQ(sbit_get(11), 1);
    EXPECT_EQ(sr_get(57), 255);
    EXPECT_EQ(sr_get(58), 0);
    EXPECT_EQ(sr_get(62), 0);
    EXPECT_EQ(sr_get(184), 0);
    EXPECT_TRUE(all_ff(reg::kI, 256));
    EXPECT_TRUE(all_ff(reg::kM, 256));
    EXPECT_TRUE(all_ff(reg::kR, 100480));
    EXPECT_TRUE(all_ff(reg::kEM, 2048));
}

TEST_F(PlcRegTest, FullClearKeepsSystemAreasAndForces) {
    fill_image(0xFF);
    PlcRegClear();
    for (uint32_t off :
         {reg::kIG, reg::kQG, reg::kAIG, reg::kAQG, reg::kI, reg::kM, reg::kAI, reg::kR, reg::kEM})
        EXPECT_EQ(plc_reg[off], 0) << std::hex << off;
    EXPECT_TRUE(all_zero(reg::kR, 100480));
    EXPECT_EQ(plc_reg[reg::kS], 0xFF);
    EXPECT_EQ(plc_reg[reg::kS + 1], 0xFC) << "only %S9 and %S10 go, with the temporaries";
    EXPECT_TRUE(all_ff(reg::kS + 2, 30));
    EXPECT_TRUE(all_ff(reg::kF, 256));
    EXPECT_TRUE(all_ff(reg::kESR, 512));
    EXPECT_EQ(sr_get(1), 0xFFFF);
}

TEST_F(PlcRegTest, ClearWithIecApplicationStopsItAndDropsItsRetainedData) {
    write_file("/mnt/cfg/tr.ret", "retained");
    fill_image(0xFF);
    TrevantRuntime = 1;
    host::trace_start();
    PlcRegClear();
    TrevantRuntime = 0;
    EXPECT_EQ(host::trace_calls(),
              (std::vector<std::string>{"TrevantStop", "__Exit", "ClearTrevantFlags"}));
    EXPECT_FALSE(std::filesystem::exists(host::path("/mnt/cfg/tr.ret")));
    EXPECT_TRUE(all_ff(reg::kR, 100480));
    EXPECT_TRUE(all_ff(reg::kQ, 256));
}

TEST_F(PlcRegTest, InitSetsIdentityClockAndSystemBits) {
    fill_image(0xFF);
    std::memset(tinyImage, 0, sizeof tinyImage);
    tinyImage[10] = 0x01;
    tinyImage[11] = 0x02;
    tinyImage[12] = 0x03;
    tinyImage[13] = 0x04;
    sr_put(4, 0);
    sr_put(208, 3);  // FPGA mode: not part of the clock
    sr_put(210, 60); // time zone
    sr_put(211, 0x0101);
    dstActive = 0;
    host::trace_start();
    PlcRegInit(1);

    EXPECT_EQ(sr_get(35), 0x0304);
    EXPECT_EQ(sr_get(36), 0x0102);
    EXPECT_EQ(sr_get(38), 1552);
    EXPECT_EQ(sr_get(41), host::screen_width());
    EXPECT_EQ(sr_get(42), host::screen_height());
    EXPECT_EQ(sr_get(40), 0);
    EXPECT_EQ(sr_get(6), 0);
    EXPECT_EQ(sr_get(59), 0);
    EXPECT_EQ(sr_get(60), 2);
    EXPECT_EQ(sr_get(43), 255);
    EXPECT_EQ(dstActive, 1);

    // The clock reads invalid here: the default calendar is set and flagged.
    for (int i = 0; i < 7; i++)
        EXPECT_EQ(sr_get(44 + i), rtc_default[i]) << i;
    EXPECT_EQ(sr_get(4), sr4::kClock);
    const std::vector<std::string> clock_calls = {"RtcGet", "RtcCheck", "RtcSet", "SyncUtcWithRtc"};
    EXPECT_EQ(host::trace_calls(), clock_calls);
    EXPECT_EQ(sr_get(208), 3);
    EXPECT_EQ(sr_get(210), 60);
    EXPECT_EQ(sr_get(211), 0x0101);

    for (int n : {51,  56,  58,  63,  149, 150, 153, 156, 166, 168, 171, 172, 174, 175,
                  176, 178, 181, 182, 187, 188, 189, 190, 191, 192, 223, 300, 448})
        EXPECT_EQ(sr_get(n), 0) << "%SR" << n;
    EXPECT_EQ(sr_get(222), 0xFFFF);
    EXPECT_EQ(sr_get(57), 255);
    EXPECT_EQ(sr_get32(53), 0xFFFFFFFFu);
    EXPECT_EQ(sr_get(155), 1500);
    EXPECT_TRUE(all_zero(reg::kCtlData, 26));
    EXPECT_EQ(plc_reg[reg::kCtlData + 26], 0xFF);

    EXPECT_EQ(plc_reg[reg::kS], 0x40);
    EXPECT_EQ(sbit_get(13), 1);
    EXPECT_EQ(sbit_get(14), 0);
    EXPECT_EQ(sbit_get(15), 0);
    EXPECT_EQ(sbit_get(16), 1);
    for (int n = 17; n <= 208; n++)
        ASSERT_EQ(sbit_get(n), 0) << "%S" << n;
    EXPECT_EQ(sbit_get(209), 1);

    EXPECT_TRUE(all_zero(reg::kR, 100480));
    EXPECT_EQ(PlcBatCheck(), 1);
}

TEST_F(PlcRegTest, InitWithoutClearKeepsRetentiveRegisters) {
    fill_image(0xFF);
    PlcRegInit(0);
    EXPECT_TRUE(all_ff(reg::kR, 100480));
    EXPECT_TRUE(all_ff(reg::kM, 256));
    EXPECT_TRUE(all_zero(reg::kQ, 256));
    EXPECT_EQ(PlcBatCheck(), 0);
}

TEST_F(PlcRegTest, SystemRegisterHelpersSpanBothAreas) {
    sr_put32(192, 0x12345678);
    EXPECT_EQ(le16(plc_reg + 0x27E), 0x5678);
    EXPECT_EQ(le16(plc_reg + reg::kESR), 0x1234);
    EXPECT_EQ(sr_get32(192), 0x12345678u);
    sbit_put(12, 1);
    EXPECT_EQ(plc_reg[reg::kS + 1], 0x08);
    EXPECT_EQ(sbit_get(12), 1);
    sr_put(0, 1);
    sr_put(449, 1);
    EXPECT_EQ(sr_get(449), 0);
}

} // namespace
