// The I/O-module driver through a scan: inputs injected into the module
// models reach the register image, outputs of the register image reach the
// modules, the FPGA counters count, pulse outputs follow their registers, and
// the calibration sub-commands of the programming protocol.
#include "base/crc16.h"
#include "base/le.h"
#include "host/board.h"
#include "host/clock.h"
#include "host/config.h"
#include "host/fpga.h"
#include "host/i2c.h"
#include "host/io_modules.h"
#include "iec/kernel/iec.h"
#include "platform/io.h"
#include "platform/io_drv.h"
#include "platform/io_fcal.h"
#include "plc/fram.h"
#include "regs/plc_reg.h"
#include "support/panel_fixture.h"
#include "system/appfile.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A slot's configuration block, built field by field.
struct Cfg {
    std::vector<uint8_t> b = std::vector<uint8_t>(176, 0);
    Cfg &mode(int ch, uint8_t m) {
        b[size_t(2 * ch)] = m;
        return *this;
    }
    Cfg &features(uint16_t f) {
        b[9] = uint8_t(f);
        b[10] = uint8_t(f >> 8);
        return *this;
    }
    Cfg &u16(size_t at, uint16_t v) {
        put_le16(b.data() + at, v);
        return *this;
    }
    Cfg &u32(size_t at, uint32_t v) {
        put_le32(b.data() + at, v);
        return *this;
    }
    Cfg &ref(int n, uint32_t r) { return u32(size_t(92 + 4 * n), r); }
};

constexpr uint32_t R(int n) {
    return reg::kRefR + 16u * unsigned(n - 1);
}
constexpr uint32_t AQ(int n) {
    return reg::kRefAQ + 16u * unsigned(n - 1);
}

class IoDriverTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        std::memcpy(plc_reg + sr_offset(201), "2.6.35.45", 10); // kernel I2C service
    }
    // Plugs the modules, probes and configures both slots.
    void rack(uint16_t s0, uint16_t s1, const Cfg *c0 = nullptr, const Cfg *c1 = nullptr) {
        char v[16];
        std::snprintf(v, sizeof v, "0x%04X", s0);
        if (s0) host::config_set("io.slot0", v);
        std::snprintf(v, sizeof v, "0x%04X", s1);
        if (s1) host::config_set("io.slot1", v);
        ASSERT_EQ(Fpga_Init(), 1);
        sr_put(40, FPGA_GetVer());
        configure(c0, c1);
    }
    void configure(const Cfg *c0, const Cfg *c1) {
        uint16_t ids[3] = {};
        get_io_info(ids);
        ASSERT_EQ(IoInit(ids, 3), 0);
        const Cfg *c[2] = {c0, c1};
        for (int s = 0; s < 2; ++s) {
            cfg[s] = c[s] ? c[s]->b : std::vector<uint8_t>{};
            IoCfgRec r{cfg[s].empty() ? nullptr : cfg[s].data(), uint32_t(cfg[s].size()), {}};
            IoCfg(&r, s);
            if (ids[s] != 0xFF) {
                ASSERT_EQ(r.rec[iocfg::kQuery], 0) << "slot " << s;
            }
        }
    }
    void set(int slot, const std::string &name, const std::string &value) {
        std::string err;
        ASSERT_TRUE(host::io_set(slot, name, value, &err)) << name << ": " << err;
    }
    std::string get(int slot, const std::string &name) {
        std::string out;
        EXPECT_TRUE(host::io_get(slot, name, &out)) << name;
        return out;
    }
    long get_n(int slot, const std::string &name) { return std::stol(get(slot, name)); }
    int16_t ai(int ch) { return int16_t(le16(plc_reg + reg::kAI + 2 * ch)); }
    void put_aq(int ch, uint16_t v) { put_le16(plc_reg + reg::kAQ + 2 * ch, v); }
    uint32_t r32(int n) { return le32(plc_reg + reg::kR + 2 * (n - 1)); }
    void put_r32(uint32_t ref, uint32_t v) {
        uint8_t b[4];
        put_le32(b, v);
        PlcReg_Set(ref, b, 32);
    }
    uint32_t fpga(uint16_t reg, int bytes) {
        uint32_t v = 0;
        for (int i = 0; i < bytes; ++i)
            v |= uint32_t(host::fpga_model()->reg(uint16_t(reg + i))) << (8 * i);
        return v;
    }
    // Calibration request to a slot: the answer (status first).
    std::vector<uint8_t> cal(int slot, std::vector<uint8_t> data) {
        std::vector<uint8_t> req(80, 0);
        req[0] = uint8_t(data.size() + 2);
        req[2] = uint8_t(slot);
        std::copy(data.begin(), data.end(), req.begin() + 3);
        IoCal(req.data());
        return std::vector<uint8_t>(req.begin() + 1, req.begin() + 1 + req[0]);
    }
    std::vector<uint8_t> cfg[2];
};

} // namespace

