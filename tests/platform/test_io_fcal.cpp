// Factory calibration of the base unit's analog inputs: a test station's
// command sequence through the registers, with the reference sources on the
// on-chip converter's model, the constants it leaves in FRAM, and the pairs
// that must not give constants.
#include "base/crc16.h"
#include "base/le.h"
#include "host/config.h"
#include "host/i2c.h"
#include "host/io_modules.h"
#include "panel_fixture.h"
#include "platform/io.h"
#include "platform/io_analog.h"
#include "platform/io_drv.h"
#include "platform/io_fcal.h"
#include "plc/fram.h"
#include "regs/plc_reg.h"

#include <cmath>
#include <cstring>
#include <memory>

namespace {

using namespace caltbl;

uint16_t R(int n) {
    return le16(plc_reg + reg::kR + 2u * unsigned(n - 1));
}
void set_R(int n, uint16_t v) {
    put_le16(plc_reg + reg::kR + 2u * unsigned(n - 1), v);
}

// An input of the base unit as the ADC sees it: counts per mA (or V) and
// a zero error in counts.
struct Input {
    double slope, zero;
};

class FactoryCalTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        FRAM_Init();
        host::config_set("io.slot0", "0xEF0E"); // the base unit's own I/O
        host::i2c_bus().attach(0x4C, expander);
    }
    // The reference source on input `ch` (1-4).
    void source(int ch, const Input &in, double value) {
        const long counts = std::lround(in.slope * value + in.zero);
        std::string err;
        ASSERT_TRUE(host::io_set(0, "ai" + std::to_string(ch), std::to_string(counts), &err))
            << err;
    }
    void pass(int n = 1) {
        for (int i = 0; i < n; ++i)
            factory_calib();
    }
    void enter() {
        sr_put(84, 0x71D4);
        pass();
        ASSERT_EQ(sr_get(84), 0x39A6);
    }
    // Writes a capture command and runs passes until it is taken (true) or
    // `limit` passes went by.
    bool capture(uint16_t cmd, int limit = 40) {
        set_R(9005, cmd);
        for (int i = 0; i < limit; ++i) {
            pass();
            if (R(9005) == 0) return true;
        }
        return false;
    }
    // The calibration block in FRAM; false when there is none.
    static bool read_fram(CalBlock &b) {
        uint8_t bytes[kCalBlockBytes] = {};
        const bool ok = FRAM_XChange_cal_Data(bytes, kCalBlockBytes, 1) == 1;
        cal_unpack(bytes, b);
        return ok;
    }
    CalBlock fram_block() {
        CalBlock b;
        EXPECT_TRUE(read_fram(b));
        return b;
    }
    std::shared_ptr<host::I2cExpander> expander = std::make_shared<host::I2cExpander>(0xFFFF);
};

// What the base unit reads (32000 = 20 mA or 10 V) from its raw value, the
// 12-bit result shifted left 4, through a pair of the block.
int32_t base_reading(uint16_t counts, uint16_t gain, uint16_t offset) {
    return ai_scale_base(int32_t(counts) << 4, gain, offset);
}

struct RangeCase {
    int ch, range;
    double low, high; // reference points, mA or V
    double per_unit;  // readings per mA or V
    Input in;
};
const RangeCase kRanges[] = {
    {2, 1, 1.0, 18.0, 1600, {180.0, 37.0}},  // 0-20 mA, zero error up
    {1, 2, 4.0, 18.0, 1600, {200.0, -21.0}}, // 4-20 mA, zero error down
    {4, 3, 0.5, 9.0, 3200, {420.0, 15.0}},   // 0-10 V
};

