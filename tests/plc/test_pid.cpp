// PID loop on the virtual clock: plant simulations, limits and anti-windup,
// pulse output, relay auto-tune, and the ladder instructions around it.
#include "host/clock.h"
#include "ladder_fixture.h"
#include "plc/pid.h"

#include <cmath>
#include <cstdlib>
#include <deque>

namespace {

constexpr uint32_t kSecond = 10000; // ticks

struct Loop {
    uint16_t b[pidw::Count] = {};
    PidCall c{0, 0, 0, 0};
    Loop() {
        b[pidw::OutHigh] = 10000;
        b[pidw::OutLow] = uint16_t(int16_t(-10000));
        b[pidw::DeadHigh] = 0;
        b[pidw::DeadLow] = 0;
        b[pidw::Gain] = 100;
        b[pidw::Sample] = 10;
    }
    uint16_t init(uint32_t now) {
        c.now = now;
        b[pidw::Control] |= pidc::Init;
        uint16_t r = fbk_pid(&c, b);
        b[pidw::Control] &= uint16_t(~pidc::Init);
        return r;
    }
    uint16_t step(uint32_t now, int pv) {
        c.now = now;
        b[pidw::Pv] = uint16_t(int16_t(pv));
        return fbk_pid(&c, b);
    }
    int out() const { return int16_t(b[pidw::Output]); }
};

// First-order plant with dead time: tau dy/dt = u - y, the input delayed.
struct Plant {
    double y = 0, tau_s, dead_s;
    std::deque<double> line;
    Plant(double tau, double dead, double dt) : tau_s(tau), dead_s(dead) {
        line.assign(size_t(dead / dt), 0.0);
    }
    int step(double u, double dt) {
        line.push_back(u);
        double v = line.front();
        line.pop_front();
        y += (v - y) * dt / tau_s;
        return int(std::lround(y));
    }
};

class PidTest : public LadderTest {};

TEST_F(PidTest, FirstOrderPlantSettlesInEveryForm) {
    struct Case {
        const char *name;
        uint16_t control;
        int16_t deriv;
    } cases[] = {
        {"independent", 0, 0},
        {"dependent", pidc::Dependent, 0},
        {"independent, derivative on error", 0, 50},
        {"dependent, derivative on PV", pidc::Dependent | pidc::DerivPv, -50},
    };
    for (const Case &k : cases) {
        Pid_Reset();
        Loop l;
        l.b[pidw::Control] = k.control;
        l.b[pidw::Integral] = 400; // 0.2 per second
        l.b[pidw::Deriv] = uint16_t(k.deriv);
        l.b[pidw::OutLow] = 0;
        l.b[pidw::Setpoint] = 5000;
        Plant p(5.0, 1.0, 0.1);
        uint32_t t = 1000;
        l.init(t);
        int pv = 0, worst_after_40s = 0;
        for (int i = 1; i <= 900; ++i) { // 90 s
            t += kSecond / 10;
            ASSERT_EQ(l.step(t, pv), 0) << k.name;
            pv = p.step(l.out(), 0.1);
            if (i >= 400) worst_after_40s = std::max(worst_after_40s, std::abs(pv - 5000));
        }
        EXPECT_LT(worst_after_40s, 100) << k.name;
    }
}

TEST_F(PidTest, DeadbandEdgesWithAndWithoutOffset) {
    struct Case {
        int e;
        bool offset;
        int out;
    } cases[] = {{50, false, 0},    {99, false, 0},      {100, false, 100},
                 {150, false, 150}, {-100, false, -100}, {100, true, 0},
                 {150, true, 50},   {-150, true, -50},   {-99, true, 0}};
    for (const Case &k : cases) {
        Pid_Reset();
        Loop l;
        l.b[pidw::DeadHigh] = 100;
        l.b[pidw::DeadLow] = uint16_t(int16_t(-100));
        l.b[pidw::Control] = k.offset ? pidc::DeadOffset : 0;
        l.b[pidw::Setpoint] = 1000;
        l.init(0);
        EXPECT_EQ(l.step(kSecond, 1000 - k.e), 0);
        EXPECT_EQ(l.out(), k.out) << "e " << k.e << " offset " << k.offset;
    }
}

TEST_F(PidTest, BadLimitsAndSamplePeriods) {
    Loop l;
    l.b[pidw::DeadHigh] = uint16_t(int16_t(-1));
    EXPECT_EQ(l.step(kSecond, 0), 2);
    l.b[pidw::DeadHigh] = 0;
    l.b[pidw::OutHigh] = uint16_t(int16_t(-10001));
    EXPECT_EQ(l.step(kSecond, 0), 3);
    l.b[pidw::Control] = pidc::Pulse;
    EXPECT_EQ(l.step(kSecond, 0), 1);
    PidCall bad{0, 64, 0, 0};
    EXPECT_EQ(fbk_pid(&bad, l.b), 1);
    // Manual increments count the samples that ran: sample 0 runs every
    // 10 ms at least, sample 50 every 0.5 s.
    for (uint16_t sample : {0, 50}) {
        Pid_Reset();
        Loop m;
        m.b[pidw::Sample] = sample;
        m.b[pidw::Control] = pidc::Manual | pidc::Inc;
        m.init(0);
        for (uint32_t t = 50; t <= 2 * kSecond; t += 50)
            m.step(t, 0);
        EXPECT_EQ(int16_t(m.b[pidw::Manual]), sample == 0 ? 200 : 4) << sample;
    }
}

TEST_F(PidTest, AntiWindupBackCalculatesOrFreezes) {
    // Output limited at 500 while the error is 1000, then the error turns to
    // -100. Back-calculation restarts from half the needed term (r = 500 -
    // 1000, accumulator 500 x r, read back / 1000): the output leaves the
    // limit at once at -100 - 250. Freezing keeps the pre-limit integral.
    for (bool freeze : {false, true}) {
        Pid_Reset();
        Loop l;
        l.b[pidw::Integral] = 2;
        l.b[pidw::OutHigh] = 500;
        l.b[pidw::OutLow] = uint16_t(int16_t(-1000));
        l.b[pidw::Control] = freeze ? pidc::Freeze : 0;
        l.b[pidw::Setpoint] = 1000;
        l.init(0);
        l.step(kSecond / 10, 0);
        EXPECT_EQ(l.out(), 500);
        l.step(2 * kSecond / 10, 0);
        EXPECT_EQ(l.out(), 500);
        l.step(3 * kSecond / 10, 1100);
        EXPECT_EQ(l.out(), freeze ? -100 : -350) << freeze;
    }
}

TEST_F(PidTest, ManualAndAutomaticTransfer) {
    Loop l;
    l.b[pidw::Integral] = 2;
    l.b[pidw::Setpoint] = 1100;
    l.init(0);
    l.step(kSecond, 1000);
    EXPECT_EQ(l.out(), 100); // P 100, integral below one count
    EXPECT_EQ(int16_t(l.b[pidw::Manual]), 100) << "manual output follows in automatic";
    l.b[pidw::Manual] = 2000;
    l.b[pidw::Control] = pidc::Manual | pidc::Inc;
    l.step(2 * kSecond, 1000);
    EXPECT_EQ(l.out(), 2001);
    l.b[pidw::Control] = 0;
    l.step(3 * kSecond, 1000);
    // The integral is back-calculated in manual mode to half the term the
    // manual output needed: P 100 + (2001 - 100) / 2.
    EXPECT_EQ(l.out(), 1050);
}

TEST_F(PidTest, PulseOutputFiftyPercentTenSecondCycle) {
    struct Case {
        int manual;
        int on_ms, off_ms; // expected phase lengths, 0: never changes
        int level;         // for constant outputs: 0 on, 1 off
    } cases[] = {{500, 5000, 5000, -1}, {0, 0, 0, 1}, {1000, 0, 0, 0}};
    for (const Case &k : cases) {
        Pid_Reset();
        Loop l;
        l.b[pidw::Sample] = 0;
        l.b[pidw::OutHigh] = 1000;
        l.b[pidw::OutLow] = 0;
        l.b[pidw::Cycle] = 10;
        l.b[pidw::Manual] = uint16_t(k.manual);
        l.b[pidw::Control] = pidc::Pulse | pidc::Manual;
        l.init(0);
        int last = -1;
        uint32_t since = 0;
        std::vector<std::pair<int, uint32_t>> phases;
        for (uint32_t t = 100; t <= 40 * kSecond; t += 100) {
            int r = l.step(t, 0);
            if (k.level >= 0) {
                ASSERT_EQ(r, k.level) << k.manual << " at " << t;
                continue;
            }
            if (r != last) {
                if (last >= 0) phases.emplace_back(last, t - since);
                last = r;
                since = t;
            }
        }
        if (k.level >= 0) continue;
        ASSERT_GE(phases.size(), 6u);
        for (size_t i = 1; i < phases.size(); ++i) { // the first phase is partial
            int want = phases[i].first == 0 ? k.on_ms : k.off_ms;
            EXPECT_NEAR(double(phases[i].second) / 10, want, 30) << "phase " << i;
        }
    }
}

TEST_F(PidTest, RelayAutoTuneOnIntegratorWithDeadTime) {
    // Integrating plant, slope 0.1 x (u - 5000) per second, dead time 2 s,
    // relay 0..10000 and hysteresis 25: period 4 x (25 / 500 + 2) = 8.2 s,
    // peak to peak 2 x (25 + 1000) = 2050.
    Loop l;
    l.b[pidw::OutLow] = 0;
    l.b[pidw::Integral] = 9;
    l.b[pidw::Setpoint] = 5000;
    l.c.tune_mode = 2;
    l.init(0);
    const double dt = 0.1;
    std::deque<int> line(20, 5000);
    double y = 5000;
    uint32_t t = 0;
    for (int i = 0; i < 1200 && !(l.c.tune_mode & 1); ++i) {
        t += kSecond / 10;
        l.step(t, int(std::lround(y)));
        line.push_back(int16_t(l.b[pidw::Manual]));
        y += 0.1 * (line.front() - 5000) * dt;
        line.pop_front();
    }
    ASSERT_EQ(Pid_TuneState(0), 7);
    ASSERT_TRUE(l.c.tune_mode & 1);
    double p2 = 2 * 8.2 * kSecond, a2 = 2 * 2050.0;
    double base = 9040.0 * 10000 / 71 / a2;
    double gain = 10 * base / 17;
    double integral = 20000000 / p2 * gain / 100;
    double deriv = p2 / 800 * gain / 100;
    EXPECT_NEAR(int16_t(l.b[pidw::Gain]), gain, gain * 0.06);
    EXPECT_NEAR(l.b[pidw::Integral], integral, integral * 0.08);
    EXPECT_NEAR(int16_t(l.b[pidw::Deriv]), deriv, deriv * 0.08);
    // Dropping the request ends the tune and clears the complete bit.
    l.c.tune_mode = 0;
    l.step(t + kSecond, 5000);
    EXPECT_EQ(Pid_TuneState(0), 0);
    EXPECT_FALSE(l.c.tune_mode & 1);
}

// The ladder instructions: block at %R100, set point %R20, PV %R21,
// output %R22.
TEST_F(PidTest, LadderInstructionDecodesAndGuardsItsBlock) {
    const char *body = "LD %M1\nPID 0, %R100, %R20, %R21, %M2, %M3, %M4, %R22\nOUT %Q1\nEND\n";
    load(body);
    set_bit("%M1", 1);
    set_word("%R20", 1000);
    set_word("%R21", 900);
    set_word("%R103", 100); // gain
    set_word("%R107", 10000);
    set_word("%R100", 0);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(bit("%Q1"), 0) << "first scan initialises";
    EXPECT_TRUE(word("%R110") & pidc::Enabled);
    host::clock_advance_ns(20'000'000);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(bit("%Q1"), 1);
    EXPECT_EQ(word("%R22"), 100);
    EXPECT_EQ(word("%R112"), 1000);
    EXPECT_EQ(word("%R113"), 900);
    // Held: the set point register is not read, the PV is.
    set_word("%R110", pidc::Hold);
    set_word("%R20", 3000);
    set_word("%R21", 800);
    host::clock_advance_ns(20'000'000);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(word("%R112"), 1000);
    EXPECT_EQ(word("%R22"), 200);
    // Without power flow nothing moves.
    set_bit("%M1", 0);
    set_word("%R21", 0);
    host::clock_advance_ns(20'000'000);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(word("%R22"), 200);
    EXPECT_EQ(word("%R113"), 800);
    // The pointer form refuses a block that leaves the register image.
    load("LD %M1\nPIDPT 1, %R50, %R20, %R21, %M2, %M3, %M4, %M5, 0, %R22, %M6\nOUT %Q1\nEND\n");
    set_bit("%M1", 1);
    set_word("%R50", uint16_t(reg::kImageSize - 30));
    set_word("%R51", uint16_t((reg::kImageSize - 30) >> 16));
    set_word("%R22", 77);
    ASSERT_EQ(scan(), kLadderScanDone);
    EXPECT_EQ(bit("%Q1"), 0);
    EXPECT_EQ(word("%R22"), 77);
}

} // namespace