TEST_F(IoDriverTest, SixInputBoardAndAnalogOutputModuleThroughAScan) {
    Cfg c0;
    c0.mode(0, 2).mode(1, 0).mode(2, 1);
    rack(0xDF0E, 0x8F0F, &c0);

    // The 4-20 mA input at its ends and in between.
    struct Case {
        const char *in;
        int16_t want;
    };
    for (const Case &c :
         {Case{"12mA", 16000}, Case{"4mA", 0}, Case{"20mA", 32000}, Case{"25mA", 32000},
          Case{"0mA", -8000}, Case{"6399", -1}, Case{"6400", 0}, Case{"2mA", -4000}}) {
        set(0, "ai1", c.in);
        IoGetAIs(plc_reg + reg::kAI, 0, 0, 12);
        EXPECT_EQ(ai(0), c.want) << c.in;
    }
    set(0, "ai2", "5V");
    set(0, "ai3", "10mA");
    IoGetAIs(plc_reg + reg::kAI, 0, 0, 12);
    EXPECT_EQ(ai(1), 16000);
    EXPECT_EQ(ai(2), 16000);
    EXPECT_EQ(ai(6), 0) << "beyond the converted channels";

    set(0, "i", "0x0305");
    IoGetIs(plc_reg + reg::kI, 0, 0, 32);
    EXPECT_EQ(plc_reg[reg::kI], 0x05);
    EXPECT_EQ(plc_reg[reg::kI + 1], 0x03);

    plc_reg[reg::kQ] = 0xA5;
    plc_reg[reg::kQ + 1] = 0x01;
    IoPutQs(plc_reg + reg::kQ, 0, 0, 40);
    EXPECT_EQ(get_n(0, "q"), 0x01A5);

    put_aq(0, 1234);
    IoPutAQs(plc_reg + reg::kAQ, 0, 0, 14);
    EXPECT_EQ(get_n(0, "aq1"), 1234);

    // The analog output module follows the slot's area, in voltage mode
    // with its default constants.
    const uint16_t words[4] = {16000, 32000, 0, 40000};
    for (int n = 0; n < 4; ++n)
        put_aq(14 + n, words[n]);
    IoPutAQs(plc_reg + reg::kAQ, 1, 14, 4);
    EXPECT_EQ(get_n(1, "aq1"), 1999);
    EXPECT_EQ(get_n(1, "aq2"), 3998);
    EXPECT_EQ(get_n(1, "aq3"), 0);
    EXPECT_EQ(get_n(1, "aq4"), 4095) << "clamped to the converter's range";
}

TEST_F(IoDriverTest, ExpanderBoardInputsThroughItsConverterAndFilter) {
    Cfg c0;
    c0.mode(0, 0).mode(1, 2);
    c0.b[8] = 2; // filter weight 1/4
    rack(0xA60F, 0, &c0);
    set(0, "ai1", "5V");
    set(0, "ai2", "12mA");
    // Each pass does one step of the converter's cycle over its four
    // channels; settle 20 ms per channel.
    for (int i = 0; i < 8; ++i) {
        host::clock_advance_ms(25);
        IoGetAIs(plc_reg + reg::kAI, 0, 0, 12);
    }
    EXPECT_EQ(ai(0), 16000);
    EXPECT_EQ(ai(1), 16000);
    // A step of the input moves the filtered value a quarter of the way each reading.
    set(0, "ai1", "10V");
    int16_t prev = ai(0);
    int rising = 0;
    for (int i = 0; i < 24; ++i) {
        host::clock_advance_ms(25);
        IoGetAIs(plc_reg + reg::kAI, 0, 0, 12);
        if (ai(0) > prev) ++rising;
        EXPECT_LT(ai(0), 32000);
        prev = ai(0);
    }
    // Three readings of the channel: 16000 + 16000 x (1 - (3/4)^3).
    EXPECT_EQ(rising, 3);
    EXPECT_NEAR(ai(0), 25250, 2);

    set(0, "i", "0x5A");
    IoGetIs(plc_reg + reg::kI, 0, 0, 16);
    EXPECT_EQ(plc_reg[reg::kI], 0x5A);
    plc_reg[reg::kQ] = 0x15;
    IoPutQs(plc_reg + reg::kQ, 0, 0, 24);
    EXPECT_EQ(get_n(0, "q"), 0x15);
}

TEST_F(IoDriverTest, DigitalInputsWaitForAMatchingFpgaVersion) {
    rack(0xDF0E, 0);
    set(0, "i", "0x0F");
    sr_put(40, uint16_t(FPGA_GetVer() + 1));
    IoGetIs(plc_reg + reg::kI, 0, 0, 32);
    EXPECT_EQ(plc_reg[reg::kI], 0) << "an FPGA of another version: inputs left alone";
    sr_put(40, FPGA_GetVer());
    IoGetIs(plc_reg + reg::kI, 0, 0, 32);
    EXPECT_EQ(plc_reg[reg::kI], 0x0F);
}

