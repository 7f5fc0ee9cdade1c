// The flow instruction against a reference written here from the published
// volume-correction procedures (exponentials through exp, the temperature
// polynomial summed term by term, the base density found by bisection), and
// its operand handling in the ladder.
#include "ladder_fixture.h"
#include "plc/flow.h"

#include <bit>
#include <cmath>
#include <limits>
#include <string>

namespace {

// ---------------------------------------------------------------------------
// Reference.

constexpr double kDelta60 = 0.01374979547; // 60 F: IPTS-68 minus ITS-90, in F
constexpr double kT60 = 60.0068749;        // 60 F on the IPTS-68 scale

double ref_t68_f(double tf) {
    static const double a[] = {-0.148759, -0.267408, 1.080760, 1.269056,
                               -4.089591, -1.871251, 7.438081, -3.536296};
    double c = (tf - 32) * 5.0 / 9.0, tau = c / 630, d = 0, power = tau;
    for (double ai : a) {
        d += ai * power;
        power *= tau;
    }
    return (c - d) * 9.0 / 5.0 + 32;
}

struct K {
    double k0, k1, k2;
};
// Commodity groups of the standard (kg/m3 basis); the last is a special
// application with alpha60 given (as K2 alone).
constexpr K kCrude{341.0957, 0, 0}, kFuelOil{103.8720, 0.2701, 0}, kJet{330.3010, 0, 0},
    kTransition{1489.0670, 0, -0.00186840}, kGasoline{192.4571, 0.2438, 0}, kLube{0, 0.34878, 0},
    kSpecial{0, 0, 0.0005};

struct Ref {
    double ctl, fp, cpl, ctpl, alpha;
};
Ref ref_factors(double tf, double p, double rho, K k) {
    double ts = ref_t68_f(tf);
    double a = kDelta60 / 2 * (k.k0 / (rho * rho) + k.k1 / rho + k.k2);
    double b = (2 * k.k0 + k.k1 * rho) / (k.k0 + k.k1 * rho + k.k2 * rho * rho);
    double rs = rho * (1 + (std::exp(a + 0.8 * a * a) - 1) / (1 + a * b + 1.6 * a * a * b));
    double alpha = k.k0 / (rs * rs) + k.k1 / rs + k.k2;
    double dt = ts - kT60;
    Ref r;
    r.alpha = alpha;
    r.ctl = std::exp(-alpha * dt - 0.8 * alpha * alpha * dt * (dt + kDelta60));
    r.fp = std::exp(-1.9947 + 0.00013427 * ts + (793920 + 2326 * ts) / (rs * rs));
    r.cpl = 1 / (1 - 1e-5 * r.fp * p);
    r.ctpl = r.ctl * r.cpl;
    return r;
}

// The base density whose density at (t, p) is rho_obs, by bisection inside
// the base range; NaN when no root lies there.
double ref_base_bisect(double tf, double p, double rho_obs, K k) {
    auto g = [&](double r) { return r * ref_factors(tf, p, r, k).ctpl - rho_obs; };
    double lo = flow::kBaseMin, hi = flow::kBaseMax;
    if (g(lo) > 0 || g(hi) < 0) return std::nan("");
    for (int i = 0; i < 200; ++i) {
        double mid = (lo + hi) / 2;
        (g(mid) < 0 ? lo : hi) = mid;
    }
    return (lo + hi) / 2;
}

// The standard's iteration: rounds taken to converge, or 0 when it does not
// converge within 15 rounds or comes to rest outside the base range.
int ref_newton_rounds(double tf, double p, double rho_obs, K k) {
    double ts = ref_t68_f(tf), dt = ts - kT60;
    auto clamp = [](double r) { return std::min(std::max(r, flow::kBaseMin), flow::kBaseMax); };
    double r = clamp(rho_obs);
    for (int n = 1; n <= 15; ++n) {
        Ref f = ref_factors(tf, p, r, k);
        double dtm = 2 * f.alpha * dt * (1 + 1.6 * f.alpha * dt);
        double dpm = 2 * f.cpl * p * f.fp * (7.93920 + 0.02326 * ts) / (r * r);
        double step = (rho_obs / f.ctpl - r) / (1 + dtm + dpm);
        if (std::fabs(step) < 1e-6)
            return r + step >= flow::kBaseMin && r + step <= flow::kBaseMax ? n : 0;
        r = clamp(r + step);
    }
    return 0;
}

FlowCommodity commodity(K k) {
    if (k.k0 == 0 && k.k1 == 0) return {true, k.k2, 0, 0, 0};
    return {false, 0, k.k0, k.k1, k.k2};
}

::testing::AssertionResult near_rel(double got, double want, double rel) {
    if (std::fabs(got - want) <= rel * std::fabs(want) + 1e-300)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << got << " vs " << want;
}

// ---------------------------------------------------------------------------
// Ladder fixture: values at %R registers.

class FlowTest : public LadderTest {
protected:
    static uint8_t *at(int r) { return plc_reg + reg::kR + 2 * (r - 1); }
    static void put_lreal(int r, double v) { put_le64(at(r), std::bit_cast<uint64_t>(v)); }
    static double lreal(int r) { return std::bit_cast<double>(le64(at(r))); }
    static void put_real(int r, float v) { put_le32(at(r), std::bit_cast<uint32_t>(v)); }
    static float real(int r) { return std::bit_cast<float>(le32(at(r))); }
    // Runs one rung "LD %M1, <instr>, OUT %Q1" with %M1 = power; returns %Q1.
    int rung(const std::string &instr, int power = 1) {
        load("LD %M1\n" + instr + "\nOUT %Q1\nLD %M2\nOUT %Q2\nEND\n");
        set_bit("%M1", power);
        set_bit("%M2", 1);
        set_bit("%Q1", !power);
        EXPECT_EQ(scan(), kLadderScanDone) << instr;
        EXPECT_EQ(bit("%Q2"), 1) << "the rest of the program runs: " << instr;
        return bit("%Q1");
    }
    // Fills %R200.. with a marker that no result equals.
    static void mark_outputs() {
        for (int r = 200; r < 240; ++r)
            put_le16(at(r), 0x5A5A);
    }
    static bool outputs_untouched() {
        for (int r = 200; r < 240; ++r)
            if (le16(at(r)) != 0x5A5A) return false;
        return true;
    }
};

TEST_F(FlowTest, TemperatureOnTheOlderScale) {
    // 60 F (ITS-90) is the standard's 60.0068749 F on the IPTS-68 scale.
    put_lreal(100, 60.0);
    ASSERT_EQ(rung("FLOW 0, %R100, 1, 0, %R200"), 1);
    EXPECT_NEAR(lreal(204), 60.0068749, 1e-7);
    EXPECT_NEAR(lreal(200), (60.0068749 - 32) / 1.8, 1e-7);
    // Celsius input and REAL outputs, across the range.
    for (double c : {-50.0, 0.0, 25.0, 150.0}) {
        put_lreal(100, c);
        ASSERT_EQ(rung("FLOW 0, %R100, 0, 1, %R200"), 1);
        double f = ref_t68_f(c * 1.8 + 32);
        EXPECT_NEAR(real(202), float(f), 1e-4) << c;
        EXPECT_NEAR(real(200), float((f - 32) / 1.8), 1e-4) << c;
    }
}

TEST_F(FlowTest, CorrectionFactorsMatchTheReference) {
    struct Case {
        K k;
        double t, p, rho;
    };
    const Case cases[] = {
        {kCrude, 60, 0, 850},        {kCrude, 150, 500, 700}, {kCrude, -58, 1500, 1100},
        {kFuelOil, 302, 100, 950},   {kJet, 20, 0, 800},      {kTransition, 90, 250, 780},
        {kGasoline, 120, 1000, 700}, {kLube, 200, 50, 900},   {kSpecial, 250, 700, 1000},
    };
    for (const Case &c : cases) {
        // Input block: t, P, base density, observed volume, alpha60, K0..K2;
        // the values the commodity word does not select are not read.
        bool special = c.k.k0 == 0 && c.k.k1 == 0;
        const double unused = std::nan("");
        const double in[8] = {c.t,
                              c.p,
                              c.rho,
                              1000.0,
                              special ? c.k.k2 : unused,
                              special ? unused : c.k.k0,
                              special ? unused : c.k.k1,
                              special ? unused : c.k.k2};
        for (int i = 0; i < 8; ++i)
            put_lreal(100 + 4 * i, in[i]);
        std::string instr = "FLOW 1, 0, %R100, " + std::to_string(special ? 0 : 1) + ", 0, %R200";
        ASSERT_EQ(rung(instr), 1) << c.t;
        Ref r = ref_factors(c.t, c.p, c.rho, c.k);
        const double want[7] = {
            r.ctl, r.fp, r.cpl, r.ctpl, c.rho * r.ctpl, 1000.0 * double(float(r.ctpl)), r.alpha};
        for (int i = 0; i < 7; ++i)
            EXPECT_TRUE(near_rel(lreal(200 + 4 * i), want[i], 1e-11)) << c.t << " out " << i;
        if (c.t == 60 && c.p == 0) {
            EXPECT_NEAR(lreal(212), 1.0, 1e-9) << "no correction at 60 F";
        }

        // The same block as REALs, REAL outputs.
        for (int i = 0; i < 8; ++i)
            put_real(100 + 2 * i, float(in[i]));
        instr = "FLOW 1, 1, %R100, " + std::to_string(special ? 0 : 1) + ", 1, %R200";
        ASSERT_EQ(rung(instr), 1);
        Ref rf = ref_factors(float(c.t), float(c.p), float(c.rho),
                             {float(c.k.k0), float(c.k.k1), float(c.k.k2)});
        EXPECT_TRUE(near_rel(real(206), float(rf.ctpl), 1e-6)) << c.t;
        EXPECT_TRUE(near_rel(real(212), float(rf.alpha), 1e-6)) << c.t;
    }
}

// Inputs outside the limits (and inputs that would divide by zero or give a
// negative pressure factor) yield 0 and write nothing.
TEST_F(FlowTest, CorrectionFactorLimits) {
    struct Case {
        double t, p, rho;
        int ok;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Case cases[] = {
        {302.0, 0, 850, 1},
        {302.1, 0, 850, 0},
        {-58.0, 0, 850, 1},
        {-58.1, 0, 850, 0},
        {60, -1, 850, 0},
        {60, 0, 850, 1},
        {60, 1500, 850, 1},
        {60, 1500.1, 850, 0},
        {nan, 0, 850, 0},
        {60, nan, 850, 0},
        {60, 0, 0, 0},
        {60, 0, -850, 0},
        {60, 0, nan, 0},
        // The pressure factor would reach 1/P: no finite CPL.
        {302, 1500, 300, 0},
    };
    for (const Case &c : cases) {
        const double in[8] = {c.t, c.p, c.rho, 1.0, 0, kCrude.k0, 0, 0};
        for (int i = 0; i < 8; ++i)
            put_lreal(100 + 4 * i, in[i]);
        mark_outputs();
        EXPECT_EQ(rung("FLOW 1, 0, %R100, 1, 0, %R200"), c.ok) << c.t << " " << c.p << " " << c.rho;
        EXPECT_EQ(outputs_untouched(), !c.ok) << c.t << " " << c.p << " " << c.rho;
    }
}

// Base density from observed density over a grid of conditions: the same
// outcome as the reference iteration, and the root the bisection finds.
TEST_F(FlowTest, BaseDensityFromObservedDensity) {
    const K groups[] = {kCrude, kFuelOil, kGasoline, kLube, kSpecial};
    int converged = 0, refused = 0;
    for (K k : groups)
        for (double t : {-58.0, 0.0, 60.0, 150.0, 302.0})
            for (double p : {0.0, 500.0, 1500.0})
                for (double rho : {470.5, 600.0, 750.0, 900.0, 1100.0, 1201.8}) {
                    // Input block: t, P, observed density, alpha60, K0, K1, K2.
                    const double in[7] = {t, p, rho, k.k2, k.k0, k.k1, k.k2};
                    for (int i = 0; i < 7; ++i)
                        put_lreal(100 + 4 * i, in[i]);
                    bool special = k.k0 == 0 && k.k1 == 0;
                    mark_outputs();
                    std::string instr =
                        "FLOW 6, %R100, " + std::to_string(special ? 0 : 1) + ", %R200";
                    int rounds = ref_newton_rounds(t, p, rho, k);
                    std::string at = std::to_string(k.k0) + "/" + std::to_string(t) + "/" +
                                     std::to_string(p) + "/" + std::to_string(rho);
                    ASSERT_EQ(rung(instr), rounds > 0) << at;
                    if (rounds == 0) {
                        EXPECT_TRUE(outputs_untouched()) << at;
                        ++refused;
                        continue;
                    }
                    ++converged;
                    double root = ref_base_bisect(t, p, rho, k);
                    ASSERT_FALSE(std::isnan(root)) << at;
                    EXPECT_NEAR(lreal(200), root, 1e-5) << at;
                    Ref r = ref_factors(t, p, lreal(200), k);
                    const double want[5] = {r.ctl, r.fp, r.cpl, r.ctpl, r.alpha};
                    for (int i = 0; i < 5; ++i)
                        EXPECT_TRUE(near_rel(lreal(204 + 4 * i), want[i], 1e-10)) << at << " " << i;
                    EXPECT_NEAR(lreal(200) * lreal(216), rho, 1e-4) << at;
                }
    EXPECT_GT(converged, 200);
    EXPECT_GT(refused, 100) << "densities whose base lies outside the range";
}

TEST_F(FlowTest, BaseDensityLimitsAndIterationLimit) {
    FlowCommodity crude = commodity(kCrude);
    double rho60;
    FlowFactors f;
    struct Case {
        double t, p, rho;
        bool ok;
    };
    const Case cases[] = {
        {302.0, 0, 800, true},  {302.1, 0, 800, false}, {-58.0, 0, 800, true},
        {-58.1, 0, 800, false}, {60, -1, 800, false},   {60, 1500.1, 800, false},
        {60, 0, 470.4, false},  {60, 0, 1201.9, false}, {60, 0, std::nan(""), false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Flow_11_1_7_1(c.t, c.p, c.rho, crude, &rho60, &f), c.ok) << c.t << " " << c.rho;

    // A commodity whose expansion coefficient falls with the density more
    // slowly than the iteration's slope assumes (K1 alone) converges slowly:
    // at 302 F a steep one needs more than fifteen rounds although a base
    // density exists, and gives no result.
    const K steep{0, 2.0, 0}, mild{0, 1.0, 0};
    const double t = 302, p = 0;
    ASSERT_FALSE(std::isnan(ref_base_bisect(t, p, 600, steep)));
    ASSERT_EQ(ref_newton_rounds(t, p, 600, steep), 0);
    int rounds = 0;
    EXPECT_FALSE(Flow_11_1_7_1(t, p, 600, commodity(steep), &rho60, &f, &rounds));
    EXPECT_EQ(rounds, flow::kMaxRounds);
    // A milder one converges in the last round allowed.
    const double rho = 480;
    ASSERT_EQ(ref_newton_rounds(t, p, rho, mild), flow::kMaxRounds);
    EXPECT_TRUE(Flow_11_1_7_1(t, p, rho, commodity(mild), &rho60, &f, &rounds));
    EXPECT_EQ(rounds, flow::kMaxRounds);
    EXPECT_NEAR(rho60, ref_base_bisect(t, p, rho, mild), 1e-5);
}

TEST_F(FlowTest, ConversionsArithmeticAndRounding) {
    // LREAL to REAL and back.
    put_lreal(100, 1.5);
    ASSERT_EQ(rung("FLOW 2, %R100, %R200"), 1);
    EXPECT_EQ(real(200), 1.5f);
    put_real(100, -2.25f);
    ASSERT_EQ(rung("FLOW 3, %R100, %R200"), 1);
    EXPECT_EQ(lreal(200), -2.25);

    // Division and product, with REAL or LREAL on either side.
    put_lreal(100, 1.0);
    put_lreal(104, 4.0);
    ASSERT_EQ(rung("FLOW 4, %R100, 0, 0, %R200"), 1);
    EXPECT_EQ(lreal(200), 0.25);
    put_real(100, 3.0f);
    put_real(102, 2.5f);
    ASSERT_EQ(rung("FLOW 5, %R100, 1, 0, %R200"), 1);
    EXPECT_EQ(lreal(200), 7.5);
    ASSERT_EQ(rung("FLOW 4, %R100, 1, 1, %R200"), 1);
    EXPECT_EQ(real(200), 1.2f);

    // Failures write nothing: division by zero, a value beyond the REAL range.
    put_lreal(100, 1.0);
    put_lreal(104, 0.0);
    mark_outputs();
    EXPECT_EQ(rung("FLOW 4, %R100, 0, 0, %R200"), 0);
    put_lreal(100, 1e300);
    EXPECT_EQ(rung("FLOW 2, %R100, %R200"), 0);
    put_lreal(104, 1e300);
    EXPECT_EQ(rung("FLOW 5, %R100, 0, 1, %R200"), 0);
    EXPECT_TRUE(outputs_untouched());

    // Rounding: thousandths above 500 round up, exactly one half down.
    struct Round {
        double v;
        int n;
        float want;
    };
    const Round rounds[] = {
        {2.5, 0, 2.0f},     {2.502, 0, 3.0f},         {-2.5, 0, -3.0f}, {1.23456, 2, 1.23f},
        {1.2351, 2, 1.24f}, {1234.5678, -2, 1200.0f}, {0.0, 3, 0.0f},
    };
    for (const Round &r : rounds) {
        put_lreal(100, r.v);
        ASSERT_EQ(rung("FLOW 7, %R100, " + std::to_string(r.n) + ", %R200"), 1) << r.v;
        EXPECT_EQ(real(200), r.want) << r.v << " to " << r.n;
    }
    mark_outputs();
    put_lreal(100, std::nan(""));
    EXPECT_EQ(rung("FLOW 7, %R100, 2, %R200"), 0);
    put_lreal(100, 1.0);
    EXPECT_EQ(rung("FLOW 7, %R100, 400, %R200"), 0) << "10^400 is no number";
    EXPECT_TRUE(outputs_untouched());
}

// With the power flow off every operation reads its operands (the rest of
// the program runs) and changes nothing; the rung stays off.
TEST_F(FlowTest, PowerOffSkipsOperandsAndStaysOff) {
    const char *instrs[] = {
        "FLOW 0, %R100, 1, 0, %R200", "FLOW 1, 0, %R100, 1, 0, %R200", "FLOW 2, %R100, %R200",
        "FLOW 3, %R100, %R200",       "FLOW 4, %R100, 0, 0, %R200",    "FLOW 5, %R100, 0, 0, %R200",
        "FLOW 6, %R140, 1, %R200",    "FLOW 7, %R100, 2, %R200",
    };
    // Operations 0 to 5 and 7 read %R100.., operation 6 %R140.. (t, P,
    // observed density, alpha60, K0, K1, K2).
    const double in[8] = {100, 50, 850, 1, 0, kCrude.k0, 0, 0};
    const double observed[7] = {100, 50, 850, 0, kCrude.k0, 0, 0};
    for (const char *instr : instrs) {
        for (int i = 0; i < 8; ++i)
            put_lreal(100 + 4 * i, in[i]);
        for (int i = 0; i < 7; ++i)
            put_lreal(140 + 4 * i, observed[i]);
        mark_outputs();
        EXPECT_EQ(rung(instr, 0), 0) << instr;
        EXPECT_TRUE(outputs_untouched()) << instr;
        // With power the same operands are all used, and the rest still runs.
        EXPECT_EQ(rung(instr, 1), 1) << instr;
    }
    // 16-bit tokens, with an escape word for the output (%R3000).
    uint32_t out = ref("%R3000");
    ASSERT_GE(out, 0x10000u);
    load(".tokens 16\nLD %M1\nFLOW 2, %R100\n.word 0x06F0, " + std::to_string(out - 0x10000) +
         "\nOUT %Q1\nLD %M2\nOUT %Q2\nEND\n");
    set_bit("%M1", 1);
    set_bit("%M2", 1);
    put_lreal(100, 0.5);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(bit("%Q1"), 1);
    EXPECT_EQ(bit("%Q2"), 1);
    EXPECT_EQ(real(3000), 0.5f);

    // An operation beyond the table drops the power flow.
    EXPECT_EQ(rung("FLOW 8"), 0);
    // A block that leaves its register area stops the scan.
    load("LD %M1\nFLOW 6, %R140, 1, %ESR250\nOUT %Q1\nEND\n");
    set_bit("%M1", 1);
    EXPECT_NE(scan(), kLadderScanDone);
}

} // namespace