namespace {

// The tuning forms: the request input gives bit 1 of the tune mode, the mode
// word's low byte is ORed over it, and its high byte holds the options.
TEST_F(PidTest, TuneModeWordAndRequestInput) {
    struct Case {
        int request;
        uint16_t word;
        bool tunes;
    };
    const Case cases[] = {
        {0, 0x0000, false}, {1, 0x0000, true},
        {0, 0x0002, true},  {0, 0x0200, false}, // bit 1 of the options (rule row), not the request
        {1, 0x6A00, true},
    };
    for (const Case &c : cases) {
        Pid_Reset();
        load("LD %M1\nPIDT 3, %R100, %R20, %R21, %M2, %M3, %M4, %M5, " + std::to_string(c.word) +
             ", %R22, %M6\nEND\n");
        set_bit("%M1", 1);
        set_bit("%M5", c.request);
        set_word("%R20", 1000);
        set_word("%R21", 0);
        set_word("%R103", 100);
        set_word("%R107", 10000);
        ASSERT_EQ(scan(), kLadderScanDone); // first scan: initialise
        host::clock_advance_ns(20'000'000);
        ASSERT_EQ(scan(), kLadderScanDone);
        EXPECT_EQ(Pid_TuneState(3) != 0, c.tunes) << c.request << " " << c.word;
    }
}

} // namespace