TEST_F(IoDriverTest, CountersCountIntoTheirRegisters) {
    host::config_set("fpga.counter1", "1000");
    host::config_set("fpga.counter2", "500");
    Cfg c0;
    c0.features(0x0001).ref(ioref::kCntValues, R(1)); // counter 1 only
    rack(0xDF0E, 0, &c0);
    IoGetAIs(plc_reg + reg::kAI, 0, 0, 12); // the first pass starts the counters
    EXPECT_EQ(fpga(3, 1), 1u);
    EXPECT_EQ(fpga(0xC2, 1), 0xFFu);
    EXPECT_EQ(fpga(0xE2, 1), 0u) << "counter 2 is not enabled";
    host::clock_advance_ms(1000);
    IoGetAIs(plc_reg + reg::kAI, 0, 0, 12);
    EXPECT_NEAR(double(r32(1)), 1000.0, 2.0);
    EXPECT_EQ(r32(5), 0u) << "nothing for counter 2";
    // An injected count shows at the next pass.
    set(0, "cnt1", "123456");
    IoGetAIs(plc_reg + reg::kAI, 0, 0, 12);
    EXPECT_NEAR(double(r32(1)), 123456.0, 2.0);
    IoStop();
    EXPECT_EQ(fpga(3, 1), 0u);
    EXPECT_EQ(fpga(0xC2, 1), 0u);
}

TEST_F(IoDriverTest, PulseOutputsFollowTheirOutputBitsAndRegisters) {
    Cfg c0;
    // Output 1 PWM, output 2 profile; parameters from %AQ21 on.
    c0.features(0x0010 | 0x0400).ref(ioref::kPulse, AQ(21));
    rack(0xDF0E, 0, &c0);
    EXPECT_EQ(fpga(0x41, 1), 0x11u);
    EXPECT_EQ(fpga(0x81, 1), 0x12u);
    put_r32(AQ(21), 16000);  // duty half
    put_r32(AQ(23), 1000);   // 1 kHz
    put_r32(AQ(31), 100);    // start 100 Hz
    put_r32(AQ(33), 1000);   // run 1 kHz
    put_r32(AQ(35), 45000);  // acceleration pulses
    put_r32(AQ(37), 5000);   // run pulses
    put_r32(AQ(39), 180000); // deceleration pulses
    IoPutAQs(plc_reg + reg::kAQ, 0, 0, 14);
    EXPECT_EQ(fpga(0x48, 3), 9999u);
    EXPECT_EQ(fpga(0x44, 3), 4999u);
    EXPECT_EQ(fpga(0x84, 3), 99999u) << "start period";
    EXPECT_EQ(fpga(0x88, 3), 9999u) << "run period";
    EXPECT_EQ(fpga(0x8C, 4), 45000u);
    EXPECT_EQ(fpga(0x90, 4), 5000u);
    EXPECT_EQ(fpga(0x94, 4), 180000u);
    EXPECT_EQ(fpga(0x9C, 4), 1u) << "two period steps per pulse while accelerating";
    EXPECT_EQ(fpga(0x98, 2), 0xFFFFu);
    EXPECT_EQ(fpga(0xA0, 4), 1u) << "one step every two pulses while decelerating";
    EXPECT_EQ(fpga(0x9A, 2), 0x7FFFu);
    put_r32(AQ(23), 2000);
    IoPutAQs(plc_reg + reg::kAQ, 0, 0, 14);
    EXPECT_EQ(fpga(0x48, 3), 4999u) << "a new frequency reaches the FPGA";

    plc_reg[reg::kQ] = 0x03;
    IoPutQs(plc_reg + reg::kQ, 0, 0, 40);
    EXPECT_EQ(fpga(0x40, 1), 1u);
    EXPECT_EQ(fpga(0x80, 1), 1u);
    EXPECT_EQ(get(0, "pulse1"), "on=1 mode=0x11 period=4999 duty=2499");
    plc_reg[reg::kQ] = 0x02;
    IoPutQs(plc_reg + reg::kQ, 0, 0, 40);
    EXPECT_EQ(fpga(0x40, 1), 0u);
    EXPECT_EQ(fpga(0x80, 1), 1u);
    IoStop();
    EXPECT_EQ(fpga(0x80, 1), 0u) << "pulse outputs off at stop";
}

TEST(IoPulseRamp, StepAndSpreadOfTheRamp) {
    struct Case {
        uint32_t d, a, step;
        uint16_t spread;
    };
    for (const Case &c : {Case{90000, 45000, 1, 0xFFFF}, Case{90000, 180000, 1, 0x7FFF},
                          Case{10, 25, 1, uint16_t(5 * 0x7FFF / 10)},
                          Case{25, 10, 1, uint16_t(0x8000 | 5 * 0x7FFF / 10)}, Case{0, 10, 0, 0}}) {
        PulseRamp r = pulse_ramp(c.d, c.a);
        EXPECT_EQ(r.step, c.step) << c.d << "/" << c.a;
        EXPECT_EQ(r.spread, c.spread) << c.d << "/" << c.a;
    }
}

TEST_F(IoDriverTest, StopAppliesStopValuesAndHoldsTheRest) {
    Cfg c0;
    c0.u16(32, 0x000F).u16(34, 0x0005); // low nibble to 0101 at stop
    c0.b[36] = 0x01;                    // analog output 1 takes its stop value
    c0.u32(40, 777);
    rack(0xDF0E, 0, &c0);
    plc_reg[reg::kQ] = 0xFF;
    IoPutQs(plc_reg + reg::kQ, 0, 0, 40);
    put_aq(0, 1000);
    put_aq(1, 2000);
    IoPutAQs(plc_reg + reg::kAQ, 0, 0, 14);
    IoStop();
    EXPECT_EQ(get_n(0, "q"), 0xF5);
    EXPECT_EQ(get_n(0, "aq1"), 777);
    EXPECT_EQ(get_n(0, "aq2"), 2000) << "held";
}