TEST_F(FactoryCalTest, StationSequenceStoresConstantsThatReadTheReferencePoints) {
    for (const RangeCase &c : kRanges) {
        SCOPED_TRACE(c.range);
        enter();
        set_R(9001, uint16_t(c.ch));
        set_R(9002, uint16_t(c.range));
        source(c.ch, c.in, c.low);
        ASSERT_TRUE(capture(0xAAAA));
        const uint16_t low_reading = R(9003);
        source(c.ch, c.in, c.high);
        ASSERT_TRUE(capture(0xCCCC));
        EXPECT_GT(R(9003), low_reading);
        const int word = 2 * (c.ch - 1) + (c.range == 3 ? 0 : 1);
        // Nothing reaches FRAM before the save.
        CalBlock before;
        if (read_fram(before)) {
            EXPECT_EQ(before.gain[word], c.range == 3 ? 33250 : 33350);
        }
        set_R(9006, 0xEEEE);
        pass();
        for (int n = 9000; n <= 9007; ++n)
            EXPECT_EQ(R(n), 0) << n;
        EXPECT_EQ(sr_get(84), 0x39A6);

        const CalBlock b = fram_block();
        EXPECT_EQ(b.marker, kCalMarker);
        EXPECT_NE(b.gain[word], c.range == 3 ? 33250 : 33350);
        // The stored pair makes the input read its reference points.
        for (double v : {c.low, c.high}) {
            const uint16_t counts = uint16_t(std::lround(c.in.slope * v + c.in.zero));
            EXPECT_NEAR(base_reading(counts, b.gain[word], b.offset[word]), v * c.per_unit, 3) << v;
        }
        const int bit = 1 << (c.ch - 1);
        EXPECT_TRUE((c.range == 3 ? sr_get(86) : sr_get(85)) & bit);
        EXPECT_EQ(ram_calib_tbl[(c.range == 3 ? kVoltGain : kCurGain) + c.ch - 1], b.gain[word]);
    }
    // Each input and range kept its own pair; untouched words are defaults.
    const CalBlock b = fram_block();
    EXPECT_EQ(b.gain[4], 33250); // input 3 voltage
    EXPECT_EQ(b.gain[5], 33350); // input 3 current
    EXPECT_EQ(b.offset[5], 0);
    for (int i = 8; i < 16; ++i)
        EXPECT_EQ(b.gain[i], 0) << i;
    EXPECT_EQ(sr_get(85), 0x3);
    EXPECT_EQ(sr_get(86), 0x8);

    // After a power cycle the table comes back from FRAM.
    panel_reset_all();
    FRAM_Init();
    CalBlock loaded;
    EXPECT_EQ(cal_LoadTbl(loaded), 1);
    EXPECT_EQ(std::memcmp(&loaded, &b, sizeof b), 0);
    EXPECT_EQ(ram_calib_tbl[kCurGain + 1], b.gain[3]);
    EXPECT_EQ(ram_calib_tbl[kCurFlag + 1], 1);
    factory_calib();
    EXPECT_EQ(sr_get(85), 0x3);
}

// Equal points would divide by zero, and a falling pair gives a negative
// gain: the high point is not taken, nothing changes and nothing is stored.
TEST_F(FactoryCalTest, PairsWithoutConstantsAreRefused) {
    const Input in{180.0, 37.0};
    const struct { double low, high; } pairs[] = {{5.0, 5.0}, {18.0, 1.0}};
    for (const auto &p : pairs) {
        SCOPED_TRACE(p.high);
        enter();
        set_R(9001, 3);
        set_R(9002, 1);
        source(3, in, p.low);
        ASSERT_TRUE(capture(0xAAAA));
        const uint16_t low_reading = R(9003);
        source(3, in, p.high);
        EXPECT_FALSE(capture(0xCCCC, 64));
        EXPECT_EQ(R(9005), 0xCCCC) << "the command stays, not taken";
        EXPECT_EQ(R(9003), low_reading);
        EXPECT_EQ(loc_calib_tbl[kCurGain + 2], 33350);
        EXPECT_EQ(loc_calib_tbl[kCurOffset + 2], 0);
        set_R(9005, 0);
        set_R(9006, 0xEEEE);
        pass();
        const CalBlock b = fram_block();
        EXPECT_EQ(b.gain[5], 33350);
        EXPECT_EQ(b.offset[5], 0);
        EXPECT_EQ(sr_get(85), 0);
    }
    // A pending high point is taken once the source gives a usable pair.
    enter();
    set_R(9001, 3);
    set_R(9002, 1);
    source(3, in, 1.0);
    ASSERT_TRUE(capture(0xAAAA));
    EXPECT_FALSE(capture(0xCCCC, 32));
    source(3, in, 18.0);
    EXPECT_TRUE(capture(0xCCCC));
    EXPECT_NE(loc_calib_tbl[kCurGain + 2], 33350);
}

