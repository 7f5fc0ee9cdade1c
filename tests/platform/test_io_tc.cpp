// Thermocouple linearisation: the generated tables against the standard's
// printed reference values, their characteristic rows, and cold-junction
// compensation through the board's conversion.
#include "platform/io_analog.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

namespace {

// Table index (mode - 24) of a thermocouple type.
int index_of(char type) {
    const char *p = std::strchr(kTcTypes, type);
    return p ? int(p - kTcTypes) : -1;
}

int mode_of(char type) {
    return aimode::kTcFirst + index_of(type);
}

// The board's conversion at unity gain: counts of the type's input, with a
// junction term, through the mode's own table.
double degrees(char type, double mv, int32_t comp = 0) {
    const int mode = mode_of(type);
    const int32_t counts = int32_t(std::lround(mv * kTcCountsPerMv[index_of(type)]));
    const uint16_t unity = uint16_t(1u << ad5t[mode].shift);
    return ai_scale_tc_board(mode, counts, unity, 0, comp) / 20.0;
}

TEST(Thermocouple, TypesAndInputGainsFollowTheModeTable) {
    ASSERT_STREQ(kTcTypes, "JRKTSENB");
    for (int i = 0; i < 8; ++i) {
        const Ad5tRow &m = ad5t[aimode::kTcFirst + i];
        const int converter_gain = 1 << (m.adc & 3);
        EXPECT_EQ(kTcCountsPerMv[i], (256u << (15 - m.shift)) * converter_gain) << kTcTypes[i];
    }
}

TEST(Thermocouple, TellingRows) {
    const uint16_t *k = tctbl[index_of('K')], *t = tctbl[index_of('T')];
    const uint16_t *b = tctbl[index_of('B')];
    EXPECT_EQ(k[256], 5600);
    EXPECT_LT(k[421], 25600);
    EXPECT_GE(k[422], 25600);
    EXPECT_NEAR(k[422], 25600, 200); // 1000 degrees within the step
    EXPECT_LT(t[422], 13600);
    for (int i = 423; i < kTcEntries; ++i)
        ASSERT_EQ(t[i], 13600) << i; // held at 400 degrees
    EXPECT_EQ(b[0], 5400);           // -10 degrees
    EXPECT_EQ(*std::min_element(b, b + kTcEntries), 5400);
    for (int i = 0; i < 8; ++i) {
        // mid-scale is 0 mV, 0 degrees; a table never falls
        EXPECT_EQ(tctbl[i][256], 5600) << kTcTypes[i];
        EXPECT_EQ(degrees(kTcTypes[i], 0.0), 0.0) << kTcTypes[i];
        for (int e = 1; e < kTcEntries; ++e)
            ASSERT_GE(tctbl[i][e], tctbl[i][e - 1]) << kTcTypes[i] << " entry " << e;
    }
}

// Printed values of the standard's tables (mV at a temperature).
TEST(Thermocouple, StandardReferenceValues) {
    const struct {
        char type;
        double deg, mv, tolerance;
    } points[] = {
        {'J', -100, -4.633, 0.25}, {'J', 100, 5.269, 0.25},   {'J', 200, 10.779, 0.25},
        {'J', 500, 27.393, 0.25},  {'J', 760, 42.919, 0.25},  {'J', 1000, 57.953, 0.25},
        {'K', -100, -3.554, 0.25}, {'K', 100, 4.096, 0.25},   {'K', 500, 20.644, 0.25},
        {'K', 1000, 41.276, 0.25}, {'K', 1372, 54.886, 2.0},  {'T', -200, -5.603, 0.25},
        {'T', -100, -3.379, 0.25}, {'T', 100, 4.279, 0.25},   {'T', 200, 9.288, 0.25},
        {'T', 400, 20.872, 0.25},  {'E', -100, -5.237, 0.25}, {'E', 100, 6.319, 0.25},
        {'E', 200, 13.421, 0.25},  {'E', 400, 28.946, 0.25},  {'N', -100, -2.407, 0.25},
        {'N', 100, 2.774, 0.25},   {'N', 500, 16.748, 0.25},  {'N', 800, 28.455, 0.25},
        {'R', 300, 2.401, 0.25},   {'R', 500, 4.471, 0.25},   {'R', 1000, 10.506, 0.25},
        {'R', 1500, 17.451, 0.25}, {'S', 300, 2.323, 0.25},   {'S', 500, 4.233, 0.25},
        {'S', 1000, 9.587, 0.25},  {'S', 1500, 15.582, 0.25}, {'B', 300, 0.431, 1.0},
        {'B', 500, 1.242, 0.25},   {'B', 1000, 4.834, 0.25},  {'B', 1500, 10.099, 0.25},
        {'B', 1820, 13.820, 3.0},
    };
    for (const auto &p : points)
        EXPECT_NEAR(degrees(p.type, p.mv), p.deg, p.tolerance) << p.type << " " << p.deg;
}

TEST(Thermocouple, BeyondTheRangeHoldsItsLimits) {
    const struct {
        char type;
        double mv, deg;
    } ends[] = {{'J', -20, -210}, {'K', -20, -270},  {'T', -20, -270}, {'T', 30, 400},
                {'R', -5, -50},   {'S', -5, -50},    {'E', -20, -270}, {'B', -1, -10},
                {'B', 30, 1820},  {'R', 100, 1768.1}};
    for (const auto &e : ends)
        EXPECT_NEAR(degrees(e.type, e.mv), e.deg, 0.05) << e.type << " " << e.mv;
    EXPECT_EQ(tc_table(0x7FFFFFFF, tctbl[index_of('K')]), 1372 * 20);
}

// A junction at tc degrees lowers the thermocouple's emf by the type's emf at
// tc; the junction term puts it back.
TEST(Thermocouple, ColdJunctionCompensation) {
    const struct {
        char type;
        double hot, hot_mv, cold_mv[3]; // junction at 10, 25 and 40 degrees
    } cases[] = {
        {'J', 500, 27.393, {0.507, 1.277, 2.059}}, {'R', 1000, 10.506, {0.054, 0.141, 0.232}},
        {'K', 500, 20.644, {0.397, 1.000, 1.612}}, {'T', 200, 9.288, {0.391, 0.992, 1.612}},
        {'S', 1000, 9.587, {0.055, 0.143, 0.235}}, {'E', 300, 21.036, {0.591, 1.495, 2.420}},
        {'N', 600, 20.613, {0.261, 0.659, 1.065}}, {'B', 1000, 4.834, {-0.002, -0.002, 0.000}},
    };
    const int junction[3] = {10, 25, 40};
    for (const auto &c : cases) {
        for (int j = 0; j < 3; ++j) {
            int32_t comp[8];
            cj_comp(junction[j] * 40, comp);
            const int32_t term = comp[index_of(c.type)];
            EXPECT_NEAR(degrees(c.type, c.hot_mv - c.cold_mv[j], term), c.hot, 0.6)
                << c.type << " junction " << junction[j];
            // without the term the reading is low (B has next to no emf there)
            if (c.type != 'B') {
                EXPECT_LT(degrees(c.type, c.hot_mv - c.cold_mv[j]), c.hot - 2) << c.type;
            }
        }
    }
}

} // namespace