TEST_F(IoDriverTest, CalibrationSubCommands) {
    host::config_set("i2c.0xA4", "eeprom 256"); // the output module's memory
    rack(0, 0x8F0F);

    std::vector<uint8_t> id = cal(1, {0});
    ASSERT_EQ(id.size(), 26u);
    EXPECT_EQ(le16(id.data() + 3), 309);
    EXPECT_EQ(le16(id.data() + 5), 0x8F0F);
    EXPECT_EQ(std::string(id.begin() + 7, id.begin() + 13), std::string(io_ident[18].name, 6));
    EXPECT_EQ(le16(id.data() + 1) & ioflag::kValid, 0) << "no constants in the memory yet";

    std::vector<uint8_t> gains = cal(1, {14});
    ASSERT_EQ(gains.size(), 33u);
    EXPECT_EQ(le16(gains.data() + 1), 32752) << "default constants";
    EXPECT_EQ(le16(gains.data() + 5), 31868);

    // Calibration: new constants for channel 1's voltage pair, outputs frozen.
    EXPECT_EQ(cal(1, {2, 0, 0, 0, 0}), std::vector<uint8_t>{0});
    EXPECT_EQ(cal(1, {3, 0x01, 0, 0, 0x30, 0x75, 5, 0}), std::vector<uint8_t>{0}); // 30000, +5
    put_aq(0, 16000);
    IoPutAQs(plc_reg + reg::kAQ, 1, 0, 4);
    EXPECT_EQ(get_n(1, "aq1"), 0) << "outputs do nothing during calibration";
    EXPECT_EQ(le16(cal(1, {14}).data() + 1), 30000);
    EXPECT_EQ(le16(cal(1, {15}).data() + 1), 5);

    // Stored in the module's memory with the marker; marked invalid and valid.
    cal(1, {4, 0, 0});
    std::string mem = read_file("/dev/eeprom_a4");
    ASSERT_GE(mem.size(), 66u);
    EXPECT_EQ(le16(reinterpret_cast<const uint8_t *>(mem.data())), 30000);
    EXPECT_EQ(le16(reinterpret_cast<const uint8_t *>(mem.data()) + 0x40), kCalMarker);
    EXPECT_NE(le16(cal(1, {0}).data() + 1) & ioflag::kValid, 0);
    cal(1, {6, 0, 0});
    mem = read_file("/dev/eeprom_a4");
    EXPECT_EQ(le16(reinterpret_cast<const uint8_t *>(mem.data()) + 0x40), 0);
    EXPECT_EQ(le16(cal(1, {0}).data() + 1) & ioflag::kValid, 0);
    cal(1, {5, 0, 0});
    EXPECT_NE(le16(cal(1, {0}).data() + 1) & ioflag::kValid, 0);

    // Leaving calibration lets the outputs run with the new constants.
    cal(1, {7});
    IoPutAQs(plc_reg + reg::kAQ, 1, 0, 4);
    EXPECT_EQ(get_n(1, "aq1"), 5 + (16000 * 30000 >> 18));

    // Read: the last outputs of an output module.
    std::vector<uint8_t> read = cal(1, {1});
    EXPECT_EQ(le16(read.data() + 1), 16000);

    // A new configuration loads the stored constants.
    configure(nullptr, nullptr);
    EXPECT_EQ(le16(cal(1, {14}).data() + 1), 30000);
}

TEST_F(IoDriverTest, InputsFromTheHostConfigurationAndBadValuesRefused) {
    host::config_set("io.slot0.ai1", "12mA");
    host::config_set("io.slot0.i", "0x81");
    Cfg c0;
    c0.mode(0, 2);
    rack(0xDF0E, 0, &c0);
    IoGetAIs(plc_reg + reg::kAI, 0, 0, 12);
    IoGetIs(plc_reg + reg::kI, 0, 0, 32);
    EXPECT_EQ(ai(0), 16000);
    EXPECT_EQ(plc_reg[reg::kI], 0x81);

    struct Bad {
        int slot;
        const char *name, *value;
    };
    for (const Bad &b : {Bad{0, "ai1", "twelve"}, Bad{0, "ai1", "12furlongs"},
                         Bad{0, "ai1", "100ohm"}, Bad{0, "ai99", "1V"}, Bad{0, "i3", "2"},
                         Bad{0, "x", "1"}, Bad{1, "ai1", "1V"}, Bad{2, "ai1", "1V"}}) {
        std::string err;
        EXPECT_FALSE(host::io_set(b.slot, b.name, b.value, &err)) << b.name << " " << b.value;
        EXPECT_FALSE(err.empty());
    }
    EXPECT_EQ(host::io_ctl({"io", "set", "0", "ai1", "4mA"}), "ok slot 0 ai1 = 4mA");
    EXPECT_EQ(host::io_ctl({"io", "set", "0", "ai1", "4 mA"}).rfind("error", 0), 0u);
    EXPECT_EQ(host::io_ctl({"io", "get", "3"}).rfind("error", 0), 0u);
    EXPECT_NE(host::io_ctl({"io", "get", "0"}).find("aq14 = "), std::string::npos);
}