TEST_F(FactoryCalTest, HighPointWithoutLowPointIsIgnored) {
    enter();
    set_R(9001, 1);
    set_R(9002, 2);
    source(1, {200, 0}, 18.0);
    EXPECT_FALSE(capture(0xCCCC, 48));
    EXPECT_EQ(loc_calib_tbl[kCurGain], 33350);
    EXPECT_EQ(R(9003), 0);
}

TEST_F(FactoryCalTest, ReadingEverySixteenthPassOfOneSelection) {
    enter();
    set_R(9001, 2);
    set_R(9002, 3);
    source(2, {420, 0}, 5.0);
    set_R(9005, 0xAAAA);
    pass(15);
    EXPECT_EQ(R(9005), 0xAAAA);
    pass();
    EXPECT_EQ(R(9005), 0);
    // 16 samples of 2100 counts: sum 33600, x 33250 / 65536
    EXPECT_EQ(R(9003), 33600 * 33250 / 65536);
    // Another input starts its own sixteen samples.
    set_R(9001, 3);
    source(3, {420, 0}, 2.0);
    set_R(9005, 0xAAAA);
    pass(15);
    EXPECT_EQ(R(9005), 0xAAAA);
    pass();
    EXPECT_EQ(R(9003), 840 * 16 * 33250 / 65536);
}

TEST_F(FactoryCalTest, FrontEndFollowsTheRangeOncePerChange) {
    enter();
    const uint16_t writes = expander->writes;
    set_R(9002, 3);
    pass(5);
    EXPECT_EQ(expander->writes, writes + 1);
    EXPECT_EQ(expander->latch & 0xFF, 0x1E);
    set_R(9002, 2);
    pass(5);
    EXPECT_EQ(expander->writes, writes + 2);
    EXPECT_EQ(expander->latch & 0x1E, 0);
    set_R(9002, 1);
    pass(3);
    EXPECT_EQ(expander->writes, writes + 3);
    EXPECT_EQ(expander->latch & 0x1E, 0);
}

TEST_F(FactoryCalTest, DefaultsForOneInputAndRangeOrForAll) {
    // Calibrated constants on inputs 1 and 2, current and voltage.
    for (int i = 0; i < kCalInputs; ++i) {
        ram_calib_tbl[kCurGain + i] = uint16_t(30000 + i);
        ram_calib_tbl[kCurOffset + i] = uint16_t(-5 - i);
        ram_calib_tbl[kVoltGain + i] = uint16_t(31000 + i);
        ram_calib_tbl[kVoltOffset + i] = uint16_t(7 + i);
    }
    CalBlock b;
    cal_GetTbl(ram_calib_tbl, b);
    uint8_t bytes[kCalBlockBytes];
    cal_pack(b, bytes);
    FRAM_XChange_cal_Data(bytes, kCalBlockBytes, 0);
    CalBlock dummy;
    cal_LoadTbl(dummy);
    enter();
    EXPECT_EQ(sr_get(85), 0xF);
    EXPECT_EQ(sr_get(86), 0xF);

    set_R(9001, 2);
    set_R(9002, 2);
    set_R(9007, 0x7777);
    pass();
    EXPECT_EQ(R(9007), 0);
    b = fram_block();
    EXPECT_EQ(b.gain[3], 33350); // input 2 current
    EXPECT_EQ(b.offset[3], 0);
    EXPECT_EQ(b.gain[2], 31001); // input 2 voltage kept
    EXPECT_EQ(b.gain[1], 30000); // input 1 current kept
    EXPECT_EQ(b.offset[1], uint16_t(-5));
    EXPECT_EQ(sr_get(85), 0xD);
    EXPECT_EQ(sr_get(86), 0xF);

    set_R(9001, 0);
    set_R(9007, 0x7777);
    pass();
    b = fram_block();
    for (int n = 0; n < kCalInputs; ++n) {
        EXPECT_EQ(b.gain[2 * n], 33250);
        EXPECT_EQ(b.gain[2 * n + 1], 33350);
        EXPECT_EQ(b.offset[2 * n], 0);
        EXPECT_EQ(b.offset[2 * n + 1], 0);
    }
    EXPECT_EQ(sr_get(85), 0);
    EXPECT_EQ(sr_get(86), 0);
    EXPECT_EQ(R(9007), 0);
}

