// The AC metering module and the bus-slave module through the driver: the
// metering chip's readings become floats in the analog input registers, its
// energy counters become powers, calibration and outputs reach the chip; the
// bus slave's memory window is exchanged only while the slave says so.
#include "base/le.h"
#include "host/clock.h"
#include "host/config.h"
#include "host/io_modules.h"
#include "platform/io.h"
#include "platform/io_drv.h"
#include "platform/tick.h"
#include "regs/plc_reg.h"
#include "support/panel_fixture.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint32_t R(int n) {
    return reg::kRefR + 16u * unsigned(n - 1);
}

class MeterTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        std::memcpy(plc_reg + sr_offset(201), "2.6.35.45", 10); // kernel I2C service
    }
    // Plugs `id` into slot 1, probes and configures it with `cfg` (none when empty).
    void plug(uint16_t id, std::vector<uint8_t> block = {}) {
        char v[16];
        std::snprintf(v, sizeof v, "0x%04X", id);
        host::config_set("io.slot1", v);
        uint16_t ids[3] = {};
        get_io_info(ids);
        ASSERT_EQ(ids[1], id);
        ASSERT_EQ(IoInit(ids, 3), 0);
        cfg = block;
        rec = IoCfgRec{cfg.empty() ? nullptr : cfg.data(), uint32_t(cfg.size()), {}};
        IoCfg(&rec, 1);
        ASSERT_EQ(rec.rec[iocfg::kQuery], 0);
    }
    void set(const std::string &name, const std::string &value) {
        std::string err;
        ASSERT_TRUE(host::io_set(1, name, value, &err)) << name << ": " << err;
    }
    std::string get(const std::string &name) {
        std::string out;
        EXPECT_TRUE(host::io_get(1, name, &out)) << name;
        return out;
    }
    std::vector<uint8_t> cal(std::vector<uint8_t> data) {
        std::vector<uint8_t> req(80, 0);
        req[0] = uint8_t(data.size() + 2);
        req[2] = 1;
        std::copy(data.begin(), data.end(), req.begin() + 3);
        IoCal(req.data());
        return std::vector<uint8_t>(req.begin() + 1, req.begin() + 1 + req[0]);
    }
    static float f32(const uint8_t *p) {
        const uint32_t b = le32(p);
        float f;
        std::memcpy(&f, &b, 4);
        return f;
    }
    static void put_f32(std::vector<uint8_t> &v, float f) {
        uint32_t b;
        std::memcpy(&b, &f, 4);
        for (int i = 0; i < 4; ++i)
            v.push_back(uint8_t(b >> (8 * i)));
    }
    // Float k of the analog inputs (the module's 28 words from %AI1).
    float fl(int k) { return f32(plc_reg + reg::kAI + 4 * k); }
    void scan() { IoGetAIs(plc_reg + reg::kAI, 1, 0, 28); }
    // Transformer ratios through calibration, then calibration left again.
    void ratios(std::vector<float> r) {
        std::vector<uint8_t> req = {2};
        for (float f : r)
            put_f32(req, f);
        ASSERT_EQ(cal(req), std::vector<uint8_t>{0});
        ASSERT_EQ(cal({7}), std::vector<uint8_t>{0});
    }
    std::vector<uint8_t> cfg;
    IoCfgRec rec{};
};

// A configuration block with the filter shift and the peak phase.
std::vector<uint8_t> meter_cfg(uint8_t shift, uint8_t peak_phase) {
    std::vector<uint8_t> b(176, 0);
    b[0] = peak_phase;
    b[8] = shift;
    return b;
}

// Expected values, computed by hand from the chip's scaling.
const double kLpf1 = std::sqrt(1 + std::pow(800 * 0.000240385, 2)); // 50 Hz: 1.01832

} // namespace