TEST_F(IoDriverTest, GenericModuleExchangesWhatItsHeaderAnnounces) {
    // Header: control, mark 0xE2, -, -, 16 input bits, 2 input words, output
    // bits on, 1 output word, the name; inputs at 16 and 32.
    host::config_set("i2c.0x0A", "regs 0 0xE2 0 0 16 2 1 1 71 69 78 77 79 68 32 32 "
                                 "0x34 0x12 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0x10 0 0x20 0");
    rack(0, 0xAE0F);
    IoCfgRec r{nullptr, 0, {}};
    IoCfg(&r, 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(r.rec + iocfg::kName), 6), "GENMOD");
    EXPECT_EQ(le16(r.rec + iocfg::kInBits), 16);
    EXPECT_EQ(le16(r.rec + iocfg::kOutBits), 1);
    EXPECT_EQ(le16(r.rec + iocfg::kAnIn), 2);
    EXPECT_EQ(le16(r.rec + iocfg::kAnOut), 1);

    plc_reg[reg::kQ + 32] = 0x81;               // %Q257..
    put_le16(plc_reg + reg::kAQ + 512, 0xBEEF); // %AQ257
    IoService(1);
    auto *m = host::i2c_bus().model<host::I2cRegDevice>(0x0A);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(plc_reg[reg::kI + 32], 0x34) << "%I257..";
    EXPECT_EQ(plc_reg[reg::kI + 33], 0x12);
    EXPECT_EQ(le16(plc_reg + reg::kAI + 512), 0x10) << "%AI257";
    EXPECT_EQ(le16(plc_reg + reg::kAI + 514), 0x20);
    EXPECT_EQ(m->regs[0], 1) << "control byte";
    EXPECT_EQ(m->regs[16], 0x81) << "output bits: as many as the input bits";
    EXPECT_EQ(m->regs[32], 0xEF);
    EXPECT_EQ(m->regs[33], 0xBE);
    EXPECT_EQ(m->regs[34], 0x20) << "one output word only";
    IoStop();
    EXPECT_EQ(m->regs[0], 0);
}

TEST_F(IoDriverTest, OutputProtectionTripsAndOverloads) {
    Cfg c0;
    c0.features(iofeat::kProtection).u32(60, R(100));
    rack(0x7F0E, 0, &c0);
    auto put = [&](int n, uint16_t v) { put_le16(plc_reg + reg::kR + 2 * (n - 1), v); };
    auto word = [&](int n) { return le16(plc_reg + reg::kR + 2 * (n - 1)); };
    put(100, 0x01);  // instantaneous trip on channel 1
    put(101, 20000); // pick-up
    put(102, 100);   // ms
    put(106, 0x01);  // overload on channel 1
    put(107, 8000);  // full load
    put(108, 4);     // standard inverse: 0.14 / (M^0.02 - 1) s
    put(109, 10);    // multiplier 1.0
    put(110, 10);    // cooling divisor
    auto pass = [&](int ms) {
        host::clock_advance_ms(uint64_t(ms));
        IoGetAIs(plc_reg + reg::kAI, 0, 0, 5);
    };

    set(0, "ai1", "5V"); // 16000: twice the full load, below the pick-up
    pass(0);
    EXPECT_EQ(ai(0), 16000);
    int tripped_at = 0;
    for (int t = 500; t <= 15000 && !tripped_at; t += 500) {
        pass(500);
        if (word(113)) tripped_at = t;
    }
    EXPECT_GE(tripped_at, 9500) << "about 10 s at twice the full load";
    EXPECT_LE(tripped_at, 11000);
    EXPECT_EQ(word(112), 0x01);
    EXPECT_EQ(word(105), 0) << "never above the pick-up";

    set(0, "ai1", "10V"); // above the pick-up
    pass(50);
    EXPECT_EQ(word(105), 0) << "not for the whole delay yet";
    pass(50);
    EXPECT_EQ(word(105), 0x01);
    EXPECT_EQ(word(104), 0x01);
    set(0, "ai1", "0V");
    pass(50);
    EXPECT_EQ(word(105), 0);
    EXPECT_EQ(word(104), 0x01) << "latched";
    for (int i = 0; i < 30 && word(113); ++i)
        pass(100);
    EXPECT_EQ(word(113), 0) << "cooled down";
    EXPECT_EQ(word(112), 0);
}