// Outside the mode the registers belong to the application.
TEST_F(FactoryCalTest, OutsideTheModeRegistersAreLeftAlone) {
    for (int n = 9000; n <= 9007; ++n)
        set_R(n, uint16_t(n));
    set_R(9006, 0xEEEE);
    set_R(9001, 0);
    set_R(9007, 0x7777);
    ram_calib_tbl[kCurGain] = loc_calib_tbl[kCurGain] = 1234;
    pass(3);
    EXPECT_EQ(R(9006), 0xEEEE);
    EXPECT_EQ(R(9007), 0x7777);
    EXPECT_EQ(R(9003), 9003);
    EXPECT_EQ(ram_calib_tbl[kCurGain], 1234);
    uint8_t bytes[kCalBlockBytes];
    EXPECT_EQ(FRAM_XChange_cal_Data(bytes, kCalBlockBytes, 1), 0) << "nothing written";
    EXPECT_EQ(sr_get(85), 0x1);
    // Entering the mode clears them for the station.
    enter();
    for (int n = 9000; n <= 9007; ++n)
        EXPECT_EQ(R(n), 0) << n;
}

// The mode is saved with the registers; a restart must not bring it back
// with the local I/O off (and %SR84 refuses every write that could end it).
TEST_F(FactoryCalTest, RestartEndsTheMode) {
    enter();
    set_R(9001, 2);
    pass();
    FactoryCal_Reset(); // a new start: the registers keep what was saved
    ASSERT_EQ(sr_get(84), 0x39A6);
    pass();
    EXPECT_EQ(sr_get(84), 0);
    EXPECT_EQ(R(9001), 2) << "an application register again";
    // Later passes leave an entered mode alone.
    enter();
    pass(3);
    EXPECT_EQ(sr_get(84), 0x39A6);
}

// The mode calibrates the base unit's inputs only: with another module in
// slot 0 the key is not taken and that module's expander is left alone.
TEST_F(FactoryCalTest, KeyRefusedWithAnotherModuleInSlot0) {
    io_drv.slot[0].type = iorow::kProtected;
    sr_put(84, 0x71D4);
    set_R(9002, 3);
    pass(3);
    EXPECT_EQ(sr_get(84), 0);
    EXPECT_EQ(expander->writes, 0);
    EXPECT_EQ(R(9002), 3) << "an application register";
    io_drv.slot[0].type = iorow::kBase;
    enter();
}

TEST_F(FactoryCalTest, TableLoadsFromFramFactoryBlockOrDefaults) {
    CalBlock b;
    EXPECT_EQ(cal_LoadTbl(b), 0);
    EXPECT_EQ(b.marker, kCalMarker);
    EXPECT_EQ(b.gain[0], 33250);
    EXPECT_EQ(b.gain[1], 33350);
    EXPECT_EQ(std::memcmp(ram_calib_tbl, def_calib_tbl, sizeof ram_calib_tbl), 0);

    // A factory block (header at 4, data at 12) with no intact block before it.
    uint8_t img[60] = {};
    uint16_t factory[kCalTblWords];
    std::memcpy(factory, def_calib_tbl, sizeof factory);
    factory[kCurGain + 3] = 34000;
    factory[kVoltOffset + 1] = uint16_t(-12);
    for (int i = 0; i < kCalTblWords; ++i)
        put_le16(img + 12 + 2 * i, factory[i]);
    put_le16(img + 4, crc16(img + 12, 48));
    put_le32(img + 8, 48);
    spi_RD_nWR_FRAM(img, 0, sizeof img / 2, 0);
    EXPECT_EQ(cal_LoadTbl(b), 1);
    EXPECT_EQ(ram_calib_tbl[kCurGain + 3], 34000);
    EXPECT_EQ(b.gain[7], 34000);
    EXPECT_EQ(b.offset[2], uint16_t(-12));
    // ... and it became the calibration block.
    const CalBlock stored = fram_block();
    EXPECT_EQ(std::memcmp(&stored, &b, sizeof b), 0);
}

} // namespace