TEST_F(MeterTest, ReadingsScaledByRatiosAndFrequencyCorrection) {
    plug(0x500F, meter_cfg(0, 1));
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(rec.rec + iocfg::kInBits), 8),
              std::string("\x14\0\x08\0\x1C\0\x1C\0", 8));
    ratios({2, 1, 1, 100, 1, 3});
    set("hz", "800");
    set("v1", "500000");
    set("v3", "1000");
    set("a1", "1000000");
    set("vpeak", "4000");
    set("apeak", "100");
    scan();
    EXPECT_NEAR(kLpf1, 1.018323, 1e-6);
    EXPECT_NEAR(fl(0), 427.1907, 1e-3);                   // 500000 x lpf1 x 0.000419504 x 2
    EXPECT_NEAR(fl(2), 1000 * kLpf1 * 0.000419504, 1e-6); // ratio 1
    EXPECT_NEAR(fl(3), 307.7192, 1e-3);                   // 1000000 x 3.077192e-06 x 100
    EXPECT_FLOAT_EQ(fl(6), 50.0f);                        // 800 x 1/16 Hz
    EXPECT_NEAR(fl(12), 4000 * kLpf1 * 4.1947 * 1, 0.01); // peaks of phase 2 (setting 1)
    EXPECT_NEAR(fl(13), 100 * 0.0345036 * 1, 1e-4);
    // No energy yet: no power, and a power factor of 0 rather than 0/0.
    for (int k : {7, 8, 9, 10, 11})
        EXPECT_EQ(fl(k), 0.0f) << k;

    // Volts and amps given as such read back as set (ratio 1 phases).
    set("v2", "230V");
    set("a2", "5A");
    scan();
    EXPECT_NEAR(fl(1), 230.0, 0.001);
    EXPECT_NEAR(fl(4), 5.0, 0.0001);

    // With a filter shift of 2, a step moves the reading a quarter of the way.
    plug(0x500F, meter_cfg(2, 0));
    set("v2", "400000");
    scan(); // seeds the filter
    set("v2", "600000");
    scan();
    EXPECT_NEAR(fl(1), 450000 * kLpf1 * 0.000419504, 1e-3);
}

TEST_F(MeterTest, EnergyAndPowersAfterAHundredMilliseconds) {
    plug(0x500F, meter_cfg(0, 0));
    ratios({2, 1, 1, 100, 1, 1});
    set("ea1", "1000");
    set("ea2", "500");
    set("er3", "300");
    const double e = 1.87729e-08;

    // The first pass records the counters and the time; no power yet.
    const uint32_t t0 = FPGA_GetFrt();
    scan();
    EXPECT_NEAR(fl(11), (1000 * 200 + 500) * e, 1e-9);
    EXPECT_EQ(fl(7), 0.0f);
    // Less than 100 ms later the powers are not recomputed.
    host::clock_advance_ms(50);
    scan();
    EXPECT_EQ(fl(7), 0.0f);
    EXPECT_NEAR(fl(11), 2 * (1000 * 200 + 500) * e, 1e-9);
    // Exactly 1000 ticks after the first pass: two passes' energy over 100 ms.
    host::clock_advance_ns(uint64_t(1000 - (FPGA_GetFrt() - t0)) * 100000);
    ASSERT_EQ(FPGA_GetFrt() - t0, 1000u);
    scan();
    const double p1 = 2 * 1000 * 200 * e * 3.6e10 / 1000; // 270329.76 W
    const double p2 = 2 * 500 * e * 3.6e10 / 1000;
    const double q = 2 * 300 * e * 3.6e10 / 1000;
    const double s = std::sqrt((p1 + p2) * (p1 + p2) + q * q);
    EXPECT_NEAR(fl(7), p1 + p2, 0.05);
    EXPECT_NEAR(fl(8), (p1 + p2) / s, 1e-6);
    EXPECT_NEAR(fl(9), s, 0.05);
    EXPECT_NEAR(fl(10), q, 0.01);
    EXPECT_NEAR(fl(11), 3 * (1000 * 200 + 500) * e, 1e-9);

    // Calibration read: the RMS words, then the phases' powers.
    std::vector<uint8_t> a = cal({1});
    ASSERT_EQ(a.size(), 49u);
    EXPECT_EQ(a[0], 0);
    EXPECT_NEAR(f32(a.data() + 25), p1, 0.05);
    EXPECT_NEAR(f32(a.data() + 45), q, 0.01);

    // Output bit 6 clears the energy; the power stays continuous after it.
    uint8_t q6 = 0x40;
    IoPutQs(&q6, 1, 0, 8);
    EXPECT_EQ(get("events"), "0");
    scan();
    EXPECT_NEAR(fl(11), (1000 * 200 + 500) * e, 1e-9);
    host::clock_advance_ms(100);
    uint8_t q0 = 0x80; // bit 7: the chip's command 0x1A
    IoPutQs(&q0, 1, 0, 8);
    EXPECT_EQ(get("events"), "1");
    scan();
    EXPECT_GT(fl(7), 0.0f);
    EXPECT_NEAR(fl(11), 2 * (1000 * 200 + 500) * e, 1e-9);
}