// The trip delay is the time above the pick-up, however it splits into
// scans (each scan here takes about 1.6 ms of bus time).
TEST_F(IoDriverTest, ProtectionTripsAfterItsDelayNotAfterWholeMsPerScan) {
    Cfg c0;
    c0.features(iofeat::kProtection).u32(60, R(100));
    rack(0x7F0E, 0, &c0);
    auto put = [&](int n, uint16_t v) { put_le16(plc_reg + reg::kR + 2 * (n - 1), v); };
    put(100, 0x01);  // instantaneous trip on channel 1
    put(101, 20000); // pick-up
    put(102, 10);    // ms
    set(0, "ai1", "10V");
    IoGetAIs(plc_reg + reg::kAI, 0, 0, 5); // the first pass above the pick-up
    const uint64_t start = host::mono_ns();
    int passes = 0;
    while (passes < 200 && !le16(plc_reg + reg::kR + 2 * 104)) {
        host::clock_advance_ns(100'000);
        IoGetAIs(plc_reg + reg::kAI, 0, 0, 5);
        ++passes;
    }
    const double ms = double(host::mono_ns() - start) / 1e6;
    EXPECT_GE(ms, 10.0) << passes << " passes";
    EXPECT_LE(ms, 12.0) << passes << " passes: within a scan of the delay";
}

TEST_F(IoDriverTest, ProtectionWithoutABlockUsesR1) {
    Cfg c0;
    c0.features(iofeat::kProtection);
    rack(0x7F0E, 0, &c0);
    put_le16(plc_reg + reg::kR, 0x01); // %R1 mask, %R2 pick-up 100, %R3 no delay
    put_le16(plc_reg + reg::kR + 2, 100);
    set(0, "ai1", "1V");
    IoGetAIs(plc_reg + reg::kAI, 0, 0, 5);
    EXPECT_EQ(le16(plc_reg + reg::kR + 8), 0x01) << "%R5";
}

// The base unit's own I/O: digital inputs on the processor's pins, analog
// inputs on its on-chip converter, outputs and front-end switches on the
// expander at 0x4C.
TEST_F(IoDriverTest, BaseUnitInputsOutputsAndFrontEnd) {
    FRAM_Init();
    Cfg c0;
    c0.mode(0, 0).mode(1, 2).mode(2, 1).mode(3, 10); // voltage, 4-20 mA, 0-20 mA, off
    auto pins = host::devmem_model<host::PinctrlModel>(host::soc::kPinctrl);
    host::reg_write(GPIOPtr(), host::soc::doe(3) + 4, host::soc::kBaseInputPins); // as outputs
    rack(0xEF0E, 0, &c0);
    for (int bit = 10; bit <= 13; ++bit)
        EXPECT_FALSE(pins->driven(3, bit)) << "input pin " << bit << " made an input";
    auto *fe = host::i2c_bus().model<host::I2cExpander>(0x4C);
    ASSERT_NE(fe, nullptr);
    EXPECT_EQ(fe->latch & 0x1F, 0x02) << "voltage switch of input 1 only, normal polarity";

    struct Case {
        const char *ai1, *ai2;
        int want1, want2;
    };
    for (const Case &c : {Case{"5V", "12mA", 16000, 16000}, Case{"10V", "20mA", 32000, 32000},
                          Case{"0V", "4mA", 0, 0}, Case{"2.5V", "0mA", 8000, -8000}}) {
        set(0, "ai1", c.ai1);
        set(0, "ai2", c.ai2);
        IoGetAIs(plc_reg + reg::kAI, 0, 0, 2);
        // One converter count is about 8 in the register (10 for 4-20 mA).
        EXPECT_NEAR(ai(0), c.want1, 9) << c.ai1;
        EXPECT_NEAR(ai(1), c.want2, 11) << c.ai2;
    }
    set(0, "ai1", "4095");
    IoGetAIs(plc_reg + reg::kAI, 0, 0, 2);
    EXPECT_EQ(uint16_t(ai(0)), (4095 << 4) * 33250ll / 65536)
        << "full converter scale, not clamped";
    std::string err;
    EXPECT_FALSE(host::io_set(0, "ai1", "4096", &err)) << "beyond the 12-bit converter";

    set(0, "i", "0x05");
    IoGetIs(plc_reg + reg::kI, 0, 0, 8);
    EXPECT_EQ(plc_reg[reg::kI], 0x05);
    for (uint8_t q : {0x0F, 0x05, 0x0A, 0x00}) {
        plc_reg[reg::kQ] = q;
        IoPutQs(plc_reg + reg::kQ, 0, 0, 8);
        EXPECT_EQ(get_n(0, "q"), q);
        EXPECT_EQ(fe->latch & 0x1F, 0x02) << "outputs leave the front end alone";
    }

    // Inverted inputs: the expander's polarity bit turns the pins round.
    c0.features(iofeat::kInverted);
    configure(&c0, nullptr);
    EXPECT_EQ(fe->latch & 0x1F, 0x03);
    IoGetIs(plc_reg + reg::kI, 0, 0, 8);
    EXPECT_EQ(plc_reg[reg::kI], 0x0A);
    set(0, "i4", "1");
    IoGetIs(plc_reg + reg::kI, 0, 0, 8);
    EXPECT_EQ(plc_reg[reg::kI], 0x02);
}

// A thermocouple channel from the millivolts at its terminals through the
// board's converter, default constants, junction term and table.
TEST_F(IoDriverTest, ThermocoupleThroughAScan) {
    Cfg c0;
    c0.mode(0, 26).mode(1, 27); // type K, type T
    rack(0xA20F, 0, &c0);
    auto scan = [&] {
        for (int i = 0; i < 6; ++i) {
            host::clock_advance_ms(100);
            IoGetAIs(plc_reg + reg::kAI, 0, 0, 12);
        }
    };
    set(0, "ai1", "4.096mV"); // K at 100 degrees
    set(0, "ai2", "9.288mV"); // T at 200 degrees
    scan();
    EXPECT_NEAR(ai(0), 2000, 10) << "1/20 degree";
    EXPECT_NEAR(ai(1), 4000, 10);
    set(0, "ai1", "-3.554mV");
    scan();
    EXPECT_NEAR(ai(0), -2000, 10);
    EXPECT_EQ(get(0, "ai1"), "-3.554 mV");
    std::string err;
    EXPECT_FALSE(host::io_set(0, "ai1", "5000mV", &err));
}

TEST_F(IoDriverTest, ThermocoupleWithAWarmJunction) {
    host::config_set("i2c.0x96", "lm92 25");
    Cfg c0;
    c0.mode(0, 26);
    rack(0xA20F, 0, &c0);
    set(0, "ai1", "3.096mV"); // 100 degrees less the junction's 1.000 mV at 25
    for (int i = 0; i < 6; ++i) {
        host::clock_advance_ms(100);
        IoGetAIs(plc_reg + reg::kAI, 0, 0, 12);
    }
    EXPECT_NEAR(ai(0), 2000, 12);
    EXPECT_EQ(ai(2), 25 * 16) << "the junction sensor's reading in word 2";
}

// While the IEC runtime owns the I/O the counter and pulse status bits go
// out one byte per bit, and idle counters load from the IEC variable.
TEST_F(IoDriverTest, CounterStatusAsBytesWhenTheIecRuntimeOwnsTheIo) {
    Cfg c0;
    c0.features(0x0001 | 0x0010) // counter 1, pulse output 1
        .ref(ioref::kCntStatus, R(10))
        .ref(ioref::kPulseStatus, R(20))
        .ref(ioref::kCntLoad, R(30));
    rack(0xEF0E, 0, &c0);
    host::FpgaModel *f = host::fpga_model();
    const uint8_t nibbles[4] = {0x5, 0xA, 0x1, 0x8};
    for (int i = 0; i < 4; ++i)
        f->set_reg(uint16_t(0xCA + 0x20 * i), nibbles[i]);
    f->set_reg(0x42, 0x2);
    f->set_reg(0x82, 0x1);
    for (int i = 0; i < 4; ++i)
        put_le16(plc_reg + reg::kR + 2 * (30 - 1 + i), uint16_t(0x1110 * (i + 1)));

    IoGetIs(plc_reg + reg::kI, 0, 0, 8);
    EXPECT_EQ(le16(plc_reg + reg::kR + 2 * 9), 0x81A5) << "a nibble per counter";
    EXPECT_EQ(le16(plc_reg + reg::kR + 2 * 19), 0x6);

    J1939_init_start = 1;
    trevant_variables_enumerateded = 1;
    IoGetIs(plc_reg + reg::kI, 0, 0, 8);
    plc_reg[reg::kQ] = 0;
    IoPutQs(plc_reg + reg::kQ, 0, 0, 8);
    J1939_init_start = 0;
    trevant_variables_enumerateded = 0;
    const uint8_t want[16] = {1, 0, 1, 0, 0, 1, 0, 1, 1, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_EQ(std::memcmp(plc_reg + reg::kR + 2 * 9, want, 16), 0);
    const uint8_t pulse[4] = {0, 1, 1, 0};
    EXPECT_EQ(std::memcmp(plc_reg + reg::kR + 2 * 19, pulse, 4), 0);
    EXPECT_EQ(fpga(0xC0, 2), 0u) << "counter 1 is enabled: nothing loaded";
    for (int i = 1; i < 4; ++i)
        EXPECT_EQ(fpga(uint16_t(0xC0 + 0x20 * i), 2), 0x1110u * unsigned(i + 1)) << i;
}

// Entering calibration drives the outputs once on either slot: here the
// thermocouple board's first output with a pair just set (offset 100).
TEST_F(IoDriverTest, EnteringCalibrationDrivesTheOutputsOnce) {
    rack(0xA20F, 0);
    cal(0, {3, 0x20, 0, 0, 0x00, 0x80, 100, 0}); // pair 5: output 1 in mode 0
    EXPECT_EQ(get_n(0, "aq1"), 0);
    cal(0, {2, 0, 0, 0, 0});
    EXPECT_EQ(get_n(0, "aq1"), 100);
}

// Constants stored for the on-board inputs reach the factory table and its
// working copy; the factory block (48-byte table) loads as constants.
TEST_F(IoDriverTest, StoredConstantsRefreshTheFactoryTable) {
    FRAM_Init();
    rack(0xEF0E, 0);
    // Input 1: voltage pair 30000/-4, current pair 31000/6.
    cal(0, {2, 0, 0, 0, 0});
    cal(0, {3, 0x03, 0, 0, 0x30, 0x75, 0xFC, 0xFF, 0x18, 0x79, 6, 0});
    EXPECT_EQ(ram_calib_tbl[caltbl::kVoltGain], caltbl::kVoltGainDefault) << "not before the store";
    cal(0, {4, 0, 0});
    cal(0, {7});
    EXPECT_EQ(ram_calib_tbl[caltbl::kVoltGain], 30000);
    EXPECT_EQ(ram_calib_tbl[caltbl::kVoltOffset], uint16_t(-4));
    EXPECT_EQ(ram_calib_tbl[caltbl::kCurGain], 31000);
    EXPECT_EQ(ram_calib_tbl[caltbl::kCurOffset], 6);
    EXPECT_EQ(ram_calib_tbl[caltbl::kCurFlag], 1);
    EXPECT_EQ(loc_calib_tbl[caltbl::kCurGain], 31000);
    EXPECT_EQ(ram_calib_tbl[caltbl::kCurGain + 1], caltbl::kCurGainDefault);
    uint8_t bytes[kCalBlockBytes];
    ASSERT_EQ(FRAM_XChange_cal_Data(bytes, kCalBlockBytes, 1), 1);
    EXPECT_EQ(le16(bytes + 2), 31000);

    // A factory block alone in FRAM: the base unit's constants come from its
    // table, which becomes the calibration block.
    uint8_t img[60] = {};
    uint16_t factory[kCalTblWords];
    std::memcpy(factory, def_calib_tbl, sizeof factory);
    factory[caltbl::kCurGain + 1] = 34000;
    factory[caltbl::kVoltOffset + 3] = uint16_t(-12);
    for (int i = 0; i < kCalTblWords; ++i)
        put_le16(img + 12 + 2 * i, factory[i]);
    put_le16(img + 4, crc16(img + 12, 48));
    put_le32(img + 8, 48);
    spi_RD_nWR_FRAM(img, 0, sizeof img / 2, 0);
    configure(nullptr, nullptr);
    const std::vector<uint8_t> gains = cal(0, {14}), offsets = cal(0, {15});
    EXPECT_EQ(le16(gains.data() + 1 + 2 * 2), caltbl::kVoltGainDefault) << "input 2 voltage";
    EXPECT_EQ(le16(gains.data() + 1 + 2 * 3), 34000) << "input 2 current";
    EXPECT_EQ(le16(offsets.data() + 1 + 2 * 6), uint16_t(-12)) << "input 4 voltage";
    EXPECT_EQ(le16(gains.data() + 1 + 2 * 8), 0) << "beyond the four inputs";
    EXPECT_NE(le16(cal(0, {0}).data() + 1) & ioflag::kValid, 0);
    EXPECT_EQ(ram_calib_tbl[caltbl::kCurGain + 1], 34000);
    ASSERT_EQ(FRAM_XChange_cal_Data(bytes, kCalBlockBytes, 1), 1);
    EXPECT_EQ(le16(bytes + 6), 34000);
    EXPECT_EQ(le16(bytes + 0x40), kCalMarker);
}

// The six-input board's front end takes each input's mode and gain at
// configuration, reports its identity once ready, and the diagnostic words
// asked for follow the sixth input's reading.
TEST_F(IoDriverTest, SixInputFrontEndSettingsIdentityAndDiagnostics) {
    Cfg c0;
    c0.mode(0, 0).mode(1, 2).mode(2, 1).mode(3, 10).u16(120, 0).u16(122, 1);
    for (int ch = 0; ch < 6; ++ch)
        c0.u16(size_t(124 + 2 * ch), uint16_t(ch + 1));
    c0.u32(136, R(50)).u32(140, R(60));
    put_le16(plc_reg + reg::kR + 2 * 59, 0x45); // ask for words 0, 2 and 6
    for (int n = 61; n <= 67; ++n)
        put_le16(plc_reg + reg::kR + 2 * (n - 1), 0xEEEE);
    rack(0xDF0E, 0, &c0);
    const char *want[6] = {"mode=0 gain=1",  "mode=2 gain=2", "mode=1 gain=3",
                           "mode=10 gain=4", "mode=0 gain=5", "mode=1 gain=6"};
    for (int ch = 0; ch < 6; ++ch)
        EXPECT_EQ(get(0, "fe" + std::to_string(ch + 1)), want[ch]) << ch;
    auto r16 = [&](int n) { return le16(plc_reg + reg::kR + 2 * (n - 1)); };
    EXPECT_EQ(r16(50), 0x6A06) << "identity, after waiting for the settings";
    EXPECT_EQ(r16(51), 0x0103);

    IoGetAIs(plc_reg + reg::kAI, 0, 0, 12);
    EXPECT_EQ(r16(61), 24000) << "supply";
    EXPECT_EQ(r16(62), 0xEEEE) << "not asked for";
    EXPECT_EQ(r16(63), 2500) << "reference";
    EXPECT_EQ(r16(67), 0x0102) << "revision";
    // With the sixth input off nothing is read.
    c0.u16(122, 10);
    configure(&c0, nullptr);
    put_le16(plc_reg + reg::kR + 2 * 60, 0);
    IoGetAIs(plc_reg + reg::kAI, 0, 0, 12);
    EXPECT_EQ(r16(61), 0);
}
