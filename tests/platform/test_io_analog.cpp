// Analog conversion: scaling, linearisation, junction terms, filter, outputs
// and the calibration block image.
#include "platform/io_analog.h"

#include <cmath>
#include <gtest/gtest.h>

namespace {

struct Case {
    int32_t in, out;
};

TEST(AnalogScale, FourToTwentyMilliamps) {
    const Case cases[] = {{6400, 0},      {32000, 32000}, {6399, -1},  {0, -8000},
                          {19200, 16000}, {40000, 32000}, {-5, -8000}, {6401, 1}};
    for (const Case &c : cases)
        EXPECT_EQ(ai_4_20(c.in), c.out) << c.in;
}

TEST(AnalogScale, GeneralAndBaseUnit) {
    // gain 16384 is unity in the general formula; offsets are signed words.
    EXPECT_EQ(ai_scale(1000, 16384, 0), 1000);
    EXPECT_EQ(ai_scale(1000, 16384, uint16_t(-1000)), 0);
    EXPECT_EQ(ai_scale(100, 16384, uint16_t(-1000)), 0); // below 0
    EXPECT_EQ(ai_scale(0x7FFF, 16384, 0), 0x7FFF);
    EXPECT_EQ(ai_scale(0x8000, 16384, 0), 0x7FFF);     // 0x20000000 and on
    EXPECT_EQ(ai_scale(65535, 65535, 0x7FFF), 0x7FFF); // no overflow
    EXPECT_EQ(ai_scale_base(4095 << 4, 33250, 0), 33241);
    EXPECT_EQ(ai_scale_base(100, 65535, uint16_t(-200)), 0);
}

// 4-20 mA on the thermocouple board: 12 mA of a 0-20 mA scale of 32000 is
// 19200, mid-scale of 4-20 mA.
TEST(AnalogScale, BoardMilliampModes) {
    // shift 3: the product is divided by 8192, so gain 8192 is unity
    EXPECT_EQ(ai_scale_tc_board(aimode::kMa0_20, 19200, 8192, 0, 0, nullptr), 19200);
    EXPECT_EQ(ai_scale_tc_board(aimode::kMa4_20, 19200, 8192, 0, 0, nullptr), 16000);
    EXPECT_EQ(ai_scale_tc_board(aimode::kVolt, -5, 8192, 0, 0, nullptr), 0);
    // past full scale: the top of the signed word, never a wrapped value
    EXPECT_EQ(ai_scale_tc_board(aimode::kVolt, 40000, 8192, 0, 0, nullptr), 0x7FFF);
    EXPECT_EQ(ai_scale_tc_board(aimode::kMa0_20, 0x7FFF, 39226, 0, 0, nullptr), 0x7FFF);
    // millivolt: upper 16 bits of (raw * gain * 8), signed
    EXPECT_EQ(ai_scale_tc_board(aimode::kMillivolt, 0x1000, 0x1000, 0, 0, nullptr), 0x800);
    EXPECT_EQ(ai_scale_tc_board(aimode::kMillivolt, -0x1000, 0x1000, 0, 0, nullptr), -0x800);
    EXPECT_EQ(ai_scale_tc_board(aimode::kMillivolt, 0x7FFFFF, 0xFFFF, 0, 0, nullptr), 0x7FFF);
    EXPECT_EQ(ai_scale_tc_board(aimode::kOff, 1234, 8192, 0, 0, nullptr), 0);
}

// A linear stand-in table, 1/20 degree per 128 counts around 0 at 0x8000,
// shows the interpolation, the compensation and the ends.
struct LinearTc : ::testing::Test {
    uint16_t t[kTcEntries];
    void SetUp() override {
        for (int i = 0; i < kTcEntries; ++i)
            t[i] = uint16_t(5600 + (i - 256) * 10);
    }
};

TEST_F(LinearTc, InterpolationAndEnds) {
    const Case cases[] = {{0x8000, 0},       {0x8000 + 128, 10}, {0x8000 + 64, 5},
                          {0x8000 + 6, 0},   {0x8000 + 7, 1},    {0x8000 - 64, -5},
                          {0x8000 - 70, -5}, {0, -2560},         {-100, -2560},
                          {0xFFFF, 2560},    {0x10000, 2560},    {0x7FFFFFFF, 2560}};
    for (const Case &c : cases)
        EXPECT_EQ(tc_table(c.in, t), c.out) << std::hex << c.in;
}

TEST_F(LinearTc, MidScaleWithoutCompensationIsZeroDegrees) {
    for (int mode = aimode::kTcFirst; mode <= aimode::kTcLast; ++mode) {
        EXPECT_EQ(ai_scale_tc_board(mode, 0, 30000, 0, 0, t), 0) << mode;
        // the junction term moves the input along the table
        EXPECT_EQ(ai_scale_tc_board(mode, 0, 30000, 0, 256, t), 20) << mode;
    }
    // unity gain at shift 15: raw 128 << 15 / gain 32768 is one step
    EXPECT_EQ(ai_scale_tc_board(24, 128, 32768, 0, 0, t), 10);
    EXPECT_EQ(ai_scale_tc_board(27, 128, 16384, 0, 0, t), 10); // T: shift 14
    EXPECT_EQ(ai_scale_tc_board(24, 0x7FFFFF, 0xFFFF, 0, 0, t), 2560);
}

TEST(AnalogModes, Table) {
    for (int m : {0, 1, 2, 8})
        EXPECT_EQ(ad5t[m].adc, 0x04) << m;
    EXPECT_EQ(ad5t[16].settle, 800u);
    EXPECT_EQ(ad5t[16].shift, 1u);
    EXPECT_EQ(ad5t[28].adc, 0x0C);
    EXPECT_EQ(ad5t[26].shift, 15u);
    EXPECT_EQ(ad5t[31].shift, 14u);
    EXPECT_EQ(ad5t[10].settle, 0u);
}

// Pt100 points of the standard: resistance in ohms at a temperature.
TEST(Rtd, StandardPoints) {
    const struct {
        double ohms, deg;
    } points[] = {{18.52, -200}, {60.26, -100}, {100.0, 0},    {138.51, 100}, {175.86, 200},
                  {247.09, 400}, {313.71, 600}, {375.70, 800}, {390.48, 850}};
    const double lo = kRtdMilliohmsLo / 1000.0, hi = kRtdMilliohmsHi / 1000.0;
    for (const auto &p : points) {
        const int32_t v = int32_t(std::lround((p.ohms - lo) / (hi - lo) * 256 * 64));
        EXPECT_NEAR(rtd_table(v, pt100e_tab) / 20.0, p.deg, 0.15) << p.ohms;
    }
    EXPECT_EQ(rtd_table(0, pt100e_tab), -206 * 20);
    EXPECT_EQ(rtd_table(-1, pt100e_tab), -206 * 20);
    EXPECT_EQ(rtd_table(256 * 64, pt100e_tab), 857 * 20);
    EXPECT_EQ(rtd_table(1 << 20, pt100e_tab), 857 * 20);
    for (int i = 1; i < kRtdEntries; ++i)
        EXPECT_GT(pt100e_tab[i], pt100e_tab[i - 1]);
}

TEST(Rtd, ThroughTheBoardScaling) {
    // mode 16: v / 65536 indexes the table; gain 65535 ~ unity on raw << 16
    const int32_t idx_100 =
        int32_t(std::lround((100.0 - kRtdMilliohmsLo / 1000.0) /
                            ((kRtdMilliohmsHi - kRtdMilliohmsLo) / 1000.0) * 256 * 64));
    EXPECT_NEAR(ai_scale_tc_board(aimode::kRtd, idx_100, 65535, 0, 0, nullptr) / 20.0, 0, 0.15);
    EXPECT_EQ(ai_scale_tc_board(aimode::kRtd, -5, 65535, 0, 0, nullptr), -206 * 20);
}

TEST(ColdJunction, Terms) {
    int32_t c[8];
    cj_comp(0, c);
    for (int32_t v : c)
        EXPECT_EQ(v, 0);
    cj_comp(1000, c); // 25 degrees: each type's emf at 25 degrees in counts of its input
    const int32_t at25[8] = {653, 71, 511, 1015, 35, 1530, 673, 0};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(c[i], at25[i]) << i;
    cj_comp(-400, c); // -10 degrees: linear term truncated toward zero
    EXPECT_EQ(c[0], -258 + 1);
    EXPECT_EQ(c[7], 0);
}

TEST(Filter, Weights) {
    AiFilter f{};
    // shift 0: each reading passes
    for (int32_t r : {5, 100, -3})
        EXPECT_EQ(ai_filter(f, r, 0, false), r);
    // shift 2: restart takes the reading, then a quarter of each step
    EXPECT_EQ(ai_filter(f, 1000, 2, true), 1000);
    EXPECT_EQ(ai_filter(f, 2000, 2, false), 1250);
    EXPECT_EQ(ai_filter(f, 2000, 2, false), 1437);
    for (int i = 0; i < 100; ++i)
        ai_filter(f, 2000, 2, false);
    EXPECT_NEAR(f.value, 2000, 3);
    EXPECT_EQ(ai_filter(f, 0, 2, true), 0);
    // A full-scale reading with the widest shifts a configuration byte can
    // hold neither overflows nor moves the held value.
    for (int k : {16, 31, 200, 255}) {
        EXPECT_EQ(ai_filter(f, 65520, k, true), 65520) << k;
        EXPECT_EQ(ai_filter(f, 65520, k, false), 65520) << k;
    }
}

TEST(AnalogOut, Conversion) {
    const uint16_t gain[3] = {1u << 14, 1u << 15, 1u << 14}; // 2^18 / 16: 32000 -> 2000
    const uint16_t zero[3] = {0, 0, 0};
    EXPECT_EQ(aq_convert(0, 32000, gain, zero), 2000);
    EXPECT_EQ(aq_convert(1, 16000, gain, zero), 1000);
    EXPECT_EQ(aq_convert(2, 0, gain, zero), 400);      // 4 mA
    EXPECT_EQ(aq_convert(2, 32000, gain, zero), 2000); // 20 mA
    EXPECT_EQ(aq_convert(9, 0, gain, zero), 0x800);
    EXPECT_EQ(aq_convert(9, uint16_t(-32000), gain, zero), 0x800 - 2000);
    EXPECT_EQ(aq_convert(5, 5000, gain, zero), 4095); // other modes: the word, clamped
    const uint16_t big[3] = {0xFFFF, 0xFFFF, 0xFFFF};
    EXPECT_EQ(aq_convert(0, 0xFFFF, big, zero), 4095);
    const uint16_t neg[3] = {uint16_t(-100), uint16_t(-100), uint16_t(-100)};
    EXPECT_EQ(aq_convert(0, 0, gain, neg), 0);
    EXPECT_EQ(aq_convert_board(0, 32000, 1u << 14, 0), 2000);
    EXPECT_EQ(aq_convert_board(2, 0, 1u << 14, 0), 400);
}

TEST(AnalogOut, DacFrames) {
    uint8_t f[3];
    aq_dac_frame(1, 0xABC, f);
    EXPECT_EQ(f[0], 0x31);
    EXPECT_EQ(f[1], 0xAB);
    EXPECT_EQ(f[2], 0xC0);
    aq_dac_frame(2, 5000, f); // above 4095 goes out as 4095
    EXPECT_EQ(f[0], 0x30);
    EXPECT_EQ(f[1], 0xFF);
    EXPECT_EQ(f[2], 0xF0);
    EXPECT_EQ(aq_dac_addr(1), 0x20);
    EXPECT_EQ(aq_dac_addr(3), 0x22);
}

TEST(PulseOut, Pwm) {
    PwmRegs r{};
    ASSERT_TRUE(pwm_regs(1000, 16000, r));
    EXPECT_EQ(r.period, 9999u);
    EXPECT_EQ(r.duty, 4999u);
    ASSERT_TRUE(pwm_regs(10000, 40000, r)); // duty beyond 100 % is 100 %
    EXPECT_EQ(r.duty, 999u);
    EXPECT_FALSE(pwm_regs(0, 16000, r)); // no division by a zero frequency
}

TEST(CalBlock, ImageAndAddresses) {
    CalBlock b{};
    for (int i = 0; i < 16; ++i) {
        b.gain[i] = uint16_t(0x1000 + i);
        b.offset[i] = uint16_t(-i);
    }
    b.marker = kCalMarker;
    uint8_t img[kCalBlockBytes];
    cal_pack(b, img);
    EXPECT_EQ(img[0], 0x00);
    EXPECT_EQ(img[1], 0x10);
    EXPECT_EQ(img[0x40], 0x9E);
    EXPECT_EQ(img[0x41], 0xF1);
    CalBlock c{};
    cal_unpack(img, c);
    EXPECT_EQ(c.offset[3], uint16_t(-3));
    EXPECT_EQ(c.gain[15], 0x100F);
    EXPECT_EQ(c.marker, kCalMarker);

    const struct {
        int row;
        uint16_t ee, load;
    } rows[] = {
        {0, 0x6100, 0x6700},  {4, 0x6700, 0x6100}, {7, 0x6300, 0x6500}, {16, 0x6300, 0x6500},
        {18, 0x6200, 0x6200}, {22, 0, 0x600},      {20, 0, 0}};
    for (const auto &r : rows) {
        EXPECT_EQ(io_eeaddr(r.row), r.ee) << r.row;
        EXPECT_EQ(io_cal_load_addr(r.row), r.load) << r.row;
    }
}

} // namespace