TEST_F(MeterTest, ChipWritesCalibrationAndDigitalInputs) {
    plug(0x520F, meter_cfg(0, 0));
    // Configuration: the constants in use (defaults 0: no valid block), then
    // the chip's start-up words.
    std::string w = get("writes");
    EXPECT_NE(w.find("0x40=0x000000"), std::string::npos) << w;
    EXPECT_NE(w.find("0x5F=0x000000"), std::string::npos) << w;
    EXPECT_NE(w.find("0x30=0x000034"), std::string::npos) << w;
    EXPECT_EQ(le16(cal({0}).data() + 1) & 7, 4) << "constants not valid, filters restart";

    // Ratios and thresholds go to the chip once, and again when they change.
    uint8_t aq[8] = {0x64, 0, 0, 0, 0, 0, 0x10, 0};
    IoPutAQs(aq, 1, 0, 28);
    IoPutAQs(aq, 1, 0, 28);
    w = get("writes");
    EXPECT_NE(w.find("0x60=0x000100 0x61=0x000100"), std::string::npos) << w;
    EXPECT_NE(w.find("0x68=0x000064 0x69=0x000000 0x6A=0x000000 0x6B=0x000010"), std::string::npos)
        << w;
    const size_t before = w.size();
    std::vector<uint8_t> req = {2};
    for (float f : {1.0f, 1.0f, 1.0f, 250.5f, 1.0f, 1.0f})
        put_f32(req, f);
    ASSERT_EQ(cal(req), std::vector<uint8_t>{0});
    w = get("writes");
    EXPECT_EQ(w.substr(before), " 0x63=0x00FA80") << w; // 250.5 x 256

    // A ratio that is not a positive number is refused and changes nothing.
    for (float bad : {0.0f, -2.0f, NAN}) {
        req = {2};
        for (float f : {3.0f, 3.0f, 3.0f, 3.0f, 3.0f, bad})
            put_f32(req, f);
        EXPECT_EQ(cal(req), std::vector<uint8_t>{1});
    }
    EXPECT_EQ(get("writes").size(), w.size());

    // New constants reach the chip; the gains and offsets read back.
    EXPECT_EQ(cal({3, 0x05, 0, 0, 0x34, 0x12, 0x07, 0, 0x00, 0x40, 0xFE, 0xFF}),
              std::vector<uint8_t>{0});
    w = get("writes");
    EXPECT_NE(w.find("0x40=0x001234 0x50=0x000007 0x42=0x004000 0x52=0x00FFFE"), std::string::npos)
        << w;
    std::vector<uint8_t> g = cal({14});
    ASSERT_EQ(g.size(), 33u);
    EXPECT_EQ(le16(g.data() + 1), 0x1234);
    EXPECT_EQ(le16(g.data() + 5), 0x4000);
    // Offsets, the four scaling constants, the correction and the frequency.
    ASSERT_EQ(cal({7}), std::vector<uint8_t>{0});
    set("hz", "50Hz");
    scan();
    std::vector<uint8_t> o = cal({15});
    ASSERT_EQ(o.size(), 49u);
    EXPECT_EQ(le16(o.data() + 1), 7);
    EXPECT_EQ(le16(o.data() + 5), 0xFFFE);
    EXPECT_FLOAT_EQ(f32(o.data() + 25), 0.000419504f);
    EXPECT_FLOAT_EQ(f32(o.data() + 37), 0.0625f);
    EXPECT_NEAR(f32(o.data() + 41), kLpf1, 1e-6);
    EXPECT_FLOAT_EQ(f32(o.data() + 45), 50.0f);

    // Digital inputs: command 0x19, three bytes in reverse order.
    set("i", "0x12345");
    uint8_t in[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    IoGetIs(in, 1, 0, 24);
    EXPECT_EQ(in[0], 0x45);
    EXPECT_EQ(in[1], 0x23);
    EXPECT_EQ(in[2], 0x01);
    EXPECT_EQ(in[3], 0xEE);
}

// ------------------------------------------------------------ bus slave

namespace {

// Sizes (bits, bits, words, words), node address, the two registers.
std::vector<uint8_t> slave_cfg(uint16_t di, uint16_t dq, uint16_t ai, uint16_t aq, uint8_t node) {
    std::vector<uint8_t> b(176, 0);
    put_le16(b.data(), di);
    put_le16(b.data() + 2, dq);
    put_le16(b.data() + 4, ai);
    put_le16(b.data() + 6, aq);
    b[8] = node;
    put_le32(b.data() + 92, R(10));
    put_le32(b.data() + 96, R(11));
    return b;
}

void send(int command) {
    IoMsg m{};
    m.command = uint8_t(command);
    m.slot = 1;
    io_driver(&m);
    ASSERT_EQ(m.status, 0);
}

} // namespace

TEST_F(MeterTest, BusSlaveStartScanAndStop) {
    // Sizes beyond the module's are cut to them.
    plug(0x9F0F, slave_cfg(8, 200, 4, 3, 5));
    EXPECT_EQ(le16(rec.rec + iocfg::kInBits), 8);
    EXPECT_EQ(le16(rec.rec + iocfg::kOutBits), 8);
    EXPECT_EQ(le16(rec.rec + iocfg::kAnIn), 4);
    EXPECT_EQ(le16(rec.rec + iocfg::kAnOut), 3);

    set("startword", "0x1234");
    send(14);
    EXPECT_EQ(get("sizes"), "1 1 4 3");
    EXPECT_EQ(get("node"), "5");
    EXPECT_EQ(get("word"), "256") << "1 written after the new node address";
    EXPECT_EQ(get("control"), "1");
    EXPECT_EQ(le16(plc_reg + reg::kR + 2 * 10), 0x1234);

    // Exchange while the status says so.
    set("i", "0xA5");
    set("word", "777");
    for (int n = 1; n <= 4; ++n)
        set("ai" + std::to_string(n), std::to_string(100 * n));
    IoGetIs(plc_reg + reg::kI, 1, 16, 8);
    IoGetAIs(plc_reg + reg::kAI, 1, 2, 4);
    EXPECT_EQ(plc_reg[reg::kI + 2], 0xA5);
    EXPECT_EQ(le16(plc_reg + reg::kR + 2 * 9), 777);
    EXPECT_EQ(le16(plc_reg + reg::kAI + 2 * 2), 100);
    EXPECT_EQ(le16(plc_reg + reg::kAI + 2 * 5), 400);
    plc_reg[reg::kQ + 1] = 0x3C;
    for (int n = 0; n < 4; ++n)
        put_le16(plc_reg + reg::kAQ + 2 * n, uint16_t(7000 + n));
    IoPutQs(plc_reg + reg::kQ, 1, 8, 8);
    IoPutAQs(plc_reg + reg::kAQ, 1, 0, 3);
    EXPECT_EQ(get("q"), std::to_string(0x3C));
    EXPECT_EQ(get("aq1"), "7000");
    EXPECT_EQ(get("aq3"), "7002");
    EXPECT_EQ(get("aq4"), "0") << "only the configured words";

    // Any other status leaves registers and window alone; the word at 0xFD
    // still follows.
    set("status", "0x10");
    set("i", "0x11");
    set("word", "778");
    set("ai1", "9");
    plc_reg[reg::kQ + 1] = 0x01;
    IoGetIs(plc_reg + reg::kI, 1, 16, 8);
    IoGetAIs(plc_reg + reg::kAI, 1, 2, 4);
    IoPutQs(plc_reg + reg::kQ, 1, 8, 8);
    EXPECT_EQ(plc_reg[reg::kI + 2], 0xA5);
    EXPECT_EQ(le16(plc_reg + reg::kAI + 2 * 2), 100);
    EXPECT_EQ(get("q"), std::to_string(0x3C));
    EXPECT_EQ(le16(plc_reg + reg::kR + 2 * 9), 778);
    set("status", "0xE3");
    IoGetIs(plc_reg + reg::kI, 1, 16, 8);
    EXPECT_EQ(plc_reg[reg::kI + 2], 0x11);

    // Stop, then a start with the same node address leaves 0xFE alone.
    send(13);
    EXPECT_EQ(get("control"), "0");
    set("word", "0");
    send(14);
    EXPECT_EQ(get("word"), "0");
    EXPECT_EQ(get("control"), "1");

    // Without a configuration the module reports no data.
    plug(0x9F0F);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(rec.rec + iocfg::kInBits), 8),
              std::string(8, '\0'));
}
